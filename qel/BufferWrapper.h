// BufferWrapper: a view of bytes that someone else owns (a pointer and a 32-bit
// length), for handing a byte buffer's contents around and comparing buffers.
// A value; copies may live on different threads as long as the bytes do not change.
//
// 1. The wrapper owns nothing: it is valid only while the bytes it views are neither
//    changed nor released (for a view of an AutoBuffer, while that buffer is unchanged).
// 2. Data() may be null only when Len() is 0.
#ifndef QEL_BUFFERWRAPPER_H_
#define QEL_BUFFERWRAPPER_H_

namespace vo::qel {

class AutoBuffer;

class BufferWrapper {
 public:
  BufferWrapper() noexcept = default;
  // REQUIRES: data is non-null unless len is 0.
  BufferWrapper(const unsigned char* data, unsigned int len) noexcept : data_(data), len_(len) {}
  // The buffer's Data() and Len().
  explicit BufferWrapper(const AutoBuffer& buffer);

  const unsigned char* Data() const noexcept { return data_; }
  unsigned int Len() const noexcept { return len_; }

 private:
  const unsigned char* data_ = nullptr;
  unsigned int len_ = 0;
};

// -1, 0 or 1: the common prefix compared as unsigned bytes, then the shorter first.
int CompareBuffers(const BufferWrapper& a, const BufferWrapper& b) noexcept;

}  // namespace vo::qel

#endif  // QEL_BUFFERWRAPPER_H_
