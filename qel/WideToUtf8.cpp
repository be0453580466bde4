#include "qel/WideToUtf8.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>

// QEL_UTF8_PORTABLE leaves out the SSE2 path, as on processors without it.
#if defined(__SSE2__) && !defined(QEL_UTF8_PORTABLE)
#include <emmintrin.h>
#define QEL_UTF8_SSE2 1
#endif

#include "qel/SafeInteger.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {
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
int utf8_wctombc(unsigned char* dest, const unsigned char* destEnd, wchar_t value, bool countOnly) {
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

// Loads the 16 elements at `s` as four vectors and returns their bitwise OR.
inline __m128i LoadBlock16(const wchar_t* s, __m128i& v0, __m128i& v1, __m128i& v2, __m128i& v3) {
  const __m128i* in = reinterpret_cast<const __m128i*>(s);
  v0 = _mm_loadu_si128(in);
  v1 = _mm_loadu_si128(in + 1);
  v2 = _mm_loadu_si128(in + 2);
  v3 = _mm_loadu_si128(in + 3);
  return _mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3));
}

// Whether all four lanes of `v` lie below `bound`, a power of two.
inline bool AllBelow(__m128i v, uint32_t bound) {
  const __m128i high = _mm_and_si128(v, _mm_set1_epi32(int32_t(~(bound - 1))));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) == 0xFFFF;
}

// Stores four elements below 0x80 as four bytes (they pass both saturating packs
// unchanged).
inline void StoreAscii4(__m128i v, uint8_t* d) {
  const __m128i packed = _mm_packs_epi32(v, v);
  const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(packed, packed)));
  std::memcpy(d, &bytes, 4);
}

// When all 16 elements at `s` are below 0x80, stores them as bytes at `d` and
// returns true. Otherwise returns false with `orOfAll` holding the bitwise OR of
// the elements, which bounds the bytes the block can need.
inline bool NarrowAscii16(const wchar_t* s, uint8_t* d, uint32_t& orOfAll) {
  __m128i v0, v1, v2, v3;
  __m128i any = LoadBlock16(s, v0, v1, v2, v3);
  any = _mm_or_si128(any, _mm_shuffle_epi32(any, 0x4E));
  any = _mm_or_si128(any, _mm_shuffle_epi32(any, 0xB1));
  orOfAll = uint32_t(_mm_cvtsi128_si32(any));
  if (orOfAll >= 0x80) return false;
  // Values below 0x80 pass both saturating packs unchanged.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                   _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3)));
  return true;
}

