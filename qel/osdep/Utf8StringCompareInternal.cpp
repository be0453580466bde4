#include "qel/osdep/Utf8StringCompareInternal.h"

#include "qel/NumericCast.h"
#include "qel/Utf8ToWide.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/CompareRangeCheck.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/StringExactCompare.h"

namespace vo::qel::osdep {
namespace {

const char* const kFile = "osdep/Utf8StringCompareInternal";

// One unit from `p`: a character, or a byte that starts no valid sequence where it
// stands. ASCII, the common case, goes without a call into the decoder.
struct Unit {
  bool character;
  wchar_t value;  // the code point, or the byte
};

inline bool NeverStartsASequence(unsigned char byte) noexcept {
  return (byte >= 0x80 && byte <= 0xC1) || byte >= 0xFE;
}

inline Unit Next(const unsigned char*& p, const unsigned char* end) noexcept {
  if (*p < 0x80) return {true, wchar_t(*p++)};
  if (!NeverStartsASequence(*p)) {
    try {
      wchar_t c = 0;
      p = ConvertNextUtf8Character(p, end, c);
      return {true, c};
    } catch (const exception::InvalidSequence&) {
      // An overlong or cut sequence: its lead byte stands alone.
    }
  }
  return {false, wchar_t(*p++)};
}

}  // namespace

Utf8Order CompareUtf8Units(const unsigned char* lhs, const unsigned char* lhsEnd,
                           const unsigned char* rhs, const unsigned char* rhsEnd,
                           const CharacterAttributes<wchar_t>* uppercaseConverter) noexcept {
  bool malformed = false;
  while (lhs < lhsEnd && rhs < rhsEnd) {
    Unit l = Next(lhs, lhsEnd);
    Unit r = Next(rhs, rhsEnd);
    malformed = malformed || !l.character || !r.character;
    if (l.character != r.character) return {l.character ? -1 : 1, malformed};
    if (l.character && uppercaseConverter != nullptr) {
      l.value = uppercaseConverter->toUpper(l.value);
      r.value = uppercaseConverter->toUpper(r.value);
    }
    const int order = CompareWChars(l.value, r.value);
    if (order != 0) return {order, malformed};
  }
  // The tail is counted in bytes, not characters.
  return {(lhsEnd - lhs) - (rhsEnd - rhs), malformed};
}

int Utf8StringCompareInternal(const unsigned char* lhs, const unsigned char* lhsEnd,
                              const unsigned char* rhs, const unsigned char* rhsEnd,
                              bool caseInsensitive,
                              const CharacterAttributes<wchar_t>* uppercaseConverter) {
  detail::CheckCompareRanges(lhs, lhsEnd, rhs, rhsEnd, kFile, __LINE__);
  if (caseInsensitive && uppercaseConverter == nullptr) {
    OutputAssertion("!caseInsensitive || (0 != uppercaseConverter)", "", kFile, __LINE__);
  }
  const Utf8Order result =
      CompareUtf8Units(lhs, lhsEnd, rhs, rhsEnd, caseInsensitive ? uppercaseConverter : nullptr);
  if (result.malformed) {
    throw AddFileAndLineInfo(exception::InvalidSequence(), kFile, __LINE__);
  }
  return NumericCast<int>(result.order);
}

}  // namespace vo::qel::osdep
