// The packed tree against the tree of objects it is made from.
#include "comparer/CompactTree.h"

#include <gtest/gtest.h>

#include <string>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "support/TreeGenerator.h"

namespace ormelin {
namespace {

using testing::ForEachGeneratedProject;
using testing::TTreeGenerator;

// Packed and frozen, a generated tree copies back to the same tree, entry
// by entry in list order, names and dates exact.
TEST(CompactTree, CopiesGeneratedTreesBackUnchanged) {
  TTreeGenerator generator(20261210);
  const int copied = ForEachGeneratedProject(
      generator, 1500, [](int i, const TDirectory& project, const TCompactTree& compact) {
        TDirectory back;
        compact.CopyTo(&back);
        ASSERT_EQ(TLoader::SaveToXML(back), TLoader::SaveToXML(project)) << "project " << i;
      });
  EXPECT_GT(copied, 1000);
}

}  // namespace
}  // namespace ormelin
