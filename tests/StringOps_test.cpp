// The editing and searching operations of every string kind, above all at their
// bounds: positions at the length, one past it and npos, counts that run past the
// end, and the exception or failed-check report each of them gives.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "tests/support/StringText.h"

namespace vo {
namespace qel {
namespace {

using testing::Ascii;
using testing::Elements;
using testing::Make;
using testing::Terminated;

// What an operation is expected to throw; the string must then be unchanged.
enum Thrown {
  kNothing,
  kOffset,    // OutOfRange2 "String offset out of range" from StringBase
  kOverflow,  // OutOfRange from the checked integers (not the "2" variant)
  kTooLarge,  // BoundExceeded2 "Resulting string too large" from StringBase
};

template <typename S>
std::string Pos(typename S::size_type pos) {
  return pos == S::npos ? "npos" : std::to_string(pos);
}

template <typename S>
struct Case {
  const char* name;
  // Runs on the string "abcd" and returns what the operation answered: a position,
  // a count, a text, or "" for operations that answer with the string itself.
  std::function<std::string(S&)> op;
  std::string answer;
  std::string after;  // the text afterwards ("abcd" when something is thrown)
  Thrown thrown = kNothing;
  std::vector<std::string> reports = {};
};

template <typename S>
void ExpectThrown(Thrown expected, const std::function<void()>& run) {
  try {
    run();
    EXPECT_EQ(kNothing, expected) << "nothing was thrown";
  } catch (const exception::OutOfRange2& e) {
    EXPECT_EQ(kOffset, expected) << e.what();
    EXPECT_STREQ("Out of range: String offset out of range", e.what());
    EXPECT_STREQ("StringBase", e.getFileName());
  } catch (const exception::OutOfRange& e) {
    EXPECT_EQ(kOverflow, expected) << e.what();
  } catch (const exception::BoundExceeded2& e) {
    EXPECT_EQ(kTooLarge, expected) << e.what();
    EXPECT_STREQ("A request was made that would exceed the bounds: Resulting string too large",
                 e.what());
    EXPECT_STREQ("StringBase", e.getFileName());
  }
}

template <typename S>
void RunCases(const std::vector<Case<S>>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::Reports reports;
    S s = Make<S>("abcd");
    std::string answer;
    ExpectThrown<S>(c.thrown, [&] { answer = c.op(s); });
    if (c.thrown == kNothing) {
      EXPECT_EQ(c.answer, answer);
    }
    EXPECT_EQ(c.after, Ascii(s));
    EXPECT_EQ(c.reports, reports.take());
    // The invariants hold whatever happened (a violation would be reported above).
    EXPECT_LE(s.length(), s.capacity());
    EXPECT_EQ(0, s[s.length()]);
  }
}

template <typename S>
class StringOpsTest : public ::testing::Test {};

using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringOpsTest, Kinds);

TYPED_TEST(StringOpsTest, SearchBounds) {
  using S = TypeParam;
  using C = typename S::value_type;
  using P = typename S::size_type;
  const P npos = S::npos;
  const S empty;
  const S cd = Make<S>("cd");
  const S longer = Make<S>("abcde");
  const S set = Make<S>("db");
  const S embedded = Make<S>(std::string("a\0b\0", 4));
  const S zero = Make<S>(std::string(1, '\0'));
  RunCases<S>({
      {"find_ch_first", [](S& s) { return Pos<S>(s.find(C('a'))); }, "0", "abcd"},
      {"find_ch_last_element", [](S& s) { return Pos<S>(s.find(C('d'), 3)); }, "3", "abcd"},
      {"find_ch_past_match", [](S& s) { return Pos<S>(s.find(C('a'), 1)); }, "npos", "abcd"},
      {"find_ch_at_length", [](S& s) { return Pos<S>(s.find(C('d'), 4)); }, "npos", "abcd"},
      {"find_ch_one_past", [](S& s) { return Pos<S>(s.find(C('d'), 5)); }, "npos", "abcd"},
      {"find_ch_npos", [=](S& s) { return Pos<S>(s.find(C('d'), npos)); }, "npos", "abcd"},
      {"find_terminator_not_found", [](S& s) { return Pos<S>(s.find(C(0))); }, "npos", "abcd"},
      {"find_embedded_null", [=](S&) { return Pos<S>(embedded.find(C(0), 2)); }, "3", "abcd"},
      {"find_in_empty", [=](S&) { return Pos<S>(empty.find(C(0))); }, "npos", "abcd"},

      {"find_str", [=](S& s) { return Pos<S>(s.find(cd)); }, "2", "abcd"},
      {"find_str_from_its_start", [=](S& s) { return Pos<S>(s.find(cd, 2)); }, "2", "abcd"},
      {"find_str_cut_by_end", [=](S& s) { return Pos<S>(s.find(cd, 3)); }, "npos", "abcd"},
      {"find_str_longer_than_text", [=](S& s) { return Pos<S>(s.find(longer)); }, "npos", "abcd"},
      {"find_str_whole_text", [](S& s) { return Pos<S>(s.find(s)); }, "0", "abcd"},
      {"find_empty_from_0", [=](S& s) { return Pos<S>(s.find(empty)); }, "0", "abcd"},
      {"find_empty_inside", [=](S& s) { return Pos<S>(s.find(empty, 3)); }, "3", "abcd"},
      {"find_empty_at_length", [=](S& s) { return Pos<S>(s.find(empty, 4)); }, "npos", "abcd"},
      {"find_empty_npos", [=](S& s) { return Pos<S>(s.find(empty, npos)); }, "npos", "abcd"},
      {"find_empty_in_empty", [=](S&) { return Pos<S>(empty.find(empty)); }, "npos", "abcd"},
      {"find_str_with_null", [=](S&) { return Pos<S>(embedded.find(Make<S>(std::string("\0b", 2)))); },
       "1", "abcd"},
      {"find_str_first_element_repeats",
       [](S&) { return Pos<S>(Make<S>("aaab").find(Make<S>("aab"))); }, "1", "abcd"},

      {"rfind_ch_npos_from_last", [=](S& s) { return Pos<S>(s.rfind(C('d'), npos)); }, "3",
       "abcd"},
      {"rfind_ch_at_0", [](S& s) { return Pos<S>(s.rfind(C('a'), 0)); }, "0", "abcd"},
      {"rfind_ch_before_match", [](S& s) { return Pos<S>(s.rfind(C('b'), 0)); }, "npos", "abcd"},
      {"rfind_ch_past_end_clamped", [](S& s) { return Pos<S>(s.rfind(C('d'), 9)); }, "3", "abcd"},
      {"rfind_ch_in_empty", [=](S&) { return Pos<S>(empty.rfind(C(0))); }, "npos", "abcd"},
      {"rfind_ch_terminator", [](S& s) { return Pos<S>(s.rfind(C(0))); }, "npos", "abcd"},

      {"rfind_str", [=](S& s) { return Pos<S>(s.rfind(cd)); }, "2", "abcd"},
      {"rfind_str_before_start", [=](S& s) { return Pos<S>(s.rfind(cd, 1)); }, "npos", "abcd"},
      {"rfind_str_start_clamped", [=](S& s) { return Pos<S>(s.rfind(cd, 3)); }, "2", "abcd"},
      {"rfind_str_longer", [=](S& s) { return Pos<S>(s.rfind(longer, npos)); }, "npos", "abcd"},
      {"rfind_empty_npos", [=](S& s) { return Pos<S>(s.rfind(empty)); }, "4", "abcd"},
      {"rfind_empty_inside", [=](S& s) { return Pos<S>(s.rfind(empty, 2)); }, "2", "abcd"},
      {"rfind_empty_in_empty", [=](S&) { return Pos<S>(empty.rfind(empty)); }, "0", "abcd"},
      {"rfind_str_at_0", [](S& s) { return Pos<S>(s.rfind(Make<S>("ab"), 0)); }, "0", "abcd"},

      {"first_of", [=](S& s) { return Pos<S>(s.find_first_of(set)); }, "1", "abcd"},
      {"first_of_from_last", [=](S& s) { return Pos<S>(s.find_first_of(set, 3)); }, "3", "abcd"},
      {"first_of_at_length", [=](S& s) { return Pos<S>(s.find_first_of(set, 4)); }, "npos",
       "abcd"},
      {"first_of_npos", [=](S& s) { return Pos<S>(s.find_first_of(set, npos)); }, "npos", "abcd"},
      {"first_of_empty_set", [=](S& s) { return Pos<S>(s.find_first_of(empty)); }, "npos",
       "abcd"},
      {"first_of_null_in_set", [=](S&) { return Pos<S>(embedded.find_first_of(zero)); }, "1",
       "abcd"},
      {"first_not_of", [=](S& s) { return Pos<S>(s.find_first_not_of(set, 1)); }, "2", "abcd"},
      {"first_not_of_empty_set", [=](S& s) { return Pos<S>(s.find_first_not_of(empty, 3)); },
       "3", "abcd"},
      {"first_not_of_at_length", [=](S& s) { return Pos<S>(s.find_first_not_of(set, 4)); },
       "npos", "abcd"},
      {"first_not_of_all", [](S& s) { return Pos<S>(s.find_first_not_of(s)); }, "npos", "abcd"},

      {"last_of", [=](S& s) { return Pos<S>(s.find_last_of(set)); }, "3", "abcd"},
      {"last_of_at_0_only", [=](S& s) { return Pos<S>(s.find_last_of(set, 0)); }, "npos",
       "abcd"},
      {"last_of_at_0_match", [](S& s) { return Pos<S>(s.find_last_of(Make<S>("a"), 0)); }, "0",
       "abcd"},
      {"last_of_clamped", [=](S& s) { return Pos<S>(s.find_last_of(set, 77)); }, "3", "abcd"},
      {"last_of_in_empty", [=](S&) { return Pos<S>(empty.find_last_of(set)); }, "npos", "abcd"},
      {"last_of_empty_set", [=](S& s) { return Pos<S>(s.find_last_of(empty)); }, "npos", "abcd"},
      {"last_not_of", [=](S& s) { return Pos<S>(s.find_last_not_of(set)); }, "2", "abcd"},
      {"last_not_of_at_0", [=](S& s) { return Pos<S>(s.find_last_not_of(set, 0)); }, "0",
       "abcd"},
      {"last_not_of_all", [](S& s) { return Pos<S>(s.find_last_not_of(s)); }, "npos", "abcd"},
      {"last_not_of_empty_set", [=](S& s) { return Pos<S>(s.find_last_not_of(empty)); }, "3",
       "abcd"},
      {"last_of_ch", [](S& s) { return Pos<S>(s.find_last_of(C('b'))); }, "1", "abcd"},
      {"last_of_ch_at_0", [](S& s) { return Pos<S>(s.find_last_of(C('b'), 0)); }, "npos",
       "abcd"},
      {"last_not_of_ch", [](S& s) { return Pos<S>(s.find_last_not_of(C('d'))); }, "2", "abcd"},
      {"last_not_of_ch_in_empty", [=](S&) { return Pos<S>(empty.find_last_not_of(C('d'))); },
       "npos", "abcd"},
      {"last_not_of_ch_only_that",
       [](S&) { return Pos<S>(Make<S>("xxx").find_last_not_of(C('x'))); }, "npos", "abcd"},
  });
}

TYPED_TEST(StringOpsTest, EditingBounds) {
  using S = TypeParam;
  using C = typename S::value_type;
  using P = typename S::size_type;
  const P npos = S::npos;
  const S xyz = Make<S>("XYZ");
  const auto xy = Terminated<S>("xy");
  RunCases<S>({
      {"append_from_pos", [=](S& s) { s.append(xyz, 1, npos); return ""; }, "", "abcdYZ"},
      {"append_count_past_end", [=](S& s) { s.append(xyz, 1, 9); return ""; }, "", "abcdYZ"},
      {"append_count_inside", [=](S& s) { s.append(xyz, 0, 2); return ""; }, "", "abcdXY"},
      {"append_pos_at_size", [=](S& s) { s.append(xyz, 3, 2); return ""; }, "", "abcd"},
      {"append_pos_one_past", [=](S& s) { s.append(xyz, 4, 0); return ""; }, "", "abcd", kOffset},
      {"append_pos_npos", [=](S& s) { s.append(xyz, npos, npos); return ""; }, "", "abcd",
       kOffset},
      {"append_self_tail", [](S& s) { s.append(s, 2, S::npos); return ""; }, "", "abcdcd"},
      {"append_self_whole", [](S& s) { s += s; return ""; }, "", "abcdabcd"},
      {"append_zero_terminated", [=](S& s) { s.append(xy.data()); return ""; }, "", "abcdxy"},
      {"append_null", [](S& s) { s.append(static_cast<const C*>(nullptr)); return ""; }, "",
       "abcd"},
      {"append_fill", [](S& s) { s.append(3, C('z')); return ""; }, "", "abcdzzz"},
      {"append_fill_none", [](S& s) { s.append(0, C('z')); return ""; }, "", "abcd"},
      {"plus_char", [](S& s) { return Ascii(s + C('!')); }, "abcd!", "abcd"},
      {"plus_text", [=](S& s) { return Ascii(s + xy.data()); }, "abcdxy", "abcd"},
      {"plus_string", [=](S& s) { return Ascii(s + xyz); }, "abcdXYZ", "abcd"},

      {"copy_past_end", [](S& s) {
         C dest[8] = {C('-'), C('-'), C('-'), C('-')};
         const P n = s.copy(dest, 10, 2);
         return std::to_string(n) + ":" + Ascii(S(dest, P(4)));
       }, "2:cd--", "abcd"},
      {"copy_at_size", [](S& s) {
         C dest[1] = {C('-')};
         return std::to_string(s.copy(dest, 3, 4)) + ":" + Ascii(S(dest, P(1)));
       }, "0:-", "abcd"},
      {"copy_one_past", [](S& s) { C dest[4]; return std::to_string(s.copy(dest, 1, 5)); }, "",
       "abcd", kOffset},
      {"copy_npos", [=](S& s) { C dest[4]; return std::to_string(s.copy(dest, 1, npos)); }, "",
       "abcd", kOffset},

      {"substr_to_end", [=](S& s) { return Ascii(s.substr(2, npos)); }, "cd", "abcd"},
      {"substr_count_past_end", [](S& s) { return Ascii(s.substr(2, 10)); }, "cd", "abcd"},
      {"substr_inside", [](S& s) { return Ascii(s.substr(1, 2)); }, "bc", "abcd"},
      {"substr_at_length", [=](S& s) { return Ascii(s.substr(4, npos)); }, "", "abcd"},
      {"substr_sum_at_limit", [](S& s) { return Ascii(s.substr(1, 0xFFFFFFFE)); }, "bcd", "abcd"},
      {"substr_sum_overflows", [](S& s) { return Ascii(s.substr(2, 0xFFFFFFFE)); }, "", "abcd",
       kOverflow},
      {"substr_one_past", [](S& s) { return Ascii(s.substr(5, 1)); }, "", "abcd", kNothing,
       {"index <= length()"}},
      {"substr_npos", [=](S& s) { return Ascii(s.substr(npos, 1)); }, "", "abcd", kNothing,
       {"index <= length()"}},

      {"erase_at_size", [](S& s) { s.erase(4, 5); return ""; }, "", "abcd"},
      {"erase_count_past_end", [](S& s) { s.erase(1, 10); return ""; }, "", "a"},
      {"erase_npos_count", [=](S& s) { s.erase(1, npos); return ""; }, "", "a"},
      {"erase_middle", [](S& s) { s.erase(1, 2); return ""; }, "", "ad"},
      {"erase_nothing", [](S& s) { s.erase(2, 0); return ""; }, "", "abcd"},
      {"erase_all_default", [](S& s) { s.erase(); return ""; }, "", ""},
      {"erase_one_past", [](S& s) { s.erase(5, 0); return ""; }, "", "abcd", kOffset},
      {"erase_npos", [=](S& s) { s.erase(npos, 1); return ""; }, "", "abcd", kOffset},
      {"erase_range", [](S& s) {
         C* next = s.erase(s.begin() + 1, s.begin() + 3);
         return std::to_string(next - s.begin()) + ":" + std::string(1, char(*next));
       }, "1:d", "ad"},
      {"erase_range_to_end", [](S& s) {
         C* next = s.erase(s.begin() + 2, s.end());
         return std::to_string(next - s.begin()) + (next == s.end() ? ":end" : ":?");
       }, "2:end", "ab"},

      {"resize_shorter", [](S& s) { s.resize(1, C('x')); return ""; }, "", "a"},
      {"resize_same", [](S& s) { s.resize(4, C('x')); return ""; }, "", "abcd"},
      {"resize_longer", [](S& s) { s.resize(7, C('x')); return ""; }, "", "abcdxxx"},
      {"resize_zero", [](S& s) { s.resize(0, C('x')); return ""; }, "", ""},
      {"clear", [](S& s) { s.clear(); return ""; }, "", ""},

      {"replace_middle", [=](S& s) { s.replace(1, 2, xyz, 0, npos); return ""; }, "", "aXYZd"},
      {"replace_shorter", [=](S& s) { s.replace(0, 3, xyz, 2, 1); return ""; }, "", "Zd"},
      {"replace_same_length", [=](S& s) { s.replace(1, 2, xyz, 1, 2); return ""; }, "", "aYZd"},
      {"replace_count_past_end", [=](S& s) { s.replace(2, 99, xyz); return ""; }, "", "abXYZ"},
      {"replace_sublen_past_end", [=](S& s) { s.replace(0, 0, xyz, 1, 99); return ""; }, "",
       "YZabcd"},
      {"replace_all_by_empty", [=](S& s) { s.replace(0, npos, S()); return ""; }, "", ""},
      {"replace_at_size_appends", [=](S& s) { s.replace(4, 3, xyz); return ""; }, "", "abcdXYZ"},
      {"replace_subpos_at_size", [=](S& s) { s.replace(1, 1, xyz, 3, 5); return ""; }, "", "acd"},
      {"replace_pos_one_past", [=](S& s) { s.replace(5, 0, xyz); return ""; }, "", "abcd",
       kOffset},
      {"replace_pos_npos", [=](S& s) { s.replace(npos, 0, xyz); return ""; }, "", "abcd",
       kOffset},
      {"replace_subpos_one_past", [=](S& s) { s.replace(0, 1, xyz, 4, 1); return ""; }, "",
       "abcd", kOffset},
      {"replace_subpos_npos", [=](S& s) { s.replace(0, 1, xyz, npos, 1); return ""; }, "", "abcd",
       kOffset},
      {"replace_by_own_tail", [](S& s) { s.replace(0, 1, s, 1, S::npos); return ""; }, "",
       "bcdbcd"},
      {"replace_by_own_head_shrinking", [](S& s) { s.replace(1, 3, s, 0, 1); return ""; }, "",
       "aa"},
      {"replace_by_itself", [](S& s) { s.replace(2, 1, s); return ""; }, "", "ababcdd"},

      {"index_at_length", [](S& s) { return std::to_string(int(s[4])); }, "0", "abcd"},
      {"index_one_past", [](S& s) { return std::to_string(int(s[5])); }, "0", "abcd", kNothing,
       {"(begin_+index <= end_) && (begin_+index >= begin_)"}},
  });
}

int Sign(int order) { return (order > 0) - (order < 0); }

// compare(), exactCompare() and the operators, by sign, on ASCII texts that mean the
// same in every kind.
TYPED_TEST(StringOpsTest, ComparisonBounds) {
  using S = TypeParam;
  using C = typename S::value_type;
  struct {
    const char* name;
    std::string left, right;
    int caseless, exact;  // signs of compare() and exactCompare()
  } const pairs[] = {
      {"case_differs", "Hello", "hELLO", 0, -1},
      {"equal", "abc", "abc", 0, 0},
      {"empty_both", "", "", 0, 0},
      {"empty_left", "", "a", -1, -1},
      {"last_differs", "abc", "abd", -1, -1},
      {"last_differs_other_case", "abC", "abd", -1, -1},
      {"proper_prefix", "ab", "abc", -1, -1},
      {"longer", "abcd", "ABC", 1, 1},
      {"embedded_null_counts", std::string("a\0b", 3), std::string("a\0c", 3), -1, -1},
      {"embedded_null_then_longer", std::string("a\0", 2), "a", 1, 1},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.name);
    const S l = Make<S>(p.left);
    const S r = Make<S>(p.right);
    const auto rz = Terminated<S>(p.right);
    EXPECT_EQ(p.caseless, Sign(l.compare(r)));
    EXPECT_EQ(-p.caseless, Sign(r.compare(l)));
    EXPECT_EQ(p.exact, Sign(l.exactCompare(r)));
    EXPECT_EQ(-p.exact, Sign(r.exactCompare(l)));
    EXPECT_EQ(p.caseless == 0, l == r);
    EXPECT_EQ(p.caseless != 0, l != r);
    EXPECT_EQ(p.caseless < 0, l < r);
    EXPECT_EQ(p.caseless > 0, l > r);
    // The pointer forms stop at the first 0 element of either text.
    const std::string lz = p.left.substr(0, p.left.find('\0'));
    const std::string rzText = p.right.substr(0, p.right.find('\0'));
    const int zeroTerminated = Sign(Make<S>(lz).compare(Make<S>(rzText)));
    EXPECT_EQ(zeroTerminated, Sign(l.compare(rz.data())));
    EXPECT_EQ(zeroTerminated == 0, l == rz.data());
    EXPECT_EQ(zeroTerminated < 0, l < rz.data());
    EXPECT_EQ(zeroTerminated > 0, l > rz.data());
    EXPECT_EQ(Sign(Make<S>(lz).exactCompare(Make<S>(rzText))), Sign(l.exactCompare(rz.data())));
  }
  const S empty;
  EXPECT_EQ(0, empty.compare(static_cast<const C*>(nullptr))) << "null is the empty text";
  EXPECT_EQ(0, empty.exactCompare(static_cast<const C*>(nullptr)));

