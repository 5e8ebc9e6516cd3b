#include "platform/PathConfinement.h"

#include <vector>

#include "platform/Exceptions.h"
#include "platform/PathRules.h"
#include "platform/Paths.h"

namespace ormelin {

namespace {

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

// The Linux form of a path as the file system sees it: "\" becomes "/",
// names become UTF-8.
std::string PosixFormOf(std::string_view path) {
  std::string slashed(path);
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  return Cp1250ToUtf8(slashed);
}

// The parts of a Linux path after lexical resolution of "." and ".."; a
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

void RefusePath(const std::string& fullPath, const char* reason) {
  std::string shown = fullPath;
  for (char& c : shown) {
    if (c == '\0') c = '?';
  }
  throw EFOpenError(shown, reason);
}

void CheckRequestedPath(const std::string& fullPath, std::string_view path) {
  if (path.find('\0') != std::string_view::npos) RefusePath(fullPath, kPathHoldsNul);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    if (IsParentPart(path.substr(start, end - start))) RefusePath(fullPath, kPathLeavesRoot);
    start = end + 1;
  }
}

std::string ConfinedPathByPosixRules(std::string_view root, std::string_view path) {
  std::string fullPath = IncludeTrailingBackslash(root);
  fullPath += path;
  CheckRequestedPath(fullPath, path);

  // The same question on the paths the file system will see: the joined path
  // must stay the root or lie below it.
  std::string nativeRoot = PosixFormOf(root);
  std::string nativeFull = PosixFormOf(fullPath);
  std::vector<std::string_view> rootParts;
  std::vector<std::string_view> fullParts;
  bool rootAbsolute = !nativeRoot.empty() && nativeRoot.front() == '/';
  bool fullAbsolute = !nativeFull.empty() && nativeFull.front() == '/';
  ResolveParts(nativeRoot, rootParts);
  ResolveParts(nativeFull, fullParts);
  bool inside = rootAbsolute == fullAbsolute && fullParts.size() >= rootParts.size();
  for (size_t i = 0; inside && i < rootParts.size(); ++i) inside = fullParts[i] == rootParts[i];
  if (!inside) RefusePath(fullPath, kPathLeavesRoot);
  return fullPath;
}

}  // namespace ormelin
