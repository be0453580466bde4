#include "qel/osdep/CFString.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"

namespace vo::qel::osdep {

struct CFStringObject {
  explicit CFStringObject(std::u16string u) : units(std::move(u)) {}

  mutable std::atomic<int32_t> refs{1};
  const std::u16string units;
};

namespace {

bool IsSurrogate(uint32_t c) noexcept { return c >= 0xD800 && c <= 0xDFFF; }
bool IsScalarValue(uint32_t c) noexcept { return c <= 0x10FFFF && !IsSurrogate(c); }

void AppendUtf16(std::u16string& units, uint32_t c) {
  if (c < 0x10000) {
    units.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes `bytes` in `encoding` into UTF-16; false when they are not valid text.
bool Decode(const UInt8* bytes, size_t count, CFStringEncoding encoding, std::u16string& units) {
  const UInt8* const end = bytes + count;
  switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingISOLatin1: {
      const uint32_t limit = encoding == kCFStringEncodingASCII ? 0x80 : 0x100;
      for (const UInt8* p = bytes; p != end; ++p) {
        if (*p >= limit) return false;
        units.push_back(*p);
      }
      return true;
    }
    case kCFStringEncodingUTF8:
      try {
        for (const UInt8* p = bytes; p != end;) {
          wchar_t c;
          p = ConvertNextUtf8Character(p, end, c);
          if (!IsScalarValue(static_cast<uint32_t>(c))) return false;
          AppendUtf16(units, static_cast<uint32_t>(c));
        }
      } catch (const exception::InvalidSequence&) {
        return false;
      }
      return true;
    case kCFStringEncodingUTF32LE: {
      if (count % 4 != 0) return false;
      for (const UInt8* p = bytes; p != end; p += 4) {
        const uint32_t c =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        if (!IsScalarValue(c)) return false;
        AppendUtf16(units, c);
      }
      return true;
    }
    default:
      return false;
  }
}

// Encodes one code point into `out` (room for 8 bytes) and returns its byte count,
// or 0 when the encoding has no such character.
int Encode(uint32_t c, CFStringEncoding encoding, UInt8* out) noexcept {
  switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingISOLatin1:
      if (c >= (encoding == kCFStringEncodingASCII ? 0x80u : 0x100u)) return 0;
      out[0] = static_cast<UInt8>(c);
      return 1;
    case kCFStringEncodingUTF8: {
      if (!IsScalarValue(c)) return 0;
      const wchar_t wide = static_cast<wchar_t>(c);
      const wchar_t* from = &wide;
      return static_cast<int>(WideToUtf8NoOverflow(from, from + 1, out, out + 8));
    }
    case kCFStringEncodingUTF32LE:
      if (!IsScalarValue(c)) return 0;
      for (int i = 0; i < 4; ++i) out[i] = static_cast<UInt8>(c >> (8 * i));
      return 4;
    default:
      return 0;
  }
}

}  // namespace

CFStringEncoding CFStringGetSystemEncoding() noexcept { return kCFStringEncodingUTF8; }

CFStringRef CFStringCreateWithBytes(CFAllocatorRef /*allocator*/, const UInt8* bytes,
                                    CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean /*isExternalRepresentation*/) {
  if (numBytes < 0 || (bytes == nullptr && numBytes != 0)) return nullptr;
  std::u16string units;
  if (!Decode(bytes, static_cast<size_t>(numBytes), encoding, units)) return nullptr;
  return new CFStringObject(std::move(units));
}

CFStringRef CFStringCreateWithCString(const char* text, CFStringEncoding encoding) noexcept {
  if (text == nullptr) return nullptr;
  try {
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text),
                                   static_cast<CFIndex>(std::strlen(text)), encoding, false);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFIndex CFStringGetLength(CFStringRef text) noexcept {
  return text != nullptr ? static_cast<CFIndex>(text->units.size()) : 0;
}

CFIndex CFStringGetBytes(CFStringRef text, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean /*isExternalRepresentation*/, UInt8* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen) noexcept {
  const CFIndex length = CFStringGetLength(text);
  const CFIndex first = range.location < 0 ? 0 : std::min(range.location, length);
  const CFIndex stop = range.length < 0 ? first : first + std::min(range.length, length - first);
  CFIndex used = 0;
  CFIndex i = first;
  while (i < stop) {
    uint32_t c = text->units[i];
    CFIndex width = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < stop && text->units[i + 1] >= 0xDC00 &&
        text->units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text->units[i + 1] - 0xDC00u);
      width = 2;
    }
    UInt8 bytes[8];
    int n = Encode(c, encoding, bytes);
    if (n == 0 && lossByte != 0) n = Encode(lossByte, encoding, bytes);
    if (n == 0) break;
    if (buffer != nullptr) {
      if (n > maxBufLen - used) break;
      std::memcpy(buffer + used, bytes, static_cast<size_t>(n));
    }
    used += n;
    i += width;
  }
  if (usedBufLen != nullptr) *usedBufLen = used;
  return i - first;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept {
  CFIndex perCharacter;
  switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingISOLatin1:
      perCharacter = 1;
      break;
    // CoreFoundation counts 3 bytes per UTF-16 unit for UTF-8; 4 keeps the bound
    // true also for a length in code points, which is what the conversion route has.
    case kCFStringEncodingUTF8:
    case kCFStringEncodingUTF32LE:
      perCharacter = 4;
      break;
    default:
      return kCFNotFound;
  }
  if (length < 0 || length > std::numeric_limits<CFIndex>::max() / perCharacter) {
    return kCFNotFound;
  }
  return length * perCharacter;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b) noexcept {
  const int order = a->units.compare(b->units);
  if (order < 0) return kCFCompareLessThan;
  return order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

CFStringRef CFRetain(CFStringRef text) noexcept {
  if (text != nullptr) text->refs.fetch_add(1, std::memory_order_relaxed);
  return text;
}

void CFRelease(CFStringRef text) noexcept {
  if (text == nullptr) return;
  // acq_rel: the thread that frees the string must see every other thread's use of it.
  if (text->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete text;
}

}  // namespace vo::qel::osdep
