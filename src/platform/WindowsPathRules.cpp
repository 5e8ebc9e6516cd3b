#include <vector>

#include "platform/PathConfinement.h"
#include "platform/PathRules.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

constexpr char kPathNamesDevice[] = "The path names a device.";
constexpr char kPathNamesStream[] = "The path names an alternate data stream.";

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Windows drops trailing dots and blanks from every name it resolves.
std::string_view WithoutTrailingDotsAndBlanks(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

// A name that Windows opens as a device in whatever folder it stands:
// what comes before the first dot, without trailing blanks, is a device
// name ("CON", "con .txt", "Com1.log", "NUL..").
bool IsDeviceName(std::string_view part) {
  std::string_view base = WithoutTrailingDotsAndBlanks(part.substr(0, part.find('.')));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameAscii(base, device)) return true;
  }
  return base.size() == 4 &&
         (SameAscii(base.substr(0, 3), "COM") || SameAscii(base.substr(0, 3), "LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

// How a path is anchored, as Windows reads it.
enum class TAnchor {
  Relative,       // "docs"
  Rooted,         // "\docs": the current drive's root
  DriveRelative,  // "C:docs": the current folder of drive C
  Drive,          // "C:\docs"
  Share,          // "\\server\share\docs"
  Device,         // "\\?\C:\docs", "\\.\pipe\x": handed to the system as written
};

struct TAnchoredPath {
  TAnchor Anchor = TAnchor::Relative;
  std::vector<std::string_view> Prefix;  // drive, or server and share, or prefix parts
  std::vector<std::string_view> Parts;   // the names below the anchor, resolved
};

// Splits at "\" and "/", leaving out empty names.
std::vector<std::string_view> NamesOf(std::string_view path) {
  std::vector<std::string_view> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

TAnchoredPath AnchorOf(std::string_view path) {
  TAnchoredPath result;
  std::vector<std::string_view> names = NamesOf(path);
  size_t prefixNames = 0;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    if (path.size() >= 3 && (path[2] == '?' || path[2] == '.') &&
        (path.size() == 3 || IsPathSeparator(path[3]))) {
      // "\\?\C:", "\\.\device", "\\?\UNC\server\share".
      result.Anchor = TAnchor::Device;
      prefixNames = names.size() >= 2 && SameAscii(names[1], "UNC") ? 4 : 2;
    } else {
      result.Anchor = TAnchor::Share;
      prefixNames = 2;
    }
  } else if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    const bool absolute = path.size() >= 3 && IsPathSeparator(path[2]);
    result.Anchor = absolute ? TAnchor::Drive : TAnchor::DriveRelative;
    result.Prefix.push_back(path.substr(0, 2));
    names.front().remove_prefix(2);  // "C:docs" names "docs"
    if (names.front().empty()) names.erase(names.begin());
  } else if (!path.empty() && IsPathSeparator(path[0])) {
    result.Anchor = TAnchor::Rooted;
  }
  prefixNames = std::min(prefixNames, names.size());
  result.Prefix.insert(result.Prefix.end(), names.begin(), names.begin() + prefixNames);
  // "." and ".." are resolved lexically, except below a device prefix, which
  // Windows takes as written; a ".." above the start stays a name of its own.
  for (size_t i = prefixNames; i < names.size(); ++i) {
    std::string_view name = names[i];
    if (result.Anchor != TAnchor::Device) {
      if (name == ".") continue;
      if (name == "..") {
        if (!result.Parts.empty() && result.Parts.back() != "..") {
          result.Parts.pop_back();
          continue;
        }
      } else {
        name = WithoutTrailingDotsAndBlanks(name);
      }
    }
    result.Parts.push_back(name);
  }
  return result;
}

bool SameNames(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
               size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!SameTextFolded(a[i], b[i])) return false;
  }
  return true;
}

}  // namespace

std::string ConfinedPathByWindowsRules(std::string_view root, std::string_view path) {
  std::string fullPath = IncludeTrailingBackslash(root);
  fullPath += path;
  CheckRequestedPath(fullPath, path);

  // A request that begins like a share or a device path: even where the
  // join would fold it below the root, it is no path of a project file.
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    RefusePath(fullPath, kPathLeavesRoot);
  }
  for (std::string_view name : NamesOf(path)) {
    const size_t colon = name.find(':');
    if (colon != std::string_view::npos) {
      // "C:x" or "\C:\x" changes the drive; any other colon opens a stream.
      const bool drive = colon == 1 && IsAsciiLetter(name[0]);
      RefusePath(fullPath, drive ? kPathLeavesRoot : kPathNamesStream);
    }
    if (IsDeviceName(name)) RefusePath(fullPath, kPathNamesDevice);
  }

  // The joined path must keep the root's anchor and stay the root or lie
  // below it.
  const TAnchoredPath rootPath = AnchorOf(root);
  const TAnchoredPath full = AnchorOf(fullPath);
  bool inside = rootPath.Anchor == full.Anchor && rootPath.Prefix.size() == full.Prefix.size() &&
                SameNames(rootPath.Prefix, full.Prefix, rootPath.Prefix.size()) &&
                full.Parts.size() >= rootPath.Parts.size() &&
                SameNames(rootPath.Parts, full.Parts, rootPath.Parts.size());
  if (!inside) RefusePath(fullPath, kPathLeavesRoot);
  return fullPath;
}

}  // namespace ormelin
