#include "comparer/CompactTree.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <utility>

#include "comparer/DiskWalk.h"
#include "comparer/FileStructures.h"
#include "platform/Collation.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace ormelin {

namespace {

const char* const kUnit = "CompactTree";

// Sorts `order` (numbers of entries) by their ranks, equal ranks in fill
// order: the order TDirectory::Sort gives.
template <typename RankOf>
void SortByRank(TCompactTree::TIndex* first, TCompactTree::TIndex* last, RankOf rankOf) {
  std::sort(first, last, [&rankOf](TCompactTree::TIndex a, TCompactTree::TIndex b) {
    const TCompactTree::TIndex ra = rankOf(a);
    const TCompactTree::TIndex rb = rankOf(b);
    return ra != rb ? ra < rb : a < b;
  });
}

}  // namespace

TCompactTree::TCompactTree() {
  folders_.emplace_back();
  folders_[0].Name = names_.Intern("\\");
}

TCompactTree::TIndex TCompactTree::AddContent(TIndex folder, size_t folders, size_t files) {
  Assert(!frozen_ && folder < folders_.size(), kUnit, __LINE__);
  if (folders_.size() + folders >= UINT32_MAX || fileNames_.size() + files >= UINT32_MAX) {
    throw std::bad_alloc();
  }
  const auto first = static_cast<TIndex>(folders_.size());
  const TIndex emptyName = names_.Intern("");
  TFolder& parent = folders_[folder];
  parent.FirstFolder = first;
  parent.FolderCount = static_cast<TIndex>(folders);
  parent.FirstFile = static_cast<TIndex>(fileNames_.size());
  parent.FileCount = static_cast<TIndex>(files);
  TFolder unnamed;
  unnamed.Name = emptyName;
  folders_.resize(folders_.size() + folders, unnamed);
  fileNames_.resize(fileNames_.size() + files, emptyName);
  fileDates_.resize(fileDates_.size() + files, 0);
  return first;
}

void TCompactTree::SetFolder(TIndex folder, std::string_view name, TDateTime date) {
  Assert(!frozen_, kUnit, __LINE__);
  folders_[folder].Name = names_.Intern(name);
  folders_[folder].DateModified = date;
}

void TCompactTree::SetFile(TIndex file, std::string_view name, TDateTime date) {
  Assert(!frozen_, kUnit, __LINE__);
  fileNames_[file] = names_.Intern(name);
  fileDates_[file] = date;
}

void TCompactTree::Freeze() {
  if (frozen_) return;
  // Each distinct name's key, once; the ranks follow the keys' order.
  const size_t count = names_.Count();
  std::vector<std::string> keys(count);
  for (TIndex id = 0; id < count; ++id) keys[id] = CollationKey(Name(id));
  std::vector<TIndex> byKey(count);
  std::iota(byKey.begin(), byKey.end(), 0);
  std::sort(byKey.begin(), byKey.end(), [&keys](TIndex a, TIndex b) { return keys[a] < keys[b]; });
  ranks_.assign(count, 0);
  auto distinct = std::make_shared<std::vector<std::string>>();
  for (TIndex id : byKey) {
    if (distinct->empty() || distinct->back() != keys[id]) distinct->push_back(std::move(keys[id]));
    ranks_[id] = static_cast<TIndex>(distinct->size() - 1);
  }
  distinct->shrink_to_fit();
  keys_ = std::move(distinct);
  SortFolders(nullptr);
}

void TCompactTree::Freeze(const TCompactTree& previous) {
  if (frozen_) return;
  Assert(previous.frozen_ && previous.names_.Count() <= names_.Count(), kUnit, __LINE__);
  // The new names' keys, sorted, merged into the previous tree's keys:
  // each previous rank moves up by the new keys below it.
  const auto known = static_cast<TIndex>(previous.names_.Count());
  const size_t count = names_.Count();
  std::vector<std::pair<std::string, TIndex>> added;
  added.reserve(count - known);
  for (TIndex id = known; id < count; ++id) added.emplace_back(CollationKey(Name(id)), id);
  std::sort(added.begin(), added.end());
  if (added.empty()) {
    // No new name: the same keys and ranks.
    keys_ = previous.keys_;
    ranks_ = previous.ranks_;
    SortFolders(&previous);
    return;
  }
  const std::vector<std::string>& old = *previous.keys_;
  std::vector<TIndex> moved(old.size());
  ranks_.assign(count, 0);
  auto merged = std::make_shared<std::vector<std::string>>();
  std::vector<std::string>& keys = *merged;
  keys.reserve(old.size() + added.size());
  size_t o = 0;
  for (size_t a = 0; o < old.size() || a < added.size();) {
    if (a == added.size() || (o < old.size() && old[o] <= added[a].first)) {
      keys.push_back(old[o]);
      moved[o++] = static_cast<TIndex>(keys.size() - 1);
    } else {
      if (keys.empty() || keys.back() != added[a].first) keys.push_back(added[a].first);
    }
    // A new name whose key the previous tree held shares its rank.
    while (a < added.size() && added[a].first == keys.back()) {
      ranks_[added[a++].second] = static_cast<TIndex>(keys.size() - 1);
    }
  }
  keys_ = std::move(merged);
  for (TIndex id = 0; id < known; ++id) ranks_[id] = moved[previous.ranks_[id]];
  SortFolders(&previous);
}

