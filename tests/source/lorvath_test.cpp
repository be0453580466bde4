// What the host cannot provoke from outside: caught exceptions as host error codes, the
// out-of-memory paths, a reservation meeting the logger's creation (a thread held there
// by a slow allocation), and a fork in the middle of a write (through a syslog stand-in).
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/Alert.h"
#include "source/lorvath_internal.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"

namespace {

using vo::lorvath::Logger;
using vo::lorvath::ReplaceSyslog;
using vo::lorvath::TranslateCaughtException;
using vo::lorvath::testing::HostString;
using vo::qel::MakeDLLMallocThrow;
using vo::qel::osdep::AlertButton;
using vo::qel::osdep::AlertPresenter;
using vo::qel::testing::AlertRecorder;
namespace exception = vo::qel::exception;

template <class E>
int32_t CodeFor(const E& e) {
  try {
    throw e;
  } catch (...) {
    return TranslateCaughtException();
  }
}

TEST(TranslateCaughtExceptionTest, EachKindBecomesItsHostCode) {
  AlertRecorder alerts;
  EXPECT_EQ(CodeFor(std::bad_array_new_length()), 2) << "a kind of bad_alloc";
  EXPECT_EQ(CodeFor(exception::InvalidArgument2(vo::qel::ANSIString("severity"))),
            static_cast<int32_t>(0x8ABC700F));
  EXPECT_EQ(CodeFor(std::length_error("x")), 42);
  // The base class has no real code: reported (the only report here), then passed on as -1.
  EXPECT_EQ(CodeFor(exception::Exception()), -1);
  EXPECT_EQ(alerts.alerts().size(), 1u);
  EXPECT_DEATH(CodeFor(5), "") << "a foreign exception ends the process";
}

// The logger outlives every reservation, so a test of its creation runs in a fresh copy
// of this program, in which no reservation has been made yet.
template <class Body>
void InFreshProcess(Body body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        body();
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Severity 9 answers 1 when a logger exists and 2 when none does, and logs nothing.
int32_t Probe() { return Lorvath_WriteMessage(nullptr, nullptr, nullptr, 9); }

// Runs `inside` on a thread of its own while the next allocation of `n` bytes takes 200 ms,
// and returns once that allocation has begun (or after 5 s): the caller acts meanwhile.
struct Stalled {
  static inline std::atomic<size_t> size{0};
  static inline std::atomic<bool> started{false};
  static void* Malloc(size_t n) {
    size_t expected = n;
    if (n == 0 || !size.compare_exchange_strong(expected, 0)) return std::malloc(n);
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return std::malloc(n);
  }
  Stalled(size_t n, std::function<void()> inside) {
    started = false;
    size = n;
    previous = vo::qel::detail::ReplaceAllocFunctions({&Malloc, nullptr});
    thread = std::thread(std::move(inside));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!started && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  }
  ~Stalled() {
    thread.join();
    vo::qel::detail::ReplaceAllocFunctions(previous);
    size = 0;
  }
  vo::qel::detail::AllocFunctions previous;
  std::thread thread;
};

// Out of memory, creation and copies return 2; a reservation meeting the logger's creation
// (after a run of reservations whose logger could not be made) returns once it exists.
TEST(OutOfMemoryTest, FailedLoggerCreationAndFailedCopiesReturn2) {
  InFreshProcess([] {
    unsigned char a = 0, b = 0;
    ASSERT_FALSE(MakeDLLMallocThrow(true));
    EXPECT_EQ(Lorvath_Reserve(&a), 2);
    EXPECT_EQ(a, 1) << "the flag stays set";
    MakeDLLMallocThrow(false);
    EXPECT_EQ(Probe(), 2) << "no logger";
    EXPECT_EQ(Lorvath_Reserve(&b), 0);
    EXPECT_EQ(Probe(), 2) << "only a first reservation creates the logger";
    EXPECT_EQ(Lorvath_Unreserve(&a), 0);
    EXPECT_EQ(Lorvath_Unreserve(&b), 0);
    {
      Stalled creating(sizeof(Logger), [&] { EXPECT_EQ(Lorvath_Reserve(&a), 0); });
      // The count is 1 now, the logger not yet made.
      EXPECT_TRUE(Stalled::started) << "the logger was not allocated";
      EXPECT_EQ(Lorvath_Reserve(&b), 0);
      EXPECT_EQ(Probe(), 1) << "a reservation returned before the logger existed";
    }
    EXPECT_EQ(Lorvath_Unreserve(&b), 0);
    const HostString record("x");
    ASSERT_FALSE(MakeDLLMallocThrow(true));
    EXPECT_EQ(Lorvath_WriteMessage(nullptr, nullptr, record.handle(), 0), 2);
    EXPECT_EQ(Lorvath_WriteMessageUTF8(nullptr, nullptr, record.handle(), 0), 2);
    MakeDLLMallocThrow(false);
    EXPECT_EQ(Lorvath_Unreserve(&a), 0);
    EXPECT_EQ(Probe(), 2);
  });
}

// syslog(3) stand-ins: one that holds its caller until `release` is set, one that counts.
std::atomic<bool> g_holding{false}, g_release{false};
std::atomic<int> g_records{0};
void HoldingSyslog(int, const char*, ...) {
  g_holding = true;
  while (!g_release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
void CountingSyslog(int, const char*, ...) { ++g_records; }

// A child forked while another thread of its parent is inside a write can still take and
// give back reservations, its last release included, and write.
TEST(ForkTest, ChildOfAProcessInsideAWriteReservesWritesAndReleases) {
  const auto previous = ReplaceSyslog(&HoldingSyslog);
  unsigned char flag = 0;
  ASSERT_EQ(Lorvath_Reserve(&flag), 0);
  const HostString message("m");
  std::thread writer([&] { Lorvath_WriteMessage(nullptr, nullptr, message.handle(), 0); });
  while (!g_holding) std::this_thread::yield();
  const pid_t child = fork();
  if (child == 0) {
    alarm(5);
    ReplaceSyslog(&CountingSyslog);
    unsigned char own = 0;
    // The parent's flag came along; giving it back too makes the child's last release.
    const bool ok = Lorvath_Reserve(&own) == 0 && Lorvath_Unreserve(&flag) == 0 &&
                    Lorvath_WriteMessage(nullptr, nullptr, message.handle(), 0) == 0 &&
                    g_records == 1 && Lorvath_Unreserve(&own) == 0 && Probe() == 2;
    _exit(ok ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = -1;
  waitpid(child, &status, 0);  // a hung child ends by its alarm
  g_release = true;
  writer.join();
  ReplaceSyslog(previous);
  EXPECT_EQ(Lorvath_Unreserve(&flag), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A thread cancelled while its failed-check report waits for the alert's answer (asleep,
// at a cancellation point) ends only after the report, at its next cancellation point.
TEST(CancellationTest, AFailedCheckReportIsNeverCancelledMidway) {
  struct HoldingPresenter : AlertPresenter {
    AlertButton present(const char*, const char*, const char*, const char*) override {
      holding = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return vo::qel::osdep::k_DEFAULT_BUTTON;
    }
    std::atomic<bool> holding{false}, release{false};
  } presenter;
  static std::atomic<int32_t> result{-1};
  AlertPresenter* const previous = vo::qel::osdep::SetAlertPresenter(&presenter);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void*) -> void* {
                  result = Lorvath_Reserve(nullptr);
                  for (;;) pause();
                },
                nullptr),
            0);
  while (!presenter.holding) std::this_thread::yield();
  pthread_cancel(thread);
  presenter.release = true;
  void* ended = nullptr;
  pthread_join(thread, &ended);
  vo::qel::osdep::SetAlertPresenter(previous);
  EXPECT_EQ(ended, PTHREAD_CANCELED);
  EXPECT_EQ(result, LORVATH_ERR_ARGUMENT);
}

}  // namespace
