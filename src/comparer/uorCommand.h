// The file commands that apply one task to a local folder tree, the
// delimited-text reader for their parameters, the client connection through
// which they fetch files from a synchronisation server, and the safe
// replacement of a file's content that inserts and updates share.
//
// Task paths ("\doc\a.txt") name entries below the roots. Before any command
// touches the disk the path is checked: it must begin with a separator, name
// at least one entry and hold no ".." part and no NUL. The commands then
// open the path's folders from the target root one at a time and refuse a
// link among them (ELinkInPath), so a task list from a broken or hostile
// server, or a link placed in the target folder, cannot reach outside it.
// Messages show paths with this system's own separators.
//
// Threading: the commands keep no state and may run on any thread. The
// client connection is one shared connection: remote fetches through it are
// serialised by a lock, so they run one after another.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comparer/uorBaseCommand.h"
#include "platform/ConfinedFolder.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

namespace ormelin {

// The prefix of a source root that names a project on a server.
inline constexpr std::string_view kRemoteSourcePrefix = "Sync ";

// "Brisanje '%s' nije moguće": a file that cannot be deleted or replaced.
class EDeleteFileError : public Exception {
 public:
  using Exception::Exception;
};

// "Datoteku '%s' nije moguće zamijeniti novim sadržajem": the new content
// is written but could not take the old file's place.
class EReplaceFileError : public Exception {
 public:
  using Exception::Exception;
};

// A task path that would leave the folder it is meant for.
class ETaskPathError : public Exception {
 public:
  using Exception::Exception;
};

// The server answered a command with another reply than the one expected;
// the message is the reply's text.
class EServerReplyError : public Exception {
 public:
  EServerReplyError(int code, std::string text) : Exception(std::move(text)), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// No client connection is set for a remote fetch.
class ENoClientConnection : public Exception {
 public:
  using Exception::Exception;
};

// One reply of the synchronisation protocol: its code and its text, the
// texts of a multi-line reply joined by CR LF.
struct TorReply {
  int Code = 0;
  std::string Text;
};

// The client side of a connection to a synchronisation server, as the file
// commands need it. Implemented by the application that connects.
class TorClientConnection {
 public:
  virtual ~TorClientConnection() = default;
  // Sends one command line and reads the whole reply to it.
  virtual TorReply SendCommand(std::string_view line) = 0;
  // Reads one framed stream (size line, then the bytes) into `stream`.
  virtual void ReceiveStream(TStream& stream) = 0;
};

// The process's client connection; null when none is set. The caller owns
// the connection and keeps it alive while it is set.
void SetClientConnection(TorClientConnection* connection);
TorClientConnection* ClientConnection();

// Sets the process's client connection for the scope and clears it on
// every way out, a failure's included, so that it never names a
// connection that is gone. One scope at a time; owned by one thread.
class TClientConnectionScope {
 public:
  explicit TClientConnectionScope(TorClientConnection* connection) {
    SetClientConnection(connection);
  }
  ~TClientConnectionScope() { SetClientConnection(nullptr); }
  TClientConnectionScope(const TClientConnectionScope&) = delete;
  TClientConnectionScope& operator=(const TClientConnectionScope&) = delete;

  // Another connection (or none) from here on.
  void Reset(TorClientConnection* connection) { SetClientConnection(connection); }
};

// Reads a delimited text: items separated by commas or blanks, an item in
// double quotes running to its closing quote with "" standing for one
// quote, blanks and control characters around items skipped, a comma at the
// very end adding an empty item.
std::vector<std::string> ReadDelimitedText(std::string_view text);

// The checked full path: `root` followed by `path`. Raises ETaskPathError.
std::string TaskFullPath(std::string_view root, std::string_view path);

// Writes new content in place of a file so that the file is never left
// half-written: the bytes go to a temporary file in the same folder, which
// gets the time and then replaces the target in one rename. A new file, one
// not there yet, is written where the system allows as a file with no name,
// which gets the time and then its name; an interrupted run leaves nothing of
// it. A replacement that is not committed removes its temporary file when it
// goes.
//
// The target's folder is opened from the root one part at a time and never
// through a link (TConfinedFolder), and everything happens within that
// folder: a path that crosses a link raises ELinkInPath, and a link at the
// target itself is replaced, never written through.
// The target root kept open for the files written one after another: each
// file's folder is opened from it in one step that refuses a link anywhere
// on the way (TConfinedFolder::OpenBelow), instead of a walk from the
// root's name part by part; where that cannot be done, the walk. One per
// thread.
class TorFolderCache {
 public:
  // The folder of `path` below `root` as TConfinedFolder opens it, raising
  // what it raises.
  std::unique_ptr<TConfinedFolder> Open(std::string_view root, std::string_view path);
  // The root is opened again for the next path: after a failure, for one.
  void Forget() { kept_.reset(); }

 private:
  std::string root_;
  std::unique_ptr<TConfinedFolder> kept_;  // the root folder
};

class TorFileReplacement {
 public:
  // The file `path` (a task path TaskFullPath accepts) below `root`; its
  // folder is opened through `folders` when given, which must outlive the
  // first use of Folder.
  TorFileReplacement(std::string_view root, std::string_view path,
                     TorFolderCache* folders = nullptr);
  ~TorFileReplacement();
  TorFileReplacement(const TorFileReplacement&) = delete;
  TorFileReplacement& operator=(const TorFileReplacement&) = delete;

