#include "qel/ob/ThrowIfOBError.h"

#include <cstdio>

#include "lorvath.h"
#include "qel/ob/string.h"

namespace vo::qel::ob {

namespace {

constexpr char kFile[] = "ob/ThrowIfOBError";
constexpr uint32_t kThrowLine = 75;  // the line hosts have always been told

// Releases the host's handle, whatever happens to its text.
class DisposeOnExit {
 public:
  explicit DisposeOnExit(const LStrHandle& handle) noexcept : handle_(handle) {}
  DisposeOnExit(const DisposeOnExit&) = delete;
  DisposeOnExit& operator=(const DisposeOnExit&) = delete;
  ~DisposeOnExit() noexcept {
    if (handle_ != nullptr) ::DSDisposeHandle(handle_);  // nothing to do if it fails
  }

 private:
  const LStrHandle& handle_;
};

}  // namespace

OBErrorException::OBErrorException(int32_t code)
    : message_(baseErrMsg(code) + getErrText(code)), code_(code) {}

ANSIString OBErrorException::baseErrMsg(int32_t code) const {
  char text[48];
  std::snprintf(text, sizeof text, "Error Code: %d (%08x): ", code, static_cast<uint32_t>(code));
  return ANSIString(text);
}

ANSIString OBErrorException::getErrText(int32_t code) const {
  LStrHandle handle = nullptr;
  const DisposeOnExit dispose(handle);
  if (::GGetOneErrorCode(code, &handle) != 0) return string::LStrHandleToQelANSIString(handle);
  return ANSIString("Unknown error code or error text unavailable.");
}

void ThrowIfOBError(int32_t code) {
  if (code != 0) throw AddFileAndLineInfo(OBErrorException(code), kFile, kThrowLine);
}

}  // namespace vo::qel::ob
