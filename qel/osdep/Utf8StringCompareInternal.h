// The loop under every UTF-8 comparison: steps through both texts one unit at a
// time, optionally upper-cases both code points, and orders them like wide
// characters. A unit is a character, or a single byte that starts no valid sequence
// where it stands; such a byte sorts after every character, two of them by value.
// Callers use Utf8StringExactCompare.h and Utf8StringCaseInsensitiveCompare.h, which
// throw for malformed text, or Utf8String's comparisons, which order it.
//
// Stateless; thread-safe.
#ifndef QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_
#define QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_

#include <cstddef>

#include "qel/osdep/CharacterAttributes.h"

namespace vo::qel::osdep {

struct Utf8Order {
  // The order (CompareWChars) of the first differing units, or, when one range is
  // exhausted, the bytes left on the left minus the bytes left on the right.
  ptrdiff_t order;
  // A byte that starts no valid sequence was compared before the order was found.
  bool malformed;
};

// Compares [lhs, lhsEnd) with [rhs, rhsEnd), upper-casing characters through
// `uppercaseConverter` when it is not null. Never throws.
// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd.
Utf8Order CompareUtf8Units(const unsigned char* lhs, const unsigned char* lhsEnd,
                           const unsigned char* rhs, const unsigned char* rhsEnd,
                           const CharacterAttributes<wchar_t>* uppercaseConverter) noexcept;

// The order of CompareUtf8Units, as an int. Malformed UTF-8 throws InvalidSequence;
// a byte difference that does not fit an int throws OutOfRange.
// REQUIRES: as CompareUtf8Units; uppercaseConverter not null when caseInsensitive.
int Utf8StringCompareInternal(const unsigned char* lhs, const unsigned char* lhsEnd,
                              const unsigned char* rhs, const unsigned char* rhsEnd,
                              bool caseInsensitive,
                              const CharacterAttributes<wchar_t>* uppercaseConverter);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_UTF8STRINGCOMPAREINTERNAL_H_
