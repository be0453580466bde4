#include "qel/Utf8ToWide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using exception::InvalidSequence;
using testing::AlertRecorder;
using Values = std::vector<uint32_t>;

// Bytes in a heap block of exactly their size, so that AddressSanitizer builds
// catch any read at or past the end.
struct Bytes {
  explicit Bytes(const std::string& text) : size(text.size()), data(new unsigned char[size]) {
    std::memcpy(data.get(), text.data(), size);
  }
  const unsigned char* begin() const { return data.get(); }
  const unsigned char* end() const { return data.get() + size; }
  size_t size;
  std::unique_ptr<unsigned char[]> data;
};

// The counted, allocating and filling (exact room) forms, which must agree.
Values Decoded(const Bytes& bytes) {
  const size_t count = GetUtf8StringLength(bytes.begin(), bytes.end());
  std::unique_ptr<wchar_t[]> wide(Utf8ToWide(bytes.begin(), bytes.size));
  EXPECT_EQ(0, wide[count]) << "terminator";
  std::vector<wchar_t> dest(count + 1, wchar_t(0x5A5A5A5A));
  EXPECT_EQ(count, Utf8ToWide(bytes.begin(), bytes.end(), dest.data(), dest.data() + count));
  EXPECT_EQ(wchar_t(0x5A5A5A5A), dest[count]) << "wrote past the elements it reports";
  EXPECT_TRUE(std::equal(dest.begin(), dest.end() - 1, wide.get())) << "filling form differs";
  return Values(wide.get(), wide.get() + count);
}

Values SteppingDecode(const Bytes& bytes) {
  Values out;
  const unsigned char* p = bytes.begin();
  wchar_t c;
  for (const unsigned char* n; (n = ConvertNextUtf8Character(p, bytes.end(), c)) != p; p = n) {
    out.push_back(uint32_t(c));
  }
  EXPECT_EQ(0, c);
  return out;
}

// Every whole form at its first and last code point (the fuzz target compares all others
// with a reference decoder).
const struct {
  const char* name;
  std::string bytes;
  Values values;
} kValid[] = {
    {"one_byte_first", std::string(1, '\0'), {0x00}},
    {"one_byte_last", "\x7F", {0x7F}},
    {"two_byte_first", "\xC2\x80", {0x80}},
    {"two_byte_last", "\xDF\xBF", {0x7FF}},
    {"three_byte_first", "\xE0\xA0\x80", {0x800}},
    {"three_byte_last", "\xEF\xBF\xBF", {0xFFFF}},
    {"four_byte_first", "\xF0\x90\x80\x80", {0x10000}},
    {"four_byte_last", "\xF7\xBF\xBF\xBF", {0x1FFFFF}},
    {"five_byte_first", "\xF8\x88\x80\x80\x80", {0x200000}},
    {"five_byte_last", "\xFB\xBF\xBF\xBF\xBF", {0x3FFFFFF}},
    {"six_byte_first", "\xFC\x84\x80\x80\x80\x80", {0x4000000}},
    {"six_byte_last", "\xFD\xBF\xBF\xBF\xBF\xBF", {0x7FFFFFFF}},
    {"run_of_two_byte", "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4", {0x3B1, 0x3B2, 0x3B3, 0x3B4}},
    {"run_of_three_byte", "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", {0x4E2D, 0x6587, 0x5B57}},
};

// The fast paths work on blocks of 16 bytes and look a few bytes back and ahead, so
// every case is tried at every offset inside a run of ASCII and at the very end.
TEST(Utf8ToWideTest, ValidFormsDecodeAlikeInEveryFormAndBlockPosition) {
  for (const auto& c : kValid) {
    for (size_t before = 0; before <= 40; ++before) {
      for (size_t after : {0, 1, 7, 40}) {
        SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + ", before " +
                     std::to_string(after) + " ASCII bytes");
        const Bytes bytes(std::string(before, 'x') + c.bytes + std::string(after, 'y'));
        Values want(before, 'x');
        want.insert(want.end(), c.values.begin(), c.values.end());
        want.insert(want.end(), after, 'y');
        ASSERT_EQ(want, Decoded(bytes));
        ASSERT_EQ(want, SteppingDecode(bytes));
      }
    }
  }
}

const struct {
  const char* name;
  std::string bytes;
} kInvalid[] = {
    {"overlong_lead_C0", "\xC0\x80"},
    {"overlong_lead_C1", "\xC1\xBF"},
    {"overlong_E0_9F_BF", "\xE0\x9F\xBF"},
    {"overlong_F0_8F_BF_BF", "\xF0\x8F\xBF\xBF"},
    {"overlong_F8_87", "\xF8\x87\xBF\xBF\xBF"},
    {"overlong_FC_83", "\xFC\x83\xBF\xBF\xBF\xBF"},
    {"lone_continuation_80", "\x80"},
    {"lead_FE", "\xFE"},
    {"continuation_after_whole", "\xC3\xA9\xA9"},
    {"overlong_inside_two_byte_run", "\xCE\xB1\xCE\xB1\xC1\xBF\xCE\xB1\xCE\xB1"},
    {"ascii_instead_of_continuation", "\xE3\x81\x41"},
    {"six_byte_with_five", "\xFD\xBF\xBF\xBF\xBF\x41"},
    {"cut_2_of_2", "\xC3"},
    {"cut_3_of_3", "\xE3\x81"},
    {"cut_2_of_3", "\xE3"},
    {"cut_4_of_4", "\xF0\x9F\x8E"},
    {"cut_5_of_5", "\xF8\x88\x80\x80"},
    {"cut_6_of_6", "\xFC\x84\x80\x80\x80"},
    {"cut_2_of_6", "\xFC"},
};

