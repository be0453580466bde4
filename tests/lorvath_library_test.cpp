// The logging interface as the host meets it: liblorvath.so loaded with dlopen, real
// host string handles, the tools built on it, and the records that arrive at /dev/log.
// The program runs in a private mount namespace where it owns /dev/log.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "lorvath.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"
#include "tests/support/PrivateLog.h"

namespace vo::lorvath::testing {
namespace {

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

// Loaded once the private /dev is entered; never unloaded.
LorvathLibrary& lib = *new LorvathLibrary(LORVATH_LIBRARY_PATH);

// Severity 9 probes whether a logger exists without logging: 1 with one, 2 without.
int32_t Probe() { return lib.writeMessage(nullptr, nullptr, nullptr, 9); }

const int kErr = LOG_USER | LOG_ERR, kWarning = LOG_USER | LOG_WARNING, kInfo = LOG_USER | LOG_INFO;

// Every row is written by both functions, first without a reservation and then under one;
// the records are read from /dev/log.
TEST(LibraryTest, EachWriteBecomesOneRecordOrNone) {
  if (!g_privateDevProblem.empty()) GTEST_SKIP() << "no private /dev: " << g_privateDevProblem;
  ASSERT_EQ(lib.error(), "");
  LogReceiver receiver;
  ASSERT_EQ(receiver.error(), "") << "binding /dev/log";
  enum Handle { kBytes, kCountMinusOne, kNullRecord, kNullHandle };
  const struct {
    const char* name;
    Lorvath_Severity severity;
    std::string bytes;
    int32_t result;
    LogReceiver::Records logged;
    Handle handle = kBytes;
  } cases[] = {
      {"lf_becomes_tab_cr_stays", 0, "\na\r\nb\rc\n", 0, {{kErr, "\ta\r\tb\rc\t"}}},
      {"cut_at_zero_byte", 1, std::string("ab\0cd", 5), 0, {{kWarning, "ab"}}},
      {"formats_and_bytes_literal", 2, "%n%s\xC3\xA9\xFF", 0, {{kInfo, "%n%s\xC3\xA9\xFF"}}},
      {"severity_three", 3, "x", LORVATH_ERR_ARGUMENT, {}},
      {"null_record", 2, "", 0, {{kInfo, ""}}, kNullRecord},
      {"null_handle", 2, "", 0, {{kInfo, ""}}, kNullHandle},
      {"negative_count", 0, "", LORVATH_ERR_INVALID_ARGUMENT, {}, kCountMinusOne},
      {"severity_below_before_count", -1, "", LORVATH_ERR_ARGUMENT, {}, kCountMinusOne},
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
      EXPECT_EQ(receiver.receive(), c.logged);  // a record is sent before the write returns
    }
  }
}

// A null flag, and the release of a flag that looks reserved but never was, are reported
// (on standard error, by the library's own presenter, which does not wait): the count stays.
TEST(LibraryTest, ReservationsAreCountedOncePerFlag) {
  ASSERT_EQ(lib.error(), "");
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
      {true, &b, 1, 0, "", LORVATH_ERR_ARGUMENT},
      {false, &a, 0, 0, "", LORVATH_ERR_ARGUMENT},  // b still holds the logger
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

// lorvath-logger as a user runs it, and the host stand-in with its engine, writing to a real
// log daemon: each command's exit status (the host's is the script's), then the records.
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
         "$H --library '" LORVATH_LIBRARY_PATH
         "' --severity error --utf8 --escapes a 'b\\r\\nc' >&2\n",
         1);
  int status = 0;
  const std::string output = Output(LORVATH_SOURCE_DIR
                                    "/tools/private-syslog.sh sh -c 'eval \"$LORVATH_SCRIPT\"' "
                                    "2>/dev/null </dev/null",
                                    status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.substr(0, output.find("\n\n") + 1), "0\n0\n0\n0\n0\n1\n2\n2\n");
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
  if (std::getenv("LORVATH_RESERVE_NULL") != nullptr) {  // the traced run: exits with the result
    std::_Exit(lib.reserve(nullptr));
  }
  int status = 0;
  Output("strace -o /dev/null true 2>&1", status);
  if (status != 0) GTEST_SKIP() << "strace cannot run here (tools/check.sh installs it)";
  // This program by its /proc link: in a chroot the link's text can name a path outside it.
  const std::string output =
      Output("LORVATH_RESERVE_NULL=1 strace -f -e trace=none /proc/" + std::to_string(getpid()) +
                 "/exe --gtest_filter=TracedProcessTest.FailedCheckUnderStraceGoesOn 2>&1",
             status);
  EXPECT_EQ(WEXITSTATUS(status), LORVATH_ERR_ARGUMENT) << output;
  EXPECT_NE(output.find("--- SIGTRAP"), std::string::npos) << output;
}

TEST(LibraryExportsTest, OnlyTheExternalInterfaceLeavesTheLibrary) {
  int status = 0;
  EXPECT_EQ(
      Output("nm -D --defined-only '" LORVATH_LIBRARY_PATH "' | awk '{print $3}' | sort", status),
      "CFStringFromCString\nCallOBRT\nDSDisposeHandle\nExtCodeLoadOBFunction\n"
      "GGetOneErrorCode\nLorvath_ReleaseString\nLorvath_Reserve\nLorvath_Unreserve\n"
      "Lorvath_WriteMessage\nLorvath_WriteMessageUTF8\nNumericArrayResize\n"
      "SetOmbrixRunTimeBundle\n");
}

}  // namespace
}  // namespace vo::lorvath::testing
