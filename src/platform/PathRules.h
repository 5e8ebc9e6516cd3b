// What the confinement rules of both systems share (PathConfinement.cpp and
// WindowsPathRules.cpp): the refusal, and the checks on the path as the
// client sent it. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

inline constexpr char kPathHoldsNul[] = "The path contains a NUL character.";
inline constexpr char kPathLeavesRoot[] = "The path leads outside the project's root folder.";

// Raises EFOpenError with the joined path, any NUL byte shown as "?".
[[noreturn]] void RefusePath(const std::string& fullPath, const char* reason);

inline bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

// Refuses a requested path that holds a NUL byte or a part leading upwards.
void CheckRequestedPath(const std::string& fullPath, std::string_view path);

}  // namespace ormelin
