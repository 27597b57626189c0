// DOS date-times: packing, unpacking and conversion to and from host time.
//
// Layout of the 32-bit value (a date word above a time word):
//
//   bits 31-25  year - 1980 (0..127)     bits 15-11  hour (0..23)
//   bits 24-21  month (1..12)            bits 10-5   minute (0..59)
//   bits 20-16  day (1..31)              bits 4-0    second / 2 (0..29)
//
// Example: 2024-03-05 14:07:36 packs to year 44, month 3, day 5 -> date word
// 0x5865, and hour 14, minute 7, second 18 (36 / 2) -> time word 0x70F2, so the
// value is 0x586570F2. The values are local time; the conversions use the host's
// time zone (tests pin TZ=UTC).
#include "platform/dos_time.h"

namespace platform {
namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kDosLastYear = kDosEpochYear + 127;  // seven bits of year
constexpr int kTmYearBase = 1900;                  // struct tm counts years from 1900

// The earliest and latest representable values: 1980-01-01 00:00:00 and
// 2107-12-31 23:59:58.
constexpr std::uint32_t kDosMin = 0x00210000;
constexpr std::uint32_t kDosMax = 0xFF9FBF7D;

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian): March
// is taken as the first month, so that the leap day ends the year, and the
// 400-year cycles of 146097 days are counted apart.
std::int64_t DaysFromCivil(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  constexpr std::int64_t kDaysBefore1970 = 719468;  // 0000-03-01 to 1970-01-01
  return std::int64_t{era} * 146097 + dayOfEra - kDaysBefore1970;
}

// The host zone's offset from UTC in seconds at instant `t`. localtime_r
// reads the zone's rules once per process (and again after tzset), where
// mktime looks at the zone file on every call.
long ZoneOffsetAt(std::time_t t) {
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return 0;
  return tm.tm_gmtoff;
}

}  // namespace

std::uint32_t PackDosDateTime(const DosDateTimeParts& p) {
  const std::uint32_t date = (static_cast<std::uint32_t>(p.year - kDosEpochYear) & 0x7F) << 9 |
                             (static_cast<std::uint32_t>(p.month) & 0x0F) << 5 |
                             (static_cast<std::uint32_t>(p.day) & 0x1F);
  const std::uint32_t time = (static_cast<std::uint32_t>(p.hour) & 0x1F) << 11 |
                             (static_cast<std::uint32_t>(p.minute) & 0x3F) << 5 |
                             (static_cast<std::uint32_t>(p.second / 2) & 0x1F);
  return date << 16 | time;
}

DosDateTimeParts UnpackDosDateTime(std::uint32_t v) {
  DosDateTimeParts p{};
  p.year = kDosEpochYear + static_cast<int>(v >> 25);
  p.month = static_cast<int>((v >> 21) & 0x0F);
  p.day = static_cast<int>((v >> 16) & 0x1F);
  p.hour = static_cast<int>((v >> 11) & 0x1F);
  p.minute = static_cast<int>((v >> 5) & 0x3F);
  p.second = static_cast<int>(v & 0x1F) * 2;
  return p;
}

std::uint32_t DosDateTimeFromUnix(std::time_t t) {
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return t < 0 ? kDosMin : kDosMax;
  const int year = tm.tm_year + kTmYearBase;
  if (year < kDosEpochYear) return kDosMin;
  if (year > kDosLastYear) return kDosMax;
  // A leap second (tm_sec 60) is folded into the last representable second.
  const int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  return PackDosDateTime({year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, second});
}

std::time_t UnixFromDosDateTime(std::uint32_t dosDateTime) {
  const DosDateTimeParts p = UnpackDosDateTime(dosDateTime);
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month) ||
      p.hour > 23 || p.minute > 59 || p.second > 59) {
    return -1;
  }
  // The wall-clock time read as UTC, less the zone's offset. The offset is
  // taken a second time at the first answer, which settles a guess made on
  // the other side of a change of offset (the start or end of summer time).
  constexpr std::int64_t kSecondsPerDay = 86400;
  const std::int64_t wall = DaysFromCivil(p.year, p.month, p.day) * kSecondsPerDay + p.hour * 3600 +
                            p.minute * 60 + p.second;
  const auto asUtc = static_cast<std::time_t>(wall);
  const std::time_t guess = asUtc - ZoneOffsetAt(asUtc);
  return asUtc - ZoneOffsetAt(guess);
}

}  // namespace platform