  const auto bcd = Terminated<S>("BCD");
  const C* text = bcd.data();
  const typename S::size_type npos = S::npos;
  RunCases<S>({
      {"part_equals", [=](S& s) { return std::to_string(Sign(s.compare(1, 3, text))); }, "0",
       "abcd"},
      {"part_count_past_end", [=](S& s) { return std::to_string(Sign(s.compare(1, 99, text, npos))); },
       "0", "abcd"},
      {"part_counted_text", [=](S& s) { return std::to_string(Sign(s.compare(1, 2, text, 2))); },
       "0", "abcd"},
      {"part_shorter", [=](S& s) { return std::to_string(Sign(s.compare(1, 2, text))); }, "-1",
       "abcd"},
      {"part_at_size_is_empty", [=](S& s) { return std::to_string(Sign(s.compare(4, 1, text, 0))); },
       "0", "abcd"},
      {"part_one_past", [=](S& s) { return std::to_string(s.compare(5, 1, text)); }, "", "abcd",
       kOffset},
      {"part_npos", [=](S& s) { return std::to_string(s.compare(npos, 1, text)); }, "", "abcd",
       kOffset},
  });
}

// How each kind orders bytes and elements outside ASCII: the narrow kinds by the
// signed byte (without case), String by element, Utf8String by code point, and only
// a to z fold.
TEST(StringCompareTest, ElementsOutsideAscii) {
  const ANSIString e9("\xE9");
  EXPECT_LT(e9.compare("a"), 0) << "0xE9 counts as -23 without case";
  EXPECT_GT(e9.exactCompare("a"), 0) << "and as 233 with it";
  EXPECT_LT(ASCIIString("\xE9").compare("a"), 0);
  EXPECT_GT(String(L"\u00E9", 1u).compare(String(L"a", 1u)), 0);
  EXPECT_NE(0, String(L"\u00E9", 1u).compare(String(L"\u00C9", 1u)));

  const unsigned char eAcute[] = {0xC3, 0xA9, 0};
  const unsigned char eAcuteUpper[] = {0xC3, 0x89, 0};
  const unsigned char a[] = {'a', 0};
  EXPECT_GT(Utf8String(eAcute).compare(Utf8String(a)), 0);
  EXPECT_NE(0, Utf8String(eAcute).compare(Utf8String(eAcuteUpper)));
  EXPECT_NE(0, Utf8String(eAcute).compare(eAcuteUpper));
}

