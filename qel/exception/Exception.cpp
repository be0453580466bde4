#include "qel/exception/Exception.h"

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::exception {

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return "unspecified exception"; }

uint32_t Exception::getErrorCode() const noexcept { return 0xFFFFFFFFu; }

int32_t Exception::getOmbrixErrorCode() const noexcept {
  const uint32_t errorCode = getErrorCode();
  if (0xFFFFFFFFu == errorCode) {
    osdep::OutputAssertion("0xFFFFFFFF != errorCode",
                           "Client received an exception with invalid error code!",
                           "exception/Exception", 102);
  }
  return static_cast<int32_t>(errorCode);
}

#define QEL_DEFINE_EXCEPTION(Name, code, text)             \
  const char* Name::what() const noexcept { return text; } \
  uint32_t Name::getErrorCode() const noexcept { return code; }

QEL_DEFINE_EXCEPTION(InvalidArgument, 0x8ABC700Fu, "Invalid argument(s)")
QEL_DEFINE_EXCEPTION(OutOfRange, 0x8ABC7007u, "Out of range")
QEL_DEFINE_EXCEPTION(BoundExceeded, 0x8ABC7007u, "A request was made that would exceed the bounds")
QEL_DEFINE_EXCEPTION(ObjectAlreadyExists, 0x8ABC7009u, "Object already exists")
QEL_DEFINE_EXCEPTION(NonexistentException, 0x8ABC700Au, "The object does not exist")
QEL_DEFINE_EXCEPTION(FileWriteFailed, 0x8ABC7011u, "Write file operation failed")
QEL_DEFINE_EXCEPTION(FileReadFailed, 0x8ABC7012u, "Read file operation failed")
QEL_DEFINE_EXCEPTION(DeserializationError, 0x8ABC7014u, "Failed to deserialize")
QEL_DEFINE_EXCEPTION(BufferOverflow, 0x8ABC7017u, "Buffer overflowed")
QEL_DEFINE_EXCEPTION(FileAlreadyExists, 0x8ABC701Bu, "File already exists")
QEL_DEFINE_EXCEPTION(InvalidLocale, 0x8ABC7024u, "Invalid locale")
QEL_DEFINE_EXCEPTION(InvalidSequence, 0x8ABC7030u, "Invalid UTF8 encoding sequence")

#undef QEL_DEFINE_EXCEPTION

}  // namespace vo::qel::exception