// For four elements of one to three bytes, indexed by a bit per element that is set
// when it takes two bytes or more (low four bits) and one when it takes three (high
// four bits): where the second, third and fourth elements start and how many bytes
// all four take, one byte each.
constexpr std::array<uint32_t, 256> MakeGroupOffsets() {
  std::array<uint32_t, 256> table{};
  for (unsigned index = 0; index < 256; ++index) {
    unsigned offset = 0, packed = 0;
    for (unsigned lane = 0; lane < 4; ++lane) {
      offset += 1 + ((index >> lane) & 1) + ((index >> (lane + 4)) & 1);
      packed |= offset << (8 * lane);
    }
    table[index] = packed;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kGroupOffsets = MakeGroupOffsets();

// Encodes four elements, all below 0x10000, without a branch: each lane is turned
// into its one, two or three bytes in the low bytes of a word, and the words are
// stored one after the other, four bytes each, every one starting where the bytes
// of the one before end. Up to three bytes past the group are stored too; with
// `kRestore` they are put back as they were (otherwise what follows covers them).
// Returns the bytes the group takes. REQUIRES: room for 16 bytes.
template <bool kRestore>
inline size_t EncodeGroup4(__m128i v, uint8_t* d) {
  const __m128i multi = _mm_cmpgt_epi32(v, _mm_set1_epi32(0x7F));
  const __m128i three = _mm_cmpgt_epi32(v, _mm_set1_epi32(0x7FF));
  const __m128i low6 = _mm_and_si128(v, _mm_set1_epi32(0x3F));
  const __m128i mid6 = _mm_and_si128(_mm_srli_epi32(v, 6), _mm_set1_epi32(0x3F));
  const __m128i two = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0x80C0), _mm_srli_epi32(v, 6)),
                                   _mm_slli_epi32(low6, 8));
  const __m128i both =
      _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0x8080E0), _mm_srli_epi32(v, 12)),
                   _mm_or_si128(_mm_slli_epi32(mid6, 8), _mm_slli_epi32(low6, 16)));
  __m128i x = _mm_or_si128(_mm_andnot_si128(multi, v), _mm_and_si128(multi, two));
  x = _mm_or_si128(_mm_andnot_si128(three, x), _mm_and_si128(three, both));
  const unsigned index = unsigned(_mm_movemask_ps(_mm_castsi128_ps(multi))) |
                         unsigned(_mm_movemask_ps(_mm_castsi128_ps(three))) << 4;
  const uint32_t offsets = kGroupOffsets[index];
  const size_t total = offsets >> 24;
  uint32_t after = 0;
  if (kRestore) std::memcpy(&after, d + total, 4);
  uint32_t w[4];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(w), x);
  std::memcpy(d, &w[0], 4);
  std::memcpy(d + (offsets & 0xFF), &w[1], 4);
  std::memcpy(d + ((offsets >> 8) & 0xFF), &w[2], 4);
  std::memcpy(d + ((offsets >> 16) & 0xFF), &w[3], 4);
  if (kRestore) std::memcpy(d + total, &after, 4);
  return total;
}

// EncodeGroup4, but four ASCII elements (a word of mixed text) are simply narrowed.
template <bool kRestore>
inline size_t EncodeMixedGroup4(__m128i v, uint8_t* d) {
  if (AllBelow(v, 0x80)) {
    StoreAscii4(v, d);
    return 4;
  }
  return EncodeGroup4<kRestore>(v, d);
}

// Stores the twelve bytes of four elements from 0x800 to 0xFFFF. Each lane becomes
// its three bytes in its low three bytes (little-endian) and is stored as four, the
// next lane's store covering the extra byte, but for the last, stored exactly.
inline void StoreThreeByteGroup4(__m128i v, uint8_t* d) {
  __m128i x =
      _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0x8080E0), _mm_srli_epi32(v, 12)),
                   _mm_or_si128(_mm_and_si128(_mm_slli_epi32(v, 2), _mm_set1_epi32(0x3F00)),
                                _mm_and_si128(_mm_slli_epi32(v, 16), _mm_set1_epi32(0x3F0000))));
  for (int lane = 0; lane < 3; ++lane, x = _mm_srli_si128(x, 4)) {
    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(x));
    std::memcpy(d + 3 * lane, &bytes, 4);
  }
  const uint32_t last = uint32_t(_mm_cvtsi128_si32(x));
  std::memcpy(d + 9, &last, 2);
  d[11] = uint8_t(last >> 16);
}

