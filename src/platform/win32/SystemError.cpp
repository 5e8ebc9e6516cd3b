#include "platform/win32/SystemError.h"

#include <windows.h>

#include "platform/Format.h"
#include "platform/win32/WideText.h"

namespace ormelin {

std::string SystemErrorMessage(unsigned long errorCode) {
  wchar_t buffer[1024];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                sizeof buffer / sizeof buffer[0], nullptr);
  // The texts end with ".\r\n"; the messages that carry them go on after it.
  while (length > 0 && (buffer[length - 1] <= L' ' || buffer[length - 1] == L'.')) --length;
  if (length == 0) return Format("Unknown error %d", static_cast<int>(errorCode));
  return WideToCp1250(std::wstring_view(buffer, length));
}

}  // namespace ormelin
