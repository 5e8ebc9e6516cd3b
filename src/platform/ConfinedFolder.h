// File operations that cannot leave a folder: a path below a root is opened
// from the root's handle one part at a time, and a part that is a link (on
// Windows any reparse point: a symbolic link, a junction, a mount point) is
// refused rather than followed. Everything done afterwards (creating,
// writing, timing, renaming, deleting) acts on names within the folder so
// opened, never on a path looked up again, so an entry swapped for a link
// between the check and the use cannot redirect anything: on Linux the
// operations are made relative to the folder's descriptor; on Windows every
// folder of the path stays open, without sharing for deletion, so none of
// them can be renamed, removed or replaced while the object lives.
//
// The root itself is opened as named (links in the root's own path are the
// user's choice). Names are code page 1250. One object belongs to one thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Streams.h"

namespace ormelin {

// A path below a confined root that crosses a link: "Putanja '%s' prolazi
// kroz vezu '%s'; kroz veze se ne piše", both paths as PlatformPath shows
// them.
class ELinkInPath : public Exception {
 public:
  using Exception::Exception;
};

// What stands at a name, not following a link.
enum class TEntryKind { None, File, Folder, Link, Other };

class TConfinedFolder {
 public:
  // Opens the folder below `root` that holds the last part of `path` (a
  // path in the form of the task lists: parts separated by "\" or "/",
  // empty parts and "." skipped; a ".." part raises EFOpenError). A part
  // that is a link raises ELinkInPath; a part missing or no folder raises
  // EFOpenError "Cannot open file "%s". %s" with the part's path and the
  // system's reason.
  TConfinedFolder(std::string_view root, std::string_view path);
  ~TConfinedFolder();
  TConfinedFolder(const TConfinedFolder&) = delete;
  TConfinedFolder& operator=(const TConfinedFolder&) = delete;

  // The folder of `path` below this one, opened as the constructor opens
  // it from a root, but in one step where the system can refuse a link
  // anywhere on the way at once (Linux: openat2); null where it cannot, and
  // when anything fails or the way holds a link: the caller then walks the
  // path with the constructor, which tells why. A ".." part raises as
  // there.
  std::unique_ptr<TConfinedFolder> OpenBelow(std::string_view path, std::string_view shown) const;

  // The last part of the path (empty when the path names the root).
  const std::string& Name() const { return name_; }
  // Root and path as messages show them (PlatformPath).
  const std::string& Shown() const { return shown_; }

  TEntryKind Kind(std::string_view name) const;
  // A file without any write permission (the delete command refuses it).
  bool IsReadOnly(std::string_view name) const;
  // Another entry of the folder whose name differs from `name` only in
  // letter case (code page 1250 folding); empty when there is none, and
  // where the file system itself ignores letter case.
  std::string OtherCase(std::string_view name) const;
  // The identity of the entry itself (a link's own, not its target's);
  // false when there is none.
  bool Identity(std::string_view name, TFolderIdentity& identity) const;
  // Both names lead to one and the same entry.
  bool SameEntry(std::string_view a, std::string_view b) const;

  // One folder; false if the name exists or the system refuses.
  bool CreateFolder(std::string_view name);
  // A file or a link itself, never a folder nor a read-only file.
  bool DeleteFile(std::string_view name);
  // A folder with everything in it, links removed and never followed; a
  // link loses only itself. False when anything stays behind.
  bool DeleteTree(std::string_view name);
  // Renames `from` to `to`, replacing `to` (a link there is replaced, not
  // followed).
  bool Rename(std::string_view from, std::string_view to);
  // Sets the time of the entry itself, never of what a link names.
  bool SetDate(std::string_view name, TDateTime value);

  // A new file `name`, failing if anything has that name (a link too);
  // with the permissions of the file `like` where given. Raises
  // EFCreateError naming `shownPath`.
  std::unique_ptr<TFileWriteStream> CreateFile(std::string_view name, std::string_view shownPath,
                                               std::string_view like = {});
  // A file without a name in this folder where the system makes one
  // (TFileWriteStream::CreateUnnamed); null where it does not.
  std::unique_ptr<TFileWriteStream> CreateUnnamed(std::string_view shownPath,
                                                  std::string_view like = {});
  // Gives an unnamed file of this folder the name `name`, never replacing
  // an entry (TFileWriteStream::Publish).
  TFileWriteStream::TPublishResult Publish(TFileWriteStream& file, std::string_view name);

 private:
  struct TImpl;
  TConfinedFolder(std::shared_ptr<TImpl> impl, std::string_view name, std::string_view shown)
      : impl_(std::move(impl)), name_(name), shown_(shown) {}

  std::shared_ptr<TImpl> impl_;
  std::string name_;
  std::string shown_;
};

// For the systems' implementations. The folders of a path below a confined
// root, without empty parts and ".", its last part going to `last` (empty
// when the path names the root). A ".." part would climb out of the root:
// it raises EFOpenError "Cannot open file "%s". %s" naming `shown`.
std::vector<std::string> ConfinedPathParts(std::string_view path, std::string_view shown,
                                           std::string& last);
// The ELinkInPath for `shown`, whose folder `walked` (root and the parts up
// to it) is a link.
ELinkInPath LinkInPathError(std::string_view shown, std::string_view walked);

// A path in the form messages show: PlatformPath of root and task path.
std::string ShownPath(std::string_view root, std::string_view path);

}  // namespace ormelin
