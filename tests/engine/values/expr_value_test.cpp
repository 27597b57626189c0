// Values as text and between types: day numbers, reading and writing dates,
// times and numbers under the format settings, the BCD form, and the value
// conversion used by CAST and by storing into columns.
#include <gtest/gtest.h>

#include "engine/sql/expr_test_util.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace {

using namespace engine;

TEST(ExprValues, DayNumbers) {
  const struct {
    int y, m, d;
    std::int32_t day;
  } cases[] = {{1, 1, 1, 1},          {1, 1, 2, 2},           {1, 12, 31, 365},
               {2, 1, 1, 366},        {1899, 12, 30, 693594}, {2000, 2, 29, 730179},
               {2024, 2, 28, 738944}, {9999, 12, 31, 3652059}};
  for (const auto& c : cases) {
    EXPECT_EQ(DayNumberFromDate(c.y, c.m, c.d), c.day) << c.y << "-" << c.m << "-" << c.d;
    const CivilDate back = DateFromDayNumber(c.day);
    EXPECT_EQ(back.year, c.y);
    EXPECT_EQ(back.month, c.m);
    EXPECT_EQ(back.day, c.d);
  }
  EXPECT_EQ(DayOfWeek(1), 2);       // 0001-01-01 was a Monday
  EXPECT_EQ(DayOfWeek(738944), 4);  // 2024-02-28, a Wednesday
  EXPECT_FALSE(IsValidDate(2023, 2, 29));
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
}

TEST(ExprValues, ReadingDatesTimesAndNumbersUnderLanguageZero) {
  const FormatSettings& s = FormatSettingsFor(0, 0);
  const int thisYear = DateFromDayNumber(CurrentLocalDateTime().dayNumber).year;
  EXPECT_EQ(ReadDate("2024-02-28", s), 738944);
  EXPECT_EQ(ReadDate(" 2024-2-8 ", s), DayNumberFromDate(2024, 2, 8));
  EXPECT_EQ(ReadDate("02-28", s), DayNumberFromDate(thisYear, 2, 28));
  EXPECT_EQ(ReadDate("24-02-28", s), DayNumberFromDate(thisYear - thisYear % 100 + 24, 2, 28));
  for (const char* bad : {"2024-02-30", "2024/02/28", "2024-02-28x", "", "2024-13-01", "-"}) {
    EXPECT_FALSE(ReadDate(bad, s)) << bad;
  }
  EXPECT_EQ(ReadTime("10:30", s), 37800000);
  EXPECT_EQ(ReadTime("10:30:15.250", s), 37815250);
  EXPECT_EQ(ReadTime("12:00 AM", s), 0);
  EXPECT_EQ(ReadTime("12:00 pm", s), 43200000);
  EXPECT_EQ(ReadTime("1:05 PM", s), 47100000);
  for (const char* bad : {"24:00", "10", "10:60", "13:00 PM", "10:30x"}) {
    EXPECT_FALSE(ReadTime(bad, s)) << bad;
  }
  EXPECT_EQ(ReadTimestamp("2024-02-28 10:30", s), 738944.0 * 86400000.0 + 37800000.0);
  EXPECT_EQ(ReadTimestamp("2024-02-28", s), 738944.0 * 86400000.0);
  EXPECT_FALSE(ReadTimestamp("2024-02-28 25:00", s));
  EXPECT_EQ(ReadFloat("1.5", s), 1.5);
  EXPECT_EQ(ReadFloat(" -2e3 ", s), -2000.0);
  EXPECT_EQ(ReadFloat(".5", s), 0.5);
  EXPECT_EQ(ReadFloat("5.", s), 5.0);
  for (const char* bad : {"1,5", "e5", "1e", "1e+", "--1", "1e999", ""}) {
    EXPECT_FALSE(ReadFloat(bad, s)) << bad;
  }
  EXPECT_EQ(ReadInteger("-42"), -42);
  EXPECT_EQ(ReadInteger("+42"), 42);
  EXPECT_FALSE(ReadInteger("+-42"));
  EXPECT_FALSE(ReadInteger("4.2"));
}

