// The exceptions as the host sees them: its error codes, the system's codes and the texts.
#include "qel/exception/Exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "qel/exception/DetailedException.h"
#include "qel/osdep/OSException.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::exception {
namespace {

// The host sees a signed code: 7 for a missing file, 0 for no error and 42 for any other
// system error. The base class has no valid code, which is reported once per reading.
TEST(ExceptionTest, HostCodesSystemCodesAndTexts) {
  using namespace osdep;
  errno = EACCES;
  testing::AlertRecorder alerts;
  struct {
    const char* name;
    const Exception& e;
    int32_t hostCode;
    uint32_t systemCode;  // 0 for an exception that is no system error
    const char* what;
  } const cases[] = {
      {"invalid_argument", InvalidArgument(), -1967362033, 0, "Invalid argument(s)"},
      {"detail", AccessDenied(String(L"/var/lib/lorvath")), -1967362023, 0,
       "Access denied: /var/lib/lorvath"},
      {"base", Exception(), -1, 0, "unspecified exception"},
      {"posix_missing_file", PosixError(2), 7, 2, "No such file or directory"},
      {"posix_from_errno", PosixError(), 42, EACCES, "Permission denied"},
      {"posix_no_error", PosixError(0), 0, 0, "Success"},
      {"carbon_missing_file", CarbonError(-43), 7, 0xFFFFFFD5u, "Unknown error code"},
      {"carbon_other", CarbonError(-36), 42, 0xFFFFFFDCu, "Unknown error code"},
      {"os_message", OSException(ANSIString("m"), 9), 42, 9, "m"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.hostCode, c.e.getOmbrixErrorCode());
    const auto* os = dynamic_cast<const OSException*>(&c.e);
    EXPECT_EQ(c.systemCode, os != nullptr ? os->whatcode() : 0u);
    EXPECT_STREQ(c.what, c.e.what());
  }
  EXPECT_EQ(std::vector<std::string>{"exception/Exception(102) 0xFFFFFFFF != errorCode | Client "
                                     "received an exception with invalid error code!"},
            alerts.take());
}

}  // namespace
}  // namespace vo::qel::exception
