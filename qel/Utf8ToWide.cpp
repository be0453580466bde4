#include "qel/Utf8ToWide.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

// QEL_UTF8_PORTABLE leaves out the SSE2 path, as on processors without it.
#if defined(__SSE2__) && !defined(QEL_UTF8_PORTABLE)
#include <emmintrin.h>
#define QEL_UTF8_SSE2 1
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QEL_UTF8_WORD_LOADS 1
#endif

#include "qel/SafeInteger.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {
namespace {

const char kFile[] = "Utf8ToWide";

// Texts up to this many bytes are decoded once, into the stack, without the counting
// pass.
constexpr size_t kShortText = 128;

// Length of the sequence a lead byte announces; 0 for bytes that never start one
// (continuation bytes, the overlong leads 0xC0 and 0xC1, 0xFE and 0xFF).
constexpr std::array<uint8_t, 256> MakeSequenceLengths() {
  std::array<uint8_t, 256> lengths{};
  for (int c = 0; c < 256; ++c) {
    lengths[c] = c < 0x80   ? 1
                 : c < 0xC2 ? 0
                 : c < 0xE0 ? 2
                 : c < 0xF0 ? 3
                 : c < 0xF8 ? 4
                 : c < 0xFC ? 5
                 : c < 0xFE ? 6
                            : 0;
  }
  return lengths;
}
constexpr std::array<uint8_t, 256> kSequenceLength = MakeSequenceLengths();

// Indexed by sequence length: the payload bits of the lead byte, and the smallest
// code point that needs that many bytes (anything below is an overlong form).
constexpr uint32_t kLeadPayload[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
constexpr uint32_t kSmallest[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

[[noreturn]] __attribute__((noinline, cold)) void ThrowInvalidSequence(uint32_t line) {
  throw AddFileAndLineInfo(exception::InvalidSequence(), kFile, line);
}

[[noreturn]] __attribute__((noinline, cold)) void ThrowBufferOverflow(uint32_t line) {
  throw AddFileAndLineInfo(exception::BufferOverflow(), kFile, line);
}

[[noreturn]] __attribute__((noinline, cold)) void ThrowInvalidArgument(uint32_t line) {
  throw AddFileAndLineInfo(exception::InvalidArgument(), kFile, line);
}

// Decodes the sequence at `p` one byte at a time. Returns its length, or 0 when it
// is invalid. Reads no byte at or past `end` (the caller ensures p < end).
size_t DecodeBytewise(const uint8_t* p, const uint8_t* end, uint32_t& value) {
  const size_t length = kSequenceLength[p[0]];
  if (length == 0 || size_t(end - p) < length) return 0;
  uint32_t v = p[0] & kLeadPayload[length];
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (p[i] & 0x3F);
  }
  if (v < kSmallest[length]) return 0;
  value = v;
  return length;
}

#if defined(QEL_UTF8_WORD_LOADS)
inline uint32_t Load32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof(w));
  return w;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof(w));
  return w;
}

// The up to four bytes from `p` before `end` as a little-endian word. Missing bytes
// read as 0, which is no continuation byte, so a cut sequence fails its checks.
inline uint32_t LoadUpTo4(const uint8_t* p, const uint8_t* end) {
  if (end - p >= 4) return Load32(p);
  uint32_t w = p[0];
  if (end - p > 1) w |= uint32_t(p[1]) << 8;
  if (end - p > 2) w |= uint32_t(p[2]) << 16;
  return w;
}

