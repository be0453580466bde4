// The "carbon" route of AnsiToWide.h: conversion through the CoreFoundation-like
// strings of CFString.h, in the system text encoding or a forced one.
#include <new>

#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/CFString.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/ScopedHandle.h"

namespace vo::qel::osdep {
namespace {

// Releases the layer's string on every way out of a conversion (the release
// function is found by the handle's type).
using ScopedString = ScopedHandle<CFStringRef>;

// Test switches; 0 means the system encoding.
unsigned int gForcedAnsiToWideEncoding = 0;
unsigned int gForcedWideToAnsiEncoding = 0;

CFStringEncoding ActiveEncoding(unsigned int forced) noexcept {
  return forced != 0 ? forced : CFStringGetSystemEncoding();
}

// Extracts all of `text` in `encoding`, with '?' for what the encoding lacks, into
// `capacity` bytes at `dest` and returns the bytes written. `file` and `incomplete`
// are the calling route's name and text for its reports.
CFIndex Extract(CFStringRef text, CFIndex sourceBytes, CFStringEncoding encoding, UInt8* dest,
                CFIndex capacity, const char* file, const char* incomplete) {
  const CFIndex length = CFStringGetLength(text);
  if (length == 0) {
    // Only possible if the layer dropped text it was given.
    if (sourceBytes != 0) {
      OutputAssertion("length > 0", "CFStringGetLength() returned 0 for non-empty source string",
                      file, __LINE__);
    }
    return 0;
  }
  CFIndex used = 0;
  const CFIndex converted =
      CFStringGetBytes(text, CFRangeMake(0, length), encoding, '?', false, dest, capacity, &used);
  if (converted != length) {
    // Only a cut conversion pays for the count that tells a short buffer from a
    // character the encoding cannot hold even as '?'.
    CFIndex required = 0;
    CFStringGetBytes(text, CFRangeMake(0, length), encoding, '?', false, nullptr, 0, &required);
    if (required > capacity) {
      OutputAssertion("required <= capacity",
                      "output buffer is too small, string will be truncated", file, __LINE__);
    } else {
      OutputAssertion("converted == length", incomplete, file, __LINE__);
    }
  }
  if (used > capacity) {
    OutputAssertion("used <= capacity", "CFStringGetBytes() overflowed output buffer", file,
                    __LINE__);
    used = capacity;
  }
  return used;
}

}  // namespace

size_t CarbonAnsiToWide(const char* begin, const char* end, wchar_t* destBegin, wchar_t*& destEnd) {
  const char* const kFile = "osdep/CarbonAnsiToWide";
  if (begin == end) {
    destEnd = destBegin;
    return 0;
  }
  const CFIndex sourceBytes = end - begin;
  ScopedString text(CFStringCreateWithBytes(kCFAllocatorDefault,
                                            reinterpret_cast<const UInt8*>(begin), sourceBytes,
                                            ActiveEncoding(gForcedAnsiToWideEncoding), false));
  if (text.get() == nullptr) throw AddFileAndLineInfo(exception::InvalidLocale(), kFile, __LINE__);

  // Whole wide characters only: the room in bytes rounded down to a multiple of 4.
  const CFIndex capacity = (destEnd - destBegin) * CFIndex(sizeof(wchar_t));
  CFIndex used = Extract(text.get(), sourceBytes, GetCFStringWcharEncoding(),
                         reinterpret_cast<UInt8*>(destBegin), capacity, kFile,
                         "failed to convert the whole string");
  if (used % CFIndex(sizeof(wchar_t)) != 0) {
    OutputAssertion("used % sizeof(wchar_t) == 0",
                    "CFStringGetBytes returned an uneven number of wide characters", kFile,
                    __LINE__);
  }
  destEnd = destBegin + used / CFIndex(sizeof(wchar_t));
  return static_cast<size_t>(used / CFIndex(sizeof(wchar_t)));
}

size_t CarbonWideToAnsi(const wchar_t* begin, const wchar_t* end, char* destBegin, char*& destEnd) {
  const char* const kFile = "osdep/CarbonWideToAnsi";
  if (begin == end) {
    destEnd = destBegin;
    return 0;
  }
  const CFIndex sourceBytes = (end - begin) * CFIndex(sizeof(wchar_t));
  ScopedString text(CFStringCreateWithBytes(kCFAllocatorDefault,
                                            reinterpret_cast<const UInt8*>(begin), sourceBytes,
                                            GetCFStringWcharEncoding(), false));
  if (text.get() == nullptr) throw AddFileAndLineInfo(exception::InvalidLocale(), kFile, __LINE__);

  const CFIndex used = Extract(text.get(), sourceBytes, ActiveEncoding(gForcedWideToAnsiEncoding),
                               reinterpret_cast<UInt8*>(destBegin), destEnd - destBegin, kFile,
                               "failed to convert full CFString");
  destEnd = destBegin + used;
  return static_cast<size_t>(used);
}

size_t GetCarbonWideToAnsiRequiredBufferLength(const wchar_t* begin, const wchar_t* end) noexcept {
  const CFIndex size =
      CFStringGetMaximumSizeForEncoding(end - begin, ActiveEncoding(gForcedWideToAnsiEncoding));
  // An encoding the layer does not know converts nothing.
  return size < 0 ? 0 : static_cast<size_t>(size);
}

void ForceCarbonAnsiToWideDebugEncoding(unsigned int encoding) noexcept {
  gForcedAnsiToWideEncoding = encoding;
}

void ForceCarbonWideToAnsiDebugEncoding(unsigned int encoding) noexcept {
  gForcedWideToAnsiEncoding = encoding;
}

unsigned int GetCFStringWcharEncoding() noexcept { return kCFStringEncodingUTF32LE; }

}  // namespace vo::qel::osdep
