#include "qel/AutoBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "qel/SafeInteger.h"
#include "qel/exception/Exception.h"
#include "qel/little_endian.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {

namespace {

constexpr char kFile[] = "AutoBuffer";

void Check(bool ok, const char* expression, uint32_t line) noexcept {
  if (!ok) osdep::OutputAssertion(expression, "", kFile, line);
}

[[noreturn]] void ThrowBufferOverflow(uint32_t line) {
  throw AddFileAndLineInfo(exception::BufferOverflow(), kFile, line);
}

[[noreturn]] void ThrowDeserializationError(uint32_t line) {
  throw AddFileAndLineInfo(exception::DeserializationError(), kFile, line);
}

uint32_t CheckedSum(uint32_t a, uint32_t b) {
  SafeInteger<uint32_t> sum(a);
  sum.add(b);
  return sum.rawValue();
}

bool InRange(const void* p, const void* begin, const void* end) noexcept {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uintptr_t>(begin) <= at && at < reinterpret_cast<uintptr_t>(end);
}

// Checks the ring and the cursor in it; a broken one is reported, then refused with
// `Refusal` so that nothing outside the ring is touched.
template <class Refusal>
void CheckRing(const unsigned char* beginBuf, const unsigned char* endBuf, const unsigned char* p,
               uint32_t line) {
  const bool ring = beginBuf < endBuf;
  Check(ring, "beginBuf < endBuf", line);
  const bool inside = ring && InRange(p, beginBuf, endBuf);
  Check(inside, "begin < endBuf", line);
  if (!inside) throw AddFileAndLineInfo(Refusal(), kFile, line);
}

// Writes `count` as 4 little-endian bytes from p on, wrapping at endBuf.
// REQUIRES: a checked ring and cursor.
void WriteRingCount(uint32_t count, const unsigned char* beginBuf, const unsigned char* endBuf,
                    unsigned char*& p) noexcept {
  for (int i = 0; i < 4; ++i) {
    *p = static_cast<unsigned char>(count >> (8 * i));
    AutoBuffer::circularIncrement(beginBuf, endBuf, p);
  }
}

uint64_t RingSize(const unsigned char* beginBuf, const unsigned char* endBuf) noexcept {
  return static_cast<uint64_t>(endBuf - beginBuf);
}

}  // namespace

// AutoBufferGuts

void* AutoBufferGuts::operator new(size_t size) {
  void* const guts = std::malloc(size);
  if (guts == nullptr) throw std::bad_alloc();
  return guts;
}

void AutoBufferGuts::operator delete(void* guts) noexcept { std::free(guts); }

AutoBufferGuts::AutoBufferGuts(const AutoBufferGuts& that) : refCount_(1) {
  const unsigned int len = that.Len();
  reallocate(that.memSize_);
  if (len != 0) std::memcpy(mem_, that.mem_, len);
  current_ = mem_ + len;
  Check(Len() == len, "Len() == len", __LINE__);
}

AutoBufferGuts::~AutoBufferGuts() noexcept { std::free(mem_); }

void AutoBufferGuts::Release() noexcept {
  Check(refCount_.getCount() > 0, "refCount_ > 0", __LINE__);
  if (refCount_.decrement() == 0) delete this;
}

bool AutoBufferGuts::Overlaps(const void* begin, size_t len) const noexcept {
  const uintptr_t first = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t block = reinterpret_cast<uintptr_t>(mem_);
  return len != 0 && memSize_ != 0 && first < block + memSize_ && block < first + len;
}

void AutoBufferGuts::checkUnshared(uint32_t line) const noexcept {
  Check(refCount_.getCount() == 1, "refCount_ == 1", line);
}

void AutoBufferGuts::checkInvariants() const noexcept {
  Check(current_ >= mem_, "current_ >= mem_", __LINE__);
  Check(current_ <= (mem_ + memSize_), "current_ <= (mem_ + memSize_)", __LINE__);
}

uint32_t AutoBufferGuts::CalcNewSize(uint32_t needed) noexcept {
  const uint32_t margin = std::max(REALLOC_SIZE, needed / 10);
  return margin > UINT32_MAX - needed ? needed : needed + margin;
}

