// Events: which reads clear an auto-reset event and how many waiters a set wakes
// (waits that time out are the test framework's watchdog, tested there).
#include "qel/osdep/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vo::qel::osdep {
namespace {

TEST(EventTest, ReadsClearOnlyAnAutoResetEvent) {
  for (const bool manual : {false, true}) {
    EXPECT_TRUE(Event(manual, true).checkOnly());
    for (const bool byWait : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "manual " << manual << ", read by wait " << byWait);
      Event event(manual, false);
      EXPECT_FALSE(event.wait(0) || event.wait(1) || event.check());
      event.set();
      EXPECT_TRUE(event.checkOnly() && event.checkOnly());
      EXPECT_TRUE(byWait ? event.wait(100) : event.check());
      EXPECT_EQ(manual, event.checkOnly());
      event.set();
      event.resetIfAuto();
      EXPECT_EQ(manual, event.checkOnly());
      event.reset();
      EXPECT_FALSE(event.checkOnly());
    }
  }
}

// Three threads wait: an auto-reset set wakes one of them, a manual-reset set all.
TEST(EventTest, WakeUps) {
  for (const bool manual : {false, true}) {
    Event event(manual, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { woken += event.wait(10000); });
    std::vector<int> counts;
    while (woken < 3 && counts.size() < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // until the waiters wait
      event.set();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      counts.push_back(woken);
    }
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(manual ? std::vector<int>({3}) : std::vector<int>({1, 2, 3}), counts);
  }
}

}  // namespace
}  // namespace vo::qel::osdep
