// CFString: a minimal immutable, reference-counted string standing in for
// CoreFoundation's on systems that have none. It offers only the calls this library
// makes (create, length, extract bytes, size bounds, compare, retain, release), with
// CoreFoundation's names and argument orders so that the code using it reads as it
// would there. The names live in vo::qel::osdep and are never exported, so they
// cannot clash with a real CoreFoundation loaded into the same process.
//
// Thread-safe: a string never changes after creation and its reference count is
// atomic, so references to one string may be used and released on different threads.
//
// 1. A reference returned by a Create call is owned by the caller and released once
//    with CFRelease; CFRetain takes one more reference to release.
// 2. A string holds UTF-16 units; lengths and ranges count those units. Creation
//    refuses text that is not valid in the encoding given (null result): malformed
//    UTF-8, surrogate code points or values above U+10FFFF in UTF-8 or UTF-32, bytes
//    0x80-0xFF in ASCII, an unknown encoding.
// 3. Encodings: ASCII, ISO Latin-1, UTF-8 (the system encoding) and UTF-32LE. UTF-8
//    goes through the library's UTF-8 codec.
#ifndef QEL_OSDEP_CFSTRING_H_
#define QEL_OSDEP_CFSTRING_H_

#include <cstdint>

namespace vo::qel::osdep {

typedef long CFIndex;
typedef uint32_t CFStringEncoding;
typedef uint8_t UInt8;
typedef bool Boolean;

struct CFRange {
  CFIndex location;
  CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return CFRange{location, length}; }

struct CFStringObject;
typedef const CFStringObject* CFStringRef;

// Allocators are not modelled; the default one is the only one.
typedef const void* CFAllocatorRef;
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

constexpr CFIndex kCFNotFound = -1;

enum : CFStringEncoding {
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingUTF32LE = 0x1C000100,
};

enum CFComparisonResult {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1
};

// The encoding of narrow text on this system: UTF-8.
CFStringEncoding CFStringGetSystemEncoding() noexcept;

// A new string from `numBytes` bytes in `encoding`, or null when they are not valid
// text in it (see 2. above). No byte-order mark is read: `isExternalRepresentation`
// must be false. Throws std::bad_alloc.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef allocator, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);

// A new string from the zero-terminated `text` in `encoding`; null when `text` is
// null, not valid in the encoding, or memory runs out.
CFStringRef CFStringCreateWithCString(const char* text, CFStringEncoding encoding) noexcept;

// Length in UTF-16 units; 0 for null.
CFIndex CFStringGetLength(CFStringRef text) noexcept;

// Converts the characters of `range` (cut to the string) into `encoding`, whole
// characters only, and returns the number of UTF-16 units converted; `*usedBufLen`
// (if not null) receives the bytes produced. With a null `buffer` nothing is
// written and `maxBufLen` does not limit: the bytes required are counted. A
// character the encoding lacks is written as `lossByte` (in that encoding), or
// stops the conversion when `lossByte` is 0. Conversion also stops before a
// character that does not fit in `maxBufLen`.
CFIndex CFStringGetBytes(CFStringRef text, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen) noexcept;

// An upper bound of the bytes `length` characters take in `encoding`, whether the
// length counts UTF-16 units or code points; kCFNotFound for an unknown encoding or
// when the bound does not fit a CFIndex.
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept;

// Orders two strings by their UTF-16 units, case-sensitively (no options).
// REQUIRES: neither is null.
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b) noexcept;

// Takes one more reference and returns `text`. Null is passed through.
CFStringRef CFRetain(CFStringRef text) noexcept;

// Gives back one reference; the last one frees the string. Null is ignored.
void CFRelease(CFStringRef text) noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CFSTRING_H_