// Decodes the sequence at `p` whose first four bytes are `w` (lead byte at least
// 0x80 in the low byte). Returns its length, or 0 when it is invalid. The two-,
// three- and four-byte forms are checked within the word: the structure by mask and compare,
// overlong forms by the top five payload bits being zero. Five- and six-byte forms
// go byte by byte.
inline size_t DecodeWord(uint32_t w, const uint8_t* p, const uint8_t* end, uint32_t& value) {
  const uint32_t c = w & 0xFF;
  if (c < 0xE0) {
    if ((w & 0xC0E0) != 0x80C0 || (w & 0x1E) == 0) return 0;
    value = ((c & 0x1F) << 6) | ((w >> 8) & 0x3F);
    return 2;
  }
  if (c < 0xF0) {
    if ((w & 0xC0C0F0) != 0x8080E0 || (w & 0x200F) == 0) return 0;
    value = ((c & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F);
    return 3;
  }
  if (c < 0xF8) {
    if ((w & 0xC0C0C0F8) != 0x808080F0 || (w & 0x3007) == 0) return 0;
    value = ((c & 0x07) << 18) | ((w << 4) & 0x3F000) | ((w >> 10) & 0xFC0) | ((w >> 24) & 0x3F);
    return 4;
  }
  return DecodeBytewise(p, end, value);
}

// Two two-byte sequences in a row (Greek, Cyrillic, accented Latin), checked and
// decoded from one word. False when the next two characters are not both of that
// form or one of them is invalid; the single-character path then decides.
inline bool DecodeTwoBytePair(uint64_t w, wchar_t* d) {
  if ((w & 0xC0E0C0E0) != 0x80C080C0) return false;
  if ((w & 0x1E) == 0 || (w & 0x1E0000) == 0) return false;
  d[0] = wchar_t(((w & 0x1F) << 6) | ((w >> 8) & 0x3F));
  d[1] = wchar_t(((w >> 10) & 0x7C0) | ((w >> 24) & 0x3F));
  return true;
}

// Two three-byte sequences in a row (CJK), as DecodeTwoBytePair.
inline bool DecodeThreeBytePair(uint64_t w, wchar_t* d) {
  if ((w & 0xC0C0F0C0C0F0) != 0x8080E08080E0) return false;
  if ((w & 0x200F) == 0 || (w & 0x200F000000) == 0) return false;
  d[0] = wchar_t(((w & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F));
  d[1] = wchar_t(((w >> 12) & 0xF000) | ((w >> 26) & 0xFC0) | ((w >> 40) & 0x3F));
  return true;
}
#endif

// Decodes the sequence at `p` (lead byte at least 0x80, p < end). Returns its
// length, or 0 when it is invalid.
inline size_t DecodeMultibyte(const uint8_t* p, const uint8_t* end, uint32_t& value) {
#if defined(QEL_UTF8_WORD_LOADS)
  return DecodeWord(LoadUpTo4(p, end), p, end, value);
#else
  return DecodeBytewise(p, end, value);
#endif
}

#if defined(QEL_UTF8_SSE2) && defined(QEL_UTF8_WORD_LOADS)
#define QEL_UTF8_BLOCKS 1
constexpr std::ptrdiff_t kBlock = 16;
// Blocks are decoded only where seven more bytes follow them (for word loads), so
// shorter texts never reach them.
constexpr std::ptrdiff_t kShortestBlocked = kBlock + 7;

inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Widens the leading bytes below 0x80 of the 16 at `p` into `d` and returns how many
// there were. Nothing is stored past them: the caller's buffer beyond what a
// conversion reports as written stays untouched.
inline size_t WidenAsciiPrefix16(const uint8_t* p, wchar_t* d) {
  const __m128i bytes = Load128(p);
  const unsigned mask = unsigned(_mm_movemask_epi8(bytes));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_unpacklo_epi8(bytes, zero);
  const __m128i high = _mm_unpackhi_epi8(bytes, zero);
  __m128i w0 = _mm_unpacklo_epi16(low, zero);
  __m128i w1 = _mm_unpackhi_epi16(low, zero);
  __m128i w2 = _mm_unpacklo_epi16(high, zero);
  __m128i w3 = _mm_unpackhi_epi16(high, zero);
  __m128i* out = reinterpret_cast<__m128i*>(d);
  if (mask == 0) {
    _mm_storeu_si128(out, w0);
    _mm_storeu_si128(out + 1, w1);
    _mm_storeu_si128(out + 2, w2);
    _mm_storeu_si128(out + 3, w3);
    return 16;
  }
  const size_t n = size_t(__builtin_ctz(mask));
  if (n & 8) {
    _mm_storeu_si128(out, w0);
    _mm_storeu_si128(out + 1, w1);
    out += 2;
    w0 = w2;
    w1 = w3;
  }
  if (n & 4) {
    _mm_storeu_si128(out, w0);
    ++out;
    w0 = w1;
  }
  wchar_t* rest = reinterpret_cast<wchar_t*>(out);
  if (n & 2) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(rest), w0);
    rest += 2;
    w0 = _mm_srli_si128(w0, 8);
  }
  if (n & 1) *rest = wchar_t(_mm_cvtsi128_si32(w0));
  return n;
}

