// Conversion between named character sets and wide text, through the system's iconv
// in real locales.
#include "qel/osdep/AnsiToWide.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TestLocales.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

using std::string;
using std::wstring;
using testing::ScopedProcessLocale;

// Owns what the allocating forms return and reads it up to `end` (default: the terminator).
wstring TakeWide(wchar_t* p, const wchar_t* end = nullptr) {
  std::unique_ptr<wchar_t[]> owner(p);
  return end != nullptr ? wstring(p, end - p) : wstring(p);
}
string TakeNarrow(char* p, const char* end = nullptr) {
  std::unique_ptr<char[]> owner(p);
  return end != nullptr ? string(p, end - p) : string(p);
}

// Both allocating forms; they must agree and terminate the output.
wstring ToWide(const string& in, const char* charset) {
  wchar_t* outBegin = nullptr;
  wchar_t* outEnd = nullptr;
  AnsiToWide(in.data(), in.data() + in.size(), charset, outBegin, outEnd);
  EXPECT_EQ(L'\0', *outEnd);
  const wstring out = TakeWide(outBegin, outEnd);
  wchar_t* plain = AnsiToWide(in.data(), in.data() + in.size(), charset);
  EXPECT_EQ(out, TakeWide(plain, plain + out.size()));
  return out;
}
string ToNarrow(const wstring& in, const char* charset) {
  char* outBegin = nullptr;
  char* outEnd = nullptr;
  WideToAnsi(in.data(), in.data() + in.size(), charset, outBegin, outEnd);
  EXPECT_EQ('\0', *outEnd);
  std::unique_ptr<char[]> plain(WideToAnsi(in.data(), in.data() + in.size(), charset));
  EXPECT_EQ(string(plain.get(), outEnd - outBegin), string(outBegin, outEnd));
  return TakeNarrow(outBegin, outEnd);
}

// Converts into `room` elements of a larger buffer, checking that nothing beyond the
// room is touched; `err` receives what was reported on standard error.
template <class In, class Out>
std::basic_string<Out> Into(size_t (*convert)(const In*, const In*, const char*, Out*, Out*&),
                            const std::basic_string<In>& in, const char* charset, size_t room,
                            string* err) {
  std::vector<Out> buffer(room + 8, Out('#'));
  Out* destEnd = buffer.data() + room;
  ::testing::internal::CaptureStderr();
  const size_t count = convert(in.data(), in.data() + in.size(), charset, buffer.data(), destEnd);
  *err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count, size_t(destEnd - buffer.data()));
  EXPECT_EQ(std::vector<Out>(8, Out('#')), std::vector<Out>(buffer.begin() + room, buffer.end()));
  return std::basic_string<Out>(buffer.data(), destEnd);
}
bool ReportsFullOutput(const string& err) {
  return err.find("osdep/IConv(") != string::npos &&
         err.find("Assertion failed: false") != string::npos;
}

// Besides "C" (ASCII) and C.UTF-8 the table needs a single-byte and a multi-byte
// non-UTF-8 locale, built on demand. Returns why one is missing, or "".
string MissingLocale() {
  for (const string name : {"C.UTF-8", "de_DE.ISO-8859-1", "ja_JP.EUC-JP"}) {
    string why;
    const size_t dot = name.find('.');
    if (!testing::EnsureLocale(name, name.substr(0, dot), name.substr(dot + 1), &why)) return why;
  }
  return "";
}

enum Way { kBoth, kToWide, kToNarrow };

