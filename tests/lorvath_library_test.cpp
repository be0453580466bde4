// The logging interface as the host meets it: liblorvath.so loaded with dlopen, real
// host string handles, the tools built on it, and the records that arrive at /dev/log.
// The program runs in a private mount namespace with a /dev of its own, where each
// library test binds /dev/log and reads what syslog(3) sends there.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lorvath.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"

namespace {

using vo::lorvath::testing::HostString;

// Enters a mount namespace whose /dev is a tmpfs holding the machine's null and urandom
// only. Returns "" or why it could not (the tests then skip).
std::string EnterPrivateDev() {
  const auto put = [](const char* path, const std::string& text) {
    return static_cast<bool>(std::ofstream(path) << text << std::flush);
  };
  const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
  bool ok = geteuid() == 0 ? unshare(CLONE_NEWNS) == 0
                           : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                 put("/proc/self/setgroups", "deny") &&
                                 put("/proc/self/uid_map", "0 " + uid + " 1") &&
                                 put("/proc/self/gid_map", "0 " + gid + " 1");
  // Nothing done below may reach the machine's own mount table.
  if (!ok || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("entering a mount namespace: ") + std::strerror(errno);
  }
  // The machine's /dev stays reachable through `old` once the tmpfs covers it.
  const int old = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
  ok = old >= 0 && mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") == 0;
  for (const std::string name : {"null", "urandom"}) {
    const std::string from = "/proc/self/fd/" + std::to_string(old) + "/" + name;
    ok = ok && close(creat(("/dev/" + name).c_str(), 0666)) == 0 &&
         mount(from.c_str(), ("/dev/" + name).c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  if (old >= 0) close(old);
  return ok ? "" : std::string("replacing /dev: ") + std::strerror(errno);
}

// Entered before main, while the program has its only thread (later ones share it).
const std::string g_privateDevProblem = EnterPrivateDev();

// Standard output (and whatever the command redirects there) and the exit status.
std::string Output(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) output += char(c);
  status = pipe == nullptr ? -1 : pclose(pipe);
  return output;
}

// liblorvath.so as the host loads it, once the private /dev is entered; never unloaded (the
// library keeps its reservation count for the process's life).
void* const g_library = dlopen(LORVATH_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
template <class F>
F* Find(const char* name) {
  return g_library == nullptr ? nullptr : reinterpret_cast<F*>(dlsym(g_library, name));
}
const struct {
  decltype(&Lorvath_Reserve) reserve = Find<decltype(Lorvath_Reserve)>("Lorvath_Reserve");
  decltype(&Lorvath_Unreserve) unreserve = Find<decltype(Lorvath_Unreserve)>("Lorvath_Unreserve");
  decltype(&Lorvath_WriteMessage) writeMessage =
      Find<decltype(Lorvath_WriteMessage)>("Lorvath_WriteMessage");
  decltype(&Lorvath_WriteMessageUTF8) writeMessageUTF8 =
      Find<decltype(Lorvath_WriteMessageUTF8)>("Lorvath_WriteMessageUTF8");
} lib;

// Severity 9 probes whether a logger exists without logging: 1 with one, 2 without.
int32_t Probe() { return lib.writeMessage(nullptr, nullptr, nullptr, 9); }

// Records as (priority, message): the number in "<PRI>", and the bytes after the
// "Mmm dd hh:mm:ss TAG: " that syslog(3) puts first (the whole record without it).
using Records = std::vector<std::pair<int, std::string>>;
const sockaddr_un kLog{AF_UNIX, "/dev/log"};
const auto kLogAddress = reinterpret_cast<const sockaddr*>(&kLog);

// Every test starts and ends with no reservation in the process, and reads the records
// that arrive at /dev/log from a socket of its own.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_privateDevProblem.empty()) GTEST_SKIP() << "no private /dev: " << g_privateDevProblem;
    ASSERT_TRUE(lib.reserve && lib.unreserve && lib.writeMessage && lib.writeMessageUTF8)
        << dlerror();
    unlink(kLog.sun_path);
    ASSERT_EQ(bind(fd_, kLogAddress, sizeof kLog), 0) << "binding /dev/log: " << strerror(errno);
    const timeval timeout{0, 50000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    closelog();  // the next syslog(3) connects to this socket
  }
  void TearDown() override {
    close(fd_);
    if (!IsSkipped() && !HasFatalFailure()) {
      EXPECT_EQ(Probe(), LORVATH_ERR_NO_LOGGER) << "a test left a reservation";
    }
  }
  // Every record that arrives within 50 ms of the one before.
  Records receive() {
    Records records;
    std::string raw(1 << 17, '\0');
    for (ssize_t n; (n = recv(fd_, &raw[0], raw.size(), 0)) >= 0 || errno == EINTR;) {
      if (n < 0) continue;
      const std::string record = raw.substr(0, static_cast<size_t>(n));
      // The timestamp ("%h %e %T ") is 16 bytes wide; the tag after it ends at the first ": ".
      const size_t tagEnd = record.find(": ", record.find('>') + 17);
      records.emplace_back(std::atoi(record.c_str() + 1),
                           tagEnd == std::string::npos ? record : record.substr(tagEnd + 2));
    }
    return records;
  }
  const int fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};
const int kErr = LOG_USER | LOG_ERR, kWarning = LOG_USER | LOG_WARNING, kInfo = LOG_USER | LOG_INFO;

// Every row is written by both functions, first without a reservation and then under one.
TEST_F(LibraryTest, EachWriteBecomesOneRecordOrNone) {
  std::string longText, longLogged;
  while (longText.size() < 4096) longText += "line of a long message\n";
  for (const char c : longText) longLogged += c == '\n' ? '\t' : c;
  enum Handle { kBytes, kCountMinusOne, kNullRecord, kNullHandle };
  const struct {
    const char* name;
    Lorvath_Severity severity;
    std::string bytes;
    int32_t result;
    Records logged;
    Handle handle = kBytes;
  } cases[] = {
      {"lf_becomes_tab_cr_stays", 0, "\na\r\nb\rc\n", 0, {{kErr, "\ta\r\tb\rc\t"}}},
      {"cut_at_zero_byte", 1, std::string("ab\0cd", 5), 0, {{kWarning, "ab"}}},
      {"formats_and_bytes_literal", 2, "%n%s\xC3\xA9\xFF", 0, {{kInfo, "%n%s\xC3\xA9\xFF"}}},
      {"long", 1, longText, 0, {{kWarning, longLogged}}},
      {"severity_three", 3, "x", LORVATH_ERR_ARGUMENT, {}},
      {"null_record", 2, "", 0, {{kInfo, ""}}, kNullRecord},
      {"null_handle", 2, "", 0, {{kInfo, ""}}, kNullHandle},
      {"negative_count", 0, "", LORVATH_ERR_INVALID_ARGUMENT, {}, kCountMinusOne},
      {"severity_before_count", 5, "", LORVATH_ERR_ARGUMENT, {}, kCountMinusOne},
  };
  // Never read: null, or pointing nowhere valid.
  const auto nowhere = reinterpret_cast<LStrHandle>(uintptr_t{1});
  unsigned char flag = 0;
  for (const auto write : {lib.writeMessage, lib.writeMessageUTF8}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(write == lib.writeMessage ? "" : "UTF8 ") + c.name);
      HostString message = c.handle == kCountMinusOne ? HostString::WithCountOnly(-1)
                           : c.handle == kNullRecord  ? HostString::WithNullRecord()
                                                      : HostString(c.bytes);
      const LStrHandle handle = c.handle == kNullHandle ? nullptr : message.handle();
      EXPECT_EQ(write(nullptr, nullptr, handle, c.severity), LORVATH_ERR_NO_LOGGER);
      ASSERT_EQ(lib.reserve(&flag), 0);
      EXPECT_EQ(write(nowhere, nowhere, handle, c.severity), c.result);
      ASSERT_EQ(lib.unreserve(&flag), 0);
      EXPECT_EQ(receive(), c.logged);  // a record is sent before the write returns
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
    EXPECT_EQ(s.reserve ? lib.reserve(s.flag) : lib.unreserve(s.flag), s.result);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(vo::qel::testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)), s.report);
    EXPECT_EQ(s.flag != nullptr ? *s.flag : 0, s.flagAfter);
    EXPECT_EQ(Probe(), s.probe);
  }
}

