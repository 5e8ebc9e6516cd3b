// Every scan reads its folder on a thread of its own.
// Test label: concurrency
#include "server/uProjectScan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

// Scans beyond the number allowed ahead read the folder in Take; every scan
// gives the tree the loader reads, and a missing folder an empty one.
TEST(TProjectScan, EveryScanGivesTheLoadersTreeAlsoBeyondThoseAhead) {
  testing::TTempFolder temp;
  const std::filesystem::path root = std::filesystem::path(temp.Path()) / "project";
  test::WriteFile(root / "a.txt", "a");
  test::WriteFile(root / "mapa" / "b.txt", "b");
  TDirectory expected;
  TLoader::LoadFromDisk(root.string(), &expected);
  const std::string expectedXML = TLoader::SaveToXML(expected);

  std::vector<std::unique_ptr<TProjectScan>> scans;
  for (int i = 0; i < 2 * TProjectScan::kMaxAhead + 1; ++i) {
    scans.push_back(std::make_unique<TProjectScan>(root.string()));
  }
  for (auto& scan : scans) {
    TDirectory scanned;
    scan->Take()->Tree.CopyTo(&scanned);
    EXPECT_EQ(TLoader::SaveToXML(scanned), expectedXML);
  }
  scans.clear();
  // The slots came back: a later scan still runs and is read.
  TProjectScan missing(temp.Path() + "/nothing");
  EXPECT_EQ(missing.Take()->Tree.FolderCount(), 1u);
}

}  // namespace
}  // namespace ormelin
