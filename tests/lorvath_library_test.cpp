// The logging interface as the host meets it: liblorvath.so loaded with dlopen, real
// host string handles, and the records that arrive at /dev/log. The program runs in a
// private mount namespace where it owns /dev/log (a socket of its own, or a real rsyslogd).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lorvath.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"
#include "tests/support/PrivateLog.h"

namespace {

using ::testing::PrintToString;
using vo::lorvath::testing::HostString;
using vo::lorvath::testing::LogReceiver;
using vo::lorvath::testing::LorvathLibrary;

// Why the private /dev could not be had; empty once it is in place.
std::string g_privateDevProblem = "not entered";

// Runs before any test, while the program has its only thread.
struct PrivateDevEnvironment : ::testing::Environment {
  void SetUp() override { g_privateDevProblem = vo::lorvath::testing::EnterPrivateDev(); }
};
::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PrivateDevEnvironment);

// Standard output (and whatever the command redirects there) and the exit status.
std::string Output(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) output += char(c);
  status = pipe == nullptr ? -1 : pclose(pipe);
  return output;
}

// Every test starts and ends with no reservation in the process. Severity 9 probes
// whether a logger exists without logging: 1 with one, 2 without.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(lib_.error(), ""); }
  void TearDown() override {
    if (lib_.error().empty()) {
      EXPECT_EQ(Probe(), LORVATH_ERR_NO_LOGGER) << "a test left a reservation";
    }
  }
  int32_t Probe() { return lib_.writeMessage(nullptr, nullptr, nullptr, 9); }

  LorvathLibrary& lib_ = *[] {  // loaded by the first test, after the private /dev is entered
    static LorvathLibrary library(LORVATH_LIBRARY_PATH);
    return &library;
  }();
};

// Calls whose records are checked at /dev/log, by a socket of the test's own or rsyslogd.
class LoggingTest : public LibraryTest {
 protected:
  void SetUp() override {
    if (!g_privateDevProblem.empty()) {
      GTEST_SKIP() << "no private /dev/log: " << g_privateDevProblem;
    }
    receiver_ = std::make_unique<LogReceiver>();
    ASSERT_EQ(receiver_->error(), "");
    LibraryTest::SetUp();
  }

  // The next record must be `message` at `priority`: so nothing was logged in between.
  void ExpectRecord(int priority, const std::string& message) {
    const auto record = receiver_->receive();
    ASSERT_TRUE(record.has_value()) << "no record for " << PrintToString(message);
    EXPECT_EQ(record->priority, priority) << PrintToString(record->raw);
    EXPECT_EQ(record->message, message) << PrintToString(record->raw);
  }

  std::unique_ptr<LogReceiver> receiver_;
};

// Every row is written by both functions, first without a reservation and then under one;
// as each record must be the next to arrive, a row that logs nothing is proved so by the
// record after it.
TEST_F(LoggingTest, EachWriteBecomesOneRecordOrNone) {
  std::string longText, longLogged;
  while (longText.size() < 4096) longText += "line of a long message\n";
  for (const char c : longText) longLogged += c == '\n' ? '\t' : c;
  enum Handle { kBytes, kCountOnly, kNullRecord, kNullHandle };
  const struct {
    const char* name;
    Lorvath_Severity severity;
    std::string bytes;
    int32_t result;
    std::string logged;
    Handle handle = kBytes;
    int32_t count = 0;  // of a kCountOnly record (a read past it is a sanitizer error)
  } cases[] = {
      {"error", Lorvath_SeverityError, "error", 0, "error"},
      {"information", Lorvath_SeverityInformation, "information", 0, "information"},
      {"severity_three", 3, "x", LORVATH_ERR_ARGUMENT, ""},
      {"severity_minus_one", -1, "x", LORVATH_ERR_ARGUMENT, ""},
      {"lf_becomes_tab", Lorvath_SeverityWarning, "\na\nb\n", 0, "\ta\tb\t"},
      {"cr_stays_before_tab", 1, "a\r\nb\rc", 0, "a\r\tb\rc"},
      {"cut_at_zero_byte", 1, std::string("ab\0cd", 5), 0, "ab"},
      {"format_text_taken_literally", 1, "%n%s%x", 0, "%n%s%x"},
      {"bytes_unchecked", 1, "caf\xC3\xA9 \xFF\x80", 0, "caf\xC3\xA9 \xFF\x80"},
      {"empty_record", 1, "", 0, ""},
      {"long_with_line_feeds", 1, longText, 0, longLogged},
      {"null_record", 1, "", 0, "", kNullRecord},
      {"null_handle", 1, "", 0, "", kNullHandle},
      {"negative_count", 0, "", LORVATH_ERR_INVALID_ARGUMENT, "", kCountOnly, -1},
      {"severity_before_count", 5, "", LORVATH_ERR_ARGUMENT, "", kCountOnly, -1},
  };
  const int kPriority[] = {LOG_USER | LOG_ERR, LOG_USER | LOG_WARNING, LOG_USER | LOG_INFO};
  // The first two handles are never read: null, or pointing nowhere valid.
  const auto nowhere = reinterpret_cast<LStrHandle>(uintptr_t{1});
  unsigned char flag = 0;
  for (const auto write : {lib_.writeMessage, lib_.writeMessageUTF8}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(write == lib_.writeMessage ? "" : "UTF8 ") + c.name);
      HostString message = c.handle == kCountOnly    ? HostString::WithCountOnly(c.count)
                           : c.handle == kNullRecord ? HostString::WithNullRecord()
                                                     : HostString(c.bytes);
      const LStrHandle handle = c.handle == kNullHandle ? nullptr : message.handle();
      EXPECT_EQ(write(nullptr, nullptr, handle, c.severity), LORVATH_ERR_NO_LOGGER);
      ASSERT_EQ(lib_.reserve(&flag), 0);
      EXPECT_EQ(write(nowhere, nowhere, handle, c.severity), c.result);
      if (c.result == 0) ExpectRecord(kPriority[c.severity], c.logged);
      ASSERT_EQ(lib_.unreserve(&flag), 0);
    }
  }
}