TEST(AnsiToWideTest, ConvertsInRealLocales) {
  const string missing = MissingLocale();
  if (!missing.empty()) GTEST_SKIP() << missing;
  // charset "" follows the process locale.
  const struct {
    const char* name;
    const char* locale;
    const char* charset;
    Way way;
    string narrow;
    wstring wide;
  } cases[] = {
      {"c_ascii", "C", "", kBoth, "Hello, world", L"Hello, world"},
      {"c_embedded_zero", "C", "", kBoth, string("a\0b", 3), wstring(L"a\0b", 3)},
      {"c_latin1_byte_is_invalid", "C", "", kToWide, "caf\xE9", L"caf?"},
      {"c_utf8_bytes_each_invalid", "C", "", kToWide, "\xC3\xA9", L"??"},
      {"c_latin1_missing", "C", "", kToNarrow, "caf?", L"caf\u00E9"},
      {"utf8_latin1", "C.UTF-8", "", kBoth, "caf\xC3\xA9", L"caf\u00E9"},
      {"utf8_cjk", "C.UTF-8", "", kBoth, "\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C"},
      {"utf8_beyond_bmp", "C.UTF-8", "", kBoth, "\xF0\x9F\x98\x80!", L"\U0001F600!"},
      {"utf8_invalid_byte", "C.UTF-8", "", kToWide, "a\xFFz", L"a?z"},
      {"utf8_lone_continuation", "C.UTF-8", "", kToWide, "\x80x", L"?x"},
      {"utf8_overlong", "C.UTF-8", "", kToWide, "\xC0\xAF", L"??"},
      {"utf8_cut_at_end", "C.UTF-8", "", kToWide, "a\xE6\x97", L"a??"},
      {"utf8_encoded_surrogate", "C.UTF-8", "", kToWide, "\xED\xA0\x80", L"???"},
      {"utf8_lone_surrogate", "C.UTF-8", "", kToNarrow, "?x", wstring(1, wchar_t(0xD800)) + L"x"},
      {"utf8_beyond_unicode", "C.UTF-8", "", kToNarrow, "?", wstring(1, wchar_t(0x110000))},
      {"utf8_negative_element", "C.UTF-8", "", kToNarrow, "?", wstring(1, wchar_t(-1))},
      {"latin1_locale", "de_DE.ISO-8859-1", "", kBoth, "caf\xE9 \xDF\xFF",
       L"caf\u00E9 \u00DF\u00FF"},
      {"latin1_lacks_euro", "de_DE.ISO-8859-1", "", kToNarrow, "5?", L"5\u20AC"},
      {"eucjp_cjk", "ja_JP.EUC-JP", "", kBoth, "\xC6\xFC\xCB\xDCz", L"\u65E5\u672Cz"},
      {"eucjp_cut_at_end", "ja_JP.EUC-JP", "", kToWide, "a\xC6", L"a?"},
      {"named_ascii_in_utf8_locale", "C.UTF-8", "US-ASCII", kToWide, "caf\xC3\xA9", L"caf??"},
      {"named_ascii_lacks_latin1", "C.UTF-8", "US-ASCII", kToNarrow, "?t?", L"\u00E9t\u00E9"},
      {"named_latin1_in_c_locale", "C", "ISO-8859-1", kBoth, "\xE9", L"\u00E9"},
      {"named_utf8_in_c_locale", "C", "UTF-8", kBoth, "\xE2\x82\xAC", L"\u20AC"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProcessLocale locale(c.locale);
    ASSERT_TRUE(locale.ok());
    string err;
    if (c.way != kToNarrow) {
      const char* begin = c.narrow.data();
      const size_t required =
          GetAnsiToWideRequiredBufferLength(begin, begin + c.narrow.size(), c.charset);
      EXPECT_EQ(c.narrow.size(), required);
      EXPECT_EQ(c.wide, ToWide(c.narrow, c.charset));
      for (size_t room : {required, c.wide.size()}) {  // exactly the room needed is enough
        EXPECT_EQ(c.wide, Into(AnsiToWideNoAlloc, c.narrow, c.charset, room, &err));
        EXPECT_EQ("", err);
      }
      // One element less cuts the last character and reports it.
      EXPECT_EQ(c.wide.substr(0, c.wide.size() - 1),
                Into(AnsiToWideNoAlloc, c.narrow, c.charset, c.wide.size() - 1, &err));
      EXPECT_TRUE(ReportsFullOutput(err)) << err;
    }
    if (c.way != kToWide) {
      const wchar_t* begin = c.wide.data();
      const size_t required =
          GetWideToAnsiRequiredBufferLength(begin, begin + c.wide.size(), c.charset);
      EXPECT_EQ(4 * c.wide.size(), required);
      EXPECT_EQ(c.narrow, ToNarrow(c.wide, c.charset));
      for (size_t room : {required, c.narrow.size()}) {
        EXPECT_EQ(c.narrow, Into(WideToAnsiNoAlloc, c.wide, c.charset, room, &err));
        EXPECT_EQ("", err);
      }
    }
  }
}

TEST(AnsiToWideTest, NarrowDestinationTooShort) {
  ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  testing::AlertRecorder alerts;
  const struct {
    const char* name;
    wstring wide;
    size_t room;
    string narrow;
    bool reported;
  } cases[] = {
      {"one_byte_character_cut", L"abc", 2, "ab", true},
      // Three bytes needed, two left: one '?', and the input is used up with the room.
      {"last_character_becomes_loss_byte", L"\u65E5\u672C", 5, "\xE6\x97\xA5?", false},
      {"loss_byte_then_more_input", L"\u65E5x", 1, "?", true},
      {"room_ends_before_wide_character", L"a\u65E5", 1, "a", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    string err;
    EXPECT_EQ(c.narrow, Into(WideToAnsiNoAlloc, c.wide, "", c.room, &err));
    EXPECT_EQ(c.reported, ReportsFullOutput(err)) << err;
  }
}

TEST(AnsiToWideTest, EmptyRangesAndUnknownCharacterSets) {
  const char* const kUnknown = "NO-SUCH-CHARSET";
  for (const char* charset : {"", kUnknown}) {
    SCOPED_TRACE(charset);
    // An empty range is never converted, so even an unknown set gives empty text.
    EXPECT_EQ(L"", TakeWide(AnsiToWide(nullptr, nullptr, charset)));
    EXPECT_EQ(L"", ToWide("", charset));
    EXPECT_EQ("", TakeNarrow(WideToAnsi(nullptr, nullptr, charset)));
    EXPECT_EQ("", ToNarrow(L"", charset));
  }
  const char abc[] = "abc";
  wchar_t room[2] = {L'#', L'#'};
  wchar_t* destEnd = room + 2;
  EXPECT_EQ(0u, AnsiToWideNoAlloc(nullptr, nullptr, "", room, destEnd));
  EXPECT_EQ(room, destEnd);
  // An unknown set throws before anything is written.
  destEnd = room + 2;
  EXPECT_THROW(AnsiToWideNoAlloc(abc, abc + 3, kUnknown, room, destEnd), exception::InvalidLocale);
  EXPECT_EQ(room + 2, destEnd);
  EXPECT_EQ(L'#', room[0]);
  EXPECT_THROW(AnsiToWide(abc, abc + 3, kUnknown), exception::InvalidLocale);
  EXPECT_THROW(WideToAnsi(L"abc", kUnknown), exception::InvalidLocale);
  // Filling a buffer opens the converter even for an empty range, so the name is checked.
  char bytes[2] = {'#', '#'};
  char* bytesEnd = bytes + 2;
  EXPECT_THROW(WideToAnsiNoAlloc(L"", L"", kUnknown, bytes, bytesEnd), exception::InvalidLocale);
  EXPECT_EQ('#', bytes[0]);
}

TEST(AnsiToWideTest, TextWithByteCountAndCallerErrors) {
  testing::AlertRecorder alerts;
  const struct {
    const char* name;
    const char* text;
    int byteCount;
    const char* charset;
    wstring expected;
    const char* report;  // on standard error; "" for none
  } cases[] = {
      {"zero_before_count", "abc", 10, "US-ASCII", L"abc", ""},
      {"count_before_zero", "abcdef", 4, "US-ASCII", L"abcd", ""},
      {"embedded_zero", "ab\0cd", 5, "US-ASCII", L"ab", ""},
      {"null_text", nullptr, 3, "", L"", "Assertion failed: s != 0"},
      {"negative_count", "abc", -1, "", L"", "Assertion failed: byteCount >= 0"},
      // A null set name is reported and taken as the locale's set.
      {"null_charset", "ab", 2, nullptr, L"ab", "User must provide a character set name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(c.expected, TakeWide(AnsiToWide(c.text, c.byteCount, c.charset)));
    const string err = ::testing::internal::GetCapturedStderr();
    if (*c.report == '\0') {
      EXPECT_EQ("", err);
    } else {
      EXPECT_NE(string::npos, err.find(c.report)) << err;
    }
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ("ab", TakeNarrow(WideToAnsi(L"ab", nullptr)));
  const string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(string::npos, err.find("osdep/WideToAnsi(")) << err;
}

TEST(AnsiToWideTest, FailureSwitchesAndOverflowThrow) {
  const char abc[] = "abc";
  wchar_t room[4];
  wchar_t* destEnd = room + 4;
  char bytes[4];
  char* bytesEnd = bytes + 4;
  // Each switch affects its own direction only, on every route.
  EXPECT_FALSE(MakeAnsiToWideThrow(true));
  EXPECT_THROW(AnsiToWide(abc, 3, "carbon"), std::bad_alloc);
  EXPECT_THROW(AnsiToWideNoAlloc(abc, abc + 3, "", room, destEnd), std::bad_alloc);
  EXPECT_EQ("abc", TakeNarrow(WideToAnsi(L"abc", "")));
  EXPECT_TRUE(MakeAnsiToWideThrow(false));
  EXPECT_FALSE(MakeWideToAnsiThrow(true));
  EXPECT_THROW(WideToAnsi(L"abc", ""), std::bad_alloc);
  EXPECT_THROW(WideToAnsiNoAlloc(L"abc", L"abc" + 3, "", bytes, bytesEnd), std::bad_alloc);
  EXPECT_EQ(L"abc", TakeWide(AnsiToWide(abc, 3, "")));
  EXPECT_TRUE(MakeWideToAnsiThrow(false));

  // Only the size computation runs: the range is never read.
  const char* begin = reinterpret_cast<const char*>(uintptr_t(1) << 12);
  EXPECT_THROW(AnsiToWide(begin, begin + (uintptr_t(1) << 62), ""), exception::OutOfRange);
}

TEST(AnsiToWideTest, ThreadsConvertAtOnce) {
  ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  const string narrow = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  const wstring wide = L"caf\u00E9 \u65E5\u672C \U0001F600";
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        std::unique_ptr<wchar_t[]> w(AnsiToWide(narrow.data(), narrow.data() + narrow.size(), ""));
        std::unique_ptr<char[]> n(WideToAnsi(w.get(), ""));
        if (wide != w.get() || narrow != n.get()) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(4, 0), failures);
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
