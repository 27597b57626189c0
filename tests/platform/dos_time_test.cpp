// DOS date-time packing and the conversions to and from host time (UTC).
#include "platform/dos_time.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
