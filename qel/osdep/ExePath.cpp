#include "qel/osdep/ExePath.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "qel/exception/Exception.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/path.h"

namespace vo::qel::osdep {

size_t ReadExePath(char* buffer, size_t size) noexcept {
  if (size == 0) return 0;
  const ssize_t n = ::readlink("/proc/self/exe", buffer, size);
  if (n <= 0) return 0;
  size_t length = static_cast<size_t>(n);
  if (length >= size) {  // readlink cuts silently; the caller must grow
    buffer[size - 1] = '\0';
    return size;
  }
  static const char kDeleted[] = " (deleted)";
  const size_t deletedLength = sizeof(kDeleted) - 1;
  if (length > deletedLength &&
      std::memcmp(buffer + length - deletedLength, kDeleted, deletedLength) == 0) {
    length -= deletedLength;
  }
  buffer[length] = '\0';
  return length;
}

String GetExePath() {
  // The size lstat reports for /proc/self/exe is 0, so the buffer grows until the
  // path fits; the kernel's paths end long before the limit.
  constexpr size_t kLimit = size_t{1} << 20;
  for (size_t size = 256; size <= kLimit; size *= 2) {
    std::unique_ptr<char[]> buffer(new char[size]);
    const size_t length = ReadExePath(buffer.get(), size);
    if (length == 0) throw AddFileAndLineInfo(PosixError(), "osdep/GetExePath", __LINE__);
    if (length < size) return String(buffer.get(), static_cast<String::size_type>(length));
  }
  throw AddFileAndLineInfo(PosixError(ENAMETOOLONG), "osdep/GetExePath", __LINE__);
}

String GetExeBaseName() { return path::BaseName(GetExePath()); }

}  // namespace vo::qel::osdep
