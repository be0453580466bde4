// A string of the CoreFoundation-like layer as a wide String.
#include "qel/osdep/CFStringToString.h"

#include <gtest/gtest.h>

#include <string>

#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/ScopedHandle.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

carbon::CFStringRef FromUtf8(const std::string& bytes) {
  return carbon::CFStringCreateWithBytes(carbon::kCFAllocatorDefault,
                                         reinterpret_cast<const carbon::UInt8*>(bytes.data()),
                                         carbon::CFIndex(bytes.size()),
                                         carbon::kCFStringEncodingUTF8, false);
}

TEST(CFStringToStringTest, WholeTextOneCodePointPerElement) {
  struct {
    const char* name;
    std::string utf8;
    std::wstring wide;
  } const cases[] = {
      {"empty", "", L""},
      {"ascii", "tmp", L"tmp"},
      {"beyond_bmp_is_one_element", "\xF0\x9F\x98\x80", L"\U0001F600"},
      {"mixed", "/var/caf\xC3\xA9/\xE6\x97\xA5\xF0\x90\x80\x80",
       L"/var/caf\u00E9/\u65E5\U00010000"},
      {"embedded_zero", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedHandle<carbon::CFStringRef> text(FromUtf8(c.utf8));
    ASSERT_TRUE(text.isValid());
    const String converted = CFStringToString(text.get());
    EXPECT_EQ(c.wide, std::wstring(converted.begin(), converted.end()));
  }
  EXPECT_TRUE(CFStringToString(nullptr).empty());
}

TEST(CFStringToStringTest, ImplLeavesTheOutputAloneWhenThereIsNothingToConvert) {
  const ScopedHandle<carbon::CFStringRef> empty(FromUtf8(""));
  String out(L"kept");
  CFStringToStringImpl(empty.get(), GetCFStringWcharEncoding(), out);
  EXPECT_EQ(std::wstring(L"kept"), out.c_str());

  // An encoding whose units are not the size of the string's elements is refused.
  testing::AlertRecorder alerts;
  const ScopedHandle<carbon::CFStringRef> odd(FromUtf8("abc"));
  ::testing::internal::CaptureStderr();
  CFStringToStringImpl(odd.get(), carbon::kCFStringEncodingUTF8, out);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos,
            err.find("calculated buffer size is a fractional number of characters"))
      << err;
  EXPECT_EQ(std::wstring(L"kept"), out.c_str());
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
