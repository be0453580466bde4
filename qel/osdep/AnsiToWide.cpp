#include "qel/osdep/AnsiToWide.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "qel/SafeInteger.h"
#include "qel/osdep/IConv.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::osdep {
namespace {

// Test switches; see MakeAnsiToWideThrow.
bool gAnsiToWideThrows = false;
bool gWideToAnsiThrows = false;

bool IsCarbon(const char* charset) noexcept {
  return charset != nullptr && std::strcmp(charset, "carbon") == 0;
}

// What differs between the two directions; the steps themselves are shared below.
struct NarrowToWide {
  using Source = char;
  using Target = wchar_t;
  static constexpr const char* kFile = "osdep/AnsiToWide";

  static bool throws() noexcept { return gAnsiToWideThrows; }
  static size_t required(const char* begin, const char* end, const char* charset) noexcept {
    return GetAnsiToWideRequiredBufferLength(begin, end, charset);
  }
  // required + 1 elements, checking that the byte size does not overflow either.
  static size_t allocationCount(size_t required) {
    const SafeInteger<size_t> count = SafeInteger<size_t>::Add(required, 1);
    SafeInteger<size_t>::Multiply(count, sizeof(wchar_t));
    return count.rawValue();
  }
  static void carbon(const char* begin, const char* end, wchar_t* destBegin, wchar_t*& destEnd) {
    CarbonAnsiToWide(begin, end, destBegin, destEnd);
  }
  static void iconv(const char* begin, const char* end, const char* charset, wchar_t* destBegin,
                    wchar_t*& destEnd) {
    IConv(begin, end, charset, destBegin, destEnd, GetWCharTypeCodeForIConv());
  }
};

struct WideToNarrow {
  using Source = wchar_t;
  using Target = char;
  static constexpr const char* kFile = "osdep/WideToAnsi";

  static bool throws() noexcept { return gWideToAnsiThrows; }
  static size_t required(const wchar_t* begin, const wchar_t* end, const char* charset) noexcept {
    return GetWideToAnsiRequiredBufferLength(begin, end, charset);
  }
  static size_t allocationCount(size_t required) {
    return SafeInteger<size_t>::Add(required, 1).rawValue();
  }
  static void carbon(const wchar_t* begin, const wchar_t* end, char* destBegin, char*& destEnd) {
    CarbonWideToAnsi(begin, end, destBegin, destEnd);
  }
  static void iconv(const wchar_t* begin, const wchar_t* end, const char* charset, char* destBegin,
                    char*& destEnd) {
    IConv(begin, end, GetWCharTypeCodeForIConv(), destBegin, destEnd, charset);
  }
};

// Converts into the caller's room from destBegin up to destEnd by the route the
// name selects; moves destEnd after the output and returns its count.
template <class D>
size_t Dispatch(const typename D::Source* begin, const typename D::Source* end, const char* charset,
                typename D::Target* destBegin, typename D::Target*& destEnd) {
  if (D::throws()) throw std::bad_alloc();
  if (charset == nullptr) {
    OutputAssertion("0 != charset", "User must provide a character set name", D::kFile, __LINE__);
    charset = "";
  }
  typename D::Target* const limit = destEnd;
  if (IsCarbon(charset)) {
    D::carbon(begin, end, destBegin, destEnd);
  } else {
    D::iconv(begin, end, charset, destBegin, destEnd);
  }
  if (destEnd < destBegin) {
    OutputAssertion("destEnd >= destBegin", "end pointer moved out of range", D::kFile, __LINE__);
    destEnd = destBegin;
  } else if (destEnd > limit) {
    OutputAssertion("destEnd <= limit", "output string was truncated", D::kFile, __LINE__);
    destEnd = limit;
  }
  return static_cast<size_t>(destEnd - destBegin);
}

// Allocates room for the required length plus a terminator and converts into it.
template <class D>
void Allocate(const typename D::Source* begin, const typename D::Source* end, const char* charset,
              typename D::Target*& outBegin, typename D::Target*& outEnd) {
  using Target = typename D::Target;
  if (begin == end) {
    outBegin = outEnd = new Target[1]();
    return;
  }
  const size_t required = D::required(begin, end, charset);
  // Releases the array if the conversion throws.
  std::unique_ptr<Target[]> holder(new Target[D::allocationCount(required)]);
  Target* last = holder.get() + required;
  const size_t count = Dispatch<D>(begin, end, charset, holder.get(), last);
  if (count > required) {
    OutputAssertion("count <= required", "requested size did not match actual", D::kFile, __LINE__);
  }
  *last = Target(0);
  outBegin = holder.release();
  outEnd = last;
}

}  // namespace

