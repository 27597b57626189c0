// Dates, times and numbers as values and as text (see value_text.h).
#include "engine/values/value_text.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

namespace engine {
namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

const std::int64_t kDayOneFromEpoch = DaysFromCivil(1, 1, 1);  // 0001-01-01

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithIgnoringCase(std::string_view s, std::string_view prefix) {
  if (prefix.empty() || s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Upper(s[i]) != Upper(prefix[i])) return false;
  }
  return true;
}

// A cursor over text for the readers.
struct Scanner {
  std::string_view s;
  std::size_t pos = 0;

  void SkipBlanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }
  // Up to `maxDigits` digits; false when there is none.
  bool Number(int& value, int& digits, int maxDigits = 9) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (pos < s.size() && IsDigit(s[pos]) && digits < maxDigits) {
      value = value * 10 + (s[pos] - '0');
      ++pos;
      ++digits;
    }
    return digits > 0 && !(pos < s.size() && IsDigit(s[pos]));
  }
  bool Char(char c) {
    SkipBlanks();
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos >= s.size();
  }
};

enum class DateOrder { kMonthDayYear, kDayMonthYear, kYearMonthDay };

DateOrder OrderOf(std::string_view format) {
  for (char c : format) {
    switch (Upper(c)) {
      case 'Y':
        return DateOrder::kYearMonthDay;
      case 'M':
        return DateOrder::kMonthDayYear;
      case 'D':
        return DateOrder::kDayMonthYear;
      default:
        break;
    }
  }
  return DateOrder::kMonthDayYear;
}

constexpr int kCenturyYears = 100;

