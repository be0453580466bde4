// The UTF-8 codec against glibc's iconv (UTF-8 <-> UTF-32LE, descriptor opened
// once) and against a loop of ICU's U8_NEXT / U8_APPEND_UNSAFE macros, on the same
// input in one run, so that ratios are read from one report.
//
// Names: <Decode|Encode>/<implementation>/<text>/<bytes of UTF-8>. The buffer-filling
// forms compare with iconv and the ICU loop writing into a buffer made beforehand;
// the allocating forms compare with the same references when they also allocate
// their result for each call (iconv and the ICU loop allocate the largest size the
// input could need, as a caller without a counting pass must).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"

#if defined(LORVATH_HAVE_ICU)
#include <unicode/utf8.h>
#endif

namespace {

struct Text {
  const char* name;
  std::string utf8;           // cut at a character boundary to at most the size asked
  std::vector<wchar_t> wide;  // the same text decoded
};

const char kAsciiSample[] =
    "The quick brown fox jumps over the lazy dog while the system log records "
    "every message with its severity, its process and the time it arrived. ";

// Latin-1 accents, Greek words and CJK in one text, as a multilingual log would hold.
const char kMixedSample[] =
    "Gr\xC3\xB6\xC3\x9F"
    "e der Datei: 42 Bytes, caf\xC3\xA9 na\xC3\xAFve "
    "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
    "\xCE\xBA\xCE\xB5\xCE\xAF\xCE\xBC\xCE\xB5\xCE\xBD\xCE\xBF "
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9"
    "\xE3\x83\x88 (\xE4\xB8\xAD\xE6\x96\x87) ";

const char kCjkSample[] =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9"
    "\xE3\x83\x88\xE3\x81\xA8\xE4\xB8\xAD\xE6\x96\x87\xE3\x81\xAE\xE6\x96\x87\xE7\xAB\xA0"
    "\xE3\x82\x92\xE6\xB7\xB7\xE3\x81\x9C\xE3\x81\x9F\xE8\xA9\xA6\xE9\xA8\x93\xE7\x94\xA8"
    "\xE3\x81\xAE\xE5\x85\xA5\xE5\x8A\x9B\xE3\x80\x82";

// Repeats `sample` up to `size` bytes, cut back to the last whole character.
std::string Repeat(const char* sample, size_t size) {
  std::string out;
  while (out.size() < size) out += sample;
  size_t cut = size;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  out.resize(cut);
  return out;
}

Text MakeText(const char* name, const char* sample, size_t size) {
  Text text{name, Repeat(sample, size), {}};
  const auto* p = reinterpret_cast<const unsigned char*>(text.utf8.data());
  wchar_t* wide = vo::qel::Utf8ToWide(p, text.utf8.size());
  text.wide.assign(wide, wide + std::wcslen(wide));
  delete[] wide;
  return text;
}

const unsigned char* Bytes(const Text& t) {
  return reinterpret_cast<const unsigned char*>(t.utf8.data());
}

// ---- decoding --------------------------------------------------------------

void DecodeQelFill(benchmark::State& state, const Text& t) {
  std::vector<wchar_t> out(t.utf8.size() + 1);
  for (auto _ : state) {
    size_t n = vo::qel::Utf8ToWide(Bytes(t), Bytes(t) + t.utf8.size(), out.data(),
                                   out.data() + out.size());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void DecodeQelAlloc(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    wchar_t* out = vo::qel::Utf8ToWide(Bytes(t), t.utf8.size());
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

// Counting alone, the first pass of the allocating form.
void DecodeQelCount(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::qel::GetUtf8StringLength(Bytes(t), Bytes(t) + t.utf8.size()));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

size_t IconvDecode(iconv_t cd, const Text& t, wchar_t* out, size_t capacity) {
  char* in = const_cast<char*>(t.utf8.data());
  size_t inLeft = t.utf8.size();
  char* o = reinterpret_cast<char*>(out);
  size_t outLeft = capacity * sizeof(wchar_t);
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) std::abort();
  return capacity - outLeft / sizeof(wchar_t);
}

void DecodeIconvFill(benchmark::State& state, const Text& t) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::vector<wchar_t> out(t.utf8.size() + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(IconvDecode(cd, t, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void DecodeIconvAlloc(benchmark::State& state, const Text& t) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  for (auto _ : state) {
    wchar_t* out = new wchar_t[t.utf8.size() + 1];
    out[IconvDecode(cd, t, out, t.utf8.size())] = 0;
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  iconv_close(cd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

#if defined(LORVATH_HAVE_ICU)
size_t IcuDecode(const Text& t, wchar_t* out) {
  const uint8_t* s = Bytes(t);
  const int32_t length = int32_t(t.utf8.size());
  size_t n = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    out[n++] = wchar_t(c);
  }
  return n;
}

void DecodeIcuFill(benchmark::State& state, const Text& t) {
  std::vector<wchar_t> out(t.utf8.size() + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(IcuDecode(t, out.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void DecodeIcuAlloc(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    wchar_t* out = new wchar_t[t.utf8.size() + 1];
    out[IcuDecode(t, out)] = 0;
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}
#endif

// ---- encoding --------------------------------------------------------------

const wchar_t* WideBegin(const Text& t) { return t.wide.data(); }
const wchar_t* WideEnd(const Text& t) { return t.wide.data() + t.wide.size(); }

void EncodeQelFill(benchmark::State& state, const Text& t) {
  std::vector<unsigned char> out(t.utf8.size() + 16);
  for (auto _ : state) {
    size_t n = vo::qel::WideToUtf8(WideBegin(t), WideEnd(t), out.data(), out.data() + out.size());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void EncodeQelAlloc(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    unsigned char* out = vo::qel::WideToUtf8(WideBegin(t), WideEnd(t));
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

// Measuring alone, the first pass of the allocating form.
void EncodeQelMeasure(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::qel::GetUtf8EncodingBytes(WideBegin(t), WideEnd(t)));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

size_t IconvEncode(iconv_t cd, const Text& t, unsigned char* out, size_t capacity) {
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(t.wide.data()));
  size_t inLeft = t.wide.size() * sizeof(wchar_t);
  char* o = reinterpret_cast<char*>(out);
  size_t outLeft = capacity;
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) std::abort();
  return capacity - outLeft;
}

void EncodeIconvFill(benchmark::State& state, const Text& t) {
  iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
  std::vector<unsigned char> out(t.utf8.size() + 16);
  for (auto _ : state) {
    benchmark::DoNotOptimize(IconvEncode(cd, t, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void EncodeIconvAlloc(benchmark::State& state, const Text& t) {
  iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
  for (auto _ : state) {
    const size_t capacity = t.wide.size() * 4 + 1;
    unsigned char* out = new unsigned char[capacity];
    out[IconvEncode(cd, t, out, capacity - 1)] = 0;
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  iconv_close(cd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

#if defined(LORVATH_HAVE_ICU)
size_t IcuEncode(const Text& t, unsigned char* out) {
  size_t i = 0;
  for (wchar_t c : t.wide) U8_APPEND_UNSAFE(out, i, UChar32(c));
  return i;
}

void EncodeIcuFill(benchmark::State& state, const Text& t) {
  std::vector<unsigned char> out(t.utf8.size() + 16);
  for (auto _ : state) {
    benchmark::DoNotOptimize(IcuEncode(t, out.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}

void EncodeIcuAlloc(benchmark::State& state, const Text& t) {
  for (auto _ : state) {
    unsigned char* out = new unsigned char[t.wide.size() * 4 + 1];
    out[IcuEncode(t, out)] = 0;
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.utf8.size()));
}
#endif

using BenchFn = void (*)(benchmark::State&, const Text&);

struct Implementation {
  const char* name;
  BenchFn fn;
};

int RegisterAll() {
  static std::vector<Text> texts;
  const size_t sizes[] = {16384, 128, 16};
  for (size_t size : sizes) {
    texts.push_back(MakeText("ascii", kAsciiSample, size));
    texts.push_back(MakeText("mixed", kMixedSample, size));
    texts.push_back(MakeText("cjk", kCjkSample, size));
  }
  const Implementation decoders[] = {
    {"QelFill", DecodeQelFill},
    {"IconvFill", DecodeIconvFill},
#if defined(LORVATH_HAVE_ICU)
    {"IcuFill", DecodeIcuFill},
    {"IcuAlloc", DecodeIcuAlloc},
#endif
    {"QelAlloc", DecodeQelAlloc},
    {"IconvAlloc", DecodeIconvAlloc},
    {"QelCount", DecodeQelCount},
  };
  const Implementation encoders[] = {
    {"QelFill", EncodeQelFill},
    {"IconvFill", EncodeIconvFill},
#if defined(LORVATH_HAVE_ICU)
    {"IcuFill", EncodeIcuFill},
    {"IcuAlloc", EncodeIcuAlloc},
#endif
    {"QelAlloc", EncodeQelAlloc},
    {"IconvAlloc", EncodeIconvAlloc},
    {"QelMeasure", EncodeQelMeasure},
  };
  for (const Text& t : texts) {
    // Sizes are named by the bytes asked for; the text is cut to whole characters.
    const size_t asked = t.utf8.size() > 128 ? 16384 : t.utf8.size() > 16 ? 128 : 16;
    for (const auto& d : decoders) {
      const std::string name =
          std::string("Decode/") + d.name + "/" + t.name + "/" + std::to_string(asked);
      benchmark::RegisterBenchmark(name.c_str(), d.fn, t);
    }
    for (const auto& e : encoders) {
      const std::string name =
          std::string("Encode/") + e.name + "/" + t.name + "/" + std::to_string(asked);
      benchmark::RegisterBenchmark(name.c_str(), e.fn, t);
    }
  }
  return 0;
}

const int gRegistered = RegisterAll();

}  // namespace
