#include "platform/FolderWatch.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Paths.h"
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
    case 0x786F4256u:  // VirtualBox shared folders (vboxsf)
    case 0xBACBACBCu:  // VMware shared folders (vmhgfs)
    case 0x7C7C6673u:  // Parallels shared folders (prl_fs)
      return true;
    default:
      return false;
  }
}

// A path below the root as TFolderChanges names it, and its parent's.
std::string Below(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty()) path += '\\';
  path += Utf8ToCp1250(name);
  return path;
}

std::string ParentOf(const std::string& folder) {
  const size_t cut = folder.rfind('\\');
  return cut == std::string::npos ? std::string() : folder.substr(0, cut);
}

// A path of /proc/self/mountinfo or of an export table, whose blanks and
// backslashes are written as octal escapes.
std::string Unescaped(std::string_view field) {
  std::string path;
  for (size_t at = 0; at < field.size(); ++at) {
    if (field[at] == '\\' && at + 3 < field.size() && field[at + 1] >= '0' &&
        field[at + 1] <= '3') {
      path += static_cast<char>((field[at + 1] - '0') * 64 + (field[at + 2] - '0') * 8 +
                                (field[at + 3] - '0'));
      at += 3;
    } else {
      path += field[at];
    }
  }
  return path;
}

std::string ReadAll(const char* file) {
  std::string text;
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[8192];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

// Whether `path` is `root` or lies below it.
bool Inside(std::string_view path, std::string_view root) {
  if (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.compare(0, root.size(), root) != 0) return false;
  return path.size() == root.size() || root == "/" || path[root.size()] == '/';
}

// Where a link leads and which folders its route read: as the system
// follows it, part by part, each further link on the way followed in turn.
struct TLinkRoute {
  bool found = false;                // it leads to an entry (not: dangling, a circle)
  std::string target;                // that entry, absolute and resolved
  std::vector<std::string> folders;  // absolute and resolved, in the order read
  std::vector<std::string> names;    // the name looked up in each
};

std::string ParentFolder(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == 0 || cut == std::string::npos ? std::string("/") : path.substr(0, cut);
}

// `from`: the link's folder, absolute and resolved; `text`: the link's own.
TLinkRoute FollowRoute(const std::string& from, std::string_view text) {
  TLinkRoute route;
  std::vector<std::string> parts;  // what is left, the next part last
  auto push = [&parts](std::string_view path) {
    for (size_t end = path.size(); end != std::string_view::npos && end > 0;) {
      const size_t cut = path.rfind('/', end - 1);
      const size_t begin = cut == std::string_view::npos ? 0 : cut + 1;
      parts.emplace_back(path.substr(begin, end - begin));
      end = cut == std::string_view::npos ? std::string_view::npos : cut;
    }
  };
  std::string at = !text.empty() && text[0] == '/' ? std::string("/") : from;
  push(text);
  int hops = 0;
  while (!parts.empty()) {
    const std::string part = std::move(parts.back());
    parts.pop_back();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      at = ParentFolder(at);
      continue;
    }
    route.folders.push_back(at);
    route.names.push_back(part);
    std::string next = at == "/" ? "/" + part : at + "/" + part;
    struct stat st {};
    if (lstat(next.c_str(), &st) != 0) return route;
    if (S_ISLNK(st.st_mode)) {
      char link[4096];
      const ssize_t n = readlink(next.c_str(), link, sizeof link);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof link || ++hops > 40) return route;
      if (link[0] == '/') at = "/";
      push(std::string_view(link, static_cast<size_t>(n)));
      continue;
    }
    if (!S_ISDIR(st.st_mode) && !parts.empty()) return route;  // as the system: no folder
    at = std::move(next);
  }
  route.found = true;
  route.target = std::move(at);
  return route;
}

