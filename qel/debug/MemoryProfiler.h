// Entry points of the memory profiler and of object tracking. A profiling build records
// allocations and the lifetimes of tracked objects through them; on this platform they
// do nothing.
//
// Thread-safe: the hooks may be called from any thread.
#ifndef QEL_DEBUG_MEMORYPROFILER_H_
#define QEL_DEBUG_MEMORYPROFILER_H_

namespace vo::debug {

// Profiles memory for as long as the object lives.
class InitMemProfiler {
 public:
  explicit InitMemProfiler(bool enable) noexcept;
  ~InitMemProfiler() noexcept;
  InitMemProfiler(const InitMemProfiler&) = delete;
  InitMemProfiler& operator=(const InitMemProfiler&) = delete;
};

class Memory {
 public:
  // `object` of the type named `typeName` (text of static lifetime) begins to live.
  static void LogObjectCreate(void* object, const char* typeName) noexcept;
  // `object`, announced by LogObjectCreate, ends.
  static void LogObjectDestroy(void* object) noexcept;
};

}  // namespace vo::debug

#endif  // QEL_DEBUG_MEMORYPROFILER_H_
