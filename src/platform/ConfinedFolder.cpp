#include "platform/ConfinedFolder.h"

#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Paths.h"

namespace ormelin {

std::vector<std::string> ConfinedPathParts(std::string_view path, std::string_view shown,
                                           std::string& last) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      throw EFOpenError(std::string(shown), "Dio '..' izlazi iz mape"_cp1250);
    }
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  last.clear();
  if (!parts.empty()) {
    last = std::move(parts.back());
    parts.pop_back();
  }
  return parts;
}

ELinkInPath LinkInPathError(std::string_view shown, std::string_view walked) {
  return ELinkInPath(Format("Putanja '%s' prolazi kroz vezu '%s'; kroz veze se ne piše"_cp1250,
                            std::string(shown).c_str(), PlatformPath(walked).c_str()));
}

std::string ShownPath(std::string_view root, std::string_view path) {
  std::string full(root);
  full.append(path);
  return PlatformPath(full);
}

}  // namespace ormelin
