// An unbuffered binary file on a POSIX descriptor: raw reads and writes, exact-size
// reads and writes (a short read is given back by seeking), length-prefixed byte
// vectors and 32-bit scalars in either byte order, seeking, flushing and resizing.
//
// One thread at a time per object; concurrent use shares one file position and is
// the caller's to serialise.
//
//  1. fd_ is -1 exactly when no file is open; the descriptor is opened close-on-exec
//     and is the object's own.
//  2. Data operations (read, write, their exact-size, vector and scalar forms, seek)
//     fail with -1 and the reason in errno; open, the throwing constructor, sync and
//     resize throw PosixError. Using a closed file is a failed check, after which the
//     operation returns -1 or does nothing.
//  3. A failed exact-size read, byte-vector read or scalar read leaves the file
//     position (on a seekable file) and the caller's buffer as they were; errno is 0
//     when the end of the file came first.
//  4. Calls interrupted by a signal are repeated, except in the single-call read and
//     write, which return -1 with errno EINTR.
#ifndef QEL_OSDEP_BINARYFILE_H_
#define QEL_OSDEP_BINARYFILE_H_

#include <cstddef>

#include "qel/AutoBuffer.h"
#include "qel/BufferWrapper.h"
#include "qel/Noncopyable.h"
#include "qel/StringBase.h"

namespace vo::qel::osdep {

// close(fd) once. On Linux a descriptor is released even when close reports EINTR,
// so the call is never repeated (a repeat could close another thread's new file);
// EINTR is answered as success. Returns 0 or -1 with errno.
int Close(int fd) noexcept;

class BinaryFile : public Noncopyable {
 public:
  // Each enumeration takes any int (a fixed underlying type), so a value outside its
  // list, such as an unknown byte order, is still a value the calls can check.
  //
  // A bit set; one access bit (k_READ, k_WRITE or k_READ_WRITE) is expected, none
  // opens read-only. Other bits are ignored.
  enum Mode : int { k_READ = 1, k_WRITE = 2, k_READ_WRITE = 4, k_TRUNCATE = 8, k_CREATE = 16 };
  enum Endianness : int { k_LITTLE_ENDIAN = 0, k_BIG_ENDIAN = 1 };
  enum Origin : int { k_BEGIN = 0, k_CURRENT = 1, k_END = 2 };

  BinaryFile() noexcept = default;
  // Opens `path` with openNoThrow when `noThrow`, else with open (which throws).
  BinaryFile(const String& path, Mode mode, bool noThrow);
  ~BinaryFile() noexcept { close(); }

  // openNoThrow, throwing PosixError from errno when it fails.
  void open(const String& path, Mode mode);
  // Opens `path` (created with permissions 0600 less the umask under k_CREATE).
  // Returns 0, or -1 with errno: EINVAL when a file is already open (a failed check;
  // that file stays open) and EILSEQ or EINVAL when the path cannot be converted to
  // the system encoding exactly.
  int openNoThrow(const String& path, Mode mode);
  void close() noexcept;
  bool isOpen() const noexcept { return fd_ != -1; }

  // One read call: bytes read (fewer than `count` at the end or from a pipe, 0 at the
  // end) or -1.
  int read(void* buf, size_t count) const;
  // The same, appending to `buf`, which grows by exactly the bytes read.
  int read(AutoBuffer& buf, unsigned int count) const;
  // `count` (converted to int: throws OutOfRange above 2147483647 before reading) or
  // -1. REQUIRES: buf holds `count` bytes.
  int readExactSize(void* buf, size_t count) const;
  // Appends exactly `count` bytes, or nothing and -1 (also when `buf` cannot grow).
  int readExactSize(AutoBuffer& buf, unsigned int count) const;
  // Reads one byte vector (a 4-byte length N in byte order `e`, then N bytes) and
  // appends the bytes; 4 + N or -1. A length above 2147483647 or beyond the end of a
  // regular file fails without allocating for it.
  int readByteVector(AutoBuffer& buf, Endianness e) const;
  // 4, or -1 leaving `out` alone. Only unsigned int is provided.
  template <typename T>
  int readScalarValue(T& out, Endianness e) const;

  // One write call: bytes written or -1.
  int write(const void* buf, size_t count);
  int writeExactSize(const void* buf, size_t count);
  // 4 + N or -1; a vector longer than 2147483647 bytes writes nothing. A failure after
  // the length leaves the length written.
  int writeByteVector(const BufferWrapper& data, Endianness e);
  template <typename T>
  int writeScalarValue(const T& v, Endianness e);

  // The new position from the start, or -1.
  long seek(long offset, Origin origin) const;
  // Flushes the file to its device; throws PosixError on failure.
  void sync();
  // Sets the file's size; the position is unchanged. Throws PosixError on failure.
  void resize(long size);

  // Checks nothing on this platform.
  void checkInvariants() const noexcept {}

  // The exact-size loops on a bare descriptor, as the members above.
  static int ReadExactSize(int fd, void* buf, size_t count);
  static int WriteExactSize(int fd, const void* buf, size_t count);

 private:
  int fd_ = -1;
};

constexpr BinaryFile::Mode operator|(BinaryFile::Mode a, BinaryFile::Mode b) noexcept {
  return BinaryFile::Mode(int(a) | int(b));
}

template <>
int BinaryFile::readScalarValue<unsigned int>(unsigned int& out, Endianness e) const;
template <>
int BinaryFile::writeScalarValue<unsigned int>(const unsigned int& v, Endianness e);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_BINARYFILE_H_
