// Exact and case-insensitive comparison of narrow and wide text, ranged and
// zero-terminated, in the "C" locale of the C character functions (the process
// never changes it here).
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "qel/osdep/StringCaseCompare.h"
#include "qel/osdep/StringExactCompare.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

using std::string;
using std::wstring;

int Sign(int v) { return (v > 0) - (v < 0); }

template <class S>
int Case(const S& l, const S& r) {
  return StringCaseCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}
template <class S>
int Exact(const S& l, const S& r) {
  return StringExactCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}

// Case-insensitive values are exact: callers sort by them. Exact ones by sign.
template <class S>
struct Row {
  const char* name;
  S lhs, rhs;
  int exact, caseless;          // ranged forms
  int exactZero, caselessZero;  // zero-terminated forms, which stop at a 0 element
};

template <class S>
void Check(const Row<S>& c) {
  SCOPED_TRACE(c.name);
  EXPECT_EQ(c.exact, Sign(Exact(c.lhs, c.rhs)));
  EXPECT_EQ(c.caseless, Case(c.lhs, c.rhs));
  EXPECT_EQ(c.exactZero, Sign(StringExactCompare(c.lhs.c_str(), c.rhs.c_str())));
  EXPECT_EQ(c.caselessZero, StringCaseCompare(c.lhs.c_str(), c.rhs.c_str()));
  // The same pair the other way round mirrors the order.
  EXPECT_EQ(-c.exact, Sign(Exact(c.rhs, c.lhs)));
  EXPECT_EQ(-Sign(c.caseless), Sign(Case(c.rhs, c.lhs)));
}

TEST(StringCompareTest, Narrow) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  const Row<string> cases[] = {
      {"equal", "abc", "abc", 0, 0, 0, 0},
      {"equal_ignoring_case", "abc", "ABC", 1, 0, 1, 0},
      {"first_difference_wins", "abc", "abd", -1, 'C' - 'D', -1, 'C' - 'D'},
      // Ranges count the tail; zero-terminated forms meet the terminator, 0 - 'C'.
      {"prefix_sorts_first", "ab", "abc", -1, -1, -1, -67},
      {"longer_by_three", "abcd", "a", 1, 3, 1, 'B'},
      {"both_empty", "", "", 0, 0, 0, 0},
      {"embedded_zero", string("ab\0x", 4), string("ab\0y", 4), -1, 'X' - 'Y', 0, 0},
      {"zero_against_end", string("a\0", 2), "a", 1, 1, 0, 0},
      // Without case a byte 0x80-0xFF is negative and not folded; with case unsigned.
      {"high_byte", "\xE9", "a", 1, -23 - 'A', 1, -23 - 'A'},
      {"high_bytes_not_folded", "\xE9", "\xC9", 1, 0xE9 - 0xC9, 1, 0xE9 - 0xC9},
      {"high_byte_below_control", "\x80", "\x01", 1, -128 - 1, 1, -128 - 1},
      {"punctuation_between_cases", "_", "a", -1, '_' - 'A', -1, '_' - 'A'},
  };
  for (const auto& c : cases) Check(c);
  // Null is the empty text.
  EXPECT_EQ(0, StringCaseCompare(static_cast<const char*>(nullptr), nullptr));
  EXPECT_EQ(-65, StringCaseCompare(nullptr, "a"));
  EXPECT_EQ(0, StringExactCompare("", static_cast<const char*>(nullptr)));
  EXPECT_EQ(-1, Sign(StringExactCompare(nullptr, "a")));
}

TEST(StringCompareTest, Wide) {
  const Row<wstring> cases[] = {
      {"equal_ignoring_case", L"abc", L"ABC", 1, 0, 1, 0},
      {"first_difference", L"abc", L"abd", -1, -1, -1, -1},
      // Zero-terminated: the text that ended sorts first, by -1 not by the element.
      {"prefix", L"ab", L"ABC", 1, -1, 1, -1},
      {"longer_by_three", L"abcd", L"a", 1, 3, 1, 1},
      {"embedded_zero", wstring(L"ab\0x", 4), wstring(L"ab\0y", 4), -1, -1, 0, 0},
      // Only a-z fold in the "C" locale.
      {"latin1_not_folded", L"\u00E9", L"\u00C9", 1, 1, 1, 1},
      {"beyond_bmp", L"\U0001F600", L"\uFFFF", 1, 1, 1, 1},
  };
  for (const auto& c : cases) Check(c);
  EXPECT_EQ(-1, StringCaseCompare(static_cast<const wchar_t*>(nullptr), L"a"));
  EXPECT_EQ(0, StringCaseCompare(static_cast<const wchar_t*>(nullptr), nullptr));
  EXPECT_EQ(0, StringExactCompare(static_cast<const wchar_t*>(nullptr), L""));
  EXPECT_EQ(1, Sign(StringExactCompare(L"a", static_cast<const wchar_t*>(nullptr))));
}

TEST(StringCompareTest, BadRangesAreReportedAndReadNothing) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    StringExactCompare(c.lhs, c.lhsEnd, c.rhs, c.rhsEnd);
    string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(string::npos, err.find(c.report)) << err;
    EXPECT_NE(string::npos, err.find("osdep/StringExactCompare(")) << err;
    ::testing::internal::CaptureStderr();
    StringCaseCompare(c.lhs, c.lhsEnd, c.rhs, c.rhsEnd);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(string::npos, err.find(c.report)) << err;
    EXPECT_NE(string::npos, err.find("osdep/StringCaseCompare(")) << err;
  }
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
