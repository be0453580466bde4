// Exact and case-insensitive comparison of narrow, wide and UTF-8 text, ranged and
// zero-terminated, in the "C" locale of the C character functions (the process
// never changes it here).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "qel/WideToUtf8.h"
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

struct Plain {  // narrow and wide
  template <class S>
  static int Exact(const S& l, const S& r) {
    return StringExactCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
  }
  template <class S>
  static int Caseless(const S& l, const S& r) {
    return StringCaseCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
  }
  template <class C>
  static int ExactZero(const C* l, const C* r) {
    return StringExactCompare(l, r);
  }
  template <class C>
  static int CaselessZero(const C* l, const C* r) {
    return StringCaseCompare(l, r);
  }
};

struct Utf8 {  // the bytes are UTF-8 text
  static int Exact(const string& l, const string& r) {
    return Utf8StringExactCompare(U(l.data()), U(l.data()) + l.size(), U(r.data()),
                                  U(r.data()) + r.size());
  }
  static int Caseless(const string& l, const string& r) {
    return Utf8StringCaseInsensitiveCompare(U(l.data()), U(l.data()) + l.size(), U(r.data()),
                                            U(r.data()) + r.size());
  }
  static int ExactZero(const char* l, const char* r) { return Utf8StringExactCompare(U(l), U(r)); }
  static int CaselessZero(const char* l, const char* r) {
    return Utf8StringCaseInsensitiveCompare(U(l), U(r));
  }
};

// Caseless values are checked exactly: callers sort by them. Exact ones by sign.
template <class S>
struct Row {
  const char* name;
  S lhs, rhs;
  int exact, caseless;          // ranged forms
  int exactZero, caselessZero;  // zero-terminated forms, which stop at a 0 element
};

template <class Kind, class S>
void Check(const Row<S>& c) {
  SCOPED_TRACE(c.name);
  EXPECT_EQ(c.exact, Sign(Kind::Exact(c.lhs, c.rhs)));
  EXPECT_EQ(c.caseless, Kind::Caseless(c.lhs, c.rhs));
  EXPECT_EQ(c.exactZero, Sign(Kind::ExactZero(c.lhs.c_str(), c.rhs.c_str())));
  EXPECT_EQ(c.caselessZero, Kind::CaselessZero(c.lhs.c_str(), c.rhs.c_str()));
  // The same pair the other way round mirrors the order.
  EXPECT_EQ(-c.exact, Sign(Kind::Exact(c.rhs, c.lhs)));
  EXPECT_EQ(-Sign(c.caseless), Sign(Kind::Caseless(c.rhs, c.lhs)));
}

TEST(StringCompareTest, Values) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  const Row<string> narrow[] = {
      {"equal_ignoring_case", "abc", "ABC", 1, 0, 1, 0},
      {"first_difference_wins", "abc", "abd", -1, 'C' - 'D', -1, 'C' - 'D'},
      // Ranges count the tail; zero-terminated forms meet the terminator.
      {"longer_by_three", "abcd", "a", 1, 3, 1, 'B'},
      {"embedded_zero", string("ab\0x", 4), string("ab\0y", 4), -1, 'X' - 'Y', 0, 0},
      // Without case a byte 0x80-0xFF is negative and not folded; with case unsigned.
      {"high_byte", "\xE9", "a", 1, -23 - 'A', 1, -23 - 'A'},
      {"punctuation_between_cases", "_", "a", -1, '_' - 'A', -1, '_' - 'A'},
  };
  for (const auto& c : narrow) Check<Plain>(c);
  // The ranged forms share their loop with the narrow ones; these rows are where wide differs.
  const Row<wstring> wide[] = {
      {"first_difference", L"abc", L"abd", -1, -1, -1, -1},
      // Zero-terminated: the text that ended sorts first, by -1 not by the element.
      {"prefix", L"ab", L"ABC", 1, -1, 1, -1},
      // Only a-z fold in the "C" locale.
      {"latin1_not_folded", L"\u00E9", L"\u00C9", 1, 1, 1, 1},
  };
  for (const auto& c : wide) Check<Plain>(c);
  // UTF-8 is ordered by code point, its tails counted in bytes.
  const Row<string> utf8[] = {
      {"case_only", "abc", "ABC", 1, 0, 1, 0},
      {"latin1_not_folded", "\xC3\xA9", "\xC3\x89", 1, 1, 1, 1},
      {"tail_in_bytes", "a", "a\xE6\x97\xA5", -1, -3, -1, -3},
      {"code_point_order_not_signed_bytes", "\xC3\xA9", "z", 1, 1, 1, 1},
      {"embedded_zero", string("a\0b", 3), string("a\0c", 3), -1, -1, 0, 0},
  };
  for (const auto& c : utf8) Check<Utf8>(c);
  // Null is the empty text.
  EXPECT_EQ(-65, StringCaseCompare(nullptr, "a"));
  EXPECT_EQ(0, StringExactCompare("", static_cast<const char*>(nullptr)));
  EXPECT_EQ(-1, StringCaseCompare(static_cast<const wchar_t*>(nullptr), L"a"));
  EXPECT_EQ(0, StringExactCompare(static_cast<const wchar_t*>(nullptr), L""));
  EXPECT_EQ(0, Utf8StringExactCompare(nullptr, nullptr));
  EXPECT_EQ(1, Utf8StringCaseInsensitiveCompare(U("a"), nullptr));
}