// Something mounted strictly below `root` (a resolved path).
bool MountBelow(const std::string& root) {
  const std::string table = ReadAll("/proc/self/mountinfo");
  for (size_t at = 0; at < table.size();) {
    size_t end = table.find('\n', at);
    if (end == std::string::npos) end = table.size();
    std::string_view line(table.data() + at, end - at);
    at = end + 1;
    // id parent major:minor root mount-point ...
    size_t field = 0;
    for (int skip = 0; skip < 4 && field != std::string_view::npos; ++skip) {
      field = line.find(' ', field);
      if (field != std::string_view::npos) ++field;
    }
    if (field == std::string_view::npos) continue;
    const std::string point = Unescaped(line.substr(field, line.find(' ', field) - field));
    if (point != root && Inside(point, root)) return true;
  }
  return false;
}

// Whether the NFS server exports `root`, a folder in it, or a folder above
// it: the kernel's table of exports, and the one exportfs keeps.
bool Exported(const std::string& root) {
  for (const char* file : {"/proc/fs/nfsd/exports", "/proc/fs/nfs/exports", "/var/lib/nfs/etab"}) {
    const std::string table = ReadAll(file);
    for (size_t at = 0; at < table.size();) {
      size_t end = table.find('\n', at);
      if (end == std::string::npos) end = table.size();
      std::string_view line(table.data() + at, end - at);
      at = end + 1;
      if (line.empty() || line[0] != '/') continue;  // comments
      const size_t blank = line.find_first_of(" \t");
      const std::string path = Unescaped(line.substr(0, blank));
      if (Inside(path, root) || Inside(root, path)) return true;
    }
  }
  return false;
}

}  // namespace

struct TFolderWatch::TImpl {
  // A link inside the tree, followed (see FollowLinks).
  struct TLink {
    bool inside = false;             // leads to an entry inside the root
    bool folder = false;             // ... which is a folder
    std::string target;              // that entry, below the root
    std::vector<std::string> route;  // the folders inside its route read, below the root
  };
  std::map<std::string, TLink> links;  // by their paths below the root
  // The folders inside that links' routes read, and those links.
  std::unordered_map<std::string, std::vector<std::string>> routeLinks;
  std::multimap<std::string, std::string> linkTargets;  // folder led to -> link
  // The folders outside that links' routes read, watched: by path, and by
  // watch with the links and the names they looked up there.
  std::map<std::string, int> outsideFolders;
  std::unordered_map<int, std::vector<std::pair<std::string, std::string>>> outsideLinks;
  std::vector<std::string> linksMet;  // not followed yet
  mutable int circle = 0;             // LinksCircle: 0 unknown, 1 no, 2 yes

