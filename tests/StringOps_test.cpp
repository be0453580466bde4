// The operations of every string kind: a long random sequence of them mirrored on
// std::basic_string, then what that model cannot show: comparisons, concatenations
// and lengths near the 32-bit limits.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"
#include "tests/support/StringText.h"

#if defined(__SANITIZE_THREAD__)
#define STRINGOPS_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STRINGOPS_TEST_TSAN 1
#endif
#endif

namespace vo::qel {
namespace {

using namespace std::string_literals;
using testing::Ascii;
using testing::Make;
using testing::T;
using testing::Thrown;

int Sign(int order) { return (order > 0) - (order < 0); }

template <typename S>
class StringOpsTest : public ::testing::Test {};
TYPED_TEST_SUITE(StringOpsTest, testing::StringKinds);

// A long random sequence of operations, mirrored on std::basic_string: after every
// step the texts agree, the invariants hold (terminator in place, length within
// capacity, no failed-check report), and an operation throws exactly when the
// model's does. Positions land at, just past and far past the end as often as inside.
TYPED_TEST(StringOpsTest, RandomOperationsMatchTheStandardString) {
  using S = TypeParam;
  using C = typename S::value_type;
  using P = typename S::size_type;
  using Std = std::basic_string<C>;
  const P npos = S::npos;
  std::mt19937 random(20240611);
  S s, other;
  Std m, t;  // `other` holds `t`
  P pos, n, tpos, tn;
  C ch;
  typename S::BufferStrategy strategy;
  testing::AlertRecorder alerts;
  // Few letters and 0 elements, so that searches find things.
  auto element = [&] { return C("abcA"[random() % 5]); };
  auto position = [&](size_t size) {  // at the end, just past it, npos, or inside
    const unsigned pick = random() % 6;
    return pick == 0 ? P(size) : pick == 1 ? P(size + 1) : pick == 2 ? npos : random() % (size + 1);
  };
  auto count = [&] {  // npos, past the end, or small
    const unsigned pick = random() % 4;
    return pick == 0 ? npos : P(random() % (pick == 1 ? 200 : 5));
  };
  // A position or count for the model, and one the model answered for ours.
  auto N = [=](P p) { return p == npos ? Std::npos : size_t(p); };
  auto R = [=](size_t p) { return p == Std::npos ? npos : P(p); };
  auto same = [&](auto op) {  // the same call on both
    op(s);
    op(m);
  };
  // An exception must come from both or neither (the model's before it changes
  // anything). True when the operation went through.
  auto both = [](auto ours, auto theirs) {
    bool threw = false;
    try {
      theirs();
    } catch (const std::out_of_range&) {
      threw = true;
    }
    EXPECT_EQ(threw ? "offset" : "", Thrown(ours));
    return !threw;
  };
  const std::function<void()> searches[] = {
      [&] {
        EXPECT_EQ(R(m.find(ch, N(pos))), s.find(ch, pos));
        EXPECT_EQ(R(m.rfind(ch, N(pos))), s.rfind(ch, pos));
        EXPECT_EQ(R(m.find_last_of(ch, N(pos))), s.find_last_of(ch, pos));
        EXPECT_EQ(R(m.find_last_not_of(ch, N(pos))), s.find_last_not_of(ch, pos));
      },
      [&] {
        // Unlike the standard's, at or past the end even the empty string is not found.
        EXPECT_EQ(pos >= m.size() ? npos : R(m.find(t, N(pos))), s.find(other, pos));
        EXPECT_EQ(R(m.rfind(t, N(pos))), s.rfind(other, pos));
      },
      [&] {
        EXPECT_EQ(R(m.find_first_of(t, N(pos))), s.find_first_of(other, pos));
        EXPECT_EQ(R(m.find_first_not_of(t, N(pos))), s.find_first_not_of(other, pos));
        EXPECT_EQ(R(m.find_last_of(t, N(pos))), s.find_last_of(other, pos));
        EXPECT_EQ(R(m.find_last_not_of(t, N(pos))), s.find_last_not_of(other, pos));
      },
  };
  const std::function<void()> changes[] = {
      [&] { both([&] { s.append(other, tpos, tn); }, [&] { m.append(t, N(tpos), N(tn)); }); },
      [&] { both([&] { s.append(s, pos, n); }, [&] { m.append(Std(m), N(pos), N(n)); }); },
      [&] { same([&](auto& x) { x.append(t.data(), P(t.size())); }); },
      [&] { same([&](auto& x) { x.append(n % 4, ch); }); },
      [&] { same([&](auto& x) { x += ch; }); },
      [&] { same([&](auto& x) { x += t.c_str(); }); },  // up to the first 0 element
      [&] { same([&](auto& x) { x.assign(t.data(), P(t.size())); }); },
      [&] { same([&, length = P(random() % (m.size() + 6))](auto& x) { x.resize(length, ch); }); },
      [&] { s.reserve(P(random() % 300)); },
      [&] {
        if (both([&] { s.erase(pos, n, strategy); }, [&] { m.erase(N(pos), N(n)); }) &&
            strategy == S::ReleaseUnused) {
          EXPECT_LE(s.capacity(), 2 * s.length()) << "unused memory was kept";
        }
      },
      [&] {
        const size_t first = random() % (m.size() + 1);
        const size_t last = first + random() % (m.size() - first + 1);
        C* next = s.erase(s.begin() + first, s.begin() + last);
        EXPECT_EQ(s.begin() + first, next);
        m.erase(first, last - first);
      },
      [&] {
        const P capacity = s.capacity();
        s.clear(strategy);
        m.clear();
        EXPECT_EQ(strategy == S::ReleaseUnused ? 0u : capacity, s.capacity());
      },
      [&] {
        both([&] { s.replace(pos, n, other, tpos, tn); },
             [&] { m.replace(N(pos), N(n), t, N(tpos), N(tn)); });
      },
      [&, subpos = P()]() mutable {
        subpos = position(m.size());
        both([&] { s.replace(pos, n, s, subpos, tn); },
             [&] { m.replace(N(pos), N(n), Std(m), N(subpos), N(tn)); });
      },
      [&] {  // past the end is a caller error (reported): valid positions only
        const P at = P(random() % (m.size() + 1));
        if (n != npos && uint64_t(at) + n > 0xFFFFFFFFu) return;
        const S part = s.substr(at, n);
        EXPECT_EQ(m.substr(at, N(n)), Std(part.begin(), part.end()));
        EXPECT_EQ(part.length(), part.capacity());
      },
      [&] {
        Std ours(m.size(), C('#')), theirs(m.size(), C('#'));
        P copied = 0;
        size_t expected = 0;
        both([&] { copied = s.copy(&ours[0], n, pos); },
             [&] { expected = m.copy(&theirs[0], N(n), N(pos)); });
        EXPECT_EQ(expected, copied);
        EXPECT_EQ(theirs, ours);
      },
      [&] {
        S swapped = other;
        s.swap(swapped);
        EXPECT_EQ(m, Std(swapped.begin(), swapped.end()));
        m = t;
      },
  };
  const int kSearches = std::size(searches), kOps = kSearches + std::size(changes);
  for (int step = 0; step < 4000 && !this->HasFailure(); ++step) {
    if (m.size() > 120) {  // cut back now and then, so that positions meet the end
      s.erase(P(random() % 40), npos, S::KeepCapacity);
      m.erase(s.length());
    }
    const int op = int(random() % kOps);
    SCOPED_TRACE(::testing::Message() << "step " << step << ", op " << op);
    t.clear();  // short for the searches, so that they find something now and then
    for (size_t k = random() % (op < kSearches ? 4 : 7); k > 0; --k) t += element();
    other = S(t.data(), P(t.size()));
    pos = position(m.size()), n = count(), tpos = position(t.size()), tn = count();
    ch = element();
    strategy = (random() & 1) ? S::ReleaseUnused : S::KeepCapacity;
    (op < kSearches ? searches[op] : changes[op - kSearches])();
    ASSERT_EQ(m, Std(s.begin(), s.end()));
    ASSERT_LE(s.length(), s.capacity());
    ASSERT_EQ(C(0), s.c_str()[s.length()]);
    ASSERT_EQ(m.find(C(0)) != Std::npos, s.hasEmbeddedNull());
    ASSERT_EQ("", testing::Reported(alerts));
  }
}

// compare(), exactCompare() and the relational operators by sign, on ASCII texts that
// mean the same in every kind; the pointer forms stop at the first 0 element.
TYPED_TEST(StringOpsTest, Comparisons) {
  using S = TypeParam;
  struct {
    const char* name;
    std::string left, right;
    int caseless, exact;                // signs of compare() and exactCompare() of the strings
    int caselessPointer, exactPointer;  // the same with the right text zero-terminated
  } const pairs[] = {
      {"case_differs", "Hello", "hELLO", 0, -1, 0, -1},
      {"empty_left", "", "a", -1, -1, -1, -1},
      {"proper_prefix", "ab", "abc", -1, -1, -1, -1},
      {"longer_left", "b", "Ab", 1, 1, 1, 1},
      {"embedded_null_counts", "a\0b"s, "a\0c"s, -1, -1, 0, 0},
      {"embedded_null_then_longer", "a\0"s, "a", 1, 1, 0, 0},
  };
  auto signs = [](bool eq, bool ne, bool lt, bool gt) {
    return std::to_string(eq) + std::to_string(ne) + std::to_string(lt) + std::to_string(gt);
  };
  auto expected = [&](int sign) { return signs(sign == 0, sign != 0, sign<0, sign> 0); };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.name);
    const S l = Make<S>(p.left), r = Make<S>(p.right);
    const auto rz = T<S>(p.right);
    EXPECT_EQ(p.caseless, Sign(l.compare(r)));
    EXPECT_EQ(p.exact, Sign(l.exactCompare(r)));
    EXPECT_EQ(p.caselessPointer, Sign(l.compare(rz.c_str())));
    EXPECT_EQ(p.exactPointer, Sign(l.exactCompare(rz.c_str())));
    EXPECT_EQ(expected(p.caseless), signs(l == r, l != r, l<r, l> r));
    EXPECT_EQ(expected(p.caselessPointer),
              signs(l == rz.c_str(), l != rz.c_str(), l<rz.c_str(), l> rz.c_str()));
  }
  EXPECT_EQ(0, S().compare(static_cast<const typename S::value_type*>(nullptr)));
}

