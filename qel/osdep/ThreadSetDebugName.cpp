#include "qel/osdep/ThreadSetDebugName.h"

#include <pthread.h>

#include <cstdint>
#include <cstring>
#include <exception>

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::osdep {
namespace {

constexpr char kFile[] = "osdep/ThreadSetDebugName";
constexpr uint32_t kNullNameLine = 162;
// The longest name the system keeps, without its terminator.
constexpr size_t kSystemNameBytes = 15;

}  // namespace

ANSIString ThreadCleanName(const char* name, size_t maxLength) {
  ANSIString cleanName(name);
  if (maxLength >= 4 && cleanName.length() > maxLength - 1) {
    const auto half = static_cast<ANSIString::size_type>(maxLength / 2 - 2);
    cleanName = cleanName.substr(0, half) + "..." + cleanName.substr(cleanName.length() - half);
  }
  struct {
    char character;
    const char* expression;
    const char* message;
    uint32_t line;
  } const forbidden[] = {
      {'\t', "vo::qel::ANSIString::npos == cleanName.find('\\t')",
       "assumption: no tabs in thread names violated", 64},
      {'\n', "vo::qel::ANSIString::npos == cleanName.find('\\n')",
       "assumption: no newline in thread names violated", 65},
      {'\r', "vo::qel::ANSIString::npos == cleanName.find('\\r')",
       "assumption: no carriage return in thread names violated", 66},
  };
  for (const auto& f : forbidden) {
    if (cleanName.find(f.character) != ANSIString::npos) {
      OutputAssertion(f.expression, f.message, kFile, f.line);
    }
  }
  return cleanName;
}

void ThreadSetDebugName(unsigned long, unsigned long, const char* name) noexcept {
  if (name == nullptr) {
    OutputAssertion("0 != name", "null thread name", kFile, kNullNameLine);
    return;
  }
  // A name only helps debugging: when the copy cannot be made the thread stays unnamed.
  try {
    const ANSIString clean = ThreadCleanName(name, 64);
    char systemName[kSystemNameBytes + 1] = {};
    std::strncpy(systemName, clean.c_str(), kSystemNameBytes);
    pthread_setname_np(pthread_self(), systemName);
  } catch (const std::exception&) {
  }
}

void ThreadSetDebugName(const Thread&, const char*) noexcept {}

}  // namespace vo::qel::osdep
