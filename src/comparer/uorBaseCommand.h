// The base of the file commands and the process-wide registry that maps a
// task name ("insert_file", ...) to the command that performs it.
//
// A command has no state: each command class has exactly one constant
// instance, which stands for the class itself (a `TorCommandClass`), and its
// Execute is the class's operation. The registry holds those instances; it
// is filled once at start-up and guarded by a lock for registration and
// lookup, so lookups are safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace ormelin {

// "Class %s not found"
class EClassNotFound : public Exception {
 public:
  using Exception::Exception;
};

class TorCommand {
 public:
  TorCommand() = default;
  TorCommand(const TorCommand&) = delete;
  TorCommand& operator=(const TorCommand&) = delete;
  virtual ~TorCommand() = default;

  // Carries one task out: `targetRoot` is the local folder the task path is
  // relative to, `sourceRoot` where file contents come from, `params` the
  // task's parameter text. The base command does nothing. Failures are
  // raised to the caller.
  virtual void Execute(std::string_view /*targetRoot*/, std::string_view /*sourceRoot*/,
                       std::string_view /*params*/) const {}
};

// A reference to a command class: its one instance, never null.
using TorCommandClass = const TorCommand*;

// Enters `command` under `name`; a later registration of the same name
// (letter case ignored) replaces the earlier one.
void RegisterCommandClass(std::string_view name, TorCommandClass command);
// The command registered under `name` (locale-aware, case ignored); raises
// EClassNotFound "Class %s not found" with the name as asked.
TorCommandClass FindCommandClass(std::string_view name);

}  // namespace ormelin
