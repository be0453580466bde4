// AutoBuffer next to std::vector<unsigned char>: copying a buffer (copies share their
// block, so a 1 MiB buffer copies as fast as a 1-byte one) and appending pieces of 16
// bytes and 4 KiB up to 1 MiB (AutoBuffer grows by 10 %, the vector doubles).
#include <benchmark/benchmark.h>

#include <vector>

#include "qel/AutoBuffer.h"

namespace {

using vo::qel::AutoBuffer;

constexpr int64_t kMiB = 1 << 20;

void BM_Copy_AutoBuffer(benchmark::State& state) {
  const std::vector<unsigned char> bytes(static_cast<size_t>(state.range(0)), 'x');
  const AutoBuffer source(bytes.data(), static_cast<unsigned int>(bytes.size()));
  for (auto _ : state) {
    AutoBuffer copy(source);
    benchmark::DoNotOptimize(copy.Data());
  }
}

void BM_Append_AutoBuffer(benchmark::State& state) {
  const std::vector<unsigned char> piece(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    AutoBuffer b;
    for (int64_t n = 0; n < kMiB; n += state.range(0)) {
      b.Append(piece.data(), static_cast<unsigned int>(piece.size()));
    }
    benchmark::DoNotOptimize(b.Data());
  }
  state.SetBytesProcessed(state.iterations() * kMiB);
}

void BM_Append_Vector(benchmark::State& state) {
  const std::vector<unsigned char> piece(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::vector<unsigned char> b;
    for (int64_t n = 0; n < kMiB; n += state.range(0))
      b.insert(b.end(), piece.begin(), piece.end());
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * kMiB);
}

BENCHMARK(BM_Copy_AutoBuffer)->Arg(1)->Arg(kMiB);
BENCHMARK(BM_Append_AutoBuffer)->Arg(16)->Arg(4096);
BENCHMARK(BM_Append_Vector)->Arg(16)->Arg(4096);

}  // namespace
