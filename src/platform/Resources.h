// Resources compiled into the executable (page templates, the style sheet,
// images, version texts), looked up by name and type with letter case
// ignored. Registration happens during start-up; lookups are safe from any
// thread afterwards. The bytes live for the whole process.
#pragma once

#include <string_view>

namespace ormelin {

// Types as the system names them: "TEXT" for templates and version texts,
// "RCDATA" for raw data.
void RegisterResource(std::string_view name, std::string_view type, std::string_view data);

// Raises EResNotFound "Resource %s not found" for a name not registered.
std::string_view FindResource(std::string_view name, std::string_view type);

}  // namespace ormelin
