#include "server/uProjectFiles.h"

namespace ormelin {

namespace {

// The joined path, refused before it is opened when it already resolves
// outside: a folder or a file the server may not read out there would
// otherwise fail with a reason of its own. A path that resolves nowhere is
// left to the open, whose reason (a missing file) then tells nothing.
const std::string& OpenablePath(const TResolvedRoot& root, const std::string& fullPath) {
  if (root.Locate(fullPath) == TResolvedRoot::TPlace::Outside) RefuseAsMissing(fullPath);
  return fullPath;
}

}  // namespace

std::string ProjectFilePath(std::string_view root, std::string_view path) {
  return ConfinedPath(root, path);
}

TProjectFile::TProjectFile(std::string_view root, std::string_view path)
    : TProjectFile(TResolvedRoot(root), ProjectFilePath(root, path)) {}

TProjectFile::TProjectFile(const TResolvedRoot& root, const std::string& fullPath)
    : TFileStream(OpenablePath(root, fullPath)) {
  if (!root.HoldsOpenFile(NativeHandle(), fullPath)) RefuseAsMissing(fullPath);
}

}  // namespace ormelin
