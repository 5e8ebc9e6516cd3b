// The result of a tree comparison: an ordered list of tasks, each naming one
// step ("insert_dir", "delete_dir", "insert_file", "delete_file",
// "update_file") with its parameter text, and the task-list XML that the
// server sends to a client.
//
// Ownership: the list owns its tasks; a task added with AddTask belongs to
// it and is destroyed by RemoveTask, Clear or the list's destruction.
// Threading: none. A task list belongs to one request on one thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

class TTaskList;

// One item of a comma-delimited parameter text: enclosed in double quotes,
// with every quote inside doubled, when it holds a character of code 1 to
// 32, a double quote or a comma; otherwise as it stands.
std::string DelimitedItem(std::string_view item);
// Two items joined by "," after DelimitedItem each.
std::string DelimitedPair(std::string_view first, std::string_view second);

class TBaseTask {
 public:
  TBaseTask() = default;
  TBaseTask(const TBaseTask&) = delete;
  TBaseTask& operator=(const TBaseTask&) = delete;
  virtual ~TBaseTask() = default;

  // The list that holds the task, set by TTaskList::AddTask; null before.
  TTaskList* Owner() const { return owner_; }

  // The task kind, which is also the name its command is registered under.
  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_.assign(name); }

  const std::string& Params() const { return params_; }
  void SetParams(std::string_view params) { params_.assign(params); }

  // Runs the command registered under Name with the owner's TargetRoot and
  // SourceRoot (empty without an owner) and Params; returns -1. An unknown
  // name raises "Class %s not found"; the command's errors pass unchanged.
  virtual int Execute();

 private:
  friend class TTaskList;

  TTaskList* owner_ = nullptr;
  std::string name_;
  std::string params_;
};

class TTaskList {
 public:
  TTaskList() = default;
  TTaskList(const TTaskList&) = delete;
  TTaskList& operator=(const TTaskList&) = delete;
  virtual ~TTaskList();

  // Texts handed unchanged to every command a task runs: the local folder
  // the task paths apply to, and where file contents come from. Empty on
  // the server.
  std::string SourceRoot;
  std::string TargetRoot;

  // Destroys every task.
  void Clear();
  // Appends the task (null: nothing), takes ownership and sets its Owner.
  void AddTask(TBaseTask* task);
  void AddTask(std::unique_ptr<TBaseTask> task) { AddTask(task.release()); }
  int Count() const { return static_cast<int>(taskItems_.size()); }
  // Null while the list is empty; otherwise the task at `index`, raising
  // EListError "List index out of bounds (%d)" outside 0..Count-1.
  TBaseTask* GetTask(int index) const;
  // Destroys the task and returns its former index; a task that is not in
  // the list is left alone and the result is -1 (also on an empty list).
  int RemoveTask(TBaseTask* task);
  // Destroys every task whose Name equals `name` (locale-aware, case
  // ignored), keeping the order of the others; returns how many went. One
  // pass over the list, where removing them one by one costs a pass each.
  int RemoveTasksOfKind(std::string_view name);

  // The task-list XML: empty text for an empty list, otherwise root "xml"
  // with one "task" element per task (kind as its text) holding one "param"
  // element (the parameter text).
  std::string GetXML() const;

 private:
  std::vector<std::unique_ptr<TBaseTask>> taskItems_;
};

}  // namespace ormelin
