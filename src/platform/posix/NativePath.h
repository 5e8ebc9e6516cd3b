// System paths as the file-system calls take them. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// NativePath(path) for handing to a system call. A path holding a NUL byte
// (which the call would silently cut short) is refused: false with errno
// set to EINVAL.
bool ToNativePath(std::string_view path, std::string& native);

}  // namespace ormelin
