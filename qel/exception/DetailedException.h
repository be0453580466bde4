// Exceptions whose text carries a detail: the "2" variants append ": " and a detail
// to their base's fixed text and keep the base's error code, so a handler for the
// base catches them too; AccessDenied names the path it was refused.
//
// Values owned by the thread that handles them.
#ifndef QEL_EXCEPTION_DETAILEDEXCEPTION_H_
#define QEL_EXCEPTION_DETAILEDEXCEPTION_H_

#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace vo::qel::exception {

template <class Base>
class WithDetail : public Base {
 public:
  // what() is the base's text, ": ", then `detail`.
  explicit WithDetail(const ANSIString& detail);
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  ANSIString message_;
};

extern template class WithDetail<InvalidArgument>;
extern template class WithDetail<OutOfRange>;
extern template class WithDetail<BoundExceeded>;

class InvalidArgument2 : public WithDetail<InvalidArgument> {
 public:
  using WithDetail::WithDetail;
};

class OutOfRange2 : public WithDetail<OutOfRange> {
 public:
  using WithDetail::WithDetail;
};

class BoundExceeded2 : public WithDetail<BoundExceeded> {
 public:
  using WithDetail::WithDetail;
};

// A file-system call refused for `path`; what() is "Access denied: " and the path in
// the system's encoding.
class AccessDenied : public Exception {
 public:
  explicit AccessDenied(const String& path);
  const char* what() const noexcept override { return message_.c_str(); }
  uint32_t getErrorCode() const noexcept override;

 private:
  ANSIString message_;
};

}  // namespace vo::qel::exception

#endif  // QEL_EXCEPTION_DETAILEDEXCEPTION_H_
