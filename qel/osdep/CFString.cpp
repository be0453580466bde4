#include "qel/osdep/CFString.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace vo::qel::osdep {

struct CFStringObject {
  explicit CFStringObject(std::u16string u) : units(std::move(u)) {}

  mutable std::atomic<int32_t> refs{1};
  const std::u16string units;
};

CFStringRef CFStringCreateWithCString(const char* text, CFStringEncoding encoding) noexcept {
  if (text == nullptr || encoding != kCFStringEncodingASCII) return nullptr;
  try {
    std::u16string units;
    units.reserve(std::strlen(text));
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
      if (*p > 0x7F) return nullptr;
      units.push_back(static_cast<char16_t>(*p));
    }
    return new CFStringObject(std::move(units));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFIndex CFStringGetLength(CFStringRef string) noexcept {
  return static_cast<CFIndex>(string->units.size());
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b) noexcept {
  const int order = a->units.compare(b->units);
  if (order < 0) return kCFCompareLessThan;
  return order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

CFStringRef CFRetain(CFStringRef string) noexcept {
  if (string != nullptr) string->refs.fetch_add(1, std::memory_order_relaxed);
  return string;
}

void CFRelease(CFStringRef string) noexcept {
  if (string == nullptr) return;
  // acq_rel: the thread that frees the string must see every other thread's use of it.
  if (string->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete string;
}

}  // namespace vo::qel::osdep
