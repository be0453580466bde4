// The loop under the UTF-8 comparisons: steps through both texts one code point at
// a time, optionally upper-cases both code points, and orders them like wide
// characters. Callers use Utf8StringExactCompare.h and
// Utf8StringCaseInsensitiveCompare.h.
//
// Stateless; thread-safe.
#ifndef QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_
#define QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_

#include "qel/osdep/CharacterAttributes.h"

namespace vo::qel::osdep {

// Returns the order (CompareWChars) of the first differing code points, or, when one
// range is exhausted, the bytes left on the left minus the bytes left on the right.
// Malformed UTF-8 throws InvalidSequence; a byte difference that does not fit an int
// throws OutOfRange.
// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd;
//           uppercaseConverter not null when caseInsensitive.
int Utf8StringCompareInternal(const unsigned char* lhs, const unsigned char* lhsEnd,
                              const unsigned char* rhs, const unsigned char* rhsEnd,
                              bool caseInsensitive,
                              const CharacterAttributes<wchar_t>* uppercaseConverter);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_
