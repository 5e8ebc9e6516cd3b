#include "platform/PathConfinement.h"

namespace ormelin {

std::string ConfinedPath(std::string_view root, std::string_view path) {
  return ConfinedPathByPosixRules(root, path);
}

}  // namespace ormelin
