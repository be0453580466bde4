// The CoreFoundation-like string layer, its strings as wide Strings, and the
// exported maker of strings for the host.
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
      {"utf32_beyond_unicode", "\0\0\x11\0"s, kCFStringEncodingUTF32LE, -1},
      // Four units and one byte more, on the heap: the address checker sees an over-read.
      {"utf32_cut_unit", std::string(17, '\0'), kCFStringEncodingUTF32LE, -1},
      {"unknown_encoding", "a", 0x1234, -1},
  };
  for (const auto& c : cases) {
    Owned text = Create(c.bytes, c.encoding);
    EXPECT_EQ(c.length, text.get() != nullptr ? CFStringGetLength(text.get()) : -1) << c.name;
  }
  EXPECT_EQ(0, CFStringGetLength(nullptr));
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, kCFStringEncodingASCII));
}

// Whole characters only, stopping where the room ends; the size query promises
// what the conversion delivers.
TEST(CFStringTest, GetBytes) {
  const Owned text = Create("a\xE6\x97\xA5z");
  const CFRange all = CFRangeMake(0, 3);
  const struct {
    CFIndex room, converted;  // converted in units
    std::string bytes;
  } cases[] = {{3, 1, "a"}, {4, 2, "a\xE6\x97\xA5"}, {8, 3, "a\xE6\x97\xA5z"}};
  for (const auto& c : cases) {
    CFIndex required = -1, used = -1;
    CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, '?', false, nullptr, 0, &required);
    std::string out(size_t(c.room), '#');
    EXPECT_EQ(c.converted, CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, '?', false,
                                            reinterpret_cast<UInt8*>(&out[0]), c.room, &used));
    EXPECT_EQ(c.bytes + std::string(out.size() - c.bytes.size(), '#'), out) << c.room;
    EXPECT_TRUE(required > c.room || required == used) << c.room;
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

// The exported maker gives an ASCII string the layer reads and orders, owned by
// the caller: under the leak checker a missing release, and under the address
// checker a release too many, fail the test.
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
