// The parts of the logging interface that the host cannot provoke from outside: how
// caught exceptions become host error codes, and the out-of-memory paths, reached by
// switching the allocation wrappers off. The file under test is compiled into this
// program so that its file-local functions can be called.
#include "source/lorvath.cpp"

#include <climits>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "qel/DLLAlloc.h"
#include "tests/support/AlertRecorder.h"

namespace {

using vo::lorvath::Logger;
using vo::lorvath::TranslateCaughtException;
using vo::qel::MakeDLLMallocThrow;
using vo::qel::testing::AlertRecorder;
namespace exception = vo::qel::exception;

template <class E>
int32_t CodeFor(const E& e) {
  try {
    throw e;
  } catch (...) {
    return TranslateCaughtException();
  }
}

TEST(TranslateCaughtExceptionTest, EachKindBecomesItsHostCode) {
  AlertRecorder alerts;
  EXPECT_EQ(CodeFor(std::bad_alloc()), 2);
  EXPECT_EQ(CodeFor(std::bad_array_new_length()), 2) << "a kind of bad_alloc";
  EXPECT_EQ(CodeFor(exception::InvalidArgument2(vo::qel::ANSIString("severity"))),
            static_cast<int32_t>(0x8ABC700F));
  EXPECT_EQ(CodeFor(exception::OutOfRange()), static_cast<int32_t>(0x8ABC7007));
  EXPECT_EQ(CodeFor(exception::InvalidSequence()), static_cast<int32_t>(0x8ABC7030));
  EXPECT_EQ(CodeFor(std::runtime_error("x")), 42);
  EXPECT_EQ(CodeFor(std::length_error("x")), 42);
  EXPECT_EQ(CodeFor(std::exception()), 42);
  EXPECT_TRUE(alerts.alerts().empty());
  // The base class has no real code: reported, then passed on as -1.
  EXPECT_EQ(CodeFor(exception::Exception()), -1);
  EXPECT_EQ(alerts.alerts().size(), 1u);
}

TEST(TranslateCaughtExceptionDeathTest, ForeignExceptionEndsTheProcess) {
  EXPECT_DEATH(CodeFor(5), "");
}

TEST(LoggerTest, BadSeverityThrowsBeforeTheMessageIsRead) {
  Logger logger;
  // A negative count would throw a different text if the message were read first.
  LStr record{-1, {0}};
  LStrPtr pointer = &record;
  for (Lorvath_Severity severity : {3, -1, INT_MIN}) {
    try {
      logger.LogMessage(nullptr, nullptr, &pointer, severity);
      ADD_FAILURE() << "no exception for severity " << severity;
    } catch (const exception::InvalidArgument& e) {
      EXPECT_STREQ(e.what(), "Invalid argument(s): severity");
      EXPECT_EQ(e.getOmbrixErrorCode(), static_cast<int32_t>(0x8ABC700F));
      EXPECT_STREQ(e.getFileName(), "source/lorvath");
    }
  }
}

// Severity 9 answers 1 when a logger exists and 2 when none does, and logs nothing.
int32_t Probe() { return Lorvath_WriteMessage(nullptr, nullptr, nullptr, 9); }

TEST(OutOfMemoryTest, FailedLoggerCreationLeavesTheCountRaisedWithoutALogger) {
  unsigned char a = 0;
  unsigned char b = 0;
  ASSERT_FALSE(MakeDLLMallocThrow(true));
  EXPECT_EQ(Lorvath_Reserve(&a), 2);
  EXPECT_EQ(a, 1) << "the flag stays set";
  MakeDLLMallocThrow(false);
  EXPECT_EQ(Probe(), 2) << "no logger";
  EXPECT_EQ(Lorvath_Reserve(&b), 0);
  EXPECT_EQ(Probe(), 2) << "only a first reservation creates the logger";
  EXPECT_EQ(Lorvath_Unreserve(&a), 0);
  EXPECT_EQ(Lorvath_Unreserve(&b), 0);
  EXPECT_EQ(Lorvath_Reserve(&a), 0);
  EXPECT_EQ(Probe(), 1) << "the count fell to 0, so this reservation was the first again";
  EXPECT_EQ(Lorvath_Unreserve(&a), 0);
  EXPECT_EQ(Probe(), 2);
}

TEST(OutOfMemoryTest, WriteThatCannotCopyItsMessageReturns2) {
  unsigned char flag = 0;
  ASSERT_EQ(Lorvath_Reserve(&flag), 0);
  LStr record{1, {'x'}};
  LStrPtr pointer = &record;
  ASSERT_FALSE(MakeDLLMallocThrow(true));
  EXPECT_EQ(Lorvath_WriteMessage(nullptr, nullptr, &pointer, 0), 2);
  EXPECT_EQ(Lorvath_WriteMessageUTF8(nullptr, nullptr, &pointer, 0), 2);
  MakeDLLMallocThrow(false);
  EXPECT_EQ(Lorvath_Unreserve(&flag), 0);
}

}  // namespace
