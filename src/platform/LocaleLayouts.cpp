#include <string>

#include "platform/DateTime.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

// Expands the composite conversions into their parts.
std::string ExpandComposites(std::string_view layout) {
  std::string out;
  for (size_t i = 0; i < layout.size(); ++i) {
    if (layout[i] != '%' || i + 1 >= layout.size()) {
      out.push_back(layout[i]);
      continue;
    }
    size_t k = i + 1;
    if (layout[k] == 'E' || layout[k] == 'O') ++k;  // alternative forms read as the plain ones
    if (k >= layout.size()) break;
    switch (layout[k]) {
      case 'D':
        out += "%m/%d/%y";
        break;
      case 'F':
        out += "%Y-%m-%d";
        break;
      case 'T':
        out += "%H:%M:%S";
        break;
      case 'R':
        out += "%H:%M";
        break;
      case 'r':
        out += "%I:%M:%S %p";
        break;
      default:
        out.push_back('%');
        out.push_back(layout[k]);
    }
    i = k;
  }
  return out;
}

bool IsPatternLetter(char c) {
  return std::string_view("dmyhnszact").find(LowerChar(c)) != std::string_view::npos;
}

// Translates one layout into pattern letters; `separator` receives the
// first punctuation between the fields, which the pattern writes as
// `separatorSymbol`.
std::string Translate(std::string_view layout, char separatorSymbol, char& separator) {
  std::string expanded = ExpandComposites(layout);
  std::string out;
  bool haveSeparator = false;
  for (size_t i = 0; i < expanded.size(); ++i) {
    char c = expanded[i];
    if (c == '%' && i + 1 < expanded.size()) {
      char conversion = expanded[++i];
      switch (conversion) {
        case 'd':
          out += "dd";
          break;
        case 'e':
          out += "d";
          break;
        case 'm':
          out += "mm";
          break;
        case 'y':
          out += "yy";
          break;
        case 'Y':
        case 'G':
          out += "yyyy";
          break;
        case 'b':
        case 'h':
          out += "mmm";
          break;
        case 'B':
          out += "mmmm";
          break;
        case 'a':
          out += "ddd";
          break;
        case 'A':
          out += "dddd";
          break;
        case 'H':
        case 'I':
          out += "hh";
          break;
        case 'k':
        case 'l':
          out += "h";
          break;
        case 'M':
          out += "nn";
          break;
        case 'S':
          out += "ss";
          break;
        case 'p':
        case 'P':
          out += "ampm";
          break;
        case '%':
          out += "'%'";
          break;
        default:
          break;  // nothing the system shows
      }
      continue;
    }
    bool punctuation = IsPunctuation(c) && c != '\'' && c != '"';
    if (punctuation && (!haveSeparator || c == separator)) {
      haveSeparator = true;
      separator = c;
      out.push_back(separatorSymbol);
    } else {
      AppendLayoutLiteral(out, c);
    }
  }
  return out;
}

}  // namespace

void AppendLayoutLiteral(std::string& layout, char c) {
  if (IsPatternLetter(c) || c == '/' || c == ':') {
    layout += '"';
    layout.push_back(c);
    layout += '"';
  } else if (c == '"') {
    layout += "'\"'";
  } else if (c == '\'') {
    layout += "\"'\"";
  } else {
    layout.push_back(c);
  }
}

TFormatSettings FormatSettingsFromLayouts(std::string_view dateLayout, std::string_view timeLayout,
                                          std::string_view am, std::string_view pm,
                                          char decimalSeparator) {
  TFormatSettings settings = CroatianFormatSettings();
  if (!dateLayout.empty()) {
    char separator = settings.DateSeparator;
    settings.ShortDateFormat = Translate(dateLayout, '/', separator);
    settings.DateSeparator = separator;
  }
  if (!timeLayout.empty()) {
    char separator = settings.TimeSeparator;
    settings.LongTimeFormat = Translate(timeLayout, ':', separator);
    settings.TimeSeparator = separator;
  }
  if (!am.empty()) settings.TimeAMString = std::string(am);
  if (!pm.empty()) settings.TimePMString = std::string(pm);
  if (decimalSeparator != '\0') settings.DecimalSeparator = decimalSeparator;
  return settings;
}

}  // namespace ormelin