  void DropLink(std::map<std::string, TLink>::iterator link) {
    for (const std::string& folder : link->second.route) {
      auto readers = routeLinks.find(folder);
      if (readers == routeLinks.end()) continue;
      std::vector<std::string>& paths = readers->second;
      paths.erase(std::remove(paths.begin(), paths.end(), link->first), paths.end());
      if (paths.empty()) routeLinks.erase(readers);
    }
    if (link->second.folder) {
      auto range = linkTargets.equal_range(link->second.target);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == link->first) {
          linkTargets.erase(it);
          break;
        }
      }
    }
    links.erase(link);
    circle = 0;
  }

  // The links at `folder` or below it; without `below`, those in it only.
  void DropLinks(const std::string& folder, bool below) {
    const std::string inside = folder.empty() ? std::string() : folder + '\\';
    auto it = below ? links.lower_bound(folder) : links.lower_bound(inside);
    while (it != links.end()) {
      const std::string& path = it->first;
      if (path != folder && path.compare(0, inside.size(), inside) != 0) break;
      if (below || path.find('\\', inside.size()) == std::string::npos) {
        DropLink(it++);
      } else {
        ++it;
      }
    }
    linksMet.erase(std::remove_if(linksMet.begin(), linksMet.end(),
                                  [&](const std::string& path) {
                                    if (path.compare(0, inside.size(), inside) != 0)
                                      return below && path == folder;
                                    return below ||
                                           path.find('\\', inside.size()) == std::string::npos;
                                  }),
                   linksMet.end());
  }

  int notify = -1;  // the inotify instance
  int mounts = -1;  // /proc/self/mountinfo, polled for changes of the mounts
  std::string root;
  std::string realRoot;  // links resolved
  dev_t rootDevice = 0;
  ino_t rootInode = 0;
  // Each watched folder's path below the root (as in TFolderChanges), both
  // ways; the paths sort so that a folder's subtree is one range.
  std::unordered_map<int, std::string> folderPaths;
  std::map<std::string, int> folderWatches;
  // Files watched for their other names: the folders that list them.
  std::unordered_map<int, std::vector<std::string>> fileFolders;
  // Files made since the last TakeChanges and not written and closed since.
  std::unordered_set<std::string> unwritten;
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
    folderPaths.clear();
    folderWatches.clear();
    fileFolders.clear();
    unwritten.clear();
    links.clear();
    routeLinks.clear();
    linkTargets.clear();
    outsideFolders.clear();
    outsideLinks.clear();
    linksMet.clear();
    circle = 0;
    watches = 0;
    notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (notify < 0 || mounts < 0) return false;
    char scratch[4096];
    while (read(mounts, scratch, sizeof scratch) > 0) {
    }
    return true;
  }

  // The system path of a folder below the root.
  std::string NativeOf(std::string_view folder) const {
    std::string path = root;
    for (size_t at = 0; at < folder.size();) {
      size_t end = folder.find('\\', at);
      if (end == std::string_view::npos) end = folder.size();
      if (path.back() != '/') path += '/';
      path += Cp1250ToUtf8(folder.substr(at, end - at));
      at = end + 1;
    }
    return path;
  }

  void Unmap(int wd) {
    auto found = folderPaths.find(wd);
    if (found == folderPaths.end()) return;
    auto back = folderWatches.find(found->second);
    if (back != folderWatches.end() && back->second == wd) folderWatches.erase(back);
    folderPaths.erase(found);
  }

  // `folder` names a watched folder now (a folder moved keeps its watch).
  void Map(int wd, const std::string& folder) {
    Unmap(wd);
    auto old = folderWatches.find(folder);
    if (old != folderWatches.end()) folderPaths.erase(old->second);
    folderWatches[folder] = wd;
    folderPaths[wd] = folder;
  }

  void Forget(const std::string& folder) {
    DropLinks(folder, true);
    auto it = folderWatches.lower_bound(folder);
    const std::string inside = folder + '\\';
    while (it != folderWatches.end() &&
           (it->first == folder || it->first.compare(0, inside.size(), inside) == 0)) {
      inotify_rm_watch(notify, it->second);
      --watches;
      folderPaths.erase(it->second);
      it = folderWatches.erase(it);
    }
  }

  // Drains the queue into `changes`; true when anything at all was read.
  bool Drain(bool& overflow, TFolderChanges& changes) {
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
        Note(*event, changes);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return any;
  }

  void Note(const inotify_event& event, TFolderChanges& changes) {
    auto outside = outsideLinks.find(event.wd);
    if (outside != outsideLinks.end()) {
      // A folder outside on a link's route: the link may lead elsewhere now
      // when the entry it looked up there changed, or the folder itself.
      const bool self = event.len == 0 || event.name[0] == '\0';
      for (const auto& [link, name] : outside->second) {
        if (links.count(link) == 0 || (!self && name != event.name)) continue;
        changes.Replaced.insert(link);
        changes.Listed.insert(ParentOf(link));
      }
      if ((event.mask & IN_IGNORED) != 0) {
        for (auto it = outsideFolders.begin(); it != outsideFolders.end(); ++it) {
          if (it->second == event.wd) {
            outsideFolders.erase(it);
            break;
          }
        }
        outsideLinks.erase(outside);
        --watches;
      }
      return;
    }
    auto file = fileFolders.find(event.wd);
    if (file != fileFolders.end()) {
      changes.Listed.insert(file->second.begin(), file->second.end());
      if ((event.mask & IN_IGNORED) != 0) {
        fileFolders.erase(file);
        --watches;
      }
      return;
    }
    auto found = folderPaths.find(event.wd);
    if (found == folderPaths.end()) return;  // a watch dropped by Forget
    const std::string folder = found->second;
    if ((event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
      // The folder itself went (or moved): whatever stands at its path now
      // is read whole, and its parent lists it again.
      if (folder.empty()) {
        changes.All = true;
      } else {
        changes.Replaced.insert(folder);
        changes.Listed.insert(ParentOf(folder));
      }
      if ((event.mask & IN_IGNORED) != 0) {
        Unmap(event.wd);
        --watches;
      }
      return;
    }
    changes.Listed.insert(folder);
    if ((event.mask & IN_ISDIR) == 0 && event.len != 0 && event.name[0] != '\0') {
      // A file made without being written and closed may be a second name
      // of a file elsewhere in the tree (link), written through and gone
      // again before anyone listed it: the other name's folder reports
      // nothing of that write.
      std::string key = folder + '/' + event.name;
      struct stat st {};
      const std::string path = NativeOf(folder) + '/' + event.name;
      if ((event.mask & IN_CREATE) != 0 &&
          !(lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
        unwritten.insert(std::move(key));
      } else if ((event.mask & IN_CLOSE_WRITE) != 0) {
        unwritten.erase(key);
      }
    }
    if (event.len == 0 || event.name[0] == '\0') {
      // The folder's own time or attributes: its parent lists its time.
      if (!folder.empty()) changes.Listed.insert(ParentOf(folder));
      return;
    }
    if ((event.mask & IN_ISDIR) != 0 &&
        (event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
      changes.Replaced.insert(Below(folder, event.name));
    } else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
      // Perhaps a link, made or pointed elsewhere: what it leads to is
      // read whole.
      changes.Replaced.insert(Below(folder, event.name));
    }
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
  changes_ = TFolderChanges();
  maxWatches_ = maxWatches;
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
  char* resolved = realpath(impl.root.c_str(), nullptr);
  if (resolved == nullptr) {
    limit_ = TFolderWatchLimit::Unwatchable;
    return;
  }
  const std::string real(resolved);
  free(resolved);
  impl.realRoot = real;
  if (MountBelow(real)) {
    limit_ = TFolderWatchLimit::MountInside;
    return;
  }
  if (Exported(real)) {
    limit_ = TFolderWatchLimit::Exported;
    return;
  }
  filesFoundLinked_ = 0;
  links_ = 0;
  settingUp_ = true;
  WatchTree("");
  settingUp_ = false;
  // A change made while the watches were being set up may have escaped
  // them (a folder made in one already read, then filled), so it counts:
  // the caller's tree, read after this, is then not vouched for.
  if (CanVouch()) Changed();
}

void TFolderWatch::WatchBelow(std::string_view folder) {
  if (!CanVouch()) return;
  Forget(folder);
  WatchTree(std::string(folder));
}

void TFolderWatch::Forget(std::string_view folder) {
  if (folder.empty()) {
    limit_ = TFolderWatchLimit::Unwatchable;  // the root is watched by Watch only
    return;
  }
  impl_->Forget(std::string(folder));
}

void TFolderWatch::WatchTree(const std::string& top) {
  TImpl& impl = *impl_;
  const int maxWatches = maxWatches_;
  auto addWatch = [&](const std::string& path, uint32_t mask) -> int {
    if (maxWatches > 0 && impl.watches >= maxWatches) {
      limit_ = TFolderWatchLimit::WatchLimit;
      return -1;
    }
    int wd = inotify_add_watch(impl.notify, path.c_str(), mask);
    if (wd < 0) {
      // Gone (or no folder any more) since its parent was listed, below
      // the root: the parent's event reports that.
      if ((errno == ENOENT || errno == ENOTDIR) && path != impl.root) {
        return -2;
      }
      limit_ = errno == ENOSPC ? TFolderWatchLimit::WatchLimit : TFolderWatchLimit::Unwatchable;
      return -1;
    }
    ++impl.watches;
    return wd;
  };

  // Each folder is watched before it is read: whatever changes in it after
  // the read has an event waiting.
  struct TPending {
    std::string path;    // on disk
    std::string folder;  // below the root
    dev_t parentDevice;
  };
  std::unordered_set<int> seen;  // the folders of this walk
  std::vector<TPending> pending{{impl.NativeOf(top), top, static_cast<dev_t>(-1)}};
  while (!pending.empty() && CanVouch()) {
    TPending folder = std::move(pending.back());
    pending.pop_back();
    // Below the root a folder is never entered through a link (IN_DONT_FOLLOW):
    // one that became a link since it was listed is refused.
    const bool isRoot = folder.folder.empty();
    if (!isRoot && folder.parentDevice == static_cast<dev_t>(-1)) {
      // The top of a subtree: gone since its parent was listed is no
      // failure, the parent's event reports it.
      struct stat top {};
      if (lstat(folder.path.c_str(), &top) != 0 && errno == ENOENT) break;
    }
    int wd = addWatch(folder.path, kFolderEvents | IN_ONLYDIR | (isRoot ? 0 : IN_DONT_FOLLOW));
    if (wd == -2) continue;
    if (wd < 0) break;
    if (!seen.insert(wd).second) {
      limit_ = TFolderWatchLimit::FolderTwice;
      break;
    }
    if (impl.folderPaths.count(wd) != 0) --impl.watches;  // moved here, watched already
    impl.Map(wd, folder.folder);
    DIR* dir = opendir(folder.path.c_str());
    if (dir == nullptr) {
      if (errno == ENOENT && !isRoot) continue;  // deleted since: its watch reports that
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
        LinkMet(folder.folder, name);
      } else if (S_ISDIR(st.st_mode)) {
        pending.push_back({std::move(path), Below(folder.folder, name), self.st_dev});
      } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
        if (!WatchFile(path, folder.folder)) break;
      }
      errno = 0;
    }
    closedir(dir);
  }
  if (CanVouch() && top.empty()) FollowLinks();
}

