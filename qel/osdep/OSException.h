// Exceptions that carry an operating-system error: the system's message and its
// number. The host sees 7 for a missing file, 0 for a stored code of 0 (so a caught
// "success" is reported as success) and 42 for anything else.
//
// Values owned by the thread that handles them.
#ifndef QEL_OSDEP_OSEXCEPTION_H_
#define QEL_OSDEP_OSEXCEPTION_H_

#include <cstdint>

#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace vo::qel::osdep {

class OSException : public exception::Exception {
 public:
  OSException();  // "Unknown error", code 0
  OSException(const ANSIString& message, uint32_t code);

  const char* what() const noexcept override { return message_.c_str(); }
  uint32_t getErrorCode() const noexcept override { return 42; }
  // The operating system's own number.
  virtual uint32_t whatcode() const noexcept { return code_; }

 private:
  ANSIString message_;
  uint32_t code_;
};

class PosixError : public OSException {
 public:
  PosixError();                     // strerror(errno), errno
  explicit PosixError(int errnum);  // strerror(errnum), errnum
  PosixError(const ANSIString& message, int code);

  uint32_t getErrorCode() const noexcept override;
};

class CarbonError : public OSException {
 public:
  explicit CarbonError(short err);  // "Unknown error code"
  CarbonError(const ANSIString& message, short err);

  uint32_t getErrorCode() const noexcept override;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_OSEXCEPTION_H_
