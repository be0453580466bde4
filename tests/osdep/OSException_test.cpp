#include "qel/osdep/OSException.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vo::qel::osdep {
namespace {

// The host sees 7 for a missing file, 0 for no error and 42 for anything else.
TEST(OSExceptionTest, HostCodesSystemCodesAndTexts) {
  errno = EACCES;
  struct {
    const char* name;
    const OSException& e;
    uint32_t hostCode;
    uint32_t systemCode;
    const char* what;
  } const cases[] = {
      {"posix_missing_file", PosixError(2), 7, 2, "No such file or directory"},
      {"posix_from_errno", PosixError(), 42, EACCES, "Permission denied"},
      {"posix_no_error", PosixError(0), 0, 0, "Success"},
      {"carbon_missing_file", CarbonError(-43), 7, 0xFFFFFFD5u, "Unknown error code"},
      {"carbon_other", CarbonError(-36), 42, 0xFFFFFFDCu, "Unknown error code"},
      {"os_default", OSException(), 42, 0, "Unknown error"},
      {"os_message", OSException(ANSIString("m"), 9), 42, 9, "m"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.hostCode, c.e.getErrorCode());
    EXPECT_EQ(c.systemCode, c.e.whatcode());
    EXPECT_STREQ(c.what, c.e.what());
  }
}

}  // namespace
}  // namespace vo::qel::osdep
