// Cost of a forwarded engine call once it is resolved: the library's exported
// NumericArrayResize (and GGetOneErrorCode) against a direct call of the engine
// module's own function, both reached through a pointer from dlsym as a host would.
// Both sides work on the same handle in the same run; read the ratio of the
// "forwarded" to the "direct" time.
//
// Needs the stand-in engine: cmake --build <dir> --target EngineBinding_bench ombrix_runtime
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "lorvath.h"

namespace {

struct Setup {
  decltype(&NumericArrayResize) forwardedResize = nullptr;
  decltype(&NumericArrayResize) directResize = nullptr;
  decltype(&GGetOneErrorCode) forwardedText = nullptr;
  decltype(&GGetOneErrorCode) directText = nullptr;
  decltype(&DSDisposeHandle) directDispose = nullptr;
  std::string error;
};

const Setup& GetSetup() {
  static const Setup setup = [] {
    Setup s;
    void* const engine = ::dlopen(LORVATH_TOOLS_DIR "/ombrix_runtime.so", RTLD_NOW | RTLD_LOCAL);
    void* const library = ::dlopen(LORVATH_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (engine == nullptr || library == nullptr) {
      s.error = std::string("cannot load the engine stand-in or the library: ") + ::dlerror();
      return s;
    }
    s.forwardedResize =
        reinterpret_cast<decltype(s.forwardedResize)>(::dlsym(library, "NumericArrayResize"));
    s.forwardedText =
        reinterpret_cast<decltype(s.forwardedText)>(::dlsym(library, "GGetOneErrorCode"));
    s.directResize =
        reinterpret_cast<decltype(s.directResize)>(::dlsym(engine, "NumericArrayResize"));
    s.directText = reinterpret_cast<decltype(s.directText)>(::dlsym(engine, "GGetOneErrorCode"));
    s.directDispose =
        reinterpret_cast<decltype(s.directDispose)>(::dlsym(engine, "DSDisposeHandle"));
    auto setBundle = reinterpret_cast<decltype(&SetOmbrixRunTimeBundle)>(
        ::dlsym(library, "SetOmbrixRunTimeBundle"));
    if (!s.forwardedResize || !s.forwardedText || !s.directResize || !s.directText ||
        !s.directDispose || !setBundle) {
      s.error = "missing entry points";
      return s;
    }
    setBundle(static_cast<Lorvath_BundleRef>(engine));
    // Resolve both functions before anything is timed.
    LStrHandle handle = nullptr;
    s.forwardedResize(5, 1, &handle, 1);
    s.directDispose(handle);
    LStrHandle text = nullptr;
    s.forwardedText(99999, &text);
    return s;
  }();
  return setup;
}

void Resize(benchmark::State& state, bool forwarded) {
  const Setup& s = GetSetup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  const auto resize = forwarded ? s.forwardedResize : s.directResize;
  LStrHandle handle = nullptr;
  resize(5, 1, &handle, 64);
  for (auto _ : state) {
    benchmark::DoNotOptimize(resize(5, 1, &handle, 64));
  }
  s.directDispose(handle);
}

void ErrorText(benchmark::State& state, bool forwarded) {
  const Setup& s = GetSetup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  const auto text = forwarded ? s.forwardedText : s.directText;
  for (auto _ : state) {
    LStrHandle handle = nullptr;
    benchmark::DoNotOptimize(text(99999, &handle));  // an unknown code: no handle made
  }
}

void BM_NumericArrayResize_Direct(benchmark::State& state) { Resize(state, false); }
void BM_NumericArrayResize_Forwarded(benchmark::State& state) { Resize(state, true); }
void BM_GGetOneErrorCode_Direct(benchmark::State& state) { ErrorText(state, false); }
void BM_GGetOneErrorCode_Forwarded(benchmark::State& state) { ErrorText(state, true); }

BENCHMARK(BM_NumericArrayResize_Direct);
BENCHMARK(BM_NumericArrayResize_Forwarded);
BENCHMARK(BM_GGetOneErrorCode_Direct);
BENCHMARK(BM_GGetOneErrorCode_Forwarded);

}  // namespace
