#include "qel/Utf8ToWide.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using exception::InvalidSequence;
using testing::AlertRecorder;

// Bytes in a heap block of exactly their size, so that AddressSanitizer builds
// catch any read at or past the end.
class Bytes {
 public:
  explicit Bytes(const std::string& text) : size_(text.size()), data_(new unsigned char[size_]) {
    std::memcpy(data_.get(), text.data(), size_);
  }
  const unsigned char* begin() const { return data_.get(); }
  const unsigned char* end() const { return data_.get() + size_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::unique_ptr<unsigned char[]> data_;
};

std::vector<uint32_t> AllocatingDecode(const Bytes& bytes) {
  const size_t count = GetUtf8StringLength(bytes.begin(), bytes.end());
  std::unique_ptr<wchar_t[]> wide(Utf8ToWide(bytes.begin(), bytes.size()));
  EXPECT_EQ(0, wide[count]) << "terminator";
  return std::vector<uint32_t>(wide.get(), wide.get() + count);
}

std::vector<uint32_t> FillingDecode(const Bytes& bytes, size_t room) {
  std::vector<wchar_t> dest(room + 1, wchar_t(0x5A5A5A5A));
  const size_t n = Utf8ToWide(bytes.begin(), bytes.end(), dest.data(), dest.data() + room);
  EXPECT_EQ(wchar_t(0x5A5A5A5A), dest[n]) << "wrote past the elements it reports";
  return std::vector<uint32_t>(dest.begin(), dest.begin() + n);
}

std::vector<uint32_t> SteppingDecode(const Bytes& bytes) {
  std::vector<uint32_t> out;
  const unsigned char* p = bytes.begin();
  wchar_t c;
  for (const unsigned char* next; (next = ConvertNextUtf8Character(p, bytes.end(), c)) != p;) {
    out.push_back(uint32_t(c));
    p = next;
  }
  EXPECT_EQ(0, c);
  return out;
}

// Every whole form at its first and last code point, and the values this codec
// passes through where strict UTF-8 would refuse them.
struct ValidCase {
  const char* name;
  std::string bytes;
  std::vector<uint32_t> values;
};

const ValidCase kValid[] = {
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
    {"surrogate_first", "\xED\xA0\x80", {0xD800}},
    {"surrogate_last", "\xED\xBF\xBF", {0xDFFF}},
    {"unicode_last", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
    {"past_unicode", "\xF4\x90\x80\x80", {0x110000}},
    {"embedded_zero", std::string("A\0B", 3), {0x41, 0x00, 0x42}},
    {"pair_of_two_byte", "\xCE\xB1\xCE\xB2", {0x3B1, 0x3B2}},
    {"pair_of_three_byte", "\xE4\xB8\xAD\xE6\x96\x87", {0x4E2D, 0x6587}},
    {"run_of_two_byte",
     "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5",
     {0x3B1, 0x3B2, 0x3B3, 0x3B4, 0x3B5}},
    {"run_of_three_byte",
     "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97\xE7\xAC\xA6\xE4\xB8\xB2",
     {0x4E2D, 0x6587, 0x5B57, 0x7B26, 0x4E32}},
    {"mixed_forms", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\x89z", {0x61, 0xE9, 0x4E2D, 0x1F389, 0x7A}},
};

TEST(Utf8ToWideTest, ValidFormsDecodeAlikeInEveryForm) {
  for (const auto& c : kValid) {
    SCOPED_TRACE(c.name);
    const Bytes bytes(c.bytes);
    EXPECT_EQ(c.values.size(), GetUtf8StringLength(bytes.begin(), bytes.end()));
    EXPECT_EQ(c.values, AllocatingDecode(bytes));
    EXPECT_EQ(c.values, FillingDecode(bytes, c.values.size()));
    EXPECT_EQ(c.values, SteppingDecode(bytes));
  }
}

// The fast paths work on blocks of 16 bytes and look a few bytes back and ahead, so
// every case is also tried at every offset inside a run of ASCII and at the very end
// of the range.
TEST(Utf8ToWideTest, ValidFormsDecodeAtEveryBlockPosition) {
  for (const auto& c : kValid) {
    for (size_t before = 0; before <= 40; ++before) {
      for (size_t after : {size_t(0), size_t(1), size_t(7), size_t(40)}) {
        SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + " before " +
                     std::to_string(after) + " ASCII bytes");
        const Bytes bytes(std::string(before, 'x') + c.bytes + std::string(after, 'y'));
        std::vector<uint32_t> want(before, 'x');
        want.insert(want.end(), c.values.begin(), c.values.end());
        want.insert(want.end(), after, 'y');
        ASSERT_EQ(want.size(), GetUtf8StringLength(bytes.begin(), bytes.end()));
        ASSERT_EQ(want, AllocatingDecode(bytes));
        ASSERT_EQ(want, FillingDecode(bytes, want.size()));
      }
    }
  }
}

struct InvalidCase {
  const char* name;
  std::string bytes;
};

const InvalidCase kInvalid[] = {
    {"overlong_lead_C0", "\xC0\x80"},
    {"overlong_lead_C1", "\xC1\xBF"},
    {"overlong_E0_80_80", "\xE0\x80\x80"},
    {"overlong_E0_9F_BF", "\xE0\x9F\xBF"},
    {"overlong_F0_80_80_80", "\xF0\x80\x80\x80"},
    {"overlong_F0_8F_BF_BF", "\xF0\x8F\xBF\xBF"},
    {"overlong_F8_80", "\xF8\x80\x80\x80\x80"},
    {"overlong_F8_87", "\xF8\x87\xBF\xBF\xBF"},
    {"overlong_FC_80", "\xFC\x80\x80\x80\x80\x80"},
    {"overlong_FC_83", "\xFC\x83\xBF\xBF\xBF\xBF"},
    {"lone_continuation_80", "\x80"},
    {"lone_continuation_BF", "\xBF"},
    {"lead_FE", "\xFE"},
    {"lead_FF", "\xFF"},
    {"continuation_after_whole", "\xC3\xA9\xA9"},
    {"overlong_inside_two_byte_run", "\xCE\xB1\xCE\xB1\xC1\xBF\xCE\xB1\xCE\xB1"},
    {"overlong_inside_three_byte_run",
     "\xE4\xB8\xAD\xE4\xB8\xAD\xE0\x80\x80\xE4\xB8\xAD\xE4\xB8\xAD"},
    {"ascii_inside_three_byte_run", "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\x41\xAD\xE4\xB8\xAD"},
    {"ascii_instead_of_continuation_2", "\xC3\x41"},
    {"ascii_instead_of_continuation_3", "\xE3\x81\x41"},
    {"lead_instead_of_continuation", "\xE3\xC3\xA9"},
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
  EXPECT_THROW(delete[] Utf8ToWide(bytes.begin(), bytes.size()), InvalidSequence);
  std::vector<wchar_t> dest(bytes.size() + 1);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest.data(), dest.data() + dest.size()),
               InvalidSequence);
  EXPECT_THROW(SteppingDecode(bytes), InvalidSequence);
}