// The concatenations of each kind, the left text first; of two strings exactly allocated.
TYPED_TEST(StringOpsTest, Concatenation) {
  using S = TypeParam;
  using C = typename S::value_type;
  using Other = std::conditional_t<std::is_same<C, wchar_t>::value, char, wchar_t>;
  const S ab = Make<S>("ab");
  const Other other[] = {'c', 'd', 0};
  EXPECT_EQ(4u, (ab + Make<S>("cd")).capacity());
  for (const S& sum :
       {ab + Make<S>("cd"), ab + T<S>("cd").c_str(), (ab + C('c')) + C('d'), ab + other}) {
    EXPECT_EQ("abcd", Ascii(sum));
  }
}

// Utf8String texts with bytes that are not UTF-8 still compare, in one total order:
// characters first as usual, then a bad byte after every character, bad bytes by
// value, and a text that ends first before a longer one.
TEST(StringCompareTest, Utf8BadBytesGiveATotalOrder) {
  struct {
    const char* name;
    std::string left, right;
    int caseless, exact;
  } const pairs[] = {
      {"bad_bytes_by_value", "a\xFF", "a\xFE", 1, 1},
      {"bad_byte_after_every_character", "a\xFF", "ab", 1, 1},
      {"bad_byte_after_the_highest", "\x80", "\xFD\xBF\xBF\xBF\xBF\xBF", 1, 1},
      {"cut_lead_byte_is_bad", "a\xC3", "a\xC3\xA9", 1, 1},
      {"overlong_is_bad", "a\xC0\xAF", "a\xC3\xA9", 1, 1},
      {"case_folds_before_a_bad_byte", "a\xFF", "A\xFF", 0, 1},
      {"prefix_first", "\xFF", "\xFF\x61", -1, -1},  // 0x61 is 'a'
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.name);
    const Utf8String l = Make<Utf8String>(p.left), r = Make<Utf8String>(p.right);
    EXPECT_EQ(p.caseless, Sign(l.compare(r)));
    EXPECT_EQ(-p.caseless, Sign(r.compare(l)));
    EXPECT_EQ(p.exact, Sign(l.exactCompare(r)));
    EXPECT_EQ(-p.exact, Sign(r.exactCompare(l)));
    EXPECT_EQ(p.caseless, Sign(l.compare(r.c_str())));
  }
}

