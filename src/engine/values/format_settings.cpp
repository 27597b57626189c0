// Format settings and their process-wide swap (see format_settings.h).
#include "engine/values/format_settings.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/locale_formats.h"

namespace engine {
namespace {

// The format lock: held from before a swap to after the restore.
std::recursive_mutex& FormatLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex();
  return *lock;
}

const FormatSettings& Language0Settings() {
  static const FormatSettings* settings = new FormatSettings();
  return *settings;
}

// Installed settings; written only under the format lock.
const FormatSettings* g_current = nullptr;

// A separator of the locale as one byte of the narrow code page: a one-byte
// separator as it is, a wide blank (no-break, narrow no-break or thin space)
// as a blank, and anything else as the language-0 separator `fallback`,
// since the readers and the lexer compare single bytes.
char SingleByteSeparator(const std::string& separator, char fallback) {
  if (separator.size() == 1) return separator[0];
  for (const char* blank : {"\u00A0", "\u202F", "\u2009"}) {
    if (separator == blank) return ' ';
  }
  return fallback;
}

// The short date format up to the end of its last day, month or year field.
// Some locales end their dates with text ("2024. 02. 28.", "28.02.2024 г.")
// that the date reader would find left over, so a date written under them
// could not be read back; the short date format is what both use.
std::string WithoutTrailingText(const std::string& format) {
  std::size_t end = 0;
  char quote = 0;  // the quote of the quoted text the loop is in
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (quote == 0 && (c == 'd' || c == 'D' || c == 'M' || c == 'm' || c == 'y' || c == 'Y')) {
      end = i + 1;
    }
  }
  return end == 0 ? format : format.substr(0, end);
}

// Settings of a language other than 0: the items of the host's locale data
// for the language (the sort order does not change them). Dates fall back to
// "M/d/yyyy" and "dddd, MMMM dd, yyyy" where the locale offers no format (the
// short one ends at its last field, see above); the
// time formats follow the locale's leading-zero and 24-hour settings, and
// 12-hour formats end in " AMPM". A language the host does not know keeps
// the language-0 separators and names with the fallback date formats.
FormatSettings BuildLocaleSettings(std::uint16_t languageId, std::uint16_t /*sortId*/) {
  FormatSettings s;
  s.dateSeparator = '/';
  s.shortDateFormat = "M/d/yyyy";
  s.longDateFormat = "dddd, MMMM dd, yyyy";
  const std::optional<platform::LocaleFormats> locale = platform::GetLocaleFormats(languageId);
  if (!locale) return s;
  const FormatSettings language0;
  s.decimalSeparator = SingleByteSeparator(locale->decimalSeparator, language0.decimalSeparator);
  s.thousandSeparator = SingleByteSeparator(locale->thousandSeparator, language0.thousandSeparator);
  if (s.thousandSeparator == s.decimalSeparator) s.thousandSeparator = language0.thousandSeparator;
  s.dateSeparator = SingleByteSeparator(locale->dateSeparator, s.dateSeparator);
  s.timeSeparator = SingleByteSeparator(locale->timeSeparator, language0.timeSeparator);
  if (!locale->shortDateFormat.empty()) {
    s.shortDateFormat = WithoutTrailingText(locale->shortDateFormat);
  }
  if (!locale->longDateFormat.empty()) s.longDateFormat = locale->longDateFormat;
  if (!locale->amString.empty()) s.timeAmString = locale->amString;
  if (!locale->pmString.empty()) s.timePmString = locale->pmString;
  const std::string hour = locale->timeLeadingZero ? "hh" : "h";
  const std::string suffix = locale->time24Hour ? "" : " AMPM";
  s.shortTimeFormat = hour + ":mm" + suffix;
  s.longTimeFormat = hour + ":mm:ss" + suffix;
  s.shortMonthNames = locale->shortMonthNames;
  s.longMonthNames = locale->longMonthNames;
  s.shortDayNames = locale->shortDayNames;
  s.longDayNames = locale->longDayNames;
  s.currencyDecimals = locale->currencyDecimals;
  return s;
}

}  // namespace

const FormatSettings& FormatSettingsFor(std::uint16_t languageId, std::uint16_t sortId) {
  if (languageId == 0) return Language0Settings();
  static std::mutex cacheLock;
  static auto* cache = new std::map<std::pair<std::uint16_t, std::uint16_t>,
                                    std::unique_ptr<const FormatSettings>>();
  std::lock_guard<std::mutex> guard(cacheLock);
  auto& slot = (*cache)[{languageId, sortId}];
  if (!slot) slot = std::make_unique<const FormatSettings>(BuildLocaleSettings(languageId, sortId));
  return *slot;
}

const FormatSettings& CurrentFormatSettings() {
  std::lock_guard<std::recursive_mutex> guard(FormatLock());
  return g_current ? *g_current : Language0Settings();
}

FormatSettingsScope::FormatSettingsScope(std::uint16_t languageId, std::uint16_t sortId) {
  const FormatSettings& settings = FormatSettingsFor(languageId, sortId);
  FormatLock().lock();
  previous_ = g_current;
  g_current = &settings;
}

FormatSettingsScope::~FormatSettingsScope() {
  g_current = previous_;
  FormatLock().unlock();
}

}  // namespace engine
