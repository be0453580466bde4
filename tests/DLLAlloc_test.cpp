#include "qel/DLLAlloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

// Sees every request that reaches the C library, refusing all of them.
struct RefusingAllocator {
  static inline std::vector<size_t> sizes;
  static void* Malloc(size_t size) {
    sizes.push_back(size);
    return nullptr;
  }
  static void* Realloc(void*, size_t size) { return Malloc(size); }

  RefusingAllocator() : previous_(detail::ReplaceAllocFunctions({&Malloc, &Realloc})) {
    sizes.clear();
  }
  ~RefusingAllocator() { detail::ReplaceAllocFunctions(previous_); }
  detail::AllocFunctions previous_;
};

TEST(DLLAllocTest, SwitchMakesEveryAllocationFailAndComesBack) {
  void* kept = DLLMalloc(16);
  std::memset(kept, 'k', 16);
  EXPECT_FALSE(MakeDLLMallocThrow(true));
  EXPECT_TRUE(MakeDLLMallocThrow(true)) << "second call reports the switch already on";
  {
    RefusingAllocator refusing;
    EXPECT_EQ(nullptr, DLLMallocNoThrow(16));
    EXPECT_EQ(nullptr, DLLReallocNoThrow(kept, 64));
    EXPECT_THROW(DLLMalloc(16), std::bad_alloc);
    EXPECT_THROW(DLLRealloc(kept, 64), std::bad_alloc);
    EXPECT_TRUE(RefusingAllocator::sizes.empty()) << "no request reached the C library";
  }
  // A refused resize leaves the old block as it was.
  EXPECT_EQ(std::string(16, 'k'), std::string(static_cast<char*>(kept), 16));
  EXPECT_TRUE(MakeDLLMallocThrow(false));
  void* grown = DLLRealloc(kept, 64);
  ASSERT_NE(nullptr, grown);
  EXPECT_EQ(std::string(16, 'k'), std::string(static_cast<char*>(grown), 16));
  DLLFree(grown);

  // A non-null block resized to 0 is freed (the leak checker would see it otherwise) and
  // gives null, which DLLRealloc does not count as a failure.
  EXPECT_EQ(nullptr, DLLReallocNoThrow(DLLMalloc(8), 0));
  EXPECT_NO_THROW(EXPECT_EQ(nullptr, DLLRealloc(DLLMalloc(8), 0)));
}

TEST(DLLAllocTest, SizesAbove32BitsAreReportedAndStillAttempted) {
  for (const bool realloc : {false, true}) {
    for (const size_t size : {size_t{0xFFFFFFFFu}, size_t{0x100000000}}) {
      SCOPED_TRACE((realloc ? "realloc " : "malloc ") + std::to_string(size));
      const bool reported = size == 0x100000000;
      testing::AlertRecorder alerts;
      RefusingAllocator refusing;
      ::testing::internal::CaptureStderr();
      EXPECT_THROW(realloc ? DLLRealloc(nullptr, size) : DLLMalloc(size), std::bad_alloc);
      const std::string err = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(std::vector<size_t>{size}, RefusingAllocator::sizes);
      ASSERT_EQ(reported ? 1u : 0u, alerts.alerts().size());
      EXPECT_EQ(reported ? "DLLAlloc(#): Assertion failed: Cannot allocate more than UINT_MAX "
                           "bytes.\a\n"
                         : "",
                testing::WithoutLineNumber(err));
      if (reported) {
        EXPECT_NE(std::string::npos,
                  alerts.alerts()[0].text.find("Expression: size <= UINT_MAX\n"));
      }
    }
  }
}

}  // namespace
}  // namespace vo::qel
