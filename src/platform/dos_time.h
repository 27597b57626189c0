// DOS date-times: a 32-bit value with the date in the high 16 bits
// (bits 15-9 year - 1980, 8-5 month, 4-0 day) and the time in the low 16 bits
// (bits 15-11 hour, 10-5 minute, 4-0 seconds / 2). Always local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

struct DosDateTimeParts {
  int year;    // 1980..2107
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59 (stored halved)
};

std::uint32_t PackDosDateTime(const DosDateTimeParts& parts);
DosDateTimeParts UnpackDosDateTime(std::uint32_t dosDateTime);
// Host time (seconds since the epoch) to a local DOS date-time, clamped to
// 1980-01-01 00:00:00 .. 2107-12-31 23:59:58; odd seconds round down.
std::uint32_t DosDateTimeFromUnix(std::time_t t);
// Local DOS date-time to host time; -1 for an invalid value.
std::time_t UnixFromDosDateTime(std::uint32_t dosDateTime);

}  // namespace platform
