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

// Every member against the C library's functions in the same real locale: all narrow
// bytes (outside ASCII in no class, but case-mapped) and the wide characters through
// Latin-1, Greek and CJK. Catches a member wired to the wrong class or direction, and
// a high byte that gets a class.
void ExpectAgreement(const CharacterAttributes<char>& narrow,
                     const CharacterAttributes<wchar_t>& wide, locale_t l) {
  for (int c = 0; c < 0x10000; c += c < 0x400 ? 1 : 0x3B) {
    const char n = static_cast<char>(c);
    const wchar_t w = static_cast<wchar_t>(c);
#define EXPECT_CLASS(member, name)                                         \
  if (c < 0x100) {                                                         \
    EXPECT_EQ(c < 0x80 && is##name##_l(c, l) != 0, narrow.member(n)) << c; \
  }                                                                        \
  EXPECT_EQ(isw##name##_l(w, l) != 0, wide.member(w)) << c
    EXPECT_CLASS(isAlnum, alnum);
    EXPECT_CLASS(isAlpha, alpha);
    EXPECT_CLASS(isCntrl, cntrl);
    EXPECT_CLASS(isDigit, digit);
    EXPECT_CLASS(isGraph, graph);
    EXPECT_CLASS(isLower, lower);
    EXPECT_CLASS(isPrint, print);
    EXPECT_CLASS(isPunct, punct);
    EXPECT_CLASS(isSpace, space);
    EXPECT_CLASS(isUpper, upper);
    EXPECT_CLASS(isXDigit, xdigit);
#undef EXPECT_CLASS
    if (c < 0x100) {
      EXPECT_EQ(static_cast<char>(toupper_l(c, l)), narrow.toUpper(n)) << c;
      EXPECT_EQ(static_cast<char>(tolower_l(c, l)), narrow.toLower(n)) << c;
    }
    EXPECT_EQ(static_cast<wchar_t>(towupper_l(w, l)), wide.toUpper(w)) << c;
    EXPECT_EQ(static_cast<wchar_t>(towlower_l(w, l)), wide.toLower(w)) << c;
  }
}

TEST(CharacterAttributesTest, AgreeWithTheCLibraryInRealLocales) {
  EXPECT_EQ("C", GetDefaultLocale().name());
  for (const char* name : {"C", "de_DE.ISO-8859-1", "C.UTF-8"}) {
    SCOPED_TRACE(name);
    const std::string why = testing::EnsureLocale(name);
    if (!why.empty()) GTEST_SKIP() << why;
    const bool byDefault = std::string(name) == "C";  // the default objects are "C"
    const locale_t l = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    ExpectAgreement(byDefault ? CharacterAttributes<char>() : CharacterAttributes<char>(name),
                    byDefault ? CharacterAttributes<wchar_t>() : CharacterAttributes<wchar_t>(name),
                    l);
    ::freelocale(l);
  }
}

TEST(CharacterAttributesTest, UnknownLocaleNameThrowsInvalidArgument2) {
  using ::testing::Property;
  EXPECT_THAT([] { CharacterAttributes<wchar_t>("xx_NOWHERE.UTF-8"); },
              ::testing::Throws<exception::InvalidArgument2>(::testing::AllOf(
                  Property(&exception::Exception::getFileName,
                           ::testing::StrEq("osdep/CharacterAttributes")),
                  // The standard library's reason follows the fixed text.
                  Property(&std::exception::what,
                           ::testing::MatchesRegex("Invalid argument\\(s\\): .+")))));
}

}  // namespace
}  // namespace vo::qel::osdep