// Utf8String texts with bytes that are not UTF-8 still compare, in one total order:
// characters first as usual, then a bad byte after every character, bad bytes by
// value, and a text that ends first before a longer one.
TEST(StringCompareTest, Utf8BadBytesGiveATotalOrder) {
  struct Text {
    const char* name;
    std::string bytes;
  };
  const Text texts[] = {
      {"empty", ""},
      {"a", "a"},
      {"A", "A"},
      {"ab", "ab"},
      {"a_FF", "a\xFF"},
      {"a_FE", "a\xFE"},
      {"A_FF", "A\xFF"},
      {"a_C3_cut", "a\xC3"},
      {"a_e_acute", "a\xC3\xA9"},
      {"a_overlong_slash", "a\xC0\xAF"},
      {"a_lone_continuation", "a\x80"},
      {"a_E0_overlong", "a\xE0\x80\x80"},
      {"a_F0_cut_twice", "a\xF0\x90\x80"},
      {"max_code_point", "\xFD\xBF\xBF\xBF\xBF\xBF"},
      {"b_after_bad", "b\xFF"},
      {"FF", "\xFF"},
      {"FF_a", "\xFF" "a"},
      {"nul_FF", std::string("\0\xFF", 2)},
      {"e_acute_bad_tail", "\xC3\xA9\xC3"},
  };
  struct Expected {
    const char* left;
    const char* right;
    int caseless, exact;
  } const expected[] = {
      {"a_FF", "a_FE", 1, 1},           // bad bytes by value
      {"a_FF", "ab", 1, 1},             // a bad byte after every character
      {"a_C3_cut", "a_e_acute", 1, 1},  // the cut lead byte is bad, é a character
      {"a_lone_continuation", "a_C3_cut", -1, -1},
      {"a_FF", "A_FF", 0, 1},           // case still folds before a bad byte
      {"b_after_bad", "a_FF", 1, 1},    // decided before the bad bytes
      {"FF", "FF_a", -1, -1},           // a prefix sorts first
      {"FF", "max_code_point", 1, 1},
      {"a_overlong_slash", "a_FF", -1, -1},
      {"empty", "FF", -1, -1},
  };
  auto find = [&](const char* name) -> const Text& {
    for (const auto& t : texts) {
      if (std::string(t.name) == name) return t;
    }
    ADD_FAILURE() << name;
    return texts[0];
  };
  auto make = [](const std::string& bytes) {
    return Utf8String(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<Utf8String::size_type>(bytes.size()));
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(std::string(e.left) + " vs " + e.right);
    const Utf8String l = make(find(e.left).bytes);
    const Utf8String r = make(find(e.right).bytes);
    EXPECT_EQ(e.caseless, Sign(l.compare(r)));
    EXPECT_EQ(-e.caseless, Sign(r.compare(l)));
    EXPECT_EQ(e.exact, Sign(l.exactCompare(r)));
    EXPECT_EQ(e.caseless, Sign(l.compare(r.c_str())));
  }

  // Every pair is ordered one way, every triple consistently, with and without case.
  std::vector<Utf8String> all;
  for (const auto& t : texts) all.push_back(make(t.bytes));
  for (const bool exact : {false, true}) {
    auto order = [exact](const Utf8String& x, const Utf8String& y) {
      return Sign(exact ? x.exactCompare(y) : x.compare(y));
    };
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(0, order(all[i], all[i])) << texts[i].name;
      for (size_t j = 0; j < all.size(); ++j) {
        EXPECT_EQ(order(all[i], all[j]), -order(all[j], all[i]))
            << texts[i].name << " " << texts[j].name;
        for (size_t k = 0; k < all.size(); ++k) {
          if (order(all[i], all[j]) <= 0 && order(all[j], all[k]) <= 0) {
            EXPECT_LE(order(all[i], all[k]), 0)
                << texts[i].name << " " << texts[j].name << " " << texts[k].name;
          }
        }
      }
    }
  }
}

