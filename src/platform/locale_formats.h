// Date, time and number formats of a language, read from the locale data
// (GetLocaleInfo-style items) with no user overrides.
//
// Strings are UTF-8, the host's narrow code page. Date formats use the format
// letters of the engine's date writer: d, dd (day), ddd, dddd (short and long
// day name), M, MM (month), MMM, MMMM (short and long month name), yy, yyyy
// (year); text between single quotes is literal, and every other character
// stands for itself. For example German (Standard) gives "dd.MM.yyyy" and
// "dddd, d. MMMM yyyy", English (USA) "M/d/yyyy" and "dddd, MMMM d, yyyy".
//
// Invariants:
//  - the languages of LanguageList() other than language 0 have formats, and
//    so have the double-byte languages outside that list (Chinese 0x0404,
//    0x0804, 0x0C04, 0x1004, Japanese 0x0411, Korean 0x0412);
//  - a date format is empty when the locale offers none the writer can show
//    (callers then use their own fallback);
//  - names are indexed January = 0 and Sunday = 0;
//  - numbers are described with Latin digits, whatever digits the locale
//    writes by default, because readers of numbers accept only those.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/locale.h"

namespace platform {

struct LocaleFormats {
  std::string decimalSeparator;   // "," for German
  std::string thousandSeparator;  // "." for German
  std::string dateSeparator;      // first separator of the short date format
  std::string timeSeparator;      // separator after the hour of the short time
  std::string shortDateFormat;    // "dd.MM.yyyy"
  std::string longDateFormat;     // "dddd, d. MMMM yyyy"
  std::string amString;           // "AM"
  std::string pmString;           // "PM"
  bool timeLeadingZero = true;    // hours written with two digits
  bool time24Hour = true;         // hours 0-23 rather than 1-12 with AM/PM
  std::array<std::string, 12> shortMonthNames;
  std::array<std::string, 12> longMonthNames;
  std::array<std::string, 7> shortDayNames;
  std::array<std::string, 7> longDayNames;
  int currencyDecimals = 2;  // digits after the decimal separator in amounts
};

// The formats of a language; nullopt for language 0, for other unknown
// identifiers and when the locale data cannot be read.
std::optional<LocaleFormats> GetLocaleFormats(LangId language);

// Converts a locale date pattern (letters y, u, r, M, L, d, E, c; quoted
// text) to the writer's format letters: every year becomes yyyy, E and c
// become ddd (up to three letters) or dddd, L becomes M. Letters the writer
// cannot show (eras, quarters, week numbers) are dropped with one blank
// before them. Quoted text stays quoted; a doubled quote becomes a quote in
// double quotes. Empty when the pattern holds no day, month or year.
std::string ConvertDatePattern(const std::string& pattern);

}  // namespace platform
