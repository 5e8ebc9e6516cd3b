// Preloaded into ormelin-client (LD_PRELOAD) by tests of the way unnamed
// files are named where a process may not name a file through its own
// handle (linkat with AT_EMPTY_PATH, which kernels before 6.10 allow only
// with CAP_DAC_READ_SEARCH): every such call fails with ENOENT, as there.
// The first refusal creates the file named by ORMELIN_REFUSED_MARK, so the
// test knows the refusal was met.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  if ((flags & AT_EMPTY_PATH) != 0) {
    static std::atomic<bool> marked{false};
    if (!marked.exchange(true)) {
      if (const char* mark = getenv("ORMELIN_REFUSED_MARK")) {
        const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
      }
    }
    errno = ENOENT;
    return -1;
  }
  using TLinkAt = int (*)(int, const char*, int, const char*, int);
  static const TLinkAt real = reinterpret_cast<TLinkAt>(dlsym(RTLD_NEXT, "linkat"));
  return real(fromFolder, from, toFolder, to, flags);
}
