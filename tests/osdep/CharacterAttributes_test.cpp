// Character classes and case mapping through a locale's ctype facet.
#include "qel/osdep/CharacterAttributes.h"

#include <ctype.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <string>

#include "qel/exception/DetailedException.h"
#include "tests/support/TestLocales.h"

namespace vo::qel::osdep {
namespace {

using N = CharacterAttributes<char>;
using W = CharacterAttributes<wchar_t>;

// Each member next to the C library's function of the same class.
#define CLASS(Name, name) \
  { &N::is##Name, &W::is##Name, is##name##_l, isw##name##_l }
const struct {
  bool (N::*narrow)(char) const;
  bool (W::*wide)(wchar_t) const;
  int (*c)(int, locale_t);
  int (*w)(wint_t, locale_t);
} kClasses[] = {CLASS(Alnum, alnum), CLASS(Alpha, alpha), CLASS(Cntrl, cntrl),  CLASS(Digit, digit),
                CLASS(Graph, graph), CLASS(Lower, lower), CLASS(Print, print),  CLASS(Punct, punct),
                CLASS(Space, space), CLASS(Upper, upper), CLASS(XDigit, xdigit)};
#undef CLASS

// Every member against the C library in the same real locale: all narrow bytes (outside
// ASCII in no class, but case-mapped) and wide characters through Latin-1, Greek and CJK.
TEST(CharacterAttributesTest, AgreeWithTheCLibraryInRealLocales) {
  EXPECT_EQ("C", GetDefaultLocale().name());
  for (const char* name : {"C", "de_DE.ISO-8859-1", "C.UTF-8"}) {
    SCOPED_TRACE(name);
    const std::string why = testing::MissingLocale(name);
    if (!why.empty()) GTEST_SKIP() << why;
    const bool byDefault = std::string(name) == "C";  // the default objects are "C"
    const N narrow = byDefault ? N() : N(name);
    const W wide = byDefault ? W() : W(name);
    const locale_t l = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    for (int c = 0; c < 0x10000; c += c < 0x400 ? 1 : 0x3B) {
      const char n = static_cast<char>(c);
      for (const auto& k : kClasses) {
        if (c < 0x100) {
          EXPECT_EQ(c < 0x80 && k.c(c, l) != 0, (narrow.*k.narrow)(n)) << c;
        }
        EXPECT_EQ(k.w(wint_t(c), l) != 0, (wide.*k.wide)(wchar_t(c))) << c;
      }
      if (c < 0x100) {
        EXPECT_EQ(static_cast<char>(toupper_l(c, l)), narrow.toUpper(n)) << c;
        EXPECT_EQ(static_cast<char>(tolower_l(c, l)), narrow.toLower(n)) << c;
      }
      EXPECT_EQ(wchar_t(towupper_l(wint_t(c), l)), wide.toUpper(wchar_t(c))) << c;
      EXPECT_EQ(wchar_t(towlower_l(wint_t(c), l)), wide.toLower(wchar_t(c))) << c;
    }
    ::freelocale(l);
  }
}

TEST(CharacterAttributesTest, UnknownLocaleNameThrowsInvalidArgument2) {
  using E = exception::InvalidArgument2;
  using namespace ::testing;
  // The standard library's reason follows the fixed text.
  EXPECT_THAT([] { W("xx_NOWHERE.UTF-8"); },
              Throws<E>(AllOf(Property(&E::getFileName, StrEq("osdep/CharacterAttributes")),
                              Property(&E::what, MatchesRegex("Invalid argument\\(s\\): .+")))));
}

}  // namespace
}  // namespace vo::qel::osdep
