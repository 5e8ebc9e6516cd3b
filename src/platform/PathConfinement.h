// Where a path that a client asks for leads inside a folder it is confined
// to (a project's root folder for GetFile). The path is joined to the root
// as the protocol defines it: the root, "\" unless the root ends with "\" or
// "/", then the path as received. A path that could reach anything but a
// file below the root is refused before anything is opened (the rule sets);
// where links inside the root lead is then asked of the file system
// (TResolvedRoot).
//
// Both rule sets are plain text work without system calls, so either one
// can be tried on any machine. Pure functions, safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/NativeHandle.h"

namespace ormelin {

// The joined path under this platform's rules. Raises EFOpenError
// "Cannot open file "%s". %s" with the joined path (a NUL byte shown as "?")
// and the reason: "The path contains a NUL character.", "The path leads
// outside the project's root folder.", and on Windows also "The path names
// a device." and "The path names an alternate data stream.".
std::string ConfinedPath(std::string_view root, std::string_view path);

// Linux: "\" and "/" both separate parts; a part of two dots or more with
// blanks (".." and its look-alikes) is refused; the joined path, mapped to
// the file system's form, must stay the root or lie below it.
std::string ConfinedPathByPosixRules(std::string_view root, std::string_view path);

// Windows: as on Linux, and besides the path may not name a drive ("C:x",
// "\C:\x"), begin a UNC or device path ("\\server\share", "\\?\", "\\.\"),
// name an alternate data stream ("a.txt:s") or, in any part, a device
// ("CON", "PRN", "AUX", "NUL", "COM1" to "COM9", "LPT1" to "LPT9",
// "CONIN$", "CONOUT$"; any case, also with an extension or with trailing
// dots or blanks: "con .txt"). The joined path must keep the root's drive,
// share or prefix and stay below the root.
std::string ConfinedPathByWindowsRules(std::string_view root, std::string_view path);

// A root folder as the file system resolves it, for telling whether a link
// below it stays inside. Links (on Windows any reparse point: symbolic
// links and junctions) are followed to their final target, and so is the
// root, which may itself be a link or lie below one. A target is inside when
// it is the resolved root or lies below it, compared part by part: "/srv/a"
// holds neither "/srv/ab" nor "/srv" (on Windows with letter case ignored).
// Each question costs a walk of the path's parts through the file system,
// so a scan asks it only for the links it meets. Safe from any thread.
class TResolvedRoot {
 public:
  // Where a path's final target lies. Nowhere: it cannot be resolved (gone,
  // a dangling link, a circle of links, no access), or the root could not.
  enum class TPlace { Inside, Outside, Nowhere };

  // Resolves the system path `root` once.
  explicit TResolvedRoot(std::string_view root);
  ~TResolvedRoot();
  TResolvedRoot(const TResolvedRoot&) = delete;
  TResolvedRoot& operator=(const TResolvedRoot&) = delete;

  // Where the entry at the system path `path` leads, every link on the way
  // followed.
  TPlace Locate(std::string_view path) const;
  // Whether the file open as `handle` (a TFileStream's), which was opened
  // through `path`, is inside: asked of the open file, so that a link put
  // in the way after the open changes nothing. False when it cannot tell.
  bool HoldsOpenFile(TNativeHandle handle, std::string_view path) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// A root folder held open, so that the files below it are opened relative
// to it instead of by their full paths. Where the system can keep a path's
// whole resolution below a folder (Linux 5.6 and later), OpenBeneath opens a
// file only if no step of the way, links included, leaves the folder held:
// what it opens is inside without asking TResolvedRoot. Whatever it cannot
// open so (a missing file, a link through an absolute path even when it
// leads back inside, a system without the call; on Windows always) gives no
// handle, and the caller goes the full path's way. Safe from any thread.
class THeldRoot {
 public:
  // Opens the system path `root` as named: links in the root's own path
  // are the administrator's choice. A root that cannot be opened holds
  // nothing, and every OpenBeneath then gives no handle.
  explicit THeldRoot(std::string_view root);
  ~THeldRoot();
  THeldRoot(const THeldRoot&) = delete;
  THeldRoot& operator=(const THeldRoot&) = delete;

  // Whether the root's path still leads to the folder held: false once the
  // root (or a link on its way) has been moved, removed or pointed
  // elsewhere, or when the root could not be opened (on Windows, which
  // holds nothing, always true).
  bool StillNamed() const;
  // The file at `path` (a GetFile path that ConfinedPath accepted: parts
  // separated by "\" or "/", code page 1250), opened for reading without
  // blocking on a FIFO, or kNoNativeHandle. The caller owns the handle and
  // checks what it is, as TFileStream does.
  TNativeHandle OpenBeneath(std::string_view path) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Raises what opening a missing file raises: EFOpenError "Cannot open file
// "%s". %s" with `fullPath` and the system's reason for a file not found.
// For a file the caller must not admit exists.
[[noreturn]] void RefuseAsMissing(const std::string& fullPath);

}  // namespace ormelin
