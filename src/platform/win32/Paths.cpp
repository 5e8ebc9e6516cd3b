#include "platform/Paths.h"

#include <shlobj.h>
#include <windows.h>

#include <vector>

#include "platform/win32/WideText.h"

namespace ormelin {

std::string PlatformPath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i] == '/' ? '\\' : path[i];
    // A leading pair is the start of a network ("\\server\share") or
    // device ("\\?\", "\\.\") path; any other pair is one separator.
    if (c == '\\' && !out.empty() && out.back() == '\\' && i != 1) continue;
    out.push_back(c);
  }
  return out;
}

std::string NativePath(std::string_view path) {
  return PlatformPath(path);
}

std::string ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) {
      std::wstring_view path(buffer.data(), length);
      return WideToCp1250(path.substr(0, path.rfind(L'\\') + 1));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string CommonAppDataFolder() {
  wchar_t folder[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) !=
      S_OK) {
    return "";
  }
  return WideToCp1250(folder);
}

}  // namespace ormelin
