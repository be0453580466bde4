// The logging interface as the host meets it: liblorvath.so loaded with dlopen, real
// host string handles, and the records that arrive at /dev/log. The program runs in a
// private mount namespace where it owns /dev/log (a socket of its own, or a real rsyslogd).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lorvath.h"
#include "tests/support/LorvathLibrary.h"
#include "tests/support/PrivateLog.h"

namespace {

using vo::lorvath::testing::HostString;
using vo::lorvath::testing::LogReceiver;
using vo::lorvath::testing::LogRecord;
using vo::lorvath::testing::LorvathLibrary;

constexpr int kUser = LOG_USER;  // syslog(3)'s facility when the caller gave none

// Why the private /dev could not be had; empty once it is in place.
std::string g_privateDevProblem = "not entered";

class PrivateDevEnvironment : public ::testing::Environment {
 public:
  // Runs before any test, while the program has its only thread.
  void SetUp() override { g_privateDevProblem = vo::lorvath::testing::EnterPrivateDev(); }
};

::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PrivateDevEnvironment);

LorvathLibrary& Library() {
  static LorvathLibrary library(LORVATH_LIBRARY_PATH);
  return library;
}

struct WriteFunction {
  const char* name;
  LorvathLibrary::WriteFunction LorvathLibrary::*function;
};
const WriteFunction kWriteFunctions[] = {
    {"Lorvath_WriteMessage", &LorvathLibrary::writeMessage},
    {"Lorvath_WriteMessageUTF8", &LorvathLibrary::writeMessageUTF8},
};

std::string Visible(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// Calls that log nothing, so they need no receiver. Every test starts and ends with no
// reservation in the process.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Library().error(), "");
    lib_ = &Library();
  }

  void TearDown() override {
    if (lib_ != nullptr) {
      EXPECT_EQ(Write(0, nullptr), LORVATH_ERR_NO_LOGGER) << "a test left a reservation";
    }
  }

  int32_t Write(
      Lorvath_Severity severity, LStrHandle message,
      LorvathLibrary::WriteFunction LorvathLibrary::*function = &LorvathLibrary::writeMessage) {
    return (lib_->*function)(nullptr, nullptr, message, severity);
  }

  LorvathLibrary* lib_ = nullptr;
};

// Calls whose records are checked at /dev/log.
class LoggingTest : public LibraryTest {
 protected:
  void SetUp() override {
    if (!g_privateDevProblem.empty()) {
      GTEST_SKIP() << "no private /dev/log for a log receiver (" << g_privateDevProblem << ")";
    }
    receiver_ = std::make_unique<LogReceiver>();
    ASSERT_EQ(receiver_->error(), "");
    LibraryTest::SetUp();
  }

  // Checks that the next record is `message` at `priority`: also shows that nothing
  // was logged between the last check and the write of that record.
  void ExpectRecord(int priority, const std::string& message) {
    const std::optional<LogRecord> record = receiver_->receive();
    ASSERT_TRUE(record.has_value()) << "no record for \"" << Visible(message) << "\"";
    EXPECT_EQ(record->priority, priority) << Visible(record->raw);
    EXPECT_EQ(Visible(record->message), Visible(message)) << Visible(record->raw);
  }

  // Writes a marker under a reservation of its own and checks that it is the next record.
  void ExpectNothingLoggedSinceLastRecord() {
    unsigned char flag = 0;
    ASSERT_EQ(lib_->reserve(&flag), 0);
    HostString marker("marker");
    EXPECT_EQ(Write(Lorvath_SeverityInformation, marker.handle()), 0);
    ASSERT_EQ(lib_->unreserve(&flag), 0);
    ExpectRecord(kUser | LOG_INFO, "marker");
  }

  std::unique_ptr<LogReceiver> receiver_;
};

