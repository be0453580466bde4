// Conversion between named character sets and wide text, through the system's iconv
// in real locales.
#include "qel/osdep/AnsiToWide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "qel/exception/Exception.h"
#include "qel/osdep/IConv.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TestLocales.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

using std::string;
using std::wstring;
using testing::ScopedProcessLocale;

// The locales the tests switch the process to. Besides "C" (ASCII) and glibc's own
// C.UTF-8 they need a single-byte and a multi-byte non-UTF-8 locale, built on demand.
struct LocaleSpec {
  const char* name;
  const char* source;
  const char* charmap;
};
const LocaleSpec kLocales[] = {
    {"C", nullptr, nullptr},
    {"C.UTF-8", "C", "UTF-8"},
    {"de_DE.ISO-8859-1", "de_DE", "ISO-8859-1"},
    {"ja_JP.EUC-JP", "ja_JP", "EUC-JP"},
};

// Makes the locale available or skips the calling test with the reason.
#define REQUIRE_LOCALE(locale)                                                            \
  do {                                                                                    \
    std::string why;                                                                      \
    if ((locale).source != nullptr &&                                                     \
        !testing::EnsureLocale((locale).name, (locale).source, (locale).charmap, &why)) { \
      GTEST_SKIP() << why;                                                                \
    }                                                                                     \
  } while (0)

struct Freed {
  void operator()(wchar_t* p) const { delete[] p; }
  void operator()(char* p) const { delete[] p; }
};

wstring ToWideAllocating(const string& in, const char* charset) {
  wchar_t* outBegin = nullptr;
  wchar_t* outEnd = nullptr;
  AnsiToWide(in.data(), in.data() + in.size(), charset, outBegin, outEnd);
  std::unique_ptr<wchar_t, Freed> owner(outBegin);
  EXPECT_EQ(L'\0', *outEnd);
  // The other allocating forms agree.
  std::unique_ptr<wchar_t, Freed> plain(AnsiToWide(in.data(), in.data() + in.size(), charset));
  EXPECT_EQ(wstring(outBegin, outEnd), wstring(plain.get(), outEnd - outBegin));
  return wstring(outBegin, outEnd);
}

string ToNarrowAllocating(const wstring& in, const char* charset) {
  char* outBegin = nullptr;
  char* outEnd = nullptr;
  WideToAnsi(in.data(), in.data() + in.size(), charset, outBegin, outEnd);
  std::unique_ptr<char, Freed> owner(outBegin);
  EXPECT_EQ('\0', *outEnd);
  std::unique_ptr<char, Freed> plain(WideToAnsi(in.data(), in.data() + in.size(), charset));
  EXPECT_EQ(string(outBegin, outEnd), string(plain.get(), outEnd - outBegin));
  return string(outBegin, outEnd);
}

// Converts into a caller's buffer of `room` elements that lies inside a larger one,
// and checks that nothing beyond the room is touched.
wstring ToWideInto(const string& in, const char* charset, size_t room) {
  std::vector<wchar_t> buffer(room + 8, L'#');
  wchar_t* destEnd = buffer.data() + room;
  const size_t count =
      AnsiToWideNoAlloc(in.data(), in.data() + in.size(), charset, buffer.data(), destEnd);
  EXPECT_EQ(count, static_cast<size_t>(destEnd - buffer.data()));
  EXPECT_TRUE(
      std::all_of(buffer.begin() + room, buffer.end(), [](wchar_t c) { return c == L'#'; }));
  return wstring(buffer.data(), destEnd);
}

string ToNarrowInto(const wstring& in, const char* charset, size_t room) {
  std::vector<char> buffer(room + 8, '#');
  char* destEnd = buffer.data() + room;
  const size_t count =
      WideToAnsiNoAlloc(in.data(), in.data() + in.size(), charset, buffer.data(), destEnd);
  EXPECT_EQ(count, static_cast<size_t>(destEnd - buffer.data()));
  EXPECT_TRUE(std::all_of(buffer.begin() + room, buffer.end(), [](char c) { return c == '#'; }));
  return string(buffer.data(), destEnd);
}

// Runs `body` with standard error captured and returns what it wrote there.
template <class F>
string StderrOf(F body) {
  ::testing::internal::CaptureStderr();
  body();
  return ::testing::internal::GetCapturedStderr();
}