// A write waits on a full log socket. Meanwhile the last release and another reservation
// do not wait; the writer is cancelled there and ends without taking the process along,
// which goes on writing once the log reads again.
TEST_F(LibraryTest, AStalledOrCancelledWriteHoldsUpNothing) {
  unsigned char writerFlag = 0, flag = 0;
  ASSERT_EQ(lib.reserve(&writerFlag), 0);
  while (sendto(fd_, "<14>filler", 10, MSG_DONTWAIT, kLogAddress, sizeof kLog) == 10) {
  }
  static const HostString message("stalled");
  pthread_t writer;
  const auto body = [](void*) -> void* {
    lib.writeMessage(nullptr, nullptr, message.handle(), 2);
    for (;;) pause();
  };
  ASSERT_EQ(pthread_create(&writer, nullptr, body, nullptr), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // until it blocks
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(lib.unreserve(&writerFlag), 0);
  EXPECT_EQ(lib.reserve(&flag), 0);
  EXPECT_EQ(lib.unreserve(&flag), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(250));
  void* ended = nullptr;
  pthread_cancel(writer);
  pthread_join(writer, &ended);
  EXPECT_EQ(ended, PTHREAD_CANCELED);
  receive();
  ASSERT_EQ(lib.reserve(&flag), 0);
  EXPECT_EQ(lib.writeMessage(nullptr, nullptr, message.handle(), 2), 0);
  EXPECT_EQ(lib.unreserve(&flag), 0);
  EXPECT_EQ(receive(), (Records{{kInfo, "stalled"}}));
}

// lorvath-logger as a user runs it, and the host stand-in with its engine, writing to a
// real system log daemon: the exit status of each command, then what the daemon stored.
TEST(RsyslogdTest, StoresWhatTheToolsWrite) {
  if (access("/usr/sbin/rsyslogd", X_OK) != 0) {
    GTEST_SKIP() << "rsyslogd is not installed (tools/check.sh installs the rsyslog package)";
  }
  setenv("LORVATH_SCRIPT",
         "L=" LORVATH_TOOLS_DIR "/lorvath-logger H=" LORVATH_TOOLS_DIR
         "/lorvath_host\n"
         "$L hello 'big world'; echo $?\n"
         "$L --severity warning hello; echo $?\n"
         "$L --utf8 --severity error 'caf\xC3\xA9'; echo $?\n"
         "$L -- --severity; echo $?\n"
         "printf 'one\\n\\nthree' | $L --severity error; echo $?\n"
         "$L --severity 3 x; echo $?\n"  // refused by the library
         "$L --severity notice x; echo $?\n"
         "$L --priority 4 x; echo $?\n"
         "$H --library '" LORVATH_LIBRARY_PATH "' --severity error --utf8 --escapes a 'b\\r\\nc'\n",
         1);
  int status = 0;
  const std::string output = Output(LORVATH_SOURCE_DIR
                                    "/tools/private-syslog.sh sh -c 'eval \"$LORVATH_SCRIPT\"' "
                                    "2>/dev/null </dev/null",
                                    status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.substr(0, output.find("\n\n") + 1),
            "0\n0\n0\n0\n0\n1\n2\n2\n"
            "Lorvath_Reserve -> 0\n"
            "Lorvath_WriteMessageUTF8 \"a\" -> 0\n"
            "Lorvath_WriteMessageUTF8 \"b\\r\\nc\" -> 0\n"
            "Lorvath_Unreserve -> 0\n");
  // As sed's "l" shows them: control characters and other bytes escaped, "$" at the end.
  EXPECT_EQ(output.substr(output.rfind("record):\n") + 9),
            "<14> user.info lorvath-logger: hello big world$\n"
            "<12> user.warning lorvath-logger: hello$\n"
            "<11> user.err lorvath-logger: caf\\303\\251$\n"
            "<14> user.info lorvath-logger: --severity$\n"
            "<11> user.err lorvath-logger: one$\n"
            "<11> user.err lorvath-logger: $\n"
            "<11> user.err lorvath-logger: three$\n"
            "<11> user.err lorvath_host: a$\n"
            "<11> user.err lorvath_host: b\\r\\tc$\n");
}

// A failed check under a tracer that is not a debugger (strace) raises SIGTRAP, which its
// no-op handler takes: the null-flag reservation returns 1 and the process goes on.
TEST(TracedProcessTest, FailedCheckUnderStraceGoesOn) {
  if (std::getenv("LORVATH_RESERVE_NULL") != nullptr) {  // the traced run of this test
    std::printf("\nreserve(NULL) -> %d\n", lib.reserve(nullptr));
    std::fflush(stdout);
    std::_Exit(0);
  }
  int status = 0;
  Output("strace -o /dev/null true 2>&1", status);
  if (status != 0) GTEST_SKIP() << "strace cannot run here (tools/check.sh installs it)";
  // This program by its /proc link: in a chroot the link's text can name a path outside it.
  const std::string output =
      Output("LORVATH_RESERVE_NULL=1 strace -f -e trace=none /proc/" + std::to_string(getpid()) +
                 "/exe --gtest_filter=TracedProcessTest.FailedCheckUnderStraceGoesOn 2>&1",
             status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("--- SIGTRAP"), std::string::npos) << output;
  EXPECT_NE(output.find("\nreserve(NULL) -> 1\n"), std::string::npos) << output;
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
