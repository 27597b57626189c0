// Dates, times and numbers as values and as text.
//
// Stored forms (field_defs.h):
//   DATE       int32 day number; 0001-01-01 (proleptic Gregorian) is day 1,
//              so 2024-02-28 is day 738944.
//   TIME       int32 milliseconds since midnight, 0 .. 86,399,999.
//   TIMESTAMP  double: day number x 86,400,000 + milliseconds since midnight;
//              2024-02-28 12:00:00 is 738944 x 86,400,000 + 43,200,000.
//
// Text is read and written under FormatSettings: a date as up to three
// numbers separated by the date separator, in the order of the short date
// format (language 0: year-month-day; two numbers mean month and day of the
// current year); a time as hour, minute, optional second and millisecond
// with the time separator and an optional AM or PM; a timestamp as a date
// followed by an optional time. Every reader rejects out-of-range parts
// (2024-02-30 is not a date) and anything left over after the value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/values/format_settings.h"

namespace engine {

inline constexpr std::int64_t kMsPerSecond = 1000;
inline constexpr std::int64_t kMsPerMinute = 60 * kMsPerSecond;
inline constexpr std::int64_t kMsPerHour = 60 * kMsPerMinute;
inline constexpr std::int64_t kMsPerDay = 24 * kMsPerHour;  // 86,400,000
inline constexpr int kMinYear = 1;
inline constexpr int kMaxYear = 9999;

struct CivilDate {
  int year;
  int month;  // 1..12
  int day;    // 1..31
};

bool IsValidDate(int year, int month, int day);
// Day number of a valid date (0001-01-01 = 1).
std::int32_t DayNumberFromDate(int year, int month, int day);
// The date of a day number; day numbers outside 1 .. the day of 9999-12-31
// are clamped into that range.
CivilDate DateFromDayNumber(std::int32_t dayNumber);
// 1 for Sunday .. 7 for Saturday.
int DayOfWeek(std::int32_t dayNumber);
std::int32_t MaxDayNumber();  // 9999-12-31

// The local date and time now.
struct LocalDateTime {
  std::int32_t dayNumber;
  std::int32_t milliseconds;  // since midnight
};
LocalDateTime CurrentLocalDateTime();

// Readers; nullopt when the text is not such a value.
std::optional<std::int32_t> ReadDate(std::string_view text, const FormatSettings& settings);
std::optional<std::int32_t> ReadTime(std::string_view text, const FormatSettings& settings);
std::optional<double> ReadTimestamp(std::string_view text, const FormatSettings& settings);
// An optionally signed decimal integer within the range of int64.
std::optional<std::int64_t> ReadInteger(std::string_view text);
// An optionally signed decimal number with the settings' decimal separator
// and an optional exponent.
std::optional<double> ReadFloat(std::string_view text, const FormatSettings& settings);

// Writers.
// `format` letters (case-insensitive): y/yy/yyyy year, m/mm month (minutes
// right after an hour), mmm/mmmm month name, d/dd day, ddd/dddd day name,
// h/hh hour, n/nn minute, s/ss second, z/zzz millisecond, AMPM the AM/PM
// string (12-hour clock), '/' the date and ':' the time separator, quoted
// text as written.
std::string FormatDateTime(std::string_view format, std::int32_t dayNumber,
                           std::int32_t milliseconds, const FormatSettings& settings);
std::string FormatDate(std::int32_t dayNumber, const FormatSettings& settings);
std::string FormatTime(std::int32_t milliseconds, const FormatSettings& settings);
// The date, and the time when it is not midnight.
std::string FormatTimestamp(double timestamp, const FormatSettings& settings);
// Up to 15 significant digits, the shortest form that reads back.
std::string FormatFloat(double value, const FormatSettings& settings);

}  // namespace engine
