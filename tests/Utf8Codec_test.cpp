// The UTF-8 codec against the plain reference codec of the fuzz targets: every form
// of both directions on random texts of up to 64 KiB, in every mix of sequence
// lengths, at lengths that cross each boundary of the fast paths (the words and
// groups inside a block of 16, the stack buffer of short texts, the folds of the
// per-lane sums); then the caller errors, null sources, and the texts of the
// exception and the reports. The test program runs once with the codec's SIMD path
// and once without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/Utf8Reference.h"
#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using exception::InvalidSequence;

// Indexed by the byte length of a form: its first and last value.
constexpr uint32_t kFirst[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
constexpr uint32_t kLast[7] = {0, 0x7F, 0x7FF, 0xFFFF, 0x1FFFFF, 0x3FFFFFF, 0x7FFFFFFF};

// Characters per text: each count up to 40, either side of the 128 of a short text,
// and long texts whose blocks fold their per-lane sums several times.
std::vector<size_t> Lengths(std::mt19937& rng) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for (size_t n : {42, 126, 127, 128, 129, 130, 300}) lengths.push_back(n);
  lengths.push_back(1000 + rng() % 4000);
  lengths.push_back(8192 + rng() % 8192);  // up to 64 KiB of wide text
  return lengths;
}

// `count` values in runs of one form, each form drawn from the set bits of `mix`
// (bit 0: one byte ... bit 5: six bytes). Runs are mostly short (mixed text) and now
// and then long enough to fill blocks; values are now and then a form's first or last.
std::vector<uint32_t> RandomValues(unsigned mix, size_t count, std::mt19937& rng) {
  std::vector<unsigned> forms;
  for (unsigned form = 1; form <= 6; ++form) {
    if (mix & (1u << (form - 1))) forms.push_back(form);
  }
  std::vector<uint32_t> values;
  while (values.size() < count) {
    const unsigned form = forms[rng() % forms.size()];
    size_t run = rng() % 4 == 0 ? 1 + rng() % 80 : 1 + rng() % 5;
    for (; run > 0 && values.size() < count; --run) {
      const unsigned pick = rng() % 16;
      values.push_back(pick == 0   ? kFirst[form]
                       : pick == 1 ? kLast[form]
                                   : kFirst[form] + rng() % (kLast[form] - kFirst[form] + 1));
    }
  }
  return values;
}

