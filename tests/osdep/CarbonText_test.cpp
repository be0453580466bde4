// The CoreFoundation-like string layer under the "carbon" conversion route.
#include "qel/osdep/CarbonText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// Whole characters only, one loss byte for each the encoding lacks (a surrogate
// pair included), and a stop where there is no loss byte or no more room.
TEST(CarbonTextTest, GetBytes) {
  const std::string mixed = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // 5 UTF-16 units
  const std::string cjk = "a\xE6\x97\xA5z", astral = "\xF0\x9F\x98\x80";
  struct {
    const char* name;
    std::string utf8;
    CFIndex location, length;
    CFStringEncoding encoding;
    UInt8 lossByte;
    CFIndex room;
    CFIndex converted;  // units
    std::string bytes;
  } const cases[] = {
      {"utf32", mixed, 0, 5, kCFStringEncodingUTF32LE, 0, 64, 5, Utf32(U"a\u00E9\u65E5\U0001F600")},
      {"utf8", mixed, 0, 5, kCFStringEncodingUTF8, 0, 64, 5, mixed},
      {"latin1_loss_bytes", mixed, 0, 5, kCFStringEncodingISOLatin1, '?', 64, 5, "a\xE9??"},
      {"ascii_loss_bytes", mixed, 0, 5, kCFStringEncodingASCII, '?', 64, 5, "a???"},
      {"ascii_no_loss_byte_stops", mixed, 0, 5, kCFStringEncodingASCII, 0, 64, 1, "a"},
      {"no_room_for_whole_character", cjk, 0, 3, kCFStringEncodingUTF8, '?', 3, 1, "a"},
      {"exactly_room", cjk, 0, 3, kCFStringEncodingUTF8, '?', 4, 2, "a\xE6\x97\xA5"},
      {"range_from_middle_past_end", cjk, 1, 10, kCFStringEncodingUTF8, '?', 8, 2, "\xE6\x97\xA5z"},
      // Half a surrogate pair is no character in any encoding.
      {"half_pair_no_loss_byte", astral, 0, 1, kCFStringEncodingUTF8, 0, 8, 0, ""},
      {"half_pair_loss_byte", astral, 0, 1, kCFStringEncodingUTF8, '?', 8, 1, "?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Owned text = Create(c.utf8, kCFStringEncodingUTF8);
    ASSERT_NE(nullptr, text.get());
    const CFRange range = CFRangeMake(c.location, c.length);
    CFIndex required = -1;
    const CFIndex counted =
        CFStringGetBytes(text.get(), range, c.encoding, c.lossByte, false, nullptr, 0, &required);
    std::string out(size_t(c.room), '#');
    CFIndex used = -1;
    EXPECT_EQ(c.converted, CFStringGetBytes(text.get(), range, c.encoding, c.lossByte, false,
                                            reinterpret_cast<UInt8*>(&out[0]), c.room, &used));
    EXPECT_EQ(c.bytes, out.substr(0, size_t(used)));
    EXPECT_EQ(std::string(out.size() - size_t(used), '#'), out.substr(size_t(used)));
    if (required <= c.room) {  // the size query promises what the conversion delivers
      EXPECT_EQ(counted, c.converted);
      EXPECT_EQ(required, used);
    }
  }
}

TEST(CarbonTextTest, MaximumSizeBoundsEveryEncoding) {
  struct {
    CFIndex units;
    CFStringEncoding encoding;
    CFIndex bytes;
  } const cases[] = {
      {5, kCFStringEncodingASCII, 5}, {5, kCFStringEncodingISOLatin1, 5},
      {5, kCFStringEncodingUTF8, 20}, {5, kCFStringEncodingUTF32LE, 20},
      {5, 0x1234, kCFNotFound},       {CFIndex(1) << 62, kCFStringEncodingUTF8, kCFNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.bytes, CFStringGetMaximumSizeForEncoding(c.units, c.encoding))
        << c.units << " in " << c.encoding;
  }
}

}  // namespace
}  // namespace carbon
}  // namespace osdep
}  // namespace qel
}  // namespace vo