// Encodes the 16 elements at `s` four at a time when all of them take the same two
// or three bytes (a run of Greek or of CJK text), knowing from the caller that all
// are below 0x10000 and that the room holds three bytes each. Returns false,
// writing nothing, for any other block.
inline bool EncodeUniformBlock16(const wchar_t* s, uint8_t*& dOut, uint32_t orOfAll) {
  __m128i v[4];
  LoadBlock16(s, v[0], v[1], v[2], v[3]);
  uint8_t* d = dOut;
  const __m128i t2 = _mm_set1_epi32(0x7FF);
  const __m128i all3 =
      _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(v[0], t2), _mm_cmpgt_epi32(v[1], t2)),
                    _mm_and_si128(_mm_cmpgt_epi32(v[2], t2), _mm_cmpgt_epi32(v[3], t2)));
  if (_mm_movemask_epi8(all3) == 0xFFFF) {
    for (int i = 0; i < 4; ++i, d += 12) StoreThreeByteGroup4(v[i], d);
    dOut = d;
    return true;
  }
  if (orOfAll >= 0x800) return false;
  const __m128i t1 = _mm_set1_epi32(0x7F);
  const __m128i all2 =
      _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(v[0], t1), _mm_cmpgt_epi32(v[1], t1)),
                    _mm_and_si128(_mm_cmpgt_epi32(v[2], t1), _mm_cmpgt_epi32(v[3], t1)));
  if (_mm_movemask_epi8(all2) != 0xFFFF) return false;
  // Each lane becomes its two bytes in the low half; the halves, sign-extended so
  // that the saturating pack keeps them, pack into 16 bytes for eight elements.
  __m128i halves[4];
  for (int i = 0; i < 4; ++i) {
    const __m128i x = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0x80C0), _mm_srli_epi32(v[i], 6)),
                                   _mm_slli_epi32(_mm_and_si128(v[i], _mm_set1_epi32(0x3F)), 8));
    halves[i] = _mm_srai_epi32(_mm_slli_epi32(x, 16), 16);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packs_epi32(halves[0], halves[1]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_packs_epi32(halves[2], halves[3]));
  dOut = d + 32;
  return true;
}

// The sum of four unsigned 32-bit lanes.
inline size_t SumOfLanes(__m128i v) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i sum = _mm_add_epi64(_mm_unpacklo_epi32(v, zero), _mm_unpackhi_epi32(v, zero));
  uint64_t halves[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), sum);
  return size_t(halves[0] + halves[1]);
}

// Adds to `total` the bytes of the elements from `s` in blocks of 16, as long as
// blocks remain before `end` and hold no value above 0x7FFFFFFF (it needs its
// report); leaves `s` after the last block measured. An element takes one byte plus
// one for each of the thresholds 0x7F, 0x7FF, ... that it lies above: the first two
// compared in 16-bit lanes (values from 0x8000 saturate to 0x7FFF, still above
// both), the others only where blocks reach 0x10000. Up to kFold blocks are taken
// at once, first without a branch as if all were below 0x10000, and again block by
// block when some were not; their lane sums (at most 12 a lane a block) are then
// folded into `total`.
inline void MeasureBlocks(const wchar_t*& sInOut, const wchar_t* end, size_t& total) {
  constexpr std::ptrdiff_t kFold = 256;
  const __m128i zero = _mm_setzero_si128();
  const auto countNarrow = [](const __m128i* v, __m128i& narrow) {
    const __m128i t1 = _mm_set1_epi16(0x7F);
    const __m128i t2 = _mm_set1_epi16(0x7FF);
    for (const __m128i& x : {_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3])}) {
      narrow = _mm_sub_epi16(narrow, _mm_cmpgt_epi16(x, t1));
      narrow = _mm_sub_epi16(narrow, _mm_cmpgt_epi16(x, t2));
    }
  };
  const wchar_t* s = sInOut;
  bool outOfRange = false;
  while (end - s >= 16 && !outOfRange) {
    const wchar_t* const first = s;
    const wchar_t* const stop = s + 16 * std::min(kFold, (end - s) / 16);
    __m128i narrow = zero;  // extra bytes, 16-bit lanes
    __m128i wide = zero;    // extra bytes, 32-bit lanes
    __m128i any = zero;
    __m128i v[4];
    for (; s < stop; s += 16) {
      any = _mm_or_si128(any, LoadBlock16(s, v[0], v[1], v[2], v[3]));
      countNarrow(v, narrow);
    }
    if (!AllBelow(any, 0x10000)) {
      s = first;
      narrow = zero;
      for (; s < stop; s += 16) {
        any = LoadBlock16(s, v[0], v[1], v[2], v[3]);
        if (!AllBelow(any, 0x10000)) {
          if (_mm_movemask_ps(_mm_castsi128_ps(any)) != 0) {
            outOfRange = true;
            break;
          }
          for (const int t : {0xFFFF, 0x1FFFFF, 0x3FFFFFF}) {
            for (const __m128i& x : v)
              wide = _mm_sub_epi32(wide, _mm_cmpgt_epi32(x, _mm_set1_epi32(t)));
          }
        }
        countNarrow(v, narrow);
      }
    }
    wide = _mm_add_epi32(wide, _mm_madd_epi16(narrow, _mm_set1_epi16(1)));
    total += size_t(s - first) + SumOfLanes(wide);
  }
  sInOut = s;
}
#endif

