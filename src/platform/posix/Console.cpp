#include "platform/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace ormelin {
namespace {

int Descriptor(TConsoleStream stream) {
  return stream == TConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool IsTerminal(TConsoleStream stream) {
  return isatty(Descriptor(stream)) == 1;
}

int TerminalWidth(TConsoleStream stream) {
  winsize size{};
  if (ioctl(Descriptor(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace ormelin