// The bytes among the 16 in `cur` (read at `p`) that break a rule, as 0xFF lanes.
// The five bytes before `p` must belong to the range; they matter only as lead
// bytes whose sequences reach into the block.
inline __m128i BlockErrors(const uint8_t* p, __m128i cur) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i back1 = Load128(p - 1);
  const __m128i back5 = Load128(p - 5);
  // Lead bytes of four to six bytes (0xF0 and above) are rare; without one in the
  // window from five bytes back to the end of the block, only the two bytes before a
  // byte can announce it, and neither 0xFE nor 0xFF nor their overlong forms occur.
  const bool longForms =
      _mm_movemask_epi8(_mm_cmpeq_epi8(
          _mm_subs_epu8(_mm_max_epu8(cur, back5), _mm_set1_epi8(char(0xEF))), zero)) != 0xFFFF;
  // A byte must be a continuation byte exactly when a lead byte announces it: one
  // at least 0xC0 one byte back, 0xE0 two back, 0xF0 three, 0xF8 four, 0xFC five.
  // Saturating subtraction leaves a non-zero lane only where the lead is that high.
  __m128i reach = _mm_or_si128(_mm_subs_epu8(back1, _mm_set1_epi8(char(0xBF))),
                               _mm_subs_epu8(Load128(p - 2), _mm_set1_epi8(char(0xDF))));
  if (longForms) {
    reach = _mm_or_si128(
        reach, _mm_or_si128(_mm_or_si128(_mm_subs_epu8(Load128(p - 3), _mm_set1_epi8(char(0xEF))),
                                         _mm_subs_epu8(Load128(p - 4), _mm_set1_epi8(char(0xF7)))),
                            _mm_subs_epu8(back5, _mm_set1_epi8(char(0xFB)))));
  }
  const __m128i notAnnounced = _mm_cmpeq_epi8(reach, zero);
  // 0x80-0xBF are the smallest bytes when read as signed.
  const __m128i continuation = _mm_cmplt_epi8(cur, _mm_set1_epi8(char(0xC0)));
  __m128i errors = _mm_cmpeq_epi8(continuation, notAnnounced);
  // Lead bytes that never start a valid sequence: 0xC0, 0xC1, 0xFE, 0xFF.
  const __m128i even = _mm_and_si128(cur, _mm_set1_epi8(char(0xFE)));
  errors = _mm_or_si128(errors, _mm_cmpeq_epi8(even, _mm_set1_epi8(char(0xC0))));
  // Overlong forms: a lead carrying no payload bits followed by a second byte below
  // 0xA0 (after 0xE0), 0x90 (0xF0), 0x88 (0xF8) or 0x84 (0xFC).
  errors = _mm_or_si128(errors, _mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(char(0xE0))),
                                              _mm_cmplt_epi8(cur, _mm_set1_epi8(char(0xA0)))));
  if (longForms) {
    errors = _mm_or_si128(errors, _mm_cmpeq_epi8(even, _mm_set1_epi8(char(0xFE))));
    errors = _mm_or_si128(errors, _mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(char(0xF0))),
                                                _mm_cmplt_epi8(cur, _mm_set1_epi8(char(0x90)))));
    errors = _mm_or_si128(errors, _mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(char(0xF8))),
                                                _mm_cmplt_epi8(cur, _mm_set1_epi8(char(0x88)))));
    errors = _mm_or_si128(errors, _mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(char(0xFC))),
                                                _mm_cmplt_epi8(cur, _mm_set1_epi8(char(0x84)))));
  }
  return errors;
}

inline size_t SumOfBytes(__m128i v) {
  const __m128i sums = _mm_sad_epu8(v, _mm_setzero_si128());
  return size_t(_mm_cvtsi128_si32(sums)) + size_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}
#endif