TEST_F(LoggingTest, WriteWithoutAnyReservationReturns2WhateverTheSeverity) {
  HostString message("never logged");
  for (const WriteFunction& f : kWriteFunctions) {
    for (Lorvath_Severity severity : {0, 1, 2, 3, 7, -1, INT_MIN, INT_MAX}) {
      EXPECT_EQ(Write(severity, message.handle(), f.function), LORVATH_ERR_NO_LOGGER)
          << f.name << " severity " << severity;
    }
  }
  ExpectNothingLoggedSinceLastRecord();
}

TEST_F(LoggingTest, SeverityChoosesThePriorityAndBadSeveritiesLogNothing) {
  struct Case {
    const char* name;
    Lorvath_Severity severity;
    int32_t result;
    int priority;  // -1: nothing is logged
  };
  const Case cases[] = {
      {"error", Lorvath_SeverityError, 0, kUser | LOG_ERR},
      {"warning", Lorvath_SeverityWarning, 0, kUser | LOG_WARNING},
      {"information", Lorvath_SeverityInformation, 0, kUser | LOG_INFO},
      {"three", 3, LORVATH_ERR_ARGUMENT, -1},
      {"minus_one", -1, LORVATH_ERR_ARGUMENT, -1},
      {"int_min", INT_MIN, LORVATH_ERR_ARGUMENT, -1},
      {"int_max", INT_MAX, LORVATH_ERR_ARGUMENT, -1},
  };
  unsigned char flag = 0;
  ASSERT_EQ(lib_->reserve(&flag), 0);
  for (const WriteFunction& f : kWriteFunctions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(f.name) + " " + c.name);
      HostString message(c.name);
      EXPECT_EQ(Write(c.severity, message.handle(), f.function), c.result);
      if (c.priority >= 0) ExpectRecord(c.priority, c.name);
    }
  }
  EXPECT_EQ(lib_->unreserve(&flag), 0);
  ExpectNothingLoggedSinceLastRecord();
}

TEST_F(LoggingTest, MessageBytesBecomeOneRecord) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string logged;
  };
  const std::string longText = [] {
    std::string s;
    while (s.size() < 4096) s += "line of a long message\n";
    return s;
  }();
  std::string longLogged = longText;
  for (char& c : longLogged) c = c == '\n' ? '\t' : c;
  const Case cases[] = {
      {"plain", "hello", "hello"},
      {"lf_becomes_tab", "a\nb", "a\tb"},
      {"cr_stays_before_tab", "a\r\nb", "a\r\tb"},
      {"cr_alone", "a\rb", "a\rb"},
      {"only_line_feeds", "\n\n\n", "\t\t\t"},
      {"leading_and_trailing_lf", "\nx\n", "\tx\t"},
      {"tab_kept", "a\tb", "a\tb"},
      {"cut_at_zero_byte", std::string("ab\0cd", 5), "ab"},
      {"zero_byte_first", std::string("\0abc", 4), ""},
      {"format_text_taken_literally", "%n%s%x", "%n%s%x"},
      {"utf8_unchanged", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"high_bytes_unchecked", "\xFF\xFE\x80", "\xFF\xFE\x80"},
      {"empty_record", "", ""},
      {"long_with_line_feeds", longText, longLogged},
  };
  // The first two handles are never read: null, or pointing nowhere valid.
  const LStrHandle ignored[] = {nullptr, reinterpret_cast<LStrHandle>(uintptr_t{1})};
  unsigned char flag = 0;
  ASSERT_EQ(lib_->reserve(&flag), 0);
  for (const WriteFunction& f : kWriteFunctions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(f.name) + " " + c.name);
      HostString message(c.bytes);
      EXPECT_EQ((lib_->*f.function)(ignored[0], ignored[1], message.handle(), 1), 0);
      ExpectRecord(kUser | LOG_WARNING, c.logged);
    }
    SCOPED_TRACE(f.name);
    EXPECT_EQ((lib_->*f.function)(ignored[1], ignored[0], nullptr, 1), 0);
    ExpectRecord(kUser | LOG_WARNING, "");
    HostString nullRecord = HostString::WithNullRecord();
    EXPECT_EQ((lib_->*f.function)(nullptr, nullptr, nullRecord.handle(), 1), 0);
    ExpectRecord(kUser | LOG_WARNING, "");
  }
  EXPECT_EQ(lib_->unreserve(&flag), 0);
}

