// The client's scan reads folders on several threads; the server's packed
// scan reads the same tree and leaves out the same entries.
// Test label: concurrency
#include "comparer/DiskTreeXML.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "platform/Exceptions.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using testing::TTempFolder;

// What the client sent before: the tree the disk scan reads, as XML; or the
// failure, by type and message.
std::string ThroughTheTree(const std::string& path) {
  try {
    TDirectory tree;
    TLoader::LoadFromDisk(path, &tree);
    return TLoader::SaveToXML(tree);
  } catch (const Exception& error) {
    return std::string("! ") + typeid(error).name() + " " + error.Message();
  }
}

std::string Direct(const std::string& path, int threads) {
  try {
    return DiskTreeToXML(path, threads, TTemporaryFiles::Remove);
  } catch (const Exception& error) {
    return std::string("! ") + typeid(error).name() + " " + error.Message();
  }
}

// The tree and report of the disk scan, through the tree of objects or
// through the packed tree the server keeps.
std::string ScanOutcome(const std::string& path, bool packed) {
  TDirectory tree;
  TScanReport report;
  if (packed) {
    TCompactTree::FromDisk(path, &report).CopyTo(&tree);
  } else {
    TLoader::LoadFromDisk(path, &tree, &report);
  }
  return TLoader::SaveToXML(tree) + "\n" + std::to_string(report.LeftOut) + " " +
         report.FirstLeftOut;
}

void Write(const fs::path& path, int64_t unixSeconds) {
  std::ofstream(path) << "x";
  auto when = std::chrono::system_clock::time_point(std::chrono::seconds(unixSeconds));
  fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

// Names that exercise the text: blanks the XML drops, entities, letters of
// code page 1250 (on disk in UTF-8), names alike but for letter case (a
// folder may hold both), a separator of the system's paths (left out), a letter code page
// 1250 lacks.
const char* const kNames[] = {
    "a.txt",
    "A.TXT",
    " blank ",
    "x&y<z>'\"",
    "\xC4\x8D\xC4\x87\xC5\xBE",
    "\xC4\x8C\xC4\x86\xC5\xBD",
    "back\\slash",
    "\xE6\x97\xA5",
    ".hidden",
    "b",
    "B",
    "plain",
};

// A random tree of `entries` entries below `root`, some of them links back
// into an ancestor.
void Grow(const fs::path& root, std::mt19937& random, int entries) {
  std::vector<fs::path> folders{root};
  for (int i = 0; i < entries; ++i) {
    const fs::path& where = folders[random() % folders.size()];
    const fs::path path = where / kNames[random() % std::size(kNames)];
    if (fs::exists(fs::symlink_status(path))) continue;
    switch (random() % 8) {
      case 0:
      case 1:
        fs::create_directory(path);
        folders.push_back(path);
        break;
      case 2:
        if (where != root) fs::create_directory_symlink(root, path);
        break;
      default:
        Write(path, 86400 * 3 + static_cast<int64_t>(random() % 2'000'000'000));
    }
  }
}

TEST(DiskTreeToXML, WritesWhatTheTreeOfTheDiskScanWrites) {
  TTempFolder scratch;
  const fs::path base = scratch.Path();
  std::vector<std::string> cases = {(base / "missing").string()};
  Write(base / "a file", 1226658031);
  cases.push_back((base / "a file").string());
  fs::create_directory(base / "empty");
  cases.push_back((base / "empty").string());

  std::mt19937 random(1974);
  for (int i = 0; i < 40; ++i) {
    const fs::path root = base / ("tree" + std::to_string(i));
    fs::create_directory(root);
    Grow(root, random, 1 + i * 3);
    cases.push_back(root.string());
  }
  // Links out of the folder, to a folder and to a file, and temporary files
  // a killed client left (one only looks like them).
  fs::create_directory(base / "outside");
  Write(base / "outside" / "secret.txt", 1226658031);
  const fs::path linked = base / "linked";
  fs::create_directories(linked / "sub");
  fs::create_directory_symlink(base / "outside", linked / "sub" / "out");
  fs::create_symlink(base / "outside" / "secret.txt", linked / "secret.txt");
  Write(linked / ".ormelin-0123456789abcdef-7.tmp", 1226658031);
  Write(linked / "sub" / ".ormelin-fedcba9876543210-12.tmp", 1226658031);
  Write(linked / "sub" / ".ormelin-x.tmp", 1226658031);
  cases.push_back(linked.string());
  for (const std::string& path : cases) {
    EXPECT_EQ(ScanOutcome(path, true), ScanOutcome(path, false)) << path << ", packed";
    // The client's scan is the disk scan's less the links, which it neither
    // enters nor lists, and less the temporary files, which it removes (a
    // first scan, as their removal changes the times of their folders).
    EXPECT_EQ(Direct(path, 2).find(".ormelin-0123"), std::string::npos) << path;
    const std::string direct[] = {Direct(path, 1), Direct(path, 3)};
    std::vector<fs::path> links;
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_symlink()) links.push_back(entry.path());
      }
    }
    for (const fs::path& link : links) {
      const auto time = fs::last_write_time(link.parent_path());
      fs::remove(link);
      fs::last_write_time(link.parent_path(), time);
    }
    const std::string expected = ThroughTheTree(path);
    EXPECT_EQ(direct[0], expected) << path << ", 1 thread";
    EXPECT_EQ(direct[1], expected) << path << ", 3 threads";
  }
  EXPECT_TRUE(fs::exists(base / "outside" / "secret.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(linked), {}), 1);  // "sub"
  EXPECT_TRUE(fs::exists(linked / "sub" / ".ormelin-x.tmp"));
}

}  // namespace
}  // namespace ormelin