// Text in a heap block of exactly its size, so that AddressSanitizer builds catch
// any read at or past the end.
template <class T>
struct Exact {
  explicit Exact(const std::vector<T>& text) : size(text.size()), data(new T[size + (size == 0)]) {
    std::copy(text.begin(), text.end(), data.get());
  }
  const T* begin() const { return data.get(); }
  const T* end() const { return data.get() + size; }
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

// A destination of `room` elements followed by four that must stay untouched (a
// fast path stores up to three past what it writes).
template <class T>
struct Destination {
  static constexpr T kUntouched = T(0xA5);
  explicit Destination(size_t n) : room(n), data(n + 4, kUntouched) {}
  T* begin() { return data.data(); }
  T* end() { return data.data() + room; }
  bool tailUntouched() const {
    return std::all_of(data.end() - 4, data.end(), [](T c) { return c == kUntouched; });
  }
  size_t room;
  std::vector<T> data;
};

// Rooms for the stopping forms: every one for short texts, else a few.
std::vector<size_t> Rooms(size_t needed, std::mt19937& rng, bool few = false) {
  std::vector<size_t> rooms;
  if (needed <= 160 && !few) {
    for (size_t room = 1; room <= needed + 1; ++room) rooms.push_back(room);
  } else {
    for (int i = 0; i < 4; ++i) rooms.push_back(1 + rng() % (needed + 1));
  }
  return rooms;
}

// Valid text as often as not; else one fault: a byte replaced by any other, a cut
// at the end, or an overlong or never valid sequence put between two characters.
std::vector<unsigned char> MaybeBroken(std::vector<unsigned char> bytes,
                                       const std::vector<uint32_t>& values, std::mt19937& rng) {
  static const std::string kBad[] = {"\xC0\x80",
                                     "\xC1\xBF",
                                     "\xE0\x9F\xBF",
                                     "\xF0\x8F\xBF\xBF",
                                     "\xF8\x87\xBF\xBF\xBF",
                                     "\xFC\x83\xBF\xBF\xBF\xBF",
                                     "\x80",
                                     "\xBF",
                                     "\xFE",
                                     "\xFF"};
  switch (rng() % 6) {
    case 0:
      if (!bytes.empty()) bytes[rng() % bytes.size()] = uint8_t(rng());
      break;
    case 1:
      if (!bytes.empty())
        bytes.resize(bytes.size() - 1 - rng() % std::min<size_t>(bytes.size(), 5));
      break;
    case 2: {
      size_t at = 0;  // the start of a random character
      for (size_t i = 0, stop = values.empty() ? 0 : rng() % values.size(); i < stop; ++i) {
        at += fuzz::ReferenceLength(values[i]);
      }
      const std::string& bad = kBad[rng() % std::size(kBad)];
      bytes.insert(bytes.begin() + std::ptrdiff_t(at), bad.begin(), bad.end());
      break;
    }
    default:
      break;
  }
  return bytes;
}

// The first way in which a decoding form disagrees with the reference, or "".
std::string DecodeDisagreement(const std::vector<unsigned char>& text, std::mt19937& rng) {
  const Exact<unsigned char> bytes(text);
  const unsigned char* const b = bytes.begin();
  const unsigned char* const e = bytes.end();
  const fuzz::Decoded ref = fuzz::ReferenceDecode(b, bytes.size);
  const size_t n = ref.values.size();  // whole characters before any invalid one
  const auto same = [&ref](const wchar_t* got, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (uint32_t(got[i]) != ref.values[i]) return false;
    }
    return true;
  };

  size_t count = 0;
  if (Throws<InvalidSequence>([&] { count = GetUtf8StringLength(b, e); }) == ref.valid ||
      (ref.valid && count != n)) {
    return "counting";
  }

  std::unique_ptr<wchar_t[]> wide;
  if (Throws<InvalidSequence>([&] { wide.reset(Utf8ToWide(b, bytes.size)); }) == ref.valid ||
      (ref.valid && (!same(wide.get(), n) || wide[n] != 0))) {
    return "allocating";
  }

  // Exactly the room needed; invalid text gets one more, so that it is the invalid
  // sequence that stops the conversion, not a full destination.
  Destination<wchar_t> full(n + (ref.valid && n != 0 ? 0 : 1));
  size_t written = 0;
  if (Throws<InvalidSequence>([&] { written = Utf8ToWide(b, e, full.begin(), full.end()); }) ==
          ref.valid ||
      (ref.valid && written != n) || !same(full.begin(), n) || !full.tailUntouched()) {
    return "filling";
  }

  for (const size_t room : Rooms(n, rng)) {
    Destination<wchar_t> dest(room);
    const unsigned char* cursor = b;
    const bool throws = !ref.valid && room > n;
    const size_t expected = std::min(room, n);
    const unsigned char* const stop = expected < n ? b + ref.offsets[expected]
                                      : ref.valid  ? e
                                                   : b + ref.invalidAt;
    written = expected;
    if (Throws<InvalidSequence>([&] {
          written = Utf8ToWideNoOverflow(cursor, e, dest.begin(), dest.end());
        }) != throws ||
        written != expected || cursor != stop || !same(dest.begin(), expected) ||
        !dest.tailUntouched()) {
      return "stopping at room " + std::to_string(room);
    }
    if (room < n && !Throws<BufferOverflow>([&] { Utf8ToWide(b, e, dest.begin(), dest.end()); })) {
      return "no overflow at room " + std::to_string(room);
    }
  }