// Moves the block to one of exactly `size` bytes; the data keeps its offset.
void AutoBufferGuts::reallocate(uint32_t size) {
  const size_t offset = static_cast<size_t>(current_ - mem_);
  void* const block = std::realloc(mem_, size);
  if (block == nullptr && size != 0) throw std::bad_alloc();
  mem_ = static_cast<unsigned char*>(block);
  memSize_ = size;
  current_ = mem_ + offset;
}

void AutoBufferGuts::resizeIfNeeded(unsigned int n) {
  const uint32_t needed = CheckedSum(Len(), n);
  if (needed > memSize_) reallocate(CalcNewSize(needed));
}

void AutoBufferGuts::reserve(unsigned int size) {
  if (size > memSize_) reallocate(size);
}

void AutoBufferGuts::append(const void* data, unsigned int len) {
  resizeIfNeeded(len);
  std::memcpy(current_, data, len);
  current_ += len;
}

void AutoBufferGuts::appendReversed(const void* data, unsigned int len) {
  resizeIfNeeded(len);
  const unsigned char* const source = static_cast<const unsigned char*>(data);
  for (unsigned int i = 0; i < len; ++i) current_[len - 1 - i] = source[i];
  current_ += len;
}

void AutoBufferGuts::modify(unsigned int offset, const void* data, unsigned int len) {
  const uint32_t end = CheckedSum(offset, len);
  if (end > memSize_) reallocate(CalcNewSize(end));
  if (len != 0) std::memcpy(mem_ + offset, data, len);
}

void AutoBufferGuts::unAppend(unsigned int size) {
  current_ -= size;
  std::memset(current_, 0, size);
}

void AutoBufferGuts::skip(unsigned int offset) {
  reserve(CheckedSum(Len(), offset));
  Check((current_ + offset) <= (mem_ + memSize_), "(current_ + offset) <= (mem_ + memSize_)",
        __LINE__);
  current_ += offset;
}

// The changes that callers outside AutoBuffer make check the count themselves;
// AutoBuffer has checked it once when it made the guts its own.
void AutoBufferGuts::Reserve(unsigned int size) {
  checkUnshared(__LINE__);
  reserve(size);
}
void AutoBufferGuts::Append(const void* data, unsigned int len) {
  checkUnshared(__LINE__);
  append(data, len);
}
void AutoBufferGuts::appendReverseByteOrder(const void* data, unsigned int len) {
  checkUnshared(__LINE__);
  appendReversed(data, len);
}
void AutoBufferGuts::Modify(unsigned int offset, const void* data, unsigned int len) {
  checkUnshared(__LINE__);
  modify(offset, data, len);
}
void AutoBufferGuts::UnAppend(unsigned int size) {
  checkUnshared(__LINE__);
  unAppend(size);
}
void AutoBufferGuts::Skip(unsigned int offset) {
  checkUnshared(__LINE__);
  skip(offset);
}

// BufferWrapper

BufferWrapper::BufferWrapper(const AutoBuffer& buffer) : data_(buffer.Data()), len_(buffer.Len()) {}

int CompareBuffers(const BufferWrapper& a, const BufferWrapper& b) noexcept {
  const unsigned int common = std::min(a.Len(), b.Len());
  const int lengthOrder = a.Len() > b.Len() ? 1 : (a.Len() == b.Len() ? 0 : -1);
  const int c = common != 0 ? std::memcmp(a.Data(), b.Data(), common) : 0;
  if (c != 0) return c > 0 ? 1 : -1;
  return lengthOrder;
}

// AutoBuffer

AutoBuffer::AutoBuffer(unsigned int size) : guts_(new AutoBufferGuts) {
  try {
    guts_->reserve(size);
  } catch (...) {
    Free();
    throw;
  }
}

AutoBuffer::AutoBuffer(const unsigned char* data, unsigned int len) { Append(data, len); }

AutoBuffer::AutoBuffer(const BufferWrapper& w) { Append(w.Data(), w.Len()); }

AutoBuffer::AutoBuffer(const AutoBuffer& that) noexcept : guts_(that.guts_) {
  if (guts_ != nullptr) guts_->AddRef();
}

