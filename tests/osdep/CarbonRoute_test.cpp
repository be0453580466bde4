// The "carbon" conversion route: the system encoding (UTF-8) through the
// CoreFoundation-like layer, and its agreement with the iconv route.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/CarbonText.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TestLocales.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

using std::string;
using std::wstring;

const wchar_t kFive[] = L"12345";

wstring ToWide(const string& in, const char* charset) {
  wchar_t* begin = nullptr;
  wchar_t* end = nullptr;
  AnsiToWide(in.data(), in.data() + in.size(), charset, begin, end);
  std::unique_ptr<wchar_t[]> owner(begin);
  return wstring(begin, end);
}

string ToNarrow(const wstring& in, const char* charset) {
  char* begin = nullptr;
  char* end = nullptr;
  WideToAnsi(in.data(), in.data() + in.size(), charset, begin, end);
  std::unique_ptr<char[]> owner(begin);
  return string(begin, end);
}

// Restores the system encoding on the way out of a test.
struct ForcedEncodings {
  ForcedEncodings(unsigned int narrowToWide, unsigned int wideToNarrow) {
    ForceCarbonAnsiToWideDebugEncoding(narrowToWide);
    ForceCarbonWideToAnsiDebugEncoding(wideToNarrow);
  }
  ~ForcedEncodings() {
    ForceCarbonAnsiToWideDebugEncoding(0);
    ForceCarbonWideToAnsiDebugEncoding(0);
  }
};

TEST(CarbonRouteTest, SystemEncodingIsUtf8) {
  struct {
    const char* name;
    string narrow;
    wstring wide;
  } const cases[] = {
      {"ascii", "Hello", L"Hello"},
      {"latin1", "caf\xC3\xA9", L"caf\u00E9"},
      {"cjk", "\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C"},
      {"beyond_bmp", "\xF0\x9F\x98\x80", L"\U0001F600"},
      {"embedded_zero", string("a\0b", 3), wstring(L"a\0b", 3)},
      {"empty", "", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.wide, ToWide(c.narrow, "carbon"));
    EXPECT_EQ(c.narrow, ToNarrow(c.wide, "carbon"));
  }
  EXPECT_EQ(20u, GetWideToAnsiRequiredBufferLength(kFive, kFive + 5, "carbon"));
  EXPECT_EQ(0x1C000100u, GetCFStringWcharEncoding());
  // Empty ranges return at once, on the direct calls too.
  wchar_t room[1];
  wchar_t* roomEnd = room + 1;
  EXPECT_EQ(0u, CarbonAnsiToWide(nullptr, nullptr, room, roomEnd));
  EXPECT_EQ(room, roomEnd);
}

TEST(CarbonRouteTest, TextInvalidInTheEncodingThrowsInvalidLocale) {
  const string narrow = "caf\xE9";  // Latin-1, not UTF-8
  try {
    ToWide(narrow, "carbon");
    ADD_FAILURE() << "no exception";
  } catch (const exception::InvalidLocale& e) {
    EXPECT_STREQ("osdep/CarbonAnsiToWide", e.getFileName());
  }
  const wstring surrogate(1, wchar_t(0xD800));
  try {
    ToNarrow(surrogate, "carbon");
    ADD_FAILURE() << "no exception";
  } catch (const exception::InvalidLocale& e) {
    EXPECT_STREQ("osdep/CarbonWideToAnsi", e.getFileName());
  }
}

TEST(CarbonRouteTest, ForcedEncodingsApplyPerDirection) {
  using namespace carbon;  // NOLINT
  {
    ForcedEncodings forced(kCFStringEncodingISOLatin1, 0);
    EXPECT_EQ(L"caf\u00E9", ToWide("caf\xE9", "carbon"));
    EXPECT_EQ("caf\xC3\xA9", ToNarrow(L"caf\u00E9", "carbon"));  // still UTF-8
  }
  EXPECT_THROW(ToWide("caf\xE9", "carbon"), exception::InvalidLocale);  // back to UTF-8
  {
    ForcedEncodings forced(0, kCFStringEncodingISOLatin1);
    EXPECT_EQ("caf\xE9 ?", ToNarrow(L"caf\u00E9 \u65E5", "carbon"));
    EXPECT_EQ(5u, GetWideToAnsiRequiredBufferLength(kFive, kFive + 5, "carbon"));
    EXPECT_EQ(L"caf\u00E9", ToWide("caf\xC3\xA9", "carbon"));
  }
  {
    ForcedEncodings forced(kCFStringEncodingASCII, kCFStringEncodingASCII);
    EXPECT_EQ("?t?", ToNarrow(L"\u00E9t\u00E9", "carbon"));
    EXPECT_THROW(ToWide("\xE9", "carbon"), exception::InvalidLocale);
  }
  {
    ForcedEncodings forced(0, 0x1234);  // an encoding the layer does not know
    testing::AlertRecorder alerts;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ("", ToNarrow(L"abc", "carbon"));
    const string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(string::npos, err.find("failed to convert full CFString")) << err;
  }
}