  const unsigned char* p = b;
  size_t i = 0;
  wchar_t c = 1;
  const bool threw = Throws<InvalidSequence>([&] {
    for (const unsigned char* next; (next = ConvertNextUtf8Character(p, e, c)) != p; p = next) {
      if (i >= n || uint32_t(c) != ref.values[i] || p != b + ref.offsets[i]) return;
      ++i;
    }
  });
  if (threw == ref.valid || i != n || p != (ref.valid ? e : b + ref.invalidAt) ||
      (ref.valid && c != 0)) {
    return "stepping";
  }
  return "";
}

TEST(Utf8CodecTest, DecodingAgreesWithTheReference) {
  std::mt19937 rng(19);
  for (unsigned mix = 1; mix < 64; ++mix) {
    for (const size_t length : Lengths(rng)) {
      const std::vector<uint32_t> values = RandomValues(mix, length, rng);
      std::vector<unsigned char> bytes;
      for (const uint32_t v : values) fuzz::ReferenceAppend(v, bytes);
      const std::vector<unsigned char> text = MaybeBroken(bytes, values, rng);
      ASSERT_EQ("", DecodeDisagreement(text, rng))
          << "forms mix " << mix << ", " << length << " characters, " << text.size() << " bytes";
    }
  }
}

// Failed-check reports (each shows an alert) while alive, kept off standard error.
struct Reports {
  size_t count() const { return recorder.alerts().size(); }
  testing::AlertRecorder recorder;
  fuzz::QuietStandardError quiet;
};

// The first way in which an encoding form disagrees with the reference, or "".
// Values above 0x7FFFFFFF become '?' after their failed-check reports.
std::string EncodeDisagreement(const std::vector<uint32_t>& values, std::mt19937& rng) {
  const Exact<wchar_t> wide(std::vector<wchar_t>(values.begin(), values.end()));
  const wchar_t* const b = wide.begin();
  const wchar_t* const e = wide.end();
  std::vector<unsigned char> ref;
  for (const uint32_t v : values) fuzz::ReferenceAppend(v, ref);
  const auto same = [&ref](const unsigned char* got, size_t count) {
    return count == 0 || std::memcmp(got, ref.data(), count) == 0;
  };
  const size_t k = size_t(
      std::count_if(values.begin(), values.end(), [](uint32_t v) { return v > 0x7FFFFFFF; }));
  Reports reports;
  size_t before = 0;
  const auto reported = [&] {
    const size_t now = reports.count();
    return now - std::exchange(before, now);
  };

  if (GetUtf8EncodingBytes(b, e) != ref.size() || reported() != k) return "measuring";

  const std::unique_ptr<unsigned char[]> bytes(WideToUtf8(b, e));
  // Measured, then converted: three reports for each value out of range.
  if (!same(bytes.get(), ref.size()) || bytes[ref.size()] != 0 || reported() != 3 * k) {
    return "allocating";
  }

  Destination<unsigned char> full(std::max<size_t>(ref.size(), 1));
  if (WideToUtf8(b, e, full.begin(), full.end()) != ref.size() || !same(full.begin(), ref.size()) ||
      !full.tailUntouched() || reported() != 2 * k) {
    return "filling";
  }

  // Few rooms where each costs failed-check reports.
  for (const size_t room : Rooms(ref.size(), rng, k != 0)) {
    // The longest run of whole characters that fits.
    size_t fit = 0, fitBytes = 0, fitOutOfRange = 0;
    for (; fit < values.size() && fitBytes + fuzz::ReferenceLength(values[fit]) <= room; ++fit) {
      fitBytes += fuzz::ReferenceLength(values[fit]);
      fitOutOfRange += values[fit] > 0x7FFFFFFF;
    }
    Destination<unsigned char> dest(room);
    const wchar_t* cursor = b;
    if (WideToUtf8NoOverflow(cursor, e, dest.begin(), dest.end()) != fitBytes ||
        cursor != b + fit || !same(dest.begin(), fitBytes) || !dest.tailUntouched() ||
        reported() != 2 * fitOutOfRange) {
      return "stopping at room " + std::to_string(room);
    }
    if (Throws<BufferOverflow>([&] { WideToUtf8(b, e, dest.begin(), dest.end()); }) !=
        (fit < values.size())) {
      return "overflow at room " + std::to_string(room);
    }
    // Measuring with that limit also takes (and reports) the first character left
    // out before it reports the cut.
    reported();  // the throwing form's
    const size_t cutReports = fit < values.size() ? 1 + (values[fit] > 0x7FFFFFFF) : 0;
    if (GetUtf8EncodingBytesWithBufferLimit(b, e, room) != fitBytes ||
        reported() != fitOutOfRange + cutReports) {
      return "measuring with limit " + std::to_string(room);
    }
  }

  // The zero-terminated forms end at the first 0.
  std::vector<wchar_t> terminated(b, std::find(b, e, 0));
  const size_t length = terminated.size();
  terminated.push_back(0);
  std::vector<unsigned char> want;
  for (size_t i = 0; i < length; ++i) fuzz::ReferenceAppend(values[i], want);
  const std::unique_ptr<unsigned char[]> out(WideToUtf8(terminated.data()));
  if (GetUtf8EncodingBytes(terminated.data()) != want.size() ||
      !std::equal(want.begin(), want.end(), out.get()) || out[want.size()] != 0) {
    return "zero-terminated";
  }
  return "";
}