// A null flag is reported (the library's own alert presenter answers on standard error
// without waiting) and neither takes nor gives back a reservation.
TEST_F(LibraryTest, ReservationsAreCountedOncePerFlag) {
  // Only bit 0 of a flag counts: c looks clear to a release, d looks reserved.
  unsigned char a = 0, b = 0, c = 0xFE, d = 0x81;
  const struct {
    bool reserve;
    unsigned char* flag;
    unsigned char flagAfter;
    int32_t probe;
  } steps[] = {
      {true, nullptr, 0, LORVATH_ERR_NO_LOGGER},
      {true, &a, 1, LORVATH_ERR_ARGUMENT},
      {true, &a, 1, LORVATH_ERR_ARGUMENT},  // counted once
      {true, &b, 1, LORVATH_ERR_ARGUMENT},
      {false, &a, 0, LORVATH_ERR_ARGUMENT},  // b still holds the logger
      {false, &a, 0, LORVATH_ERR_ARGUMENT},  // a clear flag changes nothing
      {false, nullptr, 0, LORVATH_ERR_ARGUMENT},
      {false, &b, 0, LORVATH_ERR_NO_LOGGER},
      {false, &c, 0xFE, LORVATH_ERR_NO_LOGGER},
      {true, &c, 1, LORVATH_ERR_ARGUMENT},  // a new first reservation
      {true, &d, 0x81, LORVATH_ERR_ARGUMENT},
      {false, &c, 0, LORVATH_ERR_NO_LOGGER},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE("step " + std::to_string(&s - steps));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(s.reserve ? lib_.reserve(s.flag) : lib_.unreserve(s.flag),
              s.flag == nullptr ? LORVATH_ERR_ARGUMENT : 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(vo::qel::testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)),
              s.flag == nullptr ? "source/lorvath(#): Assertion failed: reserved != NULL\a\n" : "");
    EXPECT_EQ(s.flag != nullptr ? *s.flag : 0, s.flagAfter);
    EXPECT_EQ(Probe(), s.probe);
  }
}

