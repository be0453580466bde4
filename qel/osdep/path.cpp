#include "qel/osdep/path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/BinaryFile.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/RetryOnEintr.h"
#include "qel/osdep/SystemPath.h"

namespace vo::qel::osdep::path {
namespace {

const char kFile[] = "osdep/path";

template <class E>
[[noreturn]] void Throw(E e, uint32_t line) {
  throw AddFileAndLineInfo(e, kFile, line);
}

int OpenAt(int dirFd, const char* name, int flags, mode_t mode = 0) {
  return RetryOnEintr([&] { return ::openat(dirFd, name, flags | O_CLOEXEC, mode); });
}

// An owned descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  ~Descriptor() noexcept {
    if (fd_ >= 0) Close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

int OpenDirectory(int dirFd, const char* name, int noFollow) {
  const int fd = OpenAt(dirFd, name, O_RDONLY | O_DIRECTORY | noFollow);
  if (fd < 0) Throw(PosixError(), __LINE__);
  return fd;
}

// An open directory stream on a descriptor of its own, closed when it goes.
class Directory {
 public:
  // Takes over `fd`, a descriptor of a directory. Throws PosixError (closing `fd`)
  // when no stream can be made of it.
  explicit Directory(int fd) : dir_(::fdopendir(fd)) {
    if (dir_ == nullptr) {
      const int error = errno;
      Close(fd);
      Throw(PosixError(error), __LINE__);
    }
  }
  // Opens `name` relative to `dirFd`; with `noFollow` (O_NOFOLLOW) a symbolic link is
  // refused instead of followed. Throws PosixError on failure.
  Directory(int dirFd, const char* name, int noFollow)
      : Directory(OpenDirectory(dirFd, name, noFollow)) {}
  ~Directory() noexcept { ::closedir(dir_); }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  int fd() const noexcept { return ::dirfd(dir_); }
  // The next entry other than "." and "..", or null at the end. Throws PosixError
  // when the directory cannot be read.
  const struct dirent* next() {
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) Throw(PosixError(), __LINE__);
        return nullptr;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      return entry;
    }
  }

 private:
  DIR* dir_;
};

template <class S>
S JoinImpl(const S& a, const S& b) {
  using CharT = typename S::value_type;
  if ((!b.empty() && b[0] == CharT('/')) || a.empty()) return b;
  if (a[a.length() - 1] == CharT('/')) return a + b;
  return a + CharT('/') + b;
}

bool SamePath(const String& a, const String& b) {
  return IsFileSystemCaseSensitive() ? a.exactCompare(b) == 0 : a.compare(b) == 0;
}

bool Stat(const String& p, struct stat& st, bool followLinks) {
  const ANSIString path = ToSystemPath(p);
  return RetryOnEintr([&] {
           return followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
         }) == 0;
}

void CheckDepth(int depth) {
  if (depth >= kMaxTreeDepth) {
    Throw(exception::BoundExceeded2(ANSIString("directory tree deeper than 128 levels")), __LINE__);
  }
}

// The content of the link `name` relative to `dirFd`, as stored. The buffer grows
// until the whole content fits, so a link changed meanwhile is never cut short.
ANSIString ReadLinkAt(int dirFd, const char* name, size_t sizeHint) {
  for (size_t size = sizeHint + 1 < 64 ? 64 : sizeHint + 1; size <= (size_t{1} << 20); size *= 2) {
    std::unique_ptr<char[]> buffer(new char[size]);
    const ssize_t n = ::readlinkat(dirFd, name, buffer.get(), size);
    if (n < 0) Throw(PosixError(), __LINE__);
    if (size_t(n) < size) return ANSIString(buffer.get(), static_cast<ANSIString::size_type>(n));
  }
  Throw(PosixError(ENAMETOOLONG), __LINE__);
}

// Copies the bytes of `in` from its position on to `out`: in the kernel where it
// offers copy_file_range, otherwise (or once that fails, so that the precise error
// shows) through a buffer.
void CopyContents(int in, int out) {
  for (bool copied = false;; copied = true) {
    const ssize_t n =
        RetryOnEintr([&] { return ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0); });
    // 0 at once may also be a file whose size the kernel does not know (/proc).
    if (n == 0 && copied) return;
    if (n <= 0) break;
  }
  constexpr size_t kBufferSize = 128 * 1024;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    const ssize_t n = RetryOnEintr([&] { return ::read(in, buffer.get(), kBufferSize); });
    if (n < 0) Throw(exception::FileReadFailed(), __LINE__);
    if (n == 0) return;
    if (BinaryFile::WriteExactSize(out, buffer.get(), size_t(n)) != n) {
      Throw(exception::FileWriteFailed(), __LINE__);
    }
  }
}

