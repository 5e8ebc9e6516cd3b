// The synchronisation protocol's command line, failure reply and the
// handling of client texts, shared by the module's handlers. Pure functions,
// safe from any thread.
#pragma once

#include <string>
#include <string_view>

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
// The message of an error raised below the protocol, which may quote client
// input (a size line, a date text, a path): "<", ">" and "&" escaped so that
// it shows as text, while its own quotes stay as they are.
std::string MessageAsText(std::string_view message);

// An error whose message the module built itself, with every client text in
// it already made safe; it goes to the log and the reply unchanged.
class EClientRequestError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace ormelin
