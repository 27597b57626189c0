// Format settings of languages other than 0: the settings taken from the
// host's locale data, and constants, conversions and CAST read and written
// under them.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/expr_eval.h"
#include "engine/sql/expr_test_util.h"
#include "engine/storage/field_defs.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_text.h"
#include "platform/locale.h"

namespace {

using namespace engine;
using expr_test::TestTable;

constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kEnglishUsa = 0x0409;
constexpr std::uint16_t kFrench = 0x040C;
constexpr std::uint16_t kUnknownLanguage = 0x0001;  // no locale of the host
constexpr std::int32_t kFeb28 = 738944;             // 2024-02-28, a Wednesday
constexpr std::int32_t kFivePast1Pm = (13 * 3600 + 5 * 60) * 1000;

TEST(ExprFormats, SettingsOfLanguages) {
  const struct {
    std::uint16_t language;
    char decimal, thousand, date, time;
    const char* shortDate;
    const char* longTime;
    const char* firstMonth;
  } cases[] = {
      {0, '.', ',', '-', ':', "yyyy-mm-dd", "hh:mm:ss", "January"},
      {kGerman, ',', '.', '.', ':', "dd.MM.yyyy", "hh:mm:ss", "Januar"},
      {kEnglishUsa, '.', ',', '/', ':', "M/d/yyyy", "h:mm:ss AMPM", "January"},
      // The French thousand separator is a wide blank: a blank here.
      {kFrench, ',', ' ', '/', ':', "dd/MM/yyyy", "hh:mm:ss", "janvier"},
      {kUnknownLanguage, '.', ',', '/', ':', "M/d/yyyy", "hh:mm:ss", "January"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    const FormatSettings& s = FormatSettingsFor(c.language, 0);
    EXPECT_EQ(s.decimalSeparator, c.decimal);
    EXPECT_EQ(s.thousandSeparator, c.thousand);
    EXPECT_EQ(s.dateSeparator, c.date);
    EXPECT_EQ(s.timeSeparator, c.time);
    EXPECT_EQ(s.shortDateFormat, c.shortDate);
    EXPECT_EQ(s.longTimeFormat, c.longTime);
    EXPECT_EQ(s.longMonthNames[0], c.firstMonth);
  }
  // The German phone book order has the German formats.
  EXPECT_EQ(FormatSettingsFor(kGerman, 1).shortDateFormat, "dd.MM.yyyy");
}

TEST(ExprFormats, WritingUnderLanguages) {
  const struct {
    std::uint16_t language;
    const char* date;
    const char* longDate;
    const char* time;
    const char* number;
  } cases[] = {
      {kGerman, "28.02.2024", "Mittwoch, 28. Februar 2024", "13:05:00", "1,5"},
      {kEnglishUsa, "2/28/2024", "Wednesday, February 28, 2024", "1:05:00 PM", "1.5"},
      {kFrench, "28/02/2024", "mercredi 28 février 2024", "13:05:00", "1,5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    const FormatSettings& s = FormatSettingsFor(c.language, 0);
    EXPECT_EQ(FormatDate(kFeb28, s), c.date);
    EXPECT_EQ(FormatDateTime(s.longDateFormat, kFeb28, 0, s), c.longDate);
    EXPECT_EQ(FormatTime(kFivePast1Pm, s), c.time);
    EXPECT_EQ(FormatFloat(1.5, s), c.number);
    // What is written reads back.
    EXPECT_EQ(ReadDate(FormatDate(kFeb28, s), s), kFeb28);
    EXPECT_EQ(ReadTime(FormatTime(kFivePast1Pm, s), s), kFivePast1Pm);
  }
}

TEST(ExprFormats, EveryLanguageReadsBackWhatItWrites) {
  const double stamp = kFeb28 * static_cast<double>(kMsPerDay) + kFivePast1Pm;
  for (const platform::LanguageEntry& language : platform::LanguageList()) {
    SCOPED_TRACE(language.name);
    const FormatSettings& s = FormatSettingsFor(language.id, 0);
    EXPECT_NE(s.decimalSeparator, s.thousandSeparator);
    const std::string date = FormatDate(kFeb28, s);
    EXPECT_EQ(ReadDate(date, s), kFeb28) << date;
    const std::string time = FormatTime(kFivePast1Pm, s);
    EXPECT_EQ(ReadTime(time, s), kFivePast1Pm) << time;
    const std::string timestamp = FormatTimestamp(stamp, s);
    EXPECT_EQ(ReadTimestamp(timestamp, s), stamp) << timestamp;
    EXPECT_EQ(ReadFloat(FormatFloat(-1234.5, s), s), -1234.5);
  }
  // Dates that the locale ends with text are written without it.
  EXPECT_EQ(FormatDate(kFeb28, FormatSettingsFor(0x040E, 0)), "2024. 02. 28");  // Hungarian
  EXPECT_EQ(FormatDate(kFeb28, FormatSettingsFor(0x0402, 0)), "28.02.2024");    // Bulgarian
}

// Parses, analyses and evaluates `text` against `table` with the settings of
// `language`, as a statement of a session in that language does.
std::string EvaluateUnder(std::uint16_t language, const std::string& text, TestTable& table) {
  ExpTree tree;
  {
    FormatSettingsScope scope(language, 0);
    tree = expr_test::Analyse(text, &table);
  }
  EvaluationContext context;
  context.reader = &table;
  context.collation.languageId = language;
  ExpTree result = EvaluateExpression(*tree, context);
  if (result->isNull) return "NULL";
  switch (result->dataType) {
    case kFieldString:
      return std::string(result->AsString());
    case kFieldBoolean:
      return result->AsBoolean() ? "TRUE" : "FALSE";
    case kFieldFloat:
      return std::to_string(result->AsDouble());
    default:
      return std::to_string(result->AsInt32());
  }
}

TEST(ExprFormats, ConstantsAndCastUnderLanguages) {
  TestTable table = expr_test::MakeAllTypesTable();
  table.Value("Day").SetInt32(kFeb28);
  table.Value("Clock").SetInt32(kFivePast1Pm);
  table.Value("Real").SetDouble(1.5);
  const struct {
    std::uint16_t language;
    const char* expression;
    const char* result;
  } cases[] = {
      {kGerman, "CAST('28.02.2024' AS DATE)", "738944"},
      {kGerman, "CAST('2024-02-28' AS DATE)", "NULL"},  // not a German date
      {kGerman, "Day = '28.02.2024'", "TRUE"},
      {kGerman, "CAST(Day AS CHAR(20))", "28.02.2024"},
      {kGerman, "CAST(Clock AS CHAR(20))", "13:05:00"},
      {kGerman, "CAST(Real AS CHAR(20))", "1,5"},
      {kGerman, "CAST('2,25' AS FLOAT)", "2.250000"},
      {kGerman, "Real = 1,5", "TRUE"},  // one float constant
      {kEnglishUsa, "CAST('2/28/2024' AS DATE)", "738944"},
      {kEnglishUsa, "CAST('28.02.2024' AS DATE)", "NULL"},
      {kEnglishUsa, "CAST(Day AS CHAR(20))", "2/28/2024"},
      {kEnglishUsa, "CAST(Clock AS CHAR(20))", "1:05:00 PM"},
      {kEnglishUsa, "CAST('1:05 PM' AS TIME)", "47100000"},
      {kFrench, "CAST('28/02/2024' AS DATE)", "738944"},
      {kFrench, "Day = '28/02/2024'", "TRUE"},
      {0, "CAST('2024-02-28' AS DATE)", "738944"},
      {0, "CAST(Day AS CHAR(20))", "2024-02-28"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EvaluateUnder(c.language, c.expression, table), c.result)
        << c.language << ": " << c.expression;
  }
}

}  // namespace
