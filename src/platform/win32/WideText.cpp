#include "platform/win32/WideText.h"

#include <windows.h>

#include "platform/Cp1250.h"
#include "platform/Paths.h"

namespace ormelin {

std::wstring Cp1250ToWide(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text)
    wide.push_back(static_cast<wchar_t>(Cp1250ToUnicode(static_cast<unsigned char>(c))));
  return wide;
}

std::string WideToCp1250(std::wstring_view text, bool* exact) {
  std::string out;
  out.reserve(text.size());
  bool kept = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t codePoint = static_cast<char16_t>(text[i]);
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < text.size() &&
        static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<char16_t>(text[i + 1]) <= 0xDFFF) {
      ++i;  // one character outside the basic plane: never in the code page
      codePoint = 0x10000;
    }
    int byte = UnicodeToCp1250(codePoint);
    if (byte < 0) {
      kept = false;
      out.push_back('?');
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  if (exact != nullptr) *exact = kept;
  return out;
}

std::string WideToCp1250(const wchar_t* text) {
  return text == nullptr ? std::string() : WideToCp1250(std::wstring_view(text));
}

std::string WideToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                      nullptr, nullptr);
  return out;
}

bool ToWidePath(std::string_view path, std::wstring& wide) {
  if (path.find('\0') != std::string_view::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  wide = Cp1250ToWide(PlatformPath(path));
  return true;
}

}  // namespace ormelin
