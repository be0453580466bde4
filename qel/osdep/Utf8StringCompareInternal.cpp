#include "qel/osdep/Utf8StringCompareInternal.h"

#include "qel/NumericCast.h"
#include "qel/Utf8ToWide.h"
#include "qel/osdep/CompareRangeCheck.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/StringExactCompare.h"

namespace vo::qel::osdep {
namespace {

const char* const kFile = "osdep/Utf8StringCompareInternal";

// One code point from `p`; ASCII, the common case, without a call into the decoder.
inline const unsigned char* Next(const unsigned char* p, const unsigned char* end, wchar_t& c) {
  if (*p < 0x80) {
    c = static_cast<wchar_t>(*p);
    return p + 1;
  }
  return ConvertNextUtf8Character(p, end, c);
}

}  // namespace

int Utf8StringCompareInternal(const unsigned char* lhs, const unsigned char* lhsEnd,
                              const unsigned char* rhs, const unsigned char* rhsEnd,
                              bool caseInsensitive,
                              const CharacterAttributes<wchar_t>* uppercaseConverter) {
  detail::CheckCompareRanges(lhs, lhsEnd, rhs, rhsEnd, kFile, __LINE__);
  if (caseInsensitive && uppercaseConverter == nullptr) {
    OutputAssertion("!caseInsensitive || (0 != uppercaseConverter)", "", kFile, __LINE__);
    caseInsensitive = false;
  }
  while (lhs < lhsEnd && rhs < rhsEnd) {
    wchar_t l;
    wchar_t r;
    lhs = Next(lhs, lhsEnd, l);
    rhs = Next(rhs, rhsEnd, r);
    if (caseInsensitive) {
      l = uppercaseConverter->toUpper(l);
      r = uppercaseConverter->toUpper(r);
    }
    const int order = CompareWChars(l, r);
    if (order != 0) return order;
  }
  // The tail is counted in bytes, not characters.
  return NumericCast<int>((lhsEnd - lhs) - (rhsEnd - rhs));
}

}  // namespace vo::qel::osdep
