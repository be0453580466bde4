// The critical section: nesting, ownership and misplaced leaves, and an exact count
// under contention.
#include "qel/osdep/CriticalSection.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "qel/osdep/CriticalSectionRAIIHelper.h"
#include "tests/support/AlertRecorder.h"

// These tests nest enters and misplace leaves on purpose, which the analysis rejects.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace vo::qel::osdep {
namespace {

using Guard = CriticalSectionRAIIHelper<CriticalSection, true>;

TEST(CriticalSectionTest, NestingOwnershipAndMisplacedLeaves) {
  CriticalSection cs;
  testing::AlertRecorder checks;
  cs.enter();
  ASSERT_TRUE(cs.tryEnter()) << "the holder nests";
  { Guard guard(cs); }
  cs.leave();
  std::thread([&] {
    EXPECT_FALSE(cs.inOwningThread() || cs.tryEnter()) << "one enter is left";
    cs.leave();
  }).join();
  EXPECT_EQ(1u, checks.take().size()) << "a non-owner's leave is reported and releases nothing";
  EXPECT_TRUE(cs.inOwningThread());
  cs.leave();
  EXPECT_FALSE(cs.inOwningThread());
  std::thread([&] {
    EXPECT_TRUE(cs.tryEnter()) << "free after the last leave";
    cs.leave();
  }).join();
  cs.leave();
  EXPECT_EQ(2u, checks.take().size()) << "a leave of a free lock: not entered, not the owner";
}

// Under TSan: any access to `count` outside the lock is a reported race.
TEST(CriticalSectionTest, ContentionKeepsAnExactCount) {
  CriticalSection cs;
  int count = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        Guard outer(cs);
        ++count;
        if (!cs.tryEnter()) continue;  // the holder nests: never taken
        ++count;
        cs.leave();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(4 * 2000 * 2, count);
}

}  // namespace
}  // namespace vo::qel::osdep