TEST(CarbonRouteTest, DestinationOneElementShortIsCutAndReported) {
  testing::AlertRecorder alerts;
  const string narrow = "ab\xE6\x97\xA5";
  std::vector<wchar_t> wide(3, L'#');
  wchar_t* wideEnd = wide.data() + 2;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(2u, AnsiToWideNoAlloc(narrow.data(), narrow.data() + narrow.size(), "carbon",
                                  wide.data(), wideEnd));
  string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(wide.data() + 2, wideEnd);
  EXPECT_EQ(L"ab#", wstring(wide.data(), 3));
  EXPECT_NE(string::npos, err.find("osdep/CarbonAnsiToWide(")) << err;
  EXPECT_NE(string::npos, err.find("output buffer is too small, string will be truncated")) << err;

  // A character that does not fit whole is left out, never half written.
  const wstring text = L"ab\u65E5";
  std::vector<char> bytes(5, '#');
  char* bytesEnd = bytes.data() + 4;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(2u, WideToAnsiNoAlloc(text.data(), text.data() + 3, "carbon", bytes.data(), bytesEnd));
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ("ab##", string(bytes.data(), 4));
  EXPECT_NE(string::npos, err.find("osdep/CarbonWideToAnsi(")) << err;
}

// Random texts drawn from ASCII, controls and zero, Latin-1, CJK and characters
// beyond the Basic Multilingual Plane.
std::vector<wstring> GeneratedTexts() {
  std::mt19937 random(20240611);
  const std::pair<uint32_t, uint32_t> pools[] = {
      {0x20, 0x7E}, {0x00, 0x1F}, {0xA0, 0xFF}, {0x4E00, 0x9FFF}, {0x1F600, 0x1F64F}};
  std::vector<wstring> texts;
  for (int i = 0; i < 400; ++i) {
    wstring text;
    const size_t length = random() % 40;
    for (size_t j = 0; j < length; ++j) {
      const auto& pool = pools[random() % 5];
      text.push_back(static_cast<wchar_t>(pool.first + random() % (pool.second - pool.first + 1)));
    }
    texts.push_back(text);
  }
  return texts;
}

TEST(CarbonRouteTest, AgreesWithIconvOnGeneratedTexts) {
  using namespace carbon;  // NOLINT
  std::string why;
  ASSERT_TRUE(testing::EnsureLocale("C.UTF-8", "C", "UTF-8", &why)) << why;
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  int compared = 0;
  for (const wstring& wide : GeneratedTexts()) {
    SCOPED_TRACE(::testing::PrintToString(wide));
    // The system encoding against the locale's set, both UTF-8.
    const string utf8 = ToNarrow(wide, "");
    EXPECT_EQ(utf8, ToNarrow(wide, "carbon"));
    EXPECT_EQ(wide, ToWide(utf8, "carbon"));
    EXPECT_EQ(wide, ToWide(utf8, ""));
    {
      // Latin-1 both ways; characters it lacks become one '?' each on both routes.
      ForcedEncodings forced(kCFStringEncodingISOLatin1, kCFStringEncodingISOLatin1);
      const string latin1 = ToNarrow(wide, "ISO-8859-1");
      EXPECT_EQ(latin1, ToNarrow(wide, "carbon"));
      EXPECT_EQ(ToWide(latin1, "ISO-8859-1"), ToWide(latin1, "carbon"));
    }
    {
      ForcedEncodings forced(kCFStringEncodingASCII, kCFStringEncodingASCII);
      const string ascii = ToNarrow(wide, "US-ASCII");
      EXPECT_EQ(ascii, ToNarrow(wide, "carbon"));
      EXPECT_EQ(ToWide(ascii, "US-ASCII"), ToWide(ascii, "carbon"));
    }
    ++compared;
  }
  EXPECT_EQ(400, compared);
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