// Adds to `n` the characters from `p` that start before `stop`, one by one, and
// leaves `p` after them; false at an invalid one. No byte at or past `end` is read.
inline bool CountEach(const uint8_t*& p, const uint8_t* stop, const uint8_t* end, size_t& n) {
  for (uint32_t value; p < stop; ++n) {
    const size_t length = *p < 0x80 ? 1 : DecodeMultibyte(p, end, value);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

// Counts the code points of [p, end); false when the range holds an invalid
// sequence.
bool CountCodePoints(const uint8_t* p, const uint8_t* end, size_t& count) {
  size_t n = 0;
#if defined(QEL_UTF8_BLOCKS)
  // Blocks of 16 bytes, checked at once against every rule. A block looks five
  // bytes back, so the first characters are counted one by one.
  if (!CountEach(p, end - p > 5 ? p + 5 : end, end, n)) return false;
  if (end - p >= kBlock) {
    const __m128i zero = _mm_setzero_si128();
    __m128i errors = zero;
    __m128i leads = zero;  // per lane, the bytes that start a character
    unsigned blocksInLeads = 0;
    bool open = false;  // a sequence may run on from the previous block
    do {
      const __m128i cur = Load128(p);
      const int high = _mm_movemask_epi8(cur);
      if (high == 0 && !open) {
        n += kBlock;
        p += kBlock;
        continue;
      }
      errors = _mm_or_si128(errors, BlockErrors(p, cur));
      leads = _mm_sub_epi8(leads, _mm_cmpgt_epi8(cur, _mm_set1_epi8(char(0xBF))));
      if (++blocksInLeads == 255) {
        n += SumOfBytes(leads);
        leads = zero;
        blocksInLeads = 0;
      }
      open = high != 0;
      p += kBlock;
    } while (end - p >= kBlock);
    n += SumOfBytes(leads);
    if (_mm_movemask_epi8(errors) != 0) return false;
    if (open) {
      // The last sequence may run past the blocks: step back to its lead byte and
      // count and check it whole below.
      for (std::ptrdiff_t back = 1; back <= 5; ++back) {
        const uint8_t c = p[-back];
        if ((c & 0xC0) != 0x80) {
          if (kSequenceLength[c] > back) {
            p -= back;
            --n;
          }
          break;
        }
      }
    }
  }
#endif
  if (!CountEach(p, end, end, n)) return false;
  count = n;
  return true;
}

#if defined(QEL_UTF8_BLOCKS)
// Four two-byte sequences in a row (a Greek or Cyrillic word), checked and decoded
// from one word of eight bytes, four 16-bit lanes at once. REQUIRES: room for four
// elements. False when the next four characters are not all of that form or one of
// them is invalid.
inline bool DecodeTwoByteQuad(uint64_t w, wchar_t* d) {
  if ((w & 0xC0E0C0E0C0E0C0E0u) != 0x80C080C080C080C0u) return false;
  const __m128i lanes = _mm_set_epi64x(0, int64_t(w));
  if (_mm_movemask_epi8(
          _mm_cmpeq_epi16(_mm_and_si128(lanes, _mm_set1_epi16(0x1E)), _mm_setzero_si128())) &
      0xFF) {
    return false;
  }
  const __m128i value = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(lanes, _mm_set1_epi16(0x1F)), 6),
                                     _mm_and_si128(_mm_srli_epi16(lanes, 8), _mm_set1_epi16(0x3F)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(value, _mm_setzero_si128()));
  return true;
}

// Four three-byte sequences in a row (a run of CJK), checked and decoded four lanes
// at once. REQUIRES: 16 bytes readable at `p`, room for four elements. False when
// the next four characters are not all of that form or one of them is invalid.
inline bool DecodeThreeByteQuad(const uint8_t* p, wchar_t* d) {
  constexpr uint64_t kMask = 0xC0C0F0C0C0F0, kForm = 0x8080E08080E0;
  if ((Load64(p) & kMask) != kForm || (Load64(p + 6) & kMask) != kForm) return false;
  const __m128i w =
      _mm_set_epi32(int(Load32(p + 9)), int(Load32(p + 6)), int(Load32(p + 3)), int(Load32(p)));
  if (_mm_movemask_epi8(
          _mm_cmpeq_epi32(_mm_and_si128(w, _mm_set1_epi32(0x200F)), _mm_setzero_si128())) != 0) {
    return false;
  }
  const __m128i value =
      _mm_or_si128(_mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x0F)), 12),
                   _mm_or_si128(_mm_and_si128(_mm_srli_epi32(w, 2), _mm_set1_epi32(0xFC0)),
                                _mm_and_si128(_mm_srli_epi32(w, 16), _mm_set1_epi32(0x3F))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), value);
  return true;
}

