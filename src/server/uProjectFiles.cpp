#include "server/uProjectFiles.h"

#include <vector>

#include "platform/Exceptions.h"
#include "platform/Paths.h"

namespace ormelin {

namespace {

[[noreturn]] void Refuse(const std::string& fullPath, const char* reason) {
  std::string shown = fullPath;
  for (char& c : shown) {
    if (c == '\0') c = '?';
  }
  throw EFOpenError(shown, reason);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// A part that names a parent folder. Besides "..", parts of dots and blanks
// holding two dots or more count too: the Windows file system drops trailing
// dots and blanks, so ". ." or "..." would lead upwards there.
bool IsParentPart(std::string_view part) {
  int dots = 0;
  for (char c : part) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// The parts of a native path after lexical resolution of "." and ".."; a
// ".." that would climb above the start is kept as a part of its own.
void ResolveParts(std::string_view path, std::vector<std::string_view>& parts) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != '/') ++end;
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty() || parts.back() == "..") {
        parts.push_back(part);
      } else {
        parts.pop_back();
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
}

}  // namespace

std::string ProjectFilePath(std::string_view root, std::string_view path) {
  std::string fullPath = IncludeTrailingBackslash(root);
  fullPath += path;

  if (path.find('\0') != std::string_view::npos) {
    Refuse(fullPath, "The path contains a NUL character.");
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (IsParentPart(path.substr(start, end - start))) {
      Refuse(fullPath, "The path leads outside the project's root folder.");
    }
    start = end + 1;
  }

  // The same question on the paths the file system will see: the joined path
  // must stay the root or lie below it.
  std::string nativeRoot = NativePath(root);
  std::string nativeFull = NativePath(fullPath);
  std::vector<std::string_view> rootParts;
  std::vector<std::string_view> fullParts;
  bool rootAbsolute = !nativeRoot.empty() && nativeRoot.front() == '/';
  bool fullAbsolute = !nativeFull.empty() && nativeFull.front() == '/';
  ResolveParts(nativeRoot, rootParts);
  ResolveParts(nativeFull, fullParts);
  bool inside = rootAbsolute == fullAbsolute && fullParts.size() >= rootParts.size();
  for (size_t i = 0; inside && i < rootParts.size(); ++i) inside = fullParts[i] == rootParts[i];
  if (!inside) Refuse(fullPath, "The path leads outside the project's root folder.");
  return fullPath;
}

}  // namespace ormelin
