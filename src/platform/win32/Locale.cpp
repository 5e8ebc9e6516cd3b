// The user default locale's date and time conventions, read once with
// GetLocaleInfoW and written in the system's pattern letters.
#include <windows.h>

#include <string>

#include "platform/Cp1250.h"
#include "platform/DateTime.h"
#include "platform/win32/LocalePicture.h"
#include "platform/win32/WideText.h"

namespace ormelin {
namespace {

std::wstring LocaleInfo(LCTYPE type) {
  wchar_t buffer[128];
  int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer / sizeof buffer[0]);
  return length > 1 ? std::wstring(buffer, static_cast<size_t>(length) - 1) : std::wstring();
}

// A character of the picture that stands for itself.
void AppendLiteral(std::string& out, wchar_t w) {
  int byte = UnicodeToCp1250(static_cast<char16_t>(w));
  char c = byte < 0 ? '?' : static_cast<char>(byte);
  AppendLayoutLiteral(out, c);
}

}  // namespace

std::string PatternFromPicture(std::wstring_view picture, char separatorSymbol, char& separator) {
  std::string out;
  bool haveSeparator = false;
  for (size_t i = 0; i < picture.size();) {
    wchar_t c = picture[i];
    if (c == L'\'') {
      // Quoted text; two quotes in a row stand for one.
      for (++i; i < picture.size(); ++i) {
        if (picture[i] == L'\'') {
          if (i + 1 < picture.size() && picture[i + 1] == L'\'') {
            AppendLiteral(out, L'\'');
            ++i;
            continue;
          }
          ++i;
          break;
        }
        AppendLiteral(out, picture[i]);
      }
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    switch (c) {
      case L'd':
        out += std::string(run < 4 ? run : 4, 'd');
        break;
      case L'M':
        out += std::string(run < 4 ? run : 4, 'm');
        break;
      case L'y':
        out += run <= 2 ? "yy" : "yyyy";
        break;
      case L'g':
        break;
      case L'h':
      case L'H':
        out += run == 1 ? "h" : "hh";
        break;
      case L'm':
        out += run == 1 ? "n" : "nn";
        break;
      case L's':
        out += run == 1 ? "s" : "ss";
        break;
      case L't':
        out += "ampm";
        break;
      default: {
        const bool punctuation = c < 0x80 && c > L' ' && !IsCharAlphaNumericW(c) && c != L'"';
        for (size_t k = 0; k < run; ++k) {
          if (punctuation && (!haveSeparator || static_cast<char>(c) == separator)) {
            haveSeparator = true;
            separator = static_cast<char>(c);
            out.push_back(separatorSymbol);
          } else {
            AppendLiteral(out, c);
          }
        }
      }
    }
    i += run;
  }
  return out;
}

namespace {

TFormatSettings ReadLocaleSettings() {
  TFormatSettings settings = CroatianFormatSettings();
  std::wstring date = LocaleInfo(LOCALE_SSHORTDATE);
  if (!date.empty()) {
    char separator = settings.DateSeparator;
    settings.ShortDateFormat = PatternFromPicture(date, '/', separator);
    settings.DateSeparator = separator;
  }
  std::wstring time = LocaleInfo(LOCALE_STIMEFORMAT);
  if (!time.empty()) {
    char separator = settings.TimeSeparator;
    settings.LongTimeFormat = PatternFromPicture(time, ':', separator);
    settings.TimeSeparator = separator;
  }
  std::string am = WideToCp1250(LocaleInfo(LOCALE_S1159));
  std::string pm = WideToCp1250(LocaleInfo(LOCALE_S2359));
  if (!am.empty()) settings.TimeAMString = am;
  if (!pm.empty()) settings.TimePMString = pm;
  std::string decimal = WideToCp1250(LocaleInfo(LOCALE_SDECIMAL));
  if (decimal.size() == 1) settings.DecimalSeparator = decimal[0];
  return settings;
}

}  // namespace

const TFormatSettings& DefaultFormatSettings() {
  static const TFormatSettings settings = ReadLocaleSettings();
  return settings;
}

}  // namespace ormelin
