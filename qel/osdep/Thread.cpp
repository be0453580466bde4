#include "qel/osdep/Thread.h"

#include <errno.h>
#include <sched.h>
#include <signal.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "qel/debug/MemoryProfiler.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/CriticalSectionRAIIHelper.h"
#include "qel/osdep/OSException.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/Process.h"
#include "qel/osdep/ThreadSetDebugName.h"

namespace vo::qel::osdep {
namespace {

constexpr char kFile[] = "osdep/Thread";

using Guard = CriticalSectionRAIIHelper<CriticalSection, true>;

void CheckResult(int result, uint32_t line) noexcept {
  if (result != 0) OutputAssertion("result == 0", "", kFile, line);
}

void CheckInitialized(bool initialized, uint32_t line) noexcept {
  if (!initialized) OutputAssertion("initialized_", "", kFile, line);
}

int32_t MakePthreadPrio(int32_t policy, int32_t priority) { return (policy << 16) | priority; }

// What start() hands to the new thread, which deletes it.
class ThreadArgs {
 public:
  ThreadArgs(Thread& thread, const char* name) : thread_(thread) {
    if (name != nullptr) {
      const size_t length = std::strlen(name);
      name_.reset(new char[length + 1]);
      std::memcpy(name_.get(), name, length + 1);
    }
  }
  Thread& thread() const { return thread_; }
  const char* name() const { return name_.get(); }

 private:
  Thread& thread_;
  std::unique_ptr<char[]> name_;
};

}  // namespace

PriorityMap detail::MakePriorityMap(int32_t policy, int32_t min, int32_t def,
                                    int32_t max) noexcept {
  if (def < min || def > max) def = (min + max) / 2;
  const auto n = [policy](int32_t priority) { return MakePthreadPrio(policy, priority); };
  const bool lowClose = def - min < 2;
  const bool highClose = max - def < 2;
  return {n(min),
          n(min),
          lowClose ? n(min) : n((min + def) / 2),
          lowClose ? n(min) : n(def - 1),
          n(def),
          highClose ? n(max) : n(def + 1),
          highClose ? n(max) : n((def + max + 1) / 2),
          n(max),
          n(max)};
}

void* thread_func(void* args) {
  std::unique_ptr<ThreadArgs> threadArgs(static_cast<ThreadArgs*>(args));
  if (threadArgs->name() != nullptr) ThreadSetDebugName(0, 0, threadArgs->name());
  Thread& thread = threadArgs->thread();
  threadArgs.reset();
  unsigned result;
  {
    // Waits until start() has returned, so thread_ is stored before the body begins.
    Guard running(thread.runLock_);
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, nullptr);  // signals go to the other threads
    result = thread.proc();
  }
  return reinterpret_cast<void*>(static_cast<uintptr_t>(result));
}

Thread::Thread() {
  debug::Memory::LogObjectCreate(this, "vo::qel::osdep::Thread");
  pthread_attr_t attributes;
  int policy = 0;
  CheckResult(pthread_attr_init(&attributes), 215);
  CheckResult(pthread_attr_getschedpolicy(&attributes, &policy), 217);
  CheckResult(pthread_attr_destroy(&attributes), 219);
  policy_ = policy;
  populatePriorityMap();
}

Thread::~Thread() noexcept {
  if (initialized_) {
    OutputAssertion("!initialized_",
                    "Classes derived from Thread must call cleanup() in their destructor", kFile,
                    228);
  }
  debug::Memory::LogObjectDestroy(this);
}

