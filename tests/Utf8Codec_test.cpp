// The UTF-8 codec against the plain reference codec of the fuzz targets: every buffer
// form of both directions on random texts of up to 64 KiB in every mix of sequence
// lengths, at lengths that cross each block, group, stack buffer and lane-sum fold of the
// fast paths; then caller errors and the texts of the exception and the reports. The
// program runs once with the codec's SIMD path and once without it.
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
  std::vector<size_t> lengths{42, 126, 127, 128, 129, 130, 300};
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  lengths.push_back(1000 + rng() % 4000);
  lengths.push_back(8192 + rng() % 8192);  // up to 64 KiB of wide text
  return lengths;
}

// `count` values in runs of one form drawn from the set bits of `mix` (bit 0: one byte
// ... bit 5: six bytes). Runs are mostly short, now and then long enough to fill
// blocks; values are now and then a form's first or last.
std::vector<uint32_t> RandomValues(unsigned mix, size_t count, std::mt19937& rng) {
  std::vector<unsigned> forms;
  for (unsigned form = 1; form <= 6; ++form) {
    if (mix & (1u << (form - 1))) forms.push_back(form);
  }
  std::vector<uint32_t> values;
  while (values.size() < count) {
    const unsigned form = forms[rng() % forms.size()];
    for (size_t run = rng() % 4 == 0 ? 1 + rng() % 80 : 1 + rng() % 5;
         run > 0 && values.size() < count; --run) {
      const unsigned pick = rng() % 16;
      values.push_back(pick == 0   ? kFirst[form]
                       : pick == 1 ? kLast[form]
                                   : kFirst[form] + rng() % (kLast[form] - kFirst[form] + 1));
    }
  }
  return values;
}

// Text in a heap block of exactly its size (AddressSanitizer builds catch any read at or
// past the end) followed by `slack` elements; a destination has four, which must stay
// untouched (a fast path stores up to three past what it writes).
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

// Rooms for the stopping forms: every one for short texts, else a few.
std::vector<size_t> Rooms(size_t needed, std::mt19937& rng, bool few = false) {
  const bool every = needed <= 160 && !few;
  std::vector<size_t> rooms;
  for (size_t i = 0; i < (every ? needed + 1 : 4); ++i) {
    rooms.push_back(every ? i + 1 : 1 + rng() % (needed + 1));
  }
  return rooms;
}

// Valid text as often as not; else one fault: a byte replaced by any other, a cut at the
// end, or an overlong or never valid sequence put between two characters.
std::vector<unsigned char> MaybeBroken(std::vector<unsigned char> bytes,
                                       const std::vector<uint32_t>& values, std::mt19937& rng) {
  // Overlong forms of each length and bytes that never start a sequence, 0 between them.
  static const char kBad[] =
      "\xC0\x80\0\xC1\xBF\0\xE0\x9F\xBF\0\xF0\x8F\xBF\xBF\0\xF8\x87\xBF\xBF\xBF\0"
      "\xFC\x83\xBF\xBF\xBF\xBF\0\x80\0\xBF\0\xFE\0\xFF";
  const size_t kind = rng() % 6;
  if (kind == 0 && !bytes.empty()) bytes[rng() % bytes.size()] = uint8_t(rng());
  if (kind == 1 && !bytes.empty()) {
    bytes.resize(bytes.size() - 1 - rng() % std::min<size_t>(bytes.size(), 5));
  }
  if (kind == 2) {
    size_t at = 0;  // the start of a random character
    for (size_t i = 0, stop = values.empty() ? 0 : rng() % values.size(); i < stop; ++i) {
      at += fuzz::ReferenceLength(values[i]);
    }
    const char* bad = kBad;
    for (unsigned skip = rng() % 10; skip > 0; --skip) bad += std::strlen(bad) + 1;
    bytes.insert(bytes.begin() + std::ptrdiff_t(at), bad, bad + std::strlen(bad));
  }
  return bytes;
}

