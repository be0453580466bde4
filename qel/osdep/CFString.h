// A minimal immutable, reference-counted string standing in for CoreFoundation's
// CFString on systems that have none. It holds UTF-16 code units and offers only
// the calls this library makes: create from C text, length, compare, retain, release.
//
// Thread-safe: a string never changes after creation, and its reference count is
// atomic, so references to one string may be released on different threads.
//
// Invariants:
// 1. A reference returned by a Create call is owned by the caller and released
//    exactly once with CFRelease.
// 2. The names live in vo::qel::osdep and are never exported, so they cannot clash
//    with a real CoreFoundation loaded into the same process.
#ifndef QEL_OSDEP_CFSTRING_H_
#define QEL_OSDEP_CFSTRING_H_

#include <cstdint>

namespace vo::qel::osdep {

struct CFStringObject;
using CFStringRef = const CFStringObject*;

using CFStringEncoding = uint32_t;
constexpr CFStringEncoding kCFStringEncodingASCII = 0x0600;

using CFIndex = int64_t;

enum CFComparisonResult {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1
};

// A new string holding `text` (zero-terminated) decoded from `encoding`. Null when
// `text` is null, when a byte is not valid in the encoding (ASCII: above 0x7F), when
// the encoding is not supported, or when memory runs out.
CFStringRef CFStringCreateWithCString(const char* text, CFStringEncoding encoding) noexcept;

// The number of UTF-16 code units. REQUIRES: `string` is not null.
CFIndex CFStringGetLength(CFStringRef string) noexcept;

// Orders two strings by their UTF-16 code units, case-sensitively (no options).
// REQUIRES: neither is null.
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b) noexcept;

// Takes one more reference and returns `string`. Null is passed through.
CFStringRef CFRetain(CFStringRef string) noexcept;

// Gives back one reference; the last one frees the string. Null is ignored.
void CFRelease(CFStringRef string) noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CFSTRING_H_
