// File-system operations on system paths (see Paths.h). Times are local
// TDateTime values. Errors that the system reports are raised with its
// message texts; operations whose result the callers ignore return bool.
// Safe from any thread; an enumerator belongs to the thread that opened it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ormelin {

bool FileExists(std::string_view path);       // an existing entry that is not a folder
bool DirectoryExists(std::string_view path);  // an existing folder (links followed)
bool CreateDir(std::string_view path);        // one level; false if it exists or fails
// Not a folder; false if refused. A file without any write permission is
// read-only and refused too (a link is removed itself, never its target).
bool DeleteFile(std::string_view path);
// A file that DeleteFile would refuse for having no write permission.
bool FileIsReadOnly(std::string_view path);
bool RenameFile(std::string_view from, std::string_view to);  // replaces `to`
// A folder with everything in it. Links inside are removed, never followed;
// a path that is itself a link loses only the link. False when anything
// stays behind; the file-system root is always refused.
bool DeleteTree(std::string_view path);
// Sets the last-write (and last-access) time to a local time reduced to the
// DOS form: seconds rounded down to an even number. A value outside the
// years 1980..2107 leaves the time unchanged. False when it cannot.
bool SetFileDate(std::string_view path, TDateTime value);

// Whole-file reads and writes. ReadFileToString raises EFOpenError
// "Cannot open file "%s". %s"; WriteStringToFile raises EFCreateError
// "Cannot create file "%s". %s" (the path as given, then the system's reason).
std::string ReadFileToString(std::string_view path);
void WriteStringToFile(std::string_view path, std::string_view data);

// Replaces a file's whole content so that it is either all old or all new,
// whatever fails: the data goes to a new file beside the one it replaces,
// reaches the disk, and is renamed into its place. A path that is a link
// keeps the link; the file it names (through any chain of links, and
// created if missing) is the one replaced. The new file keeps the old one's
// permissions and, where the system allows it, its owner and group.
// Failures raise EFCreateError "Cannot create file "%s". %s" with the path
// as given; the old file is then untouched and nothing new stays behind.
void ReplaceFileContents(std::string_view path, std::string_view data);

// Writes a new file, or replaces one, that only the account running the
// program may read or change (on POSIX mode 0600; on Windows the system
// and the administrators alone): for private keys. All old or all new as
// ReplaceFileContents; a link at `path` is replaced, not followed. Raises
// EFCreateError as ReplaceFileContents.
void WritePrivateFile(std::string_view path, std::string_view data);

// The last-write time reduced to the DOS date-time form: local time, seconds
// rounded down to an even number, years outside 1980..2107 clamped to the
// nearest end of that range.
TDateTime DosRoundedTime(int64_t unixSeconds);

// Identifies a folder on disk (device and inode) so that a scan through
// links can tell whether it is about to enter one of its own ancestors.
struct TFolderIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool operator==(const TFolderIdentity&) const = default;
};

struct TFolderEntry {
  std::string Name;  // code page 1250
  bool IsDirectory = false;
  TDateTime DateModified = 0;  // DosRoundedTime of the last write
  // False when Name cannot be written as a path that leads back to the
  // entry: the system's name holds a path separator of this system's paths
  // ("\"), or characters code page 1250 lacks (shown as "?" in Name).
  bool NameIsPath = true;
  // The entry is a symbolic link (on Windows any reparse point: a link or a
  // junction); IsDirectory and DateModified are then those of its target.
  bool IsLink = false;
};

// Walks one folder's entries, hidden ones too, without "." and "..", in the
// order the file system gives them. A folder that cannot be read (missing,
// not a folder, no access) simply yields no entries. Links are followed.
class TFolderEnumerator {
 public:
  explicit TFolderEnumerator(std::string_view path);
  ~TFolderEnumerator();
  TFolderEnumerator(const TFolderEnumerator&) = delete;
  TFolderEnumerator& operator=(const TFolderEnumerator&) = delete;

  bool IsOpen() const;
  TFolderIdentity Identity() const;  // of the open folder
  bool Next(TFolderEntry& entry);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace ormelin
