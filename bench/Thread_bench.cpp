// The cost of Event and Thread against the standard library doing the same.
//
// BM_EventRoundTrip / BM_StdCondvarRoundTrip: one thread sets a "ping" auto-reset event and
// waits for "pong"; a second thread waits for ping and sets pong. The reference is the
// same pair of auto-reset flags over a bare std::mutex + std::condition_variable each.
// BM_ThreadStartJoin / BM_StdThreadStartJoin: start a thread with an empty body and join
// it; the named variant also names the new thread (one system call more).
// Run for example with
//   --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "qel/osdep/Event.h"
#include "qel/osdep/Thread.h"

namespace {

using vo::qel::osdep::Event;

// The reference: an auto-reset flag over std::mutex + std::condition_variable.
class StdEvent {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signaled_ = true;
    }
    cond_.notify_one();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cond_.wait(lock, [this] { return signaled_; });
    signaled_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  bool signaled_ = false;
};

template <class E>
void RoundTrip(benchmark::State& state, E& ping, E& pong) {
  bool done = false;  // written before the last ping, read after it
  std::thread echo([&] {
    for (;;) {
      ping.wait();
      if (done) break;
      pong.set();
    }
  });
  for (auto _ : state) {
    ping.set();
    pong.wait();
  }
  done = true;
  ping.set();
  echo.join();
}

void BM_EventRoundTrip(benchmark::State& state) {
  Event ping(false, false), pong(false, false);
  RoundTrip(state, ping, pong);
}
BENCHMARK(BM_EventRoundTrip)->UseRealTime();

void BM_StdCondvarRoundTrip(benchmark::State& state) {
  StdEvent ping, pong;
  RoundTrip(state, ping, pong);
}
BENCHMARK(BM_StdCondvarRoundTrip)->UseRealTime();

class EmptyThread : public vo::qel::osdep::Thread {
 public:
  ~EmptyThread() override { cleanup(); }

 private:
  unsigned proc() override { return 0; }
};

void BM_ThreadStartJoin(benchmark::State& state) {
  EmptyThread thread;
  for (auto _ : state) {
    thread.start(0);
    thread.cleanup();
  }
}
BENCHMARK(BM_ThreadStartJoin)->UseRealTime();

void BM_ThreadStartJoinNamed(benchmark::State& state) {
  EmptyThread thread;
  for (auto _ : state) {
    thread.start("bench worker", 0);
    thread.cleanup();
  }
}
BENCHMARK(BM_ThreadStartJoinNamed)->UseRealTime();

void BM_StdThreadStartJoin(benchmark::State& state) {
  for (auto _ : state) std::thread([] {}).join();
}
BENCHMARK(BM_StdThreadStartJoin)->UseRealTime();

}  // namespace
