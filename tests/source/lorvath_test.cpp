// What the host cannot provoke from outside: caught exceptions as host error codes, the
// out-of-memory paths, and a reservation meeting the logger's creation or a release
// meeting a write (a thread held there by a slow allocation).
#include <gtest/gtest.h>

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
#include "source/lorvath_internal.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"

namespace {

using vo::lorvath::Logger;
using vo::lorvath::TranslateCaughtException;
using vo::lorvath::testing::HostString;
using vo::qel::MakeDLLMallocThrow;
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

// Severity 9 answers 1 when a logger exists and 2 when none does, and logs nothing.
int32_t Probe() { return Lorvath_WriteMessage(nullptr, nullptr, nullptr, 9); }

TEST(OutOfMemoryTest, FailedLoggerCreationAndFailedCopiesReturn2) {
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

  EXPECT_EQ(Lorvath_Reserve(&a), 0);
  EXPECT_EQ(Probe(), 1) << "the count fell to 0, so this reservation was the first again";
  const HostString record("x");
  ASSERT_FALSE(MakeDLLMallocThrow(true));
  EXPECT_EQ(Lorvath_WriteMessage(nullptr, nullptr, record.handle(), 0), 2);
  EXPECT_EQ(Lorvath_WriteMessageUTF8(nullptr, nullptr, record.handle(), 0), 2);
  MakeDLLMallocThrow(false);
  EXPECT_EQ(Lorvath_Unreserve(&a), 0);
  EXPECT_EQ(Probe(), 2);
}

// Runs `inside` on a thread of its own while the next allocation of `n` bytes takes
// 200 ms (and then fails when `fails`), and returns once that allocation has begun (or
// after 5 s): the caller acts while the thread is held inside the library there.
struct Stalled {
  static inline std::atomic<size_t> size{0};
  static inline std::atomic<bool> started{false}, finished{false}, fails{false};
  static void* Malloc(size_t n) {
    size_t expected = n;
    if (n == 0 || !size.compare_exchange_strong(expected, 0)) return std::malloc(n);
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished = true;
    return fails ? nullptr : std::malloc(n);
  }
  Stalled(size_t n, bool fail, std::function<void()> inside) {
    started = finished = false;
    fails = fail;
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

TEST(ConcurrencyTest, ReservationWhileTheLoggerIsCreatedReturnsOnlyOnceItExists) {
  unsigned char first = 0, second = 0;
  {
    Stalled creating(sizeof(Logger), false, [&] { EXPECT_EQ(Lorvath_Reserve(&first), 0); });
    // The count is 1 now, the logger not yet made.
    EXPECT_TRUE(Stalled::started) << "the logger was not allocated";
    EXPECT_EQ(Lorvath_Reserve(&second), 0);
    EXPECT_EQ(Probe(), 1) << "a reservation returned before the logger existed";
  }
  EXPECT_EQ(Lorvath_Unreserve(&first), 0);
  EXPECT_EQ(Lorvath_Unreserve(&second), 0);
  EXPECT_EQ(Probe(), 2);
}

TEST(ConcurrencyTest, LastReleaseWaitsForWritesInProgress) {
  unsigned char flag = 0;
  ASSERT_EQ(Lorvath_Reserve(&flag), 0);
  // The write stalls while copying its message, then fails for want of memory, so that
  // nothing reaches the log.
  const HostString message(std::string(77, 'x'));
  {
    Stalled writing(77 + 1, true, [&] {
      EXPECT_EQ(Lorvath_WriteMessage(nullptr, nullptr, message.handle(), 0), 2);
    });
    EXPECT_TRUE(Stalled::started) << "the message was not copied";
    EXPECT_EQ(Lorvath_Unreserve(&flag), 0);
    EXPECT_TRUE(Stalled::finished) << "the logger was destroyed while a write was using it";
  }
  EXPECT_EQ(Probe(), 2);
}

}  // namespace
