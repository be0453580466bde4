#include "qel/osdep/Utf8StringCaseInsensitiveCompare.h"

#include <cstring>

#include "qel/osdep/CharacterAttributes.h"
#include "qel/osdep/Utf8StringCompareInternal.h"

namespace vo::qel::osdep {

int Utf8StringCaseInsensitiveCompare(const unsigned char* lhs, const unsigned char* rhs) {
  static const unsigned char kEmpty[1] = {0};
  if (lhs == nullptr) lhs = kEmpty;
  if (rhs == nullptr) rhs = kEmpty;
  return Utf8StringCaseInsensitiveCompare(
      lhs, lhs + std::strlen(reinterpret_cast<const char*>(lhs)), rhs,
      rhs + std::strlen(reinterpret_cast<const char*>(rhs)));
}

int Utf8StringCaseInsensitiveCompare(const unsigned char* lhs, const unsigned char* lhsEnd,
                                     const unsigned char* rhs, const unsigned char* rhsEnd) {
  const CharacterAttributes<wchar_t> uppercaseConverter;
  return Utf8StringCompareInternal(lhs, lhsEnd, rhs, rhsEnd, true, &uppercaseConverter);
}

}  // namespace vo::qel::osdep
