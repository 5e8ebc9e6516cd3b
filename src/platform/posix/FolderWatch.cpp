#include "platform/FolderWatch.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/posix/NativePath.h"

namespace ormelin {
namespace {

// What a folder's watch reports: every change to the entries it lists and
// to itself. IN_Q_OVERFLOW, IN_IGNORED and IN_UNMOUNT come unasked.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_CLOSE_WRITE;
// A file with several names is watched itself for writes through the others.
constexpr uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

// File systems whose changes may be made by another machine or by a
// user-space server, where notifications see only this machine's own calls.
bool IsRemoteFileSystem(int64_t type) {
  switch (static_cast<uint32_t>(type)) {
    case 0x6969u:      // NFS
    case 0x517Bu:      // SMB
    case 0xFF534D42u:  // CIFS
    case 0xFE534D42u:  // SMB2
    case 0x65735546u:  // FUSE
    case 0x01021997u:  // 9P
    case 0x00C36400u:  // Ceph
    case 0x73757245u:  // Coda
    case 0x5346414Fu:  // AFS
    case 0x6B414653u:  // kAFS
    case 0x564Cu:      // NCP
    case 0x01161970u:  // GFS2
    case 0x7461636Fu:  // OCFS2
    case 0x0BD00BD0u:  // Lustre
    case 0x19830326u:  // OrangeFS
    case 0x47504653u:  // GPFS
    case 0xBEEFDEADu:  // SNFS
      return true;
    default:
      return false;
  }
}

}  // namespace

struct TFolderWatch::TImpl {
  int notify = -1;  // the inotify instance
  int mounts = -1;  // /proc/self/mountinfo, polled for changes of the mounts
  std::string root;
  dev_t rootDevice = 0;
  ino_t rootInode = 0;
  std::unordered_set<int> folders;  // watch descriptors of folders
  int watches = 0;

  ~TImpl() { Close(); }

  void Close() {
    if (notify >= 0) close(notify);
    if (mounts >= 0) close(mounts);
    notify = mounts = -1;
  }

  // A fresh instance without watches, and the mount table read once, which
  // marks it as seen: poll reports a later change. The descriptors are
  // given back first, so that their number stays the same.
  bool Open() {
    Close();
    folders.clear();
    watches = 0;
    notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (notify < 0 || mounts < 0) return false;
    char scratch[4096];
    while (read(mounts, scratch, sizeof scratch) > 0) {
    }
    return true;
  }

  // Drains the queue; true when anything at all was read.
  bool Drain(bool& overflow) {
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    for (;;) {
      ssize_t n = read(notify, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // EAGAIN: the queue is empty
      any = true;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_Q_OVERFLOW) != 0) overflow = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return any;
  }

  bool MountsChanged() const {
    pollfd request{mounts, POLLPRI, 0};
    return poll(&request, 1, 0) > 0 && (request.revents & (POLLERR | POLLPRI)) != 0;
  }