TEST(Utf8CodecTest, EncodingAgreesWithTheReference) {
  std::mt19937 rng(19);
  for (unsigned mix = 1; mix < 64; ++mix) {
    for (const size_t length : Lengths(rng)) {
      std::vector<uint32_t> values = RandomValues(mix, length, rng);
      // Now and then a value out of range, anywhere (rarely: each costs several
      // failed-check reports).
      if (!values.empty() && rng() % 16 == 0) {
        for (unsigned i = rng() % 3; i < 3; ++i)
          values[rng() % values.size()] = 0x80000000u | rng();
      }
      ASSERT_EQ("", EncodeDisagreement(values, rng))
          << "forms mix " << mix << ", " << length << " characters";
    }
  }
}

// The messages of the failed-check reports `f` shows as alerts, and the first line
// it writes on standard error.
template <class F>
std::pair<std::vector<std::string>, std::string> Reported(F f) {
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  f();
  const std::string err = ::testing::internal::GetCapturedStderr();
  std::vector<std::string> messages;
  for (const auto& alert : alerts.alerts()) {
    const size_t from = alert.text.find("Message: ") + 9;
    messages.push_back(alert.text.substr(from, alert.text.find('\n', from) - from));
  }
  return {messages, testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1))};
}

using Messages = std::vector<std::string>;

TEST(Utf8CodecTest, ExceptionAndReportTexts) {
  const Exact<unsigned char> bytes(std::vector<unsigned char>{0xFF});
  try {
    GetUtf8StringLength(bytes.begin(), bytes.end());
    ADD_FAILURE() << "no exception";
  } catch (const InvalidSequence& e) {
    EXPECT_STREQ("Utf8ToWide", e.getFileName());
    EXPECT_NE(0u, e.getLineNumber());
    EXPECT_STREQ("Invalid UTF8 encoding sequence", e.what());
  }

  const std::string range = "Invalid unicode range";
  const std::string cut =
      "UTF-8 string representation overflowed a size_t. The string will be truncated";
  const Exact<wchar_t> wide(std::vector<wchar_t>{'a', wchar_t(0xFFFFFFFFu), 'b'});
  const wchar_t* const b = wide.begin();
  unsigned char dest[3];
  EXPECT_EQ(std::make_pair(Messages{range}, "WideToUtf8(#): Assertion failed: " + range + "\a\n"),
            Reported([&] { GetUtf8EncodingBytes(b, b + 3); }));
  EXPECT_EQ((Messages{range, "invalid unicode"}),
            Reported([&] { WideToUtf8(b, b + 3, dest, dest + 3); }).first);
  EXPECT_EQ(Messages{cut},
            Reported([&] { GetUtf8EncodingBytesWithBufferLimit(b, b + 1, 0); }).first);
  EXPECT_EQ(Messages{}, Reported([&] { GetUtf8EncodingBytesWithBufferLimit(b, b, 0); }).first);
}