// A value out of range is reported when measured, and counts one byte for the '?'
// that converting writes in its place.
__attribute__((noinline, cold)) size_t MeasureOutOfRange(wchar_t value) {
  utf8_wctombc(nullptr, nullptr, value, true);
  return 1;
}

// The bytes that [begin, end) needs, stopping before the first character that
// would take the total past `limit` (reported).
size_t SizeOfUtf8(const wchar_t* begin, const wchar_t* end, size_t limit) {
  if (begin == nullptr) return 0;
  size_t total = 0;
  const wchar_t* s = begin;
  while (s < end) {
    // Elements that cannot take the total past the limit even at six bytes each need
    // no check: blocks, and one by one what they leave (the last elements, or a
    // block holding a value out of range, which is reported).
    const size_t unchecked = std::min(size_t(end - s), (limit - total) / kLongestSequence);
    if (unchecked != 0) {
      for (const wchar_t* const stop = s + unchecked; s < stop;) {
#if defined(QEL_UTF8_SSE2)
        MeasureBlocks(s, stop, total);
#endif
        for (const wchar_t* const next = stop - s > 16 ? s + 16 : stop; s < next; ++s) {
          const size_t length = EncodedLength(uint32_t(*s));
          total += length != 0 ? length : MeasureOutOfRange(*s);
        }
      }
      continue;
    }
    size_t length = EncodedLength(uint32_t(*s));
    if (length == 0) length = MeasureOutOfRange(*s);
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

// Writes the encoding of `v` (at least 0x80) at `d` and returns the position after
// it; the two- and three-byte forms are each written with one store (little-endian
// order as in memory). A value above 0x7FFFFFFF becomes '?', or gives null under
// k_STOP. With `kCovered` a three-byte form is stored as four bytes, for use where
// what follows is written next and covers the extra byte.
// REQUIRES: room for six bytes, or for the two or three of a value below 0x10000
// (four with kCovered).
template <OutOfRangeRule kRule, bool kCovered = false>
inline uint8_t* EncodeMultibyte(uint8_t* d, uint32_t v) {
  if (v < 0x800) {
    const uint16_t x = uint16_t(0x80C0 | (v >> 6) | ((v & 0x3F) << 8));
    std::memcpy(d, &x, 2);
    return d + 2;
  }
  if (v < 0x10000) {
    const uint32_t x = 0x8080E0 | (v >> 12) | ((v << 2) & 0x3F00) | ((v << 16) & 0x3F0000);
    std::memcpy(d, &x, kCovered ? 4 : 3);
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

// EncodeMultibyte for any value.
template <OutOfRangeRule kRule, bool kCovered = false>
inline uint8_t* Encode(uint8_t* d, uint32_t v) {
  if (v < 0x80) {
    *d = uint8_t(v);
    return d + 1;
  }
  return EncodeMultibyte<kRule, kCovered>(d, v);
}

#if defined(QEL_UTF8_SSE2)
// The blocks of 16 elements of EncodeInto, kept out of line so that short texts do
// not pay for their setup.
template <OutOfRangeRule kRule>
__attribute__((noinline)) uint8_t* EncodeBlocks(const wchar_t*& sInOut, const wchar_t* end,
                                                uint8_t* d, const uint8_t* destEnd) {
  const wchar_t* s = sInOut;
  uint8_t* next;
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
    // Runs of one form are tried only where the block starts and ends in the same
    // form, which a mixed text seldom does.
    const uint32_t head = uint32_t(s[0]), tail = uint32_t(s[kBlock - 1]);
    const bool sameEnds = head >= 0x80 && tail >= 0x80 && (head < 0x800) == (tail < 0x800);
    if (longest <= 3 && sameEnds && EncodeUniformBlock16(s, d, orOfAll)) {
      s += kBlock;
      continue;
    }
    if (longest <= 3 && destEnd - d >= std::ptrdiff_t(kBlock * 3 + 4)) {
      // Mixed text of one to three bytes an element: four at a time, without a
      // branch unless all four are ASCII. The bytes that each group stores past
      // itself are covered by the next.
      for (int group = 0; group < 3; ++group) {
        d += EncodeMixedGroup4<false>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), d);
        s += 4;
      }
      d += EncodeMixedGroup4<true>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), d);
      s += 4;
      continue;
    }
    // All but the last element may write one byte too many, which the next one
    // covers. A value out of range stops the blocks under k_STOP.
    const wchar_t* const last = s + kBlock - 1;
    for (; s < last; ++s, d = next) {
      if ((next = Encode<kRule, true>(d, uint32_t(*s))) == nullptr) break;
    }
    if (s < last || (next = Encode<kRule>(d, uint32_t(*s))) == nullptr) break;
    d = next;
    ++s;
  }
  sInOut = s;
  return d;
}

