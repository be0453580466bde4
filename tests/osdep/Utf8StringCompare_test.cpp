// Exact and case-insensitive comparison of UTF-8 text, and its agreement with the
// comparison of the same text as wide characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/StringCaseCompare.h"
#include "qel/osdep/StringExactCompare.h"
#include "qel/osdep/Utf8StringCaseInsensitiveCompare.h"
#include "qel/osdep/Utf8StringCompareInternal.h"
#include "qel/osdep/Utf8StringExactCompare.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

using std::string;
using std::wstring;

const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
int Sign(int v) { return (v > 0) - (v < 0); }

int Exact(const string& l, const string& r) {
  return Utf8StringExactCompare(U(l.data()), U(l.data()) + l.size(), U(r.data()),
                                U(r.data()) + r.size());
}
int Caseless(const string& l, const string& r) {
  return Utf8StringCaseInsensitiveCompare(U(l.data()), U(l.data()) + l.size(), U(r.data()),
                                          U(r.data()) + r.size());
}
template <class S>
int ExactRange(const S& l, const S& r) {
  return StringExactCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}
template <class S>
int CaseRange(const S& l, const S& r) {
  return StringCaseCompare(l.data(), l.data() + l.size(), r.data(), r.data() + r.size());
}

TEST(Utf8StringCompareTest, Values) {
  const string zeroB("a\0b", 3), zeroC("a\0c", 3);
  struct {
    const char* name;
    string lhs, rhs;
    int exact, caseless;
  } const cases[] = {
      {"equal", "abc", "abc", 0, 0},
      {"case_only", "abc", "ABC", 1, 0},
      {"latin1_not_folded", "\xC3\xA9", "\xC3\x89", 1, 1},  // U+00E9 against U+00C9
      {"tail_in_bytes", "a\xC3\xA9", "a", 2, 2},
      {"tail_of_cjk", "a", "a\xE6\x97\xA5", -3, -3},
      {"code_point_order_not_signed_bytes", "\xC3\xA9", "z", 1, 1},
      {"beyond_bmp_above_bmp", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", 1, 1},
      {"embedded_zero", zeroB, zeroC, -1, -1},
      {"empty", "", "", 0, 0},
      {"empty_against_text", "", "ab", -2, -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.exact, Exact(c.lhs, c.rhs));
    EXPECT_EQ(c.caseless, Caseless(c.lhs, c.rhs));
    EXPECT_EQ(-c.exact, Exact(c.rhs, c.lhs));
  }
  // The zero-terminated forms measure with strlen and treat null as empty.
  EXPECT_EQ(0, Utf8StringExactCompare(U(zeroB.c_str()), U(zeroC.c_str())));
  EXPECT_EQ(0, Utf8StringCaseInsensitiveCompare(U("abc"), U("ABC")));
  EXPECT_EQ(0, Utf8StringExactCompare(nullptr, nullptr));
  EXPECT_EQ(-1, Utf8StringExactCompare(nullptr, U("a")));
  EXPECT_EQ(1, Utf8StringCaseInsensitiveCompare(U("a"), nullptr));
}

TEST(Utf8StringCompareTest, MalformedTextThrowsInvalidSequence) {
  const string cases[] = {"\xC3", "\x80", "\xC0\xAF", "\xFF", "a\xE6\x97"};
  for (const string& bad : cases) {
    SCOPED_TRACE(::testing::PrintToString(bad));
    const string good = "a" + string(bad.size(), 'a');
    EXPECT_THROW(Exact(bad, good), exception::InvalidSequence);
    EXPECT_THROW(Caseless(good, bad), exception::InvalidSequence);
  }
  // A difference before the malformed part decides without reading it.
  EXPECT_EQ(-1, Exact("a\xFF", "b\xFF"));
}

TEST(Utf8StringCompareTest, CallerErrorsAndHugeTails) {
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  Utf8StringCompareInternal(U("a"), U("a") + 1, U("A"), U("A") + 1, true, nullptr);
  string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(string::npos, err.find("osdep/Utf8StringCompareInternal(")) << err;
  EXPECT_NE(string::npos, err.find("!caseInsensitive || (0 != uppercaseConverter)")) << err;

  const unsigned char* text = U("ab");
  ::testing::internal::CaptureStderr();
  Utf8StringExactCompare(text + 2, text, text, text + 2);
  Utf8StringCaseInsensitiveCompare(text, text + 2, nullptr, text);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(string::npos, err.find("Assertion failed: lhs <= lhsEnd\a")) << err;
  EXPECT_NE(string::npos, err.find("Assertion failed: rhs\a")) << err;

  // Only the tails' lengths are used: nothing is read.
  const unsigned char* far = text + (uintptr_t(1) << 32);
  EXPECT_THROW(Utf8StringExactCompare(text, text, text, far), exception::OutOfRange);
}

string Utf8(const wstring& w) {
  std::unique_ptr<unsigned char[]> bytes(WideToUtf8(w.data(), w.data() + w.size()));
  return string(reinterpret_cast<const char*>(bytes.get()),
                GetUtf8EncodingBytes(w.data(), w.data() + w.size()));
}

// Signs of compare(i, j) for all pairs of n texts, checked to be a total order:
// antisymmetric (so reflexive) and transitive.
template <class F>
std::vector<int> TotalOrder(const char* name, size_t n, F compare) {
  std::vector<int> s(n * n);
  for (size_t i = 0; i < n * n; ++i) s[i] = Sign(compare(i / n, i % n));
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
TEST(Utf8StringCompareTest, EveryKindIsATotalOrderAndUtf8FollowsWide) {
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
    utf8.push_back(Utf8(text));
    bytes.push_back(utf8.back() + junk[random() % 6]);
  }
  const size_t n = wide.size();
  TotalOrder("narrow_exact", n, [&](size_t i, size_t j) { return ExactRange(bytes[i], bytes[j]); });
  TotalOrder("narrow_caseless", n,
             [&](size_t i, size_t j) { return CaseRange(bytes[i], bytes[j]); });
  EXPECT_EQ(
      TotalOrder("wide_exact", n, [&](size_t i, size_t j) { return ExactRange(wide[i], wide[j]); }),
      TotalOrder("utf8_exact", n, [&](size_t i, size_t j) { return Exact(utf8[i], utf8[j]); }));
  EXPECT_EQ(TotalOrder("wide_caseless", n,
                       [&](size_t i, size_t j) { return CaseRange(wide[i], wide[j]); }),
            TotalOrder("utf8_caseless", n,
                       [&](size_t i, size_t j) { return Caseless(utf8[i], utf8[j]); }));
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
