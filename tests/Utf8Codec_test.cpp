// The UTF-8 codec against the plain reference codec of the fuzz targets: every form of
// both directions on random texts of up to 64 KiB in every mix of sequence lengths, at
// lengths that cross each block, group, stack buffer and lane-sum fold of the fast paths;
// then caller errors and the texts of the exception and the reports. The program runs
// once with the codec's SIMD path and once without it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
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
using fuzz::Block;
using fuzz::kSmallest;

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
      const uint32_t span = (form < 6 ? kSmallest[form + 1] : 0x80000000u) - kSmallest[form];
      const unsigned pick = rng() % 16;
      values.push_back(kSmallest[form] + (pick == 0 ? 0 : pick == 1 ? span - 1 : rng() % span));
    }
  }
  return values;
}

// Valid text as often as not; else one fault: a byte replaced by any other, a cut at the
// end, or an overlong or never valid sequence put between two characters.
std::vector<unsigned char> MaybeBroken(std::vector<unsigned char> bytes, std::mt19937& rng) {
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
    size_t at = bytes.empty() ? 0 : rng() % bytes.size();
    // Back to the start of a character (text from the reference starts with one).
    while (at < bytes.size() && (bytes[at] & 0xC0) == 0x80) --at;
    const char* bad = kBad;
    for (unsigned skip = rng() % 10; skip > 0; --skip) bad += std::strlen(bad) + 1;
    bytes.insert(bytes.begin() + std::ptrdiff_t(at), bad, bad + std::strlen(bad));
  }
  return bytes;
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

TEST(Utf8CodecTest, EveryFormAgreesWithTheReference) {
  std::mt19937 rng(19);
  for (unsigned mix = 1; mix < 64; ++mix) {
    // Characters per text: each count up to 40, either side of the 128 of a short text,
    // and long texts (up to 64 KiB wide) whose blocks fold their per-lane sums many times.
    std::vector<size_t> lengths{
        42, 126, 127, 128, 129, 130, 300, 1000 + rng() % 4000, 8192 + rng() % 8192};
    for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (const size_t length : lengths) {
      std::vector<uint32_t> values = RandomValues(mix, length, rng);
      std::vector<unsigned char> bytes;
      for (const uint32_t v : values) fuzz::ReferenceAppend(v, bytes);
      const std::vector<unsigned char> text = MaybeBroken(bytes, rng);
      ASSERT_EQ("", fuzz::CheckDecoding(text, Rooms(length, rng)))
          << "decoding, forms mix " << mix << ", " << text.size() << " bytes";
      // Now and then values out of range, anywhere (rarely: each costs several reports).
      const bool outOfRange = !values.empty() && rng() % 16 == 0;
      for (unsigned i = 0; outOfRange && i < 3; ++i) {
        values[rng() % values.size()] = 0x80000000u | rng();
      }
      ASSERT_EQ("", fuzz::CheckEncoding(values, Rooms(bytes.size(), rng, outOfRange)))
          << "encoding, forms mix " << mix << ", " << length << " characters";
    }
  }
}

// The failed-check reports of `f`, without line numbers.
template <class F>
std::vector<std::string> Reported(F f) {
  testing::AlertRecorder alerts;
  f();
  std::vector<std::string> reports = alerts.take();
  for (std::string& report : reports) report = testing::WithoutLineNumber(report);
  return reports;
}

using Reports = std::vector<std::string>;

TEST(Utf8CodecTest, ExceptionAndReportTexts) {
  const Block<unsigned char> bytes({0xFF}, 0);
  using namespace ::testing;
  EXPECT_THAT([&] { GetUtf8StringLength(bytes.begin(), bytes.end()); },
              Throws<InvalidSequence>(AllOf(
                  Property(&InvalidSequence::getFileName, StrEq("Utf8ToWide")),
                  Property(&InvalidSequence::what, StrEq("Invalid UTF8 encoding sequence")))));
  const std::string range = "WideToUtf8(#) value <= 0x7FFFFFFF | Invalid unicode range";
  const Block<wchar_t> wide({'a', wchar_t(0xFFFFFFFFu), 'b'}, 0);
  const wchar_t* const b = wide.begin();
  unsigned char dest[3];
  EXPECT_EQ(Reports{range}, Reported([&] { GetUtf8EncodingBytes(b, b + 3); }));
  EXPECT_EQ((Reports{range, "WideToUtf8(#) length != -1 | invalid unicode"}),
            Reported([&] { WideToUtf8(b, b + 3, dest, dest + 3); }));
  EXPECT_EQ(Reports{"WideToUtf8(#) !overflow && total <= limit | UTF-8 string representation "
                    "overflowed a size_t. The string will be truncated"},
            Reported([&] { GetUtf8EncodingBytesWithBufferLimit(b, b + 1, 0); }));
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
  EXPECT_EQ(Reports(3, file + "(#) destBegin < destEnd | "), Reported([&] {
              EXPECT_EQ(0u, stop(at, text.end(), dest, dest));
              EXPECT_EQ(text.begin(), at);
              EXPECT_THROW(fill(text.begin(), text.end(), dest, dest), BufferOverflow);
              EXPECT_EQ(0u, fill(text.end(), text.end(), dest, dest));
            }));
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