// Copies the file `srcName` (relative to `srcDir`) to `dstName` (relative to
// `dstDir`). Inside a tree walk (`inTree`) neither name may be a link and a source
// that is no regular file (swapped in meanwhile) is left alone.
void CopyFileAt(int srcDir, const char* srcName, int dstDir, const char* dstName, bool overwrite,
                bool inTree) {
  const int noFollow = inTree ? O_NOFOLLOW : 0;
  // Non-blocking, so that a FIFO swapped in cannot make the open wait for a writer.
  const Descriptor in(OpenAt(srcDir, srcName, O_RDONLY | noFollow | (inTree ? O_NONBLOCK : 0)));
  if (in.get() < 0) Throw(PosixError(), __LINE__);
  struct stat from;
  if (::fstat(in.get(), &from) != 0) Throw(PosixError(), __LINE__);
  if (inTree && !S_ISREG(from.st_mode)) return;
  // Without overwrite the target is created here or not at all: one that appears
  // after the existence check is never written.
  const int flags = O_WRONLY | O_CREAT | noFollow | (overwrite ? 0 : O_EXCL);
  const Descriptor out(OpenAt(dstDir, dstName, flags, 0600));
  if (out.get() < 0) {
    if (errno == EEXIST && !overwrite) Throw(exception::FileAlreadyExists(), __LINE__);
    Throw(PosixError(), __LINE__);
  }
  struct stat to;
  if (::fstat(out.get(), &to) != 0) Throw(PosixError(), __LINE__);
  // The same file under another name or a hard link: truncating it would lose it.
  if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) return;
  if (RetryOnEintr([&] { return ::ftruncate(out.get(), 0); }) != 0) Throw(PosixError(), __LINE__);
  CopyContents(in.get(), out.get());
}

// Recreates the link `name` of `srcDir` in `dstDir` with the same content, replacing
// a link of that name there.
void CopyLinkAt(int srcDir, int dstDir, const char* name, size_t sizeHint) {
  const ANSIString target = ReadLinkAt(srcDir, name, sizeHint);
  if (::symlinkat(target.c_str(), dstDir, name) == 0) return;
  struct stat st;
  if (errno == EEXIST && ::fstatat(dstDir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode) && ::unlinkat(dstDir, name, 0) == 0 &&
      ::symlinkat(target.c_str(), dstDir, name) == 0) {
    return;
  }
  Throw(PosixError(), __LINE__);
}

