// Conversions between the string kinds and from the other element type: which
// converter each takes (seen through what it makes of non-ASCII text), the sizes it
// leaves, the reports for bad arguments, and that a failed conversion leaves no
// trace in the string.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "tests/support/StringText.h"

namespace vo {
namespace qel {
namespace {

std::string Bytes(const ANSIString& s) { return std::string(s.c_str(), s.length()); }
std::string Bytes(const ASCIIString& s) { return std::string(s.c_str(), s.length()); }
std::string Bytes(const Utf8String& s) {
  return std::string(reinterpret_cast<const char*>(s.c_str()), s.length());
}
std::wstring Wide(const String& s) { return std::wstring(s.c_str(), s.length()); }

Utf8String Utf8(const std::string& bytes) {
  return Utf8String(reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<Utf8String::size_type>(bytes.size()));
}

// The C library's character-type locale for the life of the object: the system
// encoding the narrow kinds convert through.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

// Every element of a kind converted from the other element type, and back where
// the pair goes both ways. Under a UTF-8 system encoding, String and ANSIString
// carry any character; ASCIIString carries ASCII only, the rest as its converter
// makes it.
TEST(StringConversionTest, WhatEachKindMakesOfText) {
  CtypeLocale utf8("C.UTF-8");
  if (!utf8.ok()) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600z";
  const std::string utf8Bytes = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";

  const ANSIString ansi(wide.c_str());
  EXPECT_EQ(utf8Bytes, Bytes(ansi));
  EXPECT_EQ(wide.size() * 4, ansi.capacity()) << "4 bytes reserved per wide element";
  const String back(ansi);
  EXPECT_EQ(wide, Wide(back));
  EXPECT_EQ(utf8Bytes.size(), back.capacity()) << "one element reserved per byte";
  EXPECT_EQ(wide, Wide(String(utf8Bytes.c_str())));

  const Utf8String u(wide.c_str());
  EXPECT_EQ(utf8Bytes, Bytes(u));
  EXPECT_EQ(u.length(), u.capacity());
  EXPECT_EQ(wide, Wide(String(nullptr, u)));
  EXPECT_EQ(wide.size(), String(nullptr, u).capacity());

  // ASCIIString converts through US-ASCII whatever the system encoding, exactly as
  // the converter does on its own.
  const ASCIIString ascii(wide.c_str());
  char* direct = osdep::WideToAnsi(wide.data(), wide.data() + wide.size(), "US-ASCII");
  EXPECT_EQ(std::string(direct), Bytes(ascii));
  delete[] direct;
  EXPECT_EQ('a', ascii.c_str()[0]);
  EXPECT_EQ(Bytes(ascii), Bytes(ASCIIString(nullptr, String(wide.c_str()))));
  const char lacking[] = "a\xE9z";
  wchar_t* lackingDirect = osdep::AnsiToWide(lacking, lacking + 3, "US-ASCII");
  EXPECT_EQ(std::wstring(lackingDirect), Wide(String(nullptr, ASCIIString(lacking))))
      << "a byte US-ASCII lacks becomes what the converter makes of it";
  EXPECT_EQ(3u, String(nullptr, ASCIIString(lacking)).length());
  delete[] lackingDirect;

  // ASCII into UTF-8 is a copy of the bytes, whatever they are.
  const std::string raw("a\0\xE9", 3);
  const ASCIIString rawAscii(raw.data(), 3u);
  EXPECT_EQ(raw, Bytes(Utf8String(nullptr, rawAscii)));
  EXPECT_EQ(3u, Utf8String(nullptr, rawAscii).capacity());
}

TEST(StringConversionTest, EmbeddedZerosAndRanges) {
  const wchar_t wide[] = {L'a', 0, L'b', 0};
  EXPECT_EQ(std::string("a\0b", 3), Bytes(ANSIString(wide, 3u)));
  EXPECT_EQ(std::string("a\0b", 3), Bytes(Utf8String(wide, wide + 3)));
  EXPECT_EQ(std::string("a"), Bytes(ASCIIString(wide)));
  const String withZero(wide, 3u);
  EXPECT_EQ(std::string("a\0b", 3), Bytes(ANSIString(withZero)));
  EXPECT_EQ(std::string("a\0b", 3), Bytes(Utf8String(nullptr, withZero)));
  EXPECT_EQ(std::wstring(wide, 3), Wide(String(ANSIString("a\0b", 3u))));
  EXPECT_EQ(std::wstring(wide, 3), Wide(String(nullptr, ASCIIString("a\0b", 3u))));
  EXPECT_EQ(std::wstring(wide, 3), Wide(String(nullptr, Utf8(std::string("a\0b", 3)))));
}

// Empty and null sources give the empty string without asking the converter, which
// is switched to fail to show it.
TEST(StringConversionTest, EmptySourcesNeedNoConverter) {
  struct Fail {
    Fail() : a(osdep::MakeAnsiToWideThrow(true)), w(osdep::MakeWideToAnsiThrow(true)) {}
    ~Fail() {
      osdep::MakeAnsiToWideThrow(a);
      osdep::MakeWideToAnsiThrow(w);
    }
    bool a, w;
  };
  const wchar_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const wchar_t emptyWide[] = L"";
  const ANSIString emptyAnsi;
  const String emptyWideString;
  Fail fail;
  struct {
    const char* name;
    std::function<size_t()> make;  // the length made
    size_t length;
  } const cases[] = {
      {"wide_null", [&] { return String(nullNarrow).length(); }, 0},
      {"narrow_null", [&] { return ANSIString(nullWide).length(); }, 0},
      {"ascii_empty", [&] { return ASCIIString(emptyWide).length(); }, 0},
      {"utf8_empty_range", [&] { return Utf8String(emptyWide, emptyWide).length(); }, 0},
      {"counted_none", [&] { return ANSIString(emptyWide, 0u).length(); }, 0},
      {"partner_empty", [&] { return String(emptyAnsi).length(); }, 0},
      {"reserved_empty", [&] { return ASCIIString(nullptr, emptyWideString).length(); }, 0},
      {"assign_null", [&] {
         ANSIString s("x");
         s = nullWide;
         return size_t(s.length());
       }, 0},
      {"append_null_and_empty", [&] {
         String s(L"x", 1u);
         s.append(nullNarrow);
         s += "";
         s.append(emptyAnsi, 0, String::npos);
         return size_t(s.length());
       }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t length = 99;
    EXPECT_NO_THROW(length = c.make());
    EXPECT_EQ(c.length, length);
  }
  EXPECT_THROW(String("x"), std::bad_alloc) << "the converter is really switched off";
  EXPECT_THROW(ANSIString(L"x"), std::bad_alloc);
}

// A conversion that fails leaves the string as it was (append, assign) or no string
// (construction, where the sanitizers see that nothing leaks).
TEST(StringConversionTest, FailedConversionChangesNothing) {
  const std::string badUtf8 = "ok\xC3";
  EXPECT_THROW(String(nullptr, Utf8(badUtf8)), exception::InvalidSequence);

  struct Guard {
    ~Guard() {
      osdep::MakeAnsiToWideThrow(false);
      osdep::MakeWideToAnsiThrow(false);
    }
  } guard;
  String wide(L"old", 3u);
  ANSIString narrow("old");
  const ANSIString partner("xyz");
  const String widePartner(L"xyz", 3u);
  osdep::MakeAnsiToWideThrow(true);
  osdep::MakeWideToAnsiThrow(true);
  struct {
    const char* name;
    std::function<void()> op;
  } const cases[] = {
      {"append_narrow", [&] { wide.append("more"); }},
      {"append_narrow_past_room", [&] { wide.append("more and more text", 18u); }},
      {"append_partner", [&] { wide += partner; }},
      {"assign_narrow", [&] { wide.assign("new", 3u); }},
      {"assign_operator", [&] { wide = "new"; }},
      {"append_wide", [&] { narrow.append(L"more"); }},
      {"append_wide_partner", [&] { narrow.append(widePartner, 1, 1); }},
      {"assign_wide", [&] { narrow = L"new"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(c.op(), std::bad_alloc);
    EXPECT_EQ(L"old", Wide(wide));
    EXPECT_EQ("old", Bytes(narrow));
    EXPECT_EQ(0, wide.c_str()[wide.length()]);
    EXPECT_EQ(0, narrow.c_str()[narrow.length()]);
  }
}

// Appending by conversion: positions in the other kind, growth by doubling, and the
// forms that build a new string.
TEST(StringConversionTest, AppendingOtherKinds) {
  const ANSIString xyz("xyz");
  const String wxyz(L"xyz", 3u);
  struct {
    const char* name;
    std::function<std::wstring()> op;
    std::wstring expected;
    bool offsetThrows = false;
  } const cases[] = {
      {"partner_whole", [&] { String s(L"ab", 2u); s.append(xyz); return Wide(s); }, L"abxyz"},
      {"partner_from_pos", [&] { String s(L"ab", 2u); s.append(xyz, 1, String::npos); return Wide(s); },
       L"abyz"},
      {"partner_count_past_end", [&] { String s(L"ab", 2u); s.append(xyz, 2, 9); return Wide(s); },
       L"abz"},
      {"partner_pos_at_size", [&] { String s(L"ab", 2u); s.append(xyz, 3, 1); return Wide(s); },
       L"ab"},
      {"partner_pos_one_past", [&] { String s(L"ab", 2u); s.append(xyz, 4, 0); return Wide(s); },
       L"", true},
      {"partner_pos_npos",
       [&] { ANSIString s("ab"); s.append(wxyz, ANSIString::npos, 1); return std::wstring(); }, L"",
       true},
      {"narrow_plus", [&] { return Wide(String(L"ab", 2u) + "cd"); }, L"abcd"},
      {"narrow_plus_partner", [&] { return Wide(String(L"ab", 2u) + xyz); }, L"abxyz"},
      {"wide_plus_partner", [&] { return Wide(String(ANSIString("ab") + wxyz)); }, L"abxyz"},
      {"wide_plus", [&] { return Wide(String(nullptr, ASCIIString("ab") + L"cd")); }, L"abcd"},
      {"utf8_plus", [&] { return Wide(String(nullptr, Utf8String(L"ab") + L"\u00E9")); },
       L"ab\u00E9"},
      {"counted", [&] { ANSIString s("ab"); s.append(L"cdef", 2u); return Wide(String(s)); }, L"abcd"},
      {"plus_equals", [&] { ASCIIString s("ab"); s += L"cd"; return Wide(String(nullptr, s)); },
       L"abcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.offsetThrows) {
      EXPECT_THROW(c.op(), exception::OutOfRange2);
    } else {
      EXPECT_EQ(c.expected, c.op());
    }
  }

  // The room needed is what the converter predicts; when it is short the buffer
  // doubles that need.
  ANSIString s("ab");
  s.append(L"cd");
  EXPECT_EQ(20u, s.capacity()) << "(2 + 2 * 4) * 2";
  s.append(L"ef");
  EXPECT_EQ(20u, s.capacity()) << "8 more fit in the room left";
  EXPECT_EQ("abcdef", Bytes(s));
  String w(L"ab", 2u);
  w.append(xyz);
  EXPECT_EQ(10u, w.capacity());
}

TEST(StringConversionTest, BadArgumentsAreReported) {
  testing::Reports reports;
  const wchar_t text[] = L"abc";
  const char narrow[] = "abc";
  struct {
    const char* name;
    std::function<size_t()> make;
    std::vector<std::string> reports;
    size_t length;
  } const cases[] = {
      {"range_null_begin", [&] { return ANSIString(static_cast<const wchar_t*>(nullptr), text).length(); },
       {"begin"}, 0},
      {"range_null_end", [&] { return Utf8String(text, static_cast<const wchar_t*>(nullptr)).length(); },
       {"end"}, 0},
      {"range_reversed", [&] { return String(narrow + 2, narrow).length(); }, {"begin <= end"}, 0},
      {"counted_null", [&] { return ASCIIString(static_cast<const wchar_t*>(nullptr), 2u).length(); },
       {"(len == 0) || (source != 0)"}, 0},
      {"append_counted_null", [&] {
         String s(L"a", 1u);
         s.append(static_cast<const char*>(nullptr), 2u);
         return size_t(s.length());
       }, {"(len == 0) || (source != 0)"}, 1},
      {"reserved_not_null", [&] {
         static const int token = 0;
         return String(&token, ASCIIString("abc")).length();
       }, {"0 == reserved"}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.length, c.make());
    EXPECT_EQ(c.reports, reports.take());
  }
}

}  // namespace
}  // namespace qel
}  // namespace vo
