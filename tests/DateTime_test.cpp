#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(DateTimeTest, SerialNumbers) {
  struct {
    int y, m, d;
    double serial;
  } cases[] = {{1899, 12, 30, 0},      {1899, 12, 31, 1},     {1900, 1, 1, 2},
               {1899, 12, 29, -1},     {1980, 1, 1, 29221},   {2008, 11, 14, 39766},
               {2000, 2, 29, 36585},   {2107, 12, 31, 75971}, {1, 1, 1, -693593},
               {9999, 12, 31, 2958465}};
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial) << c.y << "-" << c.m << "-" << c.d;
    int y = 0, m = 0, d = 0;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
  }
  TDateTime out = 0;
  EXPECT_FALSE(TryEncodeDate(2001, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(2000, 13, 1, out));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
}

TEST(DateTimeTest, TimeOfDayAndNegativeValues) {
  TDateTime value = EncodeDateTime(2008, 11, 14, 10, 20, 30, 250);
  int h, n, s, z;
  DecodeTime(value, h, n, s, z);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + z, 102030250);
  // Before the epoch the fraction is still the time of day, in absolute value.
  TDateTime early = EncodeDateTime(1899, 12, 29, 6, 0, 0);
  EXPECT_DOUBLE_EQ(early, -1.25);
  DecodeTime(early, h, n, s, z);
  EXPECT_EQ(h, 6);
  int y, m, d;
  DecodeDate(early, y, m, d);
  EXPECT_EQ(d, 29);
  // Rounding to the millisecond carries into the next day, not to 24:00.
  DecodeTime(EncodeDate(2008, 11, 14) + 0.9999999999, h, n, s, z);
  EXPECT_EQ(h + n + s + z, 0);
  DecodeDate(EncodeDate(2008, 11, 14) + 0.9999999999, y, m, d);
  EXPECT_EQ(d, 15);
  // Garbage values decode as the epoch instead of overflowing.
  DecodeDate(std::nan(""), y, m, d);
  EXPECT_EQ(y, 1899);
  DecodeDate(1e300, y, m, d);
  EXPECT_EQ(y, 1899);
}

TEST(DateTimeTest, FormatWithCroatianSettings) {
  TFormatSettings hr = CroatianFormatSettings();
  TDateTime value = EncodeDateTime(2026, 12, 8, 14, 3, 5, 7);
  TDateTime morning = EncodeDateTime(2008, 1, 2, 9, 5, 7);
  TDateTime midnight = EncodeDate(2026, 12, 8);
  struct {
    const char* format;
    TDateTime value;
    const char* expected;
  } cases[] = {
      {"c", value, "08.12.2026 14:03:05"},
      {"c", midnight, "08.12.2026"},
      {"c", midnight + 0.5 / 86400000 * 2, "08.12.2026 00:00:00"},
      {"dd/mm/yyyy", value, "08.12.2026"},
      {"d/m/yy", morning, "2.1.08"},
      {"yyyy-mm-dd hh-nn-ss", morning, "2008-01-02 09-05-07"},
      {"h:n:s", morning, "9:5:7"},
      {"hh:mm", morning, "09:05"},  // m after h counts minutes
      {"hh:nn:ss.zzz", value, "14:03:05.007"},
      {"z", value, "7"},
      {"'dd' \"hh\" dd", value, "dd hh 08"},
      {"ddddd", value, "08.12.2026"},
      {"ddd dddd mmm mmmm", value, "Tue Tuesday Dec December"},
      {"yyyy", EncodeDate(987, 6, 5), "0987"},
      {"x!", value, "x!"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.format, c.value, hr), c.expected) << c.format;
  EXPECT_EQ(DateTimeToStr(value, hr), "08.12.2026 14:03:05");
}

TEST(DateTimeTest, FormatWithTwelveHourSettings) {
  TFormatSettings us = CroatianFormatSettings();
  us.ShortDateFormat = "m/d/yyyy";
  us.DateSeparator = '/';
  us.LongTimeFormat = "h:nn:ss ampm";
  us.TimeAMString = "am";
  us.TimePMString = "pm";
  struct {
    const char* format;
    int hour;
    const char* expected;
  } cases[] = {
      {"c", 0, "11/14/2008 12:05:07 am"},
      {"c", 9, "11/14/2008 9:05:07 am"},
      {"c", 12, "11/14/2008 12:05:07 pm"},
      {"c", 23, "11/14/2008 11:05:07 pm"},
      {"hh AM/PM", 13, "01 PM"},
      {"h am/pm", 1, "1 am"},
      {"h a/p", 13, "1 p"},
      {"h A/P", 1, "1 A"},
      {"hh", 13, "13"},  // no designator: 24-hour clock
  };
  for (const auto& c : cases) {
    TDateTime value = EncodeDateTime(2008, 11, 14, c.hour, 5, 7);
    EXPECT_EQ(FormatDateTime(c.format, value, us), c.expected) << c.format << " " << c.hour;
  }
}

TEST(DateTimeTest, SettingsFromLocaleLayouts) {
  struct {
    const char* date;
    const char* time;
    const char* shortDate;
    char dateSeparator;
    const char* longTime;
    char timeSeparator;
  } cases[] = {
      {"%m/%d/%y", "%I:%M:%S %p", "mm/dd/yy", '/', "hh:nn:ss ampm", ':'},
      {"%d.%m.%Y", "%H:%M:%S", "dd/mm/yyyy", '.', "hh:nn:ss", ':'},
      {"%d.%m.%Y.", "%T", "dd/mm/yyyy/", '.', "hh:nn:ss", ':'},
      {"%Y-%m-%d", "%k.%M.%S", "yyyy/mm/dd", '-', "h:nn:ss", '.'},
      {"%D", "%r", "mm/dd/yy", '/', "hh:nn:ss ampm", ':'},
      {"", "", "dd/mm/yyyy", '.', "hh:nn:ss", ':'},
  };
  for (const auto& c : cases) {
    TFormatSettings s = FormatSettingsFromLayouts(c.date, c.time, "AM", "PM", '.');
    EXPECT_EQ(s.ShortDateFormat, c.shortDate) << c.date;
    EXPECT_EQ(s.DateSeparator, c.dateSeparator) << c.date;
    EXPECT_EQ(s.LongTimeFormat, c.longTime) << c.time;
    EXPECT_EQ(s.TimeSeparator, c.timeSeparator) << c.time;
    EXPECT_EQ(s.DecimalSeparator, '.');
  }
  TFormatSettings us = FormatSettingsFromLayouts("%m/%d/%Y", "%r", "AM", "PM", '.');
  EXPECT_EQ(FormatDateTime("c", EncodeDateTime(2008, 11, 14, 21, 5, 7), us),
            "11/14/2008 09:05:07 PM");
}

TEST(DateTimeTest, PlainLocaleGivesTheCroatianConventions) {
  // Read once per process: this runs before anything else asks for them.
  setenv("LC_ALL", "C.UTF-8", 1);
  const TFormatSettings& s = DefaultFormatSettings();
  EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(s.DateSeparator, '.');
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(s.TimeSeparator, ':');
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2026, 12, 8, 14, 3, 5), s), "08.12.2026 14:03:05");
}

TEST(DateTimeTest, NowIsTodayToTheMillisecond) {
  TDateTime before = Now();
  int y, m, d;
  DecodeDate(before, y, m, d);
  EXPECT_EQ(y, CurrentYear());
  EXPECT_GE(Now(), before);
  EXPECT_GT(before, EncodeDate(2020, 1, 1));
}

}  // namespace
}  // namespace ormelin