// A destination directory, opened when the first entry is copied into it.
class Destination {
 public:
  Destination(int dirFd, const char* name, int noFollow) noexcept
      : dirFd_(dirFd), name_(name), noFollow_(noFollow) {}
  ~Destination() noexcept {
    if (fd_ >= 0) Close(fd_);
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  int get() {
    if (fd_ < 0) fd_ = OpenDirectory(dirFd_, name_, noFollow_);
    return fd_;
  }

 private:
  int dirFd_;
  const char* name_;
  int noFollow_;
  int fd_ = -1;
};

void CopyTree(Directory& from, Destination& to, int depth) {
  CheckDepth(depth);
  while (const struct dirent* entry = from.next()) {
    const char* name = entry->d_name;
    if (name[0] == '.') continue;  // hidden names are not copied
    struct stat st;
    if (::fstatat(from.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) Throw(PosixError(), __LINE__);
    if (S_ISDIR(st.st_mode)) {
      if (RetryOnEintr([&] { return ::mkdirat(to.get(), name, 0700); }) != 0 && errno != EEXIST) {
        Throw(PosixError(), __LINE__);
      }
      Directory subFrom(from.fd(), name, O_NOFOLLOW);
      Destination subTo(to.get(), name, O_NOFOLLOW);
      CopyTree(subFrom, subTo, depth + 1);
    } else if (S_ISREG(st.st_mode)) {
      CopyFileAt(from.fd(), name, to.get(), name, true, true);
    } else if (S_ISLNK(st.st_mode)) {
      CopyLinkAt(from.fd(), to.get(), name, size_t(st.st_size));
    }
  }
}

// Removes everything below the directory `dir`, which `where` names.
void RemoveContents(Directory& dir, const String& where, int depth) {
  CheckDepth(depth);
  while (const struct dirent* entry = dir.next()) {
    const char* name = entry->d_name;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st;
      isDirectory = ::fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    if (!isDirectory) {
      if (::unlinkat(dir.fd(), name, 0) == 0) continue;
      if (errno != EISDIR) Throw(PosixError(), __LINE__);
    }
    // Entered only through a descriptor that refuses links: an entry swapped for a
    // link (or a file) meanwhile is removed itself, its target left alone.
    const int fd = OpenAt(dir.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
      if ((errno == ELOOP || errno == ENOTDIR) && ::unlinkat(dir.fd(), name, 0) == 0) continue;
      Throw(PosixError(), __LINE__);
    }
    Directory sub(fd);
    String path = where;
    MakePathEndInSlash(path);
    AppendSystemPath(path, name, std::strlen(name));
    RemoveContents(sub, path, depth + 1);
    if (::unlinkat(dir.fd(), name, AT_REMOVEDIR) != 0) {
      Throw(exception::AccessDenied(path), __LINE__);
    }
  }
}

// mkdir with 0700, then the exact `mode` (when `useMode`) through the new directory's
// own descriptor; if that fails the directory is removed again. False with errno on
// failure.
bool MkDir(const ANSIString& path, bool useMode, unsigned int mode) {
  if (RetryOnEintr([&] { return ::mkdir(path.c_str(), 0700); }) != 0) return false;
  if (!useMode) return true;
  const Descriptor fd(OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
  if (fd.get() >= 0 &&
      RetryOnEintr([&] { return ::fchmod(fd.get(), mode_t(mode & 07777)); }) == 0) {
    return true;
  }
  const int error = errno;
  ::rmdir(path.c_str());
  errno = error;
  return false;
}

void MakeDirectory(const String& prefix, bool useMode, unsigned int mode) {
  if (MkDir(ToSystemPath(prefix), useMode, mode)) return;
  if (errno == EEXIST) {
    if (IsDirectory(prefix)) return;  // made by someone else meanwhile
    Throw(exception::ObjectAlreadyExists(), __LINE__);
  }
  Throw(exception::AccessDenied(prefix), __LINE__);
}

void CreateDirImpl(const wchar_t* p, bool useMode, unsigned int mode) {
  if (p == nullptr) Throw(exception::InvalidArgument(), __LINE__);
  const String path(p);
  if (!IsAbs(path)) Throw(exception::InvalidArgument(), __LINE__);
  // The text after the last '/' names a file and is not created.
  const String dir = path.substr(0, path.rfind(L'/'));
  if (dir.empty()) Throw(exception::InvalidArgument(), __LINE__);
  const String::size_type length = dir.length();
  for (String::size_type i = 1; i <= length; ++i) {
    if (i != length && dir[i] != L'/') continue;
    const String prefix = dir.substr(0, i);
    if (IsDirectory(prefix)) continue;
    MakeDirectory(prefix, useMode, mode);
    if (!IsDirectory(prefix)) OutputAssertion("IsDirectoryImpl(tempPath)", "", kFile, __LINE__);
  }
}

void RenameFileUsingCopy(const String& src, const String& dst) {
  if (DoesFileExist(dst)) RemoveFile(dst, false);
  CpFile(src, dst, false);
  try {
    RemoveFile(src, false);
  } catch (const exception::Exception&) {
    if (!DoesFileExist(src)) {
      OutputAssertion("vo::qel::osdep::path::DoesFileExist(path)",
                      "postcondition violated: if RemoveFile() failed, the file still exists",
                      kFile, __LINE__);
    }
    try {
      RemoveFile(dst, false);
    } catch (const exception::Exception&) {
    }
    throw;
  }
}

}  // namespace

String BaseName(const String& p) {
  const String::size_type slash = p.rfind(L'/');
  return slash == String::npos ? p : p.substr(slash + 1);
}

String DirName(const String& p) {
  const wchar_t* text = p.c_str();
  const String::size_type length = p.length();
  String::size_type start = 0;
  while (start < length && text[start] == L'/') ++start;
  if (start == length) return p;
  String::size_type end = length;
  while (end > start && text[end - 1] != L'/') --end;
  while (end > start && text[end - 1] == L'/') --end;
  return p.substr(0, end);
}

String Join(const String& a, const String& b) { return JoinImpl(a, b); }

ANSIString Join(const ANSIString& a, const ANSIString& b) { return JoinImpl(a, b); }

bool IsAbs(const String& p) { return !p.empty() && p[0] == L'/'; }

bool IsPathAbsolute(const wchar_t* p) {
  if (p == nullptr) {
    OutputAssertion("path", "IsPathAbsoluteImpl(): precondition failed!", kFile, __LINE__);
    return false;
  }
  return p[0] == L'/';
}

String NormalizePath(const String& p) {
  if (!IsAbs(p)) return String();
  if (p.find(L'.') == String::npos) return p;
  const bool endsWithSlash = p[p.length() - 1] == L'/';
  const String s = endsWithSlash ? p : p + L'/';
  // Components from the last to the first; the first is the empty text before the
  // root's '/', and the text after the final '/' is none.
  String result;
  unsigned int skip = 0;
  String::size_type end = s.length() - 1;  // the '/' closing the current component
  for (;;) {
    const String::size_type slash = end == 0 ? String::npos : s.rfind(L'/', end - 1);
    const String::size_type begin = slash == String::npos ? 0 : slash + 1;
    const String component = s.substr(begin, end - begin);
    const bool isRoot = slash == String::npos;
    if (component.exactCompare(L"...") == 0) return String();
    if (component.exactCompare(L"..") == 0) {
      ++skip;
    } else if (component.exactCompare(L".") != 0) {
      if (skip == 0) {
        result = component + L'/' + result;
      } else if (isRoot) {
        return String();  // climbs above the root
      } else {
        --skip;
      }
    }
    if (isRoot) break;
    end = slash;
  }
  return endsWithSlash ? result : DirName(result);
}

void MakePathEndInSlash(String& p) {
  if (p.empty()) Throw(exception::InvalidArgument(), __LINE__);
  if (p[p.length() - 1] != L'/') p += L'/';
}

String MakePathExtendedLength(const String& p) { return p; }

void GetPathDelimiter(wchar_t& out) { out = L'/'; }

bool PlatformSupportsSymLinks() { return true; }

bool IsFileSystemCaseSensitive() { return true; }

String GetCWD() {
  const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (cwd == nullptr) Throw(PosixError(), __LINE__);
  return FromSystemPath(cwd.get());
}

String SetCWD(String p) {
  const String previous = GetCWD();
  const ANSIString path = ToSystemPath(p);
  if (RetryOnEintr([&] { return ::chdir(path.c_str()); }) != 0) Throw(PosixError(), __LINE__);
  return previous;
}

String AbsPath(const String& p) {
  if (p.exactCompare(L".") == 0) return GetCWD();
  return Join(GetCWD(), p);
}

bool IsDirectory(const String& p) {
  struct stat st;
  return IsAbs(p) && Stat(p, st, true) && S_ISDIR(st.st_mode);
}

bool IsDirectory(const wchar_t* p) { return IsDirectory(String(p)); }

bool IsSymLink(const String& p) {
  struct stat st;
  return IsAbs(p) && Stat(p, st, false) && S_ISLNK(st.st_mode);
}

bool IsSymLink(const wchar_t* p) { return IsSymLink(String(p)); }

bool DoesFileExist(const String& p) {
  if (!IsAbs(p)) Throw(exception::InvalidArgument(), __LINE__);
  struct stat st;
  if (Stat(p, st, true)) return S_ISREG(st.st_mode);
  if (errno == ENOENT) return false;
  Throw(PosixError(), __LINE__);
}

void CreateSymLink(const String& linkPath, const String& targetPath) {
  const ANSIString link = ToSystemPath(linkPath);
  const ANSIString target = ToSystemPath(targetPath);
  if (::symlink(target.c_str(), link.c_str()) != 0) Throw(PosixError(), __LINE__);
}

String ResolveSymLink(const String& p) {
  if (!PlatformSupportsSymLinks()) {
    OutputAssertion("PlatformSupportsSymLinks()", "", kFile, __LINE__);
  }
  struct stat st;
  if (!IsAbs(p) || !Stat(p, st, false) || !S_ISLNK(st.st_mode)) {
    Throw(exception::InvalidArgument(), __LINE__);
  }
  const ANSIString target = ReadLinkAt(AT_FDCWD, ToSystemPath(p).c_str(), size_t(st.st_size));
  String result;
  AppendSystemPath(result, target.c_str(), target.length());
  return result;
}

void CreateDir(const wchar_t* p) { CreateDirImpl(p, false, 0); }

void CreateDir(const wchar_t* p, unsigned int mode) { CreateDirImpl(p, true, mode); }

void RemoveFile(const wchar_t* p, bool ignoreErrors) { RemoveFile(String(p), ignoreErrors); }

void RemoveFile(const String& p, bool ignoreErrors) {
  if (!IsAbs(p)) {
    if (!ignoreErrors) Throw(exception::InvalidArgument(), __LINE__);
    OutputAssertion("false", "RemoveFile does not support relative paths", kFile, __LINE__);
  }
  const ANSIString path = ToSystemPath(p);
  if (RetryOnEintr([&] { return ::unlink(path.c_str()); }) != 0 && !ignoreErrors) {
    Throw(PosixError(), __LINE__);
  }
}

namespace {

// Removes the directory `path`, first with everything in it when `withContents`; a link
// to a directory is removed as the link.
void RemoveDirectory(const String& path, bool withContents) {
  struct stat st;
  const bool exists = IsAbs(path) && Stat(path, st, false);
  if (exists && S_ISLNK(st.st_mode) && IsDirectory(path)) {
    RemoveFile(path, false);
    return;
  }
  if (!exists || !S_ISDIR(st.st_mode)) Throw(exception::NonexistentException(), __LINE__);
  const ANSIString system = ToSystemPath(path);
  if (withContents) {
    // A link swapped in for `path` itself after the check above is refused here.
    Directory dir(AT_FDCWD, system.c_str(), O_NOFOLLOW);
    RemoveContents(dir, path, 0);
  }
  if (RetryOnEintr([&] { return ::rmdir(system.c_str()); }) != 0) {
    Throw(exception::AccessDenied(path), __LINE__);
  }
}

}  // namespace

void RemoveDir(const wchar_t* p) { RemoveDirectory(String(p), false); }

void RemoveDirForce(const wchar_t* p) { RemoveDirectory(String(p), true); }

void CpFile(const String& src, const String& dst, bool overwrite) {
  if (!IsAbs(src) || !IsAbs(dst)) Throw(exception::InvalidArgument(), __LINE__);
  if (DoesFileExist(dst) && !overwrite) Throw(exception::FileAlreadyExists(), __LINE__);
  if (SamePath(src, dst)) return;
  CopyFileAt(AT_FDCWD, ToSystemPath(src).c_str(), AT_FDCWD, ToSystemPath(dst).c_str(), overwrite,
             false);
}

void CpDir(const String& src, const String& dst) {
  if (!IsAbs(src) || !IsAbs(dst)) Throw(exception::InvalidArgument(), __LINE__);
  if (!IsDirectory(src)) Throw(exception::NonexistentException(), __LINE__);
  if (!IsDirectory(dst)) CreateDir(dst.c_str());
  Directory from(AT_FDCWD, ToSystemPath(src).c_str(), 0);
  const ANSIString to = ToSystemPath(dst);
  Destination destination(AT_FDCWD, to.c_str(), 0);
  CopyTree(from, destination, 0);
}

void RenameFile(const String& src, const String& dst) {
  if (!IsAbs(src) || !IsAbs(dst)) Throw(exception::InvalidArgument(), __LINE__);
  if (SamePath(src, dst)) return;
  const ANSIString from = ToSystemPath(src);
  const ANSIString to = ToSystemPath(dst);
  if (RetryOnEintr([&] { return ::rename(from.c_str(), to.c_str()); }) == 0) return;
  if (errno != EXDEV) Throw(PosixError(), __LINE__);
  RenameFileUsingCopy(src, dst);
}

String TempDirName() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && dir[0] != '\0' ? FromSystemPath(dir) : String(L"/var/tmp/");
}

String TempFileName(const String& prefix, const String& dir) {
  if (prefix.empty() || prefix.find(L'/') != String::npos) {
    Throw(exception::InvalidArgument(), __LINE__);
  }
  const String directory = dir.empty() ? TempDirName() : dir;
  if (!IsAbs(directory)) Throw(exception::InvalidArgument(), __LINE__);
  if (!IsDirectory(directory)) Throw(exception::NonexistentException(), __LINE__);
  const ANSIString systemDir = ToSystemPath(directory);
  const ANSIString systemPrefix = ToSystemPath(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::unique_ptr<char, decltype(&std::free)> name(
        ::tempnam(systemDir.c_str(), systemPrefix.c_str()), &std::free);
    if (name == nullptr) Throw(PosixError(), __LINE__);
    // glibc's tempnam prefers TMPDIR to the directory it is given: the name is put
    // into the directory asked for, and checked to be free there.
    const char* slash = std::strrchr(name.get(), '/');
    const ANSIString candidate =
        Join(systemDir, ANSIString(slash != nullptr ? slash + 1 : name.get()));
    struct stat st;
    if (::lstat(candidate.c_str(), &st) != 0 && errno == ENOENT) {
      return FromSystemPath(candidate.c_str());
    }
  }
  Throw(PosixError(EEXIST), __LINE__);
}

}  // namespace vo::qel::osdep::path
