// Locale formats read from ICU (see locale_formats.h).
//
// The locale of a language is the one its collation uses (LanguageList()),
// with two keywords added: calendar=gregorian, because the engine's dates are
// Gregorian day numbers, and numbers=latn, because its number readers take the
// digits 0-9 only. ICU data carries no user overrides, so nothing else is
// needed for the locale's own defaults.
//
// Mapping to the items a Windows locale offers:
//   decimal / thousand separator  DecimalFormatSymbols decimal / grouping
//   short date format             SHORT date pattern, years widened to yyyy
//   long date format              FULL date pattern (with the weekday)
//   date separator                first separator in the short date format
//   time separator, leading zero, SHORT time pattern: the separator after the
//   24-hour flag                  hour field, hh/HH, and H/k against h/K
//   AM/PM, month and day names    DateFormatSymbols, stand-alone forms
//   currency digits               default fraction digits of the currency
#include "platform/locale_formats.h"

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/ucurr.h>

#include <algorithm>
#include <memory>

namespace platform {
namespace {

constexpr char kFallbackDateSeparator[] = "/";
constexpr char kFallbackTimeSeparator[] = ":";
constexpr int kCurrencyCodeChars = 4;  // three letters and the terminator

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string Utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// The length of the UTF-8 character starting at s[i] (1 for a stray byte).
std::size_t CharLength(const std::string& s, std::size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return i + n <= s.size() ? n : 1;
}

// The first separator after the first field of a converted short date: the
// character that follows a run of letters, skipping blanks.
std::string DateSeparatorOf(const std::string& format) {
  std::size_t i = 0;
  while (i < format.size() && !IsAsciiLetter(format[i])) ++i;
  while (i < format.size() && IsAsciiLetter(format[i])) ++i;
  while (i < format.size() && format[i] == ' ') ++i;
  if (i >= format.size() || IsAsciiLetter(format[i]) || format[i] == '\'' || format[i] == '"') {
    return kFallbackDateSeparator;
  }
  return format.substr(i, CharLength(format, i));
}

struct TimeItems {
  std::string separator = kFallbackTimeSeparator;
  bool leadingZero = true;
  bool hour24 = true;
};

// Reads the hour field of a time pattern and the separator after it.
TimeItems TimeItemsOf(const std::string& pattern) {
  TimeItems items;
  bool quoted = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\'') quoted = !quoted;
    if (quoted || (c != 'h' && c != 'H' && c != 'k' && c != 'K')) continue;
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    items.leadingZero = run >= 2;
    items.hour24 = c == 'H' || c == 'k';
    std::size_t j = i + run;
    while (j < pattern.size() && pattern[j] == ' ') ++j;
    if (j < pattern.size() && !IsAsciiLetter(pattern[j]) && pattern[j] != '\'') {
      items.separator = pattern.substr(j, CharLength(pattern, j));
    }
    break;
  }
  return items;
}

std::string WithoutDirectionMarks(std::string s);

std::string DatePatternOf(icu::DateFormat::EStyle style, const icu::Locale& locale) {
  std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateInstance(style, locale));
  auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
  if (simple == nullptr) return {};
  icu::UnicodeString pattern;
  simple->toPattern(pattern);
  return WithoutDirectionMarks(Utf8(pattern));
}

std::string TimePatternOf(const icu::Locale& locale) {
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale));
  auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
  if (simple == nullptr) return {};
  icu::UnicodeString pattern;
  simple->toPattern(pattern);
  return WithoutDirectionMarks(Utf8(pattern));
}

template <std::size_t N>
bool CopyNames(const icu::UnicodeString* names, int count, int first,
               std::array<std::string, N>& out) {
  if (names == nullptr || count < first + static_cast<int>(N)) return false;
  for (std::size_t k = 0; k < N; ++k) out[k] = Utf8(names[first + static_cast<int>(k)]);
  return true;
}

// Languages with double-byte code pages: sessions never collate under them
// (they run as language 0), so they are not in the language list, but the
// host knows their formats all the same.
constexpr struct {
  LangId id;
  const char* icuLocale;
} kDoubleByteLanguages[] = {
    {0x0404, "zh_TW"}, {0x0804, "zh_CN"}, {0x0C04, "zh_HK"},
    {0x1004, "zh_SG"}, {0x0411, "ja_JP"}, {0x0412, "ko_KR"},
};

const char* IcuLocaleOf(LangId language) {
  for (const LanguageEntry& entry : LanguageList()) {
    if (entry.id == language) return entry.icuLocale;
  }
  for (const auto& entry : kDoubleByteLanguages) {
    if (entry.id == language) return entry.icuLocale;
  }
  return nullptr;
}

// Drops the invisible direction marks (U+200E, U+200F, U+061C) that
// right-to-left locales put around separators: they are no separators.
std::string WithoutDirectionMarks(std::string s) {
  for (const char* mark : {"\u200E", "\u200F", "\u061C"}) {
    const std::string m = mark;
    for (std::size_t at = s.find(m); at != std::string::npos; at = s.find(m, at))
      s.erase(at, m.size());
  }
  return s;
}

}  // namespace

