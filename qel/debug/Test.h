// The test framework for programs that link the library. A test program's main
// keeps a Test::Init alive and hands its arguments and one test function to
// Test::main, which reads the options, runs the function (catching what it throws)
// and prints the verdict:
//
//   void RunTests() { Test::Check(Add(1, 1) == 2, "Add(1, 1) == 2", __FILE__, __LINE__); }
//   int main(int argc, char** argv) {
//     Test::Init init(false, 60);  // a test running over a minute is killed
//     return Test::main(argc, argv, RunTests);
//   }
//
// Options: "-t" no time-out; "-v" print passing checks and VPrint output ("-v1":
// IsVerboseTest() only); "-a" failed checks also make the failed-check report; "-e"
// let exceptions from the test function escape; "-m" no memory profiler; "-i" run the
// test function forever (no time-out, no profiler). Other arguments are ignored.
//
// The test runs on one thread; Check and Print may also be called from others, whose
// output is not serialised.
//
// Invariants:
// 1. Output goes through Print and VPrint only: to the registered print callback, or
//    else to standard output (not flushed), at most 1023 characters per call.
// 2. While a test runs (Begin to End) and "-a" is not given, a failed-check report
//    anywhere in the process prints its message and counts as a failed Check instead.
// 3. A test that outlives the time-out given to Init prints "Test timed out.
//    Aborting...", fails a Check, flushes every output stream and kills the process
//    (SIGKILL), unless "-t" or "-i" was given or a debugger is attached.
#ifndef QEL_DEBUG_TEST_H_
#define QEL_DEBUG_TEST_H_

#include "qel/Noncopyable.h"

namespace vo::debug {

class InitMemProfiler;

class Test {
 public:
  // The framework's life: construct one before Test::main or Begin, keep it until the
  // test is over. A time-out of 0 means none; the clock starts here. Longer than
  // 4294967 seconds waits the longest the watchdog's event can.
  class Init : vo::qel::Noncopyable {
   public:
    Init(bool memProfiler, unsigned int timeoutSeconds);
    ~Init();

    static void disableMemoryProfiler();
    void CheckInvariants() const;

   private:
    static InitMemProfiler* profiler_;  // owned; null when off
  };

  // Starts a test: reads the options in argv[1..argc-1].
  // REQUIRES: a Test::Init exists.
  static void Begin(int argc, char** argv);
  // Records a check; a failed one prints "***** Test failed: file:line:expr" and fails
  // the test. Returns `ok`.
  static bool Check(bool ok, const char* expr, const char* file, int line);
  // Records a status code: negative fails the test. Returns `hr`.
  static long CheckHRESULT(long hr, const char* expr, const char* file, int line);
  // Ends the test: prints "Test passed" (returns 0) or "Test failed" (returns 1).
  static int End();

  static void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Prints only under "-v".
  static void VPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

  static bool IsTest();
  static bool IsVerboseTest();
  static bool IsAssertTest();

  // Begin, the test function, End; returns End's result (or never returns under "-i").
  static int main(int argc, char** argv, void (*test)());
  static int main(int argc, char** argv, void (*test)(int, char**));

  // Sends all output to `printCallback` instead of standard output.
  static void RegisterPrintCallback(void (*printCallback)(const char*));
  static void UnregisterPrintCallback(void (*printCallback)(const char*));
};

}  // namespace vo::debug

#endif  // QEL_DEBUG_TEST_H_
