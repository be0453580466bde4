#include "qel/osdep/SystemPath.h"

#include <cerrno>
#include <cstring>

#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"

namespace vo::qel::osdep {
namespace {

const char kFile[] = "osdep/SystemPath";

template <class CharT>
bool IsPlainAscii(const CharT* text, size_t size) noexcept {
  for (size_t i = 0; i < size; ++i) {
    const auto c = static_cast<typename std::make_unsigned<CharT>::type>(text[i]);
    if (c == 0 || c >= 0x80) return false;
  }
  return true;
}

[[noreturn]] void ThrowRefused(const char* what) {
  throw AddFileAndLineInfo(exception::InvalidArgument2(ANSIString(what)), kFile, __LINE__);
}

}  // namespace

bool TryToSystemPath(const String& path, ANSIString& out) {
  const wchar_t* const text = path.c_str();
  const String::size_type size = path.length();
  if (IsPlainAscii(text, size)) {
    out.resize(size, '\0');
    char* to = out.begin();
    for (String::size_type i = 0; i < size; ++i) to[i] = static_cast<char>(text[i]);
    return true;
  }
  if (path.hasEmbeddedNull()) {
    errno = EINVAL;
    return false;
  }
  // The character-set layer turns what it cannot convert into '?', so only a round
  // trip that gives the path back shows that nothing was lost.
  out = ANSIString(path);
  if (out.hasEmbeddedNull() || String(out).exactCompare(path) != 0) {
    errno = EILSEQ;
    return false;
  }
  return true;
}

ANSIString ToSystemPath(const String& path) {
  ANSIString out;
  if (!TryToSystemPath(path, out)) {
    ThrowRefused(errno == EINVAL ? "path holds a zero character"
                                 : "path cannot be represented in the system encoding");
  }
  return out;
}

void AppendSystemPath(String& out, const char* name, size_t size) {
  if (IsPlainAscii(name, size)) {
    out.reserve(out.length() + static_cast<String::size_type>(size));
    for (size_t i = 0; i < size; ++i) out += static_cast<wchar_t>(name[i]);
    return;
  }
  const String::size_type count = static_cast<String::size_type>(size);
  const String wide(name, count);
  const ANSIString back(wide);
  if (std::memchr(name, '\0', size) != nullptr || back.length() != count ||
      std::memcmp(back.c_str(), name, size) != 0) {
    ThrowRefused("name is not valid in the system encoding");
  }
  out += wide;
}

String FromSystemPath(const char* name) {
  String out;
  AppendSystemPath(out, name, std::strlen(name));
  return out;
}

}  // namespace vo::qel::osdep
