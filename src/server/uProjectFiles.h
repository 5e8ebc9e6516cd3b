// Where a GetFile path leads inside a project's root folder. The path a
// client sends is joined to the root as the protocol defines it (root, "\"
// unless the root ends with one, then the path as received); a path that
// could leave the root is refused before anything is opened. Links that the
// administrator placed inside the root are followed like any other entry.
// Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The full path of `path` below `root`. Raises EFOpenError
// "Cannot open file "%s". %s" with the joined path and the reason when the
// path holds a NUL byte or a ".." part, or otherwise resolves outside the
// root under the platform's rules (platform/PathConfinement.h).
std::string ProjectFilePath(std::string_view root, std::string_view path);

}  // namespace ormelin
