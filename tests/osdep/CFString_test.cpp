#include "qel/osdep/CFString.h"

#include <gtest/gtest.h>

#include "lorvath.h"

namespace vo {
namespace qel {
namespace osdep {
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
      {"utf8_sequence", "caf\xC3\xA9", kCFStringEncodingASCII, -1},
      {"null_text", nullptr, kCFStringEncodingASCII, -1},
      {"unsupported_encoding", "abc", 0x08000100, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CFStringRef string = CFStringCreateWithCString(c.text, c.encoding);
    if (c.length < 0) {
      EXPECT_EQ(nullptr, string);
    } else {
      ASSERT_NE(nullptr, string);
      EXPECT_EQ(c.length, CFStringGetLength(string));
    }
    CFRelease(string);
  }
}

TEST(CFStringTest, ComparesCaseSensitively) {
  const struct {
    const char* a;
    const char* b;
    CFComparisonResult expected;
  } cases[] = {
      {"com.ombrix.hsx", "com.ombrix.hsx", kCFCompareEqualTo},
      {"com.ombrix.hsx", "com.ombrix.HSX", kCFCompareGreaterThan},
      {"com.ombrix", "com.ombrix.runtime", kCFCompareLessThan},
      {"", "a", kCFCompareLessThan},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const CFStringRef a = CFStringCreateWithCString(c.a, kCFStringEncodingASCII);
    const CFStringRef b = CFStringCreateWithCString(c.b, kCFStringEncodingASCII);
    EXPECT_EQ(c.expected, CFStringCompare(a, b));
    EXPECT_EQ(-c.expected, CFStringCompare(b, a));
    CFRelease(a);
    CFRelease(b);
  }
}

// The exported maker gives an equal string, owned by the caller: under the leak checker
// a missing release, and under the address checker a release too many, fail the test.
TEST(CFStringTest, ExportedMakerGivesAnEqualStringToRelease) {
  const Lorvath_StringRef made = CFStringFromCString("GGetOneErrorCode");
  ASSERT_NE(nullptr, made);
  const auto string = reinterpret_cast<CFStringRef>(made);
  const CFStringRef expected = CFStringCreateWithCString("GGetOneErrorCode", kCFStringEncodingASCII);
  EXPECT_EQ(kCFCompareEqualTo, CFStringCompare(expected, string));

  EXPECT_EQ(string, CFRetain(string));
  Lorvath_ReleaseString(made);
  EXPECT_EQ(16, CFStringGetLength(string));  // still held by the retain
  CFRelease(string);
  CFRelease(expected);
  Lorvath_ReleaseString(nullptr);
  EXPECT_EQ(nullptr, CFStringFromCString(nullptr));
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