void TCompactTree::SortFolders(const TCompactTree* previous) {
  folderOrder_.resize(folders_.size());
  fileOrder_.resize(fileNames_.size());
  for (size_t f = 0; f < folders_.size(); ++f) {
    const TFolder& folder = folders_[f];
    TIndex* folders = folderOrder_.data() + folder.FirstFolder;
    TIndex* files = fileOrder_.data() + folder.FirstFile;
    if (previous != nullptr && f < copiedFrom_.size() && copiedFrom_[f] != kNoRank) {
      // Copied whole, in the same order, and the ranks kept their order.
      const TFolder& source = previous->folders_[copiedFrom_[f]];
      for (TIndex n = 0; n < folder.FolderCount; ++n) {
        folders[n] = previous->folderOrder_[source.FirstFolder + n] - source.FirstFolder +
                     folder.FirstFolder;
      }
      for (TIndex n = 0; n < folder.FileCount; ++n) {
        files[n] = previous->fileOrder_[source.FirstFile + n] - source.FirstFile + folder.FirstFile;
      }
      continue;
    }
    std::iota(folders, folders + folder.FolderCount, folder.FirstFolder);
    std::iota(files, files + folder.FileCount, folder.FirstFile);
    SortByRank(folders, folders + folder.FolderCount,
               [this](TIndex n) { return ranks_[folders_[n].Name]; });
    SortByRank(files, files + folder.FileCount, [this](TIndex n) { return ranks_[fileNames_[n]]; });
  }
  copiedFrom_ = std::vector<TIndex>();
  names_.ShrinkToFit();
  frozen_ = true;
}

TCompactTree TCompactTree::Successor(const TCompactTree& previous) {
  Assert(previous.frozen_, kUnit, __LINE__);
  TCompactTree tree;
  tree.names_ = previous.names_;
  tree.folders_[0].Name = tree.names_.Intern("\\");
  tree.copiedFrom_.assign(1, kNoRank);
  // Mostly the same size again: grown once, not copied over and over.
  tree.folders_.reserve(previous.folders_.size() + previous.folders_.size() / 16);
  tree.fileNames_.reserve(previous.fileNames_.size() + previous.fileNames_.size() / 16);
  tree.fileDates_.reserve(tree.fileNames_.capacity());
  tree.copiedFrom_.reserve(tree.folders_.capacity());
  return tree;
}

TCompactTree::TIndex TCompactTree::CopyContent(TIndex folder, const TCompactTree& previous,
                                               TIndex previousFolder) {
  const TFolder& source = previous.folders_[previousFolder];
  const TIndex first = AddContent(folder, source.FolderCount, source.FileCount);
  const TIndex firstFile = folders_[folder].FirstFile;
  // The names are numbered alike in both trees (Successor).
  std::copy_n(previous.fileNames_.begin() + source.FirstFile, source.FileCount,
              fileNames_.begin() + firstFile);
  std::copy_n(previous.fileDates_.begin() + source.FirstFile, source.FileCount,
              fileDates_.begin() + firstFile);
  for (TIndex n = 0; n < source.FolderCount; ++n) {
    const TFolder& child = previous.folders_[source.FirstFolder + n];
    folders_[first + n].Name = child.Name;
    folders_[first + n].DateModified = child.DateModified;
  }
  if (copiedFrom_.size() <= folder) copiedFrom_.resize(folders_.size(), kNoRank);
  copiedFrom_[folder] = previousFolder;
  return first;
}

TCompactTree::TIndex TCompactTree::RankOf(std::string_view name) const {
  Assert(frozen_, kUnit, __LINE__);
  const TIndex id = names_.Find(name);
  if (id != TNameTable::kNone) return ranks_[id];
  const std::string key = CollationKey(name);
  const std::vector<std::string>& keys = *keys_;
  auto found = std::lower_bound(keys.begin(), keys.end(), key);
  if (found == keys.end() || *found != key) return kNoRank;
  return static_cast<TIndex>(found - keys.begin());
}

