// The path of the running executable (the module named in alerts, the test
// program's name): read without allocating for the failed-check report, and as a
// String for everyone else.
//
// Thread-safe.
#ifndef QEL_OSDEP_EXEPATH_H_
#define QEL_OSDEP_EXEPATH_H_

#include <cstddef>

#include "qel/StringBase.h"

namespace vo::qel::osdep {

// Writes the executable's path, zero-terminated, into `buffer` without allocating.
// Returns its length; `size` or more when the buffer was too small (the contents are
// then cut); 0 when the path cannot be had. A trailing " (deleted)" is cut off.
size_t ReadExePath(char* buffer, size_t size) noexcept;

// The executable's path, converted from the system's encoding. Throws PosixError when
// the path cannot be read.
String GetExePath();

// The executable's file name without its directory.
String GetExeBaseName();

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_EXEPATH_H_