struct NarrowToWideCase {
  const char* name;
  const char* locale;   // process locale
  const char* charset;  // "" follows the locale
  string narrow;
  wstring wide;
};

TEST(AnsiToWideTest, NarrowToWideInRealLocales) {
  const string embeddedZero("a\0b", 3);
  const NarrowToWideCase cases[] = {
      {"c_ascii", "C", "", "Hello, world", L"Hello, world"},
      {"c_latin1_byte_is_invalid", "C", "", "caf\xE9", L"caf?"},
      {"c_utf8_bytes_each_invalid", "C", "", "\xC3\xA9", L"??"},
      {"c_embedded_zero", "C", "", embeddedZero, wstring(L"a\0b", 3)},
      {"utf8_ascii", "C.UTF-8", "", "abc", L"abc"},
      {"utf8_latin1", "C.UTF-8", "", "caf\xC3\xA9", L"caf\u00E9"},
      {"utf8_cjk", "C.UTF-8", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\u65E5\u672C\u8A9E"},
      {"utf8_beyond_bmp", "C.UTF-8", "", "\xF0\x9F\x98\x80!", L"\U0001F600!"},
      {"utf8_invalid_byte", "C.UTF-8", "",
       "a\xFF"
       "b",
       L"a?b"},
      {"utf8_lone_continuation", "C.UTF-8", "", "\x80x", L"?x"},
      {"utf8_overlong", "C.UTF-8", "", "\xC0\xAF", L"??"},
      {"utf8_cut_at_end", "C.UTF-8", "", "a\xE6\x97", L"a??"},
      {"utf8_encoded_surrogate", "C.UTF-8", "", "\xED\xA0\x80", L"???"},
      {"latin1_locale", "de_DE.ISO-8859-1", "", "caf\xE9 \xDF\xFF", L"caf\u00E9 \u00DF\u00FF"},
      {"eucjp_cjk", "ja_JP.EUC-JP", "",
       "\xC6\xFC\xCB\xDC"
       "a",
       L"\u65E5\u672Ca"},
      {"eucjp_cut_at_end", "ja_JP.EUC-JP", "", "a\xC6", L"a?"},
      {"named_ascii_in_utf8_locale", "C.UTF-8", "US-ASCII", "caf\xC3\xA9", L"caf??"},
      {"named_latin1_in_c_locale", "C", "ISO-8859-1", "\xE9", L"\u00E9"},
      {"named_utf8_in_c_locale", "C", "UTF-8", "\xE2\x82\xAC", L"\u20AC"},
  };
  for (const auto& locale : kLocales) REQUIRE_LOCALE(locale);
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProcessLocale locale(c.locale);
    ASSERT_TRUE(locale.ok());
    const size_t required = GetAnsiToWideRequiredBufferLength(
        c.narrow.data(), c.narrow.data() + c.narrow.size(), c.charset);
    EXPECT_EQ(c.narrow.size(), required);
    EXPECT_EQ(c.wide, ToWideAllocating(c.narrow, c.charset));
    string err = StderrOf([&] { EXPECT_EQ(c.wide, ToWideInto(c.narrow, c.charset, required)); });
    EXPECT_EQ("", err);
    // Exactly the room the output needs is enough.
    err = StderrOf([&] { EXPECT_EQ(c.wide, ToWideInto(c.narrow, c.charset, c.wide.size())); });
    EXPECT_EQ("", err);
    // One element less cuts the last character and reports it.
    err = StderrOf([&] {
      EXPECT_EQ(c.wide.substr(0, c.wide.size() - 1),
                ToWideInto(c.narrow, c.charset, c.wide.size() - 1));
    });
    EXPECT_NE(string::npos, err.find("osdep/IConv(")) << err;
    EXPECT_NE(string::npos, err.find("Assertion failed: false")) << err;
  }
}

struct WideToNarrowCase {
  const char* name;
  const char* locale;
  const char* charset;
  wstring wide;
  string narrow;
};

