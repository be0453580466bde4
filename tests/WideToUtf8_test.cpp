#include "qel/WideToUtf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using testing::AlertRecorder;
using Values = std::vector<uint32_t>;

// Wide text in a heap block of exactly its size (AddressSanitizer builds catch any
// read past the end).
struct Wide {
  Wide(const Values& values) : size(values.size()), data(new wchar_t[size + (size == 0)]) {
    std::copy(values.begin(), values.end(), data.get());
  }
  const wchar_t* begin() const { return data.get(); }
  const wchar_t* end() const { return data.get() + size; }
  size_t size;
  std::unique_ptr<wchar_t[]> data;
};

std::string Allocating(const Wide& wide) {
  const size_t size = GetUtf8EncodingBytes(wide.begin(), wide.end());
  std::unique_ptr<unsigned char[]> bytes(WideToUtf8(wide.begin(), wide.end()));
  EXPECT_EQ(0, bytes[size]) << "terminator";
  return std::string(reinterpret_cast<const char*>(bytes.get()), size);
}

std::string Filling(const Wide& wide, size_t room) {
  std::vector<unsigned char> dest(room + 1, 0xA5);
  const size_t n = WideToUtf8(wide.begin(), wide.end(), dest.data(), dest.data() + room);
  EXPECT_EQ(0xA5, dest[n]) << "wrote past the bytes it reports";
  return std::string(dest.begin(), dest.begin() + n);
}

// Runs `f` and returns the messages of the failed-check reports it showed as alerts;
// `err` receives what was written on standard error.
template <class F>
std::vector<std::string> Reported(F f, std::string* err = nullptr) {
  AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  f();
  const std::string written = ::testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = written;
  std::vector<std::string> out;
  for (const auto& alert : alerts.alerts()) {
    const size_t from = alert.text.find("Message: ") + 9;
    out.push_back(alert.text.substr(from, alert.text.find('\n', from) - from));
  }
  return out;
}

const struct {
  const char* name;
  uint32_t value;
  std::string bytes;
} kForms[] = {
    {"one_byte_first", 0x00, std::string(1, '\0')},
    {"one_byte_last", 0x7F, "\x7F"},
    {"two_byte_first", 0x80, "\xC2\x80"},
    {"two_byte_last", 0x7FF, "\xDF\xBF"},
    {"three_byte_first", 0x800, "\xE0\xA0\x80"},
    {"three_byte_last", 0xFFFF, "\xEF\xBF\xBF"},
    {"four_byte_first", 0x10000, "\xF0\x90\x80\x80"},
    {"four_byte_last", 0x1FFFFF, "\xF7\xBF\xBF\xBF"},
    {"five_byte_first", 0x200000, "\xF8\x88\x80\x80\x80"},
    {"five_byte_last", 0x3FFFFFF, "\xFB\xBF\xBF\xBF\xBF"},
    {"six_byte_first", 0x4000000, "\xFC\x84\x80\x80\x80\x80"},
    {"six_byte_last", 0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
};

// The fast paths take 16 elements at a time, so each form is placed at every
// position of a block and next to the end. A run of three-byte characters after it
// fills whole blocks of one form, which are encoded together (long runs of two-byte
// characters are encoded below).
TEST(WideToUtf8Test, EveryFormAtItsBoundsAndEveryBlockPosition) {
  for (const auto& c : kForms) {
    for (size_t before = 0; before <= 34; ++before) {
      for (size_t after : {0, 1, 15, 40}) {
        SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + ", before " +
                     std::to_string(after));
        Values values(before, 'x');
        values.push_back(c.value);
        values.insert(values.end(), after, 0x4E2D);
        std::string want = std::string(before, 'x') + c.bytes;
        for (size_t i = 0; i < after; ++i) want += "\xE4\xB8\xAD";
        const Wide wide(values);
        ASSERT_EQ(want, Allocating(wide));
        ASSERT_EQ(want, Filling(wide, want.size()));
        ASSERT_EQ(want, Filling(wide, want.size() + 100));
      }
    }
  }
}