// A link is an entry of its folder, whose watch reports it made, deleted
// or pointed elsewhere; it is followed once the walk that met it has
// watched its folders (FollowLinks).
void TFolderWatch::LinkMet(const std::string& folder, std::string_view name) {
  ++links_;
  impl_->linksMet.push_back(Below(folder, name));
}

// Each link met is followed as the system follows it. The folders inside
// that its route reads are watched (all of the tree's are, or the event of
// their making is waiting in their parent, which the route read too); the
// folders outside get a watch of their own, and the link is followed again
// until every folder its route reads was watched before it was read.
void TFolderWatch::FollowLinks() {
  TImpl& impl = *impl_;
  const std::string& root = impl.realRoot;
  std::vector<std::string> met;
  met.swap(impl.linksMet);
  auto below =
      [&root](const std::string& path) {  // an absolute path inside, as TFolderChanges names it
        std::string folder;
        for (size_t at = root.size() + (root == "/" ? 0 : 1); at < path.size();) {
          size_t end = path.find('/', at);
          if (end == std::string::npos) end = path.size();
          folder = Below(folder, std::string_view(path).substr(at, end - at));
          at = end + 1;
        }
        return folder;
      };
  for (const std::string& path : met) {
    if (!CanVouch()) return;
    auto old = impl.links.find(path);
    if (old != impl.links.end()) impl.DropLink(old);
    const std::string native = impl.NativeOf(path);
    char text[4096];
    const ssize_t n = readlink(native.c_str(), text, sizeof text);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text) {
      if (n < 0 && (errno == ENOENT || errno == EINVAL)) continue;  // gone: its folder reports that
      limit_ = TFolderWatchLimit::Unwatchable;
      return;
    }
    const std::string from =
        ParentFolder(root + (root == "/" ? "" : "/") +
                     native.substr(impl.root.size() + (impl.root.back() == '/' ? 0 : 1)));
    TLinkRoute route;
    for (int attempt = 0;; ++attempt) {
      route = FollowRoute(from, std::string_view(text, static_cast<size_t>(n)));
      bool watchedAll = true;
      for (const std::string& folder : route.folders) {
        if (Inside(folder, root) || impl.outsideFolders.count(folder) != 0) continue;
        watchedAll = false;
        if (maxWatches_ > 0 && impl.watches >= maxWatches_) {
          limit_ = TFolderWatchLimit::WatchLimit;
          return;
        }
        const int wd = inotify_add_watch(impl.notify, folder.c_str(),
                                         kFolderEvents | IN_ONLYDIR | IN_DONT_FOLLOW);
        struct statfs fs {};
        if (wd < 0 || statfs(folder.c_str(), &fs) != 0) {
          limit_ = wd < 0 && errno == ENOSPC ? TFolderWatchLimit::WatchLimit
                                             : TFolderWatchLimit::Unwatchable;
          return;
        }
        if (IsRemoteFileSystem(static_cast<int64_t>(fs.f_type))) {
          limit_ = TFolderWatchLimit::RemoteFileSystem;
          return;
        }
        if (impl.folderPaths.count(wd) != 0 || impl.fileFolders.count(wd) != 0) {
          limit_ = TFolderWatchLimit::FolderTwice;  // a folder of the tree, reached from outside
          return;
        }
        if (impl.outsideLinks.count(wd) == 0) ++impl.watches;
        impl.outsideFolders[folder] = wd;
        impl.outsideLinks[wd];
      }
      if (watchedAll) break;
      if (attempt == 8) {
        limit_ = TFolderWatchLimit::Unwatchable;  // its route keeps changing
        return;
      }
    }
    TImpl::TLink& link = impl.links[path];
    link.inside = route.found && Inside(route.target, root);
    if (link.inside) {
      struct stat st {};
      link.target = below(route.target);
      link.folder = stat(route.target.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      if (link.folder) impl.linkTargets.emplace(link.target, path);
    }
    for (size_t step = 0; step < route.folders.size(); ++step) {
      const std::string& folder = route.folders[step];
      if (Inside(folder, root)) {
        std::string inside = below(folder);
        std::vector<std::string>& readers = impl.routeLinks[inside];
        if (std::find(readers.begin(), readers.end(), path) == readers.end())
          readers.push_back(path);
        link.route.push_back(std::move(inside));
      } else {
        auto& readers = impl.outsideLinks[impl.outsideFolders[folder]];
        std::pair<std::string, std::string> reader(path, route.names[step]);
        if (std::find(readers.begin(), readers.end(), reader) == readers.end())
          readers.push_back(std::move(reader));
      }
    }
    impl.circle = 0;
  }
}

