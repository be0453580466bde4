#include "qel/osdep/CriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qel/osdep/AtomicInt.h"
#include "qel/osdep/CriticalSectionRAIIHelper.h"
#include "tests/support/FailedChecks.h"

// These tests nest enters and misplace leaves on purpose, which the analysis rejects.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

#if defined(__SANITIZE_THREAD__)
#define CRITICALSECTION_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CRITICALSECTION_TEST_TSAN 1
#endif
#endif

namespace vo::qel::osdep {
namespace {

using Checks = std::vector<std::string>;
using Guard = CriticalSectionRAIIHelper<CriticalSection, true>;

const std::string kUnentered =
    "osdep/UnixCriticalSection(91) CS(cs_)->refs_ > 0 | Calling CriticalSection::leave() "
    "without calling CriticalSection::enter() first.";
const std::string kNotOwner =
    "osdep/UnixCriticalSection(103) false | Attempting to leave critical section from a thread "
    "different than the owner.";

TEST(AtomicIntTest, Operations) {
  AtomicInt n(0);
  EXPECT_EQ(1, n.increment());
  EXPECT_EQ(2, n.increment());
  EXPECT_EQ(1, n.decrement());
  n.replace(3);
  EXPECT_EQ(3, n.replaceAndReturn(7));
  EXPECT_EQ(7, n.compareExchange(5, 9)) << "no match leaves the value";
  EXPECT_EQ(7, n.compareExchange(7, 9));
  EXPECT_TRUE(n == 9 && n != 7 && n > 8 && !(n > 9) && n >= 9 && !(n >= 10));
  AtomicInt low(0);
  EXPECT_EQ(-1, low.decrement()) << "no floor";
  AtomicInt high(2147483647);
  EXPECT_EQ(-2147483647 - 1, high.increment()) << "wraps";
}

TEST(InterlockedTest, MisalignedLocationIsReportedAndChanged) {
  struct {
    const char* report;
    int32_t (*op)(volatile int32_t*);
    int32_t expected;
  } const cases[] = {
      {"osdep/InterlockedIncrement(55)", InterlockedIncrement, 6},
      {"osdep/InterlockedIncrement(82)", InterlockedDecrement, 4},
      {"osdep/CompareExchange(127)",
       [](volatile int32_t* loc) {
         CompareExchangeMemory(loc, 5, 8);
         return *loc;
       },
       8},
  };
  testing::FailedChecks checks;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    alignas(64) unsigned char bytes[8] = {0, 5, 0, 0, 0};  // one cache line: no split lock
    EXPECT_EQ(c.expected, c.op(reinterpret_cast<volatile int32_t*>(bytes + 1)));
    EXPECT_EQ(Checks{std::string(c.report) + " (reinterpret_cast<uintptr_t>(loc) % 4) == 0 | "},
              checks.take());
  }
}

// Runs `body` on a thread of its own and waits for it.
template <class F>
void OnOtherThread(F body) {
  std::thread(body).join();
}

TEST(CriticalSectionTest, NestingAndOwnership) {
  CriticalSection cs;
  testing::FailedChecks checks;
  cs.enter();
  ASSERT_TRUE(cs.tryEnter()) << "the holder nests";
  {
    Guard guard(cs);
    OnOtherThread([&] { EXPECT_FALSE(cs.tryEnter()); });
  }
  cs.leave();
  EXPECT_TRUE(cs.inOwningThread()) << "one enter is left";
  OnOtherThread([&] {
    EXPECT_FALSE(cs.inOwningThread());
    cs.leave();
  });
  EXPECT_EQ(Checks{kNotOwner}, checks.take()) << "a non-owner releases nothing";
  EXPECT_TRUE(cs.inOwningThread());
  cs.leave();
  EXPECT_FALSE(cs.inOwningThread());
  OnOtherThread([&] {
    ASSERT_TRUE(cs.tryEnter()) << "free after the last leave";
    cs.leave();
  });
  cs.leave();
  EXPECT_EQ((Checks{kUnentered, kNotOwner}), checks.take()) << "leave of a free lock";
  {
    Guard guard(cs);
    guard.leave();
    EXPECT_TRUE(checks.take().empty());
  }
  EXPECT_EQ((Checks{"osdep/CriticalSectionRAIIHelper(76) cs_.inOwningThread() | Cannot leave "
                    "CriticalSection if not in it!",
                    kUnentered, kNotOwner}),
            checks.take())
      << "a guard's destructor leaves a lock it no longer holds";
}

TEST(CriticalSectionTest, EnterBlocksUntilTheLastLeave) {
  CriticalSection cs;
  std::atomic<bool> entered{false};
  cs.enter();
  cs.enter();
  std::thread other([&] {
    Guard guard(cs);
    entered = true;
  });
  cs.leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered) << "still held once";
  cs.leave();
  other.join();
  EXPECT_TRUE(entered);
}

TEST(CriticalSectionTest, ContentionKeepsAnExactCount) {
  CriticalSection cs;
  int count = 0;  // guarded by cs; TSan sees every access
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        Guard outer(cs);
        ++count;
        if (cs.tryEnter()) {
          cs.enter();
          ++count;
          cs.leave();
          cs.leave();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(4 * 2000 * 2, count);
  EXPECT_FALSE(cs.inOwningThread());
  EXPECT_TRUE(cs.tryEnter()) << "left free";
  cs.leave();
}

TEST(CriticalSectionTest, DestroyingAHeldLockIsReported) {
#if defined(CRITICALSECTION_TEST_TSAN)
  GTEST_SKIP() << "ThreadSanitizer reports the destruction of a locked mutex itself";
#endif
  testing::FailedChecks checks;
  auto* cs = new CriticalSection;
  cs->enter();
  delete cs;
  EXPECT_EQ(Checks{"osdep/UnixCriticalSection(65) 0 == result | Error trying to destroy the "
                   "UnixCriticalSection mutex. Most likely it either didn't initialize "
                   "successfully or it's still locked. Check for orphaned synchronization object "
                   "files in /tmp."},
            checks.take());
}

}  // namespace
}  // namespace vo::qel::osdep
