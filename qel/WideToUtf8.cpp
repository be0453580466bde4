#include "qel/WideToUtf8.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QEL_UTF8_SSE2 1
#endif

#include "qel/SafeInteger.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo {
namespace qel {
namespace {

const char kFile[] = "WideToUtf8";

static_assert(sizeof(wchar_t) == 4, "wide text holds one 32-bit code point per element");

// Indexed by the number of significant bits of a value (1 to 32): the length of its
// encoding, 0 for values above 0x7FFFFFFF, which have no encoding.
constexpr uint8_t kLengthByBits[33] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3,
                                       4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 0};

// Indexed by encoding length: the marker bits of the lead byte.
constexpr uint8_t kLeadMarker[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

constexpr size_t kLongestSequence = 6;

// Texts of up to kShortText elements are encoded without measuring first, into a
// stack buffer that holds most of them (four bytes an element).
constexpr size_t kShortText = 128;
constexpr size_t kShortTextBytes = 4 * kShortText;

inline size_t EncodedLength(uint32_t v) { return kLengthByBits[32 - __builtin_clz(v | 1)]; }

// Writes the `length`-byte form of `v`: continuation bytes from the last one back,
// six low bits each, then the marker and the remaining high bits in the lead byte.
inline void WriteSequence(uint8_t* d, uint32_t v, size_t length) {
  if (length == 1) {
    d[0] = uint8_t(v);
    return;
  }
  for (size_t i = length - 1; i > 0; --i) {
    d[i] = uint8_t(0x80 | (v & 0x3F));
    v >>= 6;
  }
  d[0] = uint8_t(kLeadMarker[length] | v);
}

[[noreturn]] __attribute__((noinline, cold)) void ThrowBufferOverflow(uint32_t line) {
  throw AddFileAndLineInfo(exception::BufferOverflow(), kFile, line);
}

[[noreturn]] __attribute__((noinline, cold)) void ThrowInvalidArgument(uint32_t line) {
  throw AddFileAndLineInfo(exception::InvalidArgument(), kFile, line);
}

__attribute__((noinline, cold)) void ReportOutOfRange() {
  osdep::OutputAssertion("value <= 0x7FFFFFFF", "Invalid unicode range", kFile, __LINE__);
}

// Encodes one element. Returns the length of its encoding (1 to 6); with `countOnly`
// nothing is written and `dest` may be null. Returns -1 for a value above 0x7FFFFFFF
// (after reporting it) and -2, writing nothing, when the encoding does not fit
// before `destEnd`.
int utf8_wctombc(unsigned char* dest, const unsigned char* destEnd, wchar_t value,
                 bool countOnly) {
  const uint32_t v = uint32_t(value);
  const size_t length = EncodedLength(v);
  if (length == 0) {
    ReportOutOfRange();
    return -1;
  }
  if (countOnly) return int(length);
  if (destEnd - dest < std::ptrdiff_t(length)) return -2;
  WriteSequence(dest, v, length);
  return int(length);
}

// A value with no encoding: reported, and replaced by '?' (the caller ensures one
// free byte).
__attribute__((noinline, cold)) void WriteReplacement(uint8_t* d, uint32_t v) {
  utf8_wctombc(nullptr, nullptr, wchar_t(v), true);
  osdep::OutputAssertion("length != -1", "invalid unicode", kFile, __LINE__);
  *d = '?';
}

#if defined(QEL_UTF8_SSE2)
constexpr size_t kBlock = 16;

// When all 16 elements at `s` are below 0x80, stores them as bytes at `d` and
// returns true. Otherwise returns false with `orOfAll` holding the bitwise OR of
// the elements, which bounds the bytes the block can need.
inline bool NarrowAscii16(const wchar_t* s, uint8_t* d, uint32_t& orOfAll) {
  const __m128i* in = reinterpret_cast<const __m128i*>(s);
  const __m128i v0 = _mm_loadu_si128(in);
  const __m128i v1 = _mm_loadu_si128(in + 1);
  const __m128i v2 = _mm_loadu_si128(in + 2);
  const __m128i v3 = _mm_loadu_si128(in + 3);
  __m128i any = _mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3));
  any = _mm_or_si128(any, _mm_shuffle_epi32(any, 0x4E));
  any = _mm_or_si128(any, _mm_shuffle_epi32(any, 0xB1));
  orOfAll = uint32_t(_mm_cvtsi128_si32(any));
  if (orOfAll >= 0x80) return false;
  // Values below 0x80 pass both saturating packs unchanged.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                   _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3)));
  return true;
}

