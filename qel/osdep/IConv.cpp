#include "qel/osdep/IConv.h"

#include <iconv.h>

#include "qel/exception/Exception.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/ScopedHandle.h"

namespace vo::qel::osdep {
namespace {

const char* const kFile = "osdep/IConv";

// Descriptors are held by a scoped handle, so that no way out of a conversion,
// exceptional or not, leaves one open. iconv_open reports failure with -1.
struct InvalidDescriptorPolicy {
  static iconv_t InvalidHandle() noexcept { return reinterpret_cast<iconv_t>(-1); }
};
struct CloseDescriptorPolicy {
  static void Release(iconv_t cd) noexcept {
    if (cd != InvalidDescriptorPolicy::InvalidHandle()) ::iconv_close(cd);
  }
};
// A descriptor has one owner: the policy offers no copy.
struct NoCopyPolicy {};

using Descriptor = ScopedHandle<iconv_t, HandleStoragePolicy<iconv_t, InvalidDescriptorPolicy>,
                                NoCopyPolicy, CloseDescriptorPolicy>;

}  // namespace

const char* GetWCharTypeCodeForIConv() noexcept { return "UTF-32LE"; }

template <class SourceT, class TargetT>
void IConv(const SourceT* begin, const SourceT* end, const char* fromCharset, TargetT* outBegin,
           TargetT*& outEnd, const char* toCharset) {
  const Descriptor cd(::iconv_open(toCharset, fromCharset));
  if (!cd.isValid()) throw AddFileAndLineInfo(exception::InvalidLocale(), kFile, __LINE__);

  // iconv's prototype takes the input as char** although it never writes to it.
  char* in = const_cast<char*>(reinterpret_cast<const char*>(begin));
  size_t inLeft = static_cast<size_t>(end - begin) * sizeof(SourceT);
  char* out = reinterpret_cast<char*>(outBegin);
  size_t outLeft = static_cast<size_t>(outEnd - outBegin) * sizeof(TargetT);

  while (inLeft != 0 && outLeft >= sizeof(TargetT)) {
    if (::iconv(cd.get(), &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) continue;
    // iconv stopped at a unit it could not convert, at an incomplete sequence, or
    // because the output is full; it has advanced over everything it did convert.
    if (inLeft == 0 || outLeft < sizeof(TargetT)) break;
    *reinterpret_cast<TargetT*>(out) = TargetT('?');
    out += sizeof(TargetT);
    outLeft -= sizeof(TargetT);
    in += sizeof(SourceT);
    inLeft -= sizeof(SourceT);
  }
  // The output filled up before the input ended: the caller gets a cut text.
  if (inLeft != 0) OutputAssertion("false", "", kFile, __LINE__);
  outEnd = reinterpret_cast<TargetT*>(out);
}

template void IConv<char, wchar_t>(const char*, const char*, const char*, wchar_t*, wchar_t*&,
                                   const char*);
template void IConv<wchar_t, char>(const wchar_t*, const wchar_t*, const char*, char*, char*&,
                                   const char*);

}  // namespace vo::qel::osdep