TEST_F(LoggingTest, NegativeCountIsRefusedWithoutReadingPastIt) {
  unsigned char flag = 0;
  ASSERT_EQ(lib_->reserve(&flag), 0);
  for (const WriteFunction& f : kWriteFunctions) {
    for (int32_t count : {-1, -4096, INT_MIN}) {
      // The record holds the count field only: a read past it is a sanitizer error.
      HostString message = HostString::WithCountOnly(count);
      EXPECT_EQ(Write(Lorvath_SeverityError, message.handle(), f.function),
                LORVATH_ERR_INVALID_ARGUMENT)
          << f.name << " count " << count;
    }
  }
  // A bad severity is still answered first.
  HostString negative = HostString::WithCountOnly(-1);
  EXPECT_EQ(Write(5, negative.handle()), LORVATH_ERR_ARGUMENT);
  EXPECT_EQ(lib_->unreserve(&flag), 0);
  ExpectNothingLoggedSinceLastRecord();
}

TEST_F(LibraryTest, ReservationsAreCountedOncePerFlag) {
  // Severity 9 probes whether a logger exists without logging: 1 with one, 2 without.
  struct Step {
    const char* action;
    unsigned char* flag;
    int32_t result;
    unsigned char flagAfter;
    int32_t probe;
  };
  unsigned char a = 0;
  unsigned char b = 0;
  const Step steps[] = {
      {"reserve", &a, 0, 1, LORVATH_ERR_ARGUMENT},
      {"reserve", &a, 0, 1, LORVATH_ERR_ARGUMENT},  // counted once
      {"reserve", &b, 0, 1, LORVATH_ERR_ARGUMENT},
      {"unreserve", &a, 0, 0, LORVATH_ERR_ARGUMENT},  // b still holds the logger
      {"unreserve", &a, 0, 0, LORVATH_ERR_ARGUMENT},  // a clear flag changes nothing
      {"unreserve", &b, 0, 0, LORVATH_ERR_NO_LOGGER},
      {"unreserve", &b, 0, 0, LORVATH_ERR_NO_LOGGER},
      {"reserve", &b, 0, 1, LORVATH_ERR_ARGUMENT},  // a new first reservation
      {"unreserve", &b, 0, 0, LORVATH_ERR_NO_LOGGER},
  };
  int index = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(index++) + ": " + s.action + (s.flag == &a ? " a" : " b"));
    const bool reserve = std::string(s.action) == "reserve";
    EXPECT_EQ(reserve ? lib_->reserve(s.flag) : lib_->unreserve(s.flag), s.result);
    EXPECT_EQ(*s.flag, s.flagAfter);
    EXPECT_EQ(Write(9, nullptr), s.probe);
  }
  // Only bit 0 counts: other bits neither reserve nor stop a reservation.
  unsigned char c = 0xFE;
  EXPECT_EQ(lib_->unreserve(&c), 0);
  EXPECT_EQ(c, 0xFE) << "a clear bit 0 means nothing to release";
  EXPECT_EQ(lib_->reserve(&c), 0);
  EXPECT_EQ(c, 1);
  unsigned char d = 0x81;
  EXPECT_EQ(lib_->reserve(&d), 0);
  EXPECT_EQ(d, 0x81) << "a set bit 0 means already reserved";
  EXPECT_EQ(lib_->unreserve(&c), 0);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(Write(9, nullptr), LORVATH_ERR_NO_LOGGER);
}

