#include "qel/osdep/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <exception>

#include "qel/NumericCast.h"
#include "qel/big_endian.h"
#include "qel/little_endian.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/RetryOnEintr.h"
#include "qel/osdep/SystemPath.h"

namespace vo::qel::osdep {
namespace {

const char kFile[] = "osdep/BinaryFile";

// The longest byte vector: its length must fit an int result.
constexpr UInt32 kMaxVectorLength = 0x7FFFFFFF;

const struct {
  BinaryFile::Mode bit;
  int flag;
} modes[] = {
    {BinaryFile::k_READ_WRITE, O_RDWR}, {BinaryFile::k_READ, O_RDONLY},
    {BinaryFile::k_WRITE, O_WRONLY},    {BinaryFile::k_TRUNCATE, O_TRUNC},
    {BinaryFile::k_CREATE, O_CREAT},
};

// Checks `file`'s invariants and that it is open; an unopened file is reported as
// `what`, under the caller's `line`.
bool IsUsable(const BinaryFile& file, const char* what, uint32_t line) noexcept {
  file.checkInvariants();
  if (file.isOpen()) return true;
  OutputAssertion("0", what, kFile, line);
  return false;
}

int PlatformOpen(const String& path, int flags) {
  ANSIString systemPath;
  if (!TryToSystemPath(path, systemPath)) return -1;
  const mode_t permissions = (flags & O_CREAT) != 0 ? 0600 : 0;
  return RetryOnEintr([&] { return ::open(systemPath.c_str(), flags | O_CLOEXEC, permissions); });
}

int PlatformRead(int fd, void* buf, size_t count) {
  return static_cast<int>(::read(fd, buf, count));
}

int PlatformWrite(int fd, const void* buf, size_t count) {
  return static_cast<int>(::write(fd, buf, count));
}

long PlatformLSeek(int fd, long offset, int origin) { return ::lseek(fd, offset, origin); }

// Gives back `count` bytes just read by seeking back; errno is kept, so that the
// caller's reason survives a file that cannot seek.
void RollbackRead(int fd, long count) noexcept {
  if (count == 0) return;
  const int error = errno;
  PlatformLSeek(fd, -count, SEEK_CUR);
  errno = error;
}

// The bytes of `value` in the order `e` selects.
UInt32 Encode(UInt32 value, BinaryFile::Endianness e, uint32_t line) {
  if (e == BinaryFile::k_LITTLE_ENDIAN) return little_endian::ToLittleEndian(value);
  if (e != BinaryFile::k_BIG_ENDIAN) {
    OutputAssertion("k_BIG_ENDIAN == endianess", "invalid endianess input", kFile, line);
  }
  return big_endian::ToBigEndian(value);
}

UInt32 Decode(UInt32 stored, BinaryFile::Endianness e, uint32_t line) {
  if (e == BinaryFile::k_LITTLE_ENDIAN) return little_endian::FromLittleEndian(stored);
  if (e != BinaryFile::k_BIG_ENDIAN) {
    OutputAssertion("k_BIG_ENDIAN == endianess", "invalid endianess input", kFile, line);
  }
  return big_endian::FromBigEndian(stored);
}

// Lengthens `data` by `count` bytes for a read into its tail and returns the old
// length; -1, with the buffer unchanged, when it cannot grow.
int64_t PrepareAutoBufferForRead(AutoBuffer& data, unsigned int count) {
  try {
    const unsigned int oldLen = data.Len();
    if (count != 0) data.Skip(count);
    if (uint64_t{oldLen} + count != data.Len()) {
      OutputAssertion("(oldLen + count) == data.Len()", "AutoBuffer::Skip(): postcondition", kFile,
                      __LINE__);
    }
    return oldLen;
  } catch (const std::exception&) {
    return -1;
  }
}

// Where a read into the grown tail goes. Skip leaves the buffer the only owner of its
// block, so its bytes may be written.
void* Tail(const AutoBuffer& data, int64_t oldLen) {
  return const_cast<unsigned char*>(data.Data()) + oldLen;
}

// Gives back the part of the grown tail that the read did not fill.
void ProcessAutoBufferReadResult(AutoBuffer& data, int rc, unsigned int count) {
  const unsigned int unused = rc == -1 ? count : count - static_cast<unsigned int>(rc);
  if (unused != 0) data.UnAppend(unused);
}

// Whether the file can still supply `count` bytes: always for files whose size is
// not known (pipes, devices), which are read in growing steps instead.
bool IsSized(int fd, bool& canSupply, UInt32 count) noexcept {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  canSupply = position >= 0 && st.st_size >= position && st.st_size - position >= off_t(count);
  return true;
}

}  // namespace

int Close(int fd) noexcept {
  const int result = ::close(fd);
  return result == -1 && errno == EINTR ? 0 : result;
}

BinaryFile::BinaryFile(const String& path, Mode mode, bool noThrow) {
  if (noThrow) {
    openNoThrow(path, mode);
  } else {
    open(path, mode);
  }
}

void BinaryFile::open(const String& path, Mode mode) {
  if (openNoThrow(path, mode) == -1) throw AddFileAndLineInfo(PosixError(), kFile, __LINE__);
}

int BinaryFile::openNoThrow(const String& path, Mode mode) {
  checkInvariants();
  if (isOpen()) {
    OutputAssertion("false", "Tried to re-open an already open file", kFile, __LINE__);
    errno = EINVAL;
    return -1;
  }
  int flags = 0;
  for (const auto& m : modes) {
    if ((mode & m.bit) != 0) flags |= m.flag;
  }
  fd_ = PlatformOpen(path, flags);
  return fd_ != -1 ? 0 : -1;
}

void BinaryFile::close() noexcept {
  if (!isOpen()) return;
  Close(fd_);
  fd_ = -1;
}

int BinaryFile::read(void* buf, size_t count) const {
  if (!IsUsable(*this, "tried to read from an unopened file", __LINE__)) return -1;
  return PlatformRead(fd_, buf, count);
}

int BinaryFile::readExactSize(void* buf, size_t count) const {
  if (!IsUsable(*this, "tried to read from an unopened file", __LINE__)) return -1;
  return ReadExactSize(fd_, buf, count);
}

int BinaryFile::read(AutoBuffer& buf, unsigned int count) const {
  if (!IsUsable(*this, "tried to read from an unopened file", __LINE__)) return -1;
  const int64_t oldLen = PrepareAutoBufferForRead(buf, count);
  if (oldLen == -1) return -1;
  const int rc = PlatformRead(fd_, Tail(buf, oldLen), count);
  ProcessAutoBufferReadResult(buf, rc, count);
  return rc;
}

int BinaryFile::readExactSize(AutoBuffer& buf, unsigned int count) const {
  if (!IsUsable(*this, "tried to read from an unopened file", __LINE__)) return -1;
  NumericCast<int>(static_cast<unsigned long>(count));  // refused before the buffer grows
  const int64_t oldLen = PrepareAutoBufferForRead(buf, count);
  if (oldLen == -1) return -1;
  const int rc = ReadExactSize(fd_, Tail(buf, oldLen), count);
  if (rc != -1 && UInt32(rc) != count) {
    OutputAssertion("(count == vo::qel::UInt32(rc)) || (-1 == rc)",
                    "readExactSize() postcondition failed", kFile, __LINE__);
  }
  ProcessAutoBufferReadResult(buf, rc, count);
  return rc;
}

int BinaryFile::readByteVector(AutoBuffer& buf, Endianness e) const {
  UInt32 size;
  if (readScalarValue(size, e) != int(sizeof(size))) return -1;
  long total = sizeof(size);
  // The bytes are read in one step when the file is known to hold them; from a file
  // of unknown size in steps that grow with what has arrived, so a false length
  // never allocates much more than the input backs.
  bool canSupply = true;
  const bool sized = IsSized(fd_, canSupply, size);
  int rc = -1;
  errno = 0;
  if (size > kMaxVectorLength) {
    errno = EOVERFLOW;
  } else if (canSupply) {
    const unsigned int oldLen = buf.Len();
    UInt32 done = 0;
    rc = int(size);
    while (done < size) {
      const UInt32 step = sized ? size : std::min(size - done, std::max<UInt32>(done, 64 * 1024));
      if (readExactSize(buf, step) == -1) {
        if (buf.Len() != oldLen) buf.UnAppend(buf.Len() - oldLen);
        RollbackRead(fd_, long(done));
        rc = -1;
        break;
      }
      done += step;
    }
  }
  if (rc == -1) {
    RollbackRead(fd_, total);
    return -1;
  }
  if (UInt32(rc) != size) {
    OutputAssertion("size == vo::qel::UInt32(rc)", "readExactSize() postcondition failed", kFile,
                    __LINE__);
  }
  return int(total + rc);
}

template <>
int BinaryFile::readScalarValue<unsigned int>(unsigned int& out, Endianness e) const {
  UInt32 stored;
  if (readExactSize(&stored, sizeof(stored)) != int(sizeof(stored))) return -1;
  out = Decode(stored, e, __LINE__);
  return sizeof(stored);
}

int BinaryFile::write(const void* buf, size_t count) {
  if (!IsUsable(*this, "tried to write to an unopened file", __LINE__)) return -1;
  return PlatformWrite(fd_, buf, count);
}

int BinaryFile::writeExactSize(const void* buf, size_t count) {
  if (!IsUsable(*this, "tried to write to an unopened file", __LINE__)) return -1;
  return WriteExactSize(fd_, buf, count);
}

template <>
int BinaryFile::writeScalarValue<unsigned int>(const unsigned int& v, Endianness e) {
  const UInt32 stored = Encode(v, e, __LINE__);
  return writeExactSize(&stored, sizeof(stored));
}

int BinaryFile::writeByteVector(const BufferWrapper& data, Endianness e) {
  const unsigned int size = data.Len();
  if (size > kMaxVectorLength) {
    errno = EOVERFLOW;
    return -1;
  }
  const int rc = writeScalarValue(size, e);
  if (rc == -1) return -1;
  if (rc != int(sizeof(UInt32))) {
    OutputAssertion("sizeof(vo::qel::UInt32) == rc", "should have written the full value", kFile,
                    __LINE__);
  }
  const int written = writeExactSize(data.Data(), size);
  return written == -1 ? -1 : written + int(sizeof(UInt32));
}

long BinaryFile::seek(long offset, Origin origin) const {
  if (!IsUsable(*this, "tried to seek on an unopened file", __LINE__)) return -1;
  return PlatformLSeek(fd_, offset, origin);
}

void BinaryFile::sync() {
  if (!IsUsable(*this, "tried to sync to an unopened file", __LINE__)) return;
  if (RetryOnEintr([&] { return ::fsync(fd_); }) < 0)
    throw AddFileAndLineInfo(PosixError(), kFile, __LINE__);
}

void BinaryFile::resize(long size) {
  if (!IsUsable(*this, "tried to resize an unopened file", __LINE__)) return;
  if (RetryOnEintr([&] { return ::ftruncate(fd_, size); }) < 0)
    throw AddFileAndLineInfo(PosixError(), kFile, __LINE__);
}

int BinaryFile::ReadExactSize(int fd, void* buf, size_t count) {
  // Refused before anything is consumed: the count must fit the result.
  const int result = NumericCast<int>(count);
  unsigned char* const bytes = static_cast<unsigned char*>(buf);
  size_t remaining = count;
  while (remaining > 0) {
    errno = 0;
    const int n = PlatformRead(fd, bytes + (count - remaining), remaining);
    if (n > 0) {
      remaining -= size_t(n);
    } else if (errno != EINTR) {
      RollbackRead(fd, long(count - remaining));
      return -1;
    }
  }
  return result;
}

int BinaryFile::WriteExactSize(int fd, const void* buf, size_t count) {
  const int result = NumericCast<int>(count);
  const unsigned char* const bytes = static_cast<const unsigned char*>(buf);
  size_t remaining = count;
  while (remaining > 0) {
    errno = 0;
    const int n = PlatformWrite(fd, bytes + (count - remaining), remaining);
    if (n > 0) {
      remaining -= size_t(n);
    } else if (errno != EINTR) {
      if (errno == 0) OutputAssertion("0 != errno", "wrote 0 bytes without error", kFile, __LINE__);
      return -1;
    }
  }
  return result;
}

}  // namespace vo::qel::osdep
