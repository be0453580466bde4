// The logging interface that the host calls: reservations, the process-wide logger and
// the path of a message from a host string handle to one syslog record.
//
// Every exported function may run on any thread. The logger exists while at least one
// reservation is held, and its life is tied to the reservation count:
// 1. Reserve and Unreserve change the count, and create or destroy the logger when the
//    count passes between 0 and 1, under one lock, so that the count and the logger never
//    disagree: a caller that holds a reservation always finds a complete logger.
// 2. A write takes no lock. It announces itself before it reads the logger pointer and
//    withdraws when its record has been sent; the last release clears the pointer and
//    waits until no announced write is left before it destroys the logger. Writes never
//    wait, for each other or for reservations.
// The flag byte belongs to its caller and is read and written without the lock.
#include <pthread.h>
#include <sched.h>
#include <syslog.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>

#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/ob/string.h"
#include "qel/osdep/AtomicInt.h"
#include "qel/osdep/OutputAssertion.h"
#include "source/lorvath_internal.h"

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
#define LORVATH_RELEASE(...) LORVATH_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LORVATH_REQUIRES(...) LORVATH_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))

namespace vo::lorvath {

namespace {

constexpr char kFile[] = "source/lorvath";
// Failed-check reports name these fixed lines; the report text is what users match on.
constexpr uint32_t kReserveNullFlagLine = 57;
constexpr uint32_t kUnreserveNullFlagLine = 82;

// What a call with a null flag pointer returns after its report.
constexpr int32_t kNullFlagResult = LORVATH_ERR_ARGUMENT;

class LORVATH_CAPABILITY("mutex") Mutex {
 public:
  void lock() LORVATH_ACQUIRE() { Check(pthread_mutex_lock(&mutex_), "pthread_mutex_lock"); }
  void unlock() LORVATH_RELEASE() { Check(pthread_mutex_unlock(&mutex_), "pthread_mutex_unlock"); }

 private:
  // These calls fail only on a mutex that is not initialised or not held, which this
  // file never lets happen; a failure is reported and the caller goes on.
  static void Check(int result, const char* call) noexcept {
    if (result != 0) {
      qel::osdep::OutputAssertion("result == 0", call, kFile, __LINE__);
    }
  }

  // Statically initialised: usable before any constructor has run, nothing to destroy
  // at unload.
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

class LORVATH_SCOPED_CAPABILITY MutexGuard {
 public:
  explicit MutexGuard(Mutex& mutex) LORVATH_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexGuard() noexcept LORVATH_RELEASE() { mutex_.unlock(); }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

 private:
  Mutex& mutex_;
};

// Held while the reservation count changes and while the logger is created or destroyed.
Mutex g_reservationLock;

// Created at load and never destroyed: a host may unload the library with reservations
// still held, and nothing of the logging path may run at that point.
qel::osdep::AtomicInt* const g_reservedRefCount = new qel::osdep::AtomicInt(0);

// Null from load until the first reservation and again after the last release. Changed
// only through PublishLogger and RetireLogger, under g_reservationLock.
std::atomic<Logger*> g_logger{nullptr};

// Writes that have announced themselves and may be using the logger they read.
std::atomic<int32_t> g_writesInProgress{0};

void PublishLogger(Logger* logger) LORVATH_REQUIRES(g_reservationLock) {
  g_logger.store(logger, std::memory_order_seq_cst);
}

// Clears the pointer, then waits until every write that may have read the old value has
// finished, and hands the logger back for destruction. Writes that start meanwhile find
// the pointer null and leave at once.
Logger* RetireLogger() LORVATH_REQUIRES(g_reservationLock) {
  Logger* const logger = g_logger.exchange(nullptr, std::memory_order_seq_cst);
  for (int round = 0; g_writesInProgress.load(std::memory_order_seq_cst) != 0; ++round) {
    // A write lasts as long as one syslog(3) call; one stuck on a full log socket must not
    // keep this thread spinning.
    if (round < 100) {
      sched_yield();
    } else {
      const timespec pause{0, 100000};
      nanosleep(&pause, nullptr);
    }
  }
  return logger;
}

// A write's announcement, from before it reads the logger pointer until it returns.
// The announcement comes first, so that a release that has not seen it yet cannot have
// cleared the pointer either (both are sequentially consistent).
class WriteInProgress {
 public:
  WriteInProgress() noexcept { g_writesInProgress.fetch_add(1, std::memory_order_seq_cst); }
  ~WriteInProgress() noexcept { g_writesInProgress.fetch_sub(1, std::memory_order_release); }
  WriteInProgress(const WriteInProgress&) = delete;
  WriteInProgress& operator=(const WriteInProgress&) = delete;

  Logger* logger() const noexcept { return g_logger.load(std::memory_order_seq_cst); }
};

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
    const WriteInProgress inProgress;
    Logger* const logger = inProgress.logger();
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

using vo::lorvath::g_reservationLock;
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
    vo::lorvath::MutexGuard guard(g_reservationLock);
    *reserved = 1;
    if (g_reservedRefCount->increment() == 1) {
      // Out of memory here leaves the flag set and the count raised with no logger;
      // writes report 2 until the count has fallen back to 0.
      vo::lorvath::PublishLogger(new Logger);
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
    vo::lorvath::MutexGuard guard(g_reservationLock);
    *reserved = 0;
    if (g_reservedRefCount->decrement() > 0) {
      return LORVATH_ERR_NONE;
    }
    delete vo::lorvath::RetireLogger();
    return LORVATH_ERR_NONE;
  } catch (...) {
    return vo::lorvath::TranslateCaughtException();
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
