// The words and reply texts of the synchronisation protocol, shared by the
// server's handlers and the client side of the file commands.
#pragma once

namespace ormelin {

// Command words, compared without regard to case.
inline constexpr const char* CmdHello = "Hello";
inline constexpr const char* CmdSync = "Sync";
inline constexpr const char* CmdGetFile = "GetFile";

inline constexpr const char* WordReady = "Ready";

// Reply codes.
inline constexpr int ReplyGreeting = 200;
inline constexpr int ReplyHello = 201;
inline constexpr int ReplySyncStarted = 202;
inline constexpr int ReplyGetFileStarted = 203;
inline constexpr int ReplyUnknownCommand = 400;
inline constexpr int ReplyNoProject = 401;
inline constexpr int ReplyFailure = 500;

// Reply lines, without the line end.
inline constexpr const char* TextGreeting = "200 Ready";
inline constexpr const char* TextHelloReply = "201 Ready";
inline constexpr const char* TextSyncStarted = "202 Sync Started";
inline constexpr const char* TextGetFileStarted = "203 Get File Started";
inline constexpr const char* TextUnknownCommand = "400 Unknown Command";
inline constexpr const char* FormatNoProject = "401 Project '%s' does not exist";
inline constexpr const char* TextFailurePrefix = "500-";
inline constexpr const char* TextFailureLast = "500 Better luck next time";

// The task names that never reach a client.
inline constexpr const char* TaskDeleteDir = "delete_dir";
inline constexpr const char* TaskDeleteFile = "delete_file";

// The synchronisation port when the configuration names none.
inline constexpr int DefaultSyncPort = 1974;

}  // namespace ormelin
