#include "qel/debug/Test.h"

#include <atomic>
#include <clocale>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "qel/debug/MemoryProfiler.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/Event.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/Process.h"
#include "qel/osdep/Thread.h"

namespace vo::debug {
namespace {

using qel::osdep::OutputAssertion;

constexpr char kFile[] = "debug/Test";

// Written by the test's thread, read by the watchdog (through Check and Print) and by
// any thread whose failed check the framework takes over.
std::atomic<bool> g_initialized{false};
std::atomic<bool> g_begun{false};
std::atomic<bool> g_verboseL1{false};
std::atomic<bool> g_verboseL2{false};
std::atomic<bool> g_assert{false};
std::atomic<bool> g_infiniteRuns{false};
std::atomic<bool> g_failed{false};
std::atomic<bool> g_catch{true};
std::atomic<void (*)(const char*)> g_printCallback{nullptr};

void DoPrint(const char* format, va_list args) {
  char buffer[1024];
  if (std::vsnprintf(buffer, sizeof(buffer), format, args) < 0) buffer[0] = '\0';
  if (void (*const callback)(const char*) = g_printCallback.load()) {
    callback(buffer);
  } else {
    std::printf("%s", buffer);
  }
}

// The longest wait of `seconds` that the event can make in milliseconds: beyond
// 4294967 seconds the product would wrap to a short wait.
unsigned int TimeoutMilliseconds(unsigned int seconds) {
  constexpr unsigned int kLongest = 0xFFFFFFFEu;  // 0xFFFFFFFF waits without limit
  return seconds > kLongest / 1000 ? kLongest : seconds * 1000;
}

// Kills the process when the test runs longer than its time-out.
class TimeoutThread final : public qel::osdep::Thread {
 public:
  explicit TimeoutThread(unsigned int seconds) : seconds_(seconds), quit_(false, false) {
    startEx("test framework timeout thread", "test_timeout", 0);
  }
  ~TimeoutThread() override { cleanup(); }

  void quit() { quit_.set(); }

 private:
  unsigned proc() override {
    if (quit_.wait(TimeoutMilliseconds(seconds_)) || qel::osdep::BeingDebugged()) return 0;
    Test::Print("Test timed out. Aborting...\n");
    Test::Check(false, "false", kFile, 82);
    std::fflush(nullptr);  // SIGKILL drops whatever is still buffered
    qel::osdep::Abort();
  }

  const unsigned int seconds_;
  qel::osdep::Event quit_;
};

TimeoutThread* g_timeoutThread = nullptr;  // used by the test's thread only

void StopTimeoutThread() {
  if (g_timeoutThread == nullptr) return;
  g_timeoutThread->quit();
  delete g_timeoutThread;
  g_timeoutThread = nullptr;
}

// The failed-check report's hand-over point while a test runs without "-a".
bool TakeOverFailedCheck(const char* expression, const char* message, const char* file,
                         uint32_t line) noexcept {
  if (!g_begun.load() || g_assert.load()) return false;
  try {
    if (message[0] != '\0') Test::Print("%s\n", message);
    Test::Check(false, expression, file, static_cast<int>(line));
  } catch (...) {  // a print callback threw: the check still fails the test
    g_failed = true;
  }
  return true;
}

struct TestCaller {
  int argc;
  char** argv;
  void (*test)();
  void (*testWithArgs)(int, char**);

