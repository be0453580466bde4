// Exact and case-insensitive comparison of narrow, wide and UTF-8 text, ranged and
// zero-terminated, in the "C" locale of the C character functions.
#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "qel/exception/Exception.h"
#include "qel/osdep/StringCaseCompare.h"
#include "qel/osdep/StringExactCompare.h"
#include "qel/osdep/Utf8StringCaseInsensitiveCompare.h"
#include "qel/osdep/Utf8StringCompareInternal.h"
#include "qel/osdep/Utf8StringExactCompare.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::osdep {
namespace {

using std::string;
using std::wstring;

int Sign(int v) { return (v > 0) - (v < 0); }
const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// A kind's four forms on two texts: exact and caseless over the ranges, then over
// the zero-terminated texts. Caseless values are kept exactly (callers sort by them),
// exact ones by sign.
using Forms = std::array<int, 4>;
template <class C>
Forms Plain(const std::basic_string<C>& l, const std::basic_string<C>& r) {
  const C *a = l.c_str(), *b = r.c_str(), *aEnd = a + l.size(), *bEnd = b + r.size();
  return {Sign(StringExactCompare(a, aEnd, b, bEnd)), StringCaseCompare(a, aEnd, b, bEnd),
          Sign(StringExactCompare(a, b)), StringCaseCompare(a, b)};
}
Forms Utf8(const string& l, const string& r) {
  const unsigned char *a = U(l.c_str()), *b = U(r.c_str()), *aEnd = a + l.size(),
                      *bEnd = b + r.size();
  return {Sign(Utf8StringExactCompare(a, aEnd, b, bEnd)),
          Utf8StringCaseInsensitiveCompare(a, aEnd, b, bEnd), Sign(Utf8StringExactCompare(a, b)),
          Utf8StringCaseInsensitiveCompare(a, b)};
}

template <class S>
struct Row {
  const char* name;
  S lhs, rhs;
  Forms expected;  // zero-terminated forms stop at a 0 element
};

template <class S>
void Check(const Row<S>& c, Forms (*forms)(const S&, const S&)) {
  EXPECT_EQ(c.expected, forms(c.lhs, c.rhs)) << c.name;
  // The same pair the other way round mirrors the order.
  const Forms back = forms(c.rhs, c.lhs);
  EXPECT_EQ(-c.expected[0], back[0]) << c.name;
  EXPECT_EQ(-Sign(c.expected[1]), Sign(back[1])) << c.name;
}

TEST(StringCompareTest, Values) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  const Row<string> narrow[] = {
      {"equal_ignoring_case", "abc", "ABC", {1, 0, 1, 0}},
      {"first_difference_wins", "abc", "abd", {-1, 'C' - 'D', -1, 'C' - 'D'}},
      // Ranges count the tail; zero-terminated forms meet the terminator.
      {"longer_by_three", "abcd", "a", {1, 3, 1, 'B'}},
      {"embedded_zero", string("ab\0x", 4), string("ab\0y", 4), {-1, 'X' - 'Y', 0, 0}},
      // Without case a byte 0x80-0xFF is negative and not folded; with case unsigned.
      {"high_byte", "\xE9", "a", {1, -23 - 'A', 1, -23 - 'A'}},
      {"punctuation_between_cases", "_", "a", {-1, '_' - 'A', -1, '_' - 'A'}},
  };
  for (const auto& c : narrow) Check(c, Plain<char>);
  // The ranged forms share their loop with the narrow ones; these rows are where wide differs.
  const Row<wstring> wide[] = {
      {"first_difference", L"abc", L"abd", {-1, -1, -1, -1}},
      // Zero-terminated: the text that ended sorts first, by -1 not by the element.
      {"prefix", L"ab", L"ABC", {1, -1, 1, -1}},
      // Only a-z fold in the "C" locale.
      {"latin1_not_folded", L"\u00E9", L"\u00C9", {1, 1, 1, 1}},
  };
  for (const auto& c : wide) Check(c, Plain<wchar_t>);
  // UTF-8 is ordered by code point, its tails counted in bytes.
  const Row<string> utf8[] = {
      {"case_only", "abc", "ABC", {1, 0, 1, 0}},
      {"latin1_not_folded", "\xC3\xA9", "\xC3\x89", {1, 1, 1, 1}},
      {"tail_in_bytes", "a", "a\xE6\x97\xA5", {-1, -3, -1, -3}},
      {"code_point_order_not_signed_bytes", "\xC3\xA9", "z", {1, 1, 1, 1}},
      {"embedded_zero", string("a\0b", 3), string("a\0c", 3), {-1, -1, 0, 0}},
      // A difference before malformed text decides without reading it.
      {"decided_before_malformed", "a\xFF", "b\xFF", {-1, -1, -1, -1}},
  };
  for (const auto& c : utf8) Check(c, Utf8);
  // Null is the empty text.
  EXPECT_EQ(-65, StringCaseCompare(nullptr, "a"));
  EXPECT_EQ(0, StringExactCompare("", static_cast<const char*>(nullptr)));
  EXPECT_EQ(-1, StringCaseCompare(static_cast<const wchar_t*>(nullptr), L"a"));
  EXPECT_EQ(0, StringExactCompare(static_cast<const wchar_t*>(nullptr), L""));
  EXPECT_EQ(0, Utf8StringExactCompare(nullptr, nullptr));
  EXPECT_EQ(1, Utf8StringCaseInsensitiveCompare(U("a"), nullptr));
}

