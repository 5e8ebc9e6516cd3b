// The process locale's date and time conventions, read once through the C
// library's locale data without touching the global locale.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/DateTime.h"
#include "platform/Paths.h"

namespace ormelin {
namespace {

std::string LocaleValue(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

bool IsPlainLocale(const std::string& value) {
  std::string name = value.substr(0, value.find_first_of(".@"));
  return name.empty() || name == "C" || name == "POSIX";
}

// A locale string in code page 1250 (the locale may speak UTF-8).
std::string LocaleText(const char* text, bool utf8) {
  if (text == nullptr) return "";
  return utf8 ? Utf8ToCp1250(text) : std::string(text);
}

TFormatSettings ReadLocaleSettings() {
  if (IsPlainLocale(LocaleValue("LC_TIME"))) return CroatianFormatSettings();
  locale_t locale = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK | LC_CTYPE_MASK, "", nullptr);
  if (locale == nullptr) return CroatianFormatSettings();
  const char* codeset = nl_langinfo_l(CODESET, locale);
  bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0);
  std::string dateLayout = LocaleText(nl_langinfo_l(D_FMT, locale), utf8);
  std::string timeLayout = LocaleText(nl_langinfo_l(T_FMT, locale), utf8);
  std::string am = LocaleText(nl_langinfo_l(AM_STR, locale), utf8);
  std::string pm = LocaleText(nl_langinfo_l(PM_STR, locale), utf8);
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  char decimal = radix != nullptr && std::strlen(radix) == 1 ? radix[0] : ',';
  freelocale(locale);
  return FormatSettingsFromLayouts(dateLayout, timeLayout, am, pm, decimal);
}

}  // namespace

const TFormatSettings& DefaultFormatSettings() {
  static const TFormatSettings settings = ReadLocaleSettings();
  return settings;
}

}  // namespace ormelin