// Texts at the 32-bit limits without the memory: a block of 256 MiB or more is an
// address range in which one 1 MiB chunk of shared memory repeats (its text is then
// not what was written, which is not looked at). The C library cannot free such
// blocks, so the cases run in a child process that ends without destroying them.
// Each call maps a chunk of its own; a refusal by the kernel exits with 4.
void* Mirror(size_t size) {
  const size_t chunk = size_t(1) << 20, total = (size + chunk - 1) / chunk * chunk;
  const int fd = ::memfd_create("mirror", 0);
  char* base = static_cast<char*>(
      ::mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  if (fd < 0 || ::ftruncate(fd, chunk) != 0 || base == MAP_FAILED) std::_Exit(4);
  // Page tables filled at once, so that walking the block takes no page faults.
  for (size_t offset = 0; offset < total; offset += chunk) {
    void* mapped = ::mmap(base + offset, chunk, PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) std::_Exit(4);
  }
  return base;
}

void* MirroringMalloc(size_t size) {
  return size < (size_t(256) << 20) ? std::malloc(size) : Mirror(size);
}

// The longest text (0xFFFFFFFE elements) and what may no longer be added to it, on
// one 1-byte kind (String's byte count overflows at 0x3FFFFFFF; each such text takes
// seconds to write); then lengths that differ by more than an int holds must compare
// without losing the sign. Ends the process with 0 when every expectation held.
[[noreturn]] void CheckLongestText() {
  using S = Utf8String;
  using C = S::value_type;
  detail::ReplaceAllocFunctions({&MirroringMalloc, nullptr});
  const S::size_type longest = 0xFFFFFFFE;
  S huge(static_cast<const C*>(Mirror(longest)), longest);
  S small = Make<S>("ab");
  EXPECT_EQ("overflow", Thrown([&] { huge.append(1, C('x')); }));
  EXPECT_EQ("overflow", Thrown([&] { small.append(huge, 0, S::npos); }));
  // Replacing one element by two would make 0xFFFFFFFF elements; by one is fine.
  EXPECT_EQ("too large", Thrown([&] { huge.replace(0, 1, Make<S>("yz")); }));
  EXPECT_EQ("", Thrown([&] { huge.replace(0, 1, Make<S>("y")); }));
  EXPECT_EQ(longest, huge.length());
  EXPECT_EQ(longest, huge.capacity());
  EXPECT_EQ(2u, small.length());
  EXPECT_GT(huge.compare(S()), 0);
  EXPECT_LT(S().exactCompare(huge), 0);
  const ANSIString narrow(static_cast<const char*>(Mirror(0x80000001u)), 0x80000001u);
  EXPECT_GT(narrow.compare(ANSIString()), 0);
  EXPECT_LT(ANSIString().exactCompare(narrow), 0);
  std::fflush(stdout);
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(StringLimitTest, LengthsNearTheIntegerLimits) {
  // Texts whose buffer size would overflow are refused before anything is allocated
  // (with allocation switched off, an attempt would be bad_alloc instead).
  String wide(3u, L'w');
  MakeDLLMallocThrow(true);
  EXPECT_THROW(String(0x3FFFFFFFu, L'x'), exception::OutOfRange);
  EXPECT_THROW(ANSIString(0xFFFFFFFFu, 'x'), exception::OutOfRange);
  EXPECT_THROW(wide.append(wide.c_str(), 0xFFFFFFFE), exception::OutOfRange)
      << "length + count overflows before any element is read";
  MakeDLLMallocThrow(false);
#if STRINGOPS_TEST_TSAN
  GTEST_SKIP() << "ThreadSanitizer keeps shadow memory for every byte written, which the "
                  "4 GiB texts of this test would make real";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckLongestText(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vo::qel
