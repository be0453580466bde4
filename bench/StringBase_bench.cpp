// The string storage core next to std::string on the same work: appending one
// element at a time (amortised growth), and copying a short and a long text (every
// copy of ours allocates; std::string keeps short texts inside the object).
#include <benchmark/benchmark.h>

#include <string>

#include "qel/StringBase.h"

namespace {

using vo::qel::ANSIString;

void BM_AppendChar_ANSIString(benchmark::State& state) {
  const char ch = 'x';
  for (auto _ : state) {
    ANSIString s;
    for (int64_t i = 0; i < state.range(0); ++i) s.append(&ch, 1);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_AppendChar_StdString(benchmark::State& state) {
  const char ch = 'x';
  for (auto _ : state) {
    std::string s;
    for (int64_t i = 0; i < state.range(0); ++i) s.append(&ch, 1);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Copy_ANSIString(benchmark::State& state) {
  const ANSIString source(static_cast<ANSIString::size_type>(state.range(0)), 'x');
  for (auto _ : state) {
    ANSIString copy(source);
    benchmark::DoNotOptimize(copy.c_str());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Copy_StdString(benchmark::State& state) {
  const std::string source(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.c_str());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_AppendChar_ANSIString)->Arg(16)->Arg(4096);
BENCHMARK(BM_AppendChar_StdString)->Arg(16)->Arg(4096);
BENCHMARK(BM_Copy_ANSIString)->Arg(8)->Arg(1024);
BENCHMARK(BM_Copy_StdString)->Arg(8)->Arg(1024);

}  // namespace
