// Exact and case-insensitive comparison of narrow and wide text.
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

int Sign(int v) { return (v > 0) - (v < 0); }

int CaseRange(const std::string& l, const std::string& r) {
  return StringCaseCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}
int ExactRange(const std::string& l, const std::string& r) {
  return StringExactCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}
int CaseRange(const std::wstring& l, const std::wstring& r) {
  return StringCaseCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}
int ExactRange(const std::wstring& l, const std::wstring& r) {
  return StringExactCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}

// Values the string kinds' ordering depends on, in the "C" locale of the C
// character functions (the process never changes it here).
TEST(StringCaseCompareTest, NarrowZeroTerminatedValues) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  struct {
    const char* name;
    const char* lhs;
    const char* rhs;
    int expected;
  } const cases[] = {
      {"equal_ignoring_case", "abc", "ABC", 0},
      {"prefix_sorts_first", "ab", "abc", -67},  // 0 - 'C'
      {"longer_sorts_last", "abc", "ab", 67},
      {"first_difference_wins", "abc", "abd", 'C' - 'D'},
      {"both_null", nullptr, nullptr, 0},
      {"null_is_empty", nullptr, "a", -65},
      {"empty_against_null", "", nullptr, 0},
      {"high_byte_is_negative", "\xE9", "a", -88},  // -23 - 'A'
      {"high_bytes_not_folded", "\xE9", "\xC9", 0xE9 - 0xC9},
      {"high_byte_below_control", "\x80", "\x01", -128 - 1},
      {"punctuation_between_cases", "_", "a", '_' - 'A'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, StringCaseCompare(c.lhs, c.rhs));
  }
}

TEST(StringExactCompareTest, NarrowZeroTerminatedSigns) {
  struct {
    const char* name;
    const char* lhs;
    const char* rhs;
    int sign;
  } const cases[] = {
      {"equal", "abc", "abc", 0},
      {"case_matters", "abc", "ABC", 1},
      {"prefix_sorts_first", "ab", "abc", -1},
      {"high_byte_above_ascii", "\xE9", "a", 1},  // unsigned, unlike the case form
      {"null_is_empty", nullptr, "", 0},
      {"null_below_text", nullptr, "a", -1},
      {"stops_at_zero", "ab\0x", "ab\0y", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.sign, Sign(StringExactCompare(c.lhs, c.rhs)));
  }
}

TEST(StringCompareTest, NarrowRangesCountZerosAndTails) {
  using std::string;
  const string zeroX("ab\0x", 4), zeroY("ab\0y", 4);
  struct {
    const char* name;
    string lhs, rhs;
    int exact, caseInsensitive;  // exact: sign only; case: exact value
  } const cases[] = {
      {"embedded_zero_then_difference", zeroX, zeroY, -1, 'X' - 'Y'},
      {"longer_by_one", "abc", "ab", 1, 1},
      {"shorter_by_three", "a", "abcd", -1, -3},
      {"both_empty", "", "", 0, 0},
      {"case_differs", "abc", "ABC", 1, 0},
      {"zero_against_end", string("a\0", 2), "a", 1, 1},
      {"high_byte_signs", "\xE9", "a", 1, -23 - 'A'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.exact, Sign(ExactRange(c.lhs, c.rhs)));
    EXPECT_EQ(c.caseInsensitive, CaseRange(c.lhs, c.rhs));
    // The same pair the other way round mirrors the order.
    EXPECT_EQ(-c.exact, Sign(ExactRange(c.rhs, c.lhs)));
    EXPECT_EQ(-Sign(c.caseInsensitive), Sign(CaseRange(c.rhs, c.lhs)));
  }
  // Zero-terminated forms stop at the embedded zero.
  EXPECT_EQ(0, StringExactCompare(zeroX.c_str(), zeroY.c_str()));
  EXPECT_EQ(0, StringCaseCompare(zeroX.c_str(), zeroY.c_str()));
}

TEST(StringCompareTest, WideValues) {
  using std::wstring;
  struct {
    const char* name;
    wstring lhs, rhs;
    int exactSign, caseRange;
  } const cases[] = {
      {"equal_ignoring_case", L"abc", L"ABC", 1, 0},
      {"first_difference", L"abc", L"abd", -1, -1},
      {"longer_by_one", L"abc", L"ab", 1, 1},
      {"shorter_by_three", L"a", L"abcd", -1, -3},
      {"embedded_zero", wstring(L"ab\0x", 4), wstring(L"ab\0y", 4), -1, -1},
      // Only a-z fold in the "C" locale: e-acute and E-acute stay different.
      {"latin1_not_folded", L"\u00E9", L"\u00C9", 1, 1},
      {"beyond_bmp", L"\U0001F600", L"\uFFFF", 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.exactSign, Sign(ExactRange(c.lhs, c.rhs)));
    EXPECT_EQ(c.caseRange, CaseRange(c.lhs, c.rhs));
  }
  EXPECT_EQ(0, StringCaseCompare(L"abc", L"ABC"));
  EXPECT_EQ(-1, StringCaseCompare(L"ab", L"ABC"));  // the ended text sorts first
  EXPECT_EQ(1, StringCaseCompare(L"abc", L"AB"));
  EXPECT_EQ(-1, StringCaseCompare(static_cast<const wchar_t*>(nullptr), L"a"));
  EXPECT_EQ(0, StringCaseCompare(static_cast<const wchar_t*>(nullptr), nullptr));
  EXPECT_EQ(0, StringExactCompare(static_cast<const wchar_t*>(nullptr), L""));
  EXPECT_EQ(1, Sign(StringExactCompare(L"a", static_cast<const wchar_t*>(nullptr))));
  EXPECT_EQ(0, StringExactCompare(L"ab\0x", L"ab\0y"));
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
    for (int which = 0; which < 2; ++which) {
      ::testing::internal::CaptureStderr();
      if (which == 0) {
        StringExactCompare(c.lhs, c.lhsEnd, c.rhs, c.rhsEnd);
      } else {
        StringCaseCompare(c.lhs, c.lhsEnd, c.rhs, c.rhsEnd);
      }
      const std::string err = ::testing::internal::GetCapturedStderr();
      EXPECT_NE(std::string::npos, err.find(c.report)) << err;
      EXPECT_NE(std::string::npos,
                err.find(which == 0 ? "osdep/StringExactCompare(" : "osdep/StringCaseCompare("))
          << err;
    }
  }
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
