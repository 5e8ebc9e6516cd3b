#include "platform/Console.h"

#include <windows.h>

namespace ormelin {
namespace {

HANDLE Handle(TConsoleStream stream) {
  return GetStdHandle(stream == TConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool IsTerminal(TConsoleStream stream) {
  DWORD mode = 0;
  HANDLE handle = Handle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    return false;
  }
  // Progress lines are drawn with the terminal's control sequences.
  SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

int TerminalWidth(TConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(Handle(stream), &info)) {
    int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 0) return width;
  }
  return 80;
}

}  // namespace ormelin