// Null sources convert nothing. A null or inverted destination throws; an empty one
// is reported, converts nothing, and the throwing form then throws unless there was
// nothing to convert.
TEST(Utf8CodecTest, NullSourcesAndDestinationArguments) {
  EXPECT_EQ(0, std::unique_ptr<wchar_t[]>(Utf8ToWide(nullptr, 5))[0]);
  EXPECT_EQ(0u, GetUtf8StringLength(nullptr, nullptr));
  wchar_t c = 7;
  EXPECT_EQ(nullptr, ConvertNextUtf8Character(nullptr, nullptr, c));
  EXPECT_EQ(0, c);
  EXPECT_EQ(0, std::unique_ptr<unsigned char[]>(WideToUtf8(nullptr, nullptr))[0]);
  EXPECT_EQ(0u, GetUtf8EncodingBytes(nullptr, nullptr));
  EXPECT_EQ(0u, GetUtf8EncodingBytesWithBufferLimit(nullptr, nullptr, 0));

  const Exact<unsigned char> bytes(std::vector<unsigned char>{'a', 'b'});
  wchar_t wideDest[2] = {7, 7};
  const unsigned char* bytesAt = nullptr;
  EXPECT_EQ(0u, Utf8ToWide(nullptr, nullptr, wideDest, wideDest + 2));
  EXPECT_EQ(0u, Utf8ToWideNoOverflow(bytesAt, nullptr, wideDest, wideDest + 2));
  EXPECT_EQ(7, wideDest[0]);
  bytesAt = bytes.begin();
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), nullptr, wideDest), InvalidArgument);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), wideDest + 1, wideDest), InvalidArgument);
  EXPECT_THROW(Utf8ToWideNoOverflow(bytesAt, bytes.end(), nullptr, nullptr), InvalidArgument);
  auto reported = Reported([&] {
    EXPECT_EQ(0u, Utf8ToWideNoOverflow(bytesAt, bytes.end(), wideDest, wideDest));
    EXPECT_EQ(bytes.begin(), bytesAt);
    EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), wideDest, wideDest), BufferOverflow);
    EXPECT_EQ(0u, Utf8ToWide(bytes.end(), bytes.end(), wideDest, wideDest));
  });
  EXPECT_EQ(3u, reported.first.size());
  EXPECT_EQ("Utf8ToWide(#): Assertion failed: destBegin < destEnd\a\n", reported.second);

  const Exact<wchar_t> wide(std::vector<wchar_t>{'a', 'b'});
  unsigned char dest[2] = {7, 7};
  const wchar_t* wideAt = nullptr;
  EXPECT_EQ(0u, WideToUtf8(nullptr, nullptr, dest, dest + 2));
  EXPECT_EQ(0u, WideToUtf8NoOverflow(wideAt, nullptr, dest, dest + 2));
  EXPECT_EQ(7, dest[0]);
  wideAt = wide.begin();
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), nullptr, dest), InvalidArgument);
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest + 1, dest), InvalidArgument);
  EXPECT_THROW(WideToUtf8NoOverflow(wideAt, wide.end(), nullptr, nullptr), InvalidArgument);
  reported = Reported([&] {
    EXPECT_EQ(0u, WideToUtf8NoOverflow(wideAt, wide.end(), dest, dest));
    EXPECT_EQ(wide.begin(), wideAt);
    EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest, dest), BufferOverflow);
    EXPECT_EQ(0u, WideToUtf8(wide.end(), wide.end(), dest, dest));
  });
  EXPECT_EQ(3u, reported.first.size());
  EXPECT_EQ("WideToUtf8(#): Assertion failed: destBegin < destEnd\a\n", reported.second);
}

}  // namespace
}  // namespace vo::qel
