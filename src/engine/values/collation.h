// String comparison and case mapping of expressions under a table's or
// session's collation.
//
// Language 0 compares byte by byte as unsigned bytes over the longer length,
// counting the terminating zero, so a prefix sorts before the longer string
// ("abc" < "abcd"); a case-insensitive comparison first maps both sides to
// upper case under English (United States), locale 1033. Any other language
// compares through the host's locale comparison with string sort and
// non-spacing marks ignored, and ignores case when asked.
//
// Case mapping (UPPER, LOWER, the character case of fields) uses the locale
// of the language, and locale 1033 for language 0: the mapping with which the
// keys of a case-insensitive index are built, so that a filter finds the
// same rows through such an index as record by record ("\xC3\xA9mile" and
// "\xC3\x89mile", e-acute in both cases, are equal ignoring case).
// Example: Upper("\xC3\xA9mile") is "\xC3\x89MILE".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

struct Collation {
  std::uint16_t languageId = 0;
  std::uint16_t sortId = 0;

  // <0, 0 or >0.
  int Compare(std::string_view a, std::string_view b, bool caseInsensitive = false) const;
  bool Equal(std::string_view a, std::string_view b, bool caseInsensitive = false) const {
    return Compare(a, b, caseInsensitive) == 0;
  }
  // Character comparison of LIKE patterns (language 0: byte equality).
  bool CharsEqual(char a, char b) const;
  std::string Upper(std::string_view s) const;
  std::string Lower(std::string_view s) const;

 private:
  std::uint32_t CaseLocale() const;
};

}  // namespace engine