void TCompactTree::CopyTo(TDirectory* target) const {
  Assert(target != nullptr, kUnit, __LINE__);
  target->Clear();
  target->SetName(FolderName(0));
  target->SetDateModified(folders_[0].DateModified);
  std::vector<std::pair<TIndex, TDirectory*>> pending{{0, target}};
  while (!pending.empty()) {
    auto [index, directory] = pending.back();
    pending.pop_back();
    const TFolder& folder = folders_[index];
    for (TIndex f = folder.FirstFile; f < folder.FirstFile + folder.FileCount; ++f) {
      auto* file = new TFile(directory);  // owned by `directory`
      file->SetName(FileName(f));
      file->SetDateModified(fileDates_[f]);
    }
    for (TIndex d = folder.FirstFolder; d < folder.FirstFolder + folder.FolderCount; ++d) {
      auto* child = new TDirectory(directory);  // owned by `directory`
      child->SetName(FolderName(d));
      child->SetDateModified(folders_[d].DateModified);
      pending.emplace_back(d, child);
    }
  }
}

TCompactTree TCompactTree::FromDirectory(const TDirectory& source) {
  TCompactTree tree;
  tree.SetFolder(0, source.Name(), source.DateModified());
  std::vector<std::pair<const TDirectory*, TIndex>> pending{{&source, 0}};
  while (!pending.empty()) {
    auto [directory, index] = pending.back();
    pending.pop_back();
    const TIndex first = tree.AddContent(index, static_cast<size_t>(directory->DirectoryCount()),
                                         static_cast<size_t>(directory->FileCount()));
    const TIndex firstFile = tree.folders_[index].FirstFile;
    for (int f = 0; f < directory->FileCount(); ++f) {
      const TFile* file = directory->GetFile(f);
      tree.SetFile(firstFile + static_cast<TIndex>(f), file->Name(), file->DateModified());
    }
    for (int d = 0; d < directory->DirectoryCount(); ++d) {
      const TDirectory* child = directory->GetDirectory(d);
      tree.SetFolder(first + static_cast<TIndex>(d), child->Name(), child->DateModified());
      pending.emplace_back(child, first + static_cast<TIndex>(d));
    }
  }
  return tree;
}

namespace {

// Fills a packed tree for WalkDisk: a folder's content is added whole when
// it is read (files named at once, sub-folders as the walk reaches them).
class TCompactFiller {
 public:
  using TFolder = TCompactTree::TIndex;

  // Fills `root` and what the walk finds below it.
  TCompactFiller(TCompactTree& tree, TFolder root)
      : tree_(tree), root_(root), base_(static_cast<TFolder>(tree.FolderCount())) {}

  void Read(TFolder folder, const std::vector<TFolderEntry>& entries) {
    size_t folders = 0;
    size_t files = 0;
    for (const TFolderEntry& entry : entries) {
      if (entry.NameIsPath) ++(entry.IsDirectory ? folders : files);
    }
    const TFolder first = tree_.AddContent(folder, folders, files);
    nextFolder_.resize(tree_.FolderCount() - base_);
    Next(folder) = first;
    TFolder file = tree_.Folder(folder).FirstFile;
    for (const TFolderEntry& entry : entries) {
      if (entry.NameIsPath && !entry.IsDirectory)
        tree_.SetFile(file++, entry.Name, entry.DateModified);
    }
  }
  TFolder AddFolder(TFolder parent, const TFolderEntry& entry) {
    const TFolder child = Next(parent)++;
    tree_.SetFolder(child, entry.Name, entry.DateModified);
    return child;
  }

 private:
  TFolder& Next(TFolder folder) {
    return folder == root_ ? rootNext_ : nextFolder_[folder - base_];
  }

  TCompactTree& tree_;
  const TFolder root_;
  const TFolder base_;  // the folders the walk adds are numbered from here
  // By folder: the number its next sub-folder gets.
  TFolder rootNext_ = 0;
  std::vector<TFolder> nextFolder_;
};

}  // namespace

TCompactTree TCompactTree::FromDisk(std::string_view path, TScanReport* report) {
  TCompactTree tree;
  if (!DirectoryExists(path)) return tree;
  TCompactFiller filler(tree, 0);
  WalkDisk(path, 0, "\\", filler, report);
  return tree;
}

void TCompactTree::FillFromDisk(TIndex folder, std::string_view path, std::string treePath,
                                int level, TScanReport* report, std::string_view confinedTo) {
  Assert(!frozen_ && folder < folders_.size(), kUnit, __LINE__);
  if (!DirectoryExists(path)) return;
  TCompactFiller filler(*this, folder);
  WalkDisk(path, folder, std::move(treePath), filler, report, level, confinedTo);
}

}  // namespace ormelin
