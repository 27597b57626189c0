// Date, time and number format settings under which the expression language
// reads constants and converts strings, and the process-wide lock under which
// they are swapped.
//
// The settings follow a session's language and sort identifiers. Language 0
// has fixed settings (decimal separator ".", dates "yyyy-mm-dd", times
// "hh:mm:ss", English month and day names); every other language takes
// them from the host's locale data (platform/locale_formats.h). Every parse,
// analysis and conversion runs inside a FormatSettingsScope, which takes the process-wide
// format lock, installs the settings of its language and restores the
// previous ones when it ends.
//
// Invariants:
//  - CurrentFormatSettings() is only read while the caller holds a scope
//    (outside of one it answers the language-0 settings);
//  - installed settings are immutable and live to the end of the process, so a
//    reference obtained inside a scope stays valid;
//  - scopes nest (the lock is recursive); the inner one restores the outer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace engine {

struct FormatSettings {
  char thousandSeparator = ',';
  char decimalSeparator = '.';
  char dateSeparator = '-';
  std::string shortDateFormat = "yyyy-mm-dd";
  std::string longDateFormat = "dddd, mmmm dd, yyyy";
  char timeSeparator = ':';
  std::string timeAmString = "AM";
  std::string timePmString = "PM";
  std::string shortTimeFormat = "hh:mm";
  std::string longTimeFormat = "hh:mm:ss";
  std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> longMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> shortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> longDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  int currencyDecimals = 2;
};

// The settings of a language and sort, built once and kept for the process.
const FormatSettings& FormatSettingsFor(std::uint16_t languageId, std::uint16_t sortId);

// The settings installed by the innermost scope of the calling thread's
// current holder of the format lock; the language-0 settings otherwise.
const FormatSettings& CurrentFormatSettings();

// Holds the process-wide format lock and installs the settings of a language
// for its lifetime.
class FormatSettingsScope {
 public:
  FormatSettingsScope(std::uint16_t languageId, std::uint16_t sortId);
  ~FormatSettingsScope();
  FormatSettingsScope(const FormatSettingsScope&) = delete;
  FormatSettingsScope& operator=(const FormatSettingsScope&) = delete;

 private:
  const FormatSettings* previous_;
};

}  // namespace engine
