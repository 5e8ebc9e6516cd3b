// Where a path that a client asks for leads inside a folder it is confined
// to (a project's root folder for GetFile). The path is joined to the root
// as the protocol defines it: the root, "\" unless the root ends with "\" or
// "/", then the path as received. A path that could reach anything but a
// file below the root is refused before anything is opened; links that the
// administrator placed inside the root are followed like any other entry.
//
// Both rule sets are plain text work without system calls, so either one
// can be tried on any machine. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The joined path under this platform's rules. Raises EFOpenError
// "Cannot open file "%s". %s" with the joined path (a NUL byte shown as "?")
// and the reason: "The path contains a NUL character.", "The path leads
// outside the project's root folder.", and on Windows also "The path names
// a device." and "The path names an alternate data stream.".
std::string ConfinedPath(std::string_view root, std::string_view path);

// Linux: "\" and "/" both separate parts; a part of two dots or more with
// blanks (".." and its look-alikes) is refused; the joined path, mapped to
// the file system's form, must stay the root or lie below it.
std::string ConfinedPathByPosixRules(std::string_view root, std::string_view path);

// Windows: as on Linux, and besides the path may not name a drive ("C:x",
// "\C:\x"), begin a UNC or device path ("\\server\share", "\\?\", "\\.\"),
// name an alternate data stream ("a.txt:s") or, in any part, a device
// ("CON", "PRN", "AUX", "NUL", "COM1" to "COM9", "LPT1" to "LPT9",
// "CONIN$", "CONOUT$"; any case, also with an extension or with trailing
// dots or blanks: "con .txt"). The joined path must keep the root's drive,
// share or prefix and stay below the root.
std::string ConfinedPathByWindowsRules(std::string_view root, std::string_view path);

}  // namespace ormelin
