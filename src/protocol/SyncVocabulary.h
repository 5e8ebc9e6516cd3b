// The words of the synchronisation protocol that its two ends must agree on:
// the command words, the replies with their codes and texts, the task names
// of the task lists and the default port. The server, the file commands and
// ormelin-client take them from here and type none of them again. Constants
// and pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The synchronisation port when the configuration names none; the console
// listens one port higher.
inline constexpr int kDefaultSyncPort = 1974;

// Command words, compared without regard to case. A command line is the
// word followed by its fields, each after one blank.
inline constexpr std::string_view kCmdHello = "Hello";
inline constexpr std::string_view kCmdSync = "Sync";
inline constexpr std::string_view kCmdGetFile = "GetFile";

// "Sync <project>".
std::string SyncCommandLine(std::string_view project);
// "GetFile <project> <path>": the path is the rest of the line and may hold
// blanks, a project name holds none.
std::string GetFileCommandLine(std::string_view project, std::string_view path);

// One reply: its code and the text of its last (or only) line.
struct TProtocolReply {
  int Code;
  std::string_view Text;
};

inline constexpr std::string_view kWordReady = "Ready";

inline constexpr TProtocolReply kReplyGreeting{200, kWordReady};
inline constexpr TProtocolReply kReplyHello{201, kWordReady};
inline constexpr TProtocolReply kReplySyncStarted{202, "Sync Started"};
inline constexpr TProtocolReply kReplyGetFileStarted{203, "Get File Started"};
inline constexpr TProtocolReply kReplyUnknownCommand{400, "Unknown Command"};
// "%s" stands for the project name as the client sent it.
inline constexpr TProtocolReply kReplyNoProject{401, "Project '%s' does not exist"};
// The last line of the failure pair; the line before it is "500-" and the
// error's message.
inline constexpr TProtocolReply kReplyFailure{500, "Better luck next time"};
// The message of the failure pair that a TLS port sends in the clear, in
// the place of the greeting, to a client of the plain protocol.
inline constexpr std::string_view kTlsOnlyMessage = "This port speaks TLS only";

// "ddd text": the code, one blank and the text.
std::string ReplyLine(const TProtocolReply& reply);
// The same with `argument` in the place of the text's "%s", byte for byte
// as given (a NUL byte included).
std::string ReplyLine(const TProtocolReply& reply, std::string_view argument);
// "ddd-text": a line of a multi-line reply before its last.
std::string ReplyLineBefore(int code, std::string_view text);

// Task names: the kinds in the task lists, and the names the file commands
// are registered under.
inline constexpr std::string_view kTaskInsertDir = "insert_dir";
inline constexpr std::string_view kTaskDeleteDir = "delete_dir";
inline constexpr std::string_view kTaskInsertFile = "insert_file";
inline constexpr std::string_view kTaskDeleteFile = "delete_file";
inline constexpr std::string_view kTaskUpdateFile = "update_file";

// The elements of the task-list XML: one "task" per task, the kind as its
// text, holding one "param" with the parameter text.
inline constexpr std::string_view kTaskElement = "task";
inline constexpr std::string_view kParamElement = "param";

}  // namespace ormelin
