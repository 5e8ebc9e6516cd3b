// The task list of one mirror run as the client keeps it: each task's kind
// and parameter text, in list order, packed into large blocks of text
// rather than an object with two strings per task (a first mirror of a
// large project has hundreds of thousands of tasks).
//
// Threading: a list belongs to one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

struct TMirrorTask {
  std::string_view Name;  // the kind: "insert_file", ...
  std::string_view Params;
};

class TMirrorTaskList {
 public:
  TMirrorTaskList() = default;
  TMirrorTaskList(const TMirrorTaskList&) = delete;
  TMirrorTaskList& operator=(const TMirrorTaskList&) = delete;

  void Add(std::string_view name, std::string_view params);
  int Count() const { return static_cast<int>(entries_.size()); }
  // The task at `index` (0 .. Count-1); its texts live as long as the list
  // is not cleared.
  TMirrorTask Get(int index) const;
  // Forgets every task and gives their memory back.
  void Clear();

 private:
  struct TEntry {
    const char* Name;
    const char* Params;
    uint32_t NameSize;
    uint32_t ParamsSize;
  };
  // A copy of `text` in the blocks.
  const char* Keep(std::string_view text);
  // `name` among the few kinds kept once each, or null.
  const char* KnownKind(std::string_view name);

  std::vector<TEntry> entries_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // where the current block's free bytes begin
  size_t blockFree_ = 0;
  std::deque<std::string> kinds_;  // the distinct kinds met first
};

}  // namespace ormelin
