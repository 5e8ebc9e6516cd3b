#include "platform/Text.h"

#include <gtest/gtest.h>

namespace ormelin {
namespace {

TEST(TextTest, CaseTablePairsEveryLetterOfTheCodePage) {
  struct {
    unsigned char upper, lower;
  } pairs[] = {{'A', 'a'},   {'Z', 'z'},   {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
               {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA},
               {0xAF, 0xBF}, {0xBC, 0xBE}, {0xC0, 0xE0}, {0xC8, 0xE8}, {0xC6, 0xE6},
               {0xD0, 0xF0}, {0xD6, 0xF6}, {0xD8, 0xF8}, {0xDE, 0xFE}};
  for (const auto& p : pairs) {
    char up = static_cast<char>(p.upper), low = static_cast<char>(p.lower);
    EXPECT_EQ(UpperChar(low), up) << int(p.lower);
    EXPECT_EQ(LowerChar(up), low) << int(p.upper);
    EXPECT_TRUE(IsUpperLetter(up) && IsLowerLetter(low) && IsLetter(up) && IsLetter(low));
  }
  // Bytes without a pair map to themselves.
  for (int c : {0xD7, 0xF7, 0xDF, 0xB5, 0x80, int('1'), int('@'), int('['), 0xFF}) {
    EXPECT_EQ(UpperChar(static_cast<char>(c)), static_cast<char>(c)) << int(c);
    EXPECT_EQ(LowerChar(static_cast<char>(c)), static_cast<char>(c)) << int(c);
  }
  EXPECT_TRUE(IsLowerLetter('\xDF'));
  EXPECT_FALSE(IsLetter('\xD7'));
  EXPECT_FALSE(IsLetter('\xF7'));
  EXPECT_EQ(AnsiUpperCase("\x9A\xE8\x9E\xF0\xE6"
                          "abc"),
            "\x8A\xC8\x8E\xD0\xC6"
            "ABC");
  EXPECT_EQ(AnsiLowerCase("\x8A\xC8\x8E\xD0\xC6"
                          "XYZ"),
            "\x9A\xE8\x9E\xF0\xE6"
            "xyz");
}

TEST(TextTest, CharacterClasses) {
  for (char c : std::string(" \t\n\v\f\r")) EXPECT_TRUE(IsSpace(c));
  EXPECT_FALSE(IsSpace('\0'));
  EXPECT_FALSE(IsSpace('a'));
  EXPECT_TRUE(IsDigit('7'));
  EXPECT_FALSE(IsDigit('a'));
  EXPECT_TRUE(IsPunctuation('!'));
  EXPECT_TRUE(IsPunctuation('\x84'));  // „
  EXPECT_TRUE(IsPunctuation('\xD7'));  // ×
  EXPECT_FALSE(IsPunctuation('a'));
  EXPECT_FALSE(IsPunctuation(' '));
  EXPECT_TRUE(IsPrintable('\xE8'));
  EXPECT_FALSE(IsPrintable('\x81'));
  EXPECT_FALSE(IsPrintable('\x01'));
}

TEST(TextTest, TrimRemovesCodesUpTo32) {
  struct {
    const char* in;
    const char* both;
    const char* left;
    const char* right;
  } cases[] = {
      {"", "", "", ""},
      {"  \t\r\n", "", "", ""},
      {" \x01 a b\x1F\x20", "a b", "a b\x1F ", " \x01 a b"},
      {"\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Trim(c.in), c.both);
    EXPECT_EQ(TrimLeft(c.in), c.left);
    EXPECT_EQ(TrimRight(c.in), c.right);
  }
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
}

TEST(TextTest, FoldedComparisonAndReplacement) {
  EXPECT_TRUE(
      SameTextFolded("\x8A"
                     "a",
                     "\x9A"
                     "A"));
  EXPECT_FALSE(SameTextFolded("a", "ab"));
  EXPECT_FALSE(SameTextFolded("c", "\xE8"));
  EXPECT_EQ(ReplaceTextIgnoringCase("x{%action%}y{%ACTION%}", "{%Action%}", "Z"), "xZyZ");
  EXPECT_EQ(ReplaceTextIgnoringCase("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceTextIgnoringCase("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceTextIgnoringCase("\x8A\x9A", "\x9A", "-"), "--");
  EXPECT_EQ(ReplaceTextIgnoringCase("ab", "abc", "x"), "ab");
}

TEST(TextTest, HtmlEscapeOfTheFiveCharacters) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(HtmlEscape("\xE8"
                       "ist"),
            "\xE8"
            "ist");
}

}  // namespace
}  // namespace ormelin