TEST(Utf8ToWideTest, InvalidSequencesThrowFromEveryForm) {
  for (const auto& c : kInvalid) {
    SCOPED_TRACE(c.name);
    ExpectInvalidEverywhere(Bytes(c.bytes));
  }
}

TEST(Utf8ToWideTest, InvalidSequencesThrowAtEveryBlockPosition) {
  for (const auto& c : kInvalid) {
    for (size_t before = 0; before <= 40; ++before) {
      SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + " bytes");
      // Cut sequences only make sense at the end; the others also with text after.
      ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + c.bytes));
      if (std::string(c.name).compare(0, 4, "cut_") != 0) {
        ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + c.bytes + std::string(40, 'y')));
        ExpectInvalidEverywhere(Bytes(std::string(before, 'x') + "\xE4\xB8\xAD" + c.bytes +
                                      "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD"));
      }
    }
  }
}

TEST(Utf8ToWideTest, ThrownExceptionsNameTheirSource) {
  const Bytes bytes("\xFF");
  try {
    GetUtf8StringLength(bytes.begin(), bytes.end());
    FAIL() << "no exception";
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
    size_t room;
    size_t written;
    size_t stop;  // offset left in the source
    bool throws;
  } const cases[] = {
      {"full_after_two", "abc", 2, 2, 2, false},
      {"full_exactly", "abc", 3, 3, 3, false},
      {"room_to_spare", "abc", 8, 3, 3, false},
      {"full_before_multibyte", "a\xC3\xA9\xE4\xB8\xAD", 1, 1, 1, false},
      {"full_after_multibyte", "a\xC3\xA9\xE4\xB8\xAD", 2, 2, 3, false},
      {"full_before_invalid", "ab\xFF", 2, 2, 2, false},
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
    size_t written = 0;
    bool threw = false;
    try {
      written = Utf8ToWideNoOverflow(cursor, bytes.end(), dest.data(), dest.data() + c.room);
    } catch (const InvalidSequence&) {
      threw = true;
      written = c.written;
    }
    EXPECT_EQ(c.throws, threw);
    EXPECT_EQ(c.written, written);
    EXPECT_EQ(c.stop, size_t(cursor - bytes.begin()));
    EXPECT_EQ(wchar_t(-1), dest[written]) << "element after the last one converted was written";
    EXPECT_EQ(wchar_t(c.bytes[0]), dest[0]);
  }
}

