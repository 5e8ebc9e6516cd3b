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
  keys_.clear();
  for (TIndex id : byKey) {
    if (keys_.empty() || keys_.back() != keys[id]) keys_.push_back(std::move(keys[id]));
    ranks_[id] = static_cast<TIndex>(keys_.size() - 1);
  }
  keys_.shrink_to_fit();

  folderOrder_.resize(folders_.size());
  fileOrder_.resize(fileNames_.size());
  std::iota(folderOrder_.begin(), folderOrder_.end(), 0);
  std::iota(fileOrder_.begin(), fileOrder_.end(), 0);
  for (const TFolder& folder : folders_) {
    TIndex* folders = folderOrder_.data() + folder.FirstFolder;
    SortByRank(folders, folders + folder.FolderCount,
               [this](TIndex f) { return ranks_[folders_[f].Name]; });
    TIndex* files = fileOrder_.data() + folder.FirstFile;
    SortByRank(files, files + folder.FileCount, [this](TIndex f) { return ranks_[fileNames_[f]]; });
  }
  names_.ShrinkToFit();
  frozen_ = true;
}

TCompactTree::TIndex TCompactTree::RankOf(std::string_view name) const {
  Assert(frozen_, kUnit, __LINE__);
  const TIndex id = names_.Find(name);
  if (id != TNameTable::kNone) return ranks_[id];
  const std::string key = CollationKey(name);
  auto found = std::lower_bound(keys_.begin(), keys_.end(), key);
  if (found == keys_.end() || *found != key) return kNoRank;
  return static_cast<TIndex>(found - keys_.begin());
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

  explicit TCompactFiller(TCompactTree& tree) : tree_(tree) {}

  void Read(TFolder folder, const std::vector<TFolderEntry>& entries) {
    size_t folders = 0;
    size_t files = 0;
    for (const TFolderEntry& entry : entries) {
      if (entry.NameIsPath) ++(entry.IsDirectory ? folders : files);
    }
    const TFolder first = tree_.AddContent(folder, folders, files);
    nextFolder_.resize(tree_.FolderCount());
    nextFolder_[folder] = first;
    TFolder file = tree_.Folder(folder).FirstFile;
    for (const TFolderEntry& entry : entries) {
      if (entry.NameIsPath && !entry.IsDirectory)
        tree_.SetFile(file++, entry.Name, entry.DateModified);
    }
  }
  TFolder AddFolder(TFolder parent, const TFolderEntry& entry) {
    const TFolder child = nextFolder_[parent]++;
    tree_.SetFolder(child, entry.Name, entry.DateModified);
    return child;
  }

 private:
  TCompactTree& tree_;
  // By folder: the number its next sub-folder gets.
  std::vector<TFolder> nextFolder_;
};

}  // namespace

TCompactTree TCompactTree::FromDisk(std::string_view path, TScanReport* report) {
  TCompactTree tree;
  if (!DirectoryExists(path)) return tree;
  TCompactFiller filler(tree);
  WalkDisk(path, 0, "\\", filler, report);
  return tree;
}

}  // namespace ormelin
