#include "platform/Collation.h"

#include <gtest/gtest.h>

#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace ormelin {
namespace {

int Sign(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(CollationTest, CaseIgnoredAccentsKeptInRootAndCroatian) {
  for (const char* locale : {"", "hr", "hr_HR"}) {
    SCOPED_TRACE(locale);
    TCollator collator(locale);
    EXPECT_LT(collator.Compare("b", "C"), 0);
    EXPECT_GT(collator.Compare("C", "b"), 0);
    EXPECT_LT(collator.Compare("c", "\xE8"), 0);  // c < č
    EXPECT_LT(collator.Compare("\xE8", "d"), 0);  // č < d
    EXPECT_LT(collator.Compare("\xC8", "d"), 0);  // Č < d
    EXPECT_EQ(collator.Compare("\xC8"
                               "ak",
                               "\xE8"
                               "AK"),
              0);
    EXPECT_EQ(collator.Compare("Projekt", "PROJEKT"), 0);
    EXPECT_EQ(collator.Compare("\x8A\x8E\xD0\xC6", "\x9A\x9E\xF0\xE6"), 0);  // ŠŽĐĆ = šžđć
    EXPECT_NE(collator.Compare("z", "\x9E"), 0);                             // z != ž
    EXPECT_LT(collator.Compare("a", "ab"), 0);
    EXPECT_EQ(collator.Compare("", ""), 0);
    EXPECT_LT(collator.Compare("", "a"), 0);
  }
}

TEST(CollationTest, ProcessCollationOrdersLikeTheRoot) {
  // The test runs under whatever locale the machine has; these hold for
  // every locale the system is used with.
  EXPECT_LT(AnsiCompareText("b", "C"), 0);
  EXPECT_LT(AnsiCompareText("c", "\xE8"), 0);
  EXPECT_LT(AnsiCompareText("\xE8", "d"), 0);
  EXPECT_TRUE(AnsiSameText("insert_FILE", "INSERT_file"));
  EXPECT_FALSE(AnsiSameText("insert_file", "insert_dir"));
  EXPECT_FALSE(AnsiSameText("Sync", "Sync "));
}

TEST(CollationTest, KeysOrderLikeTheComparison) {
  std::vector<std::string> names = {
      "b",
      "C",
      "c",
      "\xE8",
      "d",
      "\xC8",
      "a b.txt",
      "ab.txt",
      "A.txt",
      "a.txt",
      "Z",
      "\x9E",
      "z",
      "\x8A"
      "ablon",
      "sablon",
      "10",
      "9",
      "",
      "long name " + std::string(300, 'x'),
      "long name " + std::string(300, 'y'),
      "\xF0"
      "ak",
      "dak",
      "e",
  };
  for (const char* locale : {"", "hr"}) {
    TCollator collator(locale);
    for (const auto& a : names) {
      for (const auto& b : names) {
        int byKey = Sign(collator.Key(a).compare(collator.Key(b)));
        EXPECT_EQ(byKey, Sign(collator.Compare(a, b))) << locale << ": " << a << " / " << b;
      }
    }
  }
  EXPECT_EQ(CollationKey("Name"), CollationKey("NAME"));
  EXPECT_LT(CollationKey("b"), CollationKey("C"));
}

TEST(CollationTest, LongTextsCompareWhole) {
  std::string a(1000, 'a'), b(1000, 'A');
  EXPECT_EQ(AnsiCompareText(a, b), 0);
  b.back() = 'b';
  EXPECT_LT(AnsiCompareText(a, b), 0);
}

TEST(CollationTest, ThreadsCompareAtTheSameTime) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string name = "\xE8lanak " + std::to_string(i * 4 + t);
        if (AnsiCompareText(name, "\xC8LANAK " + std::to_string(i * 4 + t)) != 0) ++wrong;
        if (AnsiCompareText("c" + name, "d" + name) >= 0) ++wrong;
        if (CollationKey(name) != CollationKey(AnsiUpperCase(name))) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(CollationTest, LocaleFromEnvironmentValue) {
  struct {
    const char* value;
    const char* locale;
  } cases[] = {{"", ""},
               {"C", ""},
               {"POSIX", ""},
               {"C.UTF-8", ""},
               {"C.utf8", ""},
               {"hr_HR.UTF-8", "hr_HR"},
               {"sr_RS@latin", "sr_RS"},
               {"en_US", "en_US"},
               {"de_DE.ISO-8859-1@euro", "de_DE"}};
  for (const auto& c : cases) EXPECT_EQ(CollationLocaleOf(c.value), c.locale) << c.value;
}

}  // namespace
}  // namespace ormelin
