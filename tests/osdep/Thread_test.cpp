#include "qel/osdep/Thread.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qel/exception/Exception.h"
#include "qel/osdep/Event.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/ThreadSetDebugName.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::osdep {
namespace {

using Checks = std::vector<std::string>;

struct TestThread : Thread {
  explicit TestThread(
      std::function<unsigned()> run = [] { return 7u; }, bool cleans = true)
      : body(std::move(run)), clean(cleans) {}
  ~TestThread() override {
    if (clean) cleanup();
  }
  unsigned proc() override { return body(); }
  std::function<unsigned()> body;
  bool clean;
};

std::string Report(int line, const std::string& expression, const std::string& message = "") {
  return "osdep/Thread(" + std::to_string(line) + ") " + expression + " | " + message;
}

// The error number of the PosixError that `call` throws, or -1.
int PosixErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const PosixError& e) {
    return static_cast<int>(e.whatcode());
  }
  return -1;
}

TEST(ThreadTest, StartJoinCleanup) {
  testing::AlertRecorder checks;
  int runs = 0;
  TestThread* self = nullptr;
  TestThread thread([&] {
    EXPECT_TRUE(self->isCurrentThread()) << "the body sees its own id";
    if (++runs <= 2) self->waitForThreadToTerminate();
    return 7u;
  });
  self = &thread;
  for (int round = 1; round <= 2; ++round) {
    thread.start(nullptr, round == 1 ? 0 : 256 * 1024);
    thread.cleanup();
    EXPECT_EQ(round, runs);
  }
  const std::string selfJoin = Report(308, "0", "A thread is trying to kill itself.");
  thread.cleanup();
  EXPECT_EQ((Checks{selfJoin, selfJoin, Report(650, "initialized_"), Report(262, "initialized_")}),
            checks.take());
  thread.start(0);
  thread.waitForThreadToTerminate();
  Event release(false, false);
  std::thread unrelated([&] { release.wait(3000); });  // often reuses the joined thread's id
  const auto begin = std::chrono::steady_clock::now();
  thread.waitForThreadToTerminate();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << "joined once";
  release.set();
  unrelated.join();
  thread.start(0);
  {
    TestThread unclean([] { return 0u; }, false);
    unclean.start(0);
    unclean.waitForThreadToTerminate();
  }
  EXPECT_EQ((Checks{Report(478, "!initialized_"),
                    Report(228, "!initialized_",
                           "Classes derived from Thread must call cleanup() in their destructor")}),
            checks.take());
  TestThread refused;  // its cleanup has no thread to join
  EXPECT_EQ(EINVAL, PosixErrorOf([&] { refused.start(nullptr, 1); })) << "below the least stack";
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
  testing::AlertRecorder checks;
  EXPECT_STREQ("a\tb\nc\rd", ThreadCleanName("a\tb\nc\rd", 64).c_str());
  ThreadSetDebugName(0, 0, nullptr);
  const auto noChar = [](const char* line, const char* c, const char* what) {
    return "osdep/ThreadSetDebugName(" + std::string(line) +
           ") vo::qel::ANSIString::npos == " + "cleanName.find('" + c + "') | assumption: no " +
           what + " in thread names violated";
  };
  EXPECT_EQ((Checks{noChar("64", "\\t", "tabs"), noChar("65", "\\n", "newline"),
                    noChar("66", "\\r", "carriage return"),
                    "osdep/ThreadSetDebugName(162) 0 != name | null thread name"}),
            checks.take());
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

TEST(ThreadTest, PriorityCallsOnTheDefaultPolicy) {
  if (sched_getscheduler(0) != SCHED_OTHER) GTEST_SKIP() << "this process is not SCHED_OTHER";
  testing::AlertRecorder checks;
  Event release(true, false);
  TestThread thread([&] { return release.wait(), 0u; });
  EXPECT_EQ(ESRCH, PosixErrorOf([&] { thread.setPriority(0); })) << "no thread yet";
  EXPECT_EQ(ESRCH, PosixErrorOf([&] { thread.getPriorityMapped(); }));
  EXPECT_EQ(
      (Checks{Report(317, "initialized_"), Report(329, "initialized_"), Report(372, "initialized_"),
              Report(339, "initialized_"), Report(415, "initialized_")}),
      checks.take());
  thread.start(0);
  for (int p = -4; p <= 4; ++p) {
    thread.setPriority(p);
    EXPECT_EQ(0, thread.getPriorityNative() | thread.getPriorityMapped()) << "SCHED_OTHER: only 0";
  }
  for (int bad : {-5, 5}) EXPECT_THROW(thread.setPriority(bad), exception::InvalidArgument);
  for (int bad : {-1, 9}) EXPECT_THROW(thread.setPriorityMapped(bad), exception::InvalidArgument);
  for (int native : {31, (SCHED_FIFO << 16) | 10}) {
    EXPECT_EQ(EINVAL, PosixErrorOf([&] { thread.setPriorityNative(native); })) << native;
  }
  EXPECT_EQ(0, thread.getPriorityNative()) << "still SCHED_OTHER, never real-time";
  release.set();
  EXPECT_TRUE(checks.take().empty());
}

}  // namespace
}  // namespace vo::qel::osdep
