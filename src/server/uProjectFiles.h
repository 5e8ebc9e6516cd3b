// Where a GetFile path leads inside a project's root folder. The path a
// client sends is joined to the root as the protocol defines it (root, "\"
// unless the root ends with one, then the path as received); a path that
// could leave the root is refused before anything is opened. Links inside
// the root are followed while they lead to files inside it; a file that
// lies outside, reached through a link anywhere on the path, is refused as
// if it were missing, so that a client learns nothing of what is there.
// Safe from any thread; a TProjectFile belongs to one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/Mutex.h"
#include "platform/PathConfinement.h"
#include "platform/Streams.h"

namespace ormelin {

// The full path of `path` below `root`. Raises EFOpenError
// "Cannot open file "%s". %s" with the joined path and the reason when the
// path holds a NUL byte or a ".." part, or otherwise resolves outside the
// root under the platform's rules (platform/PathConfinement.h). Text work:
// links are not looked at.
std::string ProjectFilePath(std::string_view root, std::string_view path);

// The file at `path` below `root`, opened for GetFile. Raises what
// ProjectFilePath and TFileStream raise, and, when the file's final target
// is not inside the root's (TResolvedRoot), what a missing file raises
// (RefuseAsMissing) with the joined path. The target is asked of the open
// file, so a link swapped in while it is opened is caught too.
class TProjectFile : public TFileStream {
 public:
  TProjectFile(std::string_view root, std::string_view path);
  // The same, opened below `held` (the root's THeldRoot) where the system
  // can keep the whole open below it, with no question to TResolvedRoot;
  // otherwise as above.
  TProjectFile(const THeldRoot& held, std::string_view root, std::string_view path);

 private:
  TProjectFile(const TResolvedRoot& root, const std::string& fullPath);
};

// The projects' root folders held open for GetFile, one per root path,
// shared by the connections. A root whose path no longer leads to the
// folder held is opened again. Safe from any thread.
class TProjectRoots {
 public:
  // The held folder of the system path `root`, current when asked.
  std::shared_ptr<const THeldRoot> Find(const std::string& root);

 private:
  TMutex lock_;
  std::unordered_map<std::string, std::shared_ptr<const THeldRoot>> roots_ GUARDED_BY(lock_);
};

}  // namespace ormelin
