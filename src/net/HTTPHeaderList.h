// The header block of an HTTP request or response: an ordered list of lines
// "name: value". Lookup ignores the letter case of the name and unfolds
// continuation lines (lines that begin with a blank or a tab). Owned by one
// request or response, used by its thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

class THeaderList {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t index) const { return lines_[index]; }
  const std::vector<std::string>& Lines() const { return lines_; }

  // The value of the first line of that name with the continuation lines
  // after it appended (each trimmed, joined by one blank), trimmed; the
  // empty text when there is no such line.
  std::string Values(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) < lines_.size(); }
  // Replaces the first line of that name in place or appends one; an empty
  // value deletes the line.
  void SetValue(std::string_view name, std::string_view value);

 private:
  size_t Find(std::string_view name) const;

  std::vector<std::string> lines_;
};

}  // namespace ormelin
