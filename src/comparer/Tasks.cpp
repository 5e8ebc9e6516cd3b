#include "comparer/Tasks.h"

#include <algorithm>

#include "comparer/orXMLParser.h"
#include "comparer/uorBaseCommand.h"
#include "platform/Collation.h"
#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {

int TBaseTask::Execute() {
  TorCommandClass command = FindCommandClass(name_);
  static const std::string none;
  command->Execute(owner_ ? owner_->TargetRoot : none, owner_ ? owner_->SourceRoot : none, params_);
  return -1;
}

TTaskList::~TTaskList() {
  Clear();
}

void TTaskList::Clear() {
  // Replaced rather than cleared, so the storage of a long list goes too.
  std::vector<std::unique_ptr<TBaseTask>>().swap(taskItems_);
}

void TTaskList::AddTask(TBaseTask* task) {
  if (task == nullptr) return;
  taskItems_.emplace_back(task);
  task->owner_ = this;
}

TBaseTask* TTaskList::GetTask(int index) const {
  if (taskItems_.empty()) return nullptr;
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  return taskItems_[static_cast<size_t>(index)].get();
}

int TTaskList::RemoveTask(TBaseTask* task) {
  // From the end: callers remove while walking from the last index down.
  for (size_t i = taskItems_.size(); i-- > 0;) {
    if (taskItems_[i].get() == task) {
      taskItems_.erase(taskItems_.begin() + static_cast<std::ptrdiff_t>(i));
      if (taskItems_.empty()) Clear();
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TTaskList::RemoveTasksOfKind(std::string_view name) {
  const std::string key = CollationKey(name);
  std::string lastName;  // consecutive tasks mostly share their kind
  bool lastMatched = false;
  auto matches = [&](const std::unique_ptr<TBaseTask>& task) {
    if (task->Name() != lastName || lastName.empty()) {
      lastName = task->Name();
      lastMatched = CollationKey(lastName) == key;
    }
    return lastMatched;
  };
  auto kept = std::remove_if(taskItems_.begin(), taskItems_.end(), matches);
  int removed = static_cast<int>(taskItems_.end() - kept);
  taskItems_.erase(kept, taskItems_.end());
  if (taskItems_.empty()) Clear();
  return removed;
}

std::string TTaskList::GetXML() const {
  if (taskItems_.empty()) return std::string();
  TorXMLNode root;
  root.SetName("xml");
  for (const auto& task : taskItems_) {
    auto* node = new TorXMLNode(&root);
    node->SetName(kTaskElement);
    node->SetText(task->Name());
    auto* param = new TorXMLNode(node);
    param->SetName(kParamElement);
    param->SetText(task->Params());
  }
  return root.GetXML();
}

namespace {

bool NeedsQuotes(std::string_view item) {
  for (char c : item) {
    auto code = static_cast<unsigned char>(c);
    if ((code >= 1 && code <= 32) || c == '"' || c == ',') return true;
  }
  return false;
}

}  // namespace

std::string DelimitedItem(std::string_view item) {
  if (!NeedsQuotes(item)) return std::string(item);
  std::string quoted;
  quoted.reserve(item.size() + 2);
  quoted += '"';
  for (char c : item) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string DelimitedPair(std::string_view first, std::string_view second) {
  return DelimitedItem(first) + "," + DelimitedItem(second);
}

}  // namespace ormelin
