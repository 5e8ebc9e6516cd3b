// Watches every folder below a root so that a caller can tell, cheaply and
// without blocking, whether anything there has changed since the watch was
// set up: an entry created, deleted, renamed or moved in or out, a file
// written or its times or attributes changed, a watched folder itself
// deleted or moved, the file systems mounted changed, or the root no longer
// naming the folder it named.
//
// A watch either vouches for the folders or says why it cannot. It cannot
// when the system's queue of events overflowed, the limit of watches was
// reached, a folder could not be watched or read, a folder lies on a network
// or user-space (FUSE) file system, whose changes made elsewhere never reach
// this machine's notifications, or the same folder is reached twice (through
// a mount or a link). Links (symbolic ones) inside the tree are not
// followed by the watch: on Linux a link is an entry of its folder, and
// what it leads to is watched where it lies (a link leading out of the tree
// is left out of the scan). Each link is followed once, when its folder is
// read, and the folders whose entries its route read are remembered: those
// inside are watched anyway, those outside (an absolute path, a route
// climbing out and back) get a watch of their own, so a link pointed
// elsewhere, or a folder on its way changed, is seen wherever that happens.
// A change inside a folder a link leads to is also named at the link's path
// (see TakeChanges). On Windows a tree holding a link is not vouched for.
//
// Linux also refuses a tree with anything mounted below its root (a file
// mounted over one of the tree's files is written through the mount's
// source, whose folder is not watched) and a tree the NFS server exports
// (or that holds or lies in an exported folder): the server writes through
// file handles, which no folder's watch reports.
//
// Linux (inotify): every folder has a watch of its own. A file with more
// than one name (a hard link) is watched itself, so that a write through a
// name outside the tree is seen too. What Linux does not report at all, and
// no watch here can see: a write through a shared memory mapping (the
// file's time changes, no event comes), and a write through a second name
// that was made outside the tree after the watch was set up (the new name's
// folder is not watched, and the file, having had one name when the watch
// was set up, is not watched itself).
//
// Windows (ReadDirectoryChangesW): one read on the root covers its whole
// subtree; the folders are listed once, when the watch is set up, and
// counted as its watches. Only a local fixed, removable or RAM drive is
// trusted (not a network drive, nor a CD or a drive the system cannot
// tell). A tree holding any reparse point (symbolic link, junction, mount
// point; a volume mounted on a folder is one) is refused, and so is one
// holding a file with more than one name: Windows reports a change only to
// the folder of the name it was made through. Finding those opens every
// file of the tree once when the watch is set up (a folder's listing does
// not give the number of names), which costs about as much again as a
// scan. Not seen, as on Linux: a
// second name made outside the tree after the watch was set up, and then
// written through. The watch holds the root open, so while it lasts no
// folder above the root can be renamed (Windows refuses to rename a folder
// with anything below it open). Under Wine changes are reported late, and
// the watch does not vouch there (see win32/FolderWatchWine.h).
//
// Ordering on Linux: the system queues an event in the same call that makes
// the change, before that call returns. A change that was complete before
// Changed() was called is therefore seen by it. A folder is watched before
// it is read, so a change made while the tree is being set up is seen too.
//
// Ordering on Windows: the file system reports a change of a name, of
// attributes, of times or of security set by a call to the watch's read in
// that call, before it returns; the read then completes, and its completion
// is queued to the watch's own completion port (or, between two reads, the
// change is kept for the next one). Changed() polls that port, so a change
// complete before it was called is seen by it, whichever thread set up the
// watch and whether or not that thread still runs. What does not hold: the
// size and last-write time of a file written through a handle still open
// are updated in its folder's entry, and reported, lazily (NTFS does so at
// the latest when the handle is closed). A scan reads the folders' entries,
// so it too sees the old time until then, and the tree stays what a fresh
// scan gives; a writer that keeps its file open across a sync is seen
// after it closes the file. The read is issued before the tree is listed,
// so a change made while the watch is being set up is seen too. (This is
// how Windows documents and is known to behave; the tests run under Wine,
// which behaves otherwise, see above, so none of it is checked there.)
//
// What changed, in detail (Linux): every event names the folder it came
// from, and an entry of it; TakeChanges hands over the folders whose entries
// changed and the entries that may now be other folders (made, deleted,
// moved in or out), each also at every path where it shows through links
// to folders, and the links whose route read a folder that changed (with
// their own folders). A caller that reads those again, after WatchBelow for
// each folder it reads whole and WatchFiles for each folder it lists again,
// holds what a fresh scan would read. Windows reports all changes as All.
//
// Threading: a watch belongs to one thread at a time (its owner serialises
// the calls).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace ormelin {