size_t GetAnsiToWideRequiredBufferLength(const char* begin, const char* end,
                                         const char* /*charset*/) noexcept {
  return static_cast<size_t>(end - begin);
}

size_t AnsiToWideNoAlloc(const char* begin, const char* end, const char* charset,
                         wchar_t* destBegin, wchar_t*& destEnd) {
  return Dispatch<NarrowToWide>(begin, end, charset, destBegin, destEnd);
}

void AnsiToWide(const char* begin, const char* end, const char* charset, wchar_t*& outBegin,
                wchar_t*& outEnd) {
  Allocate<NarrowToWide>(begin, end, charset, outBegin, outEnd);
}

wchar_t* AnsiToWide(const char* begin, const char* end, const char* charset) {
  wchar_t* outBegin;
  wchar_t* outEnd;
  AnsiToWide(begin, end, charset, outBegin, outEnd);
  return outBegin;
}

wchar_t* AnsiToWide(const char* text, int byteCount, const char* charset) {
  if (text == nullptr) {
    OutputAssertion("s != 0", "", NarrowToWide::kFile, __LINE__);
    return new wchar_t[1]();
  }
  if (byteCount < 0) {
    OutputAssertion("byteCount >= 0", "", NarrowToWide::kFile, __LINE__);
    byteCount = 0;
  }
  const void* zero = std::memchr(text, '\0', static_cast<size_t>(byteCount));
  const char* end = zero != nullptr ? static_cast<const char*>(zero) : text + byteCount;
  return AnsiToWide(text, end, charset);
}

bool MakeAnsiToWideThrow(bool on) noexcept {
  const bool previous = gAnsiToWideThrows;
  gAnsiToWideThrows = on;
  return previous;
}

size_t GetWideToAnsiRequiredBufferLength(const wchar_t* begin, const wchar_t* end,
                                         const char* charset) noexcept {
  if (IsCarbon(charset)) return GetCarbonWideToAnsiRequiredBufferLength(begin, end);
  // The longest character of any set iconv offers for a locale takes 4 bytes.
  return static_cast<size_t>(end - begin) * 4;
}

size_t WideToAnsiNoAlloc(const wchar_t* begin, const wchar_t* end, const char* charset,
                         char* destBegin, char*& destEnd) {
  return Dispatch<WideToNarrow>(begin, end, charset, destBegin, destEnd);
}

void WideToAnsi(const wchar_t* begin, const wchar_t* end, const char* charset, char*& outBegin,
                char*& outEnd) {
  Allocate<WideToNarrow>(begin, end, charset, outBegin, outEnd);
}

char* WideToAnsi(const wchar_t* begin, const wchar_t* end, const char* charset) {
  char* outBegin;
  char* outEnd;
  WideToAnsi(begin, end, charset, outBegin, outEnd);
  return outBegin;
}

char* WideToAnsi(const wchar_t* text, const char* charset) {
  return WideToAnsi(text, text + std::wcslen(text), charset);
}

bool MakeWideToAnsiThrow(bool on) noexcept {
  const bool previous = gWideToAnsiThrows;
  gWideToAnsiThrows = on;
  return previous;
}

}  // namespace vo::qel::osdep
