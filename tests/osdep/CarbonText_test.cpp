// The CoreFoundation-like string layer under the "carbon" conversion route.
#include "qel/osdep/CarbonText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vo {
namespace qel {
namespace osdep {
namespace carbon {
namespace {

struct Released {
  void operator()(CFStringRef s) const { CFRelease(s); }
};
using Owned = std::unique_ptr<const CarbonString, Released>;

Owned Create(const std::string& bytes, CFStringEncoding encoding) {
  return Owned(CFStringCreateWithBytes(kCFAllocatorDefault,
                                       reinterpret_cast<const UInt8*>(bytes.data()),
                                       CFIndex(bytes.size()), encoding, false));
}

// All of `text` in `encoding`, as a byte string, with the units converted.
std::string Bytes(CFStringRef text, CFStringEncoding encoding, UInt8 lossByte,
                  CFIndex* converted = nullptr) {
  const CFIndex length = CFStringGetLength(text);
  CFIndex required = -1;
  const CFIndex counted = CFStringGetBytes(text, CFRangeMake(0, length), encoding, lossByte, false,
                                           nullptr, 0, &required);
  std::string out(size_t(required), '#');
  CFIndex used = -1;
  const CFIndex done = CFStringGetBytes(text, CFRangeMake(0, length), encoding, lossByte, false,
                                        reinterpret_cast<UInt8*>(&out[0]), required, &used);
  EXPECT_EQ(counted, done);
  EXPECT_EQ(required, used);
  if (converted != nullptr) *converted = done;
  return out;
}

std::string Utf32(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((c >> (8 * i)) & 0xFF));
  }
  return out;
}

TEST(CarbonTextTest, CreateAcceptsOnlyValidText) {
  struct {
    const char* name;
    std::string bytes;
    CFStringEncoding encoding;
    CFIndex length;  // in UTF-16 units; -1: refused
  } const cases[] = {
      {"utf8_mixed", "a\xE2\x82\xAC\xF0\x9F\x98\x80", kCFStringEncodingUTF8, 4},
      {"utf8_empty", "", kCFStringEncodingUTF8, 0},
      {"utf8_zero_byte", std::string("a\0b", 3), kCFStringEncodingUTF8, 3},
      {"utf8_overlong", "\xC0\xAF", kCFStringEncodingUTF8, -1},
      {"utf8_cut", "a\xE2\x82", kCFStringEncodingUTF8, -1},
      {"utf8_surrogate", "\xED\xA0\x80", kCFStringEncodingUTF8, -1},
      {"utf8_beyond_unicode", "\xF4\x90\x80\x80", kCFStringEncodingUTF8, -1},
      {"utf8_five_bytes", "\xF8\x88\x80\x80\x80", kCFStringEncodingUTF8, -1},
      {"ascii", "plain", kCFStringEncodingASCII, 5},
      {"ascii_high_byte", "caf\xE9", kCFStringEncodingASCII, -1},
      {"latin1_every_byte", "\x01\x7F\x80\xE9\xFF", kCFStringEncodingISOLatin1, 5},
      {"utf32", Utf32(U"a\U0001F600"), kCFStringEncodingUTF32LE, 3},
      {"utf32_partial_element", Utf32(U"a").substr(0, 3), kCFStringEncodingUTF32LE, -1},
      {"utf32_surrogate", Utf32(U"\xDC00"), kCFStringEncodingUTF32LE, -1},
      {"utf32_beyond_unicode", Utf32(U"\x110000"), kCFStringEncodingUTF32LE, -1},
      {"unknown_encoding", "a", 0x1234, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Owned text = Create(c.bytes, c.encoding);
    if (c.length < 0) {
      EXPECT_EQ(nullptr, text.get());
    } else {
      ASSERT_NE(nullptr, text.get());
      EXPECT_EQ(c.length, CFStringGetLength(text.get()));
    }
  }
  EXPECT_EQ(0, CFStringGetLength(nullptr));
  CFRelease(nullptr);
  EXPECT_EQ(kCFStringEncodingUTF8, CFStringGetSystemEncoding());
}

TEST(CarbonTextTest, GetBytesConvertsWholeCharactersWithLossByte) {
  Owned text = Create("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", kCFStringEncodingUTF8);
  ASSERT_NE(nullptr, text.get());
  ASSERT_EQ(5, CFStringGetLength(text.get()));
  CFIndex converted = 0;
  EXPECT_EQ(Utf32(U"a\u00E9\u65E5\U0001F600"),
            Bytes(text.get(), kCFStringEncodingUTF32LE, 0, &converted));
  EXPECT_EQ(5, converted);
  EXPECT_EQ("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", Bytes(text.get(), kCFStringEncodingUTF8, 0));
  // One loss byte per character the encoding lacks, a surrogate pair included.
  EXPECT_EQ("a\xE9??", Bytes(text.get(), kCFStringEncodingISOLatin1, '?'));
  EXPECT_EQ("a???", Bytes(text.get(), kCFStringEncodingASCII, '?'));
  // Without a loss byte conversion stops at the first such character.
  EXPECT_EQ("a", Bytes(text.get(), kCFStringEncodingASCII, 0, &converted));
  EXPECT_EQ(1, converted);
  // In UTF-32 the loss byte is a whole character.
  Owned latin = Create("\xE9", kCFStringEncodingISOLatin1);
  EXPECT_EQ(Utf32(U"\u00E9"), Bytes(latin.get(), kCFStringEncodingUTF32LE, '?'));
}

TEST(CarbonTextTest, GetBytesStopsBeforeWhatDoesNotFitAndHonoursTheRange) {
  Owned text = Create(
      "a\xE6\x97\xA5"
      "b",
      kCFStringEncodingUTF8);
  ASSERT_NE(nullptr, text.get());
  UInt8 buffer[8] = {};
  CFIndex used = -1;
  // Three bytes do not hold the second character (three bytes in UTF-8) after the first.
  EXPECT_EQ(1, CFStringGetBytes(text.get(), CFRangeMake(0, 3), kCFStringEncodingUTF8, '?', false,
                                buffer, 3, &used));
  EXPECT_EQ(1, used);
  EXPECT_EQ(2, CFStringGetBytes(text.get(), CFRangeMake(0, 3), kCFStringEncodingUTF8, '?', false,
                                buffer, 4, &used));
  EXPECT_EQ(4, used);
  // A range from the middle; a range past the end is cut to the string.
  EXPECT_EQ(2, CFStringGetBytes(text.get(), CFRangeMake(1, 10), kCFStringEncodingUTF8, '?', false,
                                buffer, 8, &used));
  EXPECT_EQ(4, used);
  EXPECT_EQ(0, std::string(reinterpret_cast<char*>(buffer), 4)
                   .compare("\xE6\x97\xA5"
                            "b"));
  // A range that splits a surrogate pair leaves half a character, which no encoding
  // can express.
  Owned astral = Create("\xF0\x9F\x98\x80", kCFStringEncodingUTF8);
  ASSERT_EQ(2, CFStringGetLength(astral.get()));
  EXPECT_EQ(0, CFStringGetBytes(astral.get(), CFRangeMake(0, 1), kCFStringEncodingUTF8, 0, false,
                                nullptr, 0, &used));
  EXPECT_EQ(0, used);
  EXPECT_EQ(1, CFStringGetBytes(astral.get(), CFRangeMake(0, 1), kCFStringEncodingUTF8, '?', false,
                                buffer, 8, &used));
  EXPECT_EQ(1, used);
  EXPECT_EQ('?', buffer[0]);
}

TEST(CarbonTextTest, MaximumSizeBoundsEveryEncoding) {
  EXPECT_EQ(5, CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingASCII));
  EXPECT_EQ(5, CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingISOLatin1));
  EXPECT_EQ(20, CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingUTF8));
  EXPECT_EQ(20, CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingUTF32LE));
  EXPECT_EQ(kCFNotFound, CFStringGetMaximumSizeForEncoding(5, 0x1234));
  EXPECT_EQ(kCFNotFound,
            CFStringGetMaximumSizeForEncoding(CFIndex(1) << 62, kCFStringEncodingUTF8));
  // The bound holds for the worst text of each kind: four-byte characters counted
  // either in code points or in UTF-16 units.
  Owned astral = Create("\xF0\x9F\x98\x80\xF0\x9F\x98\x81", kCFStringEncodingUTF8);
  CFIndex used = 0;
  CFStringGetBytes(astral.get(), CFRangeMake(0, 4), kCFStringEncodingUTF8, 0, false, nullptr, 0,
                   &used);
  EXPECT_LE(used, CFStringGetMaximumSizeForEncoding(2, kCFStringEncodingUTF8));
}

}  // namespace
}  // namespace carbon
}  // namespace osdep
}  // namespace qel
}  // namespace vo
