// Exact three-way comparison of UTF-8 text, code point by code point, the ordering
// of Utf8String::exactCompare. The sign orders the left text against the right;
// when one text is a prefix of the other the result is the difference of the
// remaining byte counts, so "a" followed by U+00E9 against "a" is 2.
//
// Stateless; thread-safe. Malformed UTF-8 throws InvalidSequence.
#ifndef QEL_OSDEP_UTF8STRINGEXACTCOMPARE_H_
#define QEL_OSDEP_UTF8STRINGEXACTCOMPARE_H_

namespace vo::qel::osdep {

// Zero-terminated texts; a null pointer is the empty text.
int Utf8StringExactCompare(const unsigned char* lhs, const unsigned char* rhs);

// Half-open ranges, zero bytes included.
// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd.
int Utf8StringExactCompare(const unsigned char* lhs, const unsigned char* lhsEnd,
                           const unsigned char* rhs, const unsigned char* rhsEnd);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_UTF8STRINGEXACTCOMPARE_H_
