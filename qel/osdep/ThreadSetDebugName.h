// Names for threads, as debuggers and the system's thread list (ps -L, /proc) show them.
//
// Thread-safe: each call names the calling thread only.
//
// 1. Names longer than the limit keep their beginning and end around "...".
// 2. A tab, line feed or carriage return in a name is reported as a failed check and kept.
// 3. The system keeps at most 15 bytes of a name: the first 15 of the cleaned name.
#ifndef QEL_OSDEP_THREADSETDEBUGNAME_H_
#define QEL_OSDEP_THREADSETDEBUGNAME_H_

#include <cstddef>

#include "qel/StringBase.h"

namespace vo::qel::osdep {

class Thread;

// Names the calling thread with ThreadCleanName(name, 64). The two numbers are not used.
// A null name is reported as a failed check and names nothing.
void ThreadSetDebugName(unsigned long, unsigned long, const char* name) noexcept;
// Does nothing: only the calling thread can be named here.
void ThreadSetDebugName(const Thread& thread, const char* name) noexcept;

// `name` as a thread name of at most `maxLength` - 1 characters: a longer one becomes its
// first and last (maxLength / 2 - 2) characters around "...". A limit below 4 cuts nothing.
ANSIString ThreadCleanName(const char* name, size_t maxLength);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_THREADSETDEBUGNAME_H_
