// The terminal a program's output goes to: whether standard output or
// standard error is a terminal (progress lines are drawn only there), and
// its width. Safe from any thread.
#pragma once

namespace ormelin {

enum class TConsoleStream { Output, Error };

bool IsTerminal(TConsoleStream stream);
// Columns of the terminal behind `stream`; 80 when it cannot tell.
int TerminalWidth(TConsoleStream stream);

}  // namespace ormelin
