#include "server/uProjectFiles.h"

#include "platform/PathConfinement.h"

namespace ormelin {

std::string ProjectFilePath(std::string_view root, std::string_view path) {
  return ConfinedPath(root, path);
}

}  // namespace ormelin
