// Exact three-way comparison of narrow and wide text: element by element, with
// regard to case. The result's sign orders the left text against the right
// (negative: left sorts first); callers rely on the sign only.
//
// Stateless; thread-safe.
//
// 1. The two-pointer forms take zero-terminated text; a null pointer is the empty text.
// 2. The four-pointer forms take half-open ranges and do not stop at a zero element.
//    When one range is a prefix of the other the result is the difference of the
//    remaining lengths (left minus right), so "abc" against "ab" is 1.
#ifndef QEL_OSDEP_STRINGEXACTCOMPARE_H_
#define QEL_OSDEP_STRINGEXACTCOMPARE_H_

namespace vo::qel::osdep {

// The order of two wide characters as wcsncmp gives it for one-element texts:
// -1, 0 or 1 as `a` is below, equal to or above `b`.
inline int CompareWChars(wchar_t a, wchar_t b) noexcept { return (a > b) - (a < b); }

int StringExactCompare(const char* lhs, const char* rhs) noexcept;
int StringExactCompare(const wchar_t* lhs, const wchar_t* rhs) noexcept;

// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd.
// REQUIRES: the remaining-length difference fits an int.
int StringExactCompare(const char* lhs, const char* lhsEnd, const char* rhs, const char* rhsEnd);
int StringExactCompare(const wchar_t* lhs, const wchar_t* lhsEnd, const wchar_t* rhs,
                       const wchar_t* rhsEnd);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_STRINGEXACTCOMPARE_H_
