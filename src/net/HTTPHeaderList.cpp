#include "net/HTTPHeaderList.h"

#include "platform/Text.h"

namespace ormelin {

size_t THeaderList::Find(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    const size_t colon = line.find(':');
    if (colon != std::string::npos && SameTextFolded(std::string_view(line).substr(0, colon), name))
      return i;
  }
  return lines_.size();
}

std::string THeaderList::Values(std::string_view name) const {
  const size_t index = Find(name);
  if (index >= lines_.size()) return std::string();
  const std::string& line = lines_[index];
  std::string value = line.substr(line.find(':') + 1);
  for (size_t i = index + 1; i < lines_.size(); ++i) {
    const std::string& next = lines_[i];
    if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
    value += ' ';
    value += Trim(next);
  }
  return Trim(value);
}

void THeaderList::SetValue(std::string_view name, std::string_view value) {
  const size_t index = Find(name);
  if (value.empty()) {
    if (index < lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
    return;
  }
  std::string line;
  line.append(name).append(": ").append(value);
  if (index < lines_.size()) {
    lines_[index] = std::move(line);
  } else {
    lines_.push_back(std::move(line));
  }
}

}  // namespace ormelin