// Values above 0x7FFFFFFF have no form: each is reported and becomes one '?'. The
// measured size counts it as one byte, so sizes and conversions still agree (the fuzz
// target places such values anywhere in long texts).
TEST(WideToUtf8Test, ValuesOutOfRangeBecomeQuestionMarks) {
  const std::string range = "Invalid unicode range", converting = "invalid unicode";
  for (uint32_t value : {0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(value);
    const Wide wide({'a', value, 'b'});
    std::string err;
    EXPECT_EQ(
        std::vector<std::string>{range},
        Reported([&] { EXPECT_EQ(3u, GetUtf8EncodingBytes(wide.begin(), wide.end())); }, &err));
    EXPECT_EQ("WideToUtf8(#): Assertion failed: Invalid unicode range\a\n",
              testing::WithoutLineNumber(err));
    EXPECT_EQ((std::vector<std::string>{range, converting}),
              Reported([&] { EXPECT_EQ("a?b", Filling(wide, 3)); }));
    // Measured by Allocating itself, then by WideToUtf8: measure, measure, convert.
    EXPECT_EQ((std::vector<std::string>{range, range, range, converting}),
              Reported([&] { EXPECT_EQ("a?b", Allocating(wide)); }));
  }
}

TEST(WideToUtf8Test, StoppingFormConvertsWholeCharactersOnly) {
  struct {
    const char* name;
    Values values;
    size_t room, written, stop;  // stop: elements converted
  } const cases[] = {
      {"two_byte_does_not_fit", {0x61, 0xE9}, 2, 1, 1},
      {"six_byte_needs_six", {0x7FFFFFFF}, 5, 0, 0},
      {"replacement_needs_one", {0x61, 0x90000000u, 0x62}, 2, 2, 2},
      {"long_ascii_full_mid_block", Values(40, 'q'), 19, 19, 19},
      {"long_cjk_full", Values(40, 0x4E2D), 100, 99, 33},
      // Short texts: four at a time while the room holds three bytes each, so a
      // group may end exactly where the room does.
      {"short_group_then_no_room", Values(5, 0x4E2D), 13, 12, 4},
      {"short_group_fills_room", {0x4E2D, 0x3B1, 0x4E2D, 0x4E2D, 0x61}, 11, 11, 4},
      {"short_four_byte_after_group", {0x4E2D, 0x4E2D, 0x4E2D, 0x4E2D, 0x1F389}, 15, 12, 4},
      {"short_last_three_byte_no_room", {0x61, 0x62, 0x4E2D}, 4, 2, 2},
      {"short_cjk_tail_short_of_room", Values(6, 0x4E2D), 17, 15, 5},
      {"short_mixed_group_then_tail", {0xE9, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66}, 7, 7, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Wide wide(c.values);
    std::vector<unsigned char> dest(c.room + 1, 0xA5);
    const wchar_t* cursor = wide.begin();
    Reported([&] {
      EXPECT_EQ(c.written,
                WideToUtf8NoOverflow(cursor, wide.end(), dest.data(), dest.data() + c.room));
      EXPECT_EQ(c.stop, size_t(cursor - wide.begin()));
      EXPECT_EQ(0xA5, dest[c.written]);
      EXPECT_EQ(Allocating(Values(c.values.begin(), c.values.begin() + c.stop)),
                std::string(dest.begin(), dest.begin() + c.written));
      if (c.stop < c.values.size()) {
        EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest.data(), dest.data() + c.room),
                     BufferOverflow);
      } else {
        EXPECT_EQ(c.written,
                  WideToUtf8(wide.begin(), wide.end(), dest.data(), dest.data() + c.room));
      }
    });
  }
}

