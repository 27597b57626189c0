// Locale formats: separators, date formats in the writer's letters, time
// flags, names and currency digits for a few languages, the languages that
// have none, and the conversion of locale date patterns.
#include "platform/locale_formats.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

// Checks an item when the case gives an expected value (nullptr: unchecked).
void ExpectGiven(const std::string& actual, const char* expected) {
  if (expected != nullptr) {
    EXPECT_EQ(actual, expected);
  }
}

TEST(LocaleFormats, ItemsOfLanguages) {
  struct Case {
    LangId language;
    const char* decimal;
    const char* thousand;  // nullptr: not checked (a wide blank in recent data)
    const char* dateSeparator;
    const char* shortDate;
    const char* longDate;
    const char* am;
    bool leadingZero;
    bool hour24;
    const char* january;
    const char* sunday;
    const char* shortSunday;
    int currencyDecimals;
  };
  const Case cases[] = {
      {0x0407, ",", ".", ".", "dd.MM.yyyy", "dddd, d. MMMM yyyy", nullptr, true, true, "Januar",
       "Sonntag", "So", 2},
      {0x0409, ".", ",", "/", "M/d/yyyy", "dddd, MMMM d, yyyy", "AM", false, false, "January",
       "Sunday", "Sun", 2},
      {0x0404, ".", ",", "/", "yyyy/M/d", "yyyy年M月d日 dddd", "上午", false, false, "1月",
       "星期日", "週日", 2},
      {0x040C, ",", nullptr, "/", "dd/MM/yyyy", "dddd d MMMM yyyy", nullptr, true, true, "janvier",
       "dimanche", "dim.", 2},
      {0x0411, ".", ",", "/", "yyyy/MM/dd", nullptr, nullptr, false, true, "1月", "日曜日", "日",
       0},
      // Spanish (Castilian) keeps its literal words quoted.
      {0x040A, ",", ".", "/", "d/M/yyyy", "dddd, d 'de' MMMM 'de' yyyy", nullptr, false, true,
       "enero", "domingo", nullptr, 2},
      // Direction marks around the separators of Arabic dates are dropped.
      {0x0401, ".", ",", "/", "d/M/yyyy", nullptr, nullptr, false, false, nullptr, nullptr, nullptr,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.language);
    const std::optional<LocaleFormats> f = GetLocaleFormats(c.language);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->decimalSeparator, c.decimal);
    ExpectGiven(f->thousandSeparator, c.thousand);
    EXPECT_NE(f->thousandSeparator, f->decimalSeparator);
    EXPECT_EQ(f->dateSeparator, c.dateSeparator);
    EXPECT_EQ(f->timeSeparator, ":");
    EXPECT_EQ(f->shortDateFormat, c.shortDate);
    ExpectGiven(f->longDateFormat, c.longDate);
    ExpectGiven(f->amString, c.am);
    EXPECT_FALSE(f->amString.empty());
    EXPECT_NE(f->amString, f->pmString);
    EXPECT_EQ(f->timeLeadingZero, c.leadingZero);
    EXPECT_EQ(f->time24Hour, c.hour24);
    ExpectGiven(f->longMonthNames[0], c.january);
    ExpectGiven(f->longDayNames[0], c.sunday);
    ExpectGiven(f->shortDayNames[0], c.shortSunday);
    for (const std::string& name : f->shortMonthNames) EXPECT_FALSE(name.empty());
    for (const std::string& name : f->longDayNames) EXPECT_FALSE(name.empty());
    EXPECT_EQ(f->currencyDecimals, c.currencyDecimals);
  }
}

TEST(LocaleFormats, NamesInCalendarOrder) {
  const std::optional<LocaleFormats> us = GetLocaleFormats(kLangEnglishUsa);
  ASSERT_TRUE(us.has_value());
  EXPECT_EQ(us->shortMonthNames[11], "Dec");
  EXPECT_EQ(us->longMonthNames[4], "May");
  EXPECT_EQ(us->shortDayNames[6], "Sat");
  EXPECT_EQ(us->longDayNames[1], "Monday");
  EXPECT_EQ(us->pmString, "PM");
  // Stand-alone names, as a month is named in a list (not the genitive form
  // it takes inside a Russian date).
  const std::optional<LocaleFormats> russian = GetLocaleFormats(0x0419);
  ASSERT_TRUE(russian.has_value());
  EXPECT_EQ(russian->longMonthNames[0], "январь");
}

TEST(LocaleFormats, GregorianAndLatinDigitsEverywhere) {
  // Thai defaults to the Buddhist calendar and Arabic (Saudi Arabia) to the
  // Islamic one with Arabic digits; the engine's dates and numbers are
  // Gregorian with digits 0-9.
  for (LangId language : {0x041E, 0x0401}) {
    SCOPED_TRACE(language);
    const std::optional<LocaleFormats> f = GetLocaleFormats(language);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->shortDateFormat, "d/M/yyyy");
    EXPECT_EQ(f->decimalSeparator, ".");
  }
  const std::optional<LocaleFormats> thai = GetLocaleFormats(0x041E);
  EXPECT_EQ(thai->longMonthNames[0], "มกราคม");
}

TEST(LocaleFormats, NoFormatsForNeutralOrUnknownLanguages) {
  for (LangId language : {0x0000, 0x0001, 0x7FFF, 0xFFFF}) {
    EXPECT_FALSE(GetLocaleFormats(language).has_value()) << language;
  }
}

TEST(LocaleFormats, ConvertsDatePatterns) {
  const struct {
    const char* pattern;
    const char* format;
  } cases[] = {
      {"M/d/yy", "M/d/yyyy"},
      {"dd.MM.y", "dd.MM.yyyy"},
      {"EEEE, MMMM d, y", "dddd, MMMM d, yyyy"},
      {"EEE d LLL y", "ddd d MMM yyyy"},
      {"d 'de' MMMM", "d 'de' MMMM"},
      {"d. MMMM y 'г'.", "d. MMMM yyyy 'г'."},
      {"y年M月d日", "yyyy年M月d日"},
      {"EEEE d MMMM G y", "dddd d MMMM yyyy"},  // era dropped with its blank
      {"G y-MM-dd", "yyyy-MM-dd"},
      {"d 'o''clock' M", "d 'o'\"'\"'clock' M"},
      {"''d", "\"'\"d"},
      {"'week' w", ""},  // no day, month or year
      {"", ""},
      {"d 'unterminated", "d 'unterminated'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertDatePattern(c.pattern), c.format) << c.pattern;
  }
}

}  // namespace
}  // namespace platform
