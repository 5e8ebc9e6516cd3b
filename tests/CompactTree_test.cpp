// The packed tree against the tree of objects it is made from.
#include "comparer/CompactTree.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "support/TreeGenerator.h"

namespace ormelin {
namespace {

using testing::TTreeGenerator;

// Packed and frozen, a generated tree copies back to the same tree, entry
// by entry in list order, names and dates exact.
TEST(CompactTree, CopiesGeneratedTreesBackUnchanged) {
  TTreeGenerator generator(20261210);
  int copied = 0;
  for (int i = 0; i < 1500; ++i) {
    const std::string projectXML = generator.Tree();
    TDirectory project;
    try {
      TLoader::LoadFromXML(projectXML, &project);
    } catch (const std::exception&) {
      continue;
    }
    TCompactTree compact = TCompactTree::FromDirectory(project);
    compact.Freeze();
    TDirectory back;
    compact.CopyTo(&back);
    ASSERT_EQ(TLoader::SaveToXML(back), TLoader::SaveToXML(project)) << "project " << i;
    ++copied;
  }
  EXPECT_GT(copied, 1000);
}

}  // namespace
}  // namespace ormelin
