#include "qel/osdep/CFString.h"

#include <gtest/gtest.h>

#include "lorvath.h"

namespace vo::qel::osdep {
namespace {

TEST(CFStringTest, CreatesFromAsciiOnly) {
  const struct {
    const char* name;
    const char* text;
    CFStringEncoding encoding;
    CFIndex length;  // -1: no string
  } cases[] = {
      {"function_name", "NumericArrayResize", kCFStringEncodingASCII, 18},
      {"empty", "", kCFStringEncodingASCII, 0},
      {"highest_ascii", "\x7F", kCFStringEncodingASCII, 1},
      {"latin1_byte", "caf\xE9", kCFStringEncodingASCII, -1},
      {"null_text", nullptr, kCFStringEncodingASCII, -1},
      {"unsupported_encoding", "abc", 0x08000100, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CFStringRef string = CFStringCreateWithCString(c.text, c.encoding);
    EXPECT_EQ(c.length, string ? CFStringGetLength(string) : -1);
    CFRelease(string);
  }
}

TEST(CFStringTest, ComparesCaseSensitively) {
  const CFStringRef lower = CFStringCreateWithCString("com.ombrix.hsx", kCFStringEncodingASCII);
  const CFStringRef upper = CFStringCreateWithCString("com.ombrix.HSX", kCFStringEncodingASCII);
  const CFStringRef prefix = CFStringCreateWithCString("com.ombrix", kCFStringEncodingASCII);
  EXPECT_EQ(kCFCompareEqualTo, CFStringCompare(lower, lower));
  EXPECT_EQ(kCFCompareGreaterThan, CFStringCompare(lower, upper));
  EXPECT_EQ(kCFCompareLessThan, CFStringCompare(prefix, upper));
  for (const CFStringRef s : {lower, upper, prefix}) CFRelease(s);
}

// The exported maker gives an equal string, owned by the caller: under the leak checker
// a missing release, and under the address checker a release too many, fail the test.
TEST(CFStringTest, ExportedMakerGivesAnEqualStringToRelease) {
  const auto made = reinterpret_cast<CFStringRef>(CFStringFromCString("GGetOneErrorCode"));
  const CFStringRef expected =
      CFStringCreateWithCString("GGetOneErrorCode", kCFStringEncodingASCII);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(kCFCompareEqualTo, CFStringCompare(expected, made));
  EXPECT_EQ(made, CFRetain(made));
  Lorvath_ReleaseString(reinterpret_cast<Lorvath_StringRef>(made));
  EXPECT_EQ(16, CFStringGetLength(made));  // still held by the retain
  CFRelease(made);
  CFRelease(expected);
  Lorvath_ReleaseString(nullptr);
  EXPECT_EQ(nullptr, CFStringFromCString(nullptr));
  EXPECT_EQ(nullptr, CFStringFromCString("caf\xC3\xA9"));
}

}  // namespace
}  // namespace vo::qel::osdep
