// Test support: liblorvath.so loaded by dlopen as the host loads it, and host string handles
// as the host makes them (a sanitizer sees any read past their count and bytes).
// A loaded library may be called from any thread; a HostString belongs to one thread.
#ifndef TESTS_SUPPORT_LORVATHLIBRARY_H_
#define TESTS_SUPPORT_LORVATHLIBRARY_H_

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lorvath.h"

namespace vo::lorvath::testing {

// Never unloaded: the library keeps its reservation counter for the process's life.
class LorvathLibrary {
 public:
  explicit LorvathLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) error_ = dlerror();
    Resolve("Lorvath_Reserve", reserve);
    Resolve("Lorvath_Unreserve", unreserve);
    Resolve("Lorvath_WriteMessage", writeMessage);
    Resolve("Lorvath_WriteMessageUTF8", writeMessageUTF8);
  }

  // "" when the library and all four functions were found.
  const std::string& error() const { return error_; }

  decltype(&Lorvath_Reserve) reserve = nullptr, unreserve = nullptr;
  decltype(&Lorvath_WriteMessage) writeMessage = nullptr, writeMessageUTF8 = nullptr;

 private:
  template <class F>
  void Resolve(const char* name, F& function) {
    if (handle_ != nullptr) function = reinterpret_cast<F>(dlsym(handle_, name));
    if (function == nullptr && error_.empty()) error_ = std::string("missing ") + name;
  }

  void* handle_;
  std::string error_;
};

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
