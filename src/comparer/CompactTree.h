// A project's folder tree packed for comparison, as the server keeps it
// between syncs: no object per entry, each distinct name stored once. Every
// folder's files and sub-folders lie next to each other in two arrays, in
// the order they were filled in (the disk's), and beside them each folder
// keeps its name order (that of TDirectory::Sort). A file costs 16 bytes
// (name number, time, place in the name order); a name that recurs in many
// folders costs nothing more.
//
// Names are compared by their collation keys, as TDirectory compares them.
// The keys are computed once per distinct name when the tree is frozen, and
// each name gets the rank of its key among the tree's keys: equal ranks are
// equal names (case ignored), and rank order is name order. A name from
// elsewhere (the client's) is ranked by RankOf: by its bytes when the tree
// holds them, otherwise by its key, found among the tree's keys or not.
//
// A tree is filled (the disk scan, or a copy of a TDirectory), then frozen;
// from then on it is read-only and any number of threads may read it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "comparer/NameTable.h"
#include "comparer/StructStreamer.h"
#include "platform/DateTime.h"

namespace ormelin {

class TDirectory;

class TCompactTree {
 public:
  using TIndex = uint32_t;
  // The rank of a name no name of the tree equals.
  static constexpr TIndex kNoRank = UINT32_MAX;

  struct TFolder {
    TIndex Name = 0;
    TIndex FirstFolder = 0;  // its sub-folders are the folders numbered from here on
    TIndex FolderCount = 0;
    TIndex FirstFile = 0;  // its files are the files numbered from here on
    TIndex FileCount = 0;
    TDateTime DateModified = 0;
  };

  // An empty tree: the root folder alone, named "\".
  TCompactTree();
  TCompactTree(TCompactTree&&) = default;
  TCompactTree& operator=(TCompactTree&&) = default;

  // Filling. Gives `folder` (still without content) `folders` sub-folders
  // and `files` files, all unnamed, and returns the number of the first
  // sub-folder; the files start at that folder's FirstFile.
  TIndex AddContent(TIndex folder, size_t folders, size_t files);
  void SetFolder(TIndex folder, std::string_view name, TDateTime date);
  void SetFile(TIndex file, std::string_view name, TDateTime date);

  // Ranks the names and fixes every folder's name order; read-only after.
  void Freeze();

  // Patching: a tree to be filled like a new one, from the frozen
  // `previous` and the disk, knowing `previous`'s names already (so that
  // Freeze(&previous) ranks only the names new to it).
  static TCompactTree Successor(const TCompactTree& previous);
  // Fills `folder` (still without content) with the content of
  // `previousFolder` of `previous`, which this tree succeeds, its
  // sub-folders named but without content; returns the first sub-folder's
  // number, in the order of `previous`.
  TIndex CopyContent(TIndex folder, const TCompactTree& previous, TIndex previousFolder);
  // Scans the folder at `path` into `folder` (still without content), as
  // FromDisk scans the root; `treePath` ("\a\b\") and `level` (its depth)
  // are the folder's in this tree, `confinedTo` the root's path (links
  // leading out of it are left out).
  void FillFromDisk(TIndex folder, std::string_view path, std::string treePath, int level,
                    TScanReport* report, std::string_view confinedTo);
  // Freeze for a tree made by Successor(previous): the names previous knew
  // keep their order, only new ones get keys, and the folders copied whole
  // keep their name order.
  void Freeze(const TCompactTree& previous);
  // The names held, in use or not (each is stored once).
  size_t NameCount() const { return names_.Count(); }
  bool Frozen() const { return frozen_; }

  // The root is folder 0.
  const TFolder& Folder(TIndex folder) const { return folders_[folder]; }
  size_t FolderCount() const { return folders_.size(); }
  size_t FileCount() const { return fileNames_.size(); }
  std::string_view FileName(TIndex file) const { return Name(fileNames_[file]); }
  std::string_view FolderName(TIndex folder) const { return Name(folders_[folder].Name); }
  TDateTime FileDate(TIndex file) const { return fileDates_[file]; }
  TIndex FileRank(TIndex file) const { return ranks_[fileNames_[file]]; }
  TIndex FolderRank(TIndex folder) const { return ranks_[folders_[folder].Name]; }
  // The n-th sub-folder and file of `folder` in name order (frozen trees).
  TIndex SortedFolder(const TFolder& folder, TIndex n) const {
    return folderOrder_[folder.FirstFolder + n];
  }
  TIndex SortedFile(const TFolder& folder, TIndex n) const {
    return fileOrder_[folder.FirstFile + n];
  }

  // The rank of `name` among the names of this frozen tree, kNoRank when
  // none equals it. Safe from any thread.
  TIndex RankOf(std::string_view name) const;

  // The same tree as a TDirectory (for tests and tools): `target` is
  // cleared, takes the root's name and time, and gets every entry in fill
  // order.
  void CopyTo(TDirectory* target) const;
  static TCompactTree FromDirectory(const TDirectory& source);

  // A scan of the folder at `path` with the rules and the report of
  // TLoader::LoadFromDisk, straight into a (not yet frozen) compact tree.
  static TCompactTree FromDisk(std::string_view path, TScanReport* report = nullptr);

 private:
  std::string_view Name(TIndex name) const { return names_.Name(name); }
  // Fixes every folder's name order (copied from `previous` where a folder
  // was copied whole) and ends the filling.
  void SortFolders(const TCompactTree* previous);

  std::vector<TFolder> folders_;
  std::vector<TIndex> fileNames_;
  std::vector<TDateTime> fileDates_;
  // Name order of each folder's range: folder and file numbers.
  std::vector<TIndex> folderOrder_;
  std::vector<TIndex> fileOrder_;

  TNameTable names_;
  // Filled by Freeze: each name's rank, and the distinct keys in order.
  std::vector<TIndex> ranks_;
  // (Shared with the successor when it adds no name.)
  std::shared_ptr<const std::vector<std::string>> keys_;
  // Patching: per folder, the folder of the previous tree whose content it
  // copied (kNoRank: none); empty in a tree filled from scratch.
  std::vector<TIndex> copiedFrom_;
  bool frozen_ = false;
};

}  // namespace ormelin
