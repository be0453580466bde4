#include "qel/osdep/Utf8StringExactCompare.h"

#include <cstring>

#include "qel/osdep/Utf8StringCompareInternal.h"

namespace vo::qel::osdep {

int Utf8StringExactCompare(const unsigned char* lhs, const unsigned char* rhs) {
  static const unsigned char kEmpty[1] = {0};
  if (lhs == nullptr) lhs = kEmpty;
  if (rhs == nullptr) rhs = kEmpty;
  return Utf8StringExactCompare(lhs, lhs + std::strlen(reinterpret_cast<const char*>(lhs)), rhs,
                                rhs + std::strlen(reinterpret_cast<const char*>(rhs)));
}

int Utf8StringExactCompare(const unsigned char* lhs, const unsigned char* lhsEnd,
                           const unsigned char* rhs, const unsigned char* rhsEnd) {
  return Utf8StringCompareInternal(lhs, lhsEnd, rhs, rhsEnd, false, nullptr);
}

}  // namespace vo::qel::osdep