TEST(ExprValues, WritingDatesTimesAndNumbers) {
  const FormatSettings& s = FormatSettingsFor(0, 0);
  EXPECT_EQ(FormatDate(738944, s), "2024-02-28");
  EXPECT_EQ(FormatTime(37815250, s), "10:30:15");
  EXPECT_EQ(FormatTimestamp(738944.0 * 86400000.0 + 37815250.0, s), "2024-02-28 10:30:15");
  EXPECT_EQ(FormatTimestamp(738944.0 * 86400000.0, s), "2024-02-28");
  EXPECT_EQ(FormatDateTime(s.longDateFormat, 738944, 0, s), "Wednesday, February 28, 2024");
  EXPECT_EQ(FormatDateTime("ddd d mmm yy", 738944, 0, s), "Wed 28 Feb 24");
  EXPECT_EQ(FormatDateTime("h:nn AMPM", 1, 47100000, s), "1:05 PM");
  EXPECT_EQ(FormatDateTime("hh:mm:ss.zzz", 1, 37815250, s), "10:30:15.250");
  EXPECT_EQ(FormatDateTime("'at' hh", 1, 37815250, s), "at 10");
  EXPECT_EQ(FormatFloat(3.5, s), "3.5");
  EXPECT_EQ(FormatFloat(0.1 + 0.2, s), "0.3");
  EXPECT_EQ(FormatFloat(-2000, s), "-2000");
}

TEST(ExprValues, SettingsOfOtherLanguagesInsideAScope) {
  EXPECT_EQ(CurrentFormatSettings().shortDateFormat, "yyyy-mm-dd");
  {
    FormatSettingsScope german(0x0407, 0);
    const FormatSettings& s = CurrentFormatSettings();
    EXPECT_EQ(s.shortDateFormat, "dd.MM.yyyy");
    EXPECT_EQ(ReadDate("28.02.2024", s), 738944);
    {
      FormatSettingsScope neutral(0, 0);
      EXPECT_EQ(CurrentFormatSettings().shortDateFormat, "yyyy-mm-dd");
    }
    EXPECT_EQ(CurrentFormatSettings().shortDateFormat, "dd.MM.yyyy");
  }
  EXPECT_EQ(CurrentFormatSettings().shortDateFormat, "yyyy-mm-dd");
}

TEST(ExprValues, BcdForm) {
  const struct {
    double value;
    int scale;
    std::int64_t stored;
  } cases[] = {{12.34, 2, 12342}, {-12.34, 2, -12342}, {0.005, 2, 12},      {-0.005, 2, -12},
               {7, 0, 70},        {0, 4, 4},           {1.23456, 4, 123464}};
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeBcd(c.value, c.scale), c.stored) << c.value;
  }
  EXPECT_DOUBLE_EQ(DecodeBcd(12342), 12.34);
  EXPECT_DOUBLE_EQ(DecodeBcd(-12342), -12.34);
  EXPECT_EQ(BcdScale(-12342), 2);
  EXPECT_FALSE(EncodeBcd(1e18, 0));
  EXPECT_FALSE(EncodeBcd(1.0, 5));
  EXPECT_DOUBLE_EQ(DecodeBcd(std::numeric_limits<std::int64_t>::min()),
                   -static_cast<double>(922337203685477580LL) / 1e8);  // corrupt, no crash
}

// Converts a value of one type into another; "fails" when it does not convert.
std::string Convert(const std::function<void(TExpToken&)>& setSource, int targetType, int size = 0,
                    int scale = 0) {
  ExpTree source = NewToken();
  setSource(*source);
  ExpTree target = NewToken();
  target->SetType(targetType, 0, size, scale);
  if (!ConvertValue(*source, *target)) return "fails";
  if (target->isNull) return "NULL";
  return ValueAsText(*target).value_or("?");
}

