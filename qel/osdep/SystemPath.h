// Paths between the library's wide Strings and the system's encoding, in which every
// file call takes them: exactly, or not at all. A path that would lose a character
// on the way (one the encoding lacks, becoming '?', or a 0 element, which would cut
// the name short) is refused, so a file call never runs on a name other than the one
// asked for.
//
// Stateless; thread-safe (as far as the process locale is not changed meanwhile).
//
// Plain ASCII text is converted element by element without the character-set layer:
// every character set a locale can name holds ASCII unchanged, and listings convert
// one name per directory entry.
#ifndef QEL_OSDEP_SYSTEMPATH_H_
#define QEL_OSDEP_SYSTEMPATH_H_

#include <cstddef>

#include "qel/StringBase.h"

namespace vo::qel::osdep {

// Converts `path` into `out`. On refusal returns false with errno set (EINVAL for a
// 0 element, EILSEQ for a character the system encoding cannot hold) and leaves
// `out` unspecified.
bool TryToSystemPath(const String& path, ANSIString& out);

// `path` in the system encoding. Throws InvalidArgument2 naming the reason when it
// cannot be converted exactly.
ANSIString ToSystemPath(const String& path);

// Appends the `size` bytes of `name`, a name in the system encoding, to `out`.
// Throws InvalidArgument2 when they do not convert back to the same bytes (not valid
// in the encoding, or holding a 0 byte); `out` is then unchanged.
void AppendSystemPath(String& out, const char* name, size_t size);

// The zero-terminated `name` as a String; refused as above.
String FromSystemPath(const char* name);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_SYSTEMPATH_H_
