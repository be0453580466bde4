// Comparisons and concatenations of every string kind, and lengths near the 32-bit
// limits.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

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
