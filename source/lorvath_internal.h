// Internals of the logging interface that its own unit test reaches: the logger, the
// classification of a caught exception as a host error code, and the one seam through
// which a record leaves for the system log.
//
// Thread-safe: the logger has no state, and the seam is one atomic pointer.
#ifndef SOURCE_LORVATH_INTERNAL_H_
#define SOURCE_LORVATH_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "lorvath.h"
#include "qel/DLLAlloc.h"
#include "qel/Noncopyable.h"

namespace vo::lorvath {

// The object whose existence a write checks. It has no state. It is allocated through
// the library's allocation wrappers, so that switching them off makes its creation fail
// like any other allocation.
class Logger : private qel::Noncopyable {
 public:
  Logger() = default;
  ~Logger() noexcept = default;

  // Writes the text of `message` to the system log; `first` and `second` are never read.
  // Returns 0 or throws (InvalidArgument for a bad severity or a negative count,
  // std::bad_alloc when the copy cannot be made).
  int32_t LogMessage(LStrHandle first, LStrHandle second, LStrHandle message,
                     Lorvath_Severity severity);
  // UTF-8 text reaches the log byte for byte like system-encoded text.
  int32_t LogMessageUTF8(LStrHandle first, LStrHandle second, LStrHandle message,
                         Lorvath_Severity severity);

  static void* operator new(std::size_t size) { return qel::DLLMalloc(size); }
  static void operator delete(void* p) noexcept { qel::DLLFree(p); }
};

// REQUIRES: called inside a catch handler. Returns the host error code for the exception
// in flight; rethrows a thread's cancellation (abi::__forced_unwind), so that it passes,
// and ends the process on a foreign exception.
int32_t TranslateCaughtException();

// The function that sends a record, syslog(3) unless a test has replaced it.
using SyslogFunction = void (*)(int priority, const char* format, ...);

// Installs `function` and returns the one it replaces.
SyslogFunction ReplaceSyslog(SyslogFunction function) noexcept;

}  // namespace vo::lorvath

#endif  // SOURCE_LORVATH_INTERNAL_H_
