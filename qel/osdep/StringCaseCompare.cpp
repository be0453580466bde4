#include "qel/osdep/StringCaseCompare.h"

#include <cctype>
#include <cwctype>

#include "qel/NumericCast.h"
#include "qel/osdep/CompareRangeCheck.h"
#include "qel/osdep/StringExactCompare.h"

namespace vo::qel::osdep {
namespace {

const char* const kFile = "osdep/StringCaseCompare";

// Bytes are upper-cased as signed values, so 0x80-0xFF are negative numbers that
// come back unchanged and sort below every byte 0x01-0x7F, in every locale. glibc's
// toupper would map -128..-1 like 128..255, so those bytes do not go through it.
inline int Upper(char c) noexcept {
  const int value = static_cast<signed char>(c);
  return value < 0 ? value : std::toupper(value);
}
inline wchar_t Upper(wchar_t c) noexcept {
  return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

inline int Difference(int a, int b) noexcept { return a - b; }
inline int Difference(wchar_t a, wchar_t b) noexcept { return CompareWChars(a, b); }

template <class CharT>
int CompareRanges(const CharT* lhs, const CharT* lhsEnd, const CharT* rhs, const CharT* rhsEnd) {
  detail::CheckCompareRanges(lhs, lhsEnd, rhs, rhsEnd, kFile, __LINE__);
  for (; lhs < lhsEnd && rhs < rhsEnd; ++lhs, ++rhs) {
    const auto l = Upper(*lhs);
    const auto r = Upper(*rhs);
    if (l != r) return Difference(l, r);
  }
  return NumericCast<int>((lhsEnd - lhs) - (rhsEnd - rhs));
}

}  // namespace

int StringCaseCompare(const char* lhs, const char* rhs) noexcept {
  if (lhs == nullptr) lhs = "";
  if (rhs == nullptr) rhs = "";
  for (; *lhs != '\0' && *rhs != '\0'; ++lhs, ++rhs) {
    const int l = Upper(*lhs);
    const int r = Upper(*rhs);
    if (l != r) return l - r;
  }
  // One side is at its terminator, which upper-cases to 0.
  return Upper(*lhs) - Upper(*rhs);
}

int StringCaseCompare(const wchar_t* lhs, const wchar_t* rhs) noexcept {
  if (lhs == nullptr) lhs = L"";
  if (rhs == nullptr) rhs = L"";
  for (; *lhs != L'\0' && *rhs != L'\0'; ++lhs, ++rhs) {
    const wchar_t l = Upper(*lhs);
    const wchar_t r = Upper(*rhs);
    if (l != r) return CompareWChars(l, r);
  }
  // The raw elements: the text that ended sorts first.
  return CompareWChars(*lhs, *rhs);
}

int StringCaseCompare(const char* lhs, const char* lhsEnd, const char* rhs, const char* rhsEnd) {
  return CompareRanges(lhs, lhsEnd, rhs, rhsEnd);
}

int StringCaseCompare(const wchar_t* lhs, const wchar_t* lhsEnd, const wchar_t* rhs,
                      const wchar_t* rhsEnd) {
  return CompareRanges(lhs, lhsEnd, rhs, rhsEnd);
}

}  // namespace vo::qel::osdep
