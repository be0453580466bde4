#include "qel/osdep/CharacterAttributes.h"

#include <exception>

#include "qel/exception/DetailedException.h"

namespace vo::qel::osdep {
namespace {

std::locale MakeLocale(const char* name) {
  try {
    return std::locale(name);
  } catch (const std::exception& e) {
    throw AddFileAndLineInfo(exception::InvalidArgument2(e.what()), "osdep/CharacterAttributes",
                             __LINE__);
  }
}

// Builds the default locale while the library is loaded, before any thread of the
// host can ask for it.
const std::locale& gDefaultLocaleAtStartup = GetDefaultLocale();

}  // namespace

const std::locale& GetDefaultLocale() {
  static const std::locale locale("C");
  return locale;
}

template <class CharT>
CharacterAttributes<CharT>::CharacterAttributes()
    : locale_(GetDefaultLocale()), ctype_(&std::use_facet<std::ctype<CharT>>(locale_)) {}

template <class CharT>
CharacterAttributes<CharT>::CharacterAttributes(const char* localeName)
    : locale_(MakeLocale(localeName)), ctype_(&std::use_facet<std::ctype<CharT>>(locale_)) {}

template class CharacterAttributes<char>;
template class CharacterAttributes<wchar_t>;

}  // namespace vo::qel::osdep
