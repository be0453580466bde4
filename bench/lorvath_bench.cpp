// The cost of a message through liblorvath.so against a bare syslog(3) of the same bytes.
// Both reach a live /dev/log: the program enters a private mount namespace at start-up
// and drains its own datagram socket there from a second thread, so neither side is
// measured against a missing or slow daemon. Message sizes: 100 B and 4 KiB.
//
// BM_LorvathWriteMessage and BM_BareSyslog time each side alone. BM_Ratio runs both in
// alternating blocks of calls within one loop, so that whatever else the machine does at
// the time weighs on both alike, and reports the ratio of their times per call (wall
// clock and the calling thread's CPU time). Run for example with
//   --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/socket.h>
#include <syslog.h>
#include <time.h>

#include <memory>
#include <string>
#include <thread>

#include "lorvath.h"
#include "tests/support/LorvathLibrary.h"
#include "tests/support/PrivateLog.h"

namespace {

using vo::lorvath::testing::HostString;
using vo::lorvath::testing::LogReceiver;
using vo::lorvath::testing::LorvathLibrary;

struct PrivateLog {
  std::string problem;
  std::unique_ptr<LogReceiver> receiver;
};

// Set up before main, while the program has a single thread.
PrivateLog* const g_log = [] {
  auto* log = new PrivateLog;
  log->problem = vo::lorvath::testing::EnterPrivateDev();
  if (!log->problem.empty()) return log;
  log->receiver = std::make_unique<LogReceiver>();
  log->problem = log->receiver->error();
  if (!log->problem.empty()) return log;
  // Reads and drops every record for the life of the program. It polls rather than
  // sleeps in recv(2): a sleeping reader must be woken by each send, which costs the
  // sender more whenever it is slower than the reader, and so would weigh on the slower
  // side of a comparison more than on the faster one.
  std::thread([fd = log->receiver->fd()] {
    static char buffer[1 << 17];
    for (;;) {
      if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) < 0) sched_yield();
    }
  }).detach();
  return log;
}();

LorvathLibrary& Library() {
  static LorvathLibrary library(LORVATH_LIBRARY_PATH);
  return library;
}

// Text without line feeds, so that both sides send exactly the same bytes.
std::string Message(int64_t size) {
  const std::string words = "the quick brown fox jumps over the lazy dog ";
  std::string text;
  while (static_cast<int64_t>(text.size()) < size) text += words;
  text.resize(static_cast<size_t>(size));
  return text;
}

bool Ready(benchmark::State& state) {
  if (!g_log->problem.empty()) {
    state.SkipWithError(("no private /dev/log: " + g_log->problem).c_str());
    return false;
  }
  if (!Library().error().empty()) {
    state.SkipWithError(Library().error().c_str());
    return false;
  }
  return true;
}

void BM_LorvathWriteMessage(benchmark::State& state) {
  if (!Ready(state)) return;
  LorvathLibrary& lib = Library();
  HostString message(Message(state.range(0)));
  unsigned char flag = 0;
  lib.reserve(&flag);
  for (auto _ : state) {
    if (lib.writeMessage(nullptr, nullptr, message.handle(), Lorvath_SeverityInformation) != 0) {
      state.SkipWithError("Lorvath_WriteMessage failed");
      break;
    }
  }
  lib.unreserve(&flag);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LorvathWriteMessage)->Arg(100)->Arg(4096);

void BM_BareSyslog(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::string text = Message(state.range(0));
  for (auto _ : state) {
    syslog(LOG_INFO, "%s", text.c_str());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BareSyslog)->Arg(100)->Arg(4096);

int64_t Nanoseconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void BM_Ratio(benchmark::State& state) {
  if (!Ready(state)) return;
  constexpr int kBlock = 16;
  LorvathLibrary& lib = Library();
  const std::string text = Message(state.range(0));
  HostString message(text);
  unsigned char flag = 0;
  lib.reserve(&flag);
  // [0]: the library, [1]: bare syslog(3); wall clock and thread CPU time.
  int64_t wall[2] = {0, 0};
  int64_t cpu[2] = {0, 0};
  bool libraryFirst = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const int side = (turn == 0) == libraryFirst ? 0 : 1;
      const int64_t wall0 = Nanoseconds(CLOCK_MONOTONIC);
      const int64_t cpu0 = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
      if (side == 0) {
        for (int i = 0; i < kBlock; ++i) {
          lib.writeMessage(nullptr, nullptr, message.handle(), Lorvath_SeverityInformation);
        }
      } else {
        for (int i = 0; i < kBlock; ++i) syslog(LOG_INFO, "%s", text.c_str());
      }
      cpu[side] += Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
      wall[side] += Nanoseconds(CLOCK_MONOTONIC) - wall0;
    }
    libraryFirst = !libraryFirst;
  }
  lib.unreserve(&flag);
  const double calls = static_cast<double>(state.iterations()) * kBlock;
  state.counters["lorvath_ns"] = static_cast<double>(wall[0]) / calls;
  state.counters["syslog_ns"] = static_cast<double>(wall[1]) / calls;
  state.counters["ratio"] = static_cast<double>(wall[0]) / static_cast<double>(wall[1]);
  state.counters["cpu_ratio"] = static_cast<double>(cpu[0]) / static_cast<double>(cpu[1]);
}
BENCHMARK(BM_Ratio)->Arg(100)->Arg(4096);

}  // namespace