// Decodes the characters that start before `stop`, from text in which a word of
// eight bytes may be read at any position before `stop`; `end` bounds the five- and
// six-byte forms. The destination needs room for four elements more than the bytes
// before `stop`, as a pair or a quad may finish past it. Returns the position
// reached, which is where an invalid sequence starts when `failed` is set.
inline const uint8_t* DecodeRun(const uint8_t* p, const uint8_t* stop, const uint8_t* end,
                                wchar_t*& dOut, bool& failed) {
  wchar_t* d = dOut;
  do {
    const uint32_t c = *p;
    if (c < 0x80) {
      *d++ = wchar_t(c);
      ++p;
      continue;
    }
    const uint64_t w = Load64(p);
    if (c < 0xE0) {
      if (DecodeTwoByteQuad(w, d)) {
        d += 4;
        p += 8;
        continue;
      }
      if (DecodeTwoBytePair(w, d)) {
        d += 2;
        p += 4;
        continue;
      }
    } else if (c < 0xF0) {
      if (end - p >= 16 && DecodeThreeByteQuad(p, d)) {
        d += 4;
        p += 12;
        continue;
      }
      if (DecodeThreeBytePair(w, d)) {
        d += 2;
        p += 6;
        continue;
      }
    }
    uint32_t value;
    const size_t length = DecodeWord(uint32_t(w), p, end, value);
    if (length == 0) {
      failed = true;
      break;
    }
    *d++ = wchar_t(value);
    p += length;
  } while (p < stop);
  dOut = d;
  return p;
}

#else
constexpr std::ptrdiff_t kShortestBlocked = PTRDIFF_MAX;
#endif

// Decodes characters one at a time (a pair of like ones, or eight ASCII bytes, at
// once where they are there) while `p` is before `end` and, with `kCheckRoom`, the
// destination has room; without it the caller guarantees an element per byte.
// Words are read only as far as the range goes.
template <bool kCheckRoom>
__attribute__((always_inline)) inline const uint8_t* DecodeTail(const uint8_t* p,
                                                                const uint8_t* end, wchar_t*& dOut,
                                                                const wchar_t* destEnd,
                                                                bool& failed) {
  wchar_t* d = dOut;
  while (p < end && (!kCheckRoom || d < destEnd)) {
    const uint32_t c = *p;
#if defined(QEL_UTF8_WORD_LOADS)
    const bool wordFits = end - p >= 8;
    const uint64_t w = wordFits ? Load64(p) : 0;
#endif
    if (c < 0x80) {
#if defined(QEL_UTF8_BLOCKS)
      if (wordFits && (w & 0x8080808080808080u) == 0 && (!kCheckRoom || destEnd - d >= 8)) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i wide = _mm_unpacklo_epi8(_mm_set_epi64x(0, int64_t(w)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(wide, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4), _mm_unpackhi_epi16(wide, zero));
        d += 8;
        p += 8;
        continue;
      }
#endif
      *d++ = wchar_t(c);
      ++p;
      continue;
    }
#if defined(QEL_UTF8_WORD_LOADS)
    if (wordFits && (!kCheckRoom || destEnd - d >= 2) &&
        (c < 0xE0 ? DecodeTwoBytePair(w, d) : DecodeThreeBytePair(w, d))) {
      d += 2;
      p += c < 0xE0 ? 4 : 6;
      continue;
    }
#endif
    uint32_t value;
    const size_t length = DecodeMultibyte(p, end, value);
    if (length == 0) {
      failed = true;
      break;
    }
    *d++ = wchar_t(value);
    p += length;
  }
  dOut = d;
  return p;
}

#if defined(QEL_UTF8_BLOCKS)
// The blocks of 16 bytes of DecodeInto, kept out of line so that short texts do not
// pay for their setup: the run of ASCII at the front of a block widened at once, the
// rest one character (or a pair of like characters) at a time.
__attribute__((noinline)) const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end,
                                                      wchar_t*& dOut, const wchar_t* destEnd,
                                                      bool& failed) {
  wchar_t* d = dOut;
  while (end - p >= kBlock && destEnd - d >= kBlock) {
    const size_t ascii = WidenAsciiPrefix16(p, d);
    const uint8_t* const blockEnd = p + kBlock;
    p += ascii;
    d += ascii;
    if (p == blockEnd) continue;
    if (end - blockEnd < 7 || destEnd - d < blockEnd - p + 4) break;
    p = DecodeRun(p, blockEnd, end, d, failed);
    if (failed) break;
  }
  dOut = d;
  return p;
}
#endif

