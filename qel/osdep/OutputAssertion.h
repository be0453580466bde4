// The failed-check report, for internal consistency checks. A failed check writes
// one line to standard error, may show an alert, and returns: the caller always
// carries on with whatever its own code does next.
//
// Thread-safe. The report never throws and never allocates through the library's
// allocation wrappers, so it may run while allocation is switched off.
//
// A test harness may take failed checks over while a test runs: it installs a handler
// that the report asks first. Without one (no harness linked, or none installed) the
// report behaves as described below.
#ifndef QEL_OSDEP_OUTPUTASSERTION_H_
#define QEL_OSDEP_OUTPUTASSERTION_H_

#include <cstdint>

namespace vo::qel::osdep {

// Reports the failed check `expression` with `message` (empty for none) at
// `file`:`line`. Writes "file(line): Assertion failed: <message or expression>"
// followed by a bell and a line feed to standard error. In a traced process it then
// raises SIGTRAP with a no-op handler installed around the raise: a debugger sees the
// signal first and stops there, while a tracer that is not a debugger (strace) lets the
// process go on. Otherwise it offers the "ASSERTION FAILURE!" alert until "Ignore All"
// is answered once in the process. The calling thread cannot be cancelled meanwhile.
void OutputAssertion(const char* expression, const char* message, const char* file,
                     uint32_t line) noexcept;

// Receives a failed check (texts never null) before the report makes it. Returns true
// when it has dealt with the check, which ends the report; false lets the report go on.
using FailedCheckHandler = bool (*)(const char* expression, const char* message, const char* file,
                                    uint32_t line) noexcept;

// Installs `handler` for every later report; null removes it.
void SetFailedCheckHandler(FailedCheckHandler handler) noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_OUTPUTASSERTION_H_