TEST(AnsiToWideTest, WideToNarrowInRealLocales) {
  const WideToNarrowCase cases[] = {
      {"c_ascii", "C", "", L"Hello", "Hello"},
      {"c_latin1_missing", "C", "", L"caf\u00E9", "caf?"},
      {"c_cjk_missing", "C", "", L"\u65E5\u672C", "??"},
      {"c_embedded_zero", "C", "", wstring(L"a\0b", 3), string("a\0b", 3)},
      {"utf8_latin1", "C.UTF-8", "", L"caf\u00E9", "caf\xC3\xA9"},
      {"utf8_cjk", "C.UTF-8", "", L"\u65E5\u672C\u8A9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
      {"utf8_beyond_bmp", "C.UTF-8", "", L"\U0001F600", "\xF0\x9F\x98\x80"},
      {"utf8_lone_surrogate", "C.UTF-8", "", wstring(1, wchar_t(0xD800)) + L"x", "?x"},
      {"utf8_beyond_unicode", "C.UTF-8", "", wstring(1, wchar_t(0x110000)), "?"},
      {"utf8_negative_element", "C.UTF-8", "", wstring(1, wchar_t(-1)), "?"},
      {"latin1_locale", "de_DE.ISO-8859-1", "", L"caf\u00E9\u00FF", "caf\xE9\xFF"},
      {"latin1_lacks_euro", "de_DE.ISO-8859-1", "", L"5\u20AC", "5?"},
      {"eucjp_cjk", "ja_JP.EUC-JP", "", L"\u65E5\u672C", "\xC6\xFC\xCB\xDC"},
      {"named_ascii", "C.UTF-8", "US-ASCII", L"\u00E9t\u00E9", "?t?"},
      {"named_latin1", "C", "ISO-8859-1", L"\u00E9", "\xE9"},
  };
  for (const auto& locale : kLocales) REQUIRE_LOCALE(locale);
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProcessLocale locale(c.locale);
    ASSERT_TRUE(locale.ok());
    const size_t required =
        GetWideToAnsiRequiredBufferLength(c.wide.data(), c.wide.data() + c.wide.size(), c.charset);
    EXPECT_EQ(4 * c.wide.size(), required);
    EXPECT_EQ(c.narrow, ToNarrowAllocating(c.wide, c.charset));
    string err = StderrOf([&] { EXPECT_EQ(c.narrow, ToNarrowInto(c.wide, c.charset, required)); });
    EXPECT_EQ("", err);
    err = StderrOf([&] { EXPECT_EQ(c.narrow, ToNarrowInto(c.wide, c.charset, c.narrow.size())); });
    EXPECT_EQ("", err);
  }
}

TEST(AnsiToWideTest, NarrowDestinationOneByteShort) {
  ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  testing::AlertRecorder alerts;
  // The last character takes one byte: the output fills up and that is reported.
  string err = StderrOf([] { EXPECT_EQ("ab", ToNarrowInto(L"abc", "", 2)); });
  EXPECT_NE(string::npos, err.find("osdep/IConv(")) << err;
  // The last character takes three bytes and two are left: it becomes one '?', and
  // the input is used up when the room is, so there is nothing to report.
  err = StderrOf([] { EXPECT_EQ("\xE6\x97\xA5?", ToNarrowInto(L"\u65E5\u672C", "", 5)); });
  EXPECT_EQ("", err);
  // Room for one byte only, more input after it: '?' and then the report.
  err = StderrOf([] { EXPECT_EQ("?", ToNarrowInto(L"\u65E5x", "", 1)); });
  EXPECT_NE(string::npos, err.find("Assertion failed: false")) << err;
  err = StderrOf([] { EXPECT_EQ("a", ToNarrowInto(L"a\u65E5", "", 1)); });
  EXPECT_NE(string::npos, err.find("Assertion failed: false")) << err;
}

