// Fuzz target for the project index's patched trees: the input is a list of
// changes to a small project folder (files written, timed, deleted, renamed
// and linked; folders made, deleted, renamed, moved out and back in;
// symbolic links to files and folders made, pointed elsewhere and removed,
// by relative and full paths, leading out, back in through a folder
// outside, and in circles) with syncs between them. At each sync the index's tree must give the
// answer a fresh scan of the folder gives, to an empty client and to one holding the folder as it
// first was. Any difference aborts.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/SyncAnswer.h"
#include "comparer/TreeReader.h"
#include "server/uProjectIndex.h"

namespace {

namespace fs = std::filesystem;
using ormelin::TCompactTree;

std::string Answer(const TCompactTree& server, const std::string& clientXML) {
  ormelin::TReceivedTree client;
  ormelin::TStreamingTreeReader reader(client);
  reader.Feed(clientXML);
  reader.Finish();
  client.Group(server);
  return ormelin::SyncAnswerXML(server, client);
}

std::string TreeXML(const TCompactTree& tree) {
  ormelin::TDirectory directory;
  tree.CopyTo(&directory);
  return ormelin::TLoader::SaveToXML(directory);
}

// A folder of the project (or the root) picked by `pick`: up to three
// levels of names that clash but for case.
fs::path FolderOf(const fs::path& root, unsigned pick) {
  static const char* const kNames[] = {"a", "b", "A", "d"};
  fs::path folder = root;
  for (unsigned level = 0; level < pick % 4; ++level)
    folder /= kNames[(pick >> (2 + 2 * level)) % 4];
  return folder;
}

fs::path FileOf(const fs::path& root, unsigned pick) {
  static const char* const kNames[] = {"x.txt", "y", "X.TXT", "\xc5\xbe.txt"};
  return FolderOf(root, pick) / kNames[(pick >> 6) % 4];
}

// A symbolic link of the project picked by `pick`, and what it leads to: a
// file or folder of the project (by a relative or a full path), the folder
// outside (which may lead back in), or the folder above it (a circle).
fs::path LinkOf(const fs::path& root, unsigned pick) {
  return FolderOf(root, pick) / ((pick >> 6) % 2 != 0 ? "l" : "L2");
}

void Link(const fs::path& root, const fs::path& outside, unsigned pick) {
  const fs::path link = LinkOf(root, pick);
  std::error_code ignored;
  fs::remove(link, ignored);
  const fs::path target =
      (pick >> 9) % 2 != 0 ? FolderOf(root, pick >> 3) : FileOf(root, pick >> 3);
  switch ((pick >> 7) % 4) {
    case 0:
      fs::create_symlink(target.lexically_relative(link.parent_path()), link, ignored);
      break;
    case 1:
      fs::create_symlink(target, link, ignored);
      break;
    case 2:
      fs::create_symlink(outside, link, ignored);
      break;
    default:
      fs::create_symlink("..", link, ignored);
      break;
  }
}

void Write(const fs::path& file, unsigned content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path kTemp = [] {
    char pattern[] = "/tmp/ormelin-patch-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return fs::path(made);
  }();
  std::error_code ignored;
  fs::remove_all(kTemp / "project", ignored);
  fs::remove_all(kTemp / "out", ignored);
  const fs::path root = kTemp / "project";
  const fs::path out = kTemp / "out";
  fs::create_directories(root / "a" / "b");
  fs::create_directories(out);
  Write(root / "x.txt", 1);
  Write(root / "a" / "y", 2);

  ormelin::TProjectIndex index(root.string());
  const std::string first = TreeXML(index.Acquire()->Tree);
  auto check = [&] {
    ormelin::TProjectTreeRef tree = index.Acquire();
    ormelin::TProjectTreeRef fresh = ormelin::ScanProject(root.string());
    for (const std::string& client : {std::string("<tree/>"), first}) {
      const std::string expected = Answer(fresh->Tree, client);
      const std::string got = Answer(tree->Tree, client);
      if (got != expected) {
        std::fprintf(stderr, "the index answers\n%s\na fresh scan\n%s\n", got.c_str(),
                     expected.c_str());
        std::abort();
      }
    }
  };
  for (size_t at = 0; at + 1 < size && at < 400; at += 2) {
    const unsigned op = data[at] % 12;
    const unsigned pick = data[at + 1] | (static_cast<unsigned>(data[at]) << 4 & 0xF00u);
    const fs::path folder = FolderOf(root, pick);
    const fs::path file = FileOf(root, pick);
    const fs::path other = FolderOf(root, pick >> 3);
    switch (op) {
      case 0:
        if (fs::is_directory(file.parent_path(), ignored)) Write(file, pick);
        break;
      case 1:
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(pick),
                            ignored);
        break;
      case 2:
        fs::remove(file, ignored);
        break;
      case 3:
        fs::create_directories(folder, ignored);
        break;
      case 4:
        if (folder != root) fs::remove_all(folder, ignored);
        break;
      case 5:
        if (folder != root && other != root) fs::rename(folder, other, ignored);
        break;
      case 6:
        fs::rename(file, FileOf(root, pick >> 1), ignored);
        break;
      case 7:
        if (folder != root && !fs::exists(out / "away", ignored)) {
          fs::rename(folder, out / "away", ignored);
        } else {
          Write(out / "away" / "made-outside.txt", pick);
          fs::rename(out / "away", other, ignored);
        }
        break;
      case 8:
        fs::create_hard_link(file, FileOf(root, pick >> 2), ignored);
        break;
      case 9:
        Link(root, out / "away", pick);
        break;
      case 10:
        // The folder outside, which links may lead to, itself a link back
        // in or gone.
        if (fs::is_symlink(out / "away", ignored)) {
          fs::remove(out / "away", ignored);
        } else if (!fs::exists(out / "away", ignored)) {
          fs::create_directory_symlink(folder, out / "away", ignored);
        } else {
          fs::remove(LinkOf(root, pick), ignored);
        }
        break;
      default:
        check();
        break;
    }
  }
  check();
  return 0;
}
