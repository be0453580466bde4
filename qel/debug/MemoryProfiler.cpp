#include "qel/debug/MemoryProfiler.h"

namespace vo::debug {

InitMemProfiler::InitMemProfiler(bool) noexcept {}

InitMemProfiler::~InitMemProfiler() noexcept = default;

void Memory::LogObjectCreate(void*, const char*) noexcept {}

void Memory::LogObjectDestroy(void*) noexcept {}

}  // namespace vo::debug
