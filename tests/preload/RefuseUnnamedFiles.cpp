// Preloaded into ormelin-client (LD_PRELOAD) by tests of the way files are
// written where the system makes no unnamed files: every open with O_TMPFILE
// fails with EOPNOTSUPP, as on a file system without them. The first refusal
// creates the file named by ORMELIN_REFUSED_MARK, so the test knows the
// refusal was met.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

namespace {

bool Refused(int flags) {
  if ((flags & O_TMPFILE) != O_TMPFILE) return false;
  static std::atomic<bool> marked{false};
  if (!marked.exchange(true)) {
    if (const char* mark = getenv("ORMELIN_REFUSED_MARK")) {
      using TOpen = int (*)(const char*, int, ...);
      static const TOpen real = reinterpret_cast<TOpen>(dlsym(RTLD_NEXT, "open"));
      const int fd = real(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    }
  }
  errno = EOPNOTSUPP;
  return true;
}

mode_t ModeOf(int flags, va_list& arguments) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

#define ORMELIN_OPEN(name)                                                      \
  extern "C" int name(const char* path, int flags, ...) {                       \
    va_list arguments;                                                          \
    va_start(arguments, flags);                                                 \
    const mode_t mode = ModeOf(flags, arguments);                               \
    va_end(arguments);                                                          \
    if (Refused(flags)) return -1;                                              \
    using TOpen = int (*)(const char*, int, ...);                               \
    static const TOpen real = reinterpret_cast<TOpen>(dlsym(RTLD_NEXT, #name)); \
    return real(path, flags, mode);                                             \
  }
#define ORMELIN_OPENAT(name)                                                        \
  extern "C" int name(int folder, const char* path, int flags, ...) {               \
    va_list arguments;                                                              \
    va_start(arguments, flags);                                                     \
    const mode_t mode = ModeOf(flags, arguments);                                   \
    va_end(arguments);                                                              \
    if (Refused(flags)) return -1;                                                  \
    using TOpenAt = int (*)(int, const char*, int, ...);                            \
    static const TOpenAt real = reinterpret_cast<TOpenAt>(dlsym(RTLD_NEXT, #name)); \
    return real(folder, path, flags, mode);                                         \
  }

ORMELIN_OPEN(open)
ORMELIN_OPEN(open64)
ORMELIN_OPENAT(openat)
ORMELIN_OPENAT(openat64)
