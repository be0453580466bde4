#include "qel/ob/string.h"

#include <cstdint>

#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"

namespace vo::qel::ob::string {

namespace {

constexpr char kFile[] = "ob/string";

}  // namespace

ANSIString LStrHandleToQelANSIString(LStr** handle) { return ConstLStrHToQelANSIString(handle); }

ANSIString ConstLStrHToQelANSIString(const LStr* const* handle) {
  const LStr* record = handle != nullptr ? *handle : nullptr;
  if (record == nullptr) {
    return ANSIString();
  }
  const int32_t count = record->cnt;
  if (count < 0) {
    // The host never sends one; a negative count means the record is not what it
    // claims to be, so nothing after the count field may be trusted or read.
    throw AddFileAndLineInfo(exception::InvalidArgument2(ANSIString("negative LStr byte count")),
                             kFile, __LINE__);
  }
  if (count == 0) {
    return ANSIString();
  }
  return ANSIString(reinterpret_cast<const char*>(record->str),
                    static_cast<ANSIString::size_type>(count));
}

}  // namespace vo::qel::ob::string