  void call() const { test != nullptr ? test() : testWithArgs(argc, argv); }
};

void RunTestFunction(const TestCaller& caller) {
  if (!g_catch.load() || qel::osdep::BeingDebugged()) {
    caller.call();
    return;
  }
  try {
    caller.call();
  } catch (const qel::exception::Exception& e) {
    Test::Check(false, "false", kFile, 360);
    const char* const file = e.getFileName();
    Test::Print("Unhandled qel C++ exception: %s(%d): %s\n", file != nullptr ? file : "",
                static_cast<int>(e.getLineNumber()), e.what());
  } catch (const std::exception& e) {
    Test::Check(false, "false", kFile, 365);
    Test::Print("Unhandled std C++ exception: %s\n", e.what());
  } catch (...) {
    Test::Check(false, "false", kFile, 370);
    Test::Print("Unhandled exception.\n");
  }
}

int MainHelper(int argc, char** argv, void (*test)(), void (*testWithArgs)(int, char**)) {
  Test::Begin(argc, argv);
  const TestCaller caller{argc, argv, test, testWithArgs};
  if (!g_infiniteRuns.load()) {
    RunTestFunction(caller);
    return Test::End();
  }
  for (;;) RunTestFunction(caller);
}

}  // namespace

InitMemProfiler* Test::Init::profiler_ = nullptr;

Test::Init::Init(bool memProfiler, unsigned int timeoutSeconds) {
  if (memProfiler) profiler_ = new InitMemProfiler(false);
  if (timeoutSeconds != 0) g_timeoutThread = new TimeoutThread(timeoutSeconds);
  g_initialized = true;
  CheckInvariants();
}

Test::Init::~Init() {
  CheckInvariants();
  StopTimeoutThread();
  disableMemoryProfiler();
  g_initialized = false;
}

void Test::Init::disableMemoryProfiler() {
  delete profiler_;
  profiler_ = nullptr;
}

void Test::Init::CheckInvariants() const {
  if (!g_initialized.load()) OutputAssertion("g_initialized", "", kFile, 119);
}

void Test::Begin(int argc, char** argv) {
  if (!g_initialized.load()) OutputAssertion("g_initialized", "", kFile, 168);
  g_begun = true;
  qel::osdep::SetFailedCheckHandler(TakeOverFailedCheck);
  std::setlocale(LC_ALL, "");
  for (int i = 1; i < argc; ++i) {
    const char* const arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0') continue;
    const bool exact = arg[2] == '\0';
    switch (arg[1]) {
      case 't':
        if (exact) StopTimeoutThread();
        break;
      case 'v':
        if (exact || (arg[2] != '1' && arg[3] == '\0')) {
          g_verboseL1 = true;
          g_verboseL2 = true;
        } else if (arg[3] == '\0') {
          g_verboseL1 = true;
        }
        break;
      case 'a':
        if (exact) g_assert = true;
        break;
      case 'e':
        if (exact) g_catch = false;
        break;
      case 'm':
        if (exact) Init::disableMemoryProfiler();
        break;
      case 'i':
        if (!exact) break;
        g_infiniteRuns = true;
        Init::disableMemoryProfiler();
        StopTimeoutThread();
        break;
    }
  }
}

bool Test::Check(bool ok, const char* expr, const char* file, int line) {
  if (!g_begun.load()) OutputAssertion("g_begun", "", kFile, 238);
  if (ok) {
    VPrint("%s\n", expr);
    return true;
  }
  Print("***** Test failed: %s:%d:%s\n", file, line, expr);
  if (g_assert.load()) OutputAssertion(expr, "", file, static_cast<uint32_t>(line));
  g_failed = true;
  return false;
}

long Test::CheckHRESULT(long hr, const char* expr, const char* file, int line) {
  if (!g_begun.load()) OutputAssertion("g_begun", "", kFile, 258);
  const unsigned int code = static_cast<uint32_t>(hr);
  if (hr >= 0) {
    VPrint("%s returned 0x%08X\n", expr, code);
    return hr;
  }
  Print("***** Test failed with result 0x%08X: %s:%d:%s)\n", code, file, line, expr);
  if (g_assert.load()) OutputAssertion(expr, "", file, static_cast<uint32_t>(line));
  g_failed = true;
  return hr;
}

int Test::End() {
  if (!g_begun.load()) OutputAssertion("g_begun", "", kFile, 278);
  const int result = g_failed.load() ? 1 : 0;
  Print(result != 0 ? "Test failed\n" : "Test passed\n");
  g_failed = false;
  g_verboseL1 = false;
  g_verboseL2 = false;
  g_begun = false;
  g_assert = false;
  g_infiniteRuns = false;
  g_catch = true;
  return result;
}

void Test::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  DoPrint(format, args);
  va_end(args);
}

void Test::VPrint(const char* format, ...) {
  if (!g_verboseL2.load()) return;
  va_list args;
  va_start(args, format);
  DoPrint(format, args);
  va_end(args);
}

bool Test::IsTest() { return g_begun.load(); }

bool Test::IsVerboseTest() {
  if (!g_begun.load()) OutputAssertion("g_begun", "", kFile, 307);
  return g_verboseL1.load();
}

bool Test::IsAssertTest() {
  if (!g_begun.load()) OutputAssertion("g_begun", "", kFile, 319);
  return g_assert.load();
}

int Test::main(int argc, char** argv, void (*test)()) {
  return MainHelper(argc, argv, test, nullptr);
}

int Test::main(int argc, char** argv, void (*test)(int, char**)) {
  return MainHelper(argc, argv, nullptr, test);
}

void Test::RegisterPrintCallback(void (*printCallback)(const char*)) {
  if (g_printCallback.load() != nullptr) {
    OutputAssertion("g_printCallback == 0", "", kFile, 428);
  }
  g_printCallback = printCallback;
}

void Test::UnregisterPrintCallback(void (*printCallback)(const char*)) {
  if (g_printCallback.load() != printCallback) {
    OutputAssertion("g_printCallback == printCallback", "", kFile, 435);
  }
  g_printCallback = nullptr;
}

}  // namespace vo::debug
