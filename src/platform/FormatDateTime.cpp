#include <cstdio>

#include "platform/DateTime.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

struct TFields {
  int year, month, day, hour, minute, second, millisecond, weekDay;
};

bool StartsWithFolded(std::string_view text, size_t at, std::string_view word) {
  return text.size() - at >= word.size() && SameTextFolded(text.substr(at, word.size()), word);
}

// The length of an am/pm specifier at `at`, or 0.
size_t AmPmLength(std::string_view format, size_t at) {
  if (StartsWithFolded(format, at, "am/pm")) return 5;
  if (StartsWithFolded(format, at, "a/p")) return 3;
  if (StartsWithFolded(format, at, "ampm")) return 4;
  return 0;
}

// Whether an am/pm specifier follows `at` outside quoted text: the hours
// before it then count on a 12-hour clock.
bool TwelveHourFrom(std::string_view format, size_t at) {
  char quote = 0;
  for (size_t i = at; i < format.size(); ++i) {
    char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if ((c == 'a' || c == 'A') && AmPmLength(format, i) != 0) {
      return true;
    }
  }
  return false;
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  out += buffer;
}

class TFormatter {
 public:
  TFormatter(const TFields& f, const TFormatSettings& s) : f_(f), s_(s) {}

  void Append(std::string& out, std::string_view format, int depth) {
    if (depth > 2) return;  // a layout that names itself
    char previous = 0;
    size_t i = 0;
    while (i < format.size()) {
      char c = format[i];
      char letter = LowerChar(c);
      size_t run = 1;
      while (i + run < format.size() && LowerChar(format[i + run]) == letter) ++run;
      switch (letter) {
        case '\'':
        case '"': {
          size_t end = format.find(c, i + 1);
          if (end == std::string_view::npos) end = format.size();
          out.append(format.substr(i + 1, end - i - 1));
          i = end + 1;
          continue;
        }
        case 'y':
          if (run <= 2) {
            AppendNumber(out, f_.year % 100, 2);
          } else {
            AppendNumber(out, f_.year, 4);
          }
          break;
        case 'm':
          if (previous == 'h') {
            AppendNumber(out, f_.minute, run == 1 ? 1 : 2);
            run = run > 2 ? 2 : run;
          } else if (run <= 2) {
            AppendNumber(out, f_.month, static_cast<int>(run));
          } else {
            out += run == 3 ? kShortMonths[f_.month - 1] : kLongMonths[f_.month - 1];
          }
          break;
        case 'd':
          if (run <= 2) {
            AppendNumber(out, f_.day, static_cast<int>(run));
          } else if (run <= 4) {
            out += run == 3 ? kShortDays[f_.weekDay] : kLongDays[f_.weekDay];
          } else {
            Append(out, s_.ShortDateFormat, depth + 1);
          }
          break;
        case 'h': {
          run = run > 2 ? 2 : run;
          int hour = f_.hour;
          if (TwelveHourFrom(format, i + run)) {
            hour %= 12;
            if (hour == 0) hour = 12;
          }
          AppendNumber(out, hour, static_cast<int>(run));
          break;
        }
        case 'n':
          run = run > 2 ? 2 : run;
          AppendNumber(out, f_.minute, static_cast<int>(run));
          break;
        case 's':
          run = run > 2 ? 2 : run;
          AppendNumber(out, f_.second, static_cast<int>(run));
          break;
        case 'z':
          run = run > 3 ? 3 : run;
          AppendNumber(out, f_.millisecond, run == 3 ? 3 : 1);
          break;
        case 'a': {
          size_t length = AmPmLength(format, i);
          bool pm = f_.hour >= 12;
          if (length == 5) {
            out.append(format.substr(pm ? i + 3 : i, 2));
          } else if (length == 3) {
            out.push_back(format[pm ? i + 2 : i]);
          } else if (length == 4) {
            out += pm ? s_.TimePMString : s_.TimeAMString;
          } else {
            out.push_back(c);
            length = 1;
          }
          i += length;
          previous = 'a';
          continue;
        }
        case 'c':
          run = 1;
          Append(out, s_.ShortDateFormat, depth + 1);
          if (f_.hour != 0 || f_.minute != 0 || f_.second != 0 || f_.millisecond != 0) {
            out.push_back(' ');
            Append(out, s_.LongTimeFormat, depth + 1);
          }
          break;
        case '/':
          run = 1;
          out.push_back(s_.DateSeparator);
          break;
        case ':':
          run = 1;
          out.push_back(s_.TimeSeparator);
          break;
        default:
          out.append(format.substr(i, run));
          i += run;
          continue;
      }
      if (letter >= 'a' && letter <= 'z') previous = letter;
      i += run;
    }
  }

 private:
  const TFields& f_;
  const TFormatSettings& s_;
};

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings) {
  TFields f{};
  DecodeDate(value, f.year, f.month, f.day);
  DecodeTime(value, f.hour, f.minute, f.second, f.millisecond);
  TDateTime date = 0;
  TryEncodeDate(f.year, f.month, f.day, date);
  // 30 December 1899 was a Saturday.
  long long days = static_cast<long long>(date);
  f.weekDay = static_cast<int>(((days % 7) + 7 + 6) % 7);
  std::string out;
  TFormatter(f, settings).Append(out, format, 0);
  return out;
}

}  // namespace ormelin