bool ScanDate(Scanner& in, const FormatSettings& settings, std::int32_t& dayNumber) {
  int n[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  if (!in.Number(n[0], digits[0]) || !in.Char(settings.dateSeparator) ||
      !in.Number(n[1], digits[1])) {
    return false;
  }
  int count = 2;
  if (in.Char(settings.dateSeparator)) {
    if (!in.Number(n[2], digits[2])) return false;
    count = 3;
  }
  const DateOrder order = OrderOf(settings.shortDateFormat);
  int year, month, day, yearDigits;
  if (count == 2) {
    year = DateFromDayNumber(CurrentLocalDateTime().dayNumber).year;
    yearDigits = 4;
    if (order == DateOrder::kDayMonthYear) {
      day = n[0];
      month = n[1];
    } else {
      month = n[0];
      day = n[1];
    }
  } else if (order == DateOrder::kYearMonthDay) {
    year = n[0], yearDigits = digits[0], month = n[1], day = n[2];
  } else if (order == DateOrder::kDayMonthYear) {
    day = n[0], month = n[1], year = n[2], yearDigits = digits[2];
  } else {
    month = n[0], day = n[1], year = n[2], yearDigits = digits[2];
  }
  if (yearDigits <= 2) {  // a two-digit year lies in the current century
    const int now = DateFromDayNumber(CurrentLocalDateTime().dayNumber).year;
    year += now - now % kCenturyYears;
  }
  if (!IsValidDate(year, month, day)) return false;
  dayNumber = DayNumberFromDate(year, month, day);
  return true;
}

constexpr int kHoursPerHalfDay = 12;

// An AM or PM marker at the scanner's position: 0 none, 1 AM, 2 PM.
int ScanAmPm(Scanner& in, const FormatSettings& settings) {
  in.SkipBlanks();
  const std::string_view rest = in.s.substr(in.pos);
  for (const auto& [marker, kind] : {std::pair<std::string_view, int>{settings.timeAmString, 1},
                                     {settings.timePmString, 2},
                                     {"AM", 1},
                                     {"PM", 2}}) {
    if (StartsWithIgnoringCase(rest, marker)) {
      in.pos += marker.size();
      return kind;
    }
  }
  return 0;
}

bool ScanTime(Scanner& in, const FormatSettings& settings, std::int32_t& milliseconds) {
  int hour, minute, second = 0, ms = 0, digits;
  int ampm = ScanAmPm(in, settings);
  if (!in.Number(hour, digits) || !in.Char(settings.timeSeparator) || !in.Number(minute, digits)) {
    return false;
  }
  if (in.Char(settings.timeSeparator)) {
    if (!in.Number(second, digits)) return false;
    if (in.Char(settings.decimalSeparator) && !in.Number(ms, digits)) return false;
  }
  if (ampm == 0) ampm = ScanAmPm(in, settings);
  if (ampm != 0) {
    if (hour < 1 || hour > kHoursPerHalfDay) return false;
    hour %= kHoursPerHalfDay;
    if (ampm == 2) hour += kHoursPerHalfDay;
  }
  if (hour > 23 || minute > 59 || second > 59 || ms > 999) return false;
  milliseconds = static_cast<std::int32_t>(hour * kMsPerHour + minute * kMsPerMinute +
                                           second * kMsPerSecond + ms);
  return true;
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string Padded(int v, std::size_t width) {
  std::string s = std::to_string(v);
  while (s.size() < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= kMinYear && year <= kMaxYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

std::int32_t DayNumberFromDate(int year, int month, int day) {
  return static_cast<std::int32_t>(DaysFromCivil(year, month, day) - kDayOneFromEpoch + 1);
}

std::int32_t MaxDayNumber() {
  return DayNumberFromDate(kMaxYear, 12, 31);
}

CivilDate DateFromDayNumber(std::int32_t dayNumber) {
  if (dayNumber < 1) dayNumber = 1;
  if (dayNumber > MaxDayNumber()) dayNumber = MaxDayNumber();
  // Civil from days (inverse of DaysFromCivil).
  std::int64_t z = dayNumber - 1 + kDayOneFromEpoch + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return {y, m, d};
}

int DayOfWeek(std::int32_t dayNumber) {
  // Day 1 (0001-01-01) was a Monday.
  const std::int64_t n = static_cast<std::int64_t>(dayNumber) % 7;
  return static_cast<int>((n + 7) % 7) + 1;
}

LocalDateTime CurrentLocalDateTime() {
  static std::mutex clockLock;  // std::localtime shares one buffer
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
      kMsPerSecond;
  std::tm parts{};
  {
    std::lock_guard<std::mutex> guard(clockLock);
    const std::tm* local = std::localtime(&seconds);
    if (local != nullptr) parts = *local;
  }
  LocalDateTime result;
  result.dayNumber = DayNumberFromDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  result.milliseconds =
      static_cast<std::int32_t>(parts.tm_hour * kMsPerHour + parts.tm_min * kMsPerMinute +
                                std::min(parts.tm_sec, 59) * kMsPerSecond + (ms < 0 ? 0 : ms));
  return result;
}

std::optional<std::int32_t> ReadDate(std::string_view text, const FormatSettings& settings) {
  Scanner in{Trim(text)};
  std::int32_t day;
  if (!ScanDate(in, settings, day) || !in.AtEnd()) return std::nullopt;
  return day;
}

std::optional<std::int32_t> ReadTime(std::string_view text, const FormatSettings& settings) {
  Scanner in{Trim(text)};
  std::int32_t ms;
  if (!ScanTime(in, settings, ms) || !in.AtEnd()) return std::nullopt;
  return ms;
}

std::optional<double> ReadTimestamp(std::string_view text, const FormatSettings& settings) {
  Scanner in{Trim(text)};
  std::int32_t day, ms = 0;
  if (!ScanDate(in, settings, day)) return std::nullopt;
  if (!in.AtEnd() && !ScanTime(in, settings, ms)) return std::nullopt;
  if (!in.AtEnd()) return std::nullopt;
  return static_cast<double>(day) * static_cast<double>(kMsPerDay) + ms;
}

std::optional<std::int64_t> ReadInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<double> ReadFloat(std::string_view text, const FormatSettings& settings) {
  text = Trim(text);
  // Normalise to the '.' form that from_chars reads, checking the shape:
  // [sign] digits [sep digits] [E [sign] digits], with a digit in the mantissa.
  std::string plain;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain += '-';
    ++i;
  }
  int mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++mantissaDigits;
  if (i < text.size() && text[i] == settings.decimalSeparator) {
    plain += '.';
    ++i;
    while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    plain += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    int exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++exponentDigits;
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

std::string FormatDateTime(std::string_view format, std::int32_t dayNumber,
                           std::int32_t milliseconds, const FormatSettings& settings) {
  if (milliseconds < 0 || milliseconds >= kMsPerDay) milliseconds = 0;
  const CivilDate date = DateFromDayNumber(dayNumber);
  const int hour = static_cast<int>(milliseconds / kMsPerHour);
  const int minute = static_cast<int>(milliseconds / kMsPerMinute % 60);
  const int second = static_cast<int>(milliseconds / kMsPerSecond % 60);
  const int ms = static_cast<int>(milliseconds % kMsPerSecond);
  bool twelveHour = false;
  for (std::size_t k = 0; k < format.size(); ++k) {
    if (StartsWithIgnoringCase(format.substr(k), "AMPM")) twelveHour = true;
  }
  std::string out;
  bool afterHour = false;
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    const char u = Upper(c);
    std::size_t run = 1;
    while (i + run < format.size() && Upper(format[i + run]) == u && u >= 'A' && u <= 'Z') ++run;
    if (c == '\'' || c == '"') {
      const std::size_t close = format.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (StartsWithIgnoringCase(format.substr(i), "AMPM")) {
      out += hour < kHoursPerHalfDay ? settings.timeAmString : settings.timePmString;
      i += 4;
      continue;
    }
    switch (u) {
      case 'Y':
        out += run <= 2 ? TwoDigits(date.year % 100) : Padded(date.year, 4);
        afterHour = false;
        break;
      case 'M':
        if (afterHour && run <= 2) {
          out += run == 1 ? std::to_string(minute) : TwoDigits(minute);
        } else if (run == 1) {
          out += std::to_string(date.month);
        } else if (run == 2) {
          out += TwoDigits(date.month);
        } else if (run == 3) {
          out += settings.shortMonthNames[date.month - 1];
        } else {
          out += settings.longMonthNames[date.month - 1];
        }
        afterHour = false;
        break;
      case 'D':
        if (run == 1) {
          out += std::to_string(date.day);
        } else if (run == 2) {
          out += TwoDigits(date.day);
        } else if (run == 3) {
          out += settings.shortDayNames[DayOfWeek(dayNumber) - 1];
        } else {
          out += settings.longDayNames[DayOfWeek(dayNumber) - 1];
        }
        afterHour = false;
        break;
      case 'H': {
        int h = hour;
        if (twelveHour) {
          h %= kHoursPerHalfDay;
          if (h == 0) h = kHoursPerHalfDay;
        }
        out += run == 1 ? std::to_string(h) : TwoDigits(h);
        afterHour = true;
        break;
      }
      case 'N':
        out += run == 1 ? std::to_string(minute) : TwoDigits(minute);
        afterHour = false;
        break;
      case 'S':
        out += run == 1 ? std::to_string(second) : TwoDigits(second);
        afterHour = false;
        break;
      case 'Z':
        out += run == 1 ? std::to_string(ms) : Padded(ms, 3);
        break;
      case '/':
        out += settings.dateSeparator;
        break;
      case ':':
        out += settings.timeSeparator;
        break;
      default:
        out.append(format.substr(i, run));
        break;
    }
    i += run;
  }
  return out;
}

std::string FormatDate(std::int32_t dayNumber, const FormatSettings& settings) {
  return FormatDateTime(settings.shortDateFormat, dayNumber, 0, settings);
}

std::string FormatTime(std::int32_t milliseconds, const FormatSettings& settings) {
  return FormatDateTime(settings.longTimeFormat, 1, milliseconds, settings);
}

std::string FormatTimestamp(double timestamp, const FormatSettings& settings) {
  double days = std::floor(timestamp / static_cast<double>(kMsPerDay));
  if (!(days >= 1)) days = 1;  // also NaN
  if (days > MaxDayNumber()) days = MaxDayNumber();
  const auto day = static_cast<std::int32_t>(days);
  const double rest = timestamp - days * static_cast<double>(kMsPerDay);
  const auto ms = rest >= 0 && rest < kMsPerDay ? static_cast<std::int32_t>(rest) : 0;
  std::string out = FormatDate(day, settings);
  if (ms != 0) out += " " + FormatTime(ms, settings);
  return out;
}

std::string FormatFloat(double value, const FormatSettings& settings) {
  constexpr int kSignificantDigits = 15;
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::general, kSignificantDigits);
  std::string out(buffer, ec == std::errc() ? end : buffer);
  for (char& c : out) {
    if (c == '.') c = settings.decimalSeparator;
  }
  return out;
}

}  // namespace engine
