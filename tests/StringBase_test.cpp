#include "qel/StringBase.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace {

using namespace std::string_literals;

// The elements of an ASCII text in the element type of kind S (0 elements kept).
template <typename S>
std::vector<typename S::value_type> E(const std::string& ascii) {
  return std::vector<typename S::value_type>(ascii.begin(), ascii.end());
}

// The same, zero-terminated, for the constructors that measure their source.
template <typename S>
std::vector<typename S::value_type> Z(const std::string& ascii) {
  auto e = E<S>(ascii);
  e.push_back(0);
  return e;
}

template <typename S>
std::vector<typename S::value_type> Text(const S& s) {
  return std::vector<typename S::value_type>(s.begin(), s.end());
}

template <typename S>
S Make(const std::string& ascii) {
  const auto e = E<S>(ascii);
  return S(e.data(), static_cast<typename S::size_type>(e.size()));
}

// The failed-check reports made while it lives, by expression.
class Reports {
 public:
  std::vector<std::string> take() {
    std::vector<std::string> expressions;
    const auto alerts = alerts_.alerts();
    for (size_t i = seen_; i < alerts.size(); ++i) {
      const std::string& text = alerts[i].text;
      const std::string key = "    Expression: ";
      const size_t start = text.find(key) + key.size();
      expressions.push_back(text.substr(start, text.find('\n', start) - start));
    }
    seen_ = alerts.size();
    return expressions;
  }

 private:
  testing::AlertRecorder alerts_;
  size_t seen_ = 0;
};

struct AllocationOff {
  AllocationOff() { MakeDLLMallocThrow(true); }
  ~AllocationOff() { MakeDLLMallocThrow(false); }
};

template <typename S>
class StringBaseTest : public ::testing::Test {
 protected:
  // Every test ends without an unexpected failed check: the invariants held.
  void TearDown() override { EXPECT_EQ(std::vector<std::string>{}, reports_.take()); }
  Reports reports_;
};

using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringBaseTest, Kinds);

