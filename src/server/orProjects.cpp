#include "server/orProjects.h"

#include "platform/Collation.h"
#include "platform/Exceptions.h"

namespace ormelin {

void TorProjectList::Clear() {
  items_.clear();
}

TorProject& TorProjectList::Add() {
  items_.push_back(std::make_unique<TorProject>());
  return *items_.back();
}

TorProject& TorProjectList::Add(std::string name, std::string path) {
  items_.push_back(std::make_unique<TorProject>(std::move(name), std::move(path)));
  return *items_.back();
}

TorProject& TorProjectList::Items(int index) const {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  return *items_[static_cast<size_t>(index)];
}

TorProject* TorProjectList::FindByName(std::string_view name) const {
  for (const auto& project : items_) {
    if (AnsiSameText(project->Name, name)) return project.get();
  }
  return nullptr;
}

}  // namespace ormelin