// Each thread reserves, writes and releases its own flag again and again, so that the
// count keeps passing 0 while other threads write under their reservations. Most writes
// are cheap probes: many chances to meet around the logger's creation and destruction.
TEST_F(LoggingTest, WritesUnderAReservationNeverFindTheLoggerMissing) {
  constexpr int kThreads = 8, kRounds = 5000, kRecordEvery = 50;
  std::atomic<int> failures{0}, written{0};
  std::atomic<bool> writersDone{false};
  int received = 0;
  std::thread drain([&] {  // keeps the socket's queue short so that writers never wait
    for (bool done = false; !done;) {
      done = writersDone;  // read first: after it, an empty wait means no more
      if (receiver_->receive(done ? 200 : 50)) ++received, done = false;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      unsigned char flag = 0;
      HostString message("thread " + std::to_string(t));
      for (int round = 0; round < kRounds; ++round) {
        const auto write = round % 2 == 0 ? lib_.writeMessage : lib_.writeMessageUTF8;
        failures += lib_.reserve(&flag) != 0;
        failures += write(nullptr, nullptr, nullptr, 9) != LORVATH_ERR_ARGUMENT;
        if (round % kRecordEvery == 0) {
          ++(write(nullptr, nullptr, message.handle(), Lorvath_SeverityInformation) == 0
                 ? written
                 : failures);
        }
        failures += lib_.unreserve(&flag) != 0;
        // Unreserved for a moment, so that the count often falls to 0.
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
  int status = 0;
  const std::string output =
      Output(std::string(LORVATH_TOOLS_DIR) + "/lorvath_host --library '" + LORVATH_LIBRARY_PATH +
                 "' --severity error --utf8 --escapes 'first' 'two\\nlines' 2>&1",
             status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output,
            "Lorvath_Reserve -> 0\n"
            "Lorvath_WriteMessageUTF8 \"first\" -> 0\n"
            "Lorvath_WriteMessageUTF8 \"two\\nlines\" -> 0\n"
            "Lorvath_Unreserve -> 0\n");
  ExpectRecord(LOG_USER | LOG_ERR, "first");
  ExpectRecord(LOG_USER | LOG_ERR, "two\tlines");
}

// The same messages stored by a real system log daemon.
TEST_F(LoggingTest, RsyslogdStoresThePriorityAndTheTabbedMessage) {
  const char* const daemon = "/usr/sbin/rsyslogd";
  if (access(daemon, X_OK) != 0) {
    GTEST_SKIP() << daemon << " is not installed (tools/check.sh installs the rsyslog package)";
  }
  receiver_.reset();  // /dev/log is the daemon's
  char dir[] = "/tmp/lorvath-rsyslog.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string base = dir;
  std::ofstream(base + "/rsyslog.conf")
      << "global(workDirectory=\"" << base << "\")\n"
      << "module(load=\"imuxsock\" SysSock.Name=\"/dev/log\" SysSock.RateLimit.Interval=\"0\")\n"
      << "template(name=\"record\" type=\"string\" string=\"%pri%|%msg%\\n\")\n"
      << "if $syslogfacility-text == \"user\" then action(type=\"omfile\" file=\"" << base
      << "/records\" template=\"record\")\n";
  unlink("/dev/log");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(daemon, daemon, "-n", "-f", (base + "/rsyslog.conf").c_str(), "-i",
          (base + "/rsyslogd.pid").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::shared_ptr<void> stop(nullptr, [&](void*) {  // also when an assertion ends the test
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::system(("rm -rf '" + base + "'").c_str());
  });
  struct stat st {};
  for (int i = 0; i < 200 && !(stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(S_ISSOCK(st.st_mode)) << "rsyslogd did not open /dev/log";
  closelog();

  unsigned char flag = 0;
  ASSERT_EQ(lib_.reserve(&flag), 0);
  HostString first("a\nb"), second("a\r\nb"), third("plain");
  EXPECT_EQ(lib_.writeMessage(nullptr, nullptr, first.handle(), Lorvath_SeverityError), 0);
  EXPECT_EQ(lib_.writeMessageUTF8(nullptr, nullptr, second.handle(), Lorvath_SeverityWarning), 0);
  EXPECT_EQ(lib_.writeMessage(nullptr, nullptr, third.handle(), Lorvath_SeverityInformation), 0);
  EXPECT_EQ(lib_.unreserve(&flag), 0);
  std::string records;
  for (int i = 0; i < 200 && std::count(records.begin(), records.end(), '\n') < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(base + "/records");
    records.assign(std::istreambuf_iterator<char>(in), {});
  }
  closelog();
  // rsyslog keeps the space after the tag's colon and stores control characters as
  // "#" and their octal code.
  EXPECT_EQ(records, "11| a#011b\n12| a#015#011b\n14| plain\n");
}

TEST(LibraryExportsTest, OnlyTheExternalInterfaceLeavesTheLibrary) {
  int status = 0;
  std::istringstream lines(Output("nm -D --defined-only '" LORVATH_LIBRARY_PATH "'", status));
  ASSERT_EQ(status, 0) << "nm failed";
  std::set<std::string> exported;
  for (std::string address, type, name; lines >> address >> type >> name;) exported.insert(name);
  EXPECT_EQ(exported,
            (std::set<std::string>{"Lorvath_Reserve", "Lorvath_Unreserve", "Lorvath_WriteMessage",
                                   "Lorvath_WriteMessageUTF8", "SetOmbrixRunTimeBundle",
                                   "ExtCodeLoadOBFunction", "CallOBRT", "GGetOneErrorCode",
                                   "DSDisposeHandle", "NumericArrayResize", "CFStringFromCString",
                                   "Lorvath_ReleaseString"}));
}

}  // namespace
