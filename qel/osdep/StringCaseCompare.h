// Case-insensitive three-way comparison of narrow and wide text, the ordering of the
// string kinds' relational operators. Both sides are upper-cased element by element
// with the C library's toupper/towupper, so they follow the process-wide locale of
// the C character functions (the "C" locale unless the process changes it, in which
// only a-z change).
//
// Stateless; thread-safe (as far as the process locale is not changed meanwhile).
//
// 1. Narrow bytes are upper-cased and subtracted as signed values: bytes 0x80-0xFF
//    count as negative numbers, are never case-mapped (in any locale) and sort
//    below every byte 0x01-0x7F. The narrow result is the difference of the first
//    differing upper-cased pair, so "ab" against "abc" is 0 - 'C' = -67.
// 2. Wide elements are ordered like wcsncmp of one element (-1, 0 or 1).
// 3. The two-pointer forms take zero-terminated text; a null pointer is the empty
//    text. The four-pointer forms take half-open ranges, do not stop at a zero
//    element, and return the difference of the remaining lengths when one range is
//    a prefix of the other.
#ifndef QEL_OSDEP_STRINGCASECOMPARE_H_
#define QEL_OSDEP_STRINGCASECOMPARE_H_

namespace vo::qel::osdep {

int StringCaseCompare(const char* lhs, const char* rhs) noexcept;
int StringCaseCompare(const wchar_t* lhs, const wchar_t* rhs) noexcept;

// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd.
// REQUIRES: the remaining-length difference fits an int.
int StringCaseCompare(const char* lhs, const char* lhsEnd, const char* rhs, const char* rhsEnd);
int StringCaseCompare(const wchar_t* lhs, const wchar_t* lhsEnd, const wchar_t* rhs,
                      const wchar_t* rhsEnd);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_STRINGCASECOMPARE_H_
