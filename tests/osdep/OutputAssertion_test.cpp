#include "qel/osdep/OutputAssertion.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/AlertRecorder.h"

namespace vo::qel::osdep {
namespace {

std::string Report(const char* expression, const char* message, const char* file, uint32_t line) {
  ::testing::internal::CaptureStderr();
  OutputAssertion(expression, message, file, line);
  return ::testing::internal::GetCapturedStderr();
}

// A thread cancelled during its report (by its own alert, which then reaches a cancellation
// point) ends at its next cancellation point after the report.
TEST(OutputAssertionTest, CancellationWaitsForTheEndOfTheReport) {
  testing::AlertRecorder cancelling([] {
    pthread_cancel(pthread_self());
    pthread_testcancel();
    return k_DEFAULT_BUTTON;
  });
  bool cancelled = true;
  std::thread([&cancelled] {
    OutputAssertion("x", "", "f", 1);
    pthread_testcancel();
    cancelled = false;
  }).join();
  EXPECT_TRUE(cancelled);
}

// One test, and the last, because "Ignore All" holds for the rest of the process.
TEST(OutputAssertionTest, LineOnStandardErrorAndAlertUntilIgnoreAll) {
  const struct {
    const char *expression, *message, *file;
    uint32_t line;
    const char* expected;
  } cases[] = {
      // Neither the line nor the alert reads the texts as formats.
      {"a %s b", "", "StringBase", 123, "StringBase(123): Assertion failed: a %s b\a\n"},
      {nullptr, nullptr, nullptr, 0, "(0): Assertion failed: \a\n"},
      {"x > 0", "too small", "osdep/Thread", 42,
       "osdep/Thread(42): Assertion failed: too small\a\n"},
  };
  {
    testing::AlertRecorder acknowledging;
    for (const auto& c : cases) {
      EXPECT_EQ(c.expected, Report(c.expression, c.message, c.file, c.line));
    }
    const auto alerts = acknowledging.alerts();
    ASSERT_EQ(3u, alerts.size()) << "acknowledging keeps the alerts coming";
    EXPECT_EQ("ASSERTION FAILURE!|Acknowledge|Ignore All|Assertion failed:\n    Module: " +
                  std::filesystem::read_symlink("/proc/self/exe").string() +
                  "\n    Process ID: " + std::to_string(::getpid()) +
                  "\n    Expression: a %s b\n    File: StringBase\n    Line: 123\n"
                  "    Message: \nYou can attach a debugger to the process now.\n"
                  "(Hit Ignore All to disable this dialog box.)",
              alerts[0]);
  }
  {
    testing::AlertRecorder throwing([]() -> AlertButton { throw std::runtime_error("failed"); });
    EXPECT_EQ("f(9): Assertion failed: x\a\n", Report("x", "", "f", 9)) << "a throwing presenter";
  }
  testing::AlertRecorder ignoring(k_ALTERNATE_BUTTON);
  Report("c", "", "f", 3);
  Report("d", "", "f", 4);
  EXPECT_EQ(1u, ignoring.alerts().size()) << "no alert after Ignore All";
}

}  // namespace
}  // namespace vo::qel::osdep
