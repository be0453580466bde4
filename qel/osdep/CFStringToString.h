// CFStringToString: the whole text of a string of the CoreFoundation-like layer
// (CFString.h) as a wide String, one code point per element.
//
// Stateless; any thread may convert strings it can read.
#ifndef QEL_OSDEP_CFSTRINGTOSTRING_H_
#define QEL_OSDEP_CFSTRINGTOSTRING_H_

#include "qel/StringBase.h"
#include "qel/osdep/CFString.h"

namespace vo::qel::osdep {

// Replaces `out` by all of `text` extracted in `encoding` (whose unit must be the
// size of the string kind's element) without lossy conversion. An empty `text`
// leaves `out` as it is. Instantiated for String.
template <class StringT>
void CFStringToStringImpl(CFStringRef text, unsigned int encoding, StringT& out);

extern template void CFStringToStringImpl<String>(CFStringRef, unsigned int, String&);

// The wide String holding `text`; empty for an empty or null `text`.
String CFStringToString(CFStringRef text);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CFSTRINGTOSTRING_H_
