// String operations next to the standard strings doing the same work, in one run:
// appending (single elements and short texts, with amortised growth), searching
// (an element, a text, a set) and case-insensitive comparison (against a
// std::toupper / std::towupper loop). Each pair runs on the same input; the ratio of
// their times is the figure of interest.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <string>

#include "qel/StringBase.h"

namespace {

using vo::qel::ANSIString;
using vo::qel::String;
using vo::qel::Utf8String;

// The standard string of the same element type.
template <typename S>
using Std = std::basic_string<typename S::value_type>;

template <typename T>
T Text(size_t n, char fill) {
  return T(static_cast<typename T::size_type>(n), typename T::value_type(fill));
}

// ---------------------------------------------------------------------------
// Appending
// ---------------------------------------------------------------------------

template <typename T>
void BM_AppendChar(benchmark::State& state) {
  using C = typename T::value_type;
  const int64_t n = state.range(0);
  for (auto _ : state) {
    T s;
    for (int64_t i = 0; i < n; ++i) s += C('a' + (i & 7));
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

template <typename T>
void BM_AppendPointerOne(benchmark::State& state) {
  using C = typename T::value_type;
  const C ch = C('x');
  const int64_t n = state.range(0);
  for (auto _ : state) {
    T s;
    for (int64_t i = 0; i < n; ++i) s.append(&ch, 1);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

template <typename T>
void BM_AppendWord(benchmark::State& state) {
  const T word = Text<T>(8, 'w');
  const int64_t n = state.range(0);
  for (auto _ : state) {
    T s;
    for (int64_t i = 0; i < n; ++i) s += word;
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK_TEMPLATE(BM_AppendChar, ANSIString)->Arg(16)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendChar, std::string)->Arg(16)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendChar, String)->Arg(16)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendChar, std::wstring)->Arg(16)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendPointerOne, ANSIString)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendPointerOne, std::string)->Arg(4096);
BENCHMARK_TEMPLATE(BM_AppendWord, ANSIString)->Arg(512);
BENCHMARK_TEMPLATE(BM_AppendWord, std::string)->Arg(512);
BENCHMARK_TEMPLATE(BM_AppendWord, String)->Arg(512);
BENCHMARK_TEMPLATE(BM_AppendWord, std::wstring)->Arg(512);

// ---------------------------------------------------------------------------
// Searching. The haystack is `n` elements of 'a'..'h' in turn, so the first element
// of the needle keeps matching; what is looked for sits at the very end.
// ---------------------------------------------------------------------------

template <typename T>
T Haystack(size_t n) {
  T s;
  for (size_t i = 0; i < n; ++i) s += typename T::value_type('a' + (i & 7));
  return s;
}

template <typename T>
void BM_FindChar(benchmark::State& state) {
  using C = typename T::value_type;
  T s = Haystack<T>(size_t(state.range(0)));
  s += C('z');
  for (auto _ : state) benchmark::DoNotOptimize(s.find(C('z'), 0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_FindText(benchmark::State& state) {
  using C = typename T::value_type;
  T s = Haystack<T>(size_t(state.range(0)));
  T needle = Haystack<T>(6);
  needle += C('z');
  s += needle;
  for (auto _ : state) benchmark::DoNotOptimize(s.find(needle, 0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_RFindChar(benchmark::State& state) {
  using C = typename T::value_type;
  T s(1, C('z'));
  s += Haystack<T>(size_t(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(s.rfind(C('z'), T::npos));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_FindFirstOf(benchmark::State& state) {
  using C = typename T::value_type;
  T s = Haystack<T>(size_t(state.range(0)));
  s += C('y');
  T set(1, C('y'));
  set += C('z');
  for (auto _ : state) benchmark::DoNotOptimize(s.find_first_of(set, 0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK_TEMPLATE(BM_FindChar, ANSIString)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindChar, std::string)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindChar, String)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindChar, std::wstring)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindText, ANSIString)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindText, std::string)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindText, String)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindText, std::wstring)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_RFindChar, ANSIString)->Arg(4096);
BENCHMARK_TEMPLATE(BM_RFindChar, std::string)->Arg(4096);
BENCHMARK_TEMPLATE(BM_RFindChar, String)->Arg(4096);
BENCHMARK_TEMPLATE(BM_RFindChar, std::wstring)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindFirstOf, ANSIString)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindFirstOf, std::string)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindFirstOf, String)->Arg(4096);
BENCHMARK_TEMPLATE(BM_FindFirstOf, std::wstring)->Arg(4096);

// ---------------------------------------------------------------------------
// Case-insensitive comparison of two texts that differ only in case, so every
// element is compared. The reference upper-cases both sides element by element with
// the C library, as the string kinds' comparison does.
// ---------------------------------------------------------------------------

int ToUpper(char c) { return std::toupper(static_cast<unsigned char>(c)); }
wint_t ToUpper(wchar_t c) { return std::towupper(static_cast<wint_t>(c)); }

template <typename T>
int UpperCaseLoopCompare(const T& a, const T& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = ToUpper(a[i]);
    const auto y = ToUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

template <typename T>
void CaseVariants(size_t n, T& lower, T& upper) {
  using C = typename T::value_type;
  for (size_t i = 0; i < n; ++i) {
    lower += C('a' + i % 26);
    upper += C('A' + i % 26);
  }
}

template <typename T>
void BM_CaseCompare(benchmark::State& state) {
  T lower, upper;
  CaseVariants(size_t(state.range(0)), lower, upper);
  for (auto _ : state) benchmark::DoNotOptimize(lower.compare(upper));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_CaseCompareToUpperLoop(benchmark::State& state) {
  T lower, upper;
  CaseVariants(size_t(state.range(0)), lower, upper);
  for (auto _ : state) benchmark::DoNotOptimize(UpperCaseLoopCompare(lower, upper));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void BM_EqualIgnoringCase(benchmark::State& state) {
  T lower, upper;
  CaseVariants(size_t(state.range(0)), lower, upper);
  for (auto _ : state) benchmark::DoNotOptimize(lower == upper);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK_TEMPLATE(BM_CaseCompare, ANSIString)->Arg(16)->Arg(1024);
BENCHMARK_TEMPLATE(BM_CaseCompareToUpperLoop, std::string)->Arg(16)->Arg(1024);
BENCHMARK_TEMPLATE(BM_EqualIgnoringCase, ANSIString)->Arg(16)->Arg(1024);
BENCHMARK_TEMPLATE(BM_CaseCompare, String)->Arg(16)->Arg(1024);
BENCHMARK_TEMPLATE(BM_CaseCompareToUpperLoop, std::wstring)->Arg(16)->Arg(1024);
// UTF-8 decodes each character before upper-casing it; shown against the byte loop.
BENCHMARK_TEMPLATE(BM_CaseCompare, Utf8String)->Arg(16)->Arg(1024);

}  // namespace