// Every decoding form agrees with the reference; each throws exactly for invalid text.
void CheckDecoding(const std::vector<unsigned char>& text, std::mt19937& rng) {
  const Block<unsigned char> bytes(text, 0);
  const unsigned char* const b = bytes.begin();
  const unsigned char* const e = bytes.end();
  const fuzz::Decoded ref = fuzz::ReferenceDecode(b, bytes.size);
  const size_t n = ref.values.size();  // whole characters before any invalid one
  const auto same = [&ref](const wchar_t* got, size_t count) {
    return std::equal(got, got + count, ref.values.begin(),
                      [](wchar_t g, uint32_t v) { return uint32_t(g) == v; });
  };

  size_t count = n;
  ASSERT_EQ(!ref.valid, Throws<InvalidSequence>([&] { count = GetUtf8StringLength(b, e); }))
      << "counting";
  ASSERT_EQ(n, count) << "counting";
  std::unique_ptr<wchar_t[]> wide;
  ASSERT_EQ(!ref.valid, Throws<InvalidSequence>([&] { wide.reset(Utf8ToWide(b, bytes.size)); }))
      << "allocating";
  ASSERT_TRUE(!ref.valid || (same(wide.get(), n) && wide[n] == 0)) << "allocating";
  // Exactly the room needed; invalid text gets one more, so that it is the invalid
  // sequence that stops the conversion, not a full destination.
  const Block<wchar_t> full(std::vector<wchar_t>(n + (ref.valid && n != 0 ? 0 : 1)), 4);
  size_t written = n;
  ASSERT_EQ(!ref.valid, Throws<InvalidSequence>([&] {
    written = Utf8ToWide(b, e, full.begin(), full.end());
  })) << "filling";
  ASSERT_TRUE(written == n && same(full.begin(), n) && full.tailUntouched()) << "filling";

  for (const size_t room : Rooms(n, rng)) {
    SCOPED_TRACE("room " + std::to_string(room));
    const Block<wchar_t> dest(std::vector<wchar_t>(room), 4);
    const unsigned char* cursor = b;
    const size_t expected = std::min(room, n);
    const unsigned char* const stop = expected < n ? b + ref.offsets[expected]
                                      : ref.valid  ? e
                                                   : b + ref.invalidAt;
    written = expected;
    ASSERT_EQ(!ref.valid && room > n, Throws<InvalidSequence>([&] {
      written = Utf8ToWideNoOverflow(cursor, e, dest.begin(), dest.end());
    }));
    ASSERT_TRUE(written == expected && cursor == stop && same(dest.begin(), expected) &&
                dest.tailUntouched());
    ASSERT_TRUE(room >= n ||
                Throws<BufferOverflow>([&] { Utf8ToWide(b, e, dest.begin(), dest.end()); }));
  }
}

TEST(Utf8CodecTest, DecodingAgreesWithTheReference) {
  std::mt19937 rng(19);
  for (unsigned mix = 1; mix < 64; ++mix) {
    for (const size_t length : Lengths(rng)) {
      const std::vector<uint32_t> values = RandomValues(mix, length, rng);
      std::vector<unsigned char> bytes;
      for (const uint32_t v : values) fuzz::ReferenceAppend(v, bytes);
      const std::vector<unsigned char> text = MaybeBroken(bytes, values, rng);
      ASSERT_NO_FATAL_FAILURE(CheckDecoding(text, rng))
          << "forms mix " << mix << ", " << length << " characters, " << text.size() << " bytes";
    }
  }
}

