#include "qel/exception/DetailedException.h"

namespace vo::qel::exception {

template <class Base>
WithDetail<Base>::WithDetail(const ANSIString& detail) : message_(Base().what()) {
  message_.append(": ", 2);
  message_.append(detail.c_str(), detail.length());
}

template class WithDetail<InvalidArgument>;
template class WithDetail<OutOfRange>;
template class WithDetail<BoundExceeded>;

AccessDenied::AccessDenied(const String& path) : message_("Access denied: ") {
  message_ += ANSIString(path);
}

uint32_t AccessDenied::getErrorCode() const noexcept { return 0x8ABC7019; }

}  // namespace vo::qel::exception
