// The sync's answer from the packed trees against the task builder over
// trees of objects, the reference that states what the answer must be.
#include "comparer/SyncAnswer.h"

#include <gtest/gtest.h>

#include <string>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "reference/FrozenTree.h"
#include "support/TreeGenerator.h"
#include "support/TreeOutcome.h"

namespace ormelin {
namespace {

using testing::AnswerByNodes;
using testing::AnswerCompact;
using testing::ForEachGeneratedProject;
using testing::TTreeGenerator;

// A sync's answer from the packed trees is the task builder's (less its
// deletions) for generated projects and generated or mutated client trees,
// names that differ in case or only to the collation included; an error
// of the client's tree is the same error.
TEST(SyncAnswer, PackedTreesAnswerAsTheTaskBuilderDoes) {
  TTreeGenerator generator(20261210);
  int answered = 0;
  auto compare = [&](int i, TDirectory& project, const TCompactTree& compact) {
    // Frozen, the project is compared as loaded every time: the content of
    // a missing folder goes out in its own order, as from a fresh scan.
    const TFrozenTree frozen(project);
    for (int c = 0; c < 3; ++c) {
      std::string client = generator.Tree();
      if (c == 2) client = generator.Mutate(client);
      const std::string expected = AnswerByNodes(frozen, client);
      ASSERT_EQ(AnswerCompact(compact, client), expected)
          << "project " << i << "\n"
          << TLoader::SaveToXML(project) << "\nclient\n"
          << client;
      if (!expected.empty() && expected[0] == '<') ++answered;
    }
  };
  ForEachGeneratedProject(generator, 1500, compare);
  EXPECT_GT(answered, 1000);
}

}  // namespace
}  // namespace ormelin
