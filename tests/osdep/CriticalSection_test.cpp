#include "qel/osdep/CriticalSection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qel/osdep/AtomicInt.h"
#include "qel/osdep/CriticalSectionRAIIHelper.h"
#include "tests/support/AlertRecorder.h"

// These tests nest enters and misplace leaves on purpose, which the analysis rejects.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
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
  AtomicInt n(0), high(2147483647);
  EXPECT_TRUE(n.increment() == 1 && n.increment() == 2 && n.decrement() == 1);
  n.replace(3);
  EXPECT_EQ(3, n.replaceAndReturn(7));
  EXPECT_EQ(7, n.compareExchange(5, 9)) << "no match leaves the value";
  EXPECT_EQ(7, n.compareExchange(7, 9));
  EXPECT_TRUE(n == 9 && n != 7 && n > 8 && !(n > 9) && n >= 9 && !(n >= 10));
  n.replace(0);
  EXPECT_EQ(-1, n.decrement()) << "no floor";
  EXPECT_EQ(-2147483647 - 1, high.increment()) << "wraps";
}

TEST(InterlockedTest, MisalignedLocationIsReportedAndChanged) {
  struct {
    const char* where;
    int32_t (*op)(volatile int32_t*);
    int32_t expected;
  } const cases[] = {
      {"osdep/InterlockedIncrement(55)", InterlockedIncrement, 6},
      {"osdep/InterlockedIncrement(82)", InterlockedDecrement, 4},
      {"osdep/CompareExchange(127)",
       [](volatile int32_t* loc) { return CompareExchangeMemory(loc, 5, 8) == 5 ? *loc : -1; }, 8},
  };
  testing::AlertRecorder checks;
  for (const auto& c : cases) {
    alignas(64) unsigned char bytes[8] = {0, 5, 0, 0, 0};  // one cache line: no split lock
    EXPECT_EQ(c.expected, c.op(reinterpret_cast<volatile int32_t*>(bytes + 1))) << c.where;
    EXPECT_EQ(Checks{std::string(c.where) + " (reinterpret_cast<uintptr_t>(loc) % 4) == 0 | "},
              checks.take());
  }
}

void OnOtherThread(const std::function<void()>& body) { std::thread(body).join(); }

TEST(CriticalSectionTest, NestingOwnershipAndMisplacedLeaves) {
  CriticalSection cs;
  testing::AlertRecorder checks;
  cs.enter();
  ASSERT_TRUE(cs.tryEnter()) << "the holder nests";
  { Guard guard(cs); }
  cs.leave();
  OnOtherThread([&] {
    EXPECT_FALSE(cs.inOwningThread() || cs.tryEnter()) << "one enter is left";
    cs.leave();
  });
  EXPECT_EQ(Checks{kNotOwner}, checks.take()) << "a non-owner releases nothing";
  EXPECT_TRUE(cs.inOwningThread());
  cs.leave();
  EXPECT_FALSE(cs.inOwningThread());
  OnOtherThread([&] {
    EXPECT_TRUE(cs.tryEnter()) << "free after the last leave";
    cs.leave();
  });
  cs.leave();
  EXPECT_EQ((Checks{kUnentered, kNotOwner}), checks.take()) << "leave of a free lock";
  {
    Guard guard(cs);
    guard.leave();
  }
  EXPECT_EQ((Checks{"osdep/CriticalSectionRAIIHelper(76) cs_.inOwningThread() | Cannot leave "
                    "CriticalSection if not in it!",
                    kUnentered, kNotOwner}),
            checks.take())
      << "a guard's destructor leaves a lock it no longer holds";
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
        if (cs.tryEnter()) cs.enter(), ++count, cs.leave(), cs.leave();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(4 * 2000 * 2, count) << "a nested tryEnter always succeeds";
  EXPECT_TRUE(cs.tryEnter()) << "left free";
  cs.leave();
}

}  // namespace
}  // namespace vo::qel::osdep
