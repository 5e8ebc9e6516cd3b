// Reads the task-list XML a server sends while its bytes arrive, handing on
// each task's kind and parameter text in list order: no node document is
// built and the text is never held whole. It reads what the node reader
// (TorXMLNode::Parse, then every "task" child of the outer element with its
// first "param" child) reads from the same bytes: the same tasks with the
// same texts, and the same error at the same place; a task is handed on
// when its element ends, or at Finish for one still open.
//
// Bytes may come split anywhere, down to one at a time. What the reader
// keeps is the open elements' names, the texts of the task being read, and
// a tag or a task's text run cut by a chunk's end.
//
// Threading: a reader belongs to one thread.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

class TTaskListReader {
 public:
  // Called with a task's kind and parameter text, both as the node reader
  // keeps element text (unescaped, trimmed); valid during the call only.
  using TTaskSink = std::function<void(std::string_view name, std::string_view params)>;

  explicit TTaskListReader(TTaskSink sink);
  TTaskListReader(const TTaskListReader&) = delete;
  TTaskListReader& operator=(const TTaskListReader&) = delete;

  // Reads the next bytes. Never raises: an error is kept and what follows
  // it ignored; Finish raises it.
  void Feed(std::string_view bytes);
  // Ends the text (a trailing run and an unfinished tag are dropped, as the
  // node reader drops them), hands on a task still open and raises what
  // reading raised (EXMLError). Called once.
  void Finish();

 private:
  // What an open element is to the task list.
  enum class TRole { Other, Task, Param };

  void Consume(std::string_view bytes);
  void Tag(std::string_view tag);
  // A child of the innermost open element, or the outer element when none
  // is open.
  void Open(std::string_view name, bool selfClosing);
  void EndTask();
  std::string* KeptText();  // the text the innermost open element adds to, or null

  TTaskSink sink_;
  std::vector<std::string> names_;  // the open elements' names, innermost last
  std::vector<TRole> roles_;
  std::string taskName_;
  std::string taskParams_;
  bool paramSeen_ = false;  // the open task has had its first "param" child
  std::string pending_;     // a tag or a kept run cut by a chunk's end
  bool inTag_ = false;
  std::string taskKey_;  // collation keys of "task" and "param"
  std::string paramKey_;
  std::exception_ptr failure_;
};

}  // namespace ormelin
