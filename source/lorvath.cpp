// The logging interface that the host calls: reservations, the process-wide logger and
// the path of a message from a host string handle to one syslog record.
//
// Every exported function may run on any thread, and none takes a lock or waits for
// another call:
// 1. The logger is created by the first reservation of the process and never destroyed,
//    so no release ever waits for a write that may still use it. "A logger exists" means
//    that the reservation count is above zero and the logger has been made.
// 2. A reservation returns only once the logger exists, unless its creation failed for
//    want of memory during the current run of reservations (from the count leaving 0 to
//    its return to 0); a write made under a reservation therefore finds the logger.
// 3. The count never falls below zero: a release without a reservation is a failed check
//    and changes nothing.
// 4. A thread cancelled inside a call unwinds through it: no call holds state that the
//    unwinding would have to restore, so a child forked at any moment, or a process whose
//    thread was cancelled, goes on reserving, writing and releasing.
// The flag byte belongs to its caller and is read and written without synchronisation.
#include <cxxabi.h>
#include <syslog.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>

#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/ob/string.h"
#include "qel/osdep/OutputAssertion.h"
#include "source/lorvath_internal.h"

namespace vo::lorvath {

namespace {

constexpr char kFile[] = "source/lorvath";
// Failed-check reports name these fixed lines; the report text is what users match on.
constexpr uint32_t kReserveNullFlagLine = 57;
constexpr uint32_t kUnreserveNullFlagLine = 82;

// What a call with a null flag pointer returns after its report.
constexpr int32_t kNullFlagResult = LORVATH_ERR_ARGUMENT;

// The reservation count, with kCreationFailed set while the logger's creation has failed
// during the current run of reservations. Static storage that is never destroyed: a host
// may unload the library with reservations still held.
constexpr uint32_t kCreationFailed = 0x80000000u;
constexpr uint32_t kCountMask = ~kCreationFailed;
std::atomic<uint32_t> g_reservedRefCount{0};

// Null until the first reservation that could make it; never destroyed afterwards.
std::atomic<Logger*> g_logger{nullptr};

// Makes the logger unless it exists. Of reservations racing here all may allocate; one
// publishes, the others free theirs.
void CreateLogger() {
  if (g_logger.load(std::memory_order_acquire) != nullptr) return;
  Logger* expected = nullptr;
  Logger* const fresh = new Logger;
  if (!g_logger.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
    delete fresh;
  }
}

// The logger when one exists: the count is above zero and the logger has been made.
Logger* ExistingLogger() {
  if ((g_reservedRefCount.load(std::memory_order_seq_cst) & kCountMask) == 0) return nullptr;
  return g_logger.load(std::memory_order_acquire);
}

// Takes one reservation off the count; false, with nothing changed, when none is held.
// The last release also clears kCreationFailed, so the next run tries again.
bool ReleaseOne() {
  uint32_t value = g_reservedRefCount.load(std::memory_order_seq_cst);
  do {
    if ((value & kCountMask) == 0) return false;
  } while (!g_reservedRefCount.compare_exchange_weak(
      value, (value & kCountMask) == 1 ? 0 : value - 1, std::memory_order_seq_cst));
  return true;
}

// Where records go; tests put a stand-in here.
std::atomic<SyslogFunction> g_syslog{&::syslog};

int32_t TranslateSeverity(Lorvath_Severity severity) {
  switch (severity) {
    case Lorvath_SeverityError:
      return LOG_ERR;
    case Lorvath_SeverityWarning:
      return LOG_WARNING;
    case Lorvath_SeverityInformation:
      return LOG_INFO;
    default:
      throw qel::AddFileAndLineInfo(qel::exception::InvalidArgument2(qel::ANSIString("severity")),
                                    kFile, __LINE__);
  }
}

// Every line feed becomes a tab, so that one message stays one line of the log.
void ReplaceLineFeeds(qel::ANSIString& text) {
  char* p = text.begin();
  char* const end = text.end();
  while ((p = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
         nullptr) {
    *p++ = '\t';
  }
}

using LogMember = int32_t (Logger::*)(LStrHandle, LStrHandle, LStrHandle, Lorvath_Severity);

int32_t Write(LogMember member, LStrHandle first, LStrHandle second, LStrHandle message,
              Lorvath_Severity severity) {
  try {
    Logger* const logger = ExistingLogger();
    if (logger == nullptr) {
      return LORVATH_ERR_NO_LOGGER;
    }
    if (severity < Lorvath_SeverityError || severity > Lorvath_SeverityInformation) {
      return LORVATH_ERR_ARGUMENT;
    }
    return (logger->*member)(first, second, message, severity);
  } catch (...) {
    return TranslateCaughtException();
  }
}

}  // namespace

int32_t TranslateCaughtException() {
  try {
    throw;
  } catch (const abi::__forced_unwind&) {
    // The thread is being cancelled: its unwinding must go on up to the thread's start.
    throw;
  } catch (const std::bad_alloc&) {
    return LORVATH_ERR_NO_LOGGER;
  } catch (const qel::exception::Exception& e) {
    return e.getOmbrixErrorCode();
  } catch (const std::exception&) {
    return LORVATH_ERR_STD_EXCEPTION;
  } catch (...) {
    // The library throws nothing else; a foreign exception has no code to become.
    std::terminate();
  }
}

SyslogFunction ReplaceSyslog(SyslogFunction function) noexcept {
  return g_syslog.exchange(function);
}

int32_t Logger::LogMessage(LStrHandle /*first*/, LStrHandle /*second*/, LStrHandle message,
                           Lorvath_Severity severity) {
  // The severity is checked before the message is touched.
  const int32_t priority = TranslateSeverity(severity);
  qel::ANSIString text = qel::ob::string::LStrHandleToQelANSIString(message);
  ReplaceLineFeeds(text);
  // The text is never a format, and it ends at its first zero byte.
  g_syslog.load(std::memory_order_relaxed)(priority, "%s", text.c_str());
  return 0;
}

int32_t Logger::LogMessageUTF8(LStrHandle first, LStrHandle second, LStrHandle message,
                               Lorvath_Severity severity) {
  return LogMessage(first, second, message, severity);
}

}  // namespace vo::lorvath

using vo::lorvath::Logger;

extern "C" {

LORVATH_EXPORT int32_t Lorvath_Reserve(unsigned char* reserved) {
  using namespace vo::lorvath;
  try {
    if (reserved == nullptr) {
      vo::qel::osdep::OutputAssertion("reserved != NULL", "", kFile, kReserveNullFlagLine);
      return kNullFlagResult;
    }
    if ((*reserved & 1) != 0) {
      return LORVATH_ERR_NONE;
    }
    *reserved = 1;
    const uint32_t value = g_reservedRefCount.fetch_add(1, std::memory_order_seq_cst) + 1;
    // Every reservation of the run makes sure of the logger until its creation fails;
    // the bit is clear whenever the count leaves 0, so the run's first one always tries.
    if ((value & kCreationFailed) == 0) {
      try {
        CreateLogger();
      } catch (const std::bad_alloc&) {
        // The flag stays set and the count raised; writes report 2 until the count has
        // fallen back to 0.
        g_reservedRefCount.fetch_or(kCreationFailed, std::memory_order_seq_cst);
        throw;
      }
    }
    return LORVATH_ERR_NONE;
  } catch (...) {
    return TranslateCaughtException();
  }
}

LORVATH_EXPORT int32_t Lorvath_Unreserve(unsigned char* reserved) {
  using namespace vo::lorvath;
  try {
    if (reserved == nullptr) {
      vo::qel::osdep::OutputAssertion("reserved != NULL", "", kFile, kUnreserveNullFlagLine);
      return kNullFlagResult;
    }
    if ((*reserved & 1) == 0) {
      return LORVATH_ERR_NONE;
    }
    *reserved = 0;
    if (!ReleaseOne()) {
      // A flag byte the host never reserved (left with its low bit set).
      vo::qel::osdep::OutputAssertion("count > 0", "release without a reservation", kFile,
                                      __LINE__);
      return LORVATH_ERR_ARGUMENT;
    }
    return LORVATH_ERR_NONE;
  } catch (...) {
    return TranslateCaughtException();
  }
}

LORVATH_EXPORT int32_t Lorvath_WriteMessage(LStrHandle first, LStrHandle second, LStrHandle message,
                                            Lorvath_Severity severity) {
  return vo::lorvath::Write(&Logger::LogMessage, first, second, message, severity);
}

LORVATH_EXPORT int32_t Lorvath_WriteMessageUTF8(LStrHandle first, LStrHandle second,
                                                LStrHandle message, Lorvath_Severity severity) {
  return vo::lorvath::Write(&Logger::LogMessageUTF8, first, second, message, severity);
}

}  // extern "C"
