#include "qel/osdep/OSException.h"

#include <cerrno>
#include <cstring>

namespace vo::qel::osdep {
namespace {

ANSIString ErrorText(int errnum) {
  char buffer[256];
  // GNU strerror_r: thread-safe, returns either `buffer` or a static text.
  return ANSIString(::strerror_r(errnum, buffer, sizeof(buffer)));
}

uint32_t HostCode(uint32_t stored, uint32_t missingFile) {
  if (stored == missingFile) return 7;
  return stored == 0 ? 0 : 42;
}

}  // namespace

OSException::OSException() : message_("Unknown error"), code_(0) {}

OSException::OSException(const ANSIString& message, uint32_t code)
    : message_(message), code_(code) {}

PosixError::PosixError() : PosixError(errno) {}

PosixError::PosixError(int errnum) : OSException(ErrorText(errnum), errnum) {}

PosixError::PosixError(const ANSIString& message, int code) : OSException(message, code) {}

uint32_t PosixError::getErrorCode() const noexcept { return HostCode(whatcode(), ENOENT); }

CarbonError::CarbonError(short err) : CarbonError(ANSIString("Unknown error code"), err) {}

CarbonError::CarbonError(const ANSIString& message, short err)
    : OSException(message, static_cast<uint32_t>(static_cast<int32_t>(err))) {}

uint32_t CarbonError::getErrorCode() const noexcept {
  return HostCode(whatcode(), static_cast<uint32_t>(-43));
}

}  // namespace vo::qel::osdep
