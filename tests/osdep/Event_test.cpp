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

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(EventTest, ReadsClearOnlyAnAutoResetEvent) {
  const struct {
    const char* name;
    std::function<bool(Event&)> read;
  } reads[] = {
      {"check", [](Event& e) { return e.check(); }},
      {"wait", [](Event& e) { return e.wait(), true; }},
      {"wait_0", [](Event& e) { return e.wait(0); }},
      {"wait_100", [](Event& e) { return e.wait(100); }},
      {"wait_infinite", [](Event& e) { return e.wait(Event::kInfinite); }},
  };
  for (const bool manual : {false, true}) {
    for (const auto& r : reads) {
      SCOPED_TRACE(std::string(r.name) + (manual ? " manual" : " auto"));
      Event event(manual, false);
      EXPECT_FALSE(event.wait(0) || event.wait(1) || event.check());
      event.set();
      EXPECT_TRUE(event.checkOnly() && event.checkOnly() && r.read(event));
      EXPECT_EQ(manual, event.checkOnly());
      event.set(), event.resetIfAuto();
      EXPECT_EQ(manual, event.checkOnly());
      event.reset();
      EXPECT_FALSE(event.checkOnly());
      EXPECT_TRUE(Event(manual, true).checkOnly());
    }
  }
}

TEST(EventTest, TimedWaits) {
  Event event(false, false);
  auto begin = Clock::now();
  EXPECT_FALSE(event.wait(50));
  EXPECT_GE(Clock::now() - begin, milliseconds(50));
  EXPECT_LT(Clock::now() - begin, milliseconds(1000)) << "scheduling delay only";
  for (const unsigned int limit : {10000u, Event::kInfinite}) {
    std::thread setter([&] { std::this_thread::sleep_for(milliseconds(20)), event.set(); });
    begin = Clock::now();
    EXPECT_TRUE(event.wait(limit));
    EXPECT_LT(Clock::now() - begin, milliseconds(5000)) << "a set ends the wait early";
    setter.join();
  }
}

TEST(EventTest, DestroyedByItsWaiterWhileTheSetReturns) {
  for (int i = 0; i < 200; ++i) {
    auto* event = new Event(i % 2 == 0, false);
    std::thread setter([event] { event->set(); });
    while (!event->wait(1)) continue;
    delete event;  // ASan and TSan see any touch of the event by set() after this
    setter.join();
  }
}

// Three threads wait; returns how many have woken after each of `sets` sets.
std::vector<int> WakeUps(bool manualReset, int sets) {
  Event event(manualReset, false);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { event.wait(), ++woken; });
  std::vector<int> counts;
  for (int i = 0; i < sets; ++i) {
    std::this_thread::sleep_for(milliseconds(100));  // until the waiters wait
    event.set();
    std::this_thread::sleep_for(milliseconds(100));
    counts.push_back(woken);
  }
  for (auto& waiter : waiters) waiter.join();
  return counts;
}

TEST(EventTest, AutoResetWakesOneWaiterPerSetManualResetAll) {
  EXPECT_EQ((std::vector<int>{1, 2, 3}), WakeUps(false, 3));
  EXPECT_EQ(std::vector<int>{3}, WakeUps(true, 1));
}

}  // namespace
}  // namespace vo::qel::osdep