// Encodes four elements below 0x10000 that all take three bytes (CJK); returns
// false, writing nothing, for any other four. (Four two-byte elements are left to
// the general loop: the extra test costs mixed text more than it saves Greek.)
inline bool EncodeThreeByteGroup4(__m128i v, uint8_t* d) {
  if (_mm_movemask_epi8(_mm_cmpgt_epi32(v, _mm_set1_epi32(0x7FF))) != 0xFFFF) return false;
  StoreThreeByteGroup4(v, d);
  return true;
}

// Texts shorter than a block take a simpler loop: for a few characters any wider
// setup costs more than it saves, and a loop that calls nothing keeps the whole call
// free of register saves. It encodes elements below 0x10000 whose bytes fit whole
// (with `kCheckRoom`; else the caller guarantees three bytes an element) and
// returns the first element it leaves to the general loop: `end`, one that does not
// fit, or one of four bytes or more. Four elements at a time while the room holds
// three bytes each (ASCII or CJK at once, others one by one without checks), then
// one by one. Nothing is stored past the bytes written.
template <bool kCheckRoom>
__attribute__((always_inline)) inline const wchar_t* EncodeShortRun(const wchar_t* s,
                                                                    const wchar_t* end,
                                                                    uint8_t*& dInOut,
                                                                    const uint8_t* destEnd) {
  uint8_t* d = dInOut;
  while (end - s >= 4 && (!kCheckRoom || destEnd - d >= 12)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    if (AllBelow(v, 0x80)) {
      StoreAscii4(v, d);
      s += 4;
      d += 4;
      continue;
    }
    if (!AllBelow(v, 0x10000)) break;
    if (EncodeThreeByteGroup4(v, d)) {
      d += 12;
      s += 4;
      continue;
    }
    d = Encode<k_REPLACE, true>(d, uint32_t(s[0]));
    d = Encode<k_REPLACE, true>(d, uint32_t(s[1]));
    d = Encode<k_REPLACE, true>(d, uint32_t(s[2]));
    d = Encode<k_REPLACE>(d, uint32_t(s[3]));
    s += 4;
  }
  for (; s < end; ++s) {
    const uint32_t v = uint32_t(*s);
    if (v >= 0x10000) break;
    if (kCheckRoom && destEnd - d < (v < 0x80 ? 1 : v < 0x800 ? 2 : 3)) break;
    d = Encode<k_REPLACE>(d, v);
  }
  dInOut = d;
  return s;
}

