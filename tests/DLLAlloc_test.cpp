#include "qel/DLLAlloc.h"

#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <string>
#include <vector>

#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

// Sees every request that reaches the C library, refusing all of them.
struct RefusingAllocator {
  static inline std::vector<size_t> sizes;
  static void* Malloc(size_t size) { return sizes.push_back(size), nullptr; }
  static void* Realloc(void*, size_t size) { return Malloc(size); }

  RefusingAllocator() : previous_(detail::ReplaceAllocFunctions({&Malloc, &Realloc})) {
    sizes.clear();
  }
  ~RefusingAllocator() { detail::ReplaceAllocFunctions(previous_); }
  detail::AllocFunctions previous_;
};

TEST(DLLAllocTest, SwitchMakesEveryAllocationFailAndComesBack) {
  void* const kept = DLLMalloc(16);
  EXPECT_FALSE(MakeDLLMallocThrow(true));
  {
    RefusingAllocator refusing;
    EXPECT_EQ(nullptr, DLLMallocNoThrow(16));
    EXPECT_EQ(nullptr, DLLReallocNoThrow(kept, 64));
    EXPECT_THROW(DLLMalloc(16), std::bad_alloc);
    EXPECT_THROW(DLLRealloc(kept, 64), std::bad_alloc);
    EXPECT_TRUE(RefusingAllocator::sizes.empty()) << "no request reached the C library";
  }
  EXPECT_TRUE(MakeDLLMallocThrow(false));
  DLLFree(kept);  // the refused resizes left it as it was: freeing it twice would abort
  // A block resized to 0 is freed (the leak checker sees it otherwise) and gives null,
  // which DLLRealloc does not count as a failure.
  EXPECT_NO_THROW(EXPECT_EQ(nullptr, DLLRealloc(DLLMalloc(8), 0)));
}

TEST(DLLAllocTest, SizesAbove32BitsAreReportedAndStillAttempted) {
  for (const bool realloc : {false, true}) {
    for (const size_t size : {size_t{UINT_MAX}, size_t{UINT_MAX} + 1}) {
      SCOPED_TRACE((realloc ? "realloc " : "malloc ") + std::to_string(size));
      testing::AlertRecorder alerts;
      RefusingAllocator refusing;
      EXPECT_THROW(realloc ? DLLRealloc(nullptr, size) : DLLMalloc(size), std::bad_alloc);
      EXPECT_EQ(std::vector<size_t>{size}, RefusingAllocator::sizes);
      std::string reports;  // "" or the one report, without its line
      for (const std::string& report : alerts.take()) reports += testing::WithoutLineNumber(report);
      EXPECT_EQ(size > UINT_MAX
                    ? "DLLAlloc(#) size <= UINT_MAX | Cannot allocate more than UINT_MAX bytes."
                    : "",
                reports);
    }
  }
}

}  // namespace
}  // namespace vo::qel
