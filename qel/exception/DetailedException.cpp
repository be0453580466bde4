#include "qel/exception/DetailedException.h"

#include <cstring>

namespace vo {
namespace qel {
namespace exception {

template <class Base>
WithDetail<Base>::WithDetail(const ANSIString& detail) : message_(Base().what()) {
  message_.append(": ", 2);
  message_.append(detail.c_str(), detail.length());
}

template class WithDetail<InvalidArgument>;
template class WithDetail<OutOfRange>;
template class WithDetail<BoundExceeded>;

}  // namespace exception
}  // namespace qel
}  // namespace vo