#endif

// Encodes from `s` while it is before `end` and at least one byte is free; stops
// before an element whose encoding does not fit whole (and under k_STOP before a
// value out of range). Returns the bytes written, with `s` left at the first element
// not converted.
template <OutOfRangeRule kRule>
__attribute__((always_inline)) inline size_t EncodeInto(const wchar_t*& sInOut, const wchar_t* end,
                                                        uint8_t* d, const uint8_t* destEnd) {
  const wchar_t* s = sInOut;
  uint8_t* const first = d;
  uint8_t* next;
#if defined(QEL_UTF8_SSE2)
  if (end - s >= std::ptrdiff_t(kBlock)) d = EncodeBlocks<kRule>(s, end, d, destEnd);
#endif
  while (s < end) {
#if defined(QEL_UTF8_SSE2)
    // Runs of elements below 0x10000 at once; an element that ends one takes the
    // general way below.
    s = EncodeShortRun<true>(s, end, d, destEnd);
    if (s == end) break;
#endif
    const uint32_t v = uint32_t(*s);
    if (destEnd - d >= std::ptrdiff_t(kLongestSequence)) {
      if ((next = Encode<kRule>(d, v)) == nullptr) break;
      d = next;
    } else {
      if (d == destEnd || (kRule == k_STOP && v > 0x7FFFFFFF)) break;
      const int length = utf8_wctombc(d, destEnd, wchar_t(v), false);
      if (length == -2) break;
      if (length == -1) {
        osdep::OutputAssertion("length != -1", "invalid unicode", kFile, __LINE__);
        *d++ = '?';
      } else {
        d += length;
      }
    }
    ++s;
  }
  sInOut = s;
  return size_t(d - first);
}

