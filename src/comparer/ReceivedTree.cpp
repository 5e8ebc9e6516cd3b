#include "comparer/ReceivedTree.h"

#include <algorithm>
#include <new>

#include "comparer/FileStructures.h"
#include "platform/Cp1250.h"
#include "platform/Exceptions.h"

namespace ormelin {

namespace {

// Orders a folder's list by rank, equal ranks in the order they came.
template <typename T, typename RankOf>
void SortByRank(T* first, T* last, RankOf rankOf) {
  std::stable_sort(first, last,
                   [&rankOf](const T& a, const T& b) { return rankOf(a) < rankOf(b); });
}

}  // namespace

TReceivedTree::TReceivedTree() {
  folders_.emplace_back();
}

TReceivedTree::THandle TReceivedTree::AddFolder(THandle parent) {
  if (folders_[parent].UnnamedFolders > 0) {
    throw EDuplicateDirectoryName("Direktorij već sadrži direktorij ''"_cp1250);
  }
  if (folders_.size() >= UINT32_MAX / 2) throw std::bad_alloc();
  ++folders_[parent].UnnamedFolders;
  TFolder folder;
  folder.Parent = static_cast<TIndex>(parent);
  folders_.push_back(folder);
  ++folders_[parent].FolderCount;
  return folders_.size() - 1;
}

TReceivedTree::THandle TReceivedTree::AddFile(THandle parent) {
  TFolder& folder = folders_[parent];
  if (folder.UnnamedFiles > 0) {
    throw EDuplicateFileName("Direktorij već sadrži datoteku ''"_cp1250);
  }
  if (files_.size() >= UINT32_MAX / 2) throw std::bad_alloc();
  const auto position = static_cast<TIndex>(files_.size());
  // Files that come one after another for their folder need no grouping.
  if (folder.FileCount == 0) {
    folder.FirstFile = position;
  } else if (folder.FirstFile + folder.FileCount != position) {
    scattered_ = true;
  }
  ++folder.FileCount;
  ++folder.UnnamedFiles;
  files_.push_back(TFile{static_cast<TIndex>(parent), kUnnamed, 0});
  return position;
}

void TReceivedTree::SetFolderName(THandle handle, const std::string& name) {
  TFolder& folder = folders_[handle];
  if (handle != 0) {
    TIndex& unnamed = folders_[folder.Parent].UnnamedFolders;
    if (folder.Name == kUnnamed) --unnamed;
    if (name.empty()) ++unnamed;
  }
  folder.Name = Number(name);
}

void TReceivedTree::SetFileName(THandle handle, const std::string& name) {
  TFile& file = files_[handle];
  TIndex& unnamed = folders_[file.Parent].UnnamedFiles;
  if (file.Name == kUnnamed) --unnamed;
  if (name.empty()) ++unnamed;
  file.Name = Number(name);
}

void TReceivedTree::Group(const TCompactTree& project) {
  // Each distinct name is ranked once: most are the project's own, found by
  // their bytes; another costs a collation key.
  std::vector<TIndex> ranks(names_.Count());
  for (TIndex id = 0; id < ranks.size(); ++id) ranks[id] = project.RankOf(names_.Name(id));
  const TIndex emptyRank = project.RankOf("");
  auto rankOf = [&ranks, emptyRank](TIndex name) {
    return name == kUnnamed ? emptyRank : ranks[name];
  };
  names_ = TNameTable();
  if (scattered_) {
    // Files of a folder came apart: place them by folder, in the order they
    // came.
    TIndex next = 0;
    for (TFolder& folder : folders_) {
      folder.FirstFile = next;
      next += folder.FileCount;
    }
    std::vector<TFile> grouped(files_.size());
    std::vector<TIndex> fill(folders_.size(), 0);
    for (const TFile& file : files_) {
      grouped[folders_[file.Parent].FirstFile + fill[file.Parent]++] = file;
    }
    files_ = std::move(grouped);
    scattered_ = false;
  }
  // Sub-folders by parent, in the order they came (numbers grow with it).
  TIndex next = 0;
  for (TFolder& folder : folders_) {
    folder.FirstFolder = next;
    next += folder.FolderCount;
  }
  children_.assign(next, 0);
  std::vector<TIndex> fill(folders_.size(), 0);
  for (TIndex f = 1; f < folders_.size(); ++f) {
    const TIndex parent = folders_[f].Parent;
    children_[folders_[parent].FirstFolder + fill[parent]++] = f;
  }
  for (TFolder& folder : folders_) folder.Name = rankOf(folder.Name);
  for (TFile& file : files_) file.Name = rankOf(file.Name);
  for (const TFolder& folder : folders_) {
    TFile* files = files_.data() + folder.FirstFile;
    SortByRank(files, files + folder.FileCount, [](const TFile& file) { return file.Name; });
    TIndex* children = children_.data() + folder.FirstFolder;
    SortByRank(children, children + folder.FolderCount,
               [this](TIndex child) { return folders_[child].Name; });
  }
}

}  // namespace ormelin
