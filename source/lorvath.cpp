// The logging interface that the host calls: reservations, the process-wide logger and
// the path of a message from a host string handle to one syslog record.
//
// Every exported function may run on any thread. The logger exists while at least one
// reservation is held; one reader/writer lock ties its life to the reservation count:
// 1. Reserve and Unreserve change the count, and create or destroy the logger when the
//    count passes between 0 and 1, holding the lock exclusively, so the count and the
//    logger never disagree for another thread.
// 2. A write holds the lock shared from its look at the logger until the record has been
//    sent, so the logger cannot be destroyed under it; writes never wait for each other.
// A write made by a caller that holds a reservation therefore always finds a complete
// logger. The flag byte itself belongs to its caller and is touched without the lock.
#include <pthread.h>
#include <syslog.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>

#include "lorvath.h"
#include "qel/DLLAlloc.h"
#include "qel/Noncopyable.h"
#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/ob/string.h"
#include "qel/osdep/AtomicInt.h"
#include "qel/osdep/OutputAssertion.h"

// Clang's thread-safety analysis (-Wthread-safety) checks which data the lock guards.
#if defined(__clang__)
#define LORVATH_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LORVATH_THREAD_ANNOTATION(x)
#endif
#define LORVATH_CAPABILITY(x) LORVATH_THREAD_ANNOTATION(capability(x))
#define LORVATH_SCOPED_CAPABILITY LORVATH_THREAD_ANNOTATION(scoped_lockable)
#define LORVATH_GUARDED_BY(x) LORVATH_THREAD_ANNOTATION(guarded_by(x))
#define LORVATH_ACQUIRE(...) LORVATH_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define LORVATH_ACQUIRE_SHARED(...) \
  LORVATH_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define LORVATH_RELEASE(...) LORVATH_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LORVATH_RELEASE_GENERIC(...) \
  LORVATH_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))

namespace vo::lorvath {

// The object that exists while reservations are held. It has no state; its existence is
// what a write checks. It is allocated through the library's allocation wrappers, so
// that switching them off makes its creation fail like any other allocation.
class Logger : private qel::Noncopyable {
 public:
  Logger() = default;
  ~Logger() noexcept = default;

  // Writes the text of `message` to the system log; `first` and `second` are never read.
  // Returns 0 or throws (InvalidArgument for a bad severity or a negative count,
  // std::bad_alloc when the copy cannot be made).
  int32_t LogMessage(LStrHandle first, LStrHandle second, LStrHandle message,
                     Lorvath_Severity severity);
  // UTF-8 text reaches the log byte for byte like system-encoded text.
  int32_t LogMessageUTF8(LStrHandle first, LStrHandle second, LStrHandle message,
                         Lorvath_Severity severity);

  static void* operator new(std::size_t size) { return qel::DLLMalloc(size); }
  static void operator delete(void* p) noexcept { qel::DLLFree(p); }
};

namespace {

constexpr char kFile[] = "source/lorvath";
// Failed-check reports name these fixed lines; the report text is what users match on.
constexpr uint32_t kReserveNullFlagLine = 57;
constexpr uint32_t kUnreserveNullFlagLine = 82;

// What a call with a null flag pointer returns after its report.
constexpr int32_t kNullFlagResult = LORVATH_ERR_ARGUMENT;

class LORVATH_CAPABILITY("mutex") LifeLock {
 public:
  void lock() LORVATH_ACQUIRE() { Check(pthread_rwlock_wrlock(&lock_), "pthread_rwlock_wrlock"); }
  void lockShared() LORVATH_ACQUIRE_SHARED() {
    Check(pthread_rwlock_rdlock(&lock_), "pthread_rwlock_rdlock");
  }
  void unlock() LORVATH_RELEASE_GENERIC() {
    Check(pthread_rwlock_unlock(&lock_), "pthread_rwlock_unlock");
  }

 private:
  // These calls fail only on a lock that is not initialised or not held, which this
  // file never lets happen; a failure is reported and the caller goes on.
  static void Check(int result, const char* call) noexcept {
    if (result != 0) {
      qel::osdep::OutputAssertion("result == 0", call, kFile, __LINE__);
    }
  }

  // Writer preference: a steady stream of writes cannot keep a reservation or a release
  // waiting for ever. No thread ever takes the lock twice, which that kind requires.
  // Statically initialised, so it works before any constructor has run and has no
  // destructor to run at unload.
  pthread_rwlock_t lock_ = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
};

class LORVATH_SCOPED_CAPABILITY ExclusiveGuard {
 public:
  explicit ExclusiveGuard(LifeLock& lock) LORVATH_ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
  ~ExclusiveGuard() noexcept LORVATH_RELEASE() { lock_.unlock(); }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