TEST(StringCompareTest, MalformedUtf8ThrowsInvalidSequence) {
  const string cases[] = {"\xC3", "\x80", "\xC0\xAF", "\xFF", "a\xE6\x97"};
  for (const string& bad : cases) {
    SCOPED_TRACE(::testing::PrintToString(bad));
    const string good = "a" + string(bad.size(), 'a');
    EXPECT_THROW(Utf8::Exact(bad, good), exception::InvalidSequence);
    EXPECT_THROW(Utf8::Caseless(good, bad), exception::InvalidSequence);
  }
  // A difference before the malformed part decides without reading it.
  EXPECT_EQ(-1, Utf8::Exact("a\xFF", "b\xFF"));
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
  ::testing::internal::CaptureStderr();
  Utf8StringCompareInternal(U("a"), U("a") + 1, U("A"), U("A") + 1, true, nullptr);
  const string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(string::npos, err.find("!caseInsensitive || (0 != uppercaseConverter)")) << err;
  // Only the tails' lengths are used: nothing is read.
  const unsigned char* far = U(text) + (uintptr_t(1) << 32);
  EXPECT_THROW(Utf8StringExactCompare(U(text), U(text), U(text), far), exception::OutOfRange);
}

// Signs of compare() over all pairs of texts, checked to be a total order:
// antisymmetric (so reflexive) and transitive.
template <class S>
std::vector<int> TotalOrder(const char* name, const std::vector<S>& texts,
                            int (*compare)(const S&, const S&)) {
  const size_t n = texts.size();
  std::vector<int> s(n * n);
  for (size_t i = 0; i < n * n; ++i) s[i] = Sign(compare(texts[i / n], texts[i % n]));
  int broken = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      broken += s[i * n + j] != -s[j * n + i];
      for (size_t k = 0; k < n; ++k) {
        broken += s[i * n + j] <= 0 && s[j * n + k] <= 0 && s[i * n + k] > 0;
      }
    }
  }
  EXPECT_EQ(0, broken) << name;
  return s;
}

// On random short texts that share prefixes and differ in case, with zeros, Latin-1,
// CJK and text beyond the BMP, every comparison is a total order (the narrow forms
// also over bytes that are not UTF-8, which they never reject), and UTF-8 text
// orders like the same text as wide characters.
TEST(StringCompareTest, EveryKindIsATotalOrderAndUtf8FollowsWide) {
  std::mt19937 random(7);
  const wchar_t alphabet[] = {L'a', L'A', L'b', L'z', L'Z',   L'\0',  L'_',
                              0xE9, 0xC9, 0x7F, 0x80, 0x4E00, 0xFFFF, 0x1F600};
  const char* const junk[] = {"", "", "\xFF", "\x80", "\xC3", "\xE0\x80"};
  std::vector<wstring> wide;
  std::vector<string> utf8, bytes;
  for (int i = 0; i < 60; ++i) {
    wstring text;
    for (size_t n = random() % 5; n > 0; --n) text.push_back(alphabet[random() % 14]);
    wide.push_back(text);
    std::unique_ptr<unsigned char[]> encoded(WideToUtf8(text.data(), text.data() + text.size()));
    utf8.emplace_back(reinterpret_cast<const char*>(encoded.get()),
                      GetUtf8EncodingBytes(text.data(), text.data() + text.size()));
    bytes.push_back(utf8.back() + junk[random() % 6]);
  }
  TotalOrder("narrow_exact", bytes, &Plain::Exact<string>);
  TotalOrder("narrow_caseless", bytes, &Plain::Caseless<string>);
  EXPECT_EQ(TotalOrder("wide_exact", wide, &Plain::Exact<wstring>),
            TotalOrder("utf8_exact", utf8, &Utf8::Exact));
  EXPECT_EQ(TotalOrder("wide_caseless", wide, &Plain::Caseless<wstring>),
            TotalOrder("utf8_caseless", utf8, &Utf8::Caseless));
}

}  // namespace
}  // namespace vo::qel::osdep