void ExpectInvalidEverywhere(const Bytes& bytes) {
  EXPECT_THROW(GetUtf8StringLength(bytes.begin(), bytes.end()), InvalidSequence);
  EXPECT_THROW(delete[] Utf8ToWide(bytes.begin(), bytes.size), InvalidSequence);
  std::vector<wchar_t> dest(bytes.size + 1);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest.data(), dest.data() + dest.size()),
               InvalidSequence);
  EXPECT_THROW(SteppingDecode(bytes), InvalidSequence);
}

TEST(Utf8ToWideTest, InvalidSequencesThrowFromEveryFormAndBlockPosition) {
  for (const auto& c : kInvalid) {
    for (size_t before = 0; before <= 40; ++before) {
      SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + " bytes");
      // Cut sequences only make sense at the end; the others also with ASCII after,
      // and inside a run of three-byte characters.
      ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + c.bytes));
      if (std::string(c.name).compare(0, 4, "cut_") != 0) {
        ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + c.bytes + std::string(40, 'y')));
        ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + "\xE4\xB8\xAD" + c.bytes +
                                      "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD"));
      }
    }
  }
  try {
    const Bytes bytes("\xFF");
    GetUtf8StringLength(bytes.begin(), bytes.end());
    ADD_FAILURE() << "no exception";
  } catch (const InvalidSequence& e) {
    EXPECT_STREQ("Utf8ToWide", e.getFileName());
    EXPECT_NE(0u, e.getLineNumber());
    EXPECT_STREQ("Invalid UTF8 encoding sequence", e.what());
  }
}

TEST(Utf8ToWideTest, StoppingFormLeavesSourceWhereConversionStopped) {
  struct {
    const char* name;
    std::string bytes;
    size_t room, written, stop;  // stop: offset left in the source
    bool throws;
  } const cases[] = {
      {"full_after_two", "abc", 2, 2, 2, false},
      {"full_before_multibyte", "a\xC3\xA9\xE4\xB8\xAD", 1, 1, 1, false},
      {"full_after_multibyte", "a\xC3\xA9\xE4\xB8\xAD", 2, 2, 3, false},
      {"invalid_reached", "ab\xFF", 3, 2, 2, true},
      {"cut_reached", "ab\xE4\xB8", 3, 2, 2, true},
      {"long_ascii_full_mid_block", std::string(40, 'q'), 21, 21, 21, false},
      {"long_cjk_full", std::string(30, 'q') + "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD", 32, 32, 36,
       false},
      {"long_invalid_after_block", std::string(37, 'q') + "\xC3\x41", 64, 37, 37, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes(c.bytes);
    std::vector<wchar_t> dest(c.room + 1, wchar_t(-1));
    const unsigned char* cursor = bytes.begin();
    size_t written = c.written;
    try {
      written = Utf8ToWideNoOverflow(cursor, bytes.end(), dest.data(), dest.data() + c.room);
      EXPECT_FALSE(c.throws);
    } catch (const InvalidSequence&) {
      EXPECT_TRUE(c.throws);
    }
    EXPECT_EQ(c.written, written);
    EXPECT_EQ(c.stop, size_t(cursor - bytes.begin()));
    EXPECT_EQ(wchar_t(-1), dest[c.written]) << "element after the last one converted was written";
  }
}

TEST(Utf8ToWideTest, DestinationArguments) {
  const Bytes bytes("abc");
  wchar_t dest[4];
  const unsigned char* cursor = bytes.begin();
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), nullptr, dest + 4), InvalidArgument);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest + 2, dest + 1), InvalidArgument);
  EXPECT_THROW(Utf8ToWideNoOverflow(cursor, bytes.end(), nullptr, nullptr), InvalidArgument);
  EXPECT_EQ(bytes.begin(), cursor);
  // Too small: what fitted is written, then the throwing form throws.
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest, dest + 2), BufferOverflow);
  EXPECT_EQ(wchar_t('b'), dest[1]);

  // An empty destination is reported, converts nothing, and the throwing form then
  // throws unless there was nothing to convert.
  AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(0u, Utf8ToWideNoOverflow(cursor, bytes.end(), dest, dest));
  EXPECT_EQ(bytes.begin(), cursor);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest, dest), BufferOverflow);
  EXPECT_EQ(0u, Utf8ToWide(bytes.end(), bytes.end(), dest, dest));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(3u, alerts.alerts().size());
  EXPECT_EQ("Utf8ToWide(#): Assertion failed: destBegin < destEnd\a\n",
            testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)));
}

TEST(Utf8ToWideTest, NullAndEmptySources) {
  const Bytes none("");  // not null, yet just as empty
  for (const unsigned char* source : {static_cast<const unsigned char*>(nullptr), none.begin()}) {
    SCOPED_TRACE(source == nullptr ? "null" : "empty");
    EXPECT_EQ(0, std::unique_ptr<wchar_t[]>(Utf8ToWide(source, source == nullptr ? 5 : 0))[0]);
    EXPECT_EQ(0u, GetUtf8StringLength(source, source));
    wchar_t dest[2] = {7, 7};
    const unsigned char* cursor = source;
    EXPECT_EQ(0u, Utf8ToWide(source, source, dest, dest + 2));
    EXPECT_EQ(0u, Utf8ToWideNoOverflow(cursor, source, dest, dest + 2));
    EXPECT_EQ(7, dest[0]);
    wchar_t c = 7;
    EXPECT_EQ(source, ConvertNextUtf8Character(source, source, c));
    EXPECT_EQ(0, c);
  }
}

}  // namespace
}  // namespace vo::qel
