#include "qel/exception/Exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/AlertRecorder.h"

namespace vo::qel::exception {
namespace {

struct FixedCase {
  const char* name;
  std::shared_ptr<Exception> e;
  uint32_t code;
  const char* text;
};

TEST(ExceptionTest, FixedCodesAndTexts) {
  const FixedCase cases[] = {
      {"InvalidArgument", std::make_shared<InvalidArgument>(), 0x8ABC700F, "Invalid argument(s)"},
      {"OutOfRange", std::make_shared<OutOfRange>(), 0x8ABC7007, "Out of range"},
      {"BoundExceeded", std::make_shared<BoundExceeded>(), 0x8ABC7007,
       "A request was made that would exceed the bounds"},
      {"ObjectAlreadyExists", std::make_shared<ObjectAlreadyExists>(), 0x8ABC7009,
       "Object already exists"},
      {"NonexistentException", std::make_shared<NonexistentException>(), 0x8ABC700A,
       "The object does not exist"},
      {"FileWriteFailed", std::make_shared<FileWriteFailed>(), 0x8ABC7011,
       "Write file operation failed"},
      {"FileReadFailed", std::make_shared<FileReadFailed>(), 0x8ABC7012,
       "Read file operation failed"},
      {"DeserializationError", std::make_shared<DeserializationError>(), 0x8ABC7014,
       "Failed to deserialize"},
      {"BufferOverflow", std::make_shared<BufferOverflow>(), 0x8ABC7017, "Buffer overflowed"},
      {"FileAlreadyExists", std::make_shared<FileAlreadyExists>(), 0x8ABC701B,
       "File already exists"},
      {"InvalidLocale", std::make_shared<InvalidLocale>(), 0x8ABC7024, "Invalid locale"},
      {"InvalidSequence", std::make_shared<InvalidSequence>(), 0x8ABC7030,
       "Invalid UTF8 encoding sequence"},
  };
  testing::AlertRecorder alerts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.code, c.e->getErrorCode());
    EXPECT_STREQ(c.text, c.e->what());
    EXPECT_EQ(static_cast<int32_t>(c.code), c.e->getOmbrixErrorCode());
    EXPECT_EQ(nullptr, c.e->getFileName());
    EXPECT_EQ(0u, c.e->getLineNumber());
  }
  EXPECT_TRUE(alerts.alerts().empty());
  EXPECT_EQ(-1967362033, InvalidArgument().getOmbrixErrorCode());
}

TEST(ExceptionTest, BaseCodeIsReportedAndPassedOn) {
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, Exception().getOmbrixErrorCode());
  EXPECT_EQ(
      "exception/Exception(#): Assertion failed: "
      "Client received an exception with invalid error code!\a\n",
      testing::WithoutLineNumber(::testing::internal::GetCapturedStderr()));
  ASSERT_EQ(1u, alerts.alerts().size());
  EXPECT_NE(std::string::npos, alerts.alerts()[0].text.find("0xFFFFFFFF != errorCode"));
  EXPECT_STREQ("unspecified exception", Exception().what());
}

TEST(ExceptionTest, ThrowSiteIsStampedAndSurvivesCopies) {
  try {
    try {
      throw AddFileAndLineInfo(OutOfRange(), "osdep/path", 77);
    } catch (const Exception& e) {
      EXPECT_STREQ("osdep/path", e.getFileName());
      throw;
    }
  } catch (const std::exception& e) {
    // Caught through the standard base, still the derived object.
    const auto* ours = dynamic_cast<const OutOfRange*>(&e);
    ASSERT_NE(nullptr, ours);
    OutOfRange copy(*ours);
    EXPECT_EQ(77u, copy.getLineNumber());
    EXPECT_STREQ("osdep/path", copy.getFileName());
  }
}

}  // namespace
}  // namespace vo::qel::exception
