// Directory listings filtered by a wildcard: every entry of one directory whose name
// fits a mask in which '*' stands for any run of characters (also none), '?' for any
// one character and every other character for itself regardless of letter case.
// There are no character classes and no escapes.
//
// Stateless; several threads may list at once.
//
//  1. A pattern is a directory and a mask separated by its last '/' (or '\'); without
//     one the directory is "." and a pattern ending with a separator lists nothing. A
//     pattern "/mask" lists the root.
//  2. Entries come in the order the system returns them, each as the directory, '/'
//     and the name; "." and ".." never come (but see k_ADD_DOT_ENTRIES).
//  3. Names are converted from the system encoding exactly: a name that does not
//     convert is refused with InvalidArgument2 rather than listed under another
//     name. The pattern is refused as paths are (SystemPath.h).
#ifndef QEL_OSDEP_FINDFILES_H_
#define QEL_OSDEP_FINDFILES_H_

#include "qel/StringBase.h"
#include "qel/Vector.h"

namespace vo::qel::osdep {

class FindFiles {
 public:
  enum FindFlags : int {
    // Names beginning with '.' are listed too ("." and ".." themselves never are).
    k_INCLUDE_HIDDEN = 1,
    // Only directories (links followed; an absolute pattern is needed to find any),
    // each with a trailing '/'.
    k_DIRECTORIES_ONLY = 2,
    // A symbolic link is listed as its content (path::ResolveSymLink).
    k_RESOLVE_SYMLINKS = 4,
    // After all entries, "<dir>/." and "<dir>/.." are appended.
    k_ADD_DOT_ENTRIES = 8
  };

  FindFiles() noexcept {}
  ~FindFiles() noexcept {}

  // The listing without flags; a directory that cannot be opened lists nothing.
  Vector<String> getFilenames(const String& pattern) const;
  // The listing with `flags`; a directory that cannot be opened or read throws
  // PosixError.
  Vector<String> getFilenames(const String& pattern, FindFlags flags) const;
};

constexpr FindFiles::FindFlags operator|(FindFiles::FindFlags a, FindFiles::FindFlags b) noexcept {
  return FindFiles::FindFlags(int(a) | int(b));
}

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_FINDFILES_H_
