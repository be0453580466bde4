// The string kinds' members in one table for every kind, the limits of the lengths, and
// conversions between kinds.
#include "qel/StringBase.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <type_traits>

#include "qel/DLLAlloc.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TestLocales.h"

namespace vo::qel {
namespace {

using namespace std::string_literals;

using StringKinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;

// The bytes of `text` as elements of kind S (c_str() gives them zero-terminated), and as
// a string of that kind; and a string's elements, each cut to a byte.
template <typename S>
std::basic_string<typename S::value_type> T(const std::string& text) {
  return {text.begin(), text.end()};
}
template <typename S>
S Make(const std::string& text) {
  return S(T<S>(text).c_str(), static_cast<typename S::size_type>(text.size()));
}
template <typename S>
std::string Ascii(const S& s) {
  return std::string(s.begin(), s.end());
}

// What `run` threw, by a short name ("" for nothing), checking the string code's texts.
std::string Thrown(const std::function<void()>& run) {
  try {
    run();
    return "";
  } catch (const exception::OutOfRange2& e) {
    EXPECT_STREQ("Out of range: String offset out of range", e.what());
    return "offset";
  } catch (const exception::BoundExceeded2& e) {
    EXPECT_STREQ("A request was made that would exceed the bounds: Resulting string too large",
                 e.what());
    return "too large";
  } catch (const exception::OutOfRange&) {
    return "overflow";  // from the checked integers
  } catch (const exception::InvalidSequence&) {
    return "invalid";
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  }
}

// The expressions of the string code's failed checks since the last call, joined by ";".
std::string Reported(testing::AlertRecorder& alerts) {
  std::string expressions;
  for (const std::string& report : alerts.take()) {
    EXPECT_EQ(0u, report.find("StringBase(")) << report;
    const size_t begin = report.find(") ") + 2;
    expressions +=
        (expressions.empty() ? "" : ";") + report.substr(begin, report.find(" | ") - begin);
  }
  return expressions;
}

std::string Sign(int order) { return std::to_string((order > 0) - (order < 0)); }

// Signs of compare() and exactCompare() with a string and with its zero-terminated text,
// then ==, !=, <, > with each.
template <typename S>
std::string Order(const std::string& left, const std::string& right) {
  const S l = Make<S>(left), r = Make<S>(right);
  const auto z = T<S>(right);
  const typename S::value_type* rz = z.c_str();
  std::string o = Sign(l.compare(r)) + " " + Sign(l.exactCompare(r)) + " " + Sign(l.compare(rz)) +
                  " " + Sign(l.exactCompare(rz)) + " ";
  for (const bool b : {l == r, l != r, (l < r), (l > r), l == rz, l != rz, (l < rz), (l > rz)}) {
    o += b ? "1" : "0";
  }
  return o;
}

template <typename S>
class StringBaseTest : public ::testing::Test {};
TYPED_TEST_SUITE(StringBaseTest, StringKinds);

// Each case starts on "abcdefgh" in a buffer of 10 and answers a text ("N text": with the
// capacity) or what it threw ("<what>", then the text if it changed). With kOff allocation
// throws bad_alloc; with kCapped reallocations above 12 elements fail (the doubling try of
// growth quietly) and the others move the block, so a pointer kept across one reads freed.
TYPED_TEST(StringBaseTest, OperationsAtTheBoundsAndWithScarceMemory) {
  using S = TypeParam;
  using C = typename S::value_type;
  const auto limited = [](void* q, size_t size) {
    void* moved = size > 12 * sizeof(C) ? nullptr : std::malloc(size);
    if (moved != nullptr) {
      std::memcpy(moved, q, std::min(size, malloc_usable_size(q)));
      std::free(q);
    }
    return moved;
  };
  enum Memory { kAny, kOff, kCapped };
  const auto x = T<S>("xyzxyzxyzxyzxyz"), fgh = T<S>("FGH");
  const C *p = x.c_str(), *null = nullptr;
  auto sized = [](const S& s) { return std::to_string(s.capacity()) + " " + Ascii(s); };
  auto at = [](unsigned pos) { return pos == S::npos ? "npos" : std::to_string(pos); };
  auto copied = [](const S& s, unsigned n, unsigned pos) {
    C buffer[4] = {};
    const std::string count = std::to_string(s.copy(buffer, n, pos));
    return count + " " + Ascii(S(buffer));
  };
  const S xyz = Make<S>("xyz"), h = Make<S>("abcab"), ab = Make<S>("ab");
  S s;  // "abcdefgh" in a buffer of 10 at the start of each case
  struct {
    const char* name;
    std::function<std::string()> op;
    std::string answer;
    Memory memory = kAny;
    const char* report = "";  // a caller error: reported, the result empty or unchanged
  } const cases[] = {
      {"ctor_null_pointer", [&] { return sized(S(null)); }, "0 "},
      {"ctor_range", [&] { return sized(S(p + 1, p + 3)); }, "2 yz"},
      {"ctor_fill", [&] { return sized(S(3u, C('w'))); }, "3 www"},
      {"ctor_substring", [&] { return sized(S(s, 6, 5)); }, "2 gh"},
      {"ctor_substring_one_past", [&] { return sized(S(s, 9, 1)); }, "<offset>"},
      {"ctor_range_null_begin", [&] { return sized(S(null, p)); }, "0 ", kAny, "begin"},
      {"ctor_range_reversed", [&] { return sized(S(p + 2, p)); }, "0 ", kAny, "begin <= end"},
      {"ctor_counted_null", [&] { return sized(S(null, 5u)); }, "0 ", kAny, "that"},
      // How each operation sizes the buffer: appending doubles the needed length,
      // assignment and removal cut a buffer that would be more than half unused.
      {"append_filling_room", [&] { return sized(s.append(p, 2)); }, "10 abcdefghxy", kOff},
      {"append_past_room", [&] { return sized(s.append(p, 3)); }, "<bad_alloc>", kOff},
      {"append_doubles_needed", [&] { return sized(s.append(p, 3)); }, "22 abcdefghxyz"},
      {"growth_without_doubling", [&] { return sized(s.append(p, 3)); }, "11 abcdefghxyz", kCapped},
      {"assign_short_shrinks", [&] { return sized(s.assign(p, 2)); }, "2 xy"},
      {"assign_half_keeps", [&] { return sized(s.assign(p, 5)); }, "10 xyzxy"},
      {"assign_shrinking", [&] { return sized(s.assign(p, 1)); }, "<bad_alloc>", kOff},
      {"reserve_above_is_exact", [&] { return s.reserve(20), sized(s); }, "20 abcdefgh"},
      {"erase_below_half_shrinks", [&] { return sized(s.erase(4)); }, "4 abcd"},
      {"erase_shrinking", [&] { return sized(s.erase(1)); }, "<bad_alloc> a", kOff},
      {"resize_down_shrinks", [&] { return s.resize(2, 'X'), sized(s); }, "2 ab"},
      {"resize_down_keep", [&] { return s.resize(2, 'X', S::KeepCapacity), sized(s); }, "10 ab"},
      {"resize_up_doubles", [&] { return s.resize(11, 'X'), sized(s); }, "22 abcdefghXXX"},
      {"replace_longer", [&] { return sized(s.replace(0, S::npos, S(p, 11))); }, "11 xyzxyzxyzxy"},
      {"replace_growing", [&] { return sized(s.replace(0, 0, xyz)); }, "<bad_alloc>", kOff},
      {"replace_same_length", [&] { return sized(s.replace(0, 3, xyz)); }, "10 xyzdefgh", kOff},
      {"replace_below_half", [&] { return sized(s.replace(1, 7, xyz)); }, "<bad_alloc> axyz", kOff},
      // Sources inside the own text; one equal to it is never copied, whatever the count.
      {"assign_own_text_shorter", [&] { return sized(s.assign(s.c_str(), 2)); }, "10 abcdefgh"},
      {"assign_own_tail", [&] { return sized(s.assign(s.c_str() + 1, 2)); }, "2 bc"},
      {"append_self_in_room", [&] { return s.reserve(20), sized(s.append(s.c_str(), 8)); },
       "20 abcdefghabcdefgh"},
      {"append_own_text_growing", [&] { return sized(s.append(s.c_str() + 1, 3)); },
       "11 abcdefghbcd", kCapped},
      {"assign_null", [&] { return sized(s = null); }, "0 "},
      {"append_ch_in_room", [&] { return sized(s.append(2, C('w'))); }, "10 abcdefghww", kOff},
      {"clear_keep", [&] { return s.clear(S::KeepCapacity), sized(s); }, "10 ", kOff},
      {"swap", [&] { return S(xyz).swap(s), sized(s); }, "3 xyz"},
      // Positions at and past the end, parts that run past it, the own text as source.
      {"erase_at_size", [&] { return sized(s.erase(8, 1)); }, "10 abcdefgh"},
      {"erase_one_past", [&] { return sized(s.erase(9, 0)); }, "<offset>"},
      {"erase_range", [&] { return at(s.erase(s.begin() + 2, s.begin() + 4) - s.begin()); }, "2"},
      {"copy_past_end", [&] { return copied(s, 3, 6); }, "2 gh"},
      {"copy_at_size", [&] { return copied(s, 3, 8); }, "0 "},
      {"copy_one_past", [&] { return copied(s, 0, 9); }, "<offset>"},
      {"append_part_of_self", [&] { return sized(s.append(s, 6, 5)); }, "10 abcdefghgh"},
      {"append_part_one_past", [&] { return sized(s.append(xyz, 4, 0)); }, "<offset>"},
      {"replace_part_past_end", [&] { return sized(s.replace(0, 1, xyz, 1, 9)); }, "10 yzbcdefgh"},
      {"replace_part_of_self", [&] { return sized(s.replace(1, 2, s, 4, 3)); }, "10 aefgdefgh"},
      {"replace_at_size", [&] { return sized(s.replace(8, 1, xyz, 3)); }, "10 abcdefgh"},
      {"replace_one_past", [&] { return sized(s.replace(9, 0, xyz)); }, "<offset>"},
      {"replace_sub_one_past", [&] { return sized(s.replace(0, 0, xyz, 4)); }, "<offset>"},
      // Searches in "abcab", at the bounds of each.
      {"find_ch_absent_after_pos", [&] { return at(h.find(C('c'), 3)); }, "npos"},
      {"find_fitting_at_end", [&] { return at(h.find(ab, 3)); }, "3"},
      {"find_empty_inside", [&] { return at(h.find(S(), 2)); }, "2"},
      {"find_empty_at_size", [&] { return at(h.find(S(), 5)); }, "npos"},
      {"rfind_ch_pos_npos", [&] { return at(h.rfind(C('b'), 4)) + at(h.rfind(C('b'))); }, "44"},
      {"rfind_whole_text", [&] { return at(h.rfind(h)); }, "0"},
      {"rfind_starting_before_pos", [&] { return at(h.rfind(ab, 2)); }, "0"},
      {"first_of_at_pos", [&] { return at(h.find_first_of(Make<S>("cb"), 1)); }, "1"},
      {"first_not_of", [&] { return at(h.find_first_not_of(ab)); }, "2"},
      {"last_of_first_element", [&] { return at(h.find_last_of(Make<S>("a"), 2)); }, "0"},
      {"last_not_of_at_pos", [&] { return at(h.find_last_not_of(Make<S>("b"), 3)); }, "3"},
      {"last_not_of_ch", [&] { return at(h.find_last_not_of(C('b'))); }, "3"},
      {"has_null", [&] { return at(s.hasEmbeddedNull()) + at(S(p, 16).hasEmbeddedNull()); }, "01"},
      // Concatenations: the left text first; two strings give an exact buffer.
      {"plus_string", [&] { return sized(s + xyz); }, "11 abcdefghxyz"},
      {"plus_pointer", [&] { return Ascii(s + (p + 13)); }, "abcdefghyz"},
      {"plus_ch", [&] { return Ascii(s + C('w')); }, "abcdefghw"},
      // Comparisons by sign, the same in every kind: case folded before length and before
      // a byte above 0x7F, a text that ends first first; the pointer forms stop at a 0.
      {"case_before_length", [&] { return Order<S>("b", "Ab"); }, "1 1 1 1 01010101"},
      {"embedded_null_counts", [&] { return Order<S>("a\0b"s, "a\0c"s); }, "-1 -1 0 0 01101000"},
      {"embedded_null_then_longer", [&] { return Order<S>("a\0"s, "a"); }, "1 1 0 0 01011000"},
      {"case_folds_first", [&] { return Order<S>("a\xFF", "A\xFF"); }, "0 1 0 1 10001000"},
      {"prefix_first", [&] { return Order<S>("\xFF", "\xFF\x61"); }, "-1 -1 -1 -1 01100110"},
      {"compare_null_is_empty", [&] { return Sign(S().compare(null)); }, "0"},
      // Sums that overflow are refused before anything is allocated or read.
      {"fill_too_large", [&] { return sized(S(0xFFFFFFFFu, C('x'))); }, "<overflow>", kOff},
      {"append_too_large", [&] { return sized(s.append(p, 0xFFFFFFF8)); }, "<overflow>", kOff},
      {"substr_sum_at_limit", [&] { return Ascii(s.substr(6, 0xFFFFFFF9)); }, "gh"},
      {"substr_sum_overflows", [&] { return Ascii(s.substr(7, 0xFFFFFFF9)); }, "<overflow>"},
      {"substr_one_past", [&] { return Ascii(s.substr(9, 1)); }, "", kAny, "index <= length()"},
      {"index_one_past", [&] { return std::to_string(int(s[9])); }, "0", kAny,
       "(begin_+index <= end_) && (begin_+index >= begin_)"},
      // The count npos means up to the text's 0 element.
      {"part_past_end", [&] { return Sign(s.compare(5, 99, fgh.c_str(), S::npos)); }, "0"},
      {"part_shorter", [&] { return Sign(s.compare(5, 2, fgh.c_str())); }, "-1"},
      {"part_at_size_is_empty", [&] { return Sign(s.compare(8, 1, p, 0)); }, "0"},
      {"part_one_past", [&] { return Sign(s.compare(9, 0, p)); }, "<offset>"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S fresh = Make<S>("abcdefgh");
    fresh.reserve(10);
    s.swap(fresh);
    const auto previous =
        detail::ReplaceAllocFunctions({nullptr, c.memory == kCapped ? +limited : nullptr});
    MakeDLLMallocThrow(c.memory == kOff);
    std::string answer;
    const std::string thrown = Thrown([&] { answer = c.op(); });
    MakeDLLMallocThrow(false);
    detail::ReplaceAllocFunctions(previous);
    if (!thrown.empty())
      answer = "<" + thrown + ">" + (Ascii(s) == "abcdefgh" ? "" : " " + Ascii(s));
    EXPECT_EQ(c.answer, answer);
    EXPECT_EQ(c.report, Reported(alerts));
    EXPECT_LE(s.length(), s.capacity());
    EXPECT_EQ(C(0), s[s.length()]);
  }
}

// A text of 2^31 elements without the memory: a block of 1 GiB or more is an address range
// in which one 1 MiB chunk of shared memory repeats, its page tables filled at once; the C
// library cannot free it, so the text is never destroyed.
void* Mirror(size_t size) {
  if (size < (size_t(1) << 30)) return std::malloc(size);
  const size_t chunk = size_t(1) << 20, total = (size + chunk - 1) / chunk * chunk;
  const int fd = ::memfd_create("mirror", 0);
  char* base = static_cast<char*>(
      ::mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  if (fd < 0 || ::ftruncate(fd, chunk) != 0 || base == MAP_FAILED) return nullptr;
  for (size_t offset = 0; offset < total; offset += chunk) {
    void* mapped = ::mmap(base + offset, chunk, PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) return nullptr;
  }
  return base;
}

TEST(StringLimitTest, LengthsNearTheIntegerLimits) {
  // A String of 2^30 - 1 elements would take more bytes than a size holds.
  EXPECT_EQ("overflow", Thrown([] { String(0x3FFFFFFFu, L'x'); }));
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
  GTEST_SKIP() << "ThreadSanitizer keeps shadow memory for every byte written, which the "
                  "2 GiB text of this test would make real";
#endif
#endif
  // Large blocks come from Mirror while the test runs, also for a fault that copies.
  const auto previous = detail::ReplaceAllocFunctions({Mirror, nullptr});
  static ANSIString& text = *new ANSIString(0x80000000u, 'x');
  // Replacing one element by the whole text would make 0xFFFFFFFF elements.
  EXPECT_EQ("too large", Thrown([] { text.replace(0, 1, text); }));
  EXPECT_EQ("overflow", Thrown([] { text.append(text); }));
  EXPECT_EQ(0x80000000u, text.length());
  // Lengths that differ by more than an int holds compare without losing the sign.
  EXPECT_GT(text.compare(ANSIString()), 0);
  EXPECT_LT(ANSIString().exactCompare(text), 0);
  detail::ReplaceAllocFunctions(previous);
}

// The elements of any kind as a wide text, bytes by their unsigned value; with the
// capacity after a '|' when asked.
template <typename S>
std::wstring W(const S& s, bool capacity = false) {
  std::wstring w;
  for (auto c : s) w.push_back(wchar_t(std::make_unsigned_t<typename S::value_type>(c)));
  return capacity ? w + L"|" + std::to_wstring(s.capacity()) : w;
}

Utf8String Utf8(const std::string& bytes) { return Make<Utf8String>(bytes); }

TEST(StringConversionTest, BetweenTheFourKinds) {
  // The system set is UTF-8; ASCIIString takes US-ASCII, as the converter does on its own.
  const testing::ScopedProcessLocale locale("C.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600z", a0b(L"a\0b", 3);
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const char lacking[] = "a\xE9z", *nullNarrow = nullptr;
  const std::wstring u8 = W(Utf8(utf8)), ascii = L"a???z";  // what US-ASCII lacks is '?'
  const wchar_t *w = wide.c_str(), *wideA0b = a0b.c_str(), *nullWide = nullptr;
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
      {"ansi_from_wide_4_per_element", [&] { return W(ANSIString(w), true); }, u8 + L"|20"},
      {"utf8_from_wide_is_exact", [&] { return W(Utf8String(w), true); }, u8 + L"|11"},
      {"string_from_utf8", [&] { return W(String(nullptr, Utf8(utf8)), true); }, wide + L"|5"},
      {"string_from_bad_utf8", [&] { return W(String(nullptr, Utf8("ok\xC3"))); }, L"<invalid>"},
      {"ascii_from_wide", [&] { return W(ASCIIString(w)); }, ascii},
      {"ansi_from_string_system_set", [&] { return W(ANSIString(String(w))); }, u8},
      {"ascii_from_string_us_ascii", [&] { return W(ASCIIString(nullptr, String(w))); }, ascii},
      // Appending the partner kind goes through the system set too, in every form.
      {"string_append_ansi", [&] { return W(String(L"<").append(ANSIString(w))); }, L"<" + wide},
      {"ansi_append_string", [&] { return W(ANSIString("<").append(String(w))); }, L"<" + u8},
      {"ansi_plus_string", [&] { return W(ANSIString("<") + String(w)); }, L"<" + u8},
      {"ansi_plus_wide", [&] { return W(ANSIString("<") + w); }, L"<" + u8},
      {"string_from_ascii", [&] { return W(String(nullptr, ASCIIString(lacking))); }, L"a?z"},
      {"utf8_from_ascii", [&] { return W(Utf8String(nullptr, ASCIIString("a\0\xE9", 3u)), true); },
       std::wstring(L"a\0\xE9|3", 5)},
      // Embedded zeros travel in counted conversions; zero-terminated ones stop.
      {"ansi_counted", [&] { return W(ANSIString(wideA0b, 3u)); }, a0b},
      {"utf8_range", [&] { return W(Utf8String(wideA0b, wideA0b + 3)); }, a0b},
      {"ascii_zero_terminated", [&] { return W(ASCIIString(wideA0b)); }, L"a"},
      {"string_from_ansi", [&] { return W(String(ANSIString("a\0b", 3u))); }, a0b},
      // Appending another kind: its positions, and growth by the predicted need.
      {"partner_pos_and_count", [&] { return W(String(L"ab", 2u).append(xyz, 1, 1)); }, L"aby"},
      {"partner_count_past_end", [&] { return W(ANSIString("ab").append(wxyz, 0, 9)); }, L"abxyz"},
      {"partner_pos_at_size", [&] { return W(String(L"ab", 2u).append(xyz, 3, 1)); }, L"ab"},
      {"partner_pos_one_past", [&] { return W(String(L"ab", 2u).append(xyz, 4, 0)); }, L"<offset>"},
      {"wide_doubles_the_prediction",  // (2 + 2 * 4) * 2, and then 8 more fit
       [&] { return W(ANSIString("ab").append(L"cd").append(L"ef"), true); }, L"abcdef|20"},
      // In a Utf8String a byte that is not UTF-8 sorts after every character.
      {"utf8_bad_byte_last", [&] { return W(Order<Utf8String>("a\xFF", "ab")); },
       L"1 1 1 1 01010101"},
      {"utf8_bad_byte_first", [&] { return W(Order<Utf8String>("ab", "a\xFF")); },
       L"-1 -1 -1 -1 01100110"},
      // Empty sources give the empty text without asking the converter.
      {"wide_null", [&] { return W(String(nullNarrow)); }, L"", true},
      {"narrow_null", [&] { return W(ANSIString(nullWide)); }, L"", true},
      {"append_null", [&] { return W(String(L"x", 1u).append(nullNarrow)); }, L"x", true},
      // A conversion that fails leaves the string as it was.
      {"append_narrow", [&] { return W(oldWide.append("more")); }, L"<bad_alloc>", true},
      {"append_wide", [&] { return W(oldNarrow.append(L"more")); }, L"<bad_alloc>", true},
      {"assign_wide", [&] { return W(oldNarrow = L"new"); }, L"<bad_alloc>", true},
      // Bad arguments are reported, and give the empty text or change nothing.
      {"range_null_begin", [&] { return W(ANSIString(nullWide, wideA0b)); }, L"", false, "begin"},
      {"backwards", [&] { return W(String(lacking + 2, lacking)); }, L"", false, "begin <= end"},
      {"counted_null", [&] { return W(ASCIIString(nullWide, 2u)); }, L"", false,
       "(len == 0) || (source != 0)"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Both converters fail (as if out of memory) for the rows that say so.
    const bool toWide = osdep::MakeAnsiToWideThrow(c.convertersOff);
    const bool toNarrow = osdep::MakeWideToAnsiThrow(c.convertersOff);
    std::wstring got;
    const std::string thrown = Thrown([&] { got = c.op(); });
    if (!thrown.empty()) got = L"<" + std::wstring(thrown.begin(), thrown.end()) + L">";
    osdep::MakeAnsiToWideThrow(toWide);
    osdep::MakeWideToAnsiThrow(toNarrow);
    EXPECT_EQ(c.expected, got);
    EXPECT_EQ(c.report, Reported(alerts));
    EXPECT_EQ(L"old old", W(oldWide) + L" " + W(oldNarrow));
  }
}

}  // namespace
}  // namespace vo::qel
