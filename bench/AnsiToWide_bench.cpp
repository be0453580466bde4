// Round trip of 1 MiB of text in the locale's character set (C.UTF-8: a mix of
// ASCII, Latin-1 and CJK) to wide text and back, through the library and through
// a bare iconv loop on the same input. Compare BM_Library* with BM_BareIconv*.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qel/osdep/AnsiToWide.h"

namespace {

const std::string& Input() {
  static const std::string text = [] {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
      std::fprintf(stderr, "the C.UTF-8 locale is missing\n");
      std::abort();
    }
    const char* const words[] = {"plain ascii words ", "caf\xC3\xA9 cr\xC3\xA8me ",
                                 "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ", "line\n"};
    std::string s;
    for (size_t i = 0; s.size() < (1u << 20); ++i) s += words[i % 4];
    s.resize(1u << 20);
    // Do not end inside a character.
    while ((static_cast<unsigned char>(s.back()) & 0xC0) == 0x80 ||
           static_cast<unsigned char>(s.back()) >= 0xC0) {
      s.pop_back();
    }
    return s;
  }();
  return text;
}

// What the library does, without its checks and dispatch: one descriptor per call.
size_t BareIconv(const char* to, const char* from, const char* in, size_t inBytes, char* out,
                 size_t outBytes) {
  iconv_t cd = iconv_open(to, from);
  char* inPtr = const_cast<char*>(in);
  char* outPtr = out;
  while (inBytes != 0 && iconv(cd, &inPtr, &inBytes, &outPtr, &outBytes) == size_t(-1)) {
    if (outBytes == 0) break;
    ++inPtr;
    --inBytes;
  }
  iconv_close(cd);
  return static_cast<size_t>(outPtr - out);
}

void BM_LibraryRoundTripAllocating(benchmark::State& state) {
  const std::string& text = Input();
  for (auto _ : state) {
    wchar_t* wideBegin;
    wchar_t* wideEnd;
    vo::qel::osdep::AnsiToWide(text.data(), text.data() + text.size(), "", wideBegin, wideEnd);
    char* narrowBegin;
    char* narrowEnd;
    vo::qel::osdep::WideToAnsi(wideBegin, wideEnd, "", narrowBegin, narrowEnd);
    benchmark::DoNotOptimize(narrowBegin);
    if (static_cast<size_t>(narrowEnd - narrowBegin) != text.size()) state.SkipWithError("lost");
    delete[] narrowBegin;
    delete[] wideBegin;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_BareIconvRoundTripAllocating(benchmark::State& state) {
  const std::string& text = Input();
  for (auto _ : state) {
    wchar_t* wide = new wchar_t[text.size() + 1];
    const size_t wideBytes = BareIconv("UTF-32LE", "", text.data(), text.size(),
                                       reinterpret_cast<char*>(wide), text.size() * 4);
    char* narrow = new char[wideBytes + 1];
    const size_t narrowBytes =
        BareIconv("", "UTF-32LE", reinterpret_cast<char*>(wide), wideBytes, narrow, wideBytes);
    benchmark::DoNotOptimize(narrow);
    if (narrowBytes != text.size()) state.SkipWithError("lost");
    delete[] narrow;
    delete[] wide;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_LibraryRoundTripIntoBuffers(benchmark::State& state) {
  const std::string& text = Input();
  std::vector<wchar_t> wide(text.size());
  std::vector<char> narrow(text.size() * 4);
  for (auto _ : state) {
    wchar_t* wideEnd = wide.data() + wide.size();
    vo::qel::osdep::AnsiToWideNoAlloc(text.data(), text.data() + text.size(), "", wide.data(),
                                      wideEnd);
    char* narrowEnd = narrow.data() + narrow.size();
    const size_t n =
        vo::qel::osdep::WideToAnsiNoAlloc(wide.data(), wideEnd, "", narrow.data(), narrowEnd);
    benchmark::DoNotOptimize(narrow.data());
    if (n != text.size()) state.SkipWithError("lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_BareIconvRoundTripIntoBuffers(benchmark::State& state) {
  const std::string& text = Input();
  std::vector<wchar_t> wide(text.size());
  std::vector<char> narrow(text.size() * 4);
  for (auto _ : state) {
    const size_t wideBytes = BareIconv("UTF-32LE", "", text.data(), text.size(),
                                       reinterpret_cast<char*>(wide.data()), wide.size() * 4);
    const size_t n = BareIconv("", "UTF-32LE", reinterpret_cast<char*>(wide.data()), wideBytes,
                               narrow.data(), narrow.size());
    benchmark::DoNotOptimize(narrow.data());
    if (n != text.size()) state.SkipWithError("lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(BM_LibraryRoundTripAllocating)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareIconvRoundTripAllocating)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryRoundTripIntoBuffers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareIconvRoundTripIntoBuffers)->Unit(benchmark::kMillisecond);

}  // namespace
