#include "qel/osdep/FindFiles.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "qel/exception/Exception.h"
#include "qel/osdep/BinaryFile.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/StringCaseCompare.h"
#include "qel/osdep/SystemPath.h"
#include "qel/osdep/path.h"

namespace vo::qel::osdep {
namespace {

const char kFile[] = "osdep/FindFiles";

bool CompareNextCharacterCaseInsensitive(const char* wildcard, const char* text) {
  return StringCaseCompare(wildcard, wildcard + 1, text, text + 1) == 0;
}

// Whether `text` fits `wildcard` as a whole. Matching runs forward and, on a
// mismatch, lets the last '*' take one more character and tries again from there:
// the answers of a full backtracking search, in time bounded by the product of the
// two lengths.
bool WildcardFit(const char* wildcard, const char* text) {
  const char* starWildcard = nullptr;  // just after the last '*' met
  const char* starText = nullptr;      // where the text after that '*' starts
  while (*text != '\0') {
    if (*wildcard == '*') {
      starWildcard = ++wildcard;
      starText = text;
    } else if (*wildcard != '\0' &&
               (*wildcard == '?' || CompareNextCharacterCaseInsensitive(wildcard, text))) {
      ++wildcard;
      ++text;
    } else if (starWildcard != nullptr) {
      wildcard = starWildcard;
      text = ++starText;
    } else {
      return false;
    }
  }
  while (*wildcard == '*') ++wildcard;
  return *wildcard == '\0';
}

bool IsHiddenOrDot(const char* name) noexcept { return name[0] == '.'; }

bool IsDotOrDotDot(const char* name) noexcept {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// An open directory stream, closed when it goes.
class DirectoryStream {
 public:
  explicit DirectoryStream(const char* path) noexcept {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    dir_ = ::fdopendir(fd);
    if (dir_ == nullptr) {
      const int error = errno;
      Close(fd);
      errno = error;
    }
  }
  ~DirectoryStream() noexcept {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  DIR* get() const noexcept { return dir_; }

 private:
  DIR* dir_ = nullptr;
};

Vector<String> GetFilenamesHelper(const String& pattern, int flags, bool emptyOnOpenFailure) {
  Vector<String> result;
  const String::size_type split = pattern.find_last_of(String(L"/\\"));
  String directory(L".");
  String mask = pattern;
  if (split != String::npos) {
    if (split == pattern.length() - 1) return result;
    directory = pattern.substr(0, split);
    mask = pattern.substr(split + 1);
  }
  const ANSIString systemMask = ToSystemPath(mask);
  const DirectoryStream dir(ToSystemPath(directory.empty() ? String(L"/") : directory).c_str());
  if (dir.get() == nullptr) {
    if (emptyOnOpenFailure) return result;
    throw AddFileAndLineInfo(PosixError(), kFile, __LINE__);
  }
  const String prefix = directory + L'/';
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0 && !emptyOnOpenFailure)
        throw AddFileAndLineInfo(PosixError(), kFile, __LINE__);
      break;
    }
    const char* name = entry->d_name;
    if (IsHiddenOrDot(name) &&
        (IsDotOrDotDot(name) || (flags & FindFiles::k_INCLUDE_HIDDEN) == 0)) {
      continue;
    }
    if (!WildcardFit(systemMask.c_str(), name)) continue;
    const size_t length = std::strlen(name);
    String full;
    full.reserve(prefix.length() + static_cast<String::size_type>(length));
    full += prefix;
    AppendSystemPath(full, name, length);
    // The entry's type, where the file system gives it, spares the stat or lstat of
    // an entry that it already rules out.
    const bool mayBeLink = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
    if ((flags & FindFiles::k_DIRECTORIES_ONLY) != 0) {
      if ((entry->d_type != DT_DIR && !mayBeLink) || !path::IsDirectory(full)) continue;
      path::MakePathEndInSlash(full);
    }
    if ((flags & FindFiles::k_RESOLVE_SYMLINKS) != 0 && mayBeLink && path::IsSymLink(full)) {
      full = path::ResolveSymLink(full);
    }
    result.push_back(full);
  }
  if ((flags & FindFiles::k_ADD_DOT_ENTRIES) != 0) {
    result.push_back(prefix + L'.');
    result.push_back(prefix + L"..");
  }
  return result;
}

}  // namespace

Vector<String> FindFiles::getFilenames(const String& pattern) const {
  return GetFilenamesHelper(pattern, 0, true);
}

Vector<String> FindFiles::getFilenames(const String& pattern, FindFlags flags) const {
  return GetFilenamesHelper(pattern, flags, false);
}

}  // namespace vo::qel::osdep