// The appends check the invariants on entry and exit in one combined test when the
// buffer has room; a broken invariant must still be reported, once, whether or not
// there is room, and the append then goes on.
TYPED_TEST(StringOpsTest, AppendReportsABrokenTerminator) {
  using S = TypeParam;
  using C = typename S::value_type;
  const S tail = Make<S>("cd");
  const C cd[] = {C('c'), C('d'), C(0)};
  struct {
    const char* name;
    std::function<void(S&)> op;
    std::string after;
  } const cases[] = {
      {"char", [](S& s) { s += C('c'); }, "abc"},
      {"fill", [](S& s) { s.append(2, C('c')); }, "abcc"},
      {"counted", [&](S& s) { s.append(cd, 2); }, "abcd"},
      {"zero_terminated", [&](S& s) { s.append(cd); }, "abcd"},
      {"string", [&](S& s) { s += tail; }, "abcd"},
      {"string_from_pos", [&](S& s) { s.append(tail, 1, S::npos); }, "abd"},
  };
  for (const bool room : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (room ? " with room" : " growing"));
      testing::Reports reports;
      S s = Make<S>("ab");
      if (room) s.reserve(10);
      const C* raw = s.c_str();
      const_cast<C*>(raw)[2] = C('x');  // the terminator, overwritten behind its back
      c.op(s);
      EXPECT_EQ(std::vector<std::string>{"*end_ == 0"}, reports.take());
      EXPECT_EQ(c.after, Ascii(s));
      EXPECT_EQ(std::vector<std::string>{}, reports.take());
    }
  }
}

