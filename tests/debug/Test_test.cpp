// The test framework as its user sees it: each row runs the subject program
// (TestSubject.cpp) with a test function and options, and compares its whole output.
#include "qel/debug/Test.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace vo::debug {
namespace {

struct Outcome {
  std::string out, err;
  int status;  // exit status, or 128 + the signal that ended the process
  double seconds;
};

Outcome RunSubject(const std::string& args) {
  const std::string errPath = ::testing::TempDir() + "framework_subject_err";
  const auto start = std::chrono::steady_clock::now();
  Outcome run{};
  FILE* pipe = ::popen(("exec " TEST_SUBJECT " " + args + " 2>" + errPath).c_str(), "r");
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) run.out += char(c);
  const int status = pipe == nullptr ? -1 : ::pclose(pipe);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.err = (std::ostringstream() << std::ifstream(errPath).rdbuf()).str();
  return run;
}

const std::string kPass = "Test passed\n", kFail = "Test failed\n", kFailed = "***** Test failed: ";

TEST(TestFrameworkTest, OutputAndStatus) {
  const struct {
    std::string args, out;
    int status;
    const char* err = nullptr;  // what standard error holds; null for nothing
  } rows[] = {
      {"pass", kPass, 0},
      {"fail", kFailed + "t:2:1 + 1 == 3\n" + kFail, 1},
      {"fail -a", kFailed + "t:2:1 + 1 == 3\n" + kFail, 1,
       "t(2): Assertion failed: 1 + 1 == 3\a\n"},
      {"hresult -v",
       "***** Test failed with result 0xFFFFFFFF: t:3:Negative())\nZero() returned 0x00000000\n"
       "Positive() returned 0x00000001\n" +
           kFail,
       1},
      {"flags -vx", "argc=3 verbose=1 assert=0\npassing check\ndetail\n" + kPass, 0},
      {"flags -ax", "argc=3 verbose=0 assert=0\n" + kPass, 0},
      {"qel",
       kFailed + "debug/Test:360:false\nUnhandled qel C++ exception: f(9): Out of range\n" + kFail,
       1},
      {"foreign", kFailed + "debug/Test:370:false\nUnhandled exception.\n" + kFail, 1},
      {"qel -e", "", 128 + SIGABRT, "Out of range"},
      {"sleep -t", "sleeping\n" + kPass, 0},
      {"sleep -tx", "sleeping\nTest timed out. Aborting...\n" + kFailed + "debug/Test:82:false\n",
       128 + SIGKILL},
      {"sleep_past_wrap", kPass, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const Outcome run = RunSubject(row.args);
    EXPECT_EQ(row.out, run.out);
    EXPECT_EQ(row.status, run.status);
    EXPECT_TRUE(row.err ? run.err.find(row.err) != std::string::npos : run.err.empty()) << run.err;
    // The output shows the watchdog ended the sleep; it must not have ended it early.
    EXPECT_TRUE(row.status != 128 + SIGKILL || run.seconds >= 1.0) << "killed before time-out";
  }
}

}  // namespace
}  // namespace vo::debug
