// CharacterAttributes: classification and case mapping of single characters by the
// std::ctype facet of one locale. A default-constructed object uses the library's
// default locale, "C", which is built once during static initialisation; the
// process locale of the C character functions plays no part.
//
// An object may be read from several threads at once; the default locale is only
// read after start-up.
//
// 1. For char, a byte outside 0-127 belongs to no class in any locale: every is...
//    member returns false for it. Case mapping applies to all bytes.
// 2. Instantiated for char and wchar_t only.
#ifndef QEL_OSDEP_CHARACTERATTRIBUTES_H_
#define QEL_OSDEP_CHARACTERATTRIBUTES_H_

#include <locale>

#include "qel/Noncopyable.h"

namespace vo::qel::osdep {

// The "C" locale every default CharacterAttributes copies; made on first use, which
// the library's static initialisation forces, and released at exit.
const std::locale& GetDefaultLocale();

template <class CharT>
class CharacterAttributes : private Noncopyable {
 public:
  CharacterAttributes();
  // Throws InvalidArgument2, with the standard library's text, when the system does
  // not know `localeName`.
  explicit CharacterAttributes(const char* localeName);

  bool isAlnum(CharT c) const { return is(std::ctype_base::alnum, c); }
  bool isAlpha(CharT c) const { return is(std::ctype_base::alpha, c); }
  bool isCntrl(CharT c) const { return is(std::ctype_base::cntrl, c); }
  bool isDigit(CharT c) const { return is(std::ctype_base::digit, c); }
  bool isGraph(CharT c) const { return is(std::ctype_base::graph, c); }
  bool isLower(CharT c) const { return is(std::ctype_base::lower, c); }
  bool isPrint(CharT c) const { return is(std::ctype_base::print, c); }
  bool isPunct(CharT c) const { return is(std::ctype_base::punct, c); }
  bool isSpace(CharT c) const { return is(std::ctype_base::space, c); }
  bool isUpper(CharT c) const { return is(std::ctype_base::upper, c); }
  bool isXDigit(CharT c) const { return is(std::ctype_base::xdigit, c); }

  CharT toLower(CharT c) const { return ctype_->tolower(c); }
  CharT toUpper(CharT c) const { return ctype_->toupper(c); }

 private:
  bool is(std::ctype_base::mask mask, CharT c) const;

  const std::locale locale_;
  const std::ctype<CharT>* const ctype_;  // owned by locale_
};

template <>
inline bool CharacterAttributes<char>::is(std::ctype_base::mask mask, char c) const {
  return static_cast<unsigned char>(c) < 0x80 && ctype_->is(mask, c);
}

template <>
inline bool CharacterAttributes<wchar_t>::is(std::ctype_base::mask mask, wchar_t c) const {
  return ctype_->is(mask, c);
}

extern template class CharacterAttributes<char>;
extern template class CharacterAttributes<wchar_t>;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CHARACTERATTRIBUTES_H_
