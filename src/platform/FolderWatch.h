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
// followed by the watch at all: what they name may change without any
// folder of the tree changing, so a tree holding one is never vouched for.
// A file with more than one name (a hard link) is watched itself, so that a
// write through a name outside the tree is seen too. On a system without
// notifications (Windows, for now) a watch never vouches.
//
// What Linux does not report at all, and no watch here can see: a write
// through a shared memory mapping (the file's time changes, no event
// comes), and a write through a second name that was made outside the tree
// after the watch was set up (the new name's folder is not watched, and the
// file, having had one name when the watch was set up, is not watched
// itself).
//
// Ordering: the system queues an event in the same call that makes the
// change, before that call returns. A change that was complete before
// Changed() was called is therefore seen by it. A folder is watched before
// it is read, so a change made while the tree is being set up is seen too.
//
// Threading: a watch belongs to one thread at a time (its owner serialises
// the calls).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ormelin {

// Why a watch cannot vouch for its folders.
enum class TFolderWatchLimit {
  None,              // it vouches
  Unsupported,       // the system has no notifications we use
  Overflow,          // events were lost
  WatchLimit,        // no more watches (the system's limit, or the one set)
  Unwatchable,       // a folder could not be watched or read, or the root is none
  RemoteFileSystem,  // network or FUSE
  FolderTwice,       // one folder reached by two paths
  Link,              // a symbolic link inside the tree
};

class TFolderWatch {
 public:
  // Opens the system's notifications (the descriptors are held until the
  // watch goes); nothing is watched yet, so the watch does not vouch.
  TFolderWatch();
  ~TFolderWatch();
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // Drops whatever was watched and what it saw, then watches `root` (a
  // system path; the root itself may be a link) and every folder below it.
  // `maxWatches` > 0 caps the watches, below the system's own limit. Never
  // raises for a file-system reason: what cannot be watched shows in Limit().
  void Watch(std::string_view root, int maxWatches = 0);

  // TFolderWatchLimit::None while the watch vouches for the folders.
  TFolderWatchLimit Limit() const { return limit_; }
  bool CanVouch() const { return limit_ == TFolderWatchLimit::None; }

  // Reads what the system has queued, without waiting, and says whether
  // anything changed since Watch. Once true it stays true until the next
  // Watch; a watch that cannot vouch always says true.
  bool Changed();

  // The number of folders and files watched (for tests).
  int WatchCount() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
  TFolderWatchLimit limit_ = TFolderWatchLimit::Unwatchable;
  bool changed_ = false;
};

}  // namespace ormelin
