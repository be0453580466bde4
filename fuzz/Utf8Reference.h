// Plain reference forms of the UTF-8 rules, one byte at a time and without shortcuts, and
// the checks that hold every form of the codec to them; the codec's fuzz targets feed the
// checks what they make of the fuzzer's bytes, its unit test random texts.
// One thread at a time: a check takes over the alert presenter and standard error.
#ifndef FUZZ_UTF8REFERENCE_H_
#define FUZZ_UTF8REFERENCE_H_

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/Alert.h"

namespace vo::qel::fuzz {

// Indexed by the byte length of a form: its smallest value.
constexpr uint32_t kSmallest[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

struct Decoded {
  std::vector<uint32_t> values;
  std::vector<size_t> offsets;  // where each value's sequence starts
  bool valid = true;
  size_t invalidAt = 0;  // offset of the first invalid sequence when !valid
};

inline Decoded ReferenceDecode(const unsigned char* s, size_t n) {
  Decoded out;
  for (size_t i = 0; i < n;) {
    const unsigned c = s[i];
    // The length a lead byte announces (0: it starts no sequence); it keeps 7 - length bits.
    const size_t length = c < 0x80   ? 1
                          : c < 0xC2 ? 0
                          : c < 0xE0 ? 2
                          : c < 0xF0 ? 3
                          : c < 0xF8 ? 4
                          : c < 0xFC ? 5
                          : c < 0xFE ? 6
                                     : 0;
    uint32_t v = length == 1 ? c : c & (0x7Fu >> length);
    bool ok = length != 0 && n - i >= length;
    for (size_t k = 1; ok && k < length; ++k) {
      ok = (s[i + k] & 0xC0) == 0x80;
      v = (v << 6) | (s[i + k] & 0x3F);
    }
    if (!ok || v < kSmallest[length]) {
      out.valid = false;
      out.invalidAt = i;
      return out;
    }
    out.values.push_back(v);
    out.offsets.push_back(i);
    i += length;
  }
  return out;
}

inline size_t ReferenceLength(uint32_t v) {
  if (v < 0x80) return 1;
  if (v < 0x800) return 2;
  if (v < 0x10000) return 3;
  if (v < 0x200000) return 4;
  if (v < 0x4000000) return 5;
  if (v <= 0x7FFFFFFF) return 6;
  return 1;  // replaced by '?'
}

inline void ReferenceAppend(uint32_t v, std::vector<unsigned char>& out) {
  static const unsigned char kMarker[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  const size_t length = ReferenceLength(v);
  if (length == 1) {
    out.push_back(v < 0x80 ? static_cast<unsigned char>(v) : '?');
    return;
  }
  unsigned char bytes[6];
  for (size_t k = length - 1; k > 0; --k) {
    bytes[k] = static_cast<unsigned char>(0x80 | (v & 0x3F));
    v >>= 6;
  }
  bytes[0] = static_cast<unsigned char>(kMarker[length] | v);
  out.insert(out.end(), bytes, bytes + length);
}

// While alive, counts failed-check reports (each shows an alert) instead of showing them,
// and sends standard error, where each also writes a line, to /dev/null.
class QuietReports : public osdep::AlertPresenter {
 public:
  QuietReports() : previous_(osdep::SetAlertPresenter(this)), saved_(::dup(2)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietReports() override {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    osdep::SetAlertPresenter(previous_);
  }
  QuietReports(const QuietReports&) = delete;
  QuietReports& operator=(const QuietReports&) = delete;
  osdep::AlertButton present(const char*, const char*, const char*, const char*) override {
    ++count_;
    return osdep::k_DEFAULT_BUTTON;
  }
  // The reports since the last call.
  size_t take() { return std::exchange(count_, 0); }

 private:
  osdep::AlertPresenter* const previous_;
  const int saved_;
  size_t count_ = 0;
};

// Text in a heap block of exactly its size (AddressSanitizer catches any access at or past
// the end) followed by `slack` elements; a destination has four, which must stay untouched
// (a fast path stores up to three past what it writes).
template <class T>
struct Block {
  Block(const std::vector<T>& text, size_t slack) : size(text.size()), data(new T[size + slack]) {
    std::copy(text.begin(), text.end(), data.get());
    std::fill_n(end(), slack, T(0xA5));
  }
  T* begin() const { return data.get(); }
  T* end() const { return data.get() + size; }
  bool tailUntouched() const {
    return std::all_of(end(), end() + 4, [](T c) { return c == T(0xA5); });
  }
  size_t size;
  std::unique_ptr<T[]> data;
};

template <class E, class F>
bool Throws(F f) {
  try {
    f();
    return false;
  } catch (const E&) {
    return true;
  }
}

// Every decoding form on `text` agrees with the reference: counting, allocating, filling
// exactly the room needed, stepping one character at a time, and in each of `rooms` the
// stopping and the throwing form. On invalid text each throws InvalidSequence where the
// reference stops. Returns the first form that disagrees, or "".
inline std::string CheckDecoding(const std::vector<unsigned char>& text,
                                 const std::vector<size_t>& rooms) {
  const Block<unsigned char> bytes(text, 0);
  const unsigned char* const b = bytes.begin();
  const unsigned char* const e = bytes.end();
  const Decoded ref = ReferenceDecode(b, bytes.size);
  const size_t n = ref.values.size();  // whole characters before any invalid one
  const auto same = [&ref](const wchar_t* got, size_t count) {
    return std::equal(got, got + count, ref.values.begin(),
                      [](wchar_t g, uint32_t v) { return uint32_t(g) == v; });
  };
  using exception::InvalidSequence;
  QuietReports reports;

  size_t count = n;
  if (ref.valid == Throws<InvalidSequence>([&] { count = GetUtf8StringLength(b, e); }) ||
      count != n) {
    return "counting";
  }
  std::unique_ptr<wchar_t[]> wide;
  if (ref.valid == Throws<InvalidSequence>([&] { wide.reset(Utf8ToWide(b, bytes.size)); }) ||
      (ref.valid && !(same(wide.get(), n) && wide[n] == 0))) {
    return "allocating";
  }
  // Invalid text gets one more than it needs, so that it is the invalid sequence that
  // stops the conversion, not a full destination.
  const Block<wchar_t> full(std::vector<wchar_t>(n + (ref.valid && n != 0 ? 0 : 1)), 4);
  size_t written = n;
  if (ref.valid ==
          Throws<InvalidSequence>([&] { written = Utf8ToWide(b, e, full.begin(), full.end()); }) ||
      written != n || !same(full.begin(), n) || !full.tailUntouched()) {
    return "filling";
  }
  std::vector<uint32_t> stepped;
  const unsigned char* at = b;
  wchar_t c = 1;
  if (ref.valid == Throws<InvalidSequence>([&] {
        for (const unsigned char* next = nullptr;
             stepped.size() <= n && (next = ConvertNextUtf8Character(at, e, c)) != at; at = next) {
          stepped.push_back(uint32_t(c));
        }
      }) ||
      stepped != ref.values || at != (ref.valid ? e : b + ref.invalidAt) || (ref.valid && c != 0)) {
    return "stepping";
  }

  for (const size_t room : rooms) {
    const Block<wchar_t> dest(std::vector<wchar_t>(room), 4);
    const size_t expected = std::min(room, n);
    const unsigned char* const stop = expected < n ? b + ref.offsets[expected]
                                      : ref.valid  ? e
                                                   : b + ref.invalidAt;
    const unsigned char* cursor = b;
    written = expected;
    if ((!ref.valid && room > n) != Throws<InvalidSequence>([&] {
          written = Utf8ToWideNoOverflow(cursor, e, dest.begin(), dest.end());
        }) ||
        written != expected || cursor != stop || !same(dest.begin(), expected) ||
        !dest.tailUntouched()) {
      return "stopping in room " + std::to_string(room);
    }
    if (room < n &&
        !Throws<exception::BufferOverflow>([&] { Utf8ToWide(b, e, dest.begin(), dest.end()); })) {
      return "overflowing room " + std::to_string(room);
    }
  }
  return reports.take() == 0 ? "" : "reporting";
}

// Every encoding form on `values` agrees with the reference: measuring, allocating, filling
// exactly the room needed, the zero-terminated forms, and in each of `rooms` the stopping
// and the throwing form and (unless `limited` is false: its report of the cut is slow)
// measuring with that limit. Values above 0x7FFFFFFF become '?' with their failed-check
// reports. Returns the first form that disagrees, or "".
inline std::string CheckEncoding(const std::vector<uint32_t>& values,
                                 const std::vector<size_t>& rooms, bool limited = true) {
  const Block<wchar_t> wide(std::vector<wchar_t>(values.begin(), values.end()), 0);
  const wchar_t* const b = wide.begin();
  const wchar_t* const e = wide.end();
  std::vector<unsigned char> ref;
  for (const uint32_t v : values) ReferenceAppend(v, ref);
  const auto same = [&ref](const unsigned char* got, size_t count) {
    return std::equal(got, got + count, ref.begin());
  };
  const auto outOfRange = [](uint32_t v) { return v > 0x7FFFFFFF; };
  const size_t k = size_t(std::count_if(values.begin(), values.end(), outOfRange));
  QuietReports reports;

  if (GetUtf8EncodingBytes(b, e) != ref.size() || reports.take() != k) return "measuring";
  const std::unique_ptr<unsigned char[]> bytes(WideToUtf8(b, e));
  // Measured (one report each), then converted (two more each).
  if (!same(bytes.get(), ref.size()) || bytes[ref.size()] != 0 || reports.take() != 3 * k) {
    return "allocating";
  }
  const Block<unsigned char> full(std::vector<unsigned char>(std::max<size_t>(ref.size(), 1)), 4);
  if (WideToUtf8(b, e, full.begin(), full.end()) != ref.size() || !same(full.begin(), ref.size()) ||
      !full.tailUntouched() || reports.take() != 2 * k) {
    return "filling";
  }
  const size_t length = size_t(std::find(b, e, 0) - b);
  std::vector<wchar_t> terminated(b, b + length);
  terminated.push_back(0);
  size_t terminatedBytes = 0;
  for (size_t i = 0; i < length; ++i) terminatedBytes += ReferenceLength(values[i]);
  const std::unique_ptr<unsigned char[]> out(WideToUtf8(terminated.data()));
  if (GetUtf8EncodingBytes(terminated.data()) != terminatedBytes ||
      !same(out.get(), terminatedBytes) || out[terminatedBytes] != 0) {
    return "zero-terminated";
  }
  reports.take();

  for (const size_t room : rooms) {
    // The longest run of whole characters that fits.
    size_t fit = 0, fitBytes = 0, fitOutOfRange = 0;
    for (; fit < values.size() && fitBytes + ReferenceLength(values[fit]) <= room; ++fit) {
      fitBytes += ReferenceLength(values[fit]);
      fitOutOfRange += outOfRange(values[fit]);
    }
    const Block<unsigned char> dest(std::vector<unsigned char>(room), 4);
    const wchar_t* cursor = b;
    if (WideToUtf8NoOverflow(cursor, e, dest.begin(), dest.end()) != fitBytes ||
        cursor != b + fit || !same(dest.begin(), fitBytes) || !dest.tailUntouched() ||
        reports.take() != 2 * fitOutOfRange) {
      return "stopping in room " + std::to_string(room);
    }
    if (Throws<exception::BufferOverflow>([&] { WideToUtf8(b, e, dest.begin(), dest.end()); }) !=
        (fit < values.size())) {
      return "overflowing room " + std::to_string(room);
    }
    reports.take();
    // Measuring also takes (and reports) the first character left out before it reports
    // the cut.
    if (limited && (GetUtf8EncodingBytesWithBufferLimit(b, e, room) != fitBytes ||
                    reports.take() !=
                        fitOutOfRange + (fit < values.size() ? 1 + outOfRange(values[fit]) : 0))) {
      return "measuring with limit " + std::to_string(room);
    }
  }
  return "";
}

}  // namespace vo::qel::fuzz

#endif  // FUZZ_UTF8REFERENCE_H_
