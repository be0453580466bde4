// The test framework as a test program's user sees it: each row runs the subject
// program (tests/debug/TestSubject.cpp) with a test function and options, and
// compares its whole standard output and its exit status.
#include "qel/debug/Test.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace vo::debug {
namespace {

struct Outcome {
  int status = -1;  // exit status, or 128 + the signal that ended the process
  std::string out, err;
  double seconds = 0;
};

Outcome RunSubject(std::vector<std::string> args) {
  args.insert(args.begin(), TEST_SUBJECT);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::FILE* const files[] = {std::tmpfile(), std::tmpfile()};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::fileno(files[0]), 1);
    ::dup2(::fileno(files[1]), 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Outcome run;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  for (std::FILE* file : files) {
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) (file == files[0] ? run.out : run.err) += char(c);
    std::fclose(file);
  }
  return run;
}

const std::string kPass = "Test passed\n", kFail = "Test failed\n";
const std::string kFlags = "argc=3 verbose=";
const std::string kAssertion =
    "Client received an exception with invalid error code!\n***** Test failed: "
    "exception/Exception:102:0xFFFFFFFF != errorCode\n";

TEST(TestFrameworkTest, OutputAndStatus) {
  const struct {
    std::vector<std::string> args;
    std::string out;
    int status;
    const char* err;  // what standard error holds; null for nothing
  } rows[] = {
      {{"pass"}, kPass, 0, nullptr},
      {{"pass", "-v"}, "1 + 1 == 2\n" + kPass, 0, nullptr},
      {{"pass", "-m"}, kPass, 0, nullptr},
      {{"fail"}, "***** Test failed: tests/debug:2:1 + 1 == 3\n" + kFail, 1, nullptr},
      {{"fail", "-a"},
       "***** Test failed: tests/debug:2:1 + 1 == 3\n" + kFail,
       1,
       "tests/debug(2): Assertion failed: 1 + 1 == 3\a\n"},
      {{"hresult"},
       "***** Test failed with result 0xFFFFFFFF: tests/debug:3:Negative())\n" + kFail,
       1,
       nullptr},
      {{"hresult", "-v"},
       "***** Test failed with result 0xFFFFFFFF: tests/debug:3:Negative())\n"
       "Positive() returned 0x00000001\n" +
           kFail,
       1,
       nullptr},
      {{"flags", "x"}, kFlags + "0 assert=0\n" + kPass, 0, nullptr},
      {{"flags", "-v"}, kFlags + "1 assert=0\npassing check\ndetail\n" + kPass, 0, nullptr},
      {{"flags", "-vx"}, kFlags + "1 assert=0\npassing check\ndetail\n" + kPass, 0, nullptr},
      {{"flags", "-v1"}, kFlags + "1 assert=0\n" + kPass, 0, nullptr},
      {{"flags", "-v12"}, kFlags + "0 assert=0\n" + kPass, 0, nullptr},
      {{"flags", "-a"}, kFlags + "0 assert=1\n" + kPass, 0, nullptr},
      {{"flags", "-ax"}, kFlags + "0 assert=0\n" + kPass, 0, nullptr},
      {{"qel"},
       "***** Test failed: debug/Test:360:false\n"
       "Unhandled qel C++ exception: SafeInteger(9): Out of range\n" +
           kFail,
       1,
       nullptr},
      {{"std"},
       "***** Test failed: debug/Test:365:false\nUnhandled std C++ exception: boom\n" + kFail,
       1,
       nullptr},
      {{"foreign"},
       "***** Test failed: debug/Test:370:false\nUnhandled exception.\n" + kFail,
       1,
       nullptr},
      {{"qel", "-e"}, "", 128 + SIGABRT, "Out of range"},
      {{"foreign", "-e"}, "", 128 + SIGABRT, ""},
      {{"long"}, std::string(1023, 'x') + kPass, 0, nullptr},
      {{"callbacks"},
       "[1] one\n[1] ***** Test failed: debug/Test:428:g_printCallback == 0\n[2] two\n"
       "[1] ***** Test failed: debug/Test:435:g_printCallback == printCallback\n" +
           kFail,
       1,
       nullptr},
      {{"assertion"}, kAssertion + kFail, 1, nullptr},
      {{"assertion", "-a"},
       kPass,
       0,
       "exception/Exception(102): Assertion failed: Client received an exception with invalid "
       "error code!\a\n"},
      {{"sleep", "-t"}, "sleeping\n" + kPass, 0, nullptr},
      {{"sleep", "-tx"},
       "sleeping\nTest timed out. Aborting...\n***** Test failed: debug/Test:82:false\n",
       128 + SIGKILL,
       nullptr},
      {{"sleep_past_wrap"}, kPass, 0, nullptr},
      {{"runs", "-i"}, "run 1\nrun 2\nrun 3\n", 3, nullptr},
  };
  for (const auto& row : rows) {
    std::string name;
    for (const std::string& arg : row.args) name += arg + " ";
    SCOPED_TRACE(name);
    const Outcome run = RunSubject(row.args);
    EXPECT_EQ(row.out, run.out);
    EXPECT_EQ(row.status, run.status);
    if (row.err == nullptr) {
      EXPECT_EQ("", run.err);
    } else {
      EXPECT_NE(std::string::npos, run.err.find(row.err)) << run.err;
    }
    // The output shows the watchdog ended the sleep; it must not have ended it early.
    if (row.status == 128 + SIGKILL) EXPECT_GE(run.seconds, 1.0) << "killed before its time-out";
  }
}

}  // namespace
}  // namespace vo::debug
