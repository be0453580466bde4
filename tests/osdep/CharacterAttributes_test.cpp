// Character classes and case mapping through a locale's ctype facet.
#include "qel/osdep/CharacterAttributes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "qel/exception/DetailedException.h"
#include "tests/support/TestLocales.h"

namespace vo::qel::osdep {
namespace {

// Every class member of the default objects against the C library's classification
// of the same byte in the "C" locale, which knows ASCII only: catches a member wired
// to the wrong class, and a high byte or Latin-1 element that gets a class or a case.
TEST(CharacterAttributesTest, DefaultObjectsMatchTheCLocale) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  const CharacterAttributes<char> narrow;
  const CharacterAttributes<wchar_t> wide;
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const bool ascii = b < 0x80;
    const char c = static_cast<char>(b);
    const wchar_t w = static_cast<wchar_t>(b);
#define EXPECT_CLASS(member, function)                    \
  EXPECT_EQ(function(b) != 0 && ascii, narrow.member(c)); \
  EXPECT_EQ(function(b) != 0 && ascii, wide.member(w))
    EXPECT_CLASS(isAlnum, std::isalnum);
    EXPECT_CLASS(isAlpha, std::isalpha);
    EXPECT_CLASS(isCntrl, std::iscntrl);
    EXPECT_CLASS(isDigit, std::isdigit);
    EXPECT_CLASS(isGraph, std::isgraph);
    EXPECT_CLASS(isLower, std::islower);
    EXPECT_CLASS(isPrint, std::isprint);
    EXPECT_CLASS(isPunct, std::ispunct);
    EXPECT_CLASS(isSpace, std::isspace);
    EXPECT_CLASS(isUpper, std::isupper);
    EXPECT_CLASS(isXDigit, std::isxdigit);
#undef EXPECT_CLASS
    const int upper = b >= 'a' && b <= 'z' ? b - 32 : b;
    const int lower = b >= 'A' && b <= 'Z' ? b + 32 : b;
    EXPECT_EQ(static_cast<char>(upper), narrow.toUpper(c));
    EXPECT_EQ(static_cast<char>(lower), narrow.toLower(c));
    EXPECT_EQ(upper, wide.toUpper(w));
    EXPECT_EQ(lower, wide.toLower(w));
  }
  EXPECT_EQ(0x3B1, wide.toUpper(0x3B1));
  EXPECT_EQ("C", GetDefaultLocale().name());
  EXPECT_EQ(&GetDefaultLocale(), &GetDefaultLocale());
}

// A named locale brings its own classes and case mapping, except that narrow bytes
// outside ASCII are in no class (but are case-mapped).
TEST(CharacterAttributesTest, NamedLocales) {
  std::string why;
  if (!testing::EnsureLocale("de_DE.ISO-8859-1", "de_DE", "ISO-8859-1", &why)) {
    GTEST_SKIP() << why;
  }
  const char* const kLatin1 = "de_DE.ISO-8859-1";
  const struct {
    const char* name;
    const char* locale;
    bool narrow;
    wchar_t c;
    bool alpha, lower;
    wchar_t toUpper, toLower;
  } rows[] = {
      {"latin1_narrow_ascii", kLatin1, true, L'a', true, true, L'A', L'a'},
      {"latin1_narrow_high_byte", kLatin1, true, 0xE9, false, false, 0xC9, 0xE9},
      {"latin1_narrow_high_upper", kLatin1, true, 0xC9, false, false, 0xC9, 0xE9},
      {"latin1_wide", kLatin1, false, 0xE9, true, true, 0xC9, 0xE9},
      {"utf8_wide_greek", "C.UTF-8", false, 0x3B1, true, true, 0x391, 0x3B1},
      {"utf8_wide_cjk", "C.UTF-8", false, 0x65E5, true, false, 0x65E5, 0x65E5},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto check = [&r](const auto& attributes, auto c) {
      using C = decltype(c);
      EXPECT_EQ(r.alpha, attributes.isAlpha(c));
      EXPECT_EQ(r.lower, attributes.isLower(c));
      EXPECT_EQ(C(r.toUpper), attributes.toUpper(c));
      EXPECT_EQ(C(r.toLower), attributes.toLower(c));
    };
    if (r.narrow) {
      check(CharacterAttributes<char>(r.locale), static_cast<char>(r.c));
    } else {
      check(CharacterAttributes<wchar_t>(r.locale), r.c);
    }
  }
}

TEST(CharacterAttributesTest, UnknownLocaleNameThrowsInvalidArgument2) {
  for (const char* name : {"xx_NOWHERE.UTF-8", static_cast<const char*>(nullptr)}) {
    try {
      CharacterAttributes<char> attributes(name);
      ADD_FAILURE() << "no exception";
    } catch (const exception::InvalidArgument2& e) {
      // The standard library's reason follows the fixed text.
      EXPECT_GT(std::string(e.what()).size(), std::string("Invalid argument(s): ").size())
          << e.what();
      EXPECT_STREQ("osdep/CharacterAttributes", e.getFileName());
    }
  }
  EXPECT_THROW(CharacterAttributes<wchar_t>("xx_NOWHERE"), exception::InvalidArgument);
}

}  // namespace
}  // namespace vo::qel::osdep
