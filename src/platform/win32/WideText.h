// Code page 1250 text and paths as the wide ("W") functions take them.
// Every file name goes through here, never through the ANSI ("A")
// functions, whose bytes would depend on the machine's ANSI code page.
// Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

std::wstring Cp1250ToWide(std::string_view text);
// A character that code page 1250 lacks becomes "?" (a surrogate pair, one
// "?"); `exact` (when given) tells whether every character was kept.
std::string WideToCp1250(std::wstring_view text, bool* exact = nullptr);
std::string WideToCp1250(const wchar_t* text);
// The text in the machine's ANSI code page, for the few "A" functions that
// show text and never take a file name (ReportEventA, MessageBoxA).
std::string WideToAnsi(std::wstring_view text);

// The wide path of a system path: PlatformPath in UTF-16. A path holding a
// NUL byte (which the call would silently cut short) is refused: false with
// the last error set to ERROR_INVALID_NAME.
bool ToWidePath(std::string_view path, std::wstring& wide);

}  // namespace ormelin