// Adds the encoded lengths of the 16 elements at `s` to `total`. Returns false,
// adding nothing, when one of them is above 0x7FFFFFFF (it needs its report).
inline bool MeasureBlock16(const wchar_t* s, size_t& total) {
  const __m128i* in = reinterpret_cast<const __m128i*>(s);
  const __m128i v0 = _mm_loadu_si128(in);
  const __m128i v1 = _mm_loadu_si128(in + 1);
  const __m128i v2 = _mm_loadu_si128(in + 2);
  const __m128i v3 = _mm_loadu_si128(in + 3);
  const __m128i any = _mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3));
  if (_mm_movemask_ps(_mm_castsi128_ps(any)) != 0) return false;
  const __m128i zero = _mm_setzero_si128();
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, _mm_set1_epi32(~0x7F)), zero)) ==
      0xFFFF) {
    total += 16;
    return true;
  }
  // Every element takes one byte, plus one for each threshold it lies above (the
  // compares give -1 for true). All values are non-negative, so signed compares do.
  const __m128i t1 = _mm_set1_epi32(0x7F);
  const __m128i t2 = _mm_set1_epi32(0x7FF);
  const __m128i t3 = _mm_set1_epi32(0xFFFF);
  __m128i extra = zero;
  const __m128i values[4] = {v0, v1, v2, v3};
  for (const __m128i& v : values) {
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, t1));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, t2));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, t3));
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, _mm_set1_epi32(~0xFFFF)), zero)) !=
      0xFFFF) {
    const __m128i t4 = _mm_set1_epi32(0x1FFFFF);
    const __m128i t5 = _mm_set1_epi32(0x3FFFFFF);
    for (const __m128i& v : values) {
      extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, t4));
      extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, t5));
    }
  }
  extra = _mm_add_epi32(extra, _mm_shuffle_epi32(extra, 0x4E));
  extra = _mm_add_epi32(extra, _mm_shuffle_epi32(extra, 0xB1));
  total += 16 + size_t(uint32_t(_mm_cvtsi128_si32(extra)));
  return true;
}
#endif

// The bytes that [begin, end) needs, stopping before the first character that
// would take the total past `limit` (reported).
size_t SizeOfUtf8(const wchar_t* begin, const wchar_t* end, size_t limit) {
  if (begin == nullptr) return 0;
  size_t total = 0;
  const wchar_t* s = begin;
  while (s < end) {
#if defined(QEL_UTF8_SSE2)
    // A block that could not pass the limit even at six bytes an element needs no
    // check per element.
    if (end - s >= 16 && limit - total >= 16 * kLongestSequence && MeasureBlock16(s, total)) {
      s += 16;
      continue;
    }
#endif
    const uint32_t v = uint32_t(*s);
    size_t length = EncodedLength(v);
    if (length == 0) {
      // Reported here; converting writes one '?' in its place.
      utf8_wctombc(nullptr, nullptr, wchar_t(v), true);
      length = 1;
    }
    bool overflow;
    SafeInteger<size_t> next(total);
    next.addNoThrow(length, overflow);
    if (overflow || next.rawValue() > limit) {
      osdep::OutputAssertion("!overflow && total <= limit",
                             "UTF-8 string representation overflowed a size_t. The string will "
                             "be truncated",
                             kFile, __LINE__);
      break;
    }
    total = next.rawValue();
    ++s;
  }
  return total;
}

// How out-of-range values are met while converting: replaced by '?' with their
// reports, or (for a first attempt that may be given up) a reason to stop, silently.
enum OutOfRangeRule { k_REPLACE, k_STOP };

// Writes the encoding of `v` (at least 0x80) at `d`, which has room for six bytes,
// and returns the position after it. A value above 0x7FFFFFFF becomes '?', or
// gives null under k_STOP.
template <OutOfRangeRule kRule>
inline uint8_t* EncodeMultibyte(uint8_t* d, uint32_t v) {
  if (v < 0x800) {
    d[0] = uint8_t(0xC0 | (v >> 6));
    d[1] = uint8_t(0x80 | (v & 0x3F));
    return d + 2;
  }
  if (v < 0x10000) {
    d[0] = uint8_t(0xE0 | (v >> 12));
    d[1] = uint8_t(0x80 | ((v >> 6) & 0x3F));
    d[2] = uint8_t(0x80 | (v & 0x3F));
    return d + 3;
  }
  if (v <= 0x7FFFFFFF) {
    const size_t length = EncodedLength(v);
    WriteSequence(d, v, length);
    return d + length;
  }
  if (kRule == k_STOP) return nullptr;
  WriteReplacement(d, v);
  return d + 1;
}