TEST(AnsiToWideTest, EmptyAndNullRanges) {
  for (const char* charset : {"", "US-ASCII", "NO-SUCH-CHARSET"}) {
    SCOPED_TRACE(charset);
    const char narrow[] = "x";
    for (const char* begin : {static_cast<const char*>(nullptr), narrow}) {
      wchar_t* outBegin = nullptr;
      wchar_t* outEnd = nullptr;
      AnsiToWide(begin, begin, charset, outBegin, outEnd);
      ASSERT_NE(nullptr, outBegin);
      EXPECT_EQ(outBegin, outEnd);
      EXPECT_EQ(L'\0', *outBegin);
      delete[] outBegin;
    }
    const wchar_t wide[] = L"x";
    for (const wchar_t* begin : {static_cast<const wchar_t*>(nullptr), wide}) {
      char* outBegin = nullptr;
      char* outEnd = nullptr;
      WideToAnsi(begin, begin, charset, outBegin, outEnd);
      ASSERT_NE(nullptr, outBegin);
      EXPECT_EQ(outBegin, outEnd);
      EXPECT_EQ('\0', *outBegin);
      delete[] outBegin;
    }
    std::unique_ptr<char, Freed> fromText(WideToAnsi(L"", charset));
    EXPECT_EQ('\0', *fromText);
  }
  // Buffer filling with nothing to convert writes nothing and returns 0.
  wchar_t room[2] = {L'#', L'#'};
  wchar_t* destEnd = room + 2;
  EXPECT_EQ(0u, AnsiToWideNoAlloc(nullptr, nullptr, "", room, destEnd));
  EXPECT_EQ(room, destEnd);
  EXPECT_EQ(L'#', room[0]);
  char bytes[2] = {'#', '#'};
  char* bytesEnd = bytes + 2;
  EXPECT_EQ(0u, WideToAnsiNoAlloc(nullptr, nullptr, "", bytes, bytesEnd));
  EXPECT_EQ(bytes, bytesEnd);
  EXPECT_EQ('#', bytes[0]);
}

TEST(AnsiToWideTest, UnknownCharacterSetThrowsAndWritesNothing) {
  const string narrow = "abc";
  wchar_t room[4] = {L'#', L'#', L'#', L'#'};
  wchar_t* destEnd = room + 4;
  try {
    AnsiToWideNoAlloc(narrow.data(), narrow.data() + 3, "NO-SUCH-CHARSET", room, destEnd);
    ADD_FAILURE() << "no exception";
  } catch (const exception::InvalidLocale& e) {
    EXPECT_STREQ("osdep/IConv", e.getFileName());
    EXPECT_STREQ("Invalid locale", e.what());
  }
  EXPECT_EQ(room + 4, destEnd);
  EXPECT_EQ(L'#', room[0]);
  EXPECT_THROW(AnsiToWide(narrow.data(), narrow.data() + 3, "NO-SUCH-CHARSET"),
               exception::InvalidLocale);
  const wstring wide = L"abc";
  EXPECT_THROW(WideToAnsi(wide.c_str(), "NO-SUCH-CHARSET"), exception::InvalidLocale);
  char bytes[4] = {'#', '#', '#', '#'};
  char* bytesEnd = bytes + 4;
  // An empty range still opens the converter, so the name is checked.
  EXPECT_THROW(WideToAnsiNoAlloc(wide.data(), wide.data(), "NO-SUCH-CHARSET", bytes, bytesEnd),
               exception::InvalidLocale);
  EXPECT_EQ('#', bytes[0]);
}

TEST(AnsiToWideTest, CallerErrorsAreReported) {
  testing::AlertRecorder alerts;
  // A null character-set name is reported and taken as the locale's set.
  string err = StderrOf([] {
    const string narrow = "ab";
    std::unique_ptr<wchar_t, Freed> out(AnsiToWide(narrow.data(), narrow.data() + 2, nullptr));
    EXPECT_EQ(L"ab", wstring(out.get()));
  });
  EXPECT_NE(string::npos, err.find("osdep/AnsiToWide(")) << err;
  EXPECT_NE(string::npos, err.find("User must provide a character set name")) << err;
  err = StderrOf([] {
    std::unique_ptr<char, Freed> out(WideToAnsi(L"ab", nullptr));
    EXPECT_EQ("ab", string(out.get()));
  });
  EXPECT_NE(string::npos, err.find("osdep/WideToAnsi(")) << err;
  EXPECT_NE(string::npos, err.find("User must provide a character set name")) << err;

  err = StderrOf([] {
    std::unique_ptr<wchar_t, Freed> out(AnsiToWide(nullptr, 3, ""));
    EXPECT_EQ(L"", wstring(out.get()));
  });
  EXPECT_NE(string::npos, err.find("Assertion failed: s != 0")) << err;
  err = StderrOf([] {
    std::unique_ptr<wchar_t, Freed> out(AnsiToWide("abc", -1, ""));
    EXPECT_EQ(L"", wstring(out.get()));
  });
  EXPECT_NE(string::npos, err.find("Assertion failed: byteCount >= 0")) << err;
}

