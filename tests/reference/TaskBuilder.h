// Compares two folder trees and fills a task list with the steps that turn
// the second tree (the target) into the first (the source): per folder
// level the files first, then the sub-folders, each as a merge walk over the
// two name-sorted lists; a missing folder is inserted with its whole content.
// Both trees are sorted in place level by level as the walk reaches them,
// except a frozen source (TFrozenTree), which is only read: its name order
// is taken from the frozen tree, so several builders may compare against
// one frozen tree at the same time. The walks keep their own stacks, so tree
// depth costs no call stack.
//
// The reference the sync's answer is tested against (the server answers
// from packed trees, comparer/SyncAnswer): linked by tests, fuzz targets
// and benchmarks only.
//
// Ownership: the builder neither owns the trees nor the task list.
// Threading: none. A builder, its target tree and its list belong to one
// request; a frozen source tree may be read by several builders at once.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ormelin {

class TDirectory;
class TFile;
class TFrozenTree;
class TTaskList;

class TTaskBuilder {
 public:
  // The list being filled, set by Build; not owned.
  TTaskList* TaskList = nullptr;
  // Conventions of the date-time texts in the file tasks; the process
  // locale's unless a caller pins others.
  TFormatSettings FormatSettings = DefaultFormatSettings();

  // Clears the list, then fills it with the tasks that turn `target` into
  // `source`, in emission order.
  void Build(TDirectory* source, TDirectory* target, TTaskList* taskList);
  // The same from a frozen source, read in its name order and left as it is.
  void Build(const TFrozenTree& source, TDirectory* target, TTaskList* taskList);

  // Sorts both folders' own lists, emits the file tasks of this level, then
  // walks the sub-folders: equal names are compared at once (depth first),
  // source-only folders are inserted, target-only folders deleted.
  void CompareDirectories(TDirectory* source, TDirectory* target);
  // The merge over the two folders' (already sorted) file lists: an update
  // when the target file is strictly older than the source file.
  void CompareFiles(TDirectory* source, TDirectory* target);

  // "insert_dir" for sub-folder `index` of `folder`, then its whole content
  // in the tree's own order: each folder's files, then its sub-folders.
  void AddInsertDirTask(TDirectory* folder, int index);
  void AddDeleteDirTask(TDirectory* folder, int index);
  void AddInsertFileTask(TDirectory* folder, int index);
  void AddUpdateFileTask(TDirectory* folder, int index);
  void AddDeleteFileTask(TDirectory* folder, int index);

 private:
  // A folder's lists in name order: the lists themselves once sorted, or
  // the order the frozen source keeps beside them.
  void PrepareLevel(TDirectory* folder) const;
  TDirectory* DirectoryAt(const TDirectory* folder, int index) const;
  TFile* FileAt(const TDirectory* folder, int index) const;
  void InsertDirectory(const TDirectory* folder);
  void DeleteDirectory(const TDirectory* folder);
  void Emit(std::string_view name, const std::string& params);
  std::string FileParams(const TFile& file) const;

  const TFrozenTree* frozen_ = nullptr;  // the source of a Build from one
};

// Takes the deletions out of `list`, keeping the order of the rest: what
// the server leaves out of a sync's answer.
void RemoveDeleteTasks(TTaskList& list);

}  // namespace ormelin