TEST(Utf8ToWideTest, ThrowingFormNeedsRoomForAll) {
  const Bytes bytes("abc");
  wchar_t dest[3];
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest, dest + 2), BufferOverflow);
  EXPECT_EQ(wchar_t('b'), dest[1]) << "what fitted is written";
  EXPECT_EQ(3u, Utf8ToWide(bytes.begin(), bytes.end(), dest, dest + 3));
}

TEST(Utf8ToWideTest, DestinationArguments) {
  const Bytes bytes("abc");
  wchar_t dest[4];
  const unsigned char* cursor = bytes.begin();
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), nullptr, dest + 4), InvalidArgument);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest + 2, dest + 1), InvalidArgument);
  EXPECT_THROW(Utf8ToWideNoOverflow(cursor, bytes.end(), nullptr, nullptr), InvalidArgument);
  EXPECT_EQ(bytes.begin(), cursor);

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
  EXPECT_THAT(err, ::testing::HasSubstr("Utf8ToWide("));
  EXPECT_THAT(err, ::testing::HasSubstr("Assertion failed: destBegin < destEnd"));
}

TEST(Utf8ToWideTest, NullSources) {
  std::unique_ptr<wchar_t[]> empty(Utf8ToWide(nullptr, 5));
  EXPECT_EQ(0, empty[0]);
  EXPECT_EQ(0u, GetUtf8StringLength(nullptr, nullptr));
  wchar_t dest[2] = {7, 7};
  const unsigned char* cursor = nullptr;
  EXPECT_EQ(0u, Utf8ToWide(nullptr, nullptr, dest, dest + 2));
  EXPECT_EQ(0u, Utf8ToWideNoOverflow(cursor, nullptr, dest, dest + 2));
  EXPECT_EQ(7, dest[0]);
  wchar_t c = 7;
  EXPECT_EQ(nullptr, ConvertNextUtf8Character(nullptr, nullptr, c));
  EXPECT_EQ(0, c);

  // An empty range that is not null is just as empty.
  const Bytes none("");
  std::unique_ptr<wchar_t[]> alsoEmpty(Utf8ToWide(none.begin(), 0));
  EXPECT_EQ(0, alsoEmpty[0]);
  c = 7;
  EXPECT_EQ(none.end(), ConvertNextUtf8Character(none.end(), none.end(), c));
  EXPECT_EQ(0, c);
}

// Long texts exercise the blocks in every combination: pure ASCII, ASCII with
// scattered non-ASCII characters, runs of pairs broken at odd places. Each is
// compared with stepping through it one character at a time, which has no fast
// path, and the buffer beyond what the filling form reports stays untouched.
TEST(Utf8ToWideTest, LongTextsAgreeWithSteppingDecode) {
  const std::string pieces[] = {"a",
                                "\xC3\xA9",
                                "\xE4\xB8\xAD",
                                "\xF0\x9F\x8E\x89",
                                " ",
                                "\xCE\xB1",
                                "\xE6\x96\x87",
                                "\xF8\x88\x80\x80\x80",
                                "xy",
                                "\xFD\xBF\xBF\xBF\xBF\xBF"};
  unsigned seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const size_t length = size_t(round) % 97 + 1;
    for (size_t i = 0; i < length; ++i) {
      seed = seed * 1103515245 + 12345;
      const unsigned pick = (seed >> 16) % 16;
      text += pick < 10 ? pieces[pick] : std::string(pick, 'k');
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const Bytes bytes(text);
    const std::vector<uint32_t> want = SteppingDecode(bytes);
    ASSERT_EQ(want.size(), GetUtf8StringLength(bytes.begin(), bytes.end()));
    ASSERT_EQ(want, AllocatingDecode(bytes));
    ASSERT_EQ(want, FillingDecode(bytes, want.size() + 20));
  }
}

}  // namespace
}  // namespace qel
}  // namespace vo
