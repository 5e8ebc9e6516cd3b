#include "platform/win32/SystemError.h"

#include <windows.h>

#include "platform/Format.h"
#include "platform/win32/WideText.h"

namespace ormelin {

std::string SystemErrorText(unsigned long errorCode) {
  std::string text;
  for (const DWORD language :
       {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), static_cast<DWORD>(0)}) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length > 0 && buffer != nullptr) text = WideToCp1250(std::wstring_view(buffer, length));
    if (buffer != nullptr) LocalFree(buffer);
    if (!text.empty()) break;
  }
  // The texts end with "\r\n"; the messages that carry them go on after it.
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string SystemErrorMessage(unsigned long errorCode) {
  std::string text = SystemErrorText(errorCode);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) return Format("Unknown error %d", static_cast<int>(errorCode));
  return text;
}

}  // namespace ormelin