TEST(ExprValues, ConversionBetweenTypes) {
  auto text = [](const char* s) {
    return [s](TExpToken& t) {
      t.SetType(kFieldString, 0, 251, 0);
      t.SetString(s);
    };
  };
  auto integer = [](std::int32_t v) {
    return [v](TExpToken& t) {
      t.SetType(kFieldInt32, 0, 4, 0);
      t.SetInt32(v);
    };
  };
  auto real = [](double v) {
    return [v](TExpToken& t) {
      t.SetType(kFieldFloat, 0, 8, 0);
      t.SetDouble(v);
    };
  };
  auto null = [](TExpToken& t) {
    t.SetType(kFieldInt32, 0, 4, 0);
    t.SetNull();
  };
  auto stamp = [](TExpToken& t) {
    t.SetType(kFieldTimestamp, 0, 8, 0);
    t.SetDouble(738944.0 * 86400000.0 + 37815250.0);
  };
  auto time = [](TExpToken& t) {
    t.SetType(kFieldTime, 0, 4, 0);
    t.SetInt32(37815250);
  };
  auto binary = [](TExpToken& t) {
    t.SetType(kFieldBlob, kSubtypeBinary, 8, 0);
    const std::uint8_t bytes[] = {1, 0, 2};
    t.SetBytes(bytes, 3);
  };
  EXPECT_EQ(Convert(text("123"), kFieldInt32), "123");
  EXPECT_EQ(Convert(text("123"), kFieldUInt16), "123");
  EXPECT_EQ(Convert(text("70000"), kFieldUInt16), "fails");
  EXPECT_EQ(Convert(text("12.5"), kFieldInt32), "fails");
  EXPECT_EQ(Convert(text("12.5"), kFieldFloat), "12.5");
  EXPECT_EQ(Convert(text("12.345"), kFieldBcd, 8, 2), "12.35");
  EXPECT_EQ(Convert(text("12.34449"), kFieldBcd, 8, 2), "12.34");  // read to 4 decimals first
  EXPECT_EQ(Convert(text("FALSE"), kFieldBoolean), "FALSE");
  EXPECT_EQ(Convert(text("2024-02-28"), kFieldDate), "2024-02-28");
  EXPECT_EQ(Convert(text("2024-02-28"), kFieldTimestamp), "2024-02-28");
  EXPECT_EQ(Convert(text("10:30:15"), kFieldTime), "10:30:15");
  EXPECT_EQ(Convert(text("abcdef"), kFieldString, 4), "abc");
  EXPECT_EQ(Convert(text("abcdef"), kFieldBytes, 2), "ab");
  EXPECT_EQ(Convert(integer(-5), kFieldInt16), "-5");
  EXPECT_EQ(Convert(integer(40000), kFieldInt16), "fails");
  EXPECT_EQ(Convert(integer(7), kFieldBcd, 8, 4), "7.0000");
  EXPECT_EQ(Convert(real(-2.5), kFieldInt32), "-3");
  EXPECT_EQ(Convert(real(1e300), kFieldBcd, 8, 2), "fails");
  EXPECT_EQ(Convert(real(1.5), kFieldString, 251), "1.5");
  EXPECT_EQ(Convert(null, kFieldString, 10), "NULL");
  EXPECT_EQ(Convert(stamp, kFieldDate), "2024-02-28");
  EXPECT_EQ(Convert(stamp, kFieldTime), "10:30:15");
  EXPECT_EQ(Convert(time, kFieldDate), "fails");
  EXPECT_EQ(Convert(binary, kFieldString, 10), "fails");
  EXPECT_EQ(Convert(binary, kFieldBlob), "?");  // converts; a binary BLOB has no text
  EXPECT_EQ(Convert(integer(1), kFieldExtended), "fails");
}

}  // namespace
