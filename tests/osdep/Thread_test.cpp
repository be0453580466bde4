// Threads: start, join and cleanup in every order, names that reach the kernel, and the
// map from the nine host priorities to the policy's range; misuse is reported through
// failed checks, counted here.
#include "qel/osdep/Thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "qel/osdep/Event.h"
#include "qel/osdep/ThreadSetDebugName.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::osdep {
namespace {

struct TestThread : Thread {
  explicit TestThread(std::function<unsigned()> run) : body(std::move(run)) {}
  ~TestThread() override { cleanup(); }
  unsigned proc() override { return body(); }
  std::function<unsigned()> body;
};

TEST(ThreadTest, StartJoinCleanup) {
  testing::AlertRecorder checks;
  int runs = 0;
  TestThread thread([&] {
    EXPECT_TRUE(thread.isCurrentThread()) << "the body sees its own id";
    if (++runs <= 2) thread.waitForThreadToTerminate();  // reported, not a deadlock
    return 7u;
  });
  for (int round = 1; round <= 2; ++round) {
    thread.start(nullptr, round == 1 ? 0 : 256 * 1024);
    thread.cleanup();
    EXPECT_EQ(round, runs);
  }
  thread.cleanup();  // twice: reported
  EXPECT_EQ(4u, checks.take().size()) << "two self-joins, a second cleanup and its join";
  thread.start(0);
  thread.waitForThreadToTerminate();
  // A second join returns at once, even when a new thread has the old one's id.
  Event release(false, false);
  std::thread unrelated([&] { release.wait(3000); });
  const auto begin = std::chrono::steady_clock::now();
  thread.waitForThreadToTerminate();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  release.set();
  unrelated.join();
  thread.start(0);  // started twice: reported
  EXPECT_EQ(1u, checks.take().size()) << "a second start";
}

// Each named thread is also joined from two threads at once, which join it once.
TEST(ThreadTest, NamesReachTheKernelCutAndJoinsHappenOnce) {
  const std::string head(30, 'h'), tail(30, 't');
  struct {
    std::string given, clean;
  } const cases[] = {{"worker", "worker"},
                     {head + "mmm" + tail, head + "mmm" + tail},
                     {head + std::string(40, 'm') + tail, head + "..." + tail}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given.size());
    EXPECT_EQ(c.clean, ThreadCleanName(c.given.c_str(), 64).c_str());
    Event started(true, false), release(true, false);
    pid_t tid = 0;
    TestThread thread([&] { return tid = gettid(), started.set(), release.wait(), 0u; });
    thread.start(c.given.c_str(), 0);
    started.wait();
    std::string comm;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(tid) + "/comm"), comm);
    EXPECT_EQ(c.clean.substr(0, 15), comm);
    std::thread joiner([&] { thread.waitForThreadToTerminate(); });
    release.set();
    thread.waitForThreadToTerminate();
    joiner.join();
  }
}

TEST(ThreadTest, PriorityMap) {
  struct {
    int32_t policy, min, def, max;
    PriorityMap expected;
  } const cases[] = {
      {0, 15, 31, 47, {15, 15, 23, 30, 31, 32, 39, 47, 47}},  // wide range
      {0, 1, 2, 3, {1, 1, 1, 1, 2, 3, 3, 3, 3}},              // default next to both ends
      {0, 1, 3, 5, {1, 1, 2, 2, 3, 4, 4, 5, 5}},              // default two from the ends
      {2, 1, 0, 99, {1, 1, 25, 49, 50, 51, 75, 99, 99}},      // default outside the range
  };
  for (const auto& c : cases) {
    PriorityMap expected = c.expected;
    for (auto& e : expected) e |= c.policy << 16;
    EXPECT_EQ(expected, detail::MakePriorityMap(c.policy, c.min, c.def, c.max)) << c.max;
  }
}

}  // namespace
}  // namespace vo::qel::osdep
