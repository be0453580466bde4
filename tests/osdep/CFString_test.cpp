// The CoreFoundation-like string layer, its strings as wide Strings, and the exported
// maker of strings for the host.
#include "qel/osdep/CFString.h"

#include <gtest/gtest.h>

#include <string>

#include "lorvath.h"
#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/CFStringToString.h"
#include "qel/osdep/ScopedHandle.h"

namespace vo::qel::osdep {
namespace {

using namespace std::string_literals;
using Owned = ScopedHandle<CFStringRef>;

Owned Create(const std::string& bytes, CFStringEncoding encoding = kCFStringEncodingUTF8) {
  return Owned(CFStringCreateWithBytes(kCFAllocatorDefault,
                                       reinterpret_cast<const UInt8*>(bytes.data()),
                                       CFIndex(bytes.size()), encoding, false));
}

TEST(CFStringTest, CreateAcceptsOnlyValidText) {
  struct {
    const char* name;
    std::string bytes;
    CFStringEncoding encoding;
    CFIndex length;  // in UTF-16 units; -1: refused
  } const cases[] = {
      {"utf8_beyond_bmp_two_units", "a\xE2\x82\xAC\xF0\x9F\x98\x80", kCFStringEncodingUTF8, 4},
      {"utf8_surrogate", "\xED\xA0\x80", kCFStringEncodingUTF8, -1},
      {"ascii_high_byte", "caf\xE9", kCFStringEncodingASCII, -1},
      {"latin1_every_byte", "\x01\x7F\x80\xE9\xFF", kCFStringEncodingISOLatin1, 5},
      {"utf32_partial_element", "a\0\0"s, kCFStringEncodingUTF32LE, -1},
      {"utf32_beyond_unicode", "\0\0\x11\0"s, kCFStringEncodingUTF32LE, -1},
      {"unknown_encoding", "a", 0x1234, -1},
  };
  for (const auto& c : cases) {
    Owned text = Create(c.bytes, c.encoding);
    EXPECT_EQ(c.length, text.get() != nullptr ? CFStringGetLength(text.get()) : -1) << c.name;
  }
  EXPECT_EQ(0, CFStringGetLength(nullptr));
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, kCFStringEncodingASCII));
}

// Whole characters only, and a stop where there is no loss byte or no more room.
TEST(CFStringTest, GetBytes) {
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
      {"no_loss_byte_stops", cjk, 0, 3, kCFStringEncodingASCII, 0, 64, 1, "a"},
      {"no_room_for_whole_character", cjk, 0, 3, kCFStringEncodingUTF8, '?', 3, 1, "a"},
      {"exactly_room", cjk, 0, 3, kCFStringEncodingUTF8, '?', 4, 2, "a\xE6\x97\xA5"},
      {"range_from_middle_past_end", cjk, 1, 10, kCFStringEncodingUTF8, '?', 8, 2, "\xE6\x97\xA5z"},
      {"half_pair_loss_byte", astral, 0, 1, kCFStringEncodingUTF8, '?', 8, 1, "?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Owned text = Create(c.utf8);
    const CFRange range = CFRangeMake(c.location, c.length);
    CFIndex required = -1, used = -1;
    const CFIndex counted =
        CFStringGetBytes(text.get(), range, c.encoding, c.lossByte, false, nullptr, 0, &required);
    std::string out(size_t(c.room), '#');
    EXPECT_EQ(c.converted, CFStringGetBytes(text.get(), range, c.encoding, c.lossByte, false,
                                            reinterpret_cast<UInt8*>(&out[0]), c.room, &used));
    EXPECT_EQ(c.bytes + std::string(out.size() - c.bytes.size(), '#'), out);
    if (required <= c.room) {  // the size query promises what the conversion delivers
      EXPECT_EQ(counted, c.converted);
      EXPECT_EQ(required, used);
    }
  }
  EXPECT_EQ(20, CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingUTF32LE));
  EXPECT_EQ(kCFNotFound, CFStringGetMaximumSizeForEncoding(5, 0x1234));
  EXPECT_EQ(kCFNotFound,
            CFStringGetMaximumSizeForEncoding(CFIndex(1) << 62, kCFStringEncodingUTF8));
}

TEST(CFStringTest, CFStringToStringOneCodePointPerElement) {
  const String converted = CFStringToString(Create("/caf\xC3\xA9\0\xF0\x90\x80\x80"s).get());
  EXPECT_EQ(L"/caf\u00E9\0\U00010000"s, std::wstring(converted.begin(), converted.end()));
  EXPECT_TRUE(CFStringToString(nullptr).empty());
  String out(L"kept");  // nothing to convert leaves the output alone
  CFStringToStringImpl(Create("").get(), GetCFStringWcharEncoding(), out);
  EXPECT_EQ(std::wstring(L"kept"), out.c_str());
}

// The exported maker gives an ASCII string the layer reads and orders, owned by the
// caller: under the leak checker a missing release, and under the address checker a
// release too many, fail the test.
TEST(CFStringTest, ExportedMakerGivesAStringToRelease) {
  Lorvath_StringRef made = CFStringFromCString("GGetOneErrorCode");
  const Owned upper(CFStringCreateWithCString("GGETONEERRORCODE", kCFStringEncodingASCII));
  const Owned retained(CFRetain(reinterpret_cast<CFStringRef>(made)));
  const Owned copy(retained);   // one more reference, which the copy releases
  Lorvath_ReleaseString(made);  // the retained references live on
  EXPECT_EQ(L"GGetOneErrorCode", std::wstring(CFStringToString(copy.get()).c_str()));
  EXPECT_EQ(kCFCompareGreaterThan, CFStringCompare(copy.get(), upper.get()));
  EXPECT_EQ(kCFCompareLessThan, CFStringCompare(upper.get(), copy.get()));
  EXPECT_EQ(kCFCompareEqualTo, CFStringCompare(copy.get(), copy.get()));
  Lorvath_ReleaseString(nullptr);
  EXPECT_EQ(nullptr, CFStringFromCString(nullptr));
  EXPECT_EQ(nullptr, CFStringFromCString("caf\xC3\xA9"));
}

}  // namespace
}  // namespace vo::qel::osdep