TEST(AnsiToWideTest, TextWithByteCountStopsAtZeroOrCount) {
  struct {
    const char* name;
    const char* text;
    int byteCount;
    wstring expected;
  } const cases[] = {
      {"zero_before_count", "abc", 10, L"abc"},
      {"count_before_zero", "abcdef", 4, L"abcd"},
      {"count_zero", "abc", 0, L""},
      {"embedded_zero", "ab\0cd", 5, L"ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<wchar_t, Freed> out(AnsiToWide(c.text, c.byteCount, "US-ASCII"));
    EXPECT_EQ(c.expected, wstring(out.get()));
  }
}

TEST(AnsiToWideTest, RequiredLengthsDoNotDependOnTheSet) {
  const char narrow[] = "12345";
  const wchar_t wide[] = L"12345";
  for (const char* charset : {"", "US-ASCII", "UTF-8", "carbon", "NO-SUCH-CHARSET"}) {
    SCOPED_TRACE(charset);
    EXPECT_EQ(5u, GetAnsiToWideRequiredBufferLength(narrow, narrow + 5, charset));
  }
  for (const char* charset : {"", "US-ASCII", "UTF-8", "NO-SUCH-CHARSET"}) {
    SCOPED_TRACE(charset);
    EXPECT_EQ(20u, GetWideToAnsiRequiredBufferLength(wide, wide + 5, charset));
  }
  EXPECT_STREQ("UTF-32LE", GetWCharTypeCodeForIConv());
}

TEST(AnsiToWideTest, FailureSwitchesThrowBadAllocPerDirection) {
  const string narrow = "abc";
  const wstring wide = L"abc";
  EXPECT_FALSE(MakeAnsiToWideThrow(true));
  EXPECT_THROW(AnsiToWide(narrow.data(), narrow.data() + 3, ""), std::bad_alloc);
  EXPECT_THROW(AnsiToWide("abc", 3, "carbon"), std::bad_alloc);
  wchar_t room[4];
  wchar_t* destEnd = room + 4;
  EXPECT_THROW(AnsiToWideNoAlloc(narrow.data(), narrow.data() + 3, "", room, destEnd),
               std::bad_alloc);
  // An empty range never reaches the converter.
  std::unique_ptr<wchar_t, Freed> empty(AnsiToWide(narrow.data(), narrow.data(), ""));
  EXPECT_EQ(L'\0', *empty);
  // The other direction is unaffected.
  std::unique_ptr<char, Freed> back(WideToAnsi(wide.c_str(), ""));
  EXPECT_EQ("abc", string(back.get()));
  EXPECT_TRUE(MakeAnsiToWideThrow(false));
  std::unique_ptr<wchar_t, Freed> again(AnsiToWide(narrow.data(), narrow.data() + 3, ""));
  EXPECT_EQ(L"abc", wstring(again.get()));

  EXPECT_FALSE(MakeWideToAnsiThrow(true));
  EXPECT_THROW(WideToAnsi(wide.c_str(), ""), std::bad_alloc);
  char bytes[4];
  char* bytesEnd = bytes + 4;
  EXPECT_THROW(WideToAnsiNoAlloc(wide.data(), wide.data() + 3, "", bytes, bytesEnd),
               std::bad_alloc);
  std::unique_ptr<wchar_t, Freed> forward(AnsiToWide(narrow.data(), narrow.data() + 3, ""));
  EXPECT_EQ(L"abc", wstring(forward.get()));
  EXPECT_TRUE(MakeWideToAnsiThrow(false));
}

TEST(AnsiToWideTest, AllocationSizeOverflowThrowsOutOfRange) {
  // Only the size computation runs: the range is never read.
  const char* begin = reinterpret_cast<const char*>(uintptr_t(1) << 12);
  const char* end = begin + (uintptr_t(1) << 62);
  EXPECT_THROW(AnsiToWide(begin, end, ""), exception::OutOfRange);
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
        std::unique_ptr<wchar_t, Freed> w(
            AnsiToWide(narrow.data(), narrow.data() + narrow.size(), ""));
        std::unique_ptr<char, Freed> n(WideToAnsi(w.get(), ""));
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
