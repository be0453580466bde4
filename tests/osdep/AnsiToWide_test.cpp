// Conversion between named character sets and wide text: through the system's iconv in
// real locales, and through the "carbon" route. An iconv descriptor left open shows as a
// leak in the AddressSanitizer build.
#include "qel/osdep/AnsiToWide.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qel/exception/Exception.h"
#include "qel/osdep/CFString.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TestLocales.h"

namespace vo::qel::osdep {
namespace {

using std::string;
using std::wstring;

// Converts by the allocating form, which must terminate its output.
template <class In, class Out>
std::basic_string<Out> Alloc(void (*convert)(const In*, const In*, const char*, Out*&, Out*&),
                             const std::basic_string<In>& in, const char* charset) {
  Out* begin = nullptr;
  Out* end = nullptr;
  convert(in.data(), in.data() + in.size(), charset, begin, end);
  std::unique_ptr<Out[]> owner(begin);
  EXPECT_EQ(Out(0), *end);
  return std::basic_string<Out>(begin, end);
}
wstring ToWide(const string& in, const char* charset) { return Alloc(AnsiToWide, in, charset); }
string ToNarrow(const wstring& in, const char* charset) { return Alloc(WideToAnsi, in, charset); }

// Converts into `room` elements of a larger buffer, checking that nothing beyond the room
// is touched (nothing at all when InvalidLocale is thrown); `err` receives what was
// reported on standard error, then "thrown by" the file of an InvalidLocale.
template <class In, class Out>
std::basic_string<Out> Into(size_t (*convert)(const In*, const In*, const char*, Out*, Out*&),
                            const std::basic_string<In>& in, const char* charset, size_t room,
                            string* err) {
  std::vector<Out> buffer(room + 8, Out('#'));
  Out* destEnd = buffer.data() + room;
  Out* untouched = destEnd;
  ::testing::internal::CaptureStderr();
  try {
    const size_t count = convert(in.data(), in.data() + in.size(), charset, buffer.data(), destEnd);
    *err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(count, size_t(destEnd - buffer.data()));
  } catch (const exception::InvalidLocale& e) {
    *err = ::testing::internal::GetCapturedStderr() + "thrown by " + e.getFileName();
    EXPECT_EQ(untouched, destEnd);
    destEnd = untouched = buffer.data();
  }
  EXPECT_EQ(std::vector<Out>(size_t(buffer.data() + buffer.size() - untouched), Out('#')),
            std::vector<Out>(untouched, buffer.data() + buffer.size()));
  return std::basic_string<Out>(buffer.data(), destEnd);
}
// What a filling form writes on standard error when iconv's output is cut.
const char* const kIConvCut = "osdep/IConv\\([0-9]+\\): Assertion failed: false\a";

// The "carbon" route converts in the system encoding (UTF-8) unless one is forced per
// direction.
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
const unsigned int kLatin1 = kCFStringEncodingISOLatin1;
const unsigned int kIConvOnly = ~0u;

enum Way { kBoth, kToWide, kToNarrow };

// Each row through iconv in its locale, and where it names an encoding for the carbon
// route, through that route too, which must agree (a character the set lacks becomes one
// '?' on both).
TEST(AnsiToWideTest, ConvertsInRealLocales) {
  // Besides "C" (ASCII) and C.UTF-8, a single-byte and a multi-byte non-UTF-8 locale.
  for (const char* name : {"C.UTF-8", "de_DE.ISO-8859-1", "ja_JP.EUC-JP"}) {
    const string why = testing::MissingLocale(name);
    if (!why.empty()) GTEST_SKIP() << why;
  }
  // charset "" follows the process locale.
  const struct {
    const char *name, *locale, *charset;
    unsigned int carbon;
    Way way;
    string narrow;
    wstring wide;
  } cases[] = {
      {"c_embedded_zero", "C", "", 0, kBoth, string("a\0b\x01", 4), wstring(L"a\0b\x01", 4)},
      // Four bytes for one element: more than three an element in all.
      {"utf8_beyond_bmp", "C.UTF-8", "", 0, kBoth, "\xF0\x9F\x98\x80\xE6\x97\xA5",
       L"\U0001F600\u65E5"},
      {"utf8_cut_at_end", "C.UTF-8", "", kIConvOnly, kToWide, "a\xE6\x97", L"a??"},
      {"utf8_lone_surrogate", "C.UTF-8", "", kIConvOnly, kToNarrow, "?x", L"\xD800x"},
      {"latin1_locale", "de_DE.ISO-8859-1", "", kIConvOnly, kBoth, "caf\xE9 \xDF\xFF",
       L"caf\u00E9 \u00DF\u00FF"},
      {"eucjp_cjk", "ja_JP.EUC-JP", "", kIConvOnly, kBoth, "\xC6\xFC\xCB\xDCz", L"\u65E5\u672Cz"},
      // A set named in the "C" locale.
      {"latin1_lacks_cjk", "C", "ISO-8859-1", kLatin1, kToNarrow, "\xE9??a",
       L"\u00E9\u65E5\U0001F600a"},
      {"ascii_lacks_latin1", "C.UTF-8", "US-ASCII", kCFStringEncodingASCII, kToNarrow, "a??\x7F",
       L"a\u00E9\u65E5\x7F"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedProcessLocale locale(c.locale);
    ASSERT_TRUE(locale.ok());
    string err;
    // The allocating forms convert into the room promised; exactly the room needed is enough.
    if (c.way != kToNarrow) {
      EXPECT_EQ(c.wide, ToWide(c.narrow, c.charset));
      EXPECT_EQ(c.wide, Into(AnsiToWideNoAlloc, c.narrow, c.charset, c.wide.size(), &err));
      EXPECT_EQ("", err);
      // One element less cuts the last character and reports it.
      EXPECT_EQ(c.wide.substr(0, c.wide.size() - 1),
                Into(AnsiToWideNoAlloc, c.narrow, c.charset, c.wide.size() - 1, &err));
      EXPECT_THAT(err, ::testing::ContainsRegex(kIConvCut));
    }
    if (c.way != kToWide) {
      EXPECT_EQ(c.narrow, ToNarrow(c.wide, c.charset));
      EXPECT_EQ(c.narrow, Into(WideToAnsiNoAlloc, c.wide, c.charset, c.narrow.size(), &err));
      EXPECT_EQ("", err);
    }
    if (c.carbon != kIConvOnly) {
      ForcedEncodings forced(c.carbon, c.carbon);
      EXPECT_EQ(c.narrow, ToNarrow(c.wide, "carbon"));
      EXPECT_EQ(ToWide(c.narrow, c.charset), ToWide(c.narrow, "carbon"));
    }
  }
}

// Output that does not fit is cut where the room ends and reported; a character that does
// not fit whole is left out, never half written. Unknown sets and what the carbon route's
// encodings cannot hold throw; each carbon direction follows its own forced encoding.
TEST(AnsiToWideTest, CutRefusedAndForced) {
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  testing::AlertRecorder alerts;
  const struct {
    const char *name, *charset;
    unsigned int toWide, toNarrow;  // carbon's forced encodings, 0 for the system's
    Way way;
    string narrow;  // input to wide, or the expected output
    wstring wide;   // the other side
    size_t room;
    const char* err;  // pattern for `err` of Into, "" for none
  } cases[] = {
      // Three bytes needed, two left: one '?', and the input is used up with the room.
      {"last_character_becomes_loss_byte", "", 0, 0, kToNarrow, "\xE6\x97\xA5?", L"\u65E5\u672C", 5,
       ""},
      {"loss_byte_then_more_input", "", 0, 0, kToNarrow, "?", L"\u65E5x", 1, kIConvCut},
      {"carbon_to_wide", "carbon", 0, 0, kToWide, "ab\xE6\x97\xA5", L"ab", 2,
       "osdep/CarbonAnsiToWide\\([0-9]+\\): Assertion failed: output buffer is too small, "
       "string will be truncated"},
      {"carbon_to_narrow", "carbon", 0, 0, kToNarrow, "ab", L"ab\u65E5", 4,
       "osdep/CarbonWideToAnsi\\("},
      // Filling opens the converter even for an empty range.
      {"unknown_set", "NO-SUCH-CHARSET", 0, 0, kToWide, "abc", L"", 2, "^thrown by osdep/IConv$"},
      {"unknown_set_empty", "NO-SUCH-CHARSET", 0, 0, kToWide, "", L"", 2,
       "^thrown by osdep/IConv$"},
      {"carbon_invalid_utf8", "carbon", 0, 0, kToWide, "caf\xE9", L"", 8,
       "^thrown by osdep/CarbonAnsiToWide$"},
      {"carbon_lone_surrogate", "carbon", 0, 0, kToNarrow, "", L"\xD800", 8,
       "^thrown by osdep/CarbonWideToAnsi$"},
      {"carbon_latin1_to_wide_only", "carbon", kLatin1, 0, kToNarrow, "caf\xC3\xA9", L"caf\u00E9",
       8, ""},
      // An encoding the layer does not know converts nothing, and says so.
      {"carbon_unknown_encoding", "carbon", 0, 0x1234, kToNarrow, "", L"abc", 8,
       "osdep/CarbonWideToAnsi\\([0-9]+\\): Assertion failed: failed to convert full CFString"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ForcedEncodings forced(c.toWide, c.toNarrow);
    string err;
    if (c.way == kToWide) {
      EXPECT_EQ(c.wide, Into(AnsiToWideNoAlloc, c.narrow, c.charset, c.room, &err));
    } else {
      EXPECT_EQ(c.narrow, Into(WideToAnsiNoAlloc, c.wide, c.charset, c.room, &err));
    }
    EXPECT_EQ(*c.err == '\0', err.empty()) << err;
    EXPECT_THAT(err, ::testing::ContainsRegex(c.err));
  }
}

TEST(AnsiToWideTest, TextWithByteCountAndCallerErrors) {
  testing::AlertRecorder alerts;
  const struct {
    const char *name, *text;
    int byteCount;
    const char* charset;
    wstring expected;
    const char* report;  // on standard error; "" for none
  } cases[] = {
      {"count_before_zero", "abcdef", 4, "US-ASCII", L"abcd", ""},
      // Nothing after the zero is converted: a lone \xE9 would throw on the carbon route.
      {"zero_before_count", "ab\0\xE9", 4, "carbon", L"ab", ""},
      // An empty range is never converted, so even an unknown set gives empty text.
      {"empty_unknown_set", "", 0, "NO-SUCH-CHARSET", L"", ""},
      {"null_text", nullptr, 3, "", L"", "Assertion failed: s != 0"},
      {"negative_count", "abc", -1, "", L"", "Assertion failed: byteCount >= 0"},
      // A null set name is reported and taken as the locale's set.
      {"null_charset", "ab", 2, nullptr, L"ab", "User must provide a character set name"},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    const std::unique_ptr<wchar_t[]> got(AnsiToWide(c.text, c.byteCount, c.charset));
    EXPECT_EQ(c.expected, got.get()) << c.name;
    const string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(*c.report == '\0', err.empty()) << c.name << ": " << err;
    EXPECT_NE(string::npos, err.find(c.report)) << c.name << ": " << err;
  }
  // Only the size computation runs: the range is never read.
  const char* begin = reinterpret_cast<const char*>(uintptr_t(1) << 12);
  EXPECT_THROW(AnsiToWide(begin, begin + (uintptr_t(1) << 62), ""), exception::OutOfRange);
}

}  // namespace
}  // namespace vo::qel::osdep
