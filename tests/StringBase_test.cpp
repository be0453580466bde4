// Construction, buffer sizing, sources inside the string's own text, the bounds,
// caller errors and allocation failure, for every string kind.
#include "qel/StringBase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "qel/DLLAlloc.h"
#include "tests/support/StringText.h"

namespace vo::qel {
namespace {

using testing::Ascii;
using testing::Make;
using testing::T;

template <typename S>
class StringBaseTest : public ::testing::Test {};
TYPED_TEST_SUITE(StringBaseTest, testing::StringKinds);

// Each case starts on "abcdefgh" in a buffer of 10 and answers a text; "N text" is a
// capacity and the text. What an operation throws is answered as "<what> text after":
// with allocation switched off (kOff), an operation that needs memory throws
// bad_alloc and leaves the string unchanged, or, once elements have moved, at least
// valid; one that needs none goes through. With kNoDoubling, reallocations above 12
// elements fail: the first, doubling try of growth may fail quietly, then the exact
// request wins.
TYPED_TEST(StringBaseTest, OperationsAtTheBoundsAndWithScarceMemory) {
  using S = TypeParam;
  using C = typename S::value_type;
  struct Limited {
    static void* Realloc(void* p, size_t size) {
      return size > 12 * sizeof(C) ? nullptr : std::realloc(p, size);
    }
  };
  enum Memory { kAny, kOff, kNoDoubling };
  const auto npos = S::npos;
  const auto x = T<S>("xyzxyzxyzxyzxyz"), fgh = T<S>("FGH");
  const C *p = x.c_str(), *null = nullptr;
  const S xyz = Make<S>("xyz");
  auto sized = [](const S& s) { return std::to_string(s.capacity()) + " " + Ascii(s); };
  auto sign = [](int order) { return std::to_string((order > 0) - (order < 0)); };
  auto at = [](unsigned pos) { return pos == S::npos ? "npos" : std::to_string(pos); };
  auto copied = [](const S& s, unsigned n, unsigned pos) {
    C buffer[4] = {};
    const std::string count = std::to_string(s.copy(buffer, n, pos));
    return count + " " + Ascii(S(buffer));
  };
  const S h = Make<S>("abcab"), ab = Make<S>("ab");
  struct {
    const char* name;
    Memory memory;
    std::function<std::string(S&)> op;
    std::string answer;
    const char* report = "";  // a caller error: reported, the result empty or unchanged
  } const cases[] = {
      {"ctor_null_pointer", kAny, [&](S&) { return sized(S(null)); }, "0 "},
      {"ctor_zero_terminated", kAny, [&](S&) { return sized(S(p)); }, "15 xyzxyzxyzxyzxyz"},
      {"ctor_range", kAny, [&](S&) { return sized(S(p + 1, p + 3)); }, "2 yz"},
      {"ctor_fill", kAny, [&](S&) { return sized(S(3u, C('w'))); }, "3 www"},
      {"ctor_copy_no_spare_room", kAny, [&](S& s) { return sized(S(s)); }, "8 abcdefgh"},
      {"ctor_substring", kAny, [&](S& s) { return sized(S(s, 6, 5)); }, "2 gh"},
      {"ctor_substring_one_past", kAny, [&](S& s) { return sized(S(s, 9, 1)); },
       "<offset> abcdefgh"},
      {"ctor_concatenation", kAny, [&](S& s) { return sized(S(s, xyz)); }, "11 abcdefghxyz"},
      {"ctor_range_null_begin", kAny, [&](S&) { return sized(S(null, p)); }, "0 ", "begin"},
      {"ctor_range_reversed", kAny, [&](S&) { return sized(S(p + 2, p)); }, "0 ", "begin <= end"},
      {"ctor_counted_null", kAny, [&](S&) { return sized(S(null, 5u)); }, "0 ", "that"},
      // How each operation sizes the buffer: appending doubles the needed length,
      // assignment and removal cut a buffer that would be more than half unused.
      {"append_filling_room", kOff, [&](S& s) { return sized(s.append(p, 2)); }, "10 abcdefghxy"},
      {"append_past_room", kOff, [&](S& s) { return sized(s.append(p, 3)); },
       "<bad_alloc> abcdefgh"},
      {"append_doubles_needed", kAny, [&](S& s) { return sized(s.append(p, 3)); },
       "22 abcdefghxyz"},
      {"append_to_empty_doubles", kAny, [&](S& s) { return s.clear(), sized(s.append(p, 3)); },
       "6 xyz"},
      {"growth_without_doubling", kNoDoubling, [&](S& s) { return sized(s.append(p, 3)); },
       "11 abcdefghxyz"},
      {"assign_short_shrinks", kAny, [&](S& s) { return sized(s.assign(p, 2)); }, "2 xy"},
      {"assign_half_keeps", kAny, [&](S& s) { return sized(s.assign(p, 5)); }, "10 xyzxy"},
      {"assign_empty_shrinks", kAny, [&](S& s) { return sized(s.assign(p, 0)); }, "0 "},
      {"assign_shrinking", kOff, [&](S& s) { return sized(s.assign(p, 1)); },
       "<bad_alloc> abcdefgh"},
      {"reserve_above_is_exact", kAny, [&](S& s) { return s.reserve(20), sized(s); },
       "20 abcdefgh"},
      {"erase_below_half_shrinks", kAny, [&](S& s) { return sized(s.erase(4)); }, "4 abcd"},
      {"erase_shrinking", kOff, [&](S& s) { return sized(s.erase(1)); }, "<bad_alloc> a"},
      {"resize_down_shrinks", kAny, [&](S& s) { return s.resize(2, 'X'), sized(s); }, "2 ab"},
      {"resize_down_keep", kAny, [&](S& s) { return s.resize(2, 'X', S::KeepCapacity), sized(s); },
       "10 ab"},
      {"resize_up_doubles", kAny, [&](S& s) { return s.resize(11, 'X'), sized(s); },
       "22 abcdefghXXX"},
      {"replace_grows_exactly", kAny, [&](S& s) { return sized(s.replace(0, npos, S(p, 11))); },
       "11 xyzxyzxyzxy"},
      {"replace_growing", kOff, [&](S& s) { return sized(s.replace(0, 0, xyz)); },
       "<bad_alloc> abcdefgh"},
      {"replace_same_length", kOff, [&](S& s) { return sized(s.replace(0, 3, xyz)); },
       "10 xyzdefgh"},
      {"replace_below_half", kOff, [&](S& s) { return sized(s.replace(1, 7, xyz)); },
       "<bad_alloc> axyz"},
      {"default_constructor", kOff, [&](S&) { return sized(S()); }, "<bad_alloc> abcdefgh"},
      {"find_last_of_ch_no_set", kOff, [](S& s) { return std::to_string(s.find_last_of('d')); },
       "3"},
      // Sources inside the own text; one equal to it is never copied, whatever the count.
      {"self_assignment", kAny, [&](S& s) { return sized(s = *&s); }, "10 abcdefgh"},
      {"assign_own_text_shorter", kAny, [&](S& s) { return sized(s.assign(s.c_str(), 2)); },
       "10 abcdefgh"},
      {"assign_own_tail", kAny, [&](S& s) { return sized(s.assign(s.c_str() + 1, 2)); }, "2 bc"},
      {"append_self_in_room", kAny,
       [&](S& s) { return s.reserve(20), sized(s.append(s.c_str(), s.length())); },
       "20 abcdefghabcdefgh"},
      {"assign_null", kAny, [&](S& s) { return sized(s = null); }, "0 "},
      {"append_ch_in_room", kOff, [&](S& s) { return sized(s.append(2, C('w'))); },
       "10 abcdefghww"},
      {"plus_equals_ch_in_room", kOff, [&](S& s) { return sized(s += C('w')); }, "10 abcdefghw"},
      {"clear_keep", kOff, [&](S& s) { return s.clear(S::KeepCapacity), sized(s); }, "10 "},
      {"swap", kAny, [&](S& s) { return S(xyz).swap(s), sized(s); }, "3 xyz"},
      // Positions at and past the end, parts that run past it, the own text as source.
      {"erase_at_size", kAny, [&](S& s) { return sized(s.erase(8, 1)); }, "10 abcdefgh"},
      {"erase_one_past", kAny, [&](S& s) { return sized(s.erase(9, 0)); }, "<offset> abcdefgh"},
      {"erase_iterators", kAny,
       [&](S& s) { return std::to_string(s.erase(s.begin() + 2, s.begin() + 4) - s.begin()); },
       "2"},
      {"copy_past_end", kAny, [&](S& s) { return copied(s, 3, 6); }, "2 gh"},
      {"copy_at_size", kAny, [&](S& s) { return copied(s, 3, 8); }, "0 "},
      {"copy_one_past", kAny, [&](S& s) { return copied(s, 0, 9); }, "<offset> abcdefgh"},
      {"append_part_of_self", kAny, [&](S& s) { return sized(s.append(s, 6, 5)); },
       "10 abcdefghgh"},
      {"append_part_one_past", kAny, [&](S& s) { return sized(s.append(xyz, 4, 0)); },
       "<offset> abcdefgh"},
      {"replace_by_part_past_end", kAny, [&](S& s) { return sized(s.replace(0, 1, xyz, 1, 9)); },
       "10 yzbcdefgh"},
      {"replace_by_part_of_self", kAny, [&](S& s) { return sized(s.replace(1, 2, s, 4, 3)); },
       "10 aefgdefgh"},
      {"replace_at_size", kAny, [&](S& s) { return sized(s.replace(8, 1, xyz, 3)); },
       "10 abcdefgh"},
      {"replace_one_past", kAny, [&](S& s) { return sized(s.replace(9, 0, xyz)); },
       "<offset> abcdefgh"},
      {"replace_sub_one_past", kAny, [&](S& s) { return sized(s.replace(0, 0, xyz, 4)); },
       "<offset> abcdefgh"},
      // Searches in "abcab", at the bounds of each.
      {"find_ch_absent_after_pos", kAny, [&](S&) { return at(h.find(C('c'), 3)); }, "npos"},
      {"find_ch_at_size", kAny, [&](S&) { return at(h.find(C('a'), 5)); }, "npos"},
      {"find_fitting_at_end", kAny, [&](S&) { return at(h.find(ab, 3)); }, "3"},
      {"find_empty_inside", kAny, [&](S&) { return at(h.find(S(), 2)); }, "2"},
      {"find_empty_at_size", kAny, [&](S&) { return at(h.find(S(), 5)); }, "npos"},
      {"rfind_ch_at_pos", kAny, [&](S&) { return at(h.rfind(C('b'), 4)); }, "4"},
      {"rfind_whole_text", kAny, [&](S&) { return at(h.rfind(h)); }, "0"},
      {"rfind_starting_before_pos", kAny, [&](S&) { return at(h.rfind(ab, 2)); }, "0"},
      {"first_of_at_pos", kAny, [&](S&) { return at(h.find_first_of(Make<S>("cb"), 1)); }, "1"},
      {"first_not_of", kAny, [&](S&) { return at(h.find_first_not_of(ab)); }, "2"},
      {"last_of_first_element", kAny, [&](S&) { return at(h.find_last_of(Make<S>("a"), 2)); }, "0"},
      {"last_not_of_at_pos", kAny, [&](S&) { return at(h.find_last_not_of(Make<S>("b"), 3)); },
       "3"},
      {"last_not_of_ch", kAny, [&](S&) { return at(h.find_last_not_of(C('b'))); }, "3"},
      {"embedded_null", kAny,
       [&](S& s) {
         return std::to_string(s.hasEmbeddedNull()) + std::to_string(S(p, 16).hasEmbeddedNull());
       },
       "01"},
      // Sums that overflow, the part of the string compared.
      {"substr_sum_at_limit", kAny, [](S& s) { return Ascii(s.substr(6, 0xFFFFFFF9)); }, "gh"},
      {"substr_sum_overflows", kAny, [](S& s) { return Ascii(s.substr(7, 0xFFFFFFF9)); },
       "<overflow> abcdefgh"},
      {"substr_one_past", kAny, [](S& s) { return Ascii(s.substr(9, 1)); }, "",
       "index <= length()"},
      {"index_one_past", kAny, [](S& s) { return std::to_string(int(s[9])); }, "0",
       "(begin_+index <= end_) && (begin_+index >= begin_)"},
      // The count npos means up to the text's 0 element.
      {"part_past_end", kAny, [&](S& s) { return sign(s.compare(5, 99, fgh.c_str(), npos)); }, "0"},
      {"part_shorter", kAny, [&](S& s) { return sign(s.compare(5, 2, fgh.c_str())); }, "-1"},
      {"part_at_size_is_empty", kAny, [&](S& s) { return sign(s.compare(8, 1, p, 0)); }, "0"},
      {"part_one_past", kAny, [&](S& s) { return sign(s.compare(9, 0, p)); }, "<offset> abcdefgh"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s = Make<S>("abcdefgh");
    s.reserve(10);
    const auto previous = detail::ReplaceAllocFunctions(
        {nullptr, c.memory == kNoDoubling ? &Limited::Realloc : nullptr});
    MakeDLLMallocThrow(c.memory == kOff);
    std::string answer;
    const std::string thrown = testing::Thrown([&] { answer = c.op(s); });
    MakeDLLMallocThrow(false);
    detail::ReplaceAllocFunctions(previous);
    EXPECT_EQ(c.answer, thrown.empty() ? answer : "<" + thrown + "> " + Ascii(s));
    EXPECT_EQ(c.report, testing::Reported(alerts));
    EXPECT_LE(s.length(), s.capacity());
    EXPECT_EQ(C(0), s[s.length()]);
  }
}

}  // namespace
}  // namespace vo::qel
