#include "qel/osdep/StringExactCompare.h"

#include <cstring>
#include <cwchar>

#include "qel/NumericCast.h"
#include "qel/osdep/CompareRangeCheck.h"

namespace vo::qel::osdep {
namespace {

const char* const kFile = "osdep/StringExactCompare";

// One byte pair ordered as strncmp orders one-byte texts: as unsigned values.
inline int CompareElements(char a, char b) noexcept {
  return int(static_cast<unsigned char>(a)) - int(static_cast<unsigned char>(b));
}
inline int CompareElements(wchar_t a, wchar_t b) noexcept { return CompareWChars(a, b); }

template <class CharT>
int CompareRanges(const CharT* lhs, const CharT* lhsEnd, const CharT* rhs, const CharT* rhsEnd) {
  detail::CheckCompareRanges(lhs, lhsEnd, rhs, rhsEnd, kFile, __LINE__);
  for (; lhs < lhsEnd && rhs < rhsEnd; ++lhs, ++rhs) {
    if (*lhs != *rhs) return CompareElements(*lhs, *rhs);
  }
  return NumericCast<int>((lhsEnd - lhs) - (rhsEnd - rhs));
}

}  // namespace

int StringExactCompare(const char* lhs, const char* rhs) noexcept {
  return std::strcmp(lhs != nullptr ? lhs : "", rhs != nullptr ? rhs : "");
}

int StringExactCompare(const wchar_t* lhs, const wchar_t* rhs) noexcept {
  return std::wcscmp(lhs != nullptr ? lhs : L"", rhs != nullptr ? rhs : L"");
}

int StringExactCompare(const char* lhs, const char* lhsEnd, const char* rhs, const char* rhsEnd) {
  return CompareRanges(lhs, lhsEnd, rhs, rhsEnd);
}

int StringExactCompare(const wchar_t* lhs, const wchar_t* lhsEnd, const wchar_t* rhs,
                       const wchar_t* rhsEnd) {
  return CompareRanges(lhs, lhsEnd, rhs, rhsEnd);
}

}  // namespace vo::qel::osdep