// Runs `call` with standard error sent to a file and returns what was written there.
template <class F>
std::string CaptureStderr(F call) {
  std::fflush(stderr);
  char path[] = "/tmp/lorvath-stderr.XXXXXX";
  const int file = mkstemp(path);
  unlink(path);
  const int saved = dup(2);
  dup2(file, 2);
  call();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  char buffer[4096];
  ssize_t n;
  lseek(file, 0, SEEK_SET);
  while ((n = read(file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(file);
  return text;
}

TEST_F(LibraryTest, NullFlagIsReportedAndTakesNoReservation) {
  // The library's own alert presenter answers on standard error without waiting.
  int32_t result = 0;
  const std::string reserveReport = CaptureStderr([&] { result = lib_->reserve(nullptr); });
  EXPECT_EQ(result, LORVATH_ERR_ARGUMENT);
  EXPECT_EQ(reserveReport.substr(0, reserveReport.find('\n') + 1),
            "source/lorvath(57): Assertion failed: reserved != NULL\a\n");
  EXPECT_EQ(Write(9, nullptr), LORVATH_ERR_NO_LOGGER) << "no reservation was taken";

  unsigned char flag = 0;
  ASSERT_EQ(lib_->reserve(&flag), 0);
  const std::string unreserveReport = CaptureStderr([&] { result = lib_->unreserve(nullptr); });
  EXPECT_EQ(result, LORVATH_ERR_ARGUMENT);
  EXPECT_EQ(unreserveReport.substr(0, unreserveReport.find('\n') + 1),
            "source/lorvath(82): Assertion failed: reserved != NULL\a\n");
  EXPECT_EQ(Write(9, nullptr), LORVATH_ERR_ARGUMENT) << "the reservation was not released";
  EXPECT_EQ(lib_->unreserve(&flag), 0);
}

// Each thread reserves its own flag, writes and releases, again and again, so that the
// count keeps passing between 0 and 1 while other threads write under their own
// reservations. A write made while its caller holds a reservation must always find the
// logger. Most writes use severity 9, which answers 1 when a logger exists and 2 when
// none does and logs nothing: being cheap, they give the threads many more chances to
// meet inside the windows around creation and destruction than real records would.
TEST_F(LoggingTest, WritesUnderAReservationNeverFindTheLoggerMissing) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 5000;
  constexpr int kRecordEvery = 50;  // one real record per this many rounds
  std::atomic<int> failures{0};
  std::atomic<int> written{0};
  std::atomic<bool> writersDone{false};
  int received = 0;
  std::thread drain([&] {
    // Keeps the socket's queue short so that writers never wait on it for long.
    for (;;) {
      if (receiver_->receive(writersDone ? 1000 : 50)) {
        ++received;
      } else if (writersDone) {
        return;
      }
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      unsigned char flag = 0;
      HostString message("thread " + std::to_string(t));
      for (int round = 0; round < kRounds; ++round) {
        if (lib_->reserve(&flag) != 0) ++failures;
        const LorvathLibrary::WriteFunction write =
            round % 2 == 0 ? lib_->writeMessage : lib_->writeMessageUTF8;
        if (write(nullptr, nullptr, nullptr, 9) != LORVATH_ERR_ARGUMENT) ++failures;
        if (round % kRecordEvery == 0) {
          if (write(nullptr, nullptr, message.handle(), Lorvath_SeverityInformation) == 0) {
            ++written;
          } else {
            ++failures;
          }
        }
        if (lib_->unreserve(&flag) != 0) ++failures;
        // Unreserved for a moment, so that the count often falls to 0 and the next
        // reservation somewhere creates the logger anew.
        for (int i = 0; i < 4; ++i) write(nullptr, nullptr, nullptr, 9);
      }
    });
  }
  for (std::thread& w : writers) w.join();
  writersDone = true;
  drain.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(written.load(), kThreads * kRounds / kRecordEvery);
  EXPECT_EQ(received, written.load());
}

TEST_F(LoggingTest, HostStandInWritesThroughTheLibrary) {
  const std::string command = std::string(LORVATH_TOOLS_DIR) + "/lorvath_host --library '" +
                              LORVATH_LIBRARY_PATH + "' --severity error --utf8 --escapes " +
                              "'first' 'two\\nlines' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  EXPECT_EQ(output,
            "Lorvath_Reserve -> 0\n"
            "Lorvath_WriteMessageUTF8 \"first\" -> 0\n"
            "Lorvath_WriteMessageUTF8 \"two\\nlines\" -> 0\n"
            "Lorvath_Unreserve -> 0\n");
  ExpectRecord(kUser | LOG_ERR, "first");
  ExpectRecord(kUser | LOG_ERR, "two\tlines");
}

// The same messages stored by a real system log daemon.
TEST(RsyslogTest, DaemonStoresThePriorityAndTheTabbedMessage) {
  if (!g_privateDevProblem.empty()) {
    GTEST_SKIP() << "no private /dev/log for rsyslogd (" << g_privateDevProblem << ")";
  }
  const char* const daemon = "/usr/sbin/rsyslogd";
  if (access(daemon, X_OK) != 0) {
    GTEST_SKIP() << daemon << " is not installed (tools/check.sh installs the rsyslog package)";
  }
  ASSERT_EQ(Library().error(), "");
  char dir[] = "/tmp/lorvath-rsyslog.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string base = dir;
  {
    std::ofstream config(base + "/rsyslog.conf");
    config << "global(workDirectory=\"" << base << "\")\n"
           << "module(load=\"imuxsock\" SysSock.Name=\"/dev/log\" "
              "SysSock.RateLimit.Interval=\"0\")\n"
           << "template(name=\"record\" type=\"string\" string=\"%pri%|%msg%\\n\")\n"
           << "if $syslogfacility-text == \"user\" then action(type=\"omfile\" file=\"" << base
           << "/records\" template=\"record\")\n";
  }
  unlink("/dev/log");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(daemon, daemon, "-n", "-f", (base + "/rsyslog.conf").c_str(), "-i",
          (base + "/rsyslogd.pid").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  struct stat st {};
  for (int i = 0; i < 200 && !(stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(S_ISSOCK(st.st_mode)) << "rsyslogd did not open /dev/log";
  closelog();

  LorvathLibrary& lib = Library();
  unsigned char flag = 0;
  ASSERT_EQ(lib.reserve(&flag), 0);
  HostString first("a\nb");
  HostString second("a\r\nb");
  HostString third("plain");
  EXPECT_EQ(lib.writeMessage(nullptr, nullptr, first.handle(), Lorvath_SeverityError), 0);
  EXPECT_EQ(lib.writeMessageUTF8(nullptr, nullptr, second.handle(), Lorvath_SeverityWarning), 0);
  EXPECT_EQ(lib.writeMessage(nullptr, nullptr, third.handle(), Lorvath_SeverityInformation), 0);
  EXPECT_EQ(lib.unreserve(&flag), 0);

  std::vector<std::string> lines;
  for (int i = 0; i < 200 && lines.size() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream records(base + "/records");
    lines.clear();
    for (std::string line; std::getline(records, line);) lines.push_back(line);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  closelog();
  std::system(("rm -rf '" + base + "'").c_str());

  // rsyslog keeps the space after the tag's colon and stores control characters as
  // "#" and their octal code.
  const std::vector<std::string> expected = {
      "11| a#011b",
      "12| a#015#011b",
      "14| plain",
  };
  EXPECT_EQ(lines, expected);
}

TEST(LibraryExportsTest, OnlyTheExternalInterfaceLeavesTheLibrary) {
  const std::set<std::string> externalInterface = {
      "Lorvath_Reserve",
      "Lorvath_Unreserve",
      "Lorvath_WriteMessage",
      "Lorvath_WriteMessageUTF8",
      "SetOmbrixRunTimeBundle",
      "ExtCodeLoadOBFunction",
      "CallOBRT",
      "GGetOneErrorCode",
      "DSDisposeHandle",
      "NumericArrayResize",
      "CFStringFromCString",
      "Lorvath_ReleaseString",
  };
  FILE* pipe = popen("nm -D --defined-only '" LORVATH_LIBRARY_PATH "'", "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) exported.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0) << "nm failed";
  EXPECT_EQ(exported, externalInterface);
}

}  // namespace
