// The cost of a message through liblorvath.so against a bare syslog(3) of the same bytes.
// Both reach a live /dev/log: the program enters a private mount namespace at start-up
// and drains its own datagram socket there from a second thread, so neither side is
// measured against a missing or slow daemon. Message sizes: 100 B and 4 KiB.
//
// Ratio = BM_LorvathWriteMessage / BM_BareSyslog at the same size. Run for example with
//   --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
//   --benchmark_report_aggregates_only=true
#include <sys/socket.h>
#include <syslog.h>

#include <memory>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

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
  // Reads and drops every record for the life of the program.
  std::thread([fd = log->receiver->fd()] {
    static char buffer[1 << 17];
    for (;;) recv(fd, buffer, sizeof buffer, 0);
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

}  // namespace
