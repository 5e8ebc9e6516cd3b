#include "platform/Paths.h"

#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include "platform/posix/NativePath.h"

namespace ormelin {

std::string PlatformPath(std::string_view path) {
  std::string slashed;
  slashed.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !slashed.empty() && slashed.back() == '/') continue;
    slashed.push_back(c);
  }
  return slashed;
}

std::string NativePath(std::string_view path) {
  return Cp1250ToUtf8(PlatformPath(path));
}

bool ToNativePath(std::string_view path, std::string& native) {
  native = NativePath(path);
  if (native.find('\0') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  return true;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return "";
  std::string path(buffer, static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  return Utf8ToCp1250(path.substr(0, slash + 1));
}

std::string CommonAppDataFolder() {
  return "/etc";
}

}  // namespace ormelin
