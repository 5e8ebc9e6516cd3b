#include "platform/ConfinedFolder.h"

#include "platform/Paths.h"

namespace ormelin {

std::string ShownPath(std::string_view root, std::string_view path) {
  std::string full(root);
  full.append(path);
  return PlatformPath(full);
}

}  // namespace ormelin
