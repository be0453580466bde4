#include "qel/osdep/UnixCriticalSection.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/Process.h"

namespace vo::qel::osdep {

// Owner and count are written only by the thread that holds `mutex_`, but inOwningThread
// and a misplaced leave read them from any thread, hence relaxed atomics.
struct UnixCriticalSectionData {
  UnixCriticalSectionData() noexcept;
  ~UnixCriticalSectionData() noexcept;

  std::atomic<pthread_t> owner_{0};  // 0: nobody; never equal to a live thread
  pthread_mutex_t mutex_;
  std::atomic<int32_t> refs_{0};
};

namespace {

constexpr char kFile[] = "osdep/UnixCriticalSection";
constexpr uint32_t kAttrInitLine = 40;
constexpr uint32_t kSetProtocolLine = 47;
constexpr uint32_t kSetTypeLine = 52;
constexpr uint32_t kMutexInitLine = 55;
constexpr uint32_t kAttrDestroyLine = 58;
constexpr uint32_t kMutexDestroyLine = 65;
constexpr uint32_t kLeaveUnenteredLine = 91;
constexpr uint32_t kNegativeRefsLine = 97;
constexpr uint32_t kLeaveNotOwnerLine = 103;

void CheckSetUp(int result, uint32_t line) noexcept {
  if (result != 0) OutputAssertion("result==0", "", kFile, line);
}

}  // namespace

UnixCriticalSectionData::UnixCriticalSectionData() noexcept {
  pthread_mutexattr_t attributes;
  CheckSetUp(pthread_mutexattr_init(&attributes), kAttrInitLine);
  if (IsOSDeterministic()) {
    CheckSetUp(pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT), kSetProtocolLine);
  }
  CheckSetUp(pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE), kSetTypeLine);
  CheckSetUp(pthread_mutex_init(&mutex_, &attributes), kMutexInitLine);
  CheckSetUp(pthread_mutexattr_destroy(&attributes), kAttrDestroyLine);
}

UnixCriticalSectionData::~UnixCriticalSectionData() noexcept {
  if (pthread_mutex_destroy(&mutex_) != 0) {
    OutputAssertion("0 == result",
                    "Error trying to destroy the UnixCriticalSection mutex. Most likely it either "
                    "didn't initialize successfully or it's still locked. Check for orphaned "
                    "synchronization object files in /tmp.",
                    kFile, kMutexDestroyLine);
  }
}

UnixCriticalSection::UnixCriticalSection() : cs_(new UnixCriticalSectionData) {}

UnixCriticalSection::~UnixCriticalSection() noexcept = default;

void UnixCriticalSection::enter() const noexcept {
  pthread_mutex_lock(&cs_->mutex_);
  cs_->owner_.store(pthread_self(), std::memory_order_relaxed);
  cs_->refs_.fetch_add(1, std::memory_order_relaxed);
}

bool UnixCriticalSection::tryEnter() const noexcept {
  // EBUSY: another thread holds it. Any other failure (EAGAIN when the nesting count is
  // exhausted) has not taken the lock either.
  if (pthread_mutex_trylock(&cs_->mutex_) != 0) return false;
  cs_->owner_.store(pthread_self(), std::memory_order_relaxed);
  cs_->refs_.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void UnixCriticalSection::leave() const noexcept {
  if (cs_->refs_.load(std::memory_order_relaxed) < 1) {
    OutputAssertion("CS(cs_)->refs_ > 0",
                    "Calling CriticalSection::leave() without calling CriticalSection::enter() "
                    "first.",
                    kFile, kLeaveUnenteredLine);
  }
  if (!inOwningThread()) {
    OutputAssertion("false",
                    "Attempting to leave critical section from a thread different than the "
                    "owner.",
                    kFile, kLeaveNotOwnerLine);
    return;
  }
  int32_t refs = cs_->refs_.load(std::memory_order_relaxed);
  if (refs > 0) cs_->refs_.store(--refs, std::memory_order_relaxed);
  if (refs < 0) OutputAssertion("CS(cs_)->refs_ >= 0", "", kFile, kNegativeRefsLine);
  if (refs == 0) cs_->owner_.store(0, std::memory_order_relaxed);
  pthread_mutex_unlock(&cs_->mutex_);
}

bool UnixCriticalSection::inOwningThread() const noexcept {
  return pthread_equal(cs_->owner_.load(std::memory_order_relaxed), pthread_self()) != 0;
}

}  // namespace vo::qel::osdep
