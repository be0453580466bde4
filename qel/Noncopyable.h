// Noncopyable: an empty base that makes its derived classes neither copyable nor
// assignable. Used by classes that own an operating-system object or a process-wide
// role (the logger, locks, threads).
#ifndef QEL_NONCOPYABLE_H_
#define QEL_NONCOPYABLE_H_

namespace vo::qel {

class Noncopyable {
 protected:
  Noncopyable() = default;
  ~Noncopyable() = default;

 public:
  Noncopyable(const Noncopyable&) = delete;
  Noncopyable& operator=(const Noncopyable&) = delete;
};

}  // namespace vo::qel

#endif  // QEL_NONCOPYABLE_H_
