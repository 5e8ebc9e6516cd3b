#include "logger/zeRegex.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace ormelin {
namespace {

TzeCharClasses CLocaleClasses(unsigned char c) {
  TzeCharClasses k;
  k.Upper = isupper(c);
  k.Lower = islower(c);
  k.Letter = isalpha(c);
  k.Digit = isdigit(c);
  k.XDigit = isxdigit(c);
  k.Space = isspace(c);
  k.Punct = ispunct(c);
  k.Print = isprint(c);
  k.Graph = isgraph(c);
  k.Cntrl = iscntrl(c);
  k.ToLower = static_cast<unsigned char>(tolower(c));
  k.ToUpper = static_cast<unsigned char>(toupper(c));
  return k;
}

// Our table layout must be the engine's own: built from the C locale's
// classes it equals what the engine makes for that locale.
TEST(TzeRegexTables, LayoutMatchesTheEngineForTheCLocale) {
  std::setlocale(LC_CTYPE, "C");
  const uint8_t* engine = pcre2_maketables(nullptr);
  ASSERT_NE(engine, nullptr);
  const TzeRegexTables ours = BuildRegexTables(&CLocaleClasses);
  for (size_t i = 0; i < kRegexTablesSize; ++i) {
    ASSERT_EQ(ours[i], engine[i]) << "byte " << i;
  }
  pcre2_maketables_free(nullptr, engine);
}

struct TMatchCase {
  const char* pattern;
  uint32_t options;
  const char* subject;
  const char* expected;  // whole match, nullptr for none
};

TEST(TzeRegex, SearchesWithCodePage1250TablesAndLineEnds) {
  const TMatchCase cases[] = {
      {"\xE8\x9A\x9E\xE6\xF0", TzeRegex::roCaseless, "x\xC8\x8A\x8E\xC6\xD0y",
       "\xC8\x8A\x8E\xC6\xD0"},
      {"\xE8", TzeRegex::roNone, "\xC8", nullptr},
      {"\\w+", TzeRegex::roNone,
       " \x9A\xF0"
       "ab_1 ",
       "\x9A\xF0"
       "ab_1"},
      {"[[:upper:]]+", TzeRegex::roNone, "ab\x8E\xC8z", "\x8E\xC8"},
      {"^b$", TzeRegex::roMultiLine, "a\r\nb\r\nc", "b"},
      {"^b$", TzeRegex::roMultiLine, "a\rb\rc", "b"},
      {"^b$", TzeRegex::roMultiLine, "a\nb\nc", "b"},
      {"a.b", TzeRegex::roNone, "a\rb", nullptr},
      {"a.b", TzeRegex::roDotAll, "a\rb", "a\rb"},
      {"x*", TzeRegex::roNone, "abc", nullptr},  // an empty match is no match
      {"x*", TzeRegex::roNone, "abxxc", "xx"},
  };
  for (const TMatchCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    TzeRegex regex(c.pattern, c.options);
    TzeRegexMatch match(regex);
    const bool found = regex.Search(c.subject, match);
    ASSERT_EQ(found, c.expected != nullptr);
    if (found) {
      EXPECT_EQ(match.Group(0), c.expected);
    }
  }
}

TEST(TzeRegex, GroupsAndNames) {
  TzeRegex regex("(?P<first>a)(b)?(c)", TzeRegex::roNone);
  TzeRegexMatch match(regex);
  ASSERT_TRUE(regex.Search("zac", match));
  EXPECT_EQ(regex.GroupNumber("first"), 1);
  EXPECT_EQ(regex.GroupNumber("missing"), -1);
  EXPECT_EQ(match.Group(1), "a");
  EXPECT_FALSE(match.IsSet(2));
  EXPECT_EQ(match.Group(2), "");
  EXPECT_EQ(match.Group(3), "c");
  EXPECT_EQ(match.Start(3), 2u);
  EXPECT_FALSE(match.IsSet(9));
}

TEST(TzeRegex, CompileErrorCarriesReasonAndOffset) {
  try {
    TzeRegex regex("ab(", TzeRegex::roCaseless);
    FAIL() << "compiled";
  } catch (const ERegexError& e) {
    EXPECT_NE(e.Message().find("missing closing parenthesis"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("offset 3"), std::string::npos) << e.Message();
  }
}

// Without the limits this search would take hours.
TEST(TzeRegex, RunawayBacktrackingFailsWithTheEnginesMessage) {
  TzeRegex regex("(a+)+$", TzeRegex::roCaseless);
  TzeRegexMatch match(regex);
  const std::string subject = std::string(60, 'a') + "!";
  try {
    regex.Search(subject, match);
    FAIL() << "no error";
  } catch (const ERegexError& e) {
    EXPECT_NE(e.Message().find("limit"), std::string::npos) << e.Message();
  }
  EXPECT_TRUE(regex.Search("aaa", match));  // the pattern stays usable
}

}  // namespace
}  // namespace ormelin
