// The sync's answer from the packed trees against the task builder over
// trees of objects, the reference that states what the answer must be.
#include "comparer/SyncAnswer.h"

#include <gtest/gtest.h>

#include <exception>
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
using testing::TTreeGenerator;

// A sync's answer from the packed trees is the task builder's (less its
// deletions) for generated projects and generated or mutated client trees,
// names that differ in case or only to the collation included; an error
// of the client's tree is the same error.
TEST(SyncAnswer, PackedTreesAnswerAsTheTaskBuilderDoes) {
  TTreeGenerator generator(20261210);
  int answered = 0;
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
  }
  EXPECT_GT(answered, 1000);
}

}  // namespace
}  // namespace ormelin
