// AutoBuffer: a growable byte buffer whose storage block (AutoBufferGuts) is shared by
// reference count between copies and copied only when a sharer is about to change it.
// It serializes itself as a 4-byte little-endian count followed by the bytes, either
// into a flat room or into a ring (a room whose end continues at its beginning).
//
// One thread at a time per AutoBuffer object; copies that share guts may be copied,
// assigned and destroyed on different threads at once (the count is atomic).
//
// Invariants:
// 1. guts_ null is the empty buffer without storage: Len() and MemUsage() are 0 and
//    Data() is null.
// 2. In guts: mem_ <= current_ <= mem_ + memSize_, and the block behind mem_ is exactly
//    memSize_ bytes (mem_ is null while memSize_ is 0).
// 3. Every change of bytes happens on guts whose reference count is 1; a buffer that
//    shares its guts first takes a copy of them (copy on write).
// 4. A source of bytes that lies in the buffer's own block is copied aside before the
//    block can move or be released, so a buffer may be appended to itself.
// 5. Appending grows a block by CalcNewSize (at least REALLOC_SIZE bytes, otherwise
//    10 % of the size needed); Reserve, Skip and the readers size it exactly.
// 6. A reader that fails leaves the buffer, and the caller's cursor, as they were, and
//    never allocates more than the input it has checked can back.
#ifndef QEL_AUTOBUFFER_H_
#define QEL_AUTOBUFFER_H_

#include <cstddef>
#include <cstdint>

#include "qel/BufferWrapper.h"
#include "qel/NumericCast.h"
#include "qel/osdep/AtomicInt.h"

namespace vo::qel {

// The smallest number of bytes by which appending grows a block.
constexpr uint32_t REALLOC_SIZE = 128;

// The shared storage of AutoBuffer. The object and its block live in malloc'd memory;
// a failed allocation throws std::bad_alloc and leaves the old block as it was.
class AutoBufferGuts {
 public:
  static void* operator new(size_t size);
  static void operator delete(void* guts) noexcept;

  AutoBufferGuts() noexcept : refCount_(1) {}
  // Count 1 and the same data bytes in a new block as large as that's block.
  AutoBufferGuts(const AutoBufferGuts& that);
  AutoBufferGuts& operator=(const AutoBufferGuts&) = delete;
  ~AutoBufferGuts() noexcept;

  void AddRef() noexcept { refCount_.increment(); }
  // Drops one reference; the last one frees the block and the guts.
  void Release() noexcept;
  int32_t refCount() const noexcept { return refCount_.getCount(); }

  unsigned int Len() const {
    return NumericCast<unsigned int>(static_cast<unsigned long>(current_ - mem_));
  }
  unsigned int MemUsage() const noexcept { return memSize_; }
  const unsigned char* Data() const noexcept { return mem_; }
  // True when the `len` bytes at `begin` share a byte with the block.
  bool Overlaps(const void* begin, size_t len) const noexcept;

  // The changing members below require a count of 1 (reported otherwise).
  void Reserve(unsigned int size);
  // REQUIRES: data is non-null and not in the block when len > 0.
  void Append(const void* data, unsigned int len);
  void appendReverseByteOrder(const void* data, unsigned int len);
  void Modify(unsigned int offset, const void* data, unsigned int len);
  // REQUIRES: size <= Len().
  void UnAppend(unsigned int size);
  void Skip(unsigned int offset);
  void checkInvariants() const noexcept;

  // needed plus max(REALLOC_SIZE, needed / 10), or needed when that overflows.
  static uint32_t CalcNewSize(uint32_t needed) noexcept;

 private:
  friend class AutoBuffer;  // for the unchecked changes and Erase's rewind of current_

  // The changes behind the public members, without the count check.
  void reserve(unsigned int size);
  void append(const void* data, unsigned int len);
  void appendReversed(const void* data, unsigned int len);
  void modify(unsigned int offset, const void* data, unsigned int len);
  void unAppend(unsigned int size);
  void skip(unsigned int offset);
  void resizeIfNeeded(unsigned int n);
  void reallocate(uint32_t size);
  void checkUnshared(uint32_t line) const noexcept;

