#include "server/orProjects.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(TorProjectList, FindByNameIgnoresCaseAndReturnsTheFirstInFileOrder) {
  TorProjectList list;
  list.Add("Docs", "/srv/first");
  list.Add("DOCS", "/srv/second");
  list.Add("\xC8lanci", "/srv/clanci");  // Članci

  for (const char* name : {"Docs", "docs", "DOCS", "dOcS"}) {
    TorProject* found = list.FindByName(name);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(found->Path, "/srv/first") << name;
  }
  TorProject* accented = list.FindByName("\xE8lanci");  // članci
  ASSERT_NE(accented, nullptr);
  EXPECT_EQ(accented->Path, "/srv/clanci");
  // Accents count: "Clanci" is another name.
  EXPECT_EQ(list.FindByName("Clanci"), nullptr);
  EXPECT_EQ(list.FindByName("Doc"), nullptr);
  EXPECT_EQ(list.FindByName(""), nullptr);
}

TEST(TorProjectList, ItemsOutsideTheListIsAnIndexError) {
  TorProjectList list;
  EXPECT_THROW(list.Items(0), EListError);
  list.Add("a", "/a");
  EXPECT_EQ(list.Items(0).Name, "a");
  EXPECT_THROW(list.Items(1), EListError);
  EXPECT_THROW(list.Items(-1), EListError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace ormelin
