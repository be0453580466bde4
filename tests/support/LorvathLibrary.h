// Test support: a host string handle built as the host builds one, a malloc'd pointer to
// a malloc'd record of exactly the count and bytes, so that a sanitizer sees any read
// past them. A HostString belongs to one thread.
#ifndef TESTS_SUPPORT_LORVATHLIBRARY_H_
#define TESTS_SUPPORT_LORVATHLIBRARY_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lorvath.h"

namespace vo::lorvath::testing {

class HostString {
 public:
  explicit HostString(const std::string& bytes)
      : HostString(bytes.data(), static_cast<int32_t>(bytes.size())) {}
  // A record of only a count field holding `count` (one the host never sends, e.g. -1).
  static HostString WithCountOnly(int32_t count) { return HostString(nullptr, count); }
  static HostString WithNullRecord() { return HostString(nullptr, 0, false); }
  HostString(HostString&& that) noexcept : handle_(that.handle_) { that.handle_ = nullptr; }
  ~HostString() {
    if (handle_ != nullptr) std::free(*handle_);
    std::free(handle_);
  }

  LStrHandle handle() const { return handle_; }

 private:
  HostString(const char* bytes, int32_t count, bool withRecord = true)
      : handle_(static_cast<LStrHandle>(std::malloc(sizeof(LStrPtr)))) {
    const size_t size = bytes != nullptr ? static_cast<size_t>(count) : 0;
    *handle_ = withRecord ? static_cast<LStrPtr>(std::malloc(sizeof(int32_t) + size)) : nullptr;
    if (withRecord) (*handle_)->cnt = count;
    if (size != 0) std::memcpy((*handle_)->str, bytes, size);
  }

  LStrHandle handle_;
};

}  // namespace vo::lorvath::testing

#endif  // TESTS_SUPPORT_LORVATHLIBRARY_H_
