// Host error codes as exceptions: ThrowIfOBError turns a non-zero code that a host
// service answered into an OBErrorException, whose text carries the number and the
// host's own description of it, and whose error code is the host's code unchanged, so
// the failure reaches the host as its own code.
// Thread-safe: the host's text is fetched through the engine binding, which any thread
// may call.
//
// 1. what() is "Error Code: <decimal> (<8 lower-case hex digits>): " followed by the
//    host's text for the code, or by "Unknown error code or error text unavailable."
//    when the host has none.
// 2. Every handle the host fills with a text is released before the constructor
//    returns, also when reading it throws.
#ifndef QEL_OB_THROWIFOBERROR_H_
#define QEL_OB_THROWIFOBERROR_H_

#include <cstdint>

#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace vo::qel::ob {

class OBErrorException : public exception::Exception {
 public:
  explicit OBErrorException(int32_t code);

  const char* what() const noexcept override { return message_.c_str(); }
  uint32_t getErrorCode() const noexcept override { return static_cast<uint32_t>(code_); }

  // "Error Code: %d (%08x): " filled with the code twice.
  ANSIString baseErrMsg(int32_t code) const;
  // The host's text for the code (GGetOneErrorCode), or the fallback text.
  ANSIString getErrText(int32_t code) const;

 private:
  ANSIString message_;
  int32_t code_;
};

// Returns for 0; throws OBErrorException(code) for anything else.
void ThrowIfOBError(int32_t code);

}  // namespace vo::qel::ob

#endif  // QEL_OB_THROWIFOBERROR_H_
