// Preloaded into ormelin-client by tests that must act in the middle of a
// mirror (LD_PRELOAD): the first file renamed into place stops the whole
// process with SIGSTOP, so that the test finds it stopped with every other
// file still to come, however fast the machine copies. SIGCONT lets it go on.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

extern "C" int rename(const char* from, const char* to) {
  using TRename = int (*)(const char*, const char*);
  static const TRename real = reinterpret_cast<TRename>(dlsym(RTLD_NEXT, "rename"));
  static std::atomic<bool> stopped{false};
  const int result = real(from, to);
  if (result == 0 && !stopped.exchange(true)) kill(getpid(), SIGSTOP);
  return result;
}
