// What the host cannot provoke from outside: exceptions as host error codes, running out of
// memory, a reservation meeting the logger's creation, and a write held inside syslog(3)
// (a stand-in) meeting a fork, releases and a cancellation.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "qel/DLLAlloc.h"
#include "qel/exception/Exception.h"
#include "source/lorvath_internal.h"
#include "tests/support/LorvathLibrary.h"

namespace vo::lorvath {
namespace {

TEST(TranslateCaughtExceptionTest, EachKindBecomesItsHostCode) {
  const auto codeFor = [](const auto& e) {
    try {
      throw e;
    } catch (...) {
      return TranslateCaughtException();
    }
  };
  EXPECT_EQ(codeFor(std::length_error("x")), 42);
  EXPECT_EQ(codeFor(qel::exception::InvalidArgument()), LORVATH_ERR_INVALID_ARGUMENT);
  EXPECT_DEATH(codeFor(5), "") << "a foreign exception ends the process";
}

// Severity 9 answers 1 when a logger exists and 2 when none does, and logs nothing.
int32_t Probe() { return Lorvath_WriteMessage(nullptr, nullptr, nullptr, 9); }
const testing::HostString g_message("m");
int32_t Write() { return Lorvath_WriteMessage(nullptr, nullptr, g_message.handle(), 0); }

// Once armed, the next allocation says so and takes 200 ms.
std::atomic<bool> g_armed{false}, g_stalled{false};
void* StallingMalloc(size_t n) {
  if (g_armed.exchange(false)) {
    g_stalled = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return std::malloc(n);
}

// Out of memory, creation and copies return 2; a reservation meeting the logger's creation
// returns once the logger exists. The logger outlives every reservation, so this runs in
// a fresh copy of the program, in which none has been made yet.
TEST(OutOfMemoryTest, FailedLoggerCreationAndFailedCopiesReturn2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  unsigned char a = 0, b = 0;
  const auto run = [&] {
    alarm(10);  // a hang ends the process by SIGALRM
    qel::MakeDLLMallocThrow(true);
    EXPECT_EQ(Lorvath_Reserve(&a), 2);
    qel::MakeDLLMallocThrow(false);
    EXPECT_EQ(Lorvath_Reserve(&b), 0);
    EXPECT_EQ(Probe(), 2) << "only a first reservation creates the logger";
    EXPECT_EQ(Lorvath_Unreserve(&a) + Lorvath_Unreserve(&b), 0);
    g_armed = true;  // the logger's is the next allocation
    const auto previous = qel::detail::ReplaceAllocFunctions({&StallingMalloc, nullptr});
    std::thread creating([&] { EXPECT_EQ(Lorvath_Reserve(&a), 0); });
    while (!g_stalled) std::this_thread::yield();
    EXPECT_EQ(Lorvath_Reserve(&b), 0);  // the count is 1 now, the logger not yet made
    EXPECT_EQ(Probe(), 1) << "a reservation returned before the logger existed";
    creating.join();
    qel::detail::ReplaceAllocFunctions(previous);
    qel::MakeDLLMallocThrow(true);
    EXPECT_EQ(Write(), 2);
    qel::MakeDLLMallocThrow(false);
    return !::testing::Test::HasFailure();
  };
  EXPECT_EXIT(std::exit(run() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A syslog(3) stand-in that counts its calls and holds each caller until `release` is set.
std::atomic<int> g_records{0};
std::atomic<bool> g_release{false};
void HoldingSyslog(int, const char*, ...) {
  for (++g_records; !g_release;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// While a write is held inside syslog(3), a child forked then can still take and give back
// reservations, its last release included, and write; in the parent the last release and
// another reservation do not wait, and the writer, cancelled there, ends alone.
TEST(HeldWriteTest, HoldsUpNoForkNoReleaseAndEndsAloneWhenCancelled) {
  const SyslogFunction previous = ReplaceSyslog(&HoldingSyslog);
  unsigned char flag = 0, own = 0;
  ASSERT_EQ(Lorvath_Reserve(&flag), 0);
  bool returned = false;
  std::thread writer([&returned] {
    Write();
    returned = true;
  });
  while (g_records == 0) std::this_thread::yield();
  const pid_t child = fork();
  if (child == 0) {
    alarm(5);
    g_release = true;
    // The parent's flag came along; giving it back too makes the child's last release.
    const bool ok = Lorvath_Reserve(&own) == 0 && Lorvath_Unreserve(&flag) == 0 && Write() == 0 &&
                    g_records == 2 && Lorvath_Unreserve(&own) == 0 && Probe() == 2;
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);  // a hung child ends by its alarm
  EXPECT_EQ(status, 0) << "the child's wait status";
  EXPECT_EQ(Lorvath_Unreserve(&flag), 0);
  EXPECT_EQ(Lorvath_Reserve(&own), 0);
  pthread_cancel(writer.native_handle());
  writer.join();
  EXPECT_FALSE(returned) << "the cancelled writer unwinds";
  g_release = true;
  EXPECT_EQ(Write(), 0);
  EXPECT_EQ(g_records, 2);
  EXPECT_EQ(Lorvath_Unreserve(&own), 0);
  ReplaceSyslog(previous);
}

}  // namespace
}  // namespace vo::lorvath
