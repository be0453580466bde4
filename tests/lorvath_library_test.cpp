// The logging interface as the host meets it: liblorvath.so loaded with dlopen, real
// host string handles, and the records that arrive at /dev/log. The program runs in a
// private mount namespace where it owns /dev/log (a socket of its own, or a real rsyslogd).
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
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

// Loaded by the first test, after the private /dev is entered.
LorvathLibrary& lib() {
  static LorvathLibrary library(LORVATH_LIBRARY_PATH);
  return library;
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
  LorvathLibrary& lib_ = lib();
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

// A null flag, and the release of a flag that looks reserved but never was, are reported
// (the library's own alert presenter answers on standard error without waiting); neither
// changes the count.
TEST_F(LibraryTest, ReservationsAreCountedOncePerFlag) {
  // Only bit 0 of a flag counts: c looks clear to a release, d and e look reserved.
  unsigned char a = 0, b = 0, c = 0xFE, d = 0x81, e = 0x01;
  const std::string nullFlag = "source/lorvath(#): Assertion failed: reserved != NULL\a\n";
  const std::string unbalanced =
      "source/lorvath(#): Assertion failed: release without a reservation\a\n";
  const struct {
    bool reserve;
    unsigned char* flag;
    unsigned char flagAfter;
    int32_t result;
    const std::string& report;
    int32_t probe;
  } steps[] = {
      {true, nullptr, 0, LORVATH_ERR_ARGUMENT, nullFlag, LORVATH_ERR_NO_LOGGER},
      {true, &a, 1, 0, "", LORVATH_ERR_ARGUMENT},
      {true, &a, 1, 0, "", LORVATH_ERR_ARGUMENT},  // counted once
      {true, &b, 1, 0, "", LORVATH_ERR_ARGUMENT},
      {false, &a, 0, 0, "", LORVATH_ERR_ARGUMENT},  // b still holds the logger
      {false, &a, 0, 0, "", LORVATH_ERR_ARGUMENT},  // a clear flag changes nothing
      {false, nullptr, 0, LORVATH_ERR_ARGUMENT, nullFlag, LORVATH_ERR_ARGUMENT},
      {false, &b, 0, 0, "", LORVATH_ERR_NO_LOGGER},
      {false, &c, 0xFE, 0, "", LORVATH_ERR_NO_LOGGER},
      {false, &e, 0, LORVATH_ERR_ARGUMENT, unbalanced, LORVATH_ERR_NO_LOGGER},
      {true, &c, 1, 0, "", LORVATH_ERR_ARGUMENT},  // a new first reservation: the count was 0
      {true, &d, 0x81, 0, "", LORVATH_ERR_ARGUMENT},
      {false, &c, 0, 0, "", LORVATH_ERR_NO_LOGGER},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE("step " + std::to_string(&s - steps));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(s.reserve ? lib_.reserve(s.flag) : lib_.unreserve(s.flag), s.result);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(vo::qel::testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)), s.report);
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
        for (int i = 0; i < 4; ++i) write(nullptr, nullptr, nullptr, 9);  // the count at 0
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

// Fills the queue of the socket at /dev/log, so that the next record sent there blocks
// until the receiver reads again.
void FillLogQueue() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address{AF_UNIX, "/dev/log"};
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    while (send(fd, "<14>filler", 10, MSG_DONTWAIT) == 10) {
    }
  }
  close(fd);
}

