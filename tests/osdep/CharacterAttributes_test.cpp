// Character classes and case mapping through a locale's ctype facet.
#include "qel/osdep/CharacterAttributes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <type_traits>

#include "qel/exception/DetailedException.h"
#include "tests/support/TestLocales.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

static_assert(!std::is_copy_constructible<CharacterAttributes<char>>::value, "not copyable");
static_assert(!std::is_copy_assignable<CharacterAttributes<wchar_t>>::value, "not assignable");

// Every class member of a default object against the C library's classification of
// the same byte in the "C" locale: catches a member wired to the wrong class.
TEST(CharacterAttributesTest, DefaultNarrowMatchesTheCLocaleAndIgnoresHighBytes) {
  ASSERT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  const CharacterAttributes<char> attributes;
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const char c = static_cast<char>(b);
    const bool ascii = b < 0x80;
    EXPECT_EQ(ascii && std::isalnum(b), attributes.isAlnum(c));
    EXPECT_EQ(ascii && std::isalpha(b), attributes.isAlpha(c));
    EXPECT_EQ(ascii && std::iscntrl(b), attributes.isCntrl(c));
    EXPECT_EQ(ascii && std::isdigit(b), attributes.isDigit(c));
    EXPECT_EQ(ascii && std::isgraph(b), attributes.isGraph(c));
    EXPECT_EQ(ascii && std::islower(b), attributes.isLower(c));
    EXPECT_EQ(ascii && std::isprint(b), attributes.isPrint(c));
    EXPECT_EQ(ascii && std::ispunct(b), attributes.isPunct(c));
    EXPECT_EQ(ascii && std::isspace(b), attributes.isSpace(c));
    EXPECT_EQ(ascii && std::isupper(b), attributes.isUpper(c));
    EXPECT_EQ(ascii && std::isxdigit(b), attributes.isXDigit(c));
    const bool lower = b >= 'a' && b <= 'z';
    const bool upper = b >= 'A' && b <= 'Z';
    EXPECT_EQ(static_cast<char>(lower ? b - 32 : b), attributes.toUpper(c));
    EXPECT_EQ(static_cast<char>(upper ? b + 32 : b), attributes.toLower(c));
  }
}

TEST(CharacterAttributesTest, DefaultWideFoldsOnlyAsciiLetters) {
  const CharacterAttributes<wchar_t> attributes;
  EXPECT_EQ(L'A', attributes.toUpper(L'a'));
  EXPECT_EQ(L'z', attributes.toLower(L'Z'));
  EXPECT_EQ(L'\u00E9', attributes.toUpper(L'\u00E9'));
  EXPECT_EQ(L'\u03B1', attributes.toUpper(L'\u03B1'));
  EXPECT_TRUE(attributes.isAlpha(L'q'));
  EXPECT_TRUE(attributes.isXDigit(L'F'));
  EXPECT_FALSE(attributes.isXDigit(L'g'));
  EXPECT_TRUE(attributes.isSpace(L'\t'));
  EXPECT_TRUE(attributes.isCntrl(L'\x7F'));
  EXPECT_TRUE(attributes.isPunct(L'~'));
  EXPECT_FALSE(attributes.isAlpha(L'\u00E9'));
  EXPECT_EQ("C", GetDefaultLocale().name());
  EXPECT_EQ(&GetDefaultLocale(), &GetDefaultLocale());
}

TEST(CharacterAttributesTest, NamedLocales) {
  std::string why;
  if (!testing::EnsureLocale("de_DE.ISO-8859-1", "de_DE", "ISO-8859-1", &why)) {
    GTEST_SKIP() << why;
  }
  {
    const CharacterAttributes<char> latin1("de_DE.ISO-8859-1");
    EXPECT_FALSE(latin1.isAlpha('\xE9'));  // high bytes are in no class
    EXPECT_FALSE(latin1.isLower('\xE9'));
    EXPECT_EQ('\xC9', latin1.toUpper('\xE9'));  // but they are case-mapped
    EXPECT_EQ('\xE9', latin1.toLower('\xC9'));
    EXPECT_TRUE(latin1.isAlpha('a'));
  }
  {
    const CharacterAttributes<wchar_t> latin1("de_DE.ISO-8859-1");
    EXPECT_TRUE(latin1.isAlpha(L'\u00E9'));
    EXPECT_TRUE(latin1.isLower(L'\u00E9'));
    EXPECT_EQ(L'\u00C9', latin1.toUpper(L'\u00E9'));
  }
  {
    const CharacterAttributes<wchar_t> utf8("C.UTF-8");
    EXPECT_EQ(L'\u0391', utf8.toUpper(L'\u03B1'));
    EXPECT_TRUE(utf8.isAlpha(L'\u65E5'));
  }
}

TEST(CharacterAttributesTest, UnknownLocaleNameThrowsInvalidArgument2) {
  for (const char* name : {"xx_NOWHERE.UTF-8", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(name != nullptr ? name : "null");
    try {
      CharacterAttributes<char> attributes(name);
      ADD_FAILURE() << "no exception";
    } catch (const exception::InvalidArgument2& e) {
      EXPECT_EQ(0x8ABC700Fu, e.getErrorCode());
      EXPECT_EQ(0, std::string(e.what()).rfind("Invalid argument(s): ", 0)) << e.what();
      EXPECT_GT(std::string(e.what()).size(), std::string("Invalid argument(s): ").size());
      EXPECT_STREQ("osdep/CharacterAttributes", e.getFileName());
    }
  }
  EXPECT_THROW(CharacterAttributes<wchar_t>("xx_NOWHERE"), exception::InvalidArgument);
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
