#include "qel/osdep/Event.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>

#include "qel/osdep/ThreadAnnotations.h"

namespace vo::qel::osdep {

struct EventData {
  EventData(bool manualReset, bool initialState) noexcept
      : manualReset_(manualReset), signaled_(initialState) {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&cond_, &attributes);
    pthread_condattr_destroy(&attributes);
  }
  ~EventData() noexcept {
    // A waiter may return, and destroy the event, between a set's unlock and its signal.
    while (setting_.load(std::memory_order_acquire) != 0) sched_yield();
    pthread_cond_destroy(&cond_);
  }

  // Clears the state after a read, if the event resets automatically.
  bool take() QEL_REQUIRES(mutex_) {
    const bool r = signaled_;
    if (!manualReset_) signaled_ = false;
    return r;
  }

  pthread_cond_t cond_;
  Mutex mutex_;
  const bool manualReset_;
  bool signaled_ QEL_GUARDED_BY(mutex_);
  // Sets that have released the mutex and not yet signalled. Raised under the mutex, so
  // whoever returns from a wait or a check and then destroys the event sees it.
  std::atomic<int> setting_{0};
};

namespace {

// The monotonic time `ms` milliseconds from now.
timespec TimeoutToTimespec(unsigned int ms) noexcept {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long sum = now.tv_nsec + static_cast<long>(ms % 1000) * 1000000;
  timespec out;
  out.tv_sec = now.tv_sec + ms / 1000 + sum / 1000000000;
  out.tv_nsec = sum % 1000000000;
  return out;
}

}  // namespace

Event::Event(bool manualReset, bool initialState)
    : data_(new EventData(manualReset, initialState)) {}

Event::~Event() noexcept = default;

// Signals after unlocking, so that the woken thread does not wake only to wait for the
// mutex that the setter still holds.
void Event::set() const noexcept {
  {
    MutexGuard lock(data_->mutex_);
    data_->signaled_ = true;
    data_->setting_.fetch_add(1, std::memory_order_relaxed);
  }
  if (data_->manualReset_) {
    pthread_cond_broadcast(&data_->cond_);
  } else {
    pthread_cond_signal(&data_->cond_);
  }
  data_->setting_.fetch_sub(1, std::memory_order_release);  // the last touch of the event
}

void Event::reset() const noexcept {
  MutexGuard lock(data_->mutex_);
  data_->signaled_ = false;
}

void Event::resetIfAuto() noexcept {
  MutexGuard lock(data_->mutex_);
  if (!data_->manualReset_) data_->signaled_ = false;
}

bool Event::check() const noexcept {
  MutexGuard lock(data_->mutex_);
  return data_->take();
}

bool Event::checkOnly() const noexcept {
  MutexGuard lock(data_->mutex_);
  return data_->signaled_;
}

void Event::wait() const noexcept {
  MutexGuard lock(data_->mutex_);
  while (!data_->signaled_) pthread_cond_wait(&data_->cond_, data_->mutex_.native());
  data_->take();
}

bool Event::wait(unsigned int milliseconds) const noexcept {
  if (milliseconds == 0) return check();
  if (milliseconds == kInfinite) {
    wait();
    return true;
  }
  const timespec deadline = TimeoutToTimespec(milliseconds);
  MutexGuard lock(data_->mutex_);
  // Any result but 0 (ETIMEDOUT) ends the wait: the state decides.
  int result = 0;
  while (!data_->signaled_ && result == 0) {
    result = pthread_cond_timedwait(&data_->cond_, data_->mutex_.native(), &deadline);
  }
  return data_->take();
}

}  // namespace vo::qel::osdep