TYPED_TEST(StringBaseTest, ConstructorsCopyExactly) {
  using S = TypeParam;
  using C = typename S::value_type;
  const auto abcd = Z<S>("abcd");
  const C* p = abcd.data();
  const auto embedded = E<S>("a\0cde"s);
  S roomy = Make<S>("abc");
  roomy.reserve(40);

  struct Case {
    const char* name;
    std::function<S()> make;
    std::string text;
  };
  const Case cases[] = {
      {"default", [] { return S(); }, ""},
      {"null_pointer", [] { return S(static_cast<const C*>(nullptr)); }, ""},
      {"zero_terminated", [&] { return S(p); }, "abcd"},
      {"range", [&] { return S(p + 1, p + 3); }, "bc"},
      {"empty_range", [&] { return S(p + 2, p + 2); }, ""},
      {"counted_keeps_embedded_null", [&] { return S(embedded.data(), 5u); }, "a\0cde"s},
      {"fill", [] { return S(3u, C('x')); }, "xxx"},
      {"fill_none", [] { return S(0u, C('x')); }, ""},
      {"copy_drops_spare_room", [&] { return S(roomy); }, "abc"},
      {"substring_to_end", [&] { return S(S(p), 1, S::npos); }, "bcd"},
      {"substring_counted", [&] { return S(S(p), 1, 2); }, "bc"},
      {"substring_at_size", [&] { return S(S(p), 4, 2); }, ""},
      {"concatenation", [&] { return S(roomy, S(p)); }, "abcabcd"},
      {"concatenation_of_empties", [] { return S(S(), S()); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const S s = c.make();
    EXPECT_EQ(E<S>(c.text), Text(s));
    EXPECT_EQ(c.text.size(), s.length());
    EXPECT_EQ(s.length(), s.capacity()) << "constructors allocate exactly";
    EXPECT_EQ(s.length() == 0, s.empty());
    EXPECT_EQ(C(0), s[s.length()]);
    EXPECT_EQ(c.text.find('\0') != std::string::npos, s.hasEmbeddedNull());
  }
}

TYPED_TEST(StringBaseTest, OffsetPastTheEndThrows) {
  using S = TypeParam;
  const S abcd = Make<S>("abcd");
  for (const typename S::size_type pos : {5u, S::npos}) {
    try {
      S s(abcd, pos, 1);
      ADD_FAILURE() << "no exception for position " << pos;
    } catch (const exception::OutOfRange& e) {
      EXPECT_STREQ("Out of range: String offset out of range", e.what());
      EXPECT_STREQ("StringBase", e.getFileName());
      EXPECT_NE(0u, e.getLineNumber());
      EXPECT_NE(nullptr, dynamic_cast<const exception::OutOfRange2*>(&e));
    }
  }
}

// How each operation sizes the buffer. `before` is a text of that many elements in
// a buffer of `capacity`; the operation's argument is a text of `count` elements.
TYPED_TEST(StringBaseTest, CapacityAfterAssignAppendReserve) {
  using S = TypeParam;
  enum Op { kAssign, kAppend, kReserve };
  struct Case {
    const char* name;
    unsigned before, capacity;
    Op op;
    unsigned count;
    unsigned expectedCapacity;
    bool moves;  // whether the buffer may move
  } const cases[] = {
      {"append_to_empty_doubles", 0, 0, kAppend, 3, 6, true},
      {"append_within_room_stays", 3, 6, kAppend, 2, 6, false},
      {"append_filling_room_exactly", 3, 6, kAppend, 3, 6, false},
      {"append_past_room_doubles_needed", 4, 4, kAppend, 3, 14, true},
      {"append_nothing", 2, 2, kAppend, 0, 2, false},
      {"assign_short_shrinks", 10, 10, kAssign, 2, 2, true},
      {"assign_half_keeps", 10, 10, kAssign, 5, 10, false},
      {"assign_over_half_keeps", 1, 10, kAssign, 6, 10, false},
      {"assign_longer_grows_exactly", 10, 10, kAssign, 11, 11, true},
      {"assign_empty_shrinks_to_zero", 4, 4, kAssign, 0, 0, true},
      {"reserve_below_keeps", 3, 10, kReserve, 5, 10, false},
      {"reserve_above_is_exact", 3, 10, kReserve, 20, 20, true},
  };
  const std::string letters = "abcdefghijklmnopqrstuvwxyz";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s;
    s.reserve(c.capacity);
    s.append(E<S>(letters).data(), c.before);
    ASSERT_EQ(c.capacity, s.capacity());
    const auto* buffer = s.c_str();
    const auto arg = E<S>(std::string(c.count, 'X'));
    std::string expected = letters.substr(0, c.before);
    switch (c.op) {
      case kAssign: s.assign(arg.data(), c.count); expected = std::string(c.count, 'X'); break;
      case kAppend: s.append(arg.data(), c.count); expected += std::string(c.count, 'X'); break;
      case kReserve: s.reserve(c.count); break;
    }
    EXPECT_EQ(c.expectedCapacity, s.capacity());
    EXPECT_EQ(E<S>(expected), Text(s));
    EXPECT_EQ(0, s[s.length()]);
    if (!c.moves) {
      EXPECT_EQ(buffer, s.c_str());
    }
  }
}

TYPED_TEST(StringBaseTest, OwnTextAsSource) {
  using S = TypeParam;
  struct Case {
    const char* name;
    std::function<void(S&)> op;
    std::string expected;
  } const cases[] = {
      {"self_assignment",
       [](S& s) {
         const S& alias = s;
         s = alias;
       },
       "abcd"},
      {"assign_own_text", [](S& s) { s.assign(s.c_str(), s.length()); }, "abcd"},
      // A source equal to the own text is never copied, whatever the count.
      {"assign_own_text_shorter", [](S& s) { s.assign(s.c_str(), 2); }, "abcd"},
      {"assign_own_c_str", [](S& s) { s = s.c_str(); }, "abcd"},
      {"assign_own_tail", [](S& s) { s.assign(s.c_str() + 1, 2); }, "bc"},
      {"append_self", [](S& s) { s.append(s.c_str(), s.length()); }, "abcdabcd"},
      {"append_self_in_room",
       [](S& s) {
         s.reserve(20);
         s.append(s.c_str(), s.length());
       },
       "abcdabcd"},
      {"append_own_tail", [](S& s) { s.append(s.c_str() + 2, 2); }, "abcdcd"},
      {"append_self_twice",
       [](S& s) {
         s.append(s.c_str(), s.length());
         s.append(s.c_str(), s.length());
       },
       "abcdabcdabcdabcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s = Make<S>("abcd");
    c.op(s);
    EXPECT_EQ(E<S>(c.expected), Text(s));
  }
}

TYPED_TEST(StringBaseTest, NullTextIsEmptyText) {
  using S = TypeParam;
  using C = typename S::value_type;
  S s = Make<S>("abcd");
  s = static_cast<const C*>(nullptr);
  EXPECT_TRUE(s.empty());
  s = Make<S>("abcd");
  s.assign(static_cast<const C*>(nullptr), 3);
  EXPECT_TRUE(s.empty());
  s = Make<S>("abcd");
  s.append(static_cast<const C*>(nullptr), 3);
  EXPECT_EQ(E<S>("abcd"), Text(s));
}

TYPED_TEST(StringBaseTest, CallerErrorsAreReportedAndLeaveAValidString) {
  using S = TypeParam;
  using C = typename S::value_type;
  const auto ab = Z<S>("ab");
  const C* p = ab.data();
  struct Case {
    const char* name;
    std::function<S()> make;
    std::vector<std::string> reports;
  } const cases[] = {
      {"range_null_begin", [&] { return S(nullptr, p); }, {"begin"}},
      {"range_null_end", [&] { return S(p, static_cast<const C*>(nullptr)); }, {"end"}},
      {"range_reversed", [&] { return S(p + 2, p); }, {"begin <= end"}},
      {"counted_null", [] { return S(static_cast<const C*>(nullptr), 5u); }, {"that"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const S s = c.make();
    EXPECT_EQ(c.reports, this->reports_.take());
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(0u, s.capacity());
  }

  S s = Make<S>("ab");
  EXPECT_EQ(C(0), s[2]);
  EXPECT_EQ(std::vector<std::string>{}, this->reports_.take());
  EXPECT_EQ(C(0), s[3]) << "past the end answers the terminator";
  EXPECT_EQ(std::vector<std::string>{"(begin_+index <= end_) && (begin_+index >= begin_)"},
            this->reports_.take());
}

TYPED_TEST(StringBaseTest, BrokenTerminatorIsReported) {
  using S = TypeParam;
  S s = Make<S>("ab");
  s[2] = 'x';
  ::testing::internal::CaptureStderr();
  s.length();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::vector<std::string>{"*end_ == 0"}, this->reports_.take());
  EXPECT_EQ(0u, err.find("StringBase(")) << err;
  EXPECT_NE(std::string::npos, err.find("): Assertion failed: *end_ == 0\a\n")) << err;
  s[2] = 0;
  this->reports_.take();
}

TYPED_TEST(StringBaseTest, SwapExchangesBuffers) {
  using S = TypeParam;
  S a = Make<S>("abc");
  S b;
  b.reserve(10);
  const auto* aBuffer = a.c_str();
  const auto* bBuffer = b.c_str();
  a.swap(b);
  EXPECT_EQ(bBuffer, a.c_str());
  EXPECT_EQ(aBuffer, b.c_str());
  EXPECT_EQ(10u, a.capacity());
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(E<S>("abc"), Text(b));
}

TYPED_TEST(StringBaseTest, AllocationSwitchedOff) {
  using S = TypeParam;
  using C = typename S::value_type;
  const auto x = Z<S>("xyzxyzxyzxyz");
  struct Case {
    const char* name;
    std::function<void(S&)> op;
    bool throws;
  } const cases[] = {
      {"default_constructor", [](S&) { S s; }, true},
      {"pointer_constructor", [&](S&) { S s(x.data()); }, true},
      {"copy_constructor", [](S& s) { S copy(s); }, true},
      {"concatenating_constructor", [](S& s) { S both(s, s); }, true},
      {"append_past_room", [&](S& s) { s.append(x.data(), 3); }, true},
      {"append_within_room", [&](S& s) { s.append(x.data(), 2); }, false},
      {"assign_longer", [&](S& s) { s.assign(x.data(), 12); }, true},
      {"assign_short_shrinks", [&](S& s) { s.assign(x.data(), 1); }, true},
      {"assign_keeping_buffer", [&](S& s) { s.assign(x.data(), 4); }, false},
      {"reserve_more", [](S& s) { s.reserve(100); }, true},
      {"assign_self",
       [](S& s) {
         const S& alias = s;
         s = alias;
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    S s = Make<S>("abcd");
    s.reserve(6);
    const std::vector<C> before = Text(s);
    {
      AllocationOff off;
      if (c.throws) {
        EXPECT_THROW(c.op(s), std::bad_alloc);
        EXPECT_EQ(before, Text(s)) << "a failed operation leaves the string unchanged";
        EXPECT_EQ(6u, s.capacity());
      } else {
        EXPECT_NO_THROW(c.op(s));
      }
    }
  }
}

// The first, doubling try of growth may fail quietly; the exact request then wins.
TYPED_TEST(StringBaseTest, GrowthFallsBackToExactSize) {
  using S = TypeParam;
  using C = typename S::value_type;
  struct Limited {
    static void* Realloc(void* p, size_t size) {
      return size > 9 * sizeof(C) ? nullptr : std::realloc(p, size);
    }
  };
  S s = Make<S>("abc");
  const auto more = E<S>("defgh");
  const auto previous = detail::ReplaceAllocFunctions({nullptr, &Limited::Realloc});
  s.append(more.data(), 5);
  detail::ReplaceAllocFunctions(previous);
  EXPECT_EQ(8u, s.capacity());
  EXPECT_EQ(E<S>("abcdefgh"), Text(s));
}

TEST(StringBaseSizeTest, ByteCountsOverflowBeforeAllocating) {
  struct {
    const char* name;
    std::function<unsigned()> bytes;
    bool throws;
    unsigned expected;
  } const cases[] = {
      {"wide_0x3FFFFFFF", [] { return detail::CharactersToBytes<wchar_t>(0x3FFFFFFF); }, false,
       0xFFFFFFFC},
      {"wide_0x40000000", [] { return detail::CharactersToBytes<wchar_t>(0x40000000); }, true, 0},
      {"wide_none", [] { return detail::CharactersToBytes<wchar_t>(0); }, false, 0},
      {"narrow_max", [] { return detail::CharactersToBytes<char>(0xFFFFFFFF); }, false,
       0xFFFFFFFF},
      {"utf8_max", [] { return detail::CharactersToBytes<unsigned char>(0xFFFFFFFF); }, false,
       0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.throws) {
      EXPECT_THROW(c.bytes(), exception::OutOfRange);
    } else {
      EXPECT_EQ(c.expected, c.bytes());
    }
  }

  // The longest texts plus their terminator do not fit: refused before anything is
  // allocated (with allocation switched off, an attempt would be bad_alloc instead).
  String wide(3u, L'w');
  AllocationOff off;
  EXPECT_THROW(String(0x3FFFFFFFu, L'x'), exception::OutOfRange);
  EXPECT_THROW(ANSIString(0xFFFFFFFFu, 'x'), exception::OutOfRange);
  EXPECT_THROW(Utf8String(0xFFFFFFFFu, 'x'), exception::OutOfRange);
  EXPECT_THROW(wide.reserve(0x3FFFFFFF), exception::OutOfRange);
  EXPECT_EQ(3u, wide.capacity());
  EXPECT_THROW(wide.append(wide.c_str(), 0xFFFFFFFE), exception::OutOfRange)
      << "length + count overflows before any element is read";
}

}  // namespace
}  // namespace qel
}  // namespace vo
