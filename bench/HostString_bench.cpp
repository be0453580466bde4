// Reading a 1 KiB host handle into the library's strings next to building a std::string
// from the same bytes: ANSIString and Utf8String copy the bytes, String decodes UTF-8.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "qel/ob/string.h"

namespace {

namespace hs = vo::qel::ob::string;

// A host record of 1 KiB of text, as the host lays it out.
struct Handle {
  Handle() : record(static_cast<LStrPtr>(std::malloc(sizeof(int32_t) + kBytes))) {
    record->cnt = kBytes;
    for (int32_t i = 0; i < kBytes; ++i) record->str[i] = static_cast<unsigned char>('a' + i % 26);
  }
  ~Handle() { std::free(record); }
  static constexpr int32_t kBytes = 1024;
  LStrPtr record;
};

template <typename Read>
void Run(benchmark::State& state, Read read) {
  Handle h;
  for (auto _ : state) {
    auto s = read(&h.record);
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * Handle::kBytes);
}

void BM_Read_StdString(benchmark::State& state) {
  Run(state, [](LStrHandle h) { return std::string((const char*)(*h)->str, (*h)->cnt); });
}
void BM_Read_ANSIString(benchmark::State& state) {
  Run(state, [](LStrHandle h) { return hs::LStrHandleToQelANSIString(h); });
}
void BM_Read_Utf8String(benchmark::State& state) {
  Run(state, [](LStrHandle h) { return hs::LStrHandleToUtf8String(h, hs::k_UTF8_ENCODING); });
}
void BM_Read_String(benchmark::State& state) {
  Run(state, [](LStrHandle h) { return hs::LStrHandleToQelString(h, hs::k_UTF8_ENCODING); });
}

BENCHMARK(BM_Read_StdString);
BENCHMARK(BM_Read_ANSIString);
BENCHMARK(BM_Read_Utf8String);
BENCHMARK(BM_Read_String);

}  // namespace