 private:
  LifeLock& lock_;
};

class LORVATH_SCOPED_CAPABILITY SharedGuard {
 public:
  explicit SharedGuard(LifeLock& lock) LORVATH_ACQUIRE_SHARED(lock) : lock_(lock) {
    lock_.lockShared();
  }
  ~SharedGuard() noexcept LORVATH_RELEASE() { lock_.unlock(); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;

 private:
  LifeLock& lock_;
};

LifeLock g_lifeLock;

// Created at load and never destroyed: a host may unload the library with reservations
// still held, and nothing of the logging path may run at that point.
qel::osdep::AtomicInt* const g_reservedRefCount = new qel::osdep::AtomicInt(0);

// Null from load until the first reservation and again after the last release.
Logger* g_logger LORVATH_GUARDED_BY(g_lifeLock) = nullptr;

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

// REQUIRES: called inside a catch handler. Classifies the exception in flight as the
// host error code that an exported function returns for it.
int32_t TranslateCaughtException() {
  try {
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

// Every line feed becomes a tab, so that one message stays one line of the log.
void ReplaceLineFeeds(qel::ANSIString& text) {
  const auto length = text.length();
  if (length == 0) {
    return;
  }
  char* p = &text[0];
  char* const end = p + length;
  while ((p = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
         nullptr) {
    *p++ = '\t';
  }
}

using LogMember = int32_t (Logger::*)(LStrHandle, LStrHandle, LStrHandle, Lorvath_Severity);

int32_t Write(LogMember member, LStrHandle first, LStrHandle second, LStrHandle message,
              Lorvath_Severity severity) {
  try {
    SharedGuard guard(g_lifeLock);
    if (g_logger == nullptr) {
      return LORVATH_ERR_NO_LOGGER;
    }
    if (severity < Lorvath_SeverityError || severity > Lorvath_SeverityInformation) {
      return LORVATH_ERR_ARGUMENT;
    }
    return (g_logger->*member)(first, second, message, severity);
  } catch (...) {
    return TranslateCaughtException();
  }
}

}  // namespace

int32_t Logger::LogMessage(LStrHandle /*first*/, LStrHandle /*second*/, LStrHandle message,
                           Lorvath_Severity severity) {
  // The severity is checked before the message is touched.
  const int32_t priority = TranslateSeverity(severity);
  qel::ANSIString text = qel::ob::string::LStrHandleToQelANSIString(message);
  ReplaceLineFeeds(text);
  // The text is never a format, and it ends at its first zero byte.
  syslog(priority, "%s", text.c_str());
  return 0;
}

int32_t Logger::LogMessageUTF8(LStrHandle first, LStrHandle second, LStrHandle message,
                               Lorvath_Severity severity) {
  return LogMessage(first, second, message, severity);
}

}  // namespace vo::lorvath

using vo::lorvath::g_lifeLock;
using vo::lorvath::g_logger;
using vo::lorvath::g_reservedRefCount;
using vo::lorvath::Logger;

extern "C" {

LORVATH_EXPORT int32_t Lorvath_Reserve(unsigned char* reserved) {
  try {
    if (reserved == nullptr) {
      vo::qel::osdep::OutputAssertion("reserved != NULL", "", vo::lorvath::kFile,
                                      vo::lorvath::kReserveNullFlagLine);
      return vo::lorvath::kNullFlagResult;
    }
    if ((*reserved & 1) != 0) {
      return LORVATH_ERR_NONE;
    }
    vo::lorvath::ExclusiveGuard guard(g_lifeLock);
    *reserved = 1;
    if (g_reservedRefCount->increment() == 1) {
      // Out of memory here leaves the flag set and the count raised with no logger;
      // writes report 2 until the count has fallen back to 0.
      g_logger = new Logger;
    }
    return LORVATH_ERR_NONE;
  } catch (...) {
    return vo::lorvath::TranslateCaughtException();
  }
}

LORVATH_EXPORT int32_t Lorvath_Unreserve(unsigned char* reserved) {
  try {
    if (reserved == nullptr) {
      vo::qel::osdep::OutputAssertion("reserved != NULL", "", vo::lorvath::kFile,
                                      vo::lorvath::kUnreserveNullFlagLine);
      return vo::lorvath::kNullFlagResult;
    }
    if ((*reserved & 1) == 0) {
      return LORVATH_ERR_NONE;
    }
    vo::lorvath::ExclusiveGuard guard(g_lifeLock);
    *reserved = 0;
    if (g_reservedRefCount->decrement() > 0) {
      return LORVATH_ERR_NONE;
    }
    delete g_logger;
    g_logger = nullptr;
    return LORVATH_ERR_NONE;
  } catch (...) {
    return vo::lorvath::TranslateCaughtException();
  }
}

LORVATH_EXPORT int32_t Lorvath_WriteMessage(LStrHandle first, LStrHandle second,
                                            LStrHandle message, Lorvath_Severity severity) {
  return vo::lorvath::Write(&Logger::LogMessage, first, second, message, severity);
}

LORVATH_EXPORT int32_t Lorvath_WriteMessageUTF8(LStrHandle first, LStrHandle second,
                                                LStrHandle message, Lorvath_Severity severity) {
  return vo::lorvath::Write(&Logger::LogMessageUTF8, first, second, message, severity);
}

}  // extern "C"