AutoBuffer& AutoBuffer::operator=(const AutoBuffer& that) noexcept {
  if (this == &that) return *this;
  if (guts_ != that.guts_) {
    Free();
    guts_ = that.guts_;
    if (guts_ != nullptr) guts_->AddRef();
  } else {
    Check(guts_ == nullptr || guts_->refCount() >= 2, "(guts_ == 0) || (guts_->refCount_ >= 2)",
          __LINE__);
  }
  return *this;
}

AutoBuffer& AutoBuffer::operator=(const BufferWrapper& w) {
  AutoBuffer aside;
  const void* const data = setAside(w.Data(), w.Len(), aside);
  Free();
  Append(data, w.Len());
  return *this;
}

void AutoBuffer::Free() noexcept {
  if (guts_ == nullptr) return;
  guts_->Release();
  guts_ = nullptr;
}

void AutoBuffer::Erase() noexcept {
  if (guts_ == nullptr) return;
  if (guts_->refCount() > 1) {
    if (guts_->Len() != 0) Free();
  } else {
    guts_->current_ = guts_->mem_;  // keeps the block
  }
}

void AutoBuffer::CopyIfNecessary() {
  Check(guts_ != nullptr, "guts_ != 0", __LINE__);
  if (guts_ == nullptr) return;
  // One read of the count: it cannot rise from 1 meanwhile, as only this buffer holds
  // the guts then.
  const int32_t count = guts_->refCount();
  if (count <= 1) {
    Check(count == 1, "guts_->refCount_ == 1", __LINE__);
    return;
  }
  AutoBufferGuts* const copy = new AutoBufferGuts(*guts_);
  Check(copy->refCount() == 1, "guts_->refCount_ == 1", __LINE__);
  AutoBufferGuts* const shared = guts_;
  guts_ = copy;
  shared->Release();
}

void AutoBuffer::makeUnique() {
  if (guts_ == nullptr) {
    guts_ = new AutoBufferGuts;  // count 1
  } else {
    CopyIfNecessary();
  }
}

const void* AutoBuffer::setAside(const void* data, unsigned int len, AutoBuffer& aside) const {
  if (guts_ == nullptr || !guts_->Overlaps(data, len)) return data;
  aside.Append(data, len);
  return aside.Data();
}

void AutoBuffer::Reserve(unsigned int size) {
  if (size == 0 || (guts_ != nullptr && guts_->MemUsage() >= size)) return;
  makeUnique();
  guts_->reserve(size);
}

void AutoBuffer::appendWith(const void* data, unsigned int len,
                            void (AutoBufferGuts::*add)(const void*, unsigned int)) {
  if (len == 0) return;
  Check(data != nullptr, "data != 0", __LINE__);
  if (data == nullptr) return;
  AutoBuffer aside;
  data = setAside(data, len, aside);
  makeUnique();
  (guts_->*add)(data, len);
}

void AutoBuffer::Append(const void* data, unsigned int len) {
  appendWith(data, len, &AutoBufferGuts::append);
}

void AutoBuffer::appendReverseByteOrder(const void* data, unsigned int len) {
  appendWith(data, len, &AutoBufferGuts::appendReversed);
}

void AutoBuffer::Modify(unsigned int offset, const void* data, unsigned int len) {
  Check(len == 0 || data != nullptr, "data != 0", __LINE__);
  if (len != 0 && data == nullptr) return;
  AutoBuffer aside;
  data = setAside(data, len, aside);
  makeUnique();
  guts_->modify(offset, data, len);
}

void AutoBuffer::UnAppend(unsigned int size) {
  Check(guts_ != nullptr, "guts_", __LINE__);
  Check(Len() >= size, "Len() >= size", __LINE__);
  if (guts_ == nullptr || Len() < size) return;
  makeUnique();
  guts_->unAppend(size);
}

void AutoBuffer::Skip(unsigned int size) {
  makeUnique();
  guts_->skip(size);
}

bool AutoBuffer::operator==(const AutoBuffer& that) const {
  return CompareBuffers(BufferWrapper(*this), BufferWrapper(that)) == 0;
}

bool AutoBuffer::operator<(const AutoBuffer& that) const {
  return CompareBuffers(BufferWrapper(*this), BufferWrapper(that)) == -1;
}