// The units loop orders a byte that starts no valid sequence after every character, two
// such bytes by value, and tells that it met one; the exported forms throw for that.
TEST(StringCompareTest, MalformedUtf8) {
  const struct {
    const char *name, *lhs, *rhs;  // lhs sorts after rhs
  } cases[] = {
      {"invalid_lead_after_character", "\xFF", "a"},
      {"cut_sequence_after_character", "a\xE6\x97", "a\xE6\x97\xA5"},
      {"overlong_after_character", "\xC0\xAF", "\xC3\xA9"},
      {"two_bytes_by_value", "\xC3", "\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned char *l = U(c.lhs), *r = U(c.rhs);
    const unsigned char *lEnd = l + std::strlen(c.lhs), *rEnd = r + std::strlen(c.rhs);
    const Utf8Order order = CompareUtf8Units(l, lEnd, r, rEnd, nullptr);
    EXPECT_EQ(1, Sign(int(order.order)));
    EXPECT_TRUE(order.malformed);
    EXPECT_EQ(-1, Sign(int(CompareUtf8Units(r, rEnd, l, lEnd, nullptr).order)));
    EXPECT_THROW(Utf8StringExactCompare(l, lEnd, r, rEnd), exception::InvalidSequence);
    EXPECT_THROW(Utf8StringCaseInsensitiveCompare(r, l), exception::InvalidSequence);
  }
}

TEST(StringCompareTest, CallerErrorsAreReportedAndReadNothing) {
  testing::AlertRecorder alerts;
  const char text[] = "abc";
  struct {
    const char* name;
    const char *lhs, *lhsEnd, *rhs, *rhsEnd;
    const char* report;
  } const cases[] = {
      {"null_lhs", nullptr, text + 3, text, text + 3, "Assertion failed: lhs\a"},
      {"reversed_lhs", text + 3, text, text, text + 3, "Assertion failed: lhs <= lhsEnd\a"},
      {"null_rhs", text, text + 3, nullptr, text + 1, "Assertion failed: rhs\a"},
      {"reversed_rhs", text, text + 3, text + 2, text, "Assertion failed: rhs <= rhsEnd\a"},
  };
  using Ranged = int (*)(const char*, const char*, const char*, const char*);
  const std::pair<Ranged, const char*> kinds[] = {
      {StringExactCompare, "osdep/StringExactCompare("},
      {StringCaseCompare, "osdep/StringCaseCompare("},
      {[](const char* l, const char* lEnd, const char* r, const char* rEnd) {
         return Utf8StringCaseInsensitiveCompare(U(l), U(lEnd), U(r), U(rEnd));
       },
       "osdep/Utf8StringCompareInternal("},
  };
  for (const auto& c : cases) {
    for (const auto& kind : kinds) {
      ::testing::internal::CaptureStderr();
      kind.first(c.lhs, c.lhsEnd, c.rhs, c.rhsEnd);
      const string err = ::testing::internal::GetCapturedStderr();
      EXPECT_NE(string::npos, err.find(c.report)) << c.name << ": " << err;
      EXPECT_NE(string::npos, err.find(kind.second)) << c.name << ": " << err;
    }
  }
  // Only the tails' lengths are used: nothing is read.
  const unsigned char* far = U(text) + (uintptr_t(1) << 32);
  EXPECT_THROW(Utf8StringExactCompare(U(text), U(text), U(text), far), exception::OutOfRange);
}

}  // namespace
}  // namespace vo::qel::osdep
