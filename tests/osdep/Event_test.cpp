// Events: which reads clear an auto-reset event, how many waiters a set wakes, and an
// event deleted by its waiter while set() returns (timed-out waits: see debug/Test).
#include "qel/osdep/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vo::qel::osdep {
namespace {

TEST(EventTest, ReadsClearOnlyAnAutoResetEvent) {
  const std::function<bool(Event&)> reads[] = {
      [](Event& e) { return e.check(); },
      [](Event& e) { return e.wait(), true; },
      [](Event& e) { return e.wait(100); },
  };
  for (const bool manual : {false, true}) {
    EXPECT_TRUE(Event(manual, true).checkOnly());
    for (size_t i = 0; i < std::size(reads); ++i) {
      SCOPED_TRACE(std::to_string(i) + (manual ? " manual" : " auto"));
      Event event(manual, false);
      EXPECT_FALSE(event.wait(0) || event.wait(1) || event.check());
      event.set();
      EXPECT_TRUE(event.checkOnly() && event.checkOnly() && reads[i](event));
      EXPECT_EQ(manual, event.checkOnly());
      event.set();
      event.resetIfAuto();
      EXPECT_EQ(manual, event.checkOnly());
      event.reset();
      EXPECT_FALSE(event.checkOnly());
    }
  }
}

// Three threads wait, one of them with a limit: an auto-reset set wakes one of them, a
// manual-reset set all.
TEST(EventTest, WakeUps) {
  for (const bool manual : {false, true}) {
    Event event(manual, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (const unsigned int limit : {10000u, Event::kInfinite, Event::kInfinite}) {
      waiters.emplace_back([&, limit] { woken += event.wait(limit); });
    }
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

TEST(EventTest, DeletedByItsWaiterWhileTheSetReturns) {
  for (int i = 0; i < 200; ++i) {
    auto* event = new Event(i % 2 == 0, false);
    std::thread setter([event] { event->set(); });
    while (!event->wait(1)) continue;
    delete event;  // ASan and TSan see any touch of the event by set() after this
    setter.join();
  }
}

}  // namespace
}  // namespace vo::qel::osdep
