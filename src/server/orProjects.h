// The configured projects: each a name, as clients give it in Sync and
// GetFile, and the root folder on the server that holds the reference copy.
// The list keeps file order; names need not be unique. The list has no lock
// of its own: it is filled while the service module starts and changed only
// by the console's settings action, both under the module's SettingsLock;
// connection threads read it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/uProjectAccess.h"

namespace ormelin {

class TorProject {
 public:
  TorProject() = default;
  TorProject(std::string name, std::string path) : Name(std::move(name)), Path(std::move(path)) {}

  std::string Name;
  std::string Path;
  // The project's <allow> element as read (written back only when present),
  // and who it lets in.
  std::optional<std::string> AllowText;
  TProjectAccess Access;
};

class TorProjectList {
 public:
  TorProjectList() = default;
  TorProjectList(const TorProjectList&) = delete;
  TorProjectList& operator=(const TorProjectList&) = delete;

  void Clear();
  // Appends an empty project and returns it; the list owns it.
  TorProject& Add();
  TorProject& Add(std::string name, std::string path);
  int Count() const { return static_cast<int>(items_.size()); }

  // The project at a 0-based index; "List index out of bounds (%d)" outside.
  TorProject& Items(int index) const;

  // The first project whose Name equals `name` by the locale-aware,
  // case-ignoring comparison; null when none matches. The project stays
  // valid until the list is cleared.
  TorProject* FindByName(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TorProject>> items_;
};

}  // namespace ormelin