  // The target's folder, opened on first use. Raises ELinkInPath, or
  // EFCreateError "Cannot create file "%s". %s" naming the target when a
  // folder of its path is missing.
  TConfinedFolder& Folder();
  // The target's path as messages show it.
  const std::string& Shown() const { return shown_; }
  // Makes the new content take the place of `name`, an entry of the same
  // folder under another letter case, whose permissions it keeps; the
  // target's own name is the one the content gets.
  void Replace(std::string name) { replaced_ = std::move(name); }

  // Creates the empty temporary file; raises EFCreateError "Cannot create
  // file "%s". %s" naming the target. An update's temporary file takes the
  // permissions of the file it replaces.
  void Open();
  // The same for a file that is not there yet: where the system allows, the
  // content has no name until Commit gives it the target's; otherwise as
  // Open. Should the target appear meanwhile, Commit still replaces it.
  void OpenNew();
  // The temporary file, opened if not yet done, to write the content into;
  // a write that fails (a full disk) raises EFCreateError naming the target.
  TStream& Content();
  // Closes the content, sets the time (DOS-rounded; a year outside
  // 1980..2107 or a failure leaves the time of writing) and renames the
  // temporary file over the target; an entry given to Replace then goes.
  void Commit(const std::optional<TDateTime>& time);
  // Writes `content`, then commits.
  void Commit(std::string_view content, const std::optional<TDateTime>& time);

 private:
  // The temporary file's name in the target's folder, chosen on first use.
  const std::string& TempName();
  const std::string& Name() { return Folder().Name(); }

  std::string root_;
  std::string path_;
  std::string shown_;
  std::string replaced_;
  std::string tempName_;
  TorFolderCache* folders_;
  std::unique_ptr<TConfinedFolder> folder_;
  std::unique_ptr<TFileWriteStream> content_;  // while the temporary file exists
  bool unnamed_ = false;                       // content_ has no name yet
};

// True for the names TorFileReplacement gives its temporary files, which a
// run that was killed may have left behind.
bool IsTemporaryName(std::string_view name);

// The time to give a written file: `value` in the two-second steps of the
// DOS date-time form, or nothing for a year outside 1980..2107.
std::optional<TDateTime> DosFileTime(TDateTime value);

class TorFileCommand : public TorCommand {};

// "Inser", not "Insert": the system's own name for this command, which
// must stay as it is spelt.
class TorInserDirCommand : public TorFileCommand {
 public:
  static const TorInserDirCommand& Instance();
  // Creates the folder, one level; an existing folder or a failure passes
  // silently, but a path through a link, or a link of that name, raises
  // ELinkInPath.
  void Execute(std::string_view targetRoot, std::string_view sourceRoot,
               std::string_view params) const override;
};

class TorDeleteDirCommand : public TorFileCommand {
 public:
  static const TorDeleteDirCommand& Instance();
  // Deletes the folder with its content, links inside removed and never
  // followed; reports only a path through a link (ELinkInPath).
  void Execute(std::string_view targetRoot, std::string_view sourceRoot,
               std::string_view params) const override;
};

class TorInsertFileCommand : public TorFileCommand {
 public:
  // The parameter of "insert_file" and "update_file", read: the path and,
  // when given, the time (converted when read).
  struct TFileParams {
    std::string Path;
    std::optional<TDateTime> Time;
  };

  static const TorInsertFileCommand& Instance();
  // Opens a TorFileReplacement for the new file, fetches the file whole,
  // then commits it.
  void Execute(std::string_view targetRoot, std::string_view sourceRoot,
               std::string_view params) const override;

  // Raises the conversion error for an unreadable time.
  static TFileParams ReadFileParams(std::string_view params);
  // True when the source root begins with "Sync " (letter case ignored).
  static bool IsRemoteSource(std::string_view sourceRoot);
  // The project a remote source root names.
  static std::string RemoteProject(std::string_view sourceRoot);
  // Fills `stream` with the file's bytes: from source root + path, or with
  // GetFile over the client connection (a reply other than 203 raises
  // EServerReplyError and nothing is received).
  static void FetchFile(std::string_view sourceRoot, std::string_view path, TStream& stream);
};

class TorDeleteFileCommand : public TorFileCommand {
 public:
  static const TorDeleteFileCommand& Instance();
  // Raises EDeleteFileError "Brisanje '%s' nije moguće" with the full path;
  // ELinkInPath for a path through a link (a link itself is deleted).
  void Execute(std::string_view targetRoot, std::string_view sourceRoot,
               std::string_view params) const override;
  static void RaiseCannotDelete(std::string_view fullPath);
};

class TorUpdateFileCommand : public TorFileCommand {
 public:
  static const TorUpdateFileCommand& Instance();
  // Replaces an existing file. The old file stays until the new content has
  // arrived; a missing file, or one in a folder where it could not be
  // replaced, fails with the delete command's message before anything is
  // fetched.
  void Execute(std::string_view targetRoot, std::string_view sourceRoot,
               std::string_view params) const override;
  // The check made before fetching: raises EDeleteFileError unless the file
  // exists (under the task's name, or else under another letter case, which
  // the new content then replaces) and `replacement` could be opened;
  // ELinkInPath for a path through a link.
  static void PrepareReplace(TorFileReplacement& replacement);
};

// Enters the five commands under their task names, in the order insert_dir,
// delete_dir, insert_file, delete_file, update_file. Every program that runs
// tasks calls it once at start-up, before any task runs; calling it again
// changes nothing.
void RegisterFileCommands();

}  // namespace ormelin
