// Construction, buffer sizing, sources inside the string's own text, caller errors
// and allocation failure, for every string kind.
#include "qel/StringBase.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "tests/support/StringText.h"

namespace vo::qel {
namespace {

using testing::Ascii;
using testing::Make;
using testing::Terminated;

template <typename S>
class StringBaseTest : public ::testing::Test {
 protected:
  // Every test ends without an unexpected failed check: the invariants held.
  void TearDown() override { EXPECT_EQ(std::vector<std::string>{}, reports_.take()); }
  testing::Reports reports_;
};

using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringBaseTest, Kinds);

TYPED_TEST(StringBaseTest, ConstructorsCopyExactly) {
  using S = TypeParam;
  using C = typename S::value_type;
  const auto abcd = Terminated<S>("abcd");
  const C* p = abcd.data();
  S roomy = Make<S>("abc");
  roomy.reserve(40);
  struct {
    const char* name;
    std::function<S()> make;
    std::string text;
    bool offsetThrows = false;
    const char* report = nullptr;  // a caller error: reported, the string left empty
  } const cases[] = {
      {"null_pointer", [] { return S(static_cast<const C*>(nullptr)); }, ""},
      {"zero_terminated", [&] { return S(p); }, "abcd"},
      {"range", [&] { return S(p + 1, p + 3); }, "bc"},
      {"fill", [] { return S(3u, C('x')); }, "xxx"},
      {"copy_drops_spare_room", [&] { return S(roomy); }, "abc"},
      {"substring_counted", [&] { return S(S(p), 1, 2); }, "bc"},
      {"substring_one_past", [&] { return S(S(p), 5, 1); }, "", true},
      {"substring_npos", [&] { return S(S(p), S::npos, 1); }, "", true},
      {"concatenation", [&] { return S(roomy, S(p)); }, "abcabcd"},
      {"range_null_begin", [&] { return S(nullptr, p); }, "", false, "begin"},
      {"range_reversed", [&] { return S(p + 2, p); }, "", false, "begin <= end"},
      {"counted_null", [] { return S(static_cast<const C*>(nullptr), 5u); }, "", false, "that"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.offsetThrows) {
      EXPECT_EQ("offset", testing::Thrown([&] { c.make(); }));
      continue;
    }
    const S s = c.make();
    EXPECT_EQ(c.text, Ascii(s));
    EXPECT_EQ(s.length(), s.capacity()) << "constructors allocate exactly";
    EXPECT_EQ(C(0), s[s.length()]);
    EXPECT_EQ(c.report ? std::vector<std::string>{c.report} : std::vector<std::string>{},
              this->reports_.take());
  }
}

// How each operation sizes the buffer: the string holds the first `before` letters
// in a buffer of `capacity`; `arg` is a count (of 'X' for assign, append, replace).
TYPED_TEST(StringBaseTest, BufferSizeAfterEachOperation) {
  using S = TypeParam;
  enum Op { kAssign, kAppend, kReserve, kErase, kResize, kResizeKeep, kReplace };
  struct {
    const char* name;
    unsigned before, capacity;
    Op op;
    unsigned arg, expectedCapacity;
    bool moves;  // whether the buffer may move
  } const cases[] = {
      {"append_to_empty_doubles", 0, 0, kAppend, 3, 6, true},
      {"append_filling_room_exactly", 3, 6, kAppend, 3, 6, false},
      {"append_past_room_doubles_needed", 4, 4, kAppend, 3, 14, true},
      {"assign_short_shrinks", 10, 10, kAssign, 2, 2, true},
      {"assign_half_keeps", 10, 10, kAssign, 5, 10, false},
      {"assign_empty_shrinks_to_zero", 4, 4, kAssign, 0, 0, true},
      {"reserve_above_is_exact", 3, 10, kReserve, 20, 20, true},
      {"erase_to_below_half_shrinks", 10, 10, kErase, 4, 4, true},
      {"resize_down_shrinks", 10, 12, kResize, 2, 2, true},
      {"resize_down_keep", 10, 12, kResizeKeep, 2, 12, false},
      {"resize_up_doubles", 4, 4, kResize, 6, 12, true},
      {"replace_growing_is_exact", 4, 4, kReplace, 7, 7, true},
  };
  // Each operation on the string and on a std::string of its text; `x` is `n` 'X's.
  using M = std::string;
  const std::function<void(S&, const S&, unsigned, M&)> ops[] = {
      [](S& s, const S& x, unsigned, M& m) { s.assign(x.c_str(), x.length()), m = Ascii(x); },
      [](S& s, const S& x, unsigned, M& m) { s.append(x.c_str(), x.length()), m += Ascii(x); },
      [](S& s, const S&, unsigned n, M&) { s.reserve(n); },
      [](S& s, const S&, unsigned n, M& m) { s.erase(n, S::npos), m.resize(n); },
      [](S& s, const S&, unsigned n, M& m) { s.resize(n, 'X'), m.resize(n, 'X'); },
      [](S& s, const S&, unsigned n, M& m) { s.resize(n, 'X', S::KeepCapacity), m.resize(n, 'X'); },
      [](S& s, const S& x, unsigned, M& m) { s.replace(0, S::npos, x), m = Ascii(x); },
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string expected = std::string("abcdefghijklmnopqrstuvwxyz").substr(0, c.before);
    S s;
    s.reserve(c.capacity);
    s.append(Terminated<S>(expected).data(), c.before);
    ASSERT_EQ(c.capacity, s.capacity());
    const auto* buffer = s.c_str();
    ops[c.op](s, Make<S>(std::string(c.arg, 'X')), c.arg, expected);
    EXPECT_EQ(c.expectedCapacity, s.capacity());
    EXPECT_EQ(expected, Ascii(s));
    EXPECT_EQ(0, s[s.length()]);
    EXPECT_TRUE(c.moves || buffer == s.c_str()) << "the buffer moved";
  }
}

// Each operation starts on "abcdefgh" in a buffer of 10, with memory as it comes,
// with allocation switched off (an operation that needs memory throws bad_alloc and
// leaves the string unchanged, or, once elements have moved, at least valid; one that
// needs none goes through), or with reallocations above 12 elements failing (the
// first, doubling try of growth may fail quietly; the exact request then wins).
TYPED_TEST(StringBaseTest, OwnTextNullAndScarceMemory) {
  using S = TypeParam;
  using C = typename S::value_type;
  struct Limited {
    static void* Realloc(void* p, size_t size) {
      return size > 12 * sizeof(C) ? nullptr : std::realloc(p, size);
    }
  };
  enum Memory { kAvailable, kOff, kNoDoubling };
  const C* null = nullptr;
  const auto x = Terminated<S>("xyzxyzxyzxyz");
  const S xyz = Make<S>("xyz");
  struct {
    const char* name;
    Memory memory;
    std::function<void(S&)> op;
    std::string after;
    const char* thrown = "";
  } const cases[] = {
      {"self_assignment", kAvailable, [](S& s) { s = *&s; }, "abcdefgh"},
      // A source equal to the own text is never copied, whatever the count.
      {"assign_own_text_shorter", kAvailable, [](S& s) { s.assign(s.c_str(), 2); }, "abcdefgh"},
      {"assign_own_tail", kAvailable, [](S& s) { s.assign(s.c_str() + 1, 2); }, "bc"},
      {"append_self_in_room", kAvailable,
       [](S& s) { s.reserve(20), s.append(s.c_str(), s.length()); }, "abcdefghabcdefgh"},
      {"assign_null", kAvailable, [=](S& s) { s = null; }, ""},
      {"growth_without_doubling", kNoDoubling, [&](S& s) { s.append(x.data(), 3); }, "abcdefghxyz"},
      {"default_constructor", kOff, [](S&) { S s; }, "abcdefgh", "bad_alloc"},
      {"append_past_room", kOff, [&](S& s) { s.append(x.data(), 3); }, "abcdefgh", "bad_alloc"},
      {"append_within_room", kOff, [&](S& s) { s.append(x.data(), 2); }, "abcdefghxy"},
      {"assign_short_shrinks", kOff, [&](S& s) { s.assign(x.data(), 1); }, "abcdefgh", "bad_alloc"},
      {"replace_growing", kOff, [&](S& s) { s.replace(0, 0, xyz); }, "abcdefgh", "bad_alloc"},
      {"replace_same_length", kOff, [&](S& s) { s.replace(0, 3, xyz); }, "xyzdefgh"},
      {"find_last_of_ch_builds_no_set", kOff, [](S& s) { s.find_last_of('d'); }, "abcdefgh"},
      // The elements have moved before the buffer would be cut.
      {"erase_shrinking", kOff, [](S& s) { s.erase(1, S::npos); }, "a", "bad_alloc"},
      {"replace_shrinking_below_half", kOff, [&](S& s) { s.replace(1, 7, xyz); }, "axyz",
       "bad_alloc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s = Make<S>("abcdefgh");
    s.reserve(10);
    const auto previous = detail::ReplaceAllocFunctions(
        {nullptr, c.memory == kNoDoubling ? &Limited::Realloc : nullptr});
    MakeDLLMallocThrow(c.memory == kOff);
    EXPECT_EQ(c.thrown, testing::Thrown([&] { c.op(s); }));
    MakeDLLMallocThrow(false);
    detail::ReplaceAllocFunctions(previous);
    EXPECT_EQ(c.after, Ascii(s));
    EXPECT_LE(s.length(), s.capacity());
    EXPECT_EQ(0, s[s.length()]);
  }
}

}  // namespace
}  // namespace vo::qel
