#include "qel/osdep/CFStringToString.h"

#include "qel/NumericCast.h"
#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::osdep {

template <class StringT>
void CFStringToStringImpl(CFStringRef text, unsigned int encoding, StringT& out) {
  using CharT = typename StringT::value_type;
  const char* const kFile = "osdep/CFStringToStringImpl";
  const CFIndex length = CFStringGetLength(text);
  if (length <= 0) return;

  // Lossless: loss byte 0 stops at anything the encoding cannot hold.
  const CFRange all = CFRangeMake(0, length);
  CFIndex required = 0;
  CFStringGetBytes(text, all, encoding, 0, false, nullptr, 0, &required);
  if (required == 0) return;
  if (required % CFIndex(sizeof(CharT)) != 0) {
    OutputAssertion("required % sizeof(CharT) == 0",
                    "calculated buffer size is a fractional number of characters", kFile, __LINE__);
    return;
  }

  const unsigned int count =
      NumericCast<unsigned int>(static_cast<unsigned long>(required) / sizeof(CharT));
  StringT converted(count, CharT(0));
  CFIndex used = 0;
  const CFIndex done = CFStringGetBytes(
      text, all, encoding, 0, false, reinterpret_cast<UInt8*>(converted.begin()), required, &used);
  if (done != length) {
    OutputAssertion("done == length", "failed to convert full CFString", kFile, __LINE__);
  }
  if (used != required) {
    OutputAssertion("used == required", "calculated size was incorrect", kFile, __LINE__);
  }
  out.swap(converted);
}

template void CFStringToStringImpl<String>(CFStringRef, unsigned int, String&);

String CFStringToString(CFStringRef text) {
  String out;
  CFStringToStringImpl(text, GetCFStringWcharEncoding(), out);
  return out;
}

}  // namespace vo::qel::osdep