void Thread::start(const char* name, unsigned int stackSize) {
  if (initialized_) OutputAssertion("!initialized_", "", kFile, 478);
  initialized_ = true;
  Guard starting(runLock_);
  auto args = std::make_unique<ThreadArgs>(*this, name);

  pthread_attr_t attributes;
  const int initResult = pthread_attr_init(&attributes);
  CheckResult(initResult, 583);
  // Without attributes the thread gets the system's defaults.
  pthread_attr_t* const attr = initResult == 0 ? &attributes : nullptr;
  if (attr != nullptr && stackSize != 0) {
    size_t guardSize = 0;
    if (pthread_attr_getguardsize(attr, &guardSize) != 0) {
      OutputAssertion("false", "pthread_attr_getguardsize() failed", kFile, 591);
      guardSize = 0;
    } else if (guardSize > SIZE_MAX - stackSize) {
      OutputAssertion("false", "why are you specifying a stack size in the gigabytes?", kFile, 596);
      guardSize = 0;
    }
    const int result = pthread_attr_setstacksize(attr, stackSize + guardSize);
    if (result != 0) {
      pthread_attr_destroy(attr);
      throw AddFileAndLineInfo(PosixError(result), kFile, 604);
    }
  } else if (attr != nullptr && IsOSDeterministic()) {
    CheckResult(pthread_attr_setstacksize(attr, 0x40000), 617);
  }

  pthread_t created;
  const int result = pthread_create(&created, attr, thread_func, args.get());
  if (attr != nullptr) pthread_attr_destroy(attr);
  if (result != 0) throw AddFileAndLineInfo(PosixError(result), kFile, 628);
  args.release();  // the new thread owns it now
  thread_ = created;
  joined_ = false;
}

void Thread::start(unsigned int stackSize) { start(nullptr, stackSize); }

void Thread::startEx(const char* name, const char*, unsigned int stackSize) {
  start(name, stackSize);
}

void Thread::cleanup() {
  CheckInitialized(initialized_, 650);
  waitForThreadToTerminate();
  initialized_ = false;
}

void Thread::waitForThreadToTerminate() {
  CheckInitialized(initialized_, 262);
  // Before the lock: a body that joins itself while another thread joins it must not wait
  // for that join. A thread that runs has not been joined.
  if (isCurrentThread()) {
    OutputAssertion("0", "A thread is trying to kill itself.", kFile, 308);
    return;
  }
  Guard joining(joinLock_);
  if (joined_) return;
  pthread_join(thread_, nullptr);
  joined_ = true;
}

void Thread::yield() { sched_yield(); }

bool Thread::isCurrentThread() const { return pthread_equal(pthread_self(), thread_) != 0; }

void Thread::setPriority(int p) {
  CheckInitialized(initialized_, 317);
  if (p < -4 || p > 4) throw AddFileAndLineInfo(exception::InvalidArgument(), kFile, 322);
  setPriorityMapped(p + 4);
}

void Thread::setPriorityMapped(int index) {
  CheckInitialized(initialized_, 329);
  if (index < 0 || index > 8) throw AddFileAndLineInfo(exception::InvalidArgument(), kFile, 332);
  setPriorityNative(priorityMap_[static_cast<size_t>(index)]);
}

void Thread::setPriorityNative(int native) {
  CheckInitialized(initialized_, 372);
  // The thread stays in its current policy: moving it to another one (a real-time one
  // above all) is not ours to decide.
  int policy = policy_;
  sched_param param{};
  int result = joined_ ? ESRCH : pthread_getschedparam(thread_, &policy, &param);
  if (result == 0) {
    if (policy != policy_) {
      policy_ = policy;
      populatePriorityMap();
    }
    param.sched_priority = native & 0xFFFF;
    result = pthread_setschedparam(thread_, policy, &param);
  }
  if (result != 0) throw AddFileAndLineInfo(PosixError(result), kFile, 406);
}

int Thread::getPriorityNative() {
  CheckInitialized(initialized_, 415);
  int policy = policy_;
  sched_param param{};
  const int result = joined_ ? ESRCH : pthread_getschedparam(thread_, &policy, &param);
  if (result != 0) throw AddFileAndLineInfo(PosixError(result), kFile, 435);
  policy_ = policy;
  return param.sched_priority | (policy_ << 16);
}

int Thread::getPriorityMapped() {
  CheckInitialized(initialized_, 339);
  const int current = getPriorityNative() & 0xFFFF;
  for (int index = 0; index < 9; ++index) {
    if ((priorityMap_[static_cast<size_t>(index)] & 0xFFFF) >= current) return index;
  }
  return 8;
}

void Thread::populatePriorityMap() {
  const int max = sched_get_priority_max(policy_);
  const int min = sched_get_priority_min(policy_);
  pthread_attr_t attributes;
  sched_param param{};
  CheckResult(pthread_attr_init(&attributes), 732);
  CheckResult(pthread_attr_getschedparam(&attributes, &param), 735);
  CheckResult(pthread_attr_destroy(&attributes), 738);
  priorityMap_ = detail::MakePriorityMap(policy_, min, param.sched_priority, max);
}

}  // namespace vo::qel::osdep