bool TFolderWatch::ThroughLink(std::string_view path) const {
  if (impl_->linkTargets.empty()) return false;
  for (std::string at(path);; at = ParentOf(at)) {
    if (LinkToFolder(at)) return true;
    if (at.empty()) return false;
  }
}

bool TFolderWatch::LinkToFolder(std::string_view path) const {
  const TImpl& impl = *impl_;
  if (impl.linkTargets.empty()) return false;
  auto link = impl.links.find(std::string(path));
  return link != impl.links.end() && link->second.folder;
}

bool TFolderWatch::LinksCircle() const {
  const TImpl& impl = *impl_;
  if (impl.circle != 0) return impl.circle == 2;
  // Depth first over the links to folders: a link leads to the links that
  // lie in (or below) the folder it leads to.
  std::map<std::string, int> state;  // 1 on the way, 2 done
  bool circle = false;
  for (const auto& start : impl.links) {
    if (circle) break;
    if (!start.second.folder || state[start.first] != 0) continue;
    std::vector<std::pair<std::string, bool>> stack{{start.first, false}};
    while (!stack.empty() && !circle) {
      auto [path, leaving] = stack.back();
      stack.pop_back();
      if (leaving) {
        state[path] = 2;
        continue;
      }
      int& mark = state[path];
      if (mark == 2) continue;
      mark = 1;
      stack.push_back({path, true});
      const std::string& target = impl.links.at(path).target;
      const std::string inside = target.empty() ? std::string() : target + '\\';
      for (auto it = impl.links.lower_bound(inside);
           it != impl.links.end() && it->first.compare(0, inside.size(), inside) == 0; ++it) {
        if (!it->second.folder) continue;
        const int next = state[it->first];
        if (next == 1) {
          circle = true;
          break;
        }
        if (next == 0) stack.push_back({it->first, false});
      }
    }
  }
  impl.circle = circle ? 2 : 1;
  return circle;
}

