// DOS date-time packing and the conversions to and from host time (UTC).
#include "platform/dos_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform_test_util.h"

namespace platform {
namespace {

class DosTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_test::PinUtc(); }
};

struct PackCase {
  const char* label;
  DosDateTimeParts parts;
  std::uint32_t packed;
};

TEST_F(DosTimeTest, PacksAndUnpacksFields) {
  const PackCase cases[] = {
      {"epoch", {1980, 1, 1, 0, 0, 0}, 0x00210000},
      {"worked example", {2024, 3, 5, 14, 7, 36}, 0x586570F2},
      {"last value", {2107, 12, 31, 23, 59, 58}, 0xFF9FBF7D},
      {"leap day", {2000, 2, 29, 12, 30, 0}, 0x285D63C0},
  };
  for (const PackCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(PackDosDateTime(c.parts), c.packed);
    const DosDateTimeParts back = UnpackDosDateTime(c.packed);
    EXPECT_EQ(back.year, c.parts.year);
    EXPECT_EQ(back.month, c.parts.month);
    EXPECT_EQ(back.day, c.parts.day);
    EXPECT_EQ(back.hour, c.parts.hour);
    EXPECT_EQ(back.minute, c.parts.minute);
    EXPECT_EQ(back.second, c.parts.second);
  }
}

TEST_F(DosTimeTest, OddSecondsRoundDown) {
  EXPECT_EQ(PackDosDateTime({2024, 3, 5, 14, 7, 37}), PackDosDateTime({2024, 3, 5, 14, 7, 36}));
  // 2024-03-05 14:07:37 UTC
  EXPECT_EQ(DosDateTimeFromUnix(1709647657), 0x586570F2u);
}

TEST_F(DosTimeTest, ConvertsHostTimeWithClamping) {
  struct Case {
    const char* label;
    std::time_t t;
    std::uint32_t dos;
  } const cases[] = {
      {"1980-01-01 00:00:00", 315532800, 0x00210000},
      {"before 1980 clamps up", 0, 0x00210000},
      {"negative clamps up", -86400, 0x00210000},
      {"2024-03-05 14:07:36", 1709647656, 0x586570F2},
      {"2107-12-31 23:59:59 rounds to :58", 4354819199, 0xFF9FBF7D},
      {"2200 clamps down", 7258118400, 0xFF9FBF7D},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DosDateTimeFromUnix(c.t), c.dos);
  }
}

TEST_F(DosTimeTest, BackToHostTime) {
  EXPECT_EQ(UnixFromDosDateTime(0x586570F2), 1709647656);
  EXPECT_EQ(UnixFromDosDateTime(0x00210000), 315532800);
  EXPECT_EQ(UnixFromDosDateTime(0xFF9FBF7D), 4354819198);
}

TEST_F(DosTimeTest, InvalidValuesGiveMinusOne) {
  struct Case {
    const char* label;
    DosDateTimeParts parts;
  } const cases[] = {
      {"month 0", {2000, 0, 1, 0, 0, 0}},
      {"month 13", {2000, 13, 1, 0, 0, 0}},
      {"day 0", {2000, 1, 0, 0, 0, 0}},
      {"February 30", {2000, 2, 30, 0, 0, 0}},
      {"February 29 in 1900-style non-leap 2100", {2100, 2, 29, 0, 0, 0}},
      {"hour 24", {2000, 1, 1, 24, 0, 0}},
      {"minute 60", {2000, 1, 1, 0, 60, 0}},
      {"seconds 60", {2000, 1, 1, 0, 0, 60}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(UnixFromDosDateTime(PackDosDateTime(c.parts)), -1);
  }
  EXPECT_EQ(UnixFromDosDateTime(0), -1);  // all zero: month 0
}

// Zones with summer time, north and south, and one with a half-hour offset,
// as POSIX rules (no zone files needed). Every even second of local time
// that the zone shows once must come back to the instant it was taken
// from, and agree with the C library's mktime; a wall time shown twice
// (the hour the clocks go back) comes back to one of its two instants.
TEST_F(DosTimeTest, ZonesWithSummerTimeGoBothWays) {
  const char* const zones[] = {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0",
                               "AEST-10AEDT,M10.1.0,M4.1.0/3", "IST-5:30"};
  constexpr std::time_t kStart = 1704067200;  // 2024-01-01 00:00:00 UTC
  constexpr std::time_t kStep = 17 * 60 + 2;  // odd minutes, even seconds
  constexpr std::time_t kYear = 366 * 86400;
  for (const char* zone : zones) {
    SCOPED_TRACE(zone);
    ::setenv("TZ", zone, 1);
    ::tzset();
    int shownTwice = 0;
    for (std::time_t t = kStart; t < kStart + kYear; t += kStep) {
      const std::uint32_t dos = DosDateTimeFromUnix(t);
      const std::time_t back = UnixFromDosDateTime(dos);
      ASSERT_EQ(DosDateTimeFromUnix(back), dos) << t;
      if (back != t) {
        ASSERT_EQ(std::abs(back - t), 3600) << t;
        ++shownTwice;
        continue;
      }
      const DosDateTimeParts p = UnpackDosDateTime(dos);
      std::tm tm{};
      tm.tm_year = p.year - 1900;
      tm.tm_mon = p.month - 1;
      tm.tm_mday = p.day;
      tm.tm_hour = p.hour;
      tm.tm_min = p.minute;
      tm.tm_sec = p.second;
      tm.tm_isdst = -1;
      const std::time_t viaMktime = std::mktime(&tm);
      if (viaMktime != t) {
        ASSERT_EQ(std::abs(viaMktime - t), 3600) << t;  // mktime took the other one
        ++shownTwice;
      }
    }
    EXPECT_LE(shownTwice, 8);  // only in the hour the clocks go back
  }
  platform_test::PinUtc();
}

}  // namespace
}  // namespace platform