// How the operations that take a BufferStrategy size the buffer afterwards. The
// string holds `text` in a buffer of `capacity`.
TYPED_TEST(StringOpsTest, BufferAfterRemovingAndResizing) {
  using S = TypeParam;
  using C = typename S::value_type;
  enum Op { kErase, kEraseKeep, kClear, kClearKeep, kResize, kResizeKeep, kReplace };
  struct {
    const char* name;
    std::string text;
    unsigned capacity;
    Op op;
    unsigned arg;
    unsigned expectedCapacity;
  } const cases[] = {
      {"clear_gives_all_back", "abcd", 40, kClear, 0, 0},
      {"clear_keep", "abcd", 40, kClearKeep, 0, 40},
      {"clear_empty_buffer_stays", "", 0, kClear, 0, 0},
      {"erase_to_below_half_shrinks", "abcdefghij", 10, kErase, 4, 4},
      {"erase_to_half_keeps", "abcdefghij", 10, kErase, 5, 10},
      {"erase_keep", "abcdefghij", 10, kEraseKeep, 1, 10},
      {"resize_down_shrinks", "abcdefghij", 12, kResize, 2, 2},
      {"resize_down_keep", "abcdefghij", 12, kResizeKeep, 2, 12},
      {"resize_up_doubles", "abcd", 4, kResize, 6, 12},
      {"resize_up_within_room", "abcd", 8, kResizeKeep, 8, 8},
      // replace grows exactly, and shrinks under the same rule as erase.
      {"replace_growing_is_exact", "abcd", 4, kReplace, 7, 7},
      {"replace_shrinking", "abcdefghij", 10, kReplace, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s;
    s.reserve(c.capacity);
    s.append(Elements<S>(c.text).data(), static_cast<unsigned>(c.text.size()));
    ASSERT_EQ(c.capacity, s.capacity());
    std::string expected;
    switch (c.op) {
      case kErase: s.erase(c.arg, S::npos); expected = c.text.substr(0, c.arg); break;
      case kEraseKeep: s.erase(c.arg, S::npos, S::KeepCapacity); expected = c.text.substr(0, c.arg); break;
      case kClear: s.clear(); break;
      case kClearKeep: s.clear(S::KeepCapacity); break;
      case kResize:
      case kResizeKeep:
        s.resize(c.arg, C('+'), c.op == kResize ? S::ReleaseUnused : S::KeepCapacity);
        expected = c.text.substr(0, c.arg);
        expected.resize(c.arg, '+');
        break;
      case kReplace:
        s.replace(0, S::npos, Make<S>(std::string(c.arg, 'r')));
        expected = std::string(c.arg, 'r');
        break;
    }
    EXPECT_EQ(expected, Ascii(s));
    EXPECT_EQ(c.expectedCapacity, s.capacity());
  }
}

// Failures of the allocator once elements have moved must still leave a valid
// string; failures before that leave it unchanged.
TYPED_TEST(StringOpsTest, AllocationFailureLeavesAValidString) {
  using S = TypeParam;
  struct AllocationOff {
    AllocationOff() { MakeDLLMallocThrow(true); }
    ~AllocationOff() { MakeDLLMallocThrow(false); }
  };
  struct {
    const char* name;
    std::function<void(S&, const S&)> op;  // the second argument is "xy"
    bool throws;
    std::string after;
  } const cases[] = {
      {"erase_shrinking", [](S& s, const S&) { s.erase(1, S::npos); }, true, "a"},
      {"erase_keeping", [](S& s, const S&) { s.erase(1, S::npos, S::KeepCapacity); }, false, "a"},
      {"clear", [](S& s, const S&) { s.clear(); }, true, ""},
      {"replace_same_length", [](S& s, const S& xy) { s.replace(0, 2, xy); }, false,
       "xycdefghij"},
      {"replace_shrinking_keeping", [](S& s, const S& xy) { s.replace(0, 4, xy); }, false,
       "xyefghij"},
      // The result is in place before the buffer would be cut.
      {"replace_shrinking_below_half", [](S& s, const S& xy) { s.replace(1, 8, xy); }, true,
       "axyj"},
      {"replace_growing", [](S& s, const S& xy) { s.replace(0, 0, xy); }, true, "abcdefghij"},
      {"resize_growing", [](S& s, const S&) { s.resize(11, 'x'); }, true, "abcdefghij"},
      {"append_growing", [](S& s, const S& xy) { s.append(xy); }, true, "abcdefghij"},
      {"substr", [](S& s, const S&) { s.substr(1, 2); }, true, "abcdefghij"},
      {"find_last_of_ch_builds_no_set", [](S& s, const S&) { s.find_last_of('d'); }, false,
       "abcdefghij"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s = Make<S>("abcdefghij");
    const S xy = Make<S>("xy");
    {
      AllocationOff off;
      if (c.throws) {
        EXPECT_THROW(c.op(s, xy), std::bad_alloc);
      } else {
        EXPECT_NO_THROW(c.op(s, xy));
      }
    }
    EXPECT_EQ(c.after, Ascii(s));
    EXPECT_LE(s.length(), s.capacity());
    EXPECT_EQ(0, s[s.length()]);
  }
}

}  // namespace
}  // namespace qel
}  // namespace vo

