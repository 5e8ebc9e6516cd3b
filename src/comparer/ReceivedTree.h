// The client's tree as a sync needs it, read by TStreamingTreeReader: of
// each entry only its parent, its name's number (each distinct name is kept
// once) and, for a file, its time; a file costs 16 bytes. Once read, Group
// turns the names into their ranks among a project's names
// (TCompactTree::RankOf, once per distinct name) and orders every folder's
// lists by them, ready for SyncAnswerXML.
//
// It raises what a TDirectory raises while it is read (a second unnamed
// sibling), so that the reader's errors stay those of LoadFromXML.
//
// Threading: a received tree belongs to one sync; the project's tree it is
// ranked against is only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/NameTable.h"
#include "comparer/TreeReader.h"

namespace ormelin {

class TReceivedTree : public TTreeBuilder {
 public:
  using TIndex = TCompactTree::TIndex;

  // Name is the name's number while reading, its rank after Group.
  struct TFile {
    TIndex Parent;
    TIndex Name;
    TDateTime DateModified;
  };
  struct TFolder {
    TIndex Parent = 0;
    TIndex Name = kUnnamed;
    // How many of its files and sub-folders have no name (yet).
    TIndex UnnamedFiles = 0;
    TIndex UnnamedFolders = 0;
    // Its files are File(FirstFile) on (once grouped; while reading, as
    // long as they come together), its sub-folders SubFolder(FirstFolder)
    // on (once grouped).
    TIndex FirstFile = 0;
    TIndex FileCount = 0;
    TIndex FirstFolder = 0;
    TIndex FolderCount = 0;
  };

  TReceivedTree();

  THandle Root() override { return 0; }
  THandle AddFolder(THandle parent) override;
  THandle AddFile(THandle parent) override;
  void SetFolderName(THandle folder, const std::string& name) override;
  void SetFolderDate(THandle, TDateTime) override {}
  void SetFileName(THandle file, const std::string& name) override;
  void SetFileDate(THandle file, TDateTime date) override { files_[file].DateModified = date; }

  // Once the whole tree is read: ranks the names among those of `project`
  // (frozen), puts every folder's files and sub-folders next to each other,
  // each list in rank order (equal ranks in the order they came). The root
  // is folder 0. Called once.
  void Group(const TCompactTree& project);

  const TFolder& Folder(TIndex folder) const { return folders_[folder]; }
  // Grouped files and sub-folders.
  const TFile& File(TIndex position) const { return files_[position]; }
  TIndex SubFolder(TIndex position) const { return children_[position]; }

 private:
  // The name number of an entry whose name is empty; Group ranks it as
  // the empty name.
  static constexpr TIndex kUnnamed = UINT32_MAX - 1;

  TIndex Number(const std::string& name) { return name.empty() ? kUnnamed : names_.Intern(name); }

  TNameTable names_;
  std::vector<TFolder> folders_;
  std::vector<TFile> files_;
  std::vector<TIndex> children_;  // after Group: sub-folder numbers, by parent
  bool scattered_ = false;        // some folder's files did not come together
};

}  // namespace ormelin