// Encodes from `s` while it is before `end` and at least one byte is free; stops
// before an element whose encoding does not fit whole (and under k_STOP before a
// value out of range). Returns the bytes written, with `s` left at the first element
// not converted.
template <OutOfRangeRule kRule>
size_t EncodeInto(const wchar_t*& sInOut, const wchar_t* end, uint8_t* d, const uint8_t* destEnd) {
  const wchar_t* s = sInOut;
  uint8_t* const first = d;
  uint8_t* next;
#if defined(QEL_UTF8_SSE2)
  // Blocks of 16 elements, while the room holds what the block can need: 16 bytes
  // for ASCII, else as much as the largest form that the OR of its values allows.
  while (end - s >= std::ptrdiff_t(kBlock) && destEnd - d >= std::ptrdiff_t(kBlock)) {
    uint32_t orOfAll;
    if (NarrowAscii16(s, d, orOfAll)) {
      s += kBlock;
      d += kBlock;
      continue;
    }
    const size_t longest = orOfAll < 0x800 ? 2 : orOfAll < 0x10000 ? 3 : kLongestSequence;
    if (destEnd - d < std::ptrdiff_t(kBlock * longest)) break;
    for (const wchar_t* const blockEnd = s + kBlock; s < blockEnd; ++s) {
      const uint32_t v = uint32_t(*s);
      if (v < 0x80) {
        *d++ = uint8_t(v);
      } else {
        if ((next = EncodeMultibyte<kRule>(d, v)) == nullptr) goto done;
        d = next;
      }
    }
  }
#endif
  // The rest without checks of the room when it holds six bytes an element...
  if (destEnd - d >= (end - s) * std::ptrdiff_t(kLongestSequence)) {
    for (; s < end; ++s) {
      const uint32_t v = uint32_t(*s);
      if (v < 0x80) {
        *d++ = uint8_t(v);
      } else {
        if ((next = EncodeMultibyte<kRule>(d, v)) == nullptr) goto done;
        d = next;
      }
    }
  }
  // ... else one element at a time, as long as each fits whole.
  for (; s < end && d < destEnd; ++s) {
    const uint32_t v = uint32_t(*s);
    if (v < 0x80) {
      *d++ = uint8_t(v);
    } else if (destEnd - d >= std::ptrdiff_t(kLongestSequence)) {
      if ((next = EncodeMultibyte<kRule>(d, v)) == nullptr) goto done;
      d = next;
    } else {
      if (kRule == k_STOP && v > 0x7FFFFFFF) break;
      const int length = utf8_wctombc(d, destEnd, wchar_t(v), false);
      if (length == -2) break;
      if (length == -1) {
        osdep::OutputAssertion("length != -1", "invalid unicode", kFile, __LINE__);
        *d++ = '?';
      } else {
        d += length;
      }
    }
  }
done:
  sInOut = s;
  return size_t(d - first);
}

// The loop shared by the throwing and the stopping buffer-filling forms.
size_t FillBuffer(const wchar_t*& begin, const wchar_t* end, unsigned char* destBegin,
                  const unsigned char* destEnd) {
  if (destBegin == nullptr || destBegin > destEnd) ThrowInvalidArgument(__LINE__);
  if (destBegin == destEnd) osdep::OutputAssertion("destBegin < destEnd", "", kFile, __LINE__);
  if (begin == nullptr) return 0;
  return EncodeInto<k_REPLACE>(begin, end, destBegin, destEnd);
}

}  // namespace

unsigned char* WideToUtf8(const wchar_t* text) {
  return WideToUtf8(text, text == nullptr ? nullptr : text + std::wcslen(text));
}

unsigned char* WideToUtf8(const wchar_t* begin, const wchar_t* end) {
  if (begin == nullptr) return new unsigned char[1]();

  // A short text is encoded once into the stack and copied, when it fits there and
  // holds no value out of range (whose reports come from measuring, below).
  if (end - begin <= std::ptrdiff_t(kShortText)) {
    uint8_t local[kShortTextBytes];
    const wchar_t* s = begin;
    const size_t written = EncodeInto<k_STOP>(s, end, local, local + kShortTextBytes);
    if (s == end) {
      unsigned char* result = new unsigned char[written + 1];
      std::memcpy(result, local, written);
      result[written] = 0;
      return result;
    }
  }

  const size_t size = SizeOfUtf8(begin, end, std::numeric_limits<size_t>::max());
  const size_t capacity = SafeInteger<size_t>::Add(size, 1).rawValue();
  std::unique_ptr<unsigned char[]> result(new unsigned char[capacity]);
  const wchar_t* s = begin;
  const size_t written = EncodeInto<k_REPLACE>(s, end, result.get(), result.get() + capacity);
  if (written != size) osdep::OutputAssertion("written == size", "", kFile, __LINE__);
  if (s < end) ThrowBufferOverflow(__LINE__);
  result[written] = 0;
  return result.release();
}

size_t WideToUtf8(const wchar_t* begin, const wchar_t* end, unsigned char* destBegin,
                  const unsigned char* destEnd) {
  const size_t written = FillBuffer(begin, end, destBegin, destEnd);
  if (begin != nullptr && begin < end) ThrowBufferOverflow(__LINE__);
  return written;
}

size_t WideToUtf8NoOverflow(const wchar_t*& begin, const wchar_t* end, unsigned char* destBegin,
                            const unsigned char* destEnd) {
  return FillBuffer(begin, end, destBegin, destEnd);
}

size_t GetUtf8EncodingBytes(const wchar_t* text) {
  if (text == nullptr) return 0;
  return SizeOfUtf8(text, text + std::wcslen(text), std::numeric_limits<size_t>::max());
}

size_t GetUtf8EncodingBytes(const wchar_t* begin, const wchar_t* end) {
  return SizeOfUtf8(begin, end, std::numeric_limits<size_t>::max());
}

size_t GetUtf8EncodingBytesWithBufferLimit(const wchar_t* begin, const wchar_t* end,
                                           size_t limit) {
  return SizeOfUtf8(begin, end, limit);
}

}  // namespace qel
}  // namespace vo
