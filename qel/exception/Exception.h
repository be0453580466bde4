// The library's exception hierarchy. Every exception carries a fixed 32-bit error
// code besides its text; the exported functions hand that code to the host as their
// result, so the codes below are part of the external interface.
//
// Exceptions are values owned by the thread that handles them.
//
// Throw sites stamp where they threw:
//   throw AddFileAndLineInfo(OutOfRange(), "SafeInteger", __LINE__);
// The file name must be text of static lifetime: it is stored, never copied.
//
// The classes whose text carries a detail (the "2" variants, AccessDenied) hold a
// string and live in exception/DetailedException.h.
#ifndef QEL_EXCEPTION_EXCEPTION_H_
#define QEL_EXCEPTION_EXCEPTION_H_

#include <cstdint>
#include <exception>

namespace vo::qel {
namespace exception {

class Exception : public std::exception {
 public:
  Exception() noexcept = default;
  Exception(const Exception&) noexcept = default;
  Exception& operator=(const Exception&) noexcept = default;
  ~Exception() override;

  const char* what() const noexcept override;
  virtual uint32_t getErrorCode() const noexcept;

  // The error code as the host sees it. The base class's code 0xFFFFFFFF means
  // nobody gave this exception a real code, which is reported as a failed check.
  int32_t getOmbrixErrorCode() const noexcept;

  void setFileName(const char* fileName) noexcept { fileName_ = fileName; }
  void setLineNumber(uint32_t lineNumber) noexcept { lineNumber_ = lineNumber; }
  const char* getFileName() const noexcept { return fileName_; }
  uint32_t getLineNumber() const noexcept { return lineNumber_; }

 private:
  uint32_t lineNumber_ = 0;
  const char* fileName_ = nullptr;
};

// Declares an exception class with a fixed code and text and no state of its own.
#define QEL_DECLARE_EXCEPTION(Name)                  \
  class Name : public Exception {                    \
   public:                                           \
    const char* what() const noexcept override;      \
    uint32_t getErrorCode() const noexcept override; \
  }

QEL_DECLARE_EXCEPTION(InvalidArgument);
QEL_DECLARE_EXCEPTION(OutOfRange);
QEL_DECLARE_EXCEPTION(BoundExceeded);
QEL_DECLARE_EXCEPTION(ObjectAlreadyExists);
QEL_DECLARE_EXCEPTION(NonexistentException);
QEL_DECLARE_EXCEPTION(FileWriteFailed);
QEL_DECLARE_EXCEPTION(FileReadFailed);
QEL_DECLARE_EXCEPTION(DeserializationError);
QEL_DECLARE_EXCEPTION(BufferOverflow);
QEL_DECLARE_EXCEPTION(FileAlreadyExists);
QEL_DECLARE_EXCEPTION(InvalidLocale);
QEL_DECLARE_EXCEPTION(InvalidSequence);

#undef QEL_DECLARE_EXCEPTION

}  // namespace exception

// Stores where an exception is thrown from and hands it back for the throw.
template <class E>
E AddFileAndLineInfo(E e, const char* fileName, uint32_t lineNumber) noexcept {
  e.setFileName(fileName);
  e.setLineNumber(lineNumber);
  return e;
}

}  // namespace vo::qel

#endif  // QEL_EXCEPTION_EXCEPTION_H_