  osdep::AtomicInt refCount_;
  unsigned char* mem_ = nullptr;
  uint32_t memSize_ = 0;
  unsigned char* current_ = nullptr;
};

class AutoBuffer {
 public:
  AutoBuffer() noexcept = default;
  // Reserves exactly `size` bytes; the length is 0.
  explicit AutoBuffer(unsigned int size);
  AutoBuffer(const unsigned char* data, unsigned int len);
  AutoBuffer(const BufferWrapper& w);  // NOLINT: a view converts to an owned copy
  // Shares that's guts; nothing is copied.
  AutoBuffer(const AutoBuffer& that) noexcept;
  ~AutoBuffer() noexcept { Free(); }

  AutoBuffer& operator=(const AutoBuffer& that) noexcept;
  AutoBuffer& operator=(const BufferWrapper& w);

  // Lets go of the guts; the buffer is then empty without storage.
  void Free() noexcept;
  // Empties the buffer. Shared guts are let go of (their other sharers keep the data);
  // unshared ones keep their block.
  void Erase() noexcept;

  unsigned int Len() const { return guts_ != nullptr ? guts_->Len() : 0; }
  const unsigned char* Data() const noexcept { return guts_ != nullptr ? guts_->Data() : nullptr; }
  unsigned int MemUsage() const noexcept { return guts_ != nullptr ? guts_->MemUsage() : 0; }

  // Grows the block to exactly `size` bytes; nothing when it already holds that many.
  void Reserve(unsigned int size);
  // REQUIRES: data non-null when len > 0 (reported, then nothing is appended).
  void Append(const void* data, unsigned int len);
  // Appends the `len` bytes last one first.
  void appendReverseByteOrder(const void* data, unsigned int len);
  // Overwrites `len` bytes at `offset`, growing the block if needed; Len() stays, so
  // bytes written past it wait in the block for a Skip.
  void Modify(unsigned int offset, const void* data, unsigned int len);
  // Drops the last `size` bytes and zeroes them. REQUIRES: size <= Len() (reported,
  // then nothing happens).
  void UnAppend(unsigned int size);
  // Extends the data by `size` bytes of whatever the block holds there.
  void Skip(unsigned int size);

  bool operator==(const AutoBuffer& that) const;
  bool operator<(const AutoBuffer& that) const;

  // Flat form: Len() as a 4-byte little-endian count, then the bytes. The writer throws
  // BufferOverflow and the reader DeserializationError, leaving the cursor (and the
  // buffer) unchanged, when the room or input is too short.
  uint64_t serializationSize() const { return uint64_t{Len()} + 4; }
  void serialize(unsigned char*& out, const unsigned char* outEnd) const;
  void deserialize(const unsigned char*& in, const unsigned char* inEnd);

  // Ring forms over [beginBuf, endBuf) with the cursor p inside it: the flat form,
  // continued at beginBuf whenever endBuf is reached. The cursor ends after the form,
  // wrapped to beginBuf when it reaches endBuf. A form larger than the ring throws
  // BufferOverflow (writing) or DeserializationError (reading); so does a ring that is
  // empty or a cursor outside it, after a failed-check report.
  static void circularIncrement(const unsigned char* beginBuf, const unsigned char* endBuf,
                                unsigned char*& p) noexcept;
  static void circularIncrement(const unsigned char* beginBuf, const unsigned char* endBuf,
                                const unsigned char*& p) noexcept;
  void circularSerializeLength(unsigned char* beginBuf, const unsigned char* endBuf,
                               unsigned char*& p) const;
  void circularSerialize(unsigned char* beginBuf, const unsigned char* endBuf,
                         unsigned char*& p) const;
  // Reads the count N; p moves past it.
  static uint32_t GetCircularDeserializationSize(const unsigned char* beginBuf,
                                                 const unsigned char* endBuf,
                                                 const unsigned char*& p);
  // Reads a form starting at p and returns the cursor after it.
  const unsigned char* circularDeserialize(const unsigned char* beginBuf,
                                           const unsigned char* endBuf, const unsigned char* p);

 private:
  // Makes the guts this buffer's alone, creating them when there are none.
  void makeUnique();
  // Takes a copy of shared guts. REQUIRES: guts_ != nullptr.
  void CopyIfNecessary();
  // `data`, or a copy of its `len` bytes kept in `aside` when they lie in this
  // buffer's block.
  const void* setAside(const void* data, unsigned int len, AutoBuffer& aside) const;
  // Appends `len` bytes from `data` with `add` (forwards or reversed).
  void appendWith(const void* data, unsigned int len,
                  void (AutoBufferGuts::*add)(const void*, unsigned int));

  AutoBufferGuts* guts_ = nullptr;
};

}  // namespace vo::qel

#endif  // QEL_AUTOBUFFER_H_
