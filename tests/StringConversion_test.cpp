// Conversions between the string kinds and from the other element type: which
// converter each takes (seen through what it makes of non-ASCII text), the buffer it
// leaves, bounds, bad arguments, empty sources and failed conversions.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "qel/StringBase.h"
#include "qel/osdep/AnsiToWide.h"
#include "tests/support/StringText.h"
#include "tests/support/TestLocales.h"

namespace vo::qel {
namespace {

// The elements of any kind as a wide text, bytes by their unsigned value; WC adds the
// capacity after a '|'.
template <typename S>
std::wstring W(const S& s) {
  std::wstring w;
  for (auto c : s) w.push_back(wchar_t(std::make_unsigned_t<typename S::value_type>(c)));
  return w;
}
template <typename S>
std::wstring WC(const S& s) {
  return W(s) + L"|" + std::to_wstring(s.capacity());
}
std::wstring Widen(const std::string& bytes) { return W(ASCIIString(bytes.data(), bytes.size())); }
Utf8String Utf8(const std::string& bytes) { return testing::Make<Utf8String>(bytes); }

TEST(StringConversionTest, BetweenTheFourKinds) {
  // The system encoding the narrow kinds convert through; ASCIIString always takes
  // US-ASCII, exactly as the converter does on its own.
  const testing::ScopedProcessLocale locale("C.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600z", a0b(L"a\0b", 3);
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const std::unique_ptr<char[]> asAscii(
      osdep::WideToAnsi(wide.data(), wide.data() + wide.size(), "US-ASCII"));
  const char lacking[] = "a\xE9z";
  const std::unique_ptr<wchar_t[]> lackingAsWide(
      osdep::AnsiToWide(lacking, lacking + 3, "US-ASCII"));

  const wchar_t* w = wide.c_str();
  const std::wstring u8 = Widen(utf8), ascii = Widen(asAscii.get());
  const wchar_t* wideA0b = a0b.c_str();
  const wchar_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const ANSIString xyz("xyz");
  const String wxyz(L"xyz", 3u);
  String oldWide(L"old", 3u);  // changed only by conversions that fail
  ANSIString oldNarrow("old");
  struct {
    const char* name;
    std::function<std::wstring()> op;
    std::wstring expected;  // or <offset>, <invalid>, <bad_alloc> for what was thrown
    bool convertersOff = false;
    const char* report = "";  // the failed check a bad argument gives
  } const cases[] = {
      {"ansi_from_wide_reserves_4_per_element", [&] { return WC(ANSIString(w)); }, u8 + L"|20"},
      {"string_from_ansi_reserves_1_per_byte", [&] { return WC(String(ANSIString(w))); },
       wide + L"|11"},
      {"utf8_from_wide_is_exact", [&] { return WC(Utf8String(w)); }, u8 + L"|11"},
      {"string_from_utf8", [&] { return WC(String(nullptr, Utf8(utf8))); }, wide + L"|5"},
      {"string_from_bad_utf8", [&] { return W(String(nullptr, Utf8("ok\xC3"))); }, L"<invalid>"},
      {"ascii_from_wide", [&] { return W(ASCIIString(w)); }, ascii},
      {"ansi_from_string_system_set", [&] { return W(ANSIString(String(w))); }, u8},
      {"ascii_from_string_us_ascii", [&] { return W(ASCIIString(nullptr, String(w))); }, ascii},
      // Appending the partner kind goes through the system set too, in every form.
      {"string_append_ansi", [&] { return W(String(L"<", 1u).append(ANSIString(w))); },
       L"<" + wide},
      {"ansi_append_string", [&] { return W(ANSIString("<").append(String(w))); }, L"<" + u8},
      {"ansi_plus_string", [&] { return W(ANSIString("<") + String(w)); }, L"<" + u8},
      {"string_plus_ansi", [&] { return W(String(L"<", 1u) + ANSIString(w)); }, L"<" + wide},
      {"ansi_plus_equals_string", [&] { return W(ANSIString("<") += String(w)); }, L"<" + u8},
      {"string_from_ascii_lacking", [&] { return W(String(nullptr, ASCIIString(lacking))); },
       lackingAsWide.get()},
      {"utf8_from_ascii_copies_bytes",
       [&] { return WC(Utf8String(nullptr, ASCIIString("a\0\xE9", 3u))); },
       std::wstring(L"a\0\xE9|3", 5)},
      // Embedded zeros travel in counted conversions; zero-terminated ones stop.
      {"ansi_counted", [&] { return W(ANSIString(wideA0b, 3u)); }, a0b},
      {"utf8_range", [&] { return W(Utf8String(wideA0b, wideA0b + 3)); }, a0b},
      {"ascii_zero_terminated", [&] { return W(ASCIIString(wideA0b)); }, L"a"},
      {"string_from_ansi", [&] { return W(String(ANSIString("a\0b", 3u))); }, a0b},
      // Appending another kind: its positions, and growth by the predicted need.
      {"partner_from_pos", [&] { return W(String(L"ab", 2u).append(xyz, 1, String::npos)); },
       L"abyz"},
      {"partner_pos_and_count", [&] { return W(String(L"ab", 2u).append(xyz, 1, 1)); }, L"aby"},
      {"partner_count_past_end", [&] { return W(ANSIString("ab").append(wxyz, 0, 9)); }, L"abxyz"},
      {"partner_count_zero", [&] { return W(ANSIString("ab").append(wxyz, 1, 0)); }, L"ab"},
      {"partner_pos_at_size", [&] { return W(String(L"ab", 2u).append(xyz, 3, 1)); }, L"ab"},
      {"partner_pos_one_past", [&] { return W(String(L"ab", 2u).append(xyz, 4, 0)); }, L"<offset>"},
      {"partner_pos_npos", [&] { return W(ANSIString("ab").append(wxyz, ANSIString::npos, 1)); },
       L"<offset>"},
      {"wide_doubles_the_prediction",  // (2 + 2 * 4) * 2, and then 8 more fit
       [&] { return WC(ANSIString("ab").append(L"cd").append(L"ef")); }, L"abcdef|20"},
      // Empty sources give the empty text without asking the converter.
      {"wide_null", [&] { return W(String(nullNarrow)); }, L"", true},
      {"narrow_null", [&] { return W(ANSIString(nullWide)); }, L"", true},
      {"append_null_and_empty", [&] { return W((String(L"x", 1u) += "").append(nullNarrow)); },
       L"x", true},
      // A conversion that fails leaves the string as it was.
      {"append_narrow", [&] { return W(oldWide.append("more")); }, L"<bad_alloc>", true},
      {"append_wide", [&] { return W(oldNarrow.append(L"more and more text")); }, L"<bad_alloc>",
       true},
      {"assign_wide", [&] { return W(oldNarrow = L"new"); }, L"<bad_alloc>", true},
      // Bad arguments are reported, and give the empty text or change nothing.
      {"range_null_begin", [&] { return W(ANSIString(nullWide, wideA0b)); }, L"", false, "begin"},
      {"range_reversed", [&] { return W(String(lacking + 2, lacking)); }, L"", false,
       "begin <= end"},
      {"counted_null", [&] { return W(ASCIIString(nullWide, 2u)); }, L"", false,
       "(len == 0) || (source != 0)"},
      {"reserved_not_null", [&] { return W(String(&locale, ASCIIString("abc"))); }, L"abc", false,
       "0 == reserved"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Both converters fail (as if out of memory) for the rows that say so.
    const bool toWide = osdep::MakeAnsiToWideThrow(c.convertersOff);
    const bool toNarrow = osdep::MakeWideToAnsiThrow(c.convertersOff);
    std::wstring got;
    const std::string thrown = testing::Thrown([&] { got = c.op(); });
    if (!thrown.empty()) got = L"<" + std::wstring(thrown.begin(), thrown.end()) + L">";
    osdep::MakeAnsiToWideThrow(toWide);
    osdep::MakeWideToAnsiThrow(toNarrow);
    EXPECT_EQ(c.expected, got);
    EXPECT_EQ(c.report, testing::Reported(alerts));
    EXPECT_EQ(L"old", W(oldWide));
    EXPECT_EQ(L"old", W(oldNarrow));
  }
}

}  // namespace
}  // namespace vo::qel
