// Paths and the file system: splitting, joining and normalising path strings, the
// working directory, queries and operations on files, directories and symbolic
// links, whole directory trees, and temporary names.
//
// The functions keep no state and may run on several threads at once; SetCWD changes
// the working directory of the whole process, which every relative path of every
// thread depends on.
//
//  1. Paths are wide Strings with '/' as the only separator. For each system call a
//     path is converted to the system encoding (SystemPath.h); one that cannot be
//     converted exactly is refused with InvalidArgument2 and nothing is touched.
//  2. Functions that touch the file system take absolute paths (first character
//     '/') only, as each says; relative ones are refused.
//  3. Failures throw, stamped with the source "osdep/path". System calls interrupted
//     by a signal are repeated.
//  4. Descriptors opened here are closed on exec and never outlive the call.
//  5. The recursive operations (RemoveDirForce, CpDir) work through descriptors of
//     the directories they walk and never follow a symbolic link below their
//     starting directory, even one swapped in while they run; they stop with
//     BoundExceeded2 below kMaxTreeDepth levels.
#ifndef QEL_OSDEP_PATH_H_
#define QEL_OSDEP_PATH_H_

#include "qel/StringBase.h"

namespace vo::qel::osdep::path {

// The deepest directory level below its start that a recursive operation enters.
constexpr int kMaxTreeDepth = 128;

// Pure string functions (no file-system access).

// The characters after the last '/'; all of `p` if it has none; empty if `p` ends
// with '/'.
String BaseName(const String& p);
// `p` without its last component and the slashes before it: /a/b gives /a, /a gives
// /, a gives the empty string, a/b/ gives a/b; a path of slashes only comes back as
// it is.
String DirName(const String& p);
// `b` if it is absolute or `a` is empty; `a + b` if `a` ends with '/'; otherwise
// `a + "/" + b`.
String Join(const String& a, const String& b);
ANSIString Join(const ANSIString& a, const ANSIString& b);
// The first character is '/' (an empty path is relative).
bool IsAbs(const String& p);
// The same for zero-terminated text; null is reported as a failed check and is not
// absolute.
bool IsPathAbsolute(const wchar_t* p);
// `p` with "." and ".." components resolved textually. The empty string for a
// relative path, a path holding a "..." component, or one that climbs above the
// root. A path without any '.' comes back unchanged (doubled slashes stay); a
// trailing slash is kept.
String NormalizePath(const String& p);
// Appends '/' unless `p` already ends with one. Throws InvalidArgument for an empty
// `p`.
void MakePathEndInSlash(String& p);
// A copy of `p`: this platform has no extended-length form of paths.
String MakePathExtendedLength(const String& p);
void GetPathDelimiter(wchar_t& out);
bool PlatformSupportsSymLinks();
// Whether two paths that differ in letter case name different files: true here, so
// path comparisons are exact.
bool IsFileSystemCaseSensitive();

// Working directory.

// Throws PosixError when it cannot be had.
String GetCWD();
// Changes to `p` and returns the previous directory; throws PosixError on failure.
String SetCWD(String p);
// GetCWD() if `p` is exactly "."; otherwise Join(GetCWD(), p). Nothing is normalised.
String AbsPath(const String& p);

// Queries.

// False for a relative path or a failing stat; else whether `p` (links followed) is a
// directory.
bool IsDirectory(const String& p);
bool IsDirectory(const wchar_t* p);
// False for a relative path or a failing lstat; else whether `p` is a symbolic link.
bool IsSymLink(const String& p);
bool IsSymLink(const wchar_t* p);
// Whether `p` (links followed) is a regular file: false when it does not exist.
// Throws InvalidArgument for a relative path and PosixError for other failures.
bool DoesFileExist(const String& p);

// Operations.

// Creates the link `linkPath` holding `targetPath`; throws PosixError on failure.
void CreateSymLink(const String& linkPath, const String& targetPath);
// The content of the link `p`, as stored (a relative target stays relative). Throws
// InvalidArgument when `p` is not an absolute path to a link, PosixError on failure.
String ResolveSymLink(const String& p);
// Creates every missing directory of `p` up to its last '/' (the text after it names
// a file and is not created): /a/b/c makes /a and /a/b, /a/b/c/ also /a/b/c. New
// directories get 0700, or exactly `mode` (the umask does not apply). Throws
// InvalidArgument for a null, relative or slash-free path, ObjectAlreadyExists or
// AccessDenied when a directory cannot be made.
void CreateDir(const wchar_t* p);
void CreateDir(const wchar_t* p, unsigned int mode);
// Removes the file or link `p`. A relative path throws InvalidArgument; with
// `ignoreErrors` it is reported as a failed check instead and the removal tried.
// Failures throw PosixError unless `ignoreErrors`.
void RemoveFile(const wchar_t* p, bool ignoreErrors);
void RemoveFile(const String& p, bool ignoreErrors);
// Removes the empty directory `p`, or the link `p` when it is a link to a directory.
// Throws NonexistentException when `p` is no directory, AccessDenied on failure.
void RemoveDir(const wchar_t* p);
// Removes the directory `p` and everything below it; a link `p` is removed as a link.
// Throws NonexistentException when `p` is no directory, PosixError or AccessDenied on
// failure (what was removed stays removed).
void RemoveDirForce(const wchar_t* p);
// Copies the contents of the file `src` to `dst`, created with 0600 (less the umask)
// when missing; permissions and times are not copied. Throws InvalidArgument for
// relative paths, FileAlreadyExists when `dst` exists and not `overwrite` (also when
// it appears meanwhile), PosixError when a file cannot be opened, FileReadFailed or
// FileWriteFailed. A copy onto the file itself (the same path, or another path or
// hard link to it) leaves it untouched.
void CpFile(const String& src, const String& dst, bool overwrite);
// Copies the directory `src` into `dst` recursively: files are copied (over existing
// ones), directories created, links copied as links holding the same text; names
// beginning with '.' and files of other types are skipped. A missing `dst` is
// created with its parents by CreateDir (so only with a trailing slash does `dst`
// itself get made). Throws InvalidArgument for relative paths, NonexistentException
// when `src` is no directory, and as CpFile.
void CpDir(const String& src, const String& dst);
// Renames `src` to `dst`; across file systems copies and removes the source (and
// removes the copy again when the source cannot be removed). Throws InvalidArgument
// for relative paths, PosixError on failure.
void RenameFile(const String& src, const String& dst);

// Temporary names.

// The environment variable TMPDIR when set and not empty, else "/var/tmp/", unchanged.
String TempDirName();
// A name for a file that does not exist yet in `dir` (TempDirName() when empty),
// starting with `prefix` cut to its first 5 characters; the file is not created.
// Throws InvalidArgument for an empty prefix or a relative directory,
// NonexistentException when the directory does not exist, PosixError on failure.
String TempFileName(const String& prefix, const String& dir);

}  // namespace vo::qel::osdep::path

#endif  // QEL_OSDEP_PATH_H_
