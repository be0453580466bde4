#include "qel/osdep/CriticalSection.h"

namespace vo::qel::osdep {

CriticalSection::CriticalSection() = default;

CriticalSection::~CriticalSection() noexcept = default;

}  // namespace vo::qel::osdep