#if defined(__SANITIZE_THREAD__)
#define STRINGOPS_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STRINGOPS_TEST_TSAN 1
#endif
#endif

namespace vo {
namespace qel {
namespace {

// Texts at the 32-bit limits, without the memory: blocks of 256 MiB or more handed
// to the strings are address ranges in which one 1 MiB chunk of shared memory
// repeats, so a buffer of 4 GiB costs 1 MiB (its text is then not what was written,
// which these tests do not look at), and the source text is read from pages that
// all map the zero page. The C library cannot free such blocks, so the cases run in
// a child process that ends without destroying them.
class MirroredBlocks {
 public:
  static void* Allocate(size_t size) {
    if (size < kLarge) return std::malloc(size);
    void* block = Mirror(MakeChunk(), size);
    if (block != nullptr) blocks_[count_++] = block;
    return block;
  }

  // Growing a huge text is not expected of any case.
  static void* Reallocate(void* p, size_t size) {
    for (size_t i = 0; i < count_; ++i) {
      if (blocks_[i] == p) {
        std::fprintf(stderr, "a huge text was reallocated\n");
        std::_Exit(3);
      }
    }
    return size < kLarge ? std::realloc(p, size) : nullptr;
  }

  // `bytes` of zeros that occupy 1 MiB: a chunk of its own, repeated.
  static const void* Zeros(size_t bytes) { return Mirror(MakeChunk(), bytes); }

