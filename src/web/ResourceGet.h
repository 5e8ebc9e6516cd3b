// Reading the console's resources: the page templates, the version texts,
// the style sheet and the two images, all compiled into the executable and
// looked up by name with letter case ignored.
//
// Threading: every operation is safe from any thread. The resource bytes
// are read-only and live for the whole process.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// Registers the console's resources with the process's resource registry.
// Idempotent and thread-safe; the service module calls it at start-up and
// the lookups below call it too, so nothing depends on link order.
void RegisterConsoleResources();

// A copy of all bytes of the named resource of the given type ("TEXT" or
// "RCDATA"). A missing resource raises EResNotFound "Resource %s not found".
std::string GetResourceText(std::string_view name, std::string_view type);

// The stored bytes of a raw-data ("RCDATA") resource, without a copy, for
// the read-only reply streams of the style sheet and the images. Raises
// EResNotFound like GetResourceText.
std::string_view GetResourceData(std::string_view name);

}  // namespace ormelin