// Adds to `changes` what the links make of them: a link whose route read a
// folder named is named (and its folder), and whatever is named inside a
// folder a link leads to is named at the link's path too, again and again
// for links met on the way (unless the links circle: see LinksCircle).
void TFolderWatch::ShowAtLinks(TFolderChanges& changes) const {
  const TImpl& impl = *impl_;
  if (impl.links.empty()) return;
  const bool circle = LinksCircle();
  std::vector<std::pair<std::string, bool>> work;  // path, whether replaced
  for (const std::string& folder : changes.Listed) work.emplace_back(folder, false);
  for (const std::string& path : changes.Replaced) work.emplace_back(path, true);
  auto add = [&changes, &work](std::string path, bool replaced) {
    if ((replaced ? changes.Replaced : changes.Listed).insert(path).second)
      work.emplace_back(std::move(path), replaced);
  };
  while (!work.empty()) {
    const auto [path, replaced] = std::move(work.back());
    work.pop_back();
    if (!replaced) {
      auto readers = impl.routeLinks.find(path);
      if (readers != impl.routeLinks.end()) {
        for (const std::string& link : readers->second) {
          add(link, true);
          add(ParentOf(link), false);
        }
      }
    }
    if (circle) continue;
    for (std::string at = path;; at = ParentOf(at)) {
      auto range = impl.linkTargets.equal_range(at);
      for (auto it = range.first; it != range.second; ++it) {
        add(at.empty() ? Below(it->second, path) : it->second + path.substr(at.size()), replaced);
      }
      if (at.empty()) break;
    }
  }
}