// Every encoding form agrees with the reference. Values above 0x7FFFFFFF become '?'
// after their failed-check reports.
void CheckEncoding(const std::vector<uint32_t>& values, std::mt19937& rng) {
  const Block<wchar_t> wide(std::vector<wchar_t>(values.begin(), values.end()), 0);
  const wchar_t* const b = wide.begin();
  const wchar_t* const e = wide.end();
  std::vector<unsigned char> ref;
  for (const uint32_t v : values) fuzz::ReferenceAppend(v, ref);
  const auto same = [&ref](const unsigned char* got, size_t count) {
    return count == 0 || std::memcmp(got, ref.data(), count) == 0;
  };
  const size_t k = size_t(
      std::count_if(values.begin(), values.end(), [](uint32_t v) { return v > 0x7FFFFFFF; }));
  // Failed-check reports (each shows an alert) since the last call, kept off standard error.
  testing::AlertRecorder recorder;
  fuzz::QuietStandardError quiet;
  size_t before = 0;
  const auto reported = [&] {
    const size_t now = recorder.alerts().size();
    return now - std::exchange(before, now);
  };

  ASSERT_EQ(ref.size(), GetUtf8EncodingBytes(b, e)) << "measuring";
  ASSERT_EQ(k, reported()) << "measuring";
  const std::unique_ptr<unsigned char[]> bytes(WideToUtf8(b, e));
  ASSERT_TRUE(same(bytes.get(), ref.size()) && bytes[ref.size()] == 0) << "allocating";
  ASSERT_EQ(3 * k, reported()) << "allocating: measured, then converted";
  const Block<unsigned char> full(std::vector<unsigned char>(std::max<size_t>(ref.size(), 1)), 4);
  ASSERT_EQ(ref.size(), WideToUtf8(b, e, full.begin(), full.end())) << "filling";
  ASSERT_TRUE(same(full.begin(), ref.size()) && full.tailUntouched()) << "filling";
  ASSERT_EQ(2 * k, reported()) << "filling";

  // Few rooms where each costs failed-check reports.
  for (const size_t room : Rooms(ref.size(), rng, k != 0)) {
    SCOPED_TRACE("room " + std::to_string(room));
    // The longest run of whole characters that fits.
    size_t fit = 0, fitBytes = 0, fitOutOfRange = 0;
    for (; fit < values.size() && fitBytes + fuzz::ReferenceLength(values[fit]) <= room; ++fit) {
      fitBytes += fuzz::ReferenceLength(values[fit]);
      fitOutOfRange += values[fit] > 0x7FFFFFFF;
    }
    const Block<unsigned char> dest(std::vector<unsigned char>(room), 4);
    const wchar_t* cursor = b;
    ASSERT_EQ(fitBytes, WideToUtf8NoOverflow(cursor, e, dest.begin(), dest.end()));
    ASSERT_TRUE(cursor == b + fit && same(dest.begin(), fitBytes) && dest.tailUntouched());
    ASSERT_EQ(2 * fitOutOfRange, reported());
    ASSERT_EQ(fit < values.size(),
              Throws<BufferOverflow>([&] { WideToUtf8(b, e, dest.begin(), dest.end()); }));
    // Measuring with that limit also takes (and reports) the first character left out
    // before it reports the cut.
    reported();  // the throwing form's
    ASSERT_EQ(fitBytes, GetUtf8EncodingBytesWithBufferLimit(b, e, room));
    ASSERT_EQ(fitOutOfRange + (fit < values.size() ? 1 + (values[fit] > 0x7FFFFFFF) : 0),
              reported());
  }

  // The zero-terminated forms end at the first 0.
  std::vector<wchar_t> terminated(b, std::find(b, e, 0));
  std::vector<unsigned char> want;
  for (size_t i = 0; i < terminated.size(); ++i) fuzz::ReferenceAppend(values[i], want);
  terminated.push_back(0);
  const std::unique_ptr<unsigned char[]> out(WideToUtf8(terminated.data()));
  ASSERT_EQ(want.size(), GetUtf8EncodingBytes(terminated.data())) << "zero-terminated";
  ASSERT_TRUE(std::equal(want.begin(), want.end(), out.get()) && out[want.size()] == 0);
}

TEST(Utf8CodecTest, EncodingAgreesWithTheReference) {
  std::mt19937 rng(19);
  for (unsigned mix = 1; mix < 64; ++mix) {
    for (const size_t length : Lengths(rng)) {
      std::vector<uint32_t> values = RandomValues(mix, length, rng);
      // Now and then values out of range, anywhere (rarely: each costs several reports).
      if (!values.empty() && rng() % 16 == 0) {
        for (unsigned i = rng() % 3; i < 3; ++i)
          values[rng() % values.size()] = 0x80000000u | rng();
      }
      ASSERT_NO_FATAL_FAILURE(CheckEncoding(values, rng))
          << "forms mix " << mix << ", " << length << " characters";
    }
  }
}