void AutoBuffer::serialize(unsigned char*& out, const unsigned char* outEnd) const {
  const unsigned int len = Len();
  little_endian::CheckSerializationSize(size_t{len} + 4, out, outEnd);
  unsigned char* cursor = out;
  little_endian::Serialize(uint32_t{len}, cursor, outEnd);
  little_endian::SerializeByteArray(Data(), len, cursor, outEnd);
  out = cursor;
}

void AutoBuffer::deserialize(const unsigned char*& in, const unsigned char* inEnd) {
  const unsigned char* cursor = in;
  uint32_t count = 0;
  little_endian::Deserialize(count, cursor, inEnd);
  little_endian::CheckDeserializationSize(count, cursor, inEnd);
  AutoBuffer aside;
  const void* const data = setAside(cursor, count, aside);
  Reserve(count);
  Erase();
  Append(data, count);
  in = cursor + count;
}

void AutoBuffer::circularIncrement(const unsigned char* beginBuf, const unsigned char* endBuf,
                                   unsigned char*& p) noexcept {
  if (++p == endBuf) p = const_cast<unsigned char*>(beginBuf);
}

void AutoBuffer::circularIncrement(const unsigned char* beginBuf, const unsigned char* endBuf,
                                   const unsigned char*& p) noexcept {
  if (++p == endBuf) p = beginBuf;
}

void AutoBuffer::circularSerializeLength(unsigned char* beginBuf, const unsigned char* endBuf,
                                         unsigned char*& p) const {
  CheckRing<exception::BufferOverflow>(beginBuf, endBuf, p, __LINE__);
  WriteRingCount(Len(), beginBuf, endBuf, p);
}

void AutoBuffer::circularSerialize(unsigned char* beginBuf, const unsigned char* endBuf,
                                   unsigned char*& p) const {
  CheckRing<exception::BufferOverflow>(beginBuf, endBuf, p, __LINE__);
  if (serializationSize() > RingSize(beginBuf, endBuf)) ThrowBufferOverflow(__LINE__);
  const size_t len = Len();
  const size_t room = static_cast<size_t>(endBuf - p);
  if (len + 4 <= room) {
    serialize(p, endBuf);
    if (p == endBuf) p = beginBuf;
    return;
  }
  WriteRingCount(Len(), beginBuf, endBuf, p);
  const size_t first = std::min(len, static_cast<size_t>(endBuf - p));
  if (first != 0) std::memcpy(p, Data(), first);
  if (first < len) {
    std::memcpy(beginBuf, Data() + first, len - first);
    p = beginBuf + (len - first);
  } else {
    p += first;
    if (p == endBuf) p = beginBuf;
  }
}

uint32_t AutoBuffer::GetCircularDeserializationSize(const unsigned char* beginBuf,
                                                    const unsigned char* endBuf,
                                                    const unsigned char*& p) {
  CheckRing<exception::DeserializationError>(beginBuf, endBuf, p, __LINE__);
  if (RingSize(beginBuf, endBuf) < 4) ThrowDeserializationError(__LINE__);
  uint32_t count = 0;
  for (int i = 0; i < 4; ++i) {
    count |= uint32_t{*p} << (8 * i);
    circularIncrement(beginBuf, endBuf, p);
  }
  return count;
}

const unsigned char* AutoBuffer::circularDeserialize(const unsigned char* beginBuf,
                                                     const unsigned char* endBuf,
                                                     const unsigned char* p) {
  const unsigned char* const start = p;
  const uint32_t count = GetCircularDeserializationSize(beginBuf, endBuf, p);
  if (RingSize(beginBuf, endBuf) < uint64_t{count} + 4) ThrowDeserializationError(__LINE__);
  if (guts_ != nullptr && guts_->Overlaps(beginBuf, RingSize(beginBuf, endBuf))) {
    // The ring lies in this buffer's own block, which may move: read the form aside.
    AutoBuffer aside;
    p = aside.circularDeserialize(beginBuf, endBuf, start);
    Reserve(count);
    Erase();
    Append(aside.Data(), count);
    return p;
  }
  const uint32_t first = static_cast<uint32_t>(std::min(uint64_t{count}, RingSize(p, endBuf)));
  Reserve(count);
  Erase();
  Append(p, first);
  Append(beginBuf, count - first);
  p = first < count ? beginBuf + (count - first) : p + first;
  if (p == endBuf) p = beginBuf;
  return p;
}

}  // namespace vo::qel
