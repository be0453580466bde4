// lorvath-logger, the installed command, run as a user would run it with a private
// /dev/log: which records it writes, at which priority, and its exit status.
#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/PrivateLog.h"

namespace vo::lorvath {
namespace {

std::string g_privateDevProblem = "not entered";

// Runs before any test, while the program has its only thread.
struct PrivateDevEnvironment : ::testing::Environment {
  void SetUp() override { g_privateDevProblem = testing::EnterPrivateDev(); }
};
::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PrivateDevEnvironment);

TEST(LorvathLoggerTest, WritesItsArgumentsOrItsInputLines) {
  if (!g_privateDevProblem.empty()) GTEST_SKIP() << "no private /dev/log: " << g_privateDevProblem;
  testing::LogReceiver receiver;
  ASSERT_EQ(receiver.error(), "");
  using Records = std::vector<std::pair<int, std::string>>;  // priority, message
  const int info = LOG_USER | LOG_INFO, warning = LOG_USER | LOG_WARNING, err = LOG_USER | LOG_ERR;
  // clang-format off
  const struct {
    const char* name;
    const char* input;  // piped to standard input when not null
    const char* arguments;
    int status;
    Records records;
  } cases[] = {
      {"arguments_are_one_message", nullptr, "hello 'big world'", 0, {{info, "hello big world"}}},
      {"warning", nullptr, "--severity warning hello", 0, {{warning, "hello"}}},
      {"error_utf8", nullptr, "--utf8 --severity error 'caf\xC3\xA9'", 0, {{err, "caf\xC3\xA9"}}},
      {"number", nullptr, "--severity 1 x", 0, {{warning, "x"}}},
      {"line_feed_becomes_tab", nullptr, "\"$(printf 'a\\nb')\"", 0, {{info, "a\tb"}}},
      {"options_end_at_double_dash", nullptr, "-- --severity", 0, {{info, "--severity"}}},
      {"each_input_line", "one\\n\\nthree", "--severity error", 0, {{err, "one"}, {err, ""}, {err, "three"}}},
      {"refused_severity", nullptr, "--severity 3 x", 1, {}},
      {"unknown_severity_word", nullptr, "--severity notice x", 2, {}},
      {"unknown_option", nullptr, "--priority 4 x", 2, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string command = std::string(LORVATH_TOOLS_DIR) + "/lorvath-logger " + c.arguments;
    command = c.input != nullptr ? "printf '" + std::string(c.input) + "' | " + command
                                 : command + " </dev/null";
    const int status = std::system((command + " 2>/dev/null").c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
    Records records;  // the command has ended, so every record it sent is waiting
    while (const auto record = receiver.receive(100))
      records.emplace_back(record->priority, record->message);
    EXPECT_EQ(records, c.records);
  }
}

}  // namespace
}  // namespace vo::lorvath