  bool RootMoved() const {
    struct stat st {};
    return stat(root.c_str(), &st) != 0 || st.st_dev != rootDevice || st.st_ino != rootInode;
  }
};

TFolderWatch::TFolderWatch() : impl_(std::make_unique<TImpl>()) {
  if (!impl_->Open()) limit_ = TFolderWatchLimit::Unsupported;
}

void TFolderWatch::Watch(std::string_view root, int maxWatches) {
  TImpl& impl = *impl_;
  changed_ = false;
  limit_ = TFolderWatchLimit::None;
  if (!impl.Open()) {
    limit_ = errno == EMFILE ? TFolderWatchLimit::WatchLimit : TFolderWatchLimit::Unsupported;
    return;
  }
  struct stat rootStat {};
  if (!ToNativePath(root, impl.root) || stat(impl.root.c_str(), &rootStat) != 0 ||
      !S_ISDIR(rootStat.st_mode)) {
    limit_ = TFolderWatchLimit::Unwatchable;
    return;
  }
  impl.rootDevice = rootStat.st_dev;
  impl.rootInode = rootStat.st_ino;

  auto addWatch = [&](const std::string& path, uint32_t mask) -> int {
    if (maxWatches > 0 && impl.watches >= maxWatches) {
      limit_ = TFolderWatchLimit::WatchLimit;
      return -1;
    }
    int wd = inotify_add_watch(impl.notify, path.c_str(), mask);
    if (wd < 0) {
      limit_ = errno == ENOSPC ? TFolderWatchLimit::WatchLimit : TFolderWatchLimit::Unwatchable;
      return -1;
    }
    ++impl.watches;
    return wd;
  };

  // Each folder is watched before it is read: whatever changes in it after
  // the read has an event waiting.
  struct TPending {
    std::string path;
    dev_t parentDevice;
  };
  std::vector<TPending> pending{{impl.root, static_cast<dev_t>(-1)}};
  while (!pending.empty() && CanVouch()) {
    TPending folder = std::move(pending.back());
    pending.pop_back();
    // Below the root a folder is never entered through a link (IN_DONT_FOLLOW):
    // one that became a link since it was listed is refused.
    const bool isRoot = folder.parentDevice == static_cast<dev_t>(-1);
    int wd = addWatch(folder.path, kFolderEvents | IN_ONLYDIR | (isRoot ? 0 : IN_DONT_FOLLOW));
    if (wd < 0) break;
    if (!impl.folders.insert(wd).second) {
      limit_ = TFolderWatchLimit::FolderTwice;
      break;
    }
    DIR* dir = opendir(folder.path.c_str());
    if (dir == nullptr) {
      limit_ = TFolderWatchLimit::Unwatchable;
      break;
    }
    struct stat self {};
    if (fstat(dirfd(dir), &self) != 0) {
      limit_ = TFolderWatchLimit::Unwatchable;
    } else if (self.st_dev != folder.parentDevice) {
      struct statfs fs {};
      if (fstatfs(dirfd(dir), &fs) != 0) {
        limit_ = TFolderWatchLimit::Unwatchable;
      } else if (IsRemoteFileSystem(static_cast<int64_t>(fs.f_type))) {
        limit_ = TFolderWatchLimit::RemoteFileSystem;
      }
    }
    errno = 0;
    while (CanVouch()) {
      dirent* entry = readdir(dir);
      if (entry == nullptr) {
        if (errno != 0) limit_ = TFolderWatchLimit::Unwatchable;
        break;
      }
      std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      struct stat st {};
      if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // Gone since it was listed: its deletion has an event waiting.
        if (errno != ENOENT) limit_ = TFolderWatchLimit::Unwatchable;
        errno = 0;
        continue;
      }
      std::string path = folder.path;
      if (path.back() != '/') path += '/';
      path += name;
      if (S_ISLNK(st.st_mode)) {
        limit_ = TFolderWatchLimit::Link;
      } else if (S_ISDIR(st.st_mode)) {
        pending.push_back({std::move(path), self.st_dev});
      } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
        int fileWatch = addWatch(path, kFileEvents | IN_DONT_FOLLOW);
        if (fileWatch < 0) break;
      }
      errno = 0;
    }
    closedir(dir);
  }
  // A change made while the watches were being set up may have escaped
  // them (a folder made in one already read, then filled), so it counts:
  // the caller's tree, read after this, is then not vouched for.
  if (CanVouch()) Changed();
}

TFolderWatch::~TFolderWatch() = default;

bool TFolderWatch::Changed() {
  if (!CanVouch()) return true;
  bool overflow = false;
  if (impl_->Drain(overflow)) changed_ = true;
  if (overflow) {
    limit_ = TFolderWatchLimit::Overflow;
    return true;
  }
  if (!changed_ && (impl_->MountsChanged() || impl_->RootMoved())) changed_ = true;
  return changed_;
}

int TFolderWatch::WatchCount() const {
  return impl_->watches;
}

}  // namespace ormelin
