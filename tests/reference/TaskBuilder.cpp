#include "reference/TaskBuilder.h"

#include <memory>
#include <utility>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "comparer/Tasks.h"
#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"
#include "reference/FrozenTree.h"

namespace ormelin {

namespace {

const char* const kUnit = "TaskBuilder";

}  // namespace

void TTaskBuilder::Build(TDirectory* source, TDirectory* target, TTaskList* taskList) {
  Assert(source != nullptr && target != nullptr && taskList != nullptr, kUnit, __LINE__);
  TaskList = taskList;
  TaskList->Clear();
  CompareDirectories(source, target);
}

void TTaskBuilder::Build(const TFrozenTree& source, TDirectory* target, TTaskList* taskList) {
  frozen_ = &source;
  try {
    Build(source.Root(), target, taskList);
  } catch (...) {
    frozen_ = nullptr;
    throw;
  }
  frozen_ = nullptr;
}

void TTaskBuilder::PrepareLevel(TDirectory* folder) const {
  if (frozen_ == nullptr || !frozen_->Holds(folder)) folder->Sort(false);
}

TDirectory* TTaskBuilder::DirectoryAt(const TDirectory* folder, int index) const {
  return frozen_ != nullptr && frozen_->Holds(folder) ? frozen_->SortedDirectory(folder, index)
                                                      : folder->GetDirectory(index);
}

TFile* TTaskBuilder::FileAt(const TDirectory* folder, int index) const {
  return frozen_ != nullptr && frozen_->Holds(folder) ? frozen_->SortedFile(folder, index)
                                                      : folder->GetFile(index);
}

void TTaskBuilder::CompareDirectories(TDirectory* source, TDirectory* target) {
  // One frame per pair of equally named folders on the current path; `j`
  // runs over the source's sub-folders, `i` is the position in the target's.
  struct TFrame {
    TDirectory* source;
    TDirectory* target;
    int j = 0;
    int i = 0;
  };
  std::vector<TFrame> stack;
  auto enter = [this, &stack](TDirectory* s, TDirectory* t) {
    PrepareLevel(s);
    PrepareLevel(t);
    CompareFiles(s, t);
    stack.push_back(TFrame{s, t});
  };

  enter(source, target);
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    TDirectory* s = frame.source;
    TDirectory* t = frame.target;
    if (frame.j >= s->DirectoryCount()) {
      for (; frame.i < t->DirectoryCount(); ++frame.i) DeleteDirectory(DirectoryAt(t, frame.i));
      stack.pop_back();
      continue;
    }
    TDirectory* sourceFolder = DirectoryAt(s, frame.j++);
    int order = 1;
    while (frame.i < t->DirectoryCount()) {
      order = CompareNames(*DirectoryAt(t, frame.i), *sourceFolder);
      if (order >= 0) break;
      DeleteDirectory(DirectoryAt(t, frame.i));
      ++frame.i;
    }
    if (frame.i < t->DirectoryCount() && order == 0) {
      TDirectory* targetFolder = DirectoryAt(t, frame.i);
      ++frame.i;
      enter(sourceFolder, targetFolder);  // `frame` may dangle from here on
    } else {
      InsertDirectory(sourceFolder);
    }
  }
}

void TTaskBuilder::CompareFiles(TDirectory* source, TDirectory* target) {
  int i = 0;
  const int targetCount = target->FileCount();
  for (int j = 0; j < source->FileCount(); ++j) {
    const TFile* sourceFile = FileAt(source, j);
    int order = 1;
    while (i < targetCount) {
      order = CompareNames(*FileAt(target, i), *sourceFile);
      if (order >= 0) break;
      Emit(kTaskDeleteFile, DelimitedItem(FileAt(target, i)->GetFullPath()));
      ++i;
    }
    if (i < targetCount && order == 0) {
      if (FileAt(target, i)->DateModified() < sourceFile->DateModified()) {
        Emit(kTaskUpdateFile, FileParams(*sourceFile));
      }
      ++i;
    } else {
      Emit(kTaskInsertFile, FileParams(*sourceFile));
    }
  }
  for (; i < targetCount; ++i)
    Emit(kTaskDeleteFile, DelimitedItem(FileAt(target, i)->GetFullPath()));
}

void TTaskBuilder::AddInsertDirTask(TDirectory* folder, int index) {
  InsertDirectory(folder->GetDirectory(index));
}

void TTaskBuilder::InsertDirectory(const TDirectory* folder) {
  // Pre-order over the new folder's subtree with an explicit stack of
  // (folder, next sub-folder) so that parents come before their content and
  // each folder's files before its sub-folders.
  std::vector<std::pair<const TDirectory*, int>> stack;
  auto insert = [this, &stack](const TDirectory* directory) {
    Emit(kTaskInsertDir, directory->GetFullPath());
    for (int f = 0; f < directory->FileCount(); ++f) {
      Emit(kTaskInsertFile, FileParams(*directory->GetFile(f)));
    }
    stack.emplace_back(directory, 0);
  };
  insert(folder);
  while (!stack.empty()) {
    auto& [directory, next] = stack.back();
    if (next >= directory->DirectoryCount()) {
      stack.pop_back();
      continue;
    }
    insert(directory->GetDirectory(next++));
  }
}

void TTaskBuilder::AddDeleteDirTask(TDirectory* folder, int index) {
  DeleteDirectory(folder->GetDirectory(index));
}

void TTaskBuilder::DeleteDirectory(const TDirectory* folder) {
  Emit(kTaskDeleteDir, folder->GetFullPath());
}

void TTaskBuilder::AddInsertFileTask(TDirectory* folder, int index) {
  Emit(kTaskInsertFile, FileParams(*folder->GetFile(index)));
}

void TTaskBuilder::AddUpdateFileTask(TDirectory* folder, int index) {
  Emit(kTaskUpdateFile, FileParams(*folder->GetFile(index)));
}

void TTaskBuilder::AddDeleteFileTask(TDirectory* folder, int index) {
  Emit(kTaskDeleteFile, DelimitedItem(folder->GetFile(index)->GetFullPath()));
}

std::string TTaskBuilder::FileParams(const TFile& file) const {
  return DelimitedPair(file.GetFullPath(),
                       TLoader::DateTimeToText(file.DateModified(), FormatSettings));
}

void TTaskBuilder::Emit(std::string_view name, const std::string& params) {
  Assert(TaskList != nullptr, kUnit, __LINE__);
  auto task = std::make_unique<TBaseTask>();
  task->SetName(name);
  task->SetParams(params);
  TaskList->AddTask(std::move(task));
}

void RemoveDeleteTasks(TTaskList& list) {
  list.RemoveTasksOfKind(kTaskDeleteDir);
  list.RemoveTasksOfKind(kTaskDeleteFile);
}

}  // namespace ormelin
