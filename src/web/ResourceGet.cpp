#include "web/ResourceGet.h"

#include <mutex>

#include "platform/Resources.h"

namespace ormelin {

// Defined in the source that the build generates from the resource files.
void RegisterEmbeddedResources();

void RegisterConsoleResources() {
  static std::once_flag registered;
  std::call_once(registered, [] { RegisterEmbeddedResources(); });
}

std::string GetResourceText(std::string_view name, std::string_view type) {
  RegisterConsoleResources();
  return std::string(FindResource(name, type));
}

std::string_view GetResourceData(std::string_view name) {
  RegisterConsoleResources();
  return FindResource(name, "RCDATA");
}

}  // namespace ormelin
