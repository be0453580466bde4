// Plain reference forms of the UTF-8 rules for the codec's fuzz targets: one byte
// at a time, no shortcuts, so that the fast paths have something simple to agree
// with. Also a quiet alert presenter that counts failed-check reports.
#ifndef FUZZ_UTF8REFERENCE_H_
#define FUZZ_UTF8REFERENCE_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "qel/osdep/Alert.h"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzz {

struct Decoded {
  std::vector<uint32_t> values;
  std::vector<size_t> offsets;  // where each value's sequence starts
  bool valid = true;
  size_t invalidAt = 0;  // offset of the first invalid sequence when !valid
};

inline Decoded ReferenceDecode(const unsigned char* s, size_t n) {
  static const uint32_t kSmallest[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
  Decoded out;
  size_t i = 0;
  while (i < n) {
    const unsigned c = s[i];
    size_t length;
    uint32_t v;
    if (c < 0x80) {
      length = 1, v = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2, v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF7) {
      length = 4, v = c & 0x07;
    } else if (c >= 0xF8 && c <= 0xFB) {
      length = 5, v = c & 0x03;
    } else if (c >= 0xFC && c <= 0xFD) {
      length = 6, v = c & 0x01;
    } else {
      length = 0, v = 0;
    }
    bool ok = length != 0 && n - i >= length;
    for (size_t k = 1; ok && k < length; ++k) {
      ok = (s[i + k] & 0xC0) == 0x80;
      v = (v << 6) | (s[i + k] & 0x3F);
    }
    if (ok && v < kSmallest[length]) ok = false;
    if (!ok) {
      out.valid = false;
      out.invalidAt = i;
      return out;
    }
    out.values.push_back(v);
    out.offsets.push_back(i);
    i += length;
  }
  return out;
}

inline size_t ReferenceLength(uint32_t v) {
  if (v < 0x80) return 1;
  if (v < 0x800) return 2;
  if (v < 0x10000) return 3;
  if (v < 0x200000) return 4;
  if (v < 0x4000000) return 5;
  if (v <= 0x7FFFFFFF) return 6;
  return 1;  // replaced by '?'
}

inline void ReferenceAppend(uint32_t v, std::vector<unsigned char>& out) {
  static const unsigned char kMarker[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  if (v > 0x7FFFFFFF) {
    out.push_back('?');
    return;
  }
  const size_t length = ReferenceLength(v);
  if (length == 1) {
    out.push_back(static_cast<unsigned char>(v));
    return;
  }
  unsigned char bytes[6];
  for (size_t k = length - 1; k > 0; --k) {
    bytes[k] = static_cast<unsigned char>(0x80 | (v & 0x3F));
    v >>= 6;
  }
  bytes[0] = static_cast<unsigned char>(kMarker[length] | v);
  out.insert(out.end(), bytes, bytes + length);
}

// Counts failed-check reports (each shows an alert) without printing them.
class CountingPresenter : public vo::qel::osdep::AlertPresenter {
 public:
  vo::qel::osdep::AlertButton present(const char*, const char*, const char*, const char*) override {
    ++count;
    return vo::qel::osdep::k_DEFAULT_BUTTON;
  }
  size_t count = 0;
};

inline CountingPresenter& Reports() {
  static CountingPresenter* presenter = [] {
    auto* p = new CountingPresenter;
    vo::qel::osdep::SetAlertPresenter(p);
    return p;
  }();
  return *presenter;
}

// Sends standard error to /dev/null while alive: the failed-check report writes a
// line there, which would drown the fuzzer's own output.
class QuietStandardError {
 public:
  QuietStandardError() : saved_(::dup(2)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStandardError() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  const int saved_;
};

}  // namespace fuzz

#endif  // FUZZ_UTF8REFERENCE_H_