// The messages of the failed-check reports `f` shows as alerts, and the first line it
// writes on standard error.
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
  const Block<unsigned char> bytes({0xFF}, 0);
  try {
    GetUtf8StringLength(bytes.begin(), bytes.end());
    ADD_FAILURE() << "no exception";
  } catch (const InvalidSequence& e) {
    EXPECT_STREQ("Utf8ToWide", e.getFileName());
    EXPECT_NE(0u, e.getLineNumber());
    EXPECT_STREQ("Invalid UTF8 encoding sequence", e.what());
  }

  const std::string range = "Invalid unicode range";
  const Block<wchar_t> wide({'a', wchar_t(0xFFFFFFFFu), 'b'}, 0);
  const wchar_t* const b = wide.begin();
  unsigned char dest[3];
  EXPECT_EQ(std::make_pair(Messages{range}, "WideToUtf8(#): Assertion failed: " + range + "\a\n"),
            Reported([&] { GetUtf8EncodingBytes(b, b + 3); }));
  EXPECT_EQ((Messages{range, "invalid unicode"}),
            Reported([&] { WideToUtf8(b, b + 3, dest, dest + 3); }).first);
  EXPECT_EQ(
      Messages{"UTF-8 string representation overflowed a size_t. The string will be truncated"},
      Reported([&] { GetUtf8EncodingBytesWithBufferLimit(b, b + 1, 0); }).first);
}

// Null sources convert nothing. A null or inverted destination throws; an empty one is
// reported, converts nothing, and the throwing form then throws unless there was nothing
// to convert. `fill` and `stop` are a direction's throwing and stopping forms.
template <class From, class To, class Fill, class Stop>
void CheckDestinationArguments(Fill fill, Stop stop, const std::string& file) {
  const Block<From> text({'a', 'b'}, 0);
  To dest[2] = {7, 7};
  const From* at = nullptr;
  EXPECT_EQ(0u, fill(nullptr, nullptr, dest, dest + 2));
  EXPECT_EQ(0u, stop(at, nullptr, dest, dest + 2));
  EXPECT_EQ(7, dest[0]);
  at = text.begin();
  EXPECT_THROW(fill(text.begin(), text.end(), nullptr, dest), InvalidArgument);
  EXPECT_THROW(fill(text.begin(), text.end(), dest + 1, dest), InvalidArgument);
  EXPECT_THROW(stop(at, text.end(), nullptr, nullptr), InvalidArgument);
  const auto reported = Reported([&] {
    EXPECT_EQ(0u, stop(at, text.end(), dest, dest));
    EXPECT_EQ(text.begin(), at);
    EXPECT_THROW(fill(text.begin(), text.end(), dest, dest), BufferOverflow);
    EXPECT_EQ(0u, fill(text.end(), text.end(), dest, dest));
  });
  EXPECT_EQ(3u, reported.first.size());
  EXPECT_EQ(file + "(#): Assertion failed: destBegin < destEnd\a\n", reported.second);
}

TEST(Utf8CodecTest, NullSourcesAndDestinationArguments) {
  EXPECT_EQ(0, std::unique_ptr<wchar_t[]>(Utf8ToWide(nullptr, 5))[0]);
  EXPECT_EQ(0u, GetUtf8StringLength(nullptr, nullptr));
  wchar_t c = 7;
  EXPECT_EQ(nullptr, ConvertNextUtf8Character(nullptr, nullptr, c));
  EXPECT_EQ(0, c);
  EXPECT_EQ(0, std::unique_ptr<unsigned char[]>(WideToUtf8(nullptr, nullptr))[0]);
  EXPECT_EQ(0u, GetUtf8EncodingBytes(nullptr, nullptr));
  EXPECT_EQ(0u, GetUtf8EncodingBytesWithBufferLimit(nullptr, nullptr, 0));
  CheckDestinationArguments<unsigned char, wchar_t>(
      [](auto&&... a) { return Utf8ToWide(a...); },
      [](auto&&... a) { return Utf8ToWideNoOverflow(a...); }, "Utf8ToWide");
  CheckDestinationArguments<wchar_t, unsigned char>(
      [](auto&&... a) { return WideToUtf8(a...); },
      [](auto&&... a) { return WideToUtf8NoOverflow(a...); }, "WideToUtf8");
}

}  // namespace
}  // namespace vo::qel
