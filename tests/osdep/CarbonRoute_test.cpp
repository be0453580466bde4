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

using namespace carbon;  // NOLINT
using std::string;
using std::wstring;

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

// Forces the encodings of the two directions (0: the system's) for a scope.
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

enum Way { kBoth, kToWide, kToNarrow };
const unsigned int kLatin1 = kCFStringEncodingISOLatin1, kAscii = kCFStringEncodingASCII;
const char* const kA2W = "osdep/CarbonAnsiToWide";

TEST(CarbonRouteTest, ConvertsInTheSystemOrAForcedEncoding) {
  const struct {
    const char* name;
    unsigned int toWide, toNarrow;  // forced encodings
    Way way;
    string narrow;
    wstring wide;
    const char* thrownBy;    // file of the InvalidLocale thrown, or nullptr
    size_t bytesPerElement;  // that the narrow side reserves
  } cases[] = {
      {"ascii", 0, 0, kBoth, "Hello", L"Hello", nullptr, 4},
      {"latin1", 0, 0, kBoth, "caf\xC3\xA9", L"caf\u00E9", nullptr, 4},
      {"cjk", 0, 0, kBoth, "\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C", nullptr, 4},
      {"beyond_bmp", 0, 0, kBoth, "\xF0\x9F\x98\x80", L"\U0001F600", nullptr, 4},
      {"embedded_zero", 0, 0, kBoth, string("a\0b", 3), wstring(L"a\0b", 3), nullptr, 4},
      {"empty", 0, 0, kBoth, "", L"", nullptr, 4},
      {"invalid_utf8", 0, 0, kToWide, "caf\xE9", L"", kA2W, 0},
      {"lone_surrogate", 0, 0, kToNarrow, "", wstring(1, wchar_t(0xD800)), "osdep/CarbonWideToAnsi",
       4},
      // Each direction follows its own forced encoding only.
      {"latin1_to_wide", kLatin1, 0, kToWide, "caf\xE9", L"caf\u00E9", nullptr, 0},
      {"latin1_to_wide_only", kLatin1, 0, kToNarrow, "caf\xC3\xA9", L"caf\u00E9", nullptr, 4},
      {"latin1_loss_byte", 0, kLatin1, kToNarrow, "caf\xE9 ?", L"caf\u00E9 \u65E5", nullptr, 1},
      {"latin1_to_narrow_only", 0, kLatin1, kToWide, "caf\xC3\xA9", L"caf\u00E9", nullptr, 0},
      {"ascii_loss_bytes", kAscii, kAscii, kToNarrow, "?t?", L"\u00E9t\u00E9", nullptr, 1},
      {"ascii_high_byte", kAscii, kAscii, kToWide, "\xE9", L"", kA2W, 0},
      {"unforced_again", 0, 0, kToWide, "caf\xE9", L"", kA2W, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ForcedEncodings forced(c.toWide, c.toNarrow);
    try {
      if (c.way != kToNarrow) {
        EXPECT_EQ(c.wide, ToWide(c.narrow, "carbon"));
      }
      if (c.way != kToWide) {
        EXPECT_EQ(c.narrow, ToNarrow(c.wide, "carbon"));
      }
      EXPECT_EQ(nullptr, c.thrownBy);
    } catch (const exception::InvalidLocale& e) {
      EXPECT_STREQ(c.thrownBy, e.getFileName());
    }
    if (c.way != kToWide) {
      EXPECT_EQ(c.bytesPerElement * c.wide.size(),
                GetWideToAnsiRequiredBufferLength(c.wide.data(), c.wide.data() + c.wide.size(),
                                                  "carbon"));
    }
  }
  // An encoding the layer does not know converts nothing, and says so.
  ForcedEncodings forced(0, 0x1234);
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ("", ToNarrow(L"abc", "carbon"));
  const string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(string::npos, err.find("failed to convert full CFString")) << err;
}

TEST(CarbonRouteTest, DestinationTooShortIsCutAndReported) {
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

// Random texts from ASCII, controls and zero, Latin-1, CJK and beyond the BMP,
// converted by both routes in UTF-8, Latin-1 and ASCII; characters an encoding
// lacks must become one '?' each on both.
TEST(CarbonRouteTest, AgreesWithIconvOnGeneratedTexts) {
  std::string why;
  ASSERT_TRUE(testing::EnsureLocale("C.UTF-8", "C", "UTF-8", &why)) << why;
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  std::mt19937 random(20240611);
  const std::pair<uint32_t, uint32_t> pools[] = {
      {0x20, 0x7E}, {0x00, 0x1F}, {0xA0, 0xFF}, {0x4E00, 0x9FFF}, {0x1F600, 0x1F64F}};
  for (int i = 0; i < 300; ++i) {
    wstring wide;
    for (size_t n = random() % 40; n > 0; --n) {
      const auto& pool = pools[random() % 5];
      wide.push_back(static_cast<wchar_t>(pool.first + random() % (pool.second - pool.first + 1)));
    }
    SCOPED_TRACE(::testing::PrintToString(wide));
    const string utf8 = ToNarrow(wide, "");
    EXPECT_EQ(utf8, ToNarrow(wide, "carbon"));
    EXPECT_EQ(wide, ToWide(utf8, "carbon"));
    EXPECT_EQ(wide, ToWide(utf8, ""));
    for (const auto& set : {std::make_pair(kCFStringEncodingISOLatin1, "ISO-8859-1"),
                            std::make_pair(kCFStringEncodingASCII, "US-ASCII")}) {
      ForcedEncodings forced(set.first, set.first);
      const string narrow = ToNarrow(wide, set.second);
      EXPECT_EQ(narrow, ToNarrow(wide, "carbon"));
      EXPECT_EQ(ToWide(narrow, set.second), ToWide(narrow, "carbon"));
    }
  }
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
