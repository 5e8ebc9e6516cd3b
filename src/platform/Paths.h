// Paths reach the platform in Windows form: "\" separates parts and texts
// such as root + "\" + "\doc\a.txt" may hold doubled separators. Names are
// code page 1250; the file system speaks UTF-8. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// Code page 1250 <-> UTF-8. A character that code page 1250 lacks becomes "?".
std::string Cp1250ToUtf8(std::string_view text);
std::string Utf8ToCp1250(std::string_view text);

// A system path in this platform's own form, for the texts that show it to
// people (messages, the log): every "\" becomes "/" and repeated separators
// collapse to one; the text stays code page 1250.
std::string PlatformPath(std::string_view path);

// The file-system path of a system path: PlatformPath with each name
// converted to UTF-8. A configured
// root such as "/srv/docs" passes unchanged; "D:\Data" is simply a name.
// A NUL byte is kept as it stands (it is not a separator and does not end
// the text), so that callers can refuse such a path instead of handing the
// system a shortened one; every file operation here refuses it.
std::string NativePath(std::string_view path);

// Appends "\" unless the text already ends with "\" or "/".
std::string IncludeTrailingBackslash(std::string_view path);

// The folder of the running executable, with a trailing separator.
std::string ExecutableFolder();
// The folder shared by all users for application data ("/etc").
std::string CommonAppDataFolder();

}  // namespace ormelin