// Two writes wait on a full log socket. Meanwhile the last release and reservations and
// releases of other flags take no longer than otherwise; one writer is cancelled there
// and ends without taking the process along; the other completes once the log reads
// again. Afterwards the counts, the log and the reservations are as before.
TEST_F(LoggingTest, AStalledOrCancelledWriteHoldsUpNothing) {
  constexpr std::chrono::milliseconds kBound(250);
  unsigned char writerFlag = 0, flag = 0;
  ASSERT_EQ(lib_.reserve(&writerFlag), 0);
  FillLogQueue();
  static const HostString message("stalled");
  static std::atomic<int32_t> written{-1};
  pthread_t cancelled, completed;
  const auto start = [](pthread_t& thread, void* (*body)(void*)) {
    pthread_create(&thread, nullptr, body, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // until it blocks
  };
  start(cancelled, [](void*) -> void* {
    lib().writeMessage(nullptr, nullptr, message.handle(), 2);
    for (;;) pause();
  });
  start(completed, [](void*) -> void* {
    written = lib().writeMessage(nullptr, nullptr, message.handle(), 2);
    return nullptr;
  });
  auto slowest = std::chrono::steady_clock::duration::zero();
  const auto timed = [&](unsigned char* f, bool reserve) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(reserve ? lib_.reserve(f) : lib_.unreserve(f), 0);
    slowest = std::max(slowest, std::chrono::steady_clock::now() - begin);
  };
  timed(&writerFlag, false);  // the last release, while the writes wait
  for (int i = 0; i < 1000; ++i) timed(&flag, true), timed(&flag, false);
  void* ended = nullptr;
  pthread_cancel(cancelled);
  pthread_join(cancelled, &ended);
  EXPECT_EQ(ended, PTHREAD_CANCELED);
  while (receiver_->receive(200)) {
  }
  pthread_join(completed, nullptr);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count(), kBound.count())
      << "a call waited for the log (milliseconds)";
  EXPECT_EQ(written, 0) << "a write begun under a reservation is completed";
  EXPECT_EQ(Probe(), LORVATH_ERR_NO_LOGGER);
  const HostString after("after");
  ASSERT_EQ(lib_.reserve(&flag), 0);
  EXPECT_EQ(lib_.writeMessage(nullptr, nullptr, after.handle(), 2), 0);
  ExpectRecord(LOG_USER | LOG_INFO, "after");
  EXPECT_EQ(lib_.unreserve(&flag), 0);
}

// A failed check under a tracer that is not a debugger (strace) goes on like any other:
// the null-flag reservation returns 1 and the process exits normally.
TEST(TracedProcessTest, FailedCheckUnderStraceGoesOn) {
  if (std::getenv("LORVATH_RESERVE_NULL") != nullptr) {  // the traced run of this test
    LorvathLibrary lib(LORVATH_LIBRARY_PATH);
    std::printf("\nreserve(NULL) -> %d\n", lib.reserve(nullptr));
    std::fflush(stdout);
    std::_Exit(0);
  }
  int status = 0;
  Output("strace -o /dev/null true 2>&1", status);
  if (status != 0) GTEST_SKIP() << "strace cannot run here (tools/check.sh installs it)";
  // This program by its /proc link: in a chroot, reading the link can give a path that
  // only exists outside it.
  const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
  const std::string output =
      Output("LORVATH_RESERVE_NULL=1 strace -f -o /dev/null " + self +
                 " --gtest_filter=TracedProcessTest.FailedCheckUnderStraceGoesOn 2>/dev/null",
             status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("\nreserve(NULL) -> 1\n"), std::string::npos) << output;
}

// The same messages stored by a real system log daemon. rsyslog keeps the space after
// the tag's colon and stores control characters as "#" and their octal code.
TEST_F(LoggingTest, RsyslogdStoresThePriorityAndTheTabbedMessage) {
  const char* const daemon = "/usr/sbin/rsyslogd";
  if (access(daemon, X_OK) != 0) {
    GTEST_SKIP() << daemon << " is not installed (tools/check.sh installs the rsyslog package)";
  }
  receiver_.reset();  // /dev/log is the daemon's
  char dir[] = "/tmp/lorvath-rsyslog.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string base = dir, conf = base + "/rsyslog.conf", pidFile = base + "/pid";
  std::ofstream(conf) << "global(workDirectory=\"" << base << "\")\n"
                      << "module(load=\"imuxsock\" SysSock.Name=\"/dev/log\")\n"
                      << "template(name=\"r\" type=\"string\" string=\"%pri%|%msg%\\n\")\n"
                      << "user.* action(type=\"omfile\" file=\"" << base
                      << "/records\" template=\"r\")\n";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(daemon, daemon, "-n", "-f", conf.c_str(), "-i", pidFile.c_str(), nullptr);
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
  EXPECT_EQ(records, "11| a#011b\n12| a#015#011b\n14| plain\n");
}

TEST(LibraryExportsTest, OnlyTheExternalInterfaceLeavesTheLibrary) {
  int status = 0;
  EXPECT_EQ(
      Output("nm -D --defined-only '" LORVATH_LIBRARY_PATH "' | awk '{print $3}' | sort", status),
      "CFStringFromCString\nCallOBRT\nDSDisposeHandle\nExtCodeLoadOBFunction\n"
      "GGetOneErrorCode\nLorvath_ReleaseString\nLorvath_Reserve\nLorvath_Unreserve\n"
      "Lorvath_WriteMessage\nLorvath_WriteMessageUTF8\nNumericArrayResize\n"
      "SetOmbrixRunTimeBundle\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