// Decodes from `p` while it is before `end` and the destination has room for one
// element. Returns the number of elements written, with `p` left at the first byte
// not converted and `invalid` set when conversion stopped at an invalid sequence.
__attribute__((always_inline)) inline size_t DecodeInto(const uint8_t*& pInOut, const uint8_t* end,
                                                        wchar_t* d, const wchar_t* destEnd,
                                                        bool& invalid) {
  const uint8_t* p = pInOut;
  wchar_t* const first = d;
  invalid = false;
#if defined(QEL_UTF8_BLOCKS)
  if (end - p >= kShortestBlocked && destEnd - d >= kBlock) {
    p = DecodeBlocks(p, end, d, destEnd, invalid);
  }
#endif
  // The last bytes, or where the room is short.
  if (!invalid && p < end) {
    p = destEnd - d >= end - p ? DecodeTail<false>(p, end, d, destEnd, invalid)
                               : DecodeTail<true>(p, end, d, destEnd, invalid);
  }
  pInOut = p;
  return size_t(d - first);
}

// The loop shared by the throwing and the stopping buffer-filling forms.
__attribute__((always_inline)) inline size_t FillBuffer(const uint8_t*& begin, const uint8_t* end,
                                                        wchar_t* destBegin,
                                                        const wchar_t* destEnd) {
  if (destBegin == nullptr || destBegin > destEnd) ThrowInvalidArgument(__LINE__);
  if (destBegin == destEnd) osdep::OutputAssertion("destBegin < destEnd", "", kFile, __LINE__);
  if (begin == nullptr) return 0;
  bool invalid;
  const size_t written = DecodeInto(begin, end, destBegin, destEnd, invalid);
  if (invalid) ThrowInvalidSequence(__LINE__);
  return written;
}

__attribute__((noinline)) size_t FillBufferOrThrow(const uint8_t* begin, const uint8_t* end,
                                                   wchar_t* destBegin, const wchar_t* destEnd) {
  const size_t written = FillBuffer(begin, end, destBegin, destEnd);
  if (begin != nullptr && begin < end) ThrowBufferOverflow(__LINE__);
  return written;
}

__attribute__((noinline)) size_t FillBufferOrStop(const uint8_t*& begin, const uint8_t* end,
                                                  wchar_t* destBegin, const wchar_t* destEnd) {
  return FillBuffer(begin, end, destBegin, destEnd);
}

// A text too short for a block, with room for an element a byte: the common case of
// the buffer-filling forms, decoded by a loop that calls nothing and so saves no
// register. False leaves the whole text to the general path, which then starts over
// and does every check, report and exception.
__attribute__((always_inline)) inline bool FillShort(const uint8_t* begin, const uint8_t* end,
                                                     wchar_t* destBegin, const wchar_t* destEnd,
                                                     size_t& written) {
  if (begin == nullptr || destBegin == nullptr || destBegin >= destEnd ||
      end - begin >= kShortestBlocked || destEnd - destBegin < end - begin) {
    return false;
  }
  wchar_t* d = destBegin;
  bool invalid = false;
  DecodeTail<false>(begin, end, d, destEnd, invalid);
  if (invalid) return false;
  written = size_t(d - destBegin);
  return true;
}