bool TFolderWatch::WatchFile(const std::string& path, const std::string& folder) {
  TImpl& impl = *impl_;
  if (maxWatches_ > 0 && impl.watches >= maxWatches_) {
    limit_ = TFolderWatchLimit::WatchLimit;
    return false;
  }
  int wd = inotify_add_watch(impl.notify, path.c_str(), kFileEvents | IN_DONT_FOLLOW);
  if (wd < 0) {
    if (errno == ENOENT) return true;  // gone: its folder reports that
    limit_ = errno == ENOSPC ? TFolderWatchLimit::WatchLimit : TFolderWatchLimit::Unwatchable;
    return false;
  }
  std::vector<std::string>& folders = impl.fileFolders[wd];
  if (folders.empty()) {
    ++impl.watches;
    if (!settingUp_) ++filesFoundLinked_;
  }
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  return true;
}

void TFolderWatch::WatchFiles(std::string_view folder) {
  if (!CanVouch()) return;
  const std::string below(folder);
  const std::string path = impl_->NativeOf(below);
  impl_->DropLinks(below, false);  // met again below, followed afresh
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;  // gone: its parent reports that
  errno = 0;
  while (CanVouch()) {
    dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string file = path;
    if (file.back() != '/') file += '/';
    file += name;
    if (S_ISLNK(st.st_mode)) {
      LinkMet(below, name);
    } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
      WatchFile(file, below);
    }
  }
  closedir(dir);
}

TFolderWatch::~TFolderWatch() = default;

bool TFolderWatch::Changed() {
  if (!CanVouch()) return true;
  bool overflow = false;
  if (impl_->Drain(overflow, changes_)) changed_ = true;
  if (overflow) {
    limit_ = TFolderWatchLimit::Overflow;
    return true;
  }
  if (!changes_.All && (impl_->MountsChanged() || impl_->RootMoved())) changes_.All = true;
  if (Exported(impl_->realRoot)) {
    limit_ = TFolderWatchLimit::Exported;  // exported since the watch was set up
    return true;
  }
  if (changes_.All) changed_ = true;
  return changed_;
}

TFolderChanges TFolderWatch::TakeChanges() {
  TFolderChanges changes;
  if (!Changed()) return changes;
  if (!CanVouch()) {
    changes.All = true;
    return changes;
  }
  changes = std::move(changes_);
  changes_ = TFolderChanges();
  if (!impl_->unwritten.empty()) changes.All = true;
  impl_->unwritten.clear();
  if (!changes.All) ShowAtLinks(changes);
  // A drain that read only events of watches already dropped changed nothing.
  changed_ = false;
  if (changes.All) changed_ = true;
  return changes;
}

int TFolderWatch::WatchCount() const {
  return impl_->watches;
}

}  // namespace ormelin