// Why a watch cannot vouch for its folders.
enum class TFolderWatchLimit {
  None,              // it vouches
  Unsupported,       // the system has no notifications we use (or: Wine)
  Overflow,          // events were lost
  WatchLimit,        // no more watches (the system's limit, or the one set)
  Unwatchable,       // a folder could not be watched or read, or the root is none
  RemoteFileSystem,  // network or FUSE
  FolderTwice,       // one folder reached by two paths
  Link,              // Windows: a reparse point, or a file with more than one name
  MountInside,       // something mounted below the root (a folder or a file)
  Exported,          // the tree is (or holds, or lies in) a folder the NFS server exports
};

// Changes seen since the last TakeChanges (or Watch). Folders are named by
// their path below the root in code page 1250, names joined by "\\", the
// root itself being "".
struct TFolderChanges {
  bool All = false;                // anything may have changed: watch and read everything again
  std::set<std::string> Listed;    // folders whose entries (or their times) changed
  std::set<std::string> Replaced;  // paths that may now name other folders (or links), or none
  bool Empty() const { return !All && Listed.empty() && Replaced.empty(); }
};

class TFolderWatch {
 public:
  // Opens the system's notifications (Linux: the descriptors are held until
  // the watch goes); nothing is watched yet, so the watch does not vouch.
  TFolderWatch();
  ~TFolderWatch();
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // Drops whatever was watched and what it saw, then watches `root` (a
  // system path; the root itself may be a link) and every folder below it.
  // `maxWatches` > 0 caps the watches, below the system's own limit (on
  // Windows, the folders of the tree). Never
  // raises for a file-system reason: what cannot be watched shows in Limit().
  void Watch(std::string_view root, int maxWatches = 0);

  // TFolderWatchLimit::None while the watch vouches for the folders.
  TFolderWatchLimit Limit() const { return limit_; }
  bool CanVouch() const { return limit_ == TFolderWatchLimit::None; }

  // Reads what the system has queued, without waiting, and says whether
  // anything changed since Watch or TakeChanges. Once true it stays true
  // until the next of those; a watch that cannot vouch always says true.
  bool Changed();

  // Drains the queue like Changed() and hands over what changed since the
  // last call (or since Watch), forgetting it. A watch that cannot vouch
  // hands over All.
  TFolderChanges TakeChanges();

  // Stops watching the folder `folder` (a path as in TFolderChanges, not
  // the root) and everything below it.
  void Forget(std::string_view folder);
  // Watches the folder `folder` and everything below it afresh (Forget
  // first), each folder before it is read, as Watch does for the root. A
  // folder that is gone is left unwatched (its parent reports that). What
  // cannot be watched shows in Limit().
  void WatchBelow(std::string_view folder);
  // Watches the files of the watched folder `folder` that have more than
  // one name (see above), after it was listed again, and notes its links.
  void WatchFiles(std::string_view folder);
  // Follows the links that WatchBelow and WatchFiles met (Watch follows
  // its own), watching the folders outside the tree their routes read: to
  // be called once every folder of the tree is watched again, so that a
  // route is read after the folders it reads are watched.
  void FollowLinks();

  // The number of files with more than one name that WatchBelow and
  // WatchFiles found unwatched: their other names may lie in folders that
  // reported nothing of a write since the name was made.
  int FilesFoundLinked() const { return filesFoundLinked_; }
  // The number of symbolic links met since Watch (Linux; on Windows a tree
  // holding one is refused).
  int LinkCount() const { return links_; }
  // Whether `path` (as in TFolderChanges) is a link to a folder, or lies
  // below one: a folder shown a second time, watched where it lies.
  bool ThroughLink(std::string_view path) const;
  // Whether `path` itself is a link to a folder.
  bool LinkToFolder(std::string_view path) const;
  // Whether the links to folders lead into a folder that holds one of them
  // (directly or through others): a walk would come back to where it was,
  // and the paths a change shows at have no end.
  bool LinksCircle() const;

  // The number of folders and files watched (Windows: folders listed; for
  // tests).
  int WatchCount() const;

 private:
  struct TImpl;
  // Linux: watches `top` and what is below it; watches one file with more
  // than one name, listed in `folder` (false when it cannot).
  void WatchTree(const std::string& top);
  bool WatchFile(const std::string& path, const std::string& folder);
  void LinkMet(const std::string& folder, std::string_view name);
  void ShowAtLinks(TFolderChanges& changes) const;

  std::unique_ptr<TImpl> impl_;
  TFolderWatchLimit limit_ = TFolderWatchLimit::Unwatchable;
  bool changed_ = false;
  int maxWatches_ = 0;
  int filesFoundLinked_ = 0;
  int links_ = 0;
  bool settingUp_ = false;  // in Watch
  TFolderChanges changes_;
};

}  // namespace ormelin
