// The synchronisation protocol's command line, failure reply and the
// handling of client texts, shared by the module's handlers. Pure functions,
// safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/Exceptions.h"

namespace ormelin {

enum class TServerCommand { Hello, Sync, GetFile, Unknown };

// One command line cut into its fields. Fields are cut at single spaces:
// several spaces are not collapsed, so a leading space gives an empty word
// and a double space an empty next field.
struct TCommandLine {
  TServerCommand Command = TServerCommand::Unknown;
  std::string Word;     // the first field as sent
  std::string Project;  // Sync and GetFile
  std::string Path;     // GetFile: everything after the project's field
};

// The text before the first space, and the text after that space as `rest`
// (empty when there is no space).
std::string CutField(std::string_view text, std::string& rest);

// Cuts the line and finds its command word ("Hello", "Sync", "GetFile",
// compared as whole words without regard to case).
TCommandLine ParseCommandLine(std::string_view line);

// "500-" and the message with every CR LF pair turned into one blank.
std::string FailureLine(std::string_view message);

// A client's text as it may stand in an event-log message that the console
// shows: markup characters escaped, NUL bytes shown as "?".
std::string ClientText(std::string_view text);
// The message of an error raised below the protocol as the event log keeps
// it: it may quote client input (a size line, a date text, a path), so "<",
// ">" and "&" are escaped and it shows as text, while its own quotes stay.
// The client's 500 line carries the message itself.
std::string MessageAsText(std::string_view message);

// An error whose message the module built itself around client texts. The
// message goes to the client as it stands; the log text is the same message
// with those client texts made safe for the console, and any markup of the
// module's own (a client link) kept.
class EClientRequestError : public Exception {
 public:
  EClientRequestError(std::string message, std::string logText)
      : Exception(std::move(message)), logText_(std::move(logText)) {}
  const std::string& LogText() const { return logText_; }

 private:
  std::string logText_;
};

}  // namespace ormelin
