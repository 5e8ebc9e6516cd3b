// The date-time value and the locale's date and time conventions.
// A TDateTime is days since 30 December 1899 with the time of day as the
// fraction, local time. The format settings are read once from the process
// locale (for C/POSIX: dd.mm.yyyy, hh:nn:ss, decimal ","); callers that need
// other conventions copy the record and change fields. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

using TDateTime = double;

struct TFormatSettings {
  char DateSeparator = '.';
  char TimeSeparator = ':';
  // Layouts in the system's pattern letters: d dd m mm yy yyyy h hh n nn s ss
  // z zzz am/pm a/p ampm, '/' and ':' standing for the separators, quoted
  // text copied as it stands.
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  char DecimalSeparator = ',';
};

// The process locale's conventions, built on first use.
const TFormatSettings& DefaultFormatSettings();

// Croatian conventions the system was made for (used for C/POSIX).
TFormatSettings CroatianFormatSettings();

// Settings from the C library's layouts of a locale ("%d.%m.%Y", "%H:%M:%S",
// "%I:%M:%S %p"), its AM/PM strings (code page 1250) and decimal separator.
// The first separator of each layout becomes the date or time separator.
// An empty date or time layout keeps the Croatian one.
TFormatSettings FormatSettingsFromLayouts(std::string_view dateLayout, std::string_view timeLayout,
                                          std::string_view am, std::string_view pm,
                                          char decimalSeparator);

// Appends `c` to a layout in the system's pattern letters as a character
// that stands for itself: quoted where it would read as a pattern letter
// or a separator.
void AppendLayoutLiteral(std::string& layout, char c);

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
// As above, raising EConvertError for fields out of range.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
int CurrentYear();

// The current local date and time, millisecond resolution.
TDateTime Now();

// Formats with the pattern letters of TFormatSettings ("c" = short date,
// then the long time unless the value is exactly midnight).
std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings);
// FormatDateTime("c", ...): the form the event log shows.
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings);

}  // namespace ormelin