 private:
  static constexpr size_t kChunk = size_t(1) << 20;
  static constexpr size_t kLarge = size_t(256) << 20;
  static int MakeChunk() {
    const int fd = ::memfd_create("mirror", 0);
    if (fd < 0 || ::ftruncate(fd, kChunk) != 0) std::_Exit(4);
    return fd;
  }
  // Page tables filled at once, so that walking the block takes no page faults.
  static void* Mirror(int fd, size_t size) {
    const size_t total = (size + kChunk - 1) / kChunk * kChunk;
    char* base = static_cast<char*>(
        ::mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    if (base == MAP_FAILED) return nullptr;
    for (size_t offset = 0; offset < total; offset += kChunk) {
      if (::mmap(base + offset, kChunk, PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
        return nullptr;
      }
    }
    return base;
  }
  static void* blocks_[8];
  static size_t count_;
};
void* MirroredBlocks::blocks_[8];
size_t MirroredBlocks::count_ = 0;

// The longest text (0xFFFFFFFE elements), and what may no longer be added to it.
// The kinds share this code; only those of 1-byte elements can reach the limit
// (String stops at 0x3FFFFFFE, where its buffer's byte count would overflow, see the
// storage tests), and of those one is checked, since each such text costs a few
// seconds to write. Then the comparisons of texts whose lengths differ by more than
// an int holds, which must neither throw nor lose the sign. Ends the process with 0
// when every expectation held.
template <typename S>
[[noreturn]] void CheckLongestText() {
  using C = typename S::value_type;
  detail::ReplaceAllocFunctions({&MirroredBlocks::Allocate, &MirroredBlocks::Reallocate});
  const typename S::size_type longest = 0xFFFFFFFE;
  const C* zeros = static_cast<const C*>(MirroredBlocks::Zeros(size_t(longest) * sizeof(C)));
  S huge(zeros, longest);
  const S one = Make<S>("y");
  const S two = Make<S>("yz");
  S small = Make<S>("ab");
  struct {
    const char* name;
    std::function<void()> op;
    Thrown thrown;
  } const cases[] = {
      {"append_one", [&] { huge.append(1, C('x')); }, kOverflow},
      {"append_two", [&] { huge.append(two); }, kOverflow},
      {"append_huge_to_small", [&] { small.append(huge, 0, S::npos); }, kOverflow},
      // Replacing one element by two would make 0xFFFFFFFF elements.
      {"replace_growing", [&] { huge.replace(0, 1, two); }, kTooLarge},
      {"replace_at_end", [&] { huge.replace(longest, 0, one); }, kTooLarge},
      {"replace_into_small", [&] { small.replace(1, 0, huge); }, kTooLarge},
      {"replace_same_length", [&] { huge.replace(0, 1, one); }, kNothing},
      {"replace_counted_to_fit", [&] { huge.replace(0, 2, two, 0, 2); }, kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectThrown<S>(c.thrown, c.op);
    EXPECT_EQ(longest, huge.length());
    EXPECT_EQ(longest, huge.capacity());
    EXPECT_EQ(2u, small.length());
  }

  const S empty;
  EXPECT_GT(huge.compare(empty), 0);
  EXPECT_LT(empty.compare(huge), 0);
  EXPECT_GT(huge.exactCompare(empty), 0);
  EXPECT_TRUE(empty < huge);
  const ANSIString narrow(static_cast<const char*>(MirroredBlocks::Zeros(0x80000001u)),
                          0x80000001u);
  EXPECT_GT(narrow.compare(ANSIString()), 0);
  EXPECT_LT(ANSIString().exactCompare(narrow), 0);
  std::fflush(stdout);
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(StringLimitTest, LongestTextRefusesToGrow) {
#if STRINGOPS_TEST_TSAN
  GTEST_SKIP() << "ThreadSanitizer keeps shadow memory for every byte written, which the "
                  "4 GiB texts of this test would make real";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckLongestText<Utf8String>(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qel
}  // namespace vo
