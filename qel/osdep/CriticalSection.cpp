#include "qel/osdep/CriticalSection.h"

namespace vo::qel::osdep {

CriticalSection::CriticalSection() : cs_(new UnixCriticalSection) {}

CriticalSection::~CriticalSection() noexcept = default;

}  // namespace vo::qel::osdep
