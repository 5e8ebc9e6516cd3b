// Preloaded into ormelin-client by tests that must act in the middle of a
// mirror (LD_PRELOAD): the first file put into place, renamed from its
// temporary name or linked from an unnamed file, stops the whole process
// with SIGSTOP, so that the test finds it stopped with every other file
// still to come, however fast the machine copies. SIGCONT lets it go on.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<bool> stopped{false};

int StopAfter(int result) {
  if (result == 0 && !stopped.exchange(true)) kill(getpid(), SIGSTOP);
  return result;
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
  using TRename = int (*)(const char*, const char*);
  static const TRename real = reinterpret_cast<TRename>(dlsym(RTLD_NEXT, "rename"));
  return StopAfter(real(from, to));
}

extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  using TRenameAt = int (*)(int, const char*, int, const char*);
  static const TRenameAt real = reinterpret_cast<TRenameAt>(dlsym(RTLD_NEXT, "renameat"));
  return StopAfter(real(fromFolder, from, toFolder, to));
}

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  using TLinkAt = int (*)(int, const char*, int, const char*, int);
  static const TLinkAt real = reinterpret_cast<TLinkAt>(dlsym(RTLD_NEXT, "linkat"));
  return StopAfter(real(fromFolder, from, toFolder, to, flags));
}