std::string ConvertDatePattern(const std::string& pattern) {
  std::string out;
  bool hasField = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '\'') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {  // a literal quote
        out += "\"'\"";
        i += 2;
        continue;
      }
      // Quoted text up to the closing quote; '' inside stands for a quote.
      std::string text;
      std::size_t j = i + 1;
      while (j < pattern.size()) {
        if (pattern[j] == '\'') {
          if (j + 1 < pattern.size() && pattern[j + 1] == '\'') {
            text += '\'';
            j += 2;
            continue;
          }
          break;
        }
        text += pattern[j++];
      }
      // The writer has no escaped quote inside quoted text: a quote in the
      // text closes the run and is written in double quotes.
      std::size_t from = 0;
      while (from <= text.size()) {
        const std::size_t quote = std::min(text.find('\'', from), text.size());
        if (quote > from) out += "'" + text.substr(from, quote - from) + "'";
        if (quote < text.size()) out += "\"'\"";
        from = quote + 1;
      }
      i = j + 1;
      continue;
    }
    if (!IsAsciiLetter(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    i += run;
    switch (c) {
      case 'y':
      case 'u':
      case 'r':
        out += "yyyy";
        hasField = true;
        break;
      case 'M':
      case 'L':
        out += std::string(run > 4 ? 4 : run, 'M');
        hasField = true;
        break;
      case 'd':
        out += run >= 2 ? "dd" : "d";
        hasField = true;
        break;
      case 'E':
      case 'c':
      case 'e':
        out += run >= 4 ? "dddd" : "ddd";
        break;
      default:  // eras, quarters, weeks...: not shown, nor the blank before
        if (!out.empty() && out.back() == ' ') out.pop_back();
        break;
    }
  }
  // Trim blanks and commas a dropped field may have left at either end.
  while (!out.empty() && (out.back() == ' ' || out.back() == ',')) out.pop_back();
  std::size_t start = 0;
  while (start < out.size() && (out[start] == ' ' || out[start] == ',')) ++start;
  return hasField ? out.substr(start) : std::string();
}

std::optional<LocaleFormats> GetLocaleFormats(LangId language) {
  const char* name = IcuLocaleOf(language);
  if (language == kLangNeutral || name == nullptr) return std::nullopt;
  icu::Locale locale(name);
  UErrorCode status = U_ZERO_ERROR;
  locale.setKeywordValue("calendar", "gregorian", status);
  locale.setKeywordValue("numbers", "latn", status);
  if (U_FAILURE(status) || locale.isBogus()) return std::nullopt;

  LocaleFormats f;
  icu::DecimalFormatSymbols numbers(locale, status);
  if (U_FAILURE(status)) return std::nullopt;
  f.decimalSeparator = Utf8(numbers.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
  f.thousandSeparator =
      Utf8(numbers.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));

  f.shortDateFormat = ConvertDatePattern(DatePatternOf(icu::DateFormat::kShort, locale));
  f.longDateFormat = ConvertDatePattern(DatePatternOf(icu::DateFormat::kFull, locale));
  f.dateSeparator = DateSeparatorOf(f.shortDateFormat);

  const TimeItems time = TimeItemsOf(TimePatternOf(locale));
  f.timeSeparator = time.separator;
  f.timeLeadingZero = time.leadingZero;
  f.time24Hour = time.hour24;

  icu::DateFormatSymbols symbols(locale, status);
  if (U_FAILURE(status)) return std::nullopt;
  int count = 0;
  const icu::UnicodeString* amPm = symbols.getAmPmStrings(count);
  if (amPm == nullptr || count < 2) return std::nullopt;
  f.amString = Utf8(amPm[0]);
  f.pmString = Utf8(amPm[1]);
  using Symbols = icu::DateFormatSymbols;
  const Symbols::DtContextType standAlone = Symbols::STANDALONE;
  const icu::UnicodeString* names = symbols.getMonths(count, standAlone, Symbols::ABBREVIATED);
  if (!CopyNames(names, count, 0, f.shortMonthNames)) return std::nullopt;
  names = symbols.getMonths(count, standAlone, Symbols::WIDE);
  if (!CopyNames(names, count, 0, f.longMonthNames)) return std::nullopt;
  // Weekday arrays start at index 1 (UCAL_SUNDAY); index 0 is unused.
  names = symbols.getWeekdays(count, standAlone, Symbols::ABBREVIATED);
  if (!CopyNames(names, count, 1, f.shortDayNames)) return std::nullopt;
  names = symbols.getWeekdays(count, standAlone, Symbols::WIDE);
  if (!CopyNames(names, count, 1, f.longDayNames)) return std::nullopt;

  char16_t currency[kCurrencyCodeChars] = {};
  UErrorCode currencyStatus = U_ZERO_ERROR;
  ucurr_forLocale(locale.getName(), currency, kCurrencyCodeChars, &currencyStatus);
  if (U_SUCCESS(currencyStatus) && currency[0] != 0) {
    const int digits = ucurr_getDefaultFractionDigits(currency, &currencyStatus);
    if (U_SUCCESS(currencyStatus) && digits >= 0) f.currencyDecimals = digits;
  }
  return f;
}

}  // namespace platform
