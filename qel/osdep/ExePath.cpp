#include "qel/osdep/ExePath.h"

#include <unistd.h>

#include <cstring>

namespace vo {
namespace qel {
namespace osdep {

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

}  // namespace osdep
}  // namespace qel
}  // namespace vo