// Copies the `n` bytes of a short text from the stack to its array in moves of 16,
// 8 or 4 bytes, the last one overlapping the one before: cheaper than a call for a
// few dozen bytes.
inline void CopyShortText(uint8_t* dst, const uint8_t* src, size_t n) {
  if (n >= 16) {
    for (size_t i = 0; i + 16 <= n; i += 16) std::memcpy(dst + i, src + i, 16);
    std::memcpy(dst + n - 16, src + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + n - 8, src + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + n - 4, src + n - 4, 4);
  } else {
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

// A new array holding the `n` bytes at `local` and a terminator.
inline unsigned char* NewTerminatedCopy(const uint8_t* local, size_t n) {
  unsigned char* result = new unsigned char[n + 1];
  CopyShortText(result, local, n);
  result[n] = 0;
  return result;
}

// The allocating encode where the loop for short texts did not take the whole text.
// A text of up to kShortText elements is encoded once into the stack and copied,
// when it fits there and holds no value out of range (whose reports come from
// measuring); any other is measured first. Out of line, so that the shortest texts
// do not pay for its registers.
__attribute__((noinline)) unsigned char* EncodeLongerText(const wchar_t* begin,
                                                          const wchar_t* end) {
  if (end - begin <= std::ptrdiff_t(kShortText)) {
    uint8_t local[kShortTextBytes];
    const wchar_t* s = begin;
    const size_t written = EncodeInto<k_STOP>(s, end, local, local + kShortTextBytes);
    if (s == end) return NewTerminatedCopy(local, written);
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

// The loop shared by the throwing and the stopping buffer-filling forms.
__attribute__((always_inline)) inline size_t FillBuffer(const wchar_t*& begin, const wchar_t* end,
                                                        unsigned char* destBegin,
                                                        const unsigned char* destEnd) {
  if (destBegin == nullptr || destBegin > destEnd) ThrowInvalidArgument(__LINE__);
  if (destBegin == destEnd) osdep::OutputAssertion("destBegin < destEnd", "", kFile, __LINE__);
  if (begin == nullptr) return 0;
  return EncodeInto<k_REPLACE>(begin, end, destBegin, destEnd);
}

__attribute__((noinline)) size_t FillBufferOrThrow(const wchar_t* begin, const wchar_t* end,
                                                   unsigned char* destBegin,
                                                   const unsigned char* destEnd) {
  const size_t written = FillBuffer(begin, end, destBegin, destEnd);
  if (begin != nullptr && begin < end) ThrowBufferOverflow(__LINE__);
  return written;
}

__attribute__((noinline)) size_t FillBufferOrStop(const wchar_t*& begin, const wchar_t* end,
                                                  unsigned char* destBegin,
                                                  const unsigned char* destEnd) {
  return FillBuffer(begin, end, destBegin, destEnd);
}

// A text shorter than a block, with a usable destination, that EncodeShortRun takes
// whole: the common case of the buffer-filling forms, done without any register to
// save. False leaves the whole text to the general path, which then starts over
// (writing the same bytes again) and does every check and report.
__attribute__((always_inline)) inline bool FillShort(const wchar_t* begin, const wchar_t* end,
                                                     unsigned char* destBegin,
                                                     const unsigned char* destEnd,
                                                     size_t& written) {
#if defined(QEL_UTF8_SSE2)
  if (begin == nullptr || destBegin == nullptr || destBegin >= destEnd ||
      end - begin >= std::ptrdiff_t(kBlock)) {
    return false;
  }
  uint8_t* d = destBegin;
  if (EncodeShortRun<true>(begin, end, d, destEnd) != end) return false;
  written = size_t(d - destBegin);
  return true;
#else
  (void)begin, (void)end, (void)destBegin, (void)destEnd, (void)written;
  return false;
#endif
}

}  // namespace

unsigned char* WideToUtf8(const wchar_t* text) {
  return WideToUtf8(text, text == nullptr ? nullptr : text + std::wcslen(text));
}

unsigned char* WideToUtf8(const wchar_t* begin, const wchar_t* end) {
  if (begin == nullptr) return new unsigned char[1]();
    // Below a block three bytes an element always fit the stack; values out of range
    // are left to the general path, whose measuring reports them.
#if defined(QEL_UTF8_SSE2)
  if (end - begin < std::ptrdiff_t(kBlock)) {
    uint8_t local[3 * kBlock];
    uint8_t* d = local;
    if (EncodeShortRun<false>(begin, end, d, nullptr) == end) {
      return NewTerminatedCopy(local, size_t(d - local));
    }
  }
#endif
  return EncodeLongerText(begin, end);
}

size_t WideToUtf8(const wchar_t* begin, const wchar_t* end, unsigned char* destBegin,
                  const unsigned char* destEnd) {
  size_t written;
  if (FillShort(begin, end, destBegin, destEnd, written)) return written;
  return FillBufferOrThrow(begin, end, destBegin, destEnd);
}

size_t WideToUtf8NoOverflow(const wchar_t*& begin, const wchar_t* end, unsigned char* destBegin,
                            const unsigned char* destEnd) {
  size_t written;
  if (FillShort(begin, end, destBegin, destEnd, written)) {
    begin = end;
    return written;
  }
  return FillBufferOrStop(begin, end, destBegin, destEnd);
}

size_t GetUtf8EncodingBytes(const wchar_t* text) {
  if (text == nullptr) return 0;
  return SizeOfUtf8(text, text + std::wcslen(text), std::numeric_limits<size_t>::max());
}

size_t GetUtf8EncodingBytes(const wchar_t* begin, const wchar_t* end) {
  return SizeOfUtf8(begin, end, std::numeric_limits<size_t>::max());
}

size_t GetUtf8EncodingBytesWithBufferLimit(const wchar_t* begin, const wchar_t* end, size_t limit) {
  return SizeOfUtf8(begin, end, limit);
}

}  // namespace vo::qel