// Long runs of one form, past the point where per-lane sums of the measuring blocks
// must be folded (a three-byte text of 2^17 characters once measured 17 GB).
TEST(WideToUtf8Test, LongRunsOfOneForm) {
  const size_t count = 4096 * 16 * 3 + 5;
  for (const uint32_t first : {0u, 0x7FFFFFFFu}) {  // 0: none; else six bytes that shift blocks
    for (const auto& c : {std::make_pair(0x4E2Du, 3u), std::make_pair(0x3B1u, 2u)}) {
      SCOPED_TRACE(std::to_string(c.first) + " after " + std::to_string(first));
      Values values(count, c.first);
      if (first != 0) values.insert(values.begin(), first);
      const size_t want = count * c.second + (first == 0 ? 0 : 6);
      const Wide wide(values);
      const std::string allocated = Allocating(wide);
      EXPECT_EQ(want, allocated.size());
      EXPECT_EQ(allocated, Filling(wide, want));
    }
  }
}

TEST(WideToUtf8Test, MeasuringWithALimit) {
  const std::string cut =
      "UTF-8 string representation overflowed a size_t. The string will be truncated";
  struct {
    const char* name;
    Values values;
    size_t limit, size;
    bool reported;
  } const cases[] = {
      {"cuts_before_two_byte", {0x61, 0xE9}, 2, 1, true},
      {"fits_exactly", {0x61, 0xE9}, 3, 3, false},
      {"zero_limit", {0x61}, 0, 0, true},
      {"zero_limit_empty_text", {}, 0, 0, false},
      {"long_cjk_cut_mid_block", Values(100, 0x4E2D), 200, 198, true},
      {"long_ascii_cut", Values(100, 'a'), 97, 97, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Wide wide(c.values);
    EXPECT_EQ(std::vector<std::string>(c.reported, cut), Reported([&] {
                EXPECT_EQ(c.size,
                          GetUtf8EncodingBytesWithBufferLimit(wide.begin(), wide.end(), c.limit));
              }));
  }
}

// The zero-terminated forms are compared with the ranged ones by the fuzz target.
TEST(WideToUtf8Test, NullSourcesAndBadDestinations) {
  EXPECT_EQ(0, std::unique_ptr<unsigned char[]>(WideToUtf8(nullptr, nullptr))[0]);
  EXPECT_EQ(0u, GetUtf8EncodingBytes(nullptr, nullptr));
  EXPECT_EQ(0u, GetUtf8EncodingBytesWithBufferLimit(nullptr, nullptr, 0));
  unsigned char dest[4] = {7, 7};
  const wchar_t* cursor = nullptr;
  EXPECT_EQ(0u, WideToUtf8(nullptr, nullptr, dest, dest + 2));
  EXPECT_EQ(0u, WideToUtf8NoOverflow(cursor, nullptr, dest, dest + 2));
  EXPECT_EQ(7, dest[0]);

  const Wide wide({'a', 'b'});
  cursor = wide.begin();
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), nullptr, dest + 4), InvalidArgument);
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest + 3, dest + 1), InvalidArgument);
  EXPECT_THROW(WideToUtf8NoOverflow(cursor, wide.end(), nullptr, nullptr), InvalidArgument);

  // An empty destination is reported, converts nothing, and the throwing form then
  // throws unless there was nothing to convert.
  std::string err;
  const auto reports = Reported(
      [&] {
        EXPECT_EQ(0u, WideToUtf8NoOverflow(cursor, wide.end(), dest, dest));
        EXPECT_EQ(wide.begin(), cursor);
        EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest, dest), BufferOverflow);
        EXPECT_EQ(0u, WideToUtf8(wide.end(), wide.end(), dest, dest));
      },
      &err);
  EXPECT_EQ(3u, reports.size());
  EXPECT_EQ("WideToUtf8(#): Assertion failed: destBegin < destEnd\a\n",
            testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)));
}

}  // namespace
}  // namespace vo::qel