// Copies the `n` (at least one) elements of a short text from the stack to its
// array. Up to 32 elements it takes two fixed-size moves that may overlap, chosen by
// n's order of magnitude: a call of memcpy costs more than the whole copy there.
inline void CopyShortText(wchar_t* dst, const wchar_t* src, size_t n) {
  constexpr size_t kSize = sizeof(wchar_t);
  if (n > 32) {
    std::memcpy(dst, src, n * kSize);
  } else if (n >= 16) {
    __builtin_memcpy(dst, src, 16 * kSize);
    __builtin_memcpy(dst + n - 16, src + n - 16, 16 * kSize);
  } else if (n >= 8) {
    __builtin_memcpy(dst, src, 8 * kSize);
    __builtin_memcpy(dst + n - 8, src + n - 8, 8 * kSize);
  } else if (n >= 4) {
    __builtin_memcpy(dst, src, 4 * kSize);
    __builtin_memcpy(dst + n - 4, src + n - 4, 4 * kSize);
  } else {
    // One to three elements: the first, the middle and the last cover them all.
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

// Decodes one character: stores its code point in `*out` (unless only counting) and
// returns its length in bytes, 1 to 6. Throws InvalidSequence for an invalid or cut
// sequence.
size_t utf8_mbctowc(wchar_t* out, const unsigned char* source, const unsigned char* end,
                    bool countOnly) {
  *out = 0;
  uint32_t value = source[0];
  const size_t length = value < 0x80 ? 1 : DecodeMultibyte(source, end, value);
  if (length == 0) ThrowInvalidSequence(__LINE__);
  if (!countOnly) *out = wchar_t(value);
  return length;
}

// The allocating decode of a text of up to kShortText bytes: decoded once into the
// stack and copied. As many elements as bytes always suffice, and nothing is
// allocated before the text proved valid. With `kBlocks` the text may be long
// enough for blocks; without, it takes the tail loop alone, which saves the
// registers the call of the blocks would need.
template <bool kBlocks>
__attribute__((always_inline)) inline wchar_t* DecodeShortText(const uint8_t* source,
                                                               const uint8_t* end) {
  wchar_t local[kShortText + 1];
  wchar_t* d = local;
  bool invalid = false;
  if (kBlocks) {
    const uint8_t* p = source;
    d += DecodeInto(p, end, local, local + (end - source), invalid);
  } else {
    DecodeTail<false>(source, end, d, local + (end - source), invalid);
  }
  if (invalid) ThrowInvalidSequence(__LINE__);
  *d = 0;  // copied with the text
  const size_t count = size_t(d - local) + 1;
  wchar_t* result = new wchar_t[count];
  CopyShortText(result, local, count);
  return result;
}

// The allocating decode of a text too long for the tail loop alone. One longer than
// kShortText is counted first, which proves it valid, into an array of the exact
// size.
__attribute__((noinline)) wchar_t* DecodeLongerText(const uint8_t* source, const uint8_t* end) {
  if (end - source <= std::ptrdiff_t(kShortText)) return DecodeShortText<true>(source, end);
  size_t count = 0;
  if (!CountCodePoints(source, end, count)) ThrowInvalidSequence(__LINE__);

  // Both the element count and the size in bytes of the array must fit.
  SafeInteger<size_t> elements(count);
  elements.add(1);
  SafeInteger<size_t>::Multiply(elements, sizeof(wchar_t));
  std::unique_ptr<wchar_t[]> result(new wchar_t[elements.rawValue()]);

  // The count proved the range valid; this pass checks again, which costs little.
  const uint8_t* p = source;
  bool invalid;
  const size_t written =
      DecodeInto(p, end, result.get(), result.get() + elements.rawValue(), invalid);
  if (written != count) osdep::OutputAssertion("written == count", "", kFile, __LINE__);
  if (invalid) ThrowInvalidSequence(__LINE__);
  if (p < end) ThrowBufferOverflow(__LINE__);
  result[written] = 0;
  return result.release();
}

}  // namespace

wchar_t* Utf8ToWide(const unsigned char* source, size_t length) {
  if (source == nullptr) return new wchar_t[1]();
  // The tail loop alone takes a text too short for a block, if the stack holds it
  // (without blocks, every text is too short for one).
  if (length >= size_t(kShortestBlocked) || length > kShortText) {
    return DecodeLongerText(source, source + length);
  }
  return DecodeShortText<false>(source, source + length);
}

size_t Utf8ToWide(const unsigned char* begin, const unsigned char* end, wchar_t* destBegin,
                  const wchar_t* destEnd) {
  size_t written;
  if (FillShort(begin, end, destBegin, destEnd, written)) return written;
  return FillBufferOrThrow(begin, end, destBegin, destEnd);
}

size_t Utf8ToWideNoOverflow(const unsigned char*& begin, const unsigned char* end,
                            wchar_t* destBegin, const wchar_t* destEnd) {
  size_t written;
  if (FillShort(begin, end, destBegin, destEnd, written)) {
    begin = end;
    return written;
  }
  return FillBufferOrStop(begin, end, destBegin, destEnd);
}

const unsigned char* ConvertNextUtf8Character(const unsigned char* begin, const unsigned char* end,
                                              wchar_t& out) {
  if (begin == nullptr || begin >= end) {
    out = 0;
    return begin;
  }
  return begin + utf8_mbctowc(&out, begin, end, false);
}

size_t GetUtf8StringLength(const unsigned char* begin, const unsigned char* end) {
  if (begin == nullptr) return 0;
  size_t count = 0;
  if (!CountCodePoints(begin, end, count)) ThrowInvalidSequence(__LINE__);
  return count;
}

}  // namespace vo::qel
