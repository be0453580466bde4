// Argument check shared by the ranged (four-pointer) comparisons: both ranges must
// be non-null and not reversed. A failed check is reported with the file of the
// comparison that received the arguments; the offending range is then treated as
// empty so that the comparison reads nothing it was not given.
//
// Stateless; thread-safe.
#ifndef QEL_OSDEP_COMPARERANGECHECK_H_
#define QEL_OSDEP_COMPARERANGECHECK_H_

#include <cstdint>

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::osdep::detail {

template <class CharT>
void CheckCompareRange(const CharT*& begin, const CharT*& end, const char* nonNullText,
                       const char* orderText, const char* file, uint32_t line) noexcept {
  if (begin == nullptr) {
    OutputAssertion(nonNullText, "", file, line);
    end = begin;
  } else if (!(begin <= end)) {
    OutputAssertion(orderText, "", file, line);
    end = begin;
  }
}

// Reports "lhs", "lhs <= lhsEnd", "rhs" and "rhs <= rhsEnd" as they fail.
template <class CharT>
void CheckCompareRanges(const CharT*& lhs, const CharT*& lhsEnd, const CharT*& rhs,
                        const CharT*& rhsEnd, const char* file, uint32_t line) noexcept {
  CheckCompareRange(lhs, lhsEnd, "lhs", "lhs <= lhsEnd", file, line);
  CheckCompareRange(rhs, rhsEnd, "rhs", "rhs <= rhsEnd", file, line);
}

}  // namespace vo::qel::osdep::detail

#endif  // QEL_OSDEP_COMPARERANGECHECK_H_
