// Locale services with Windows semantics: locale identifiers, string
// comparison (CompareStringA), case mapping (LCMapStringA), locale validity and
// the engine's list of language and sort names.
//
// Strings are byte strings in the host's narrow code page, UTF-8.
//
// Invariants:
//  - Language 0 ("ANSI Standard") compares byte by byte and changes the case of
//    ASCII letters only, so multi-byte characters always stay intact.
//  - Every other known language identifier collates through ICU with the locale
//    of that language; sort identifier 1 (German languages only) selects the
//    phone book order. A locale outside the table below is not valid.
//  - Case mapping maps one code point to one code point; the result may differ in
//    byte length from its input, and callers with fixed slots cut it themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using LangId = std::uint16_t;  // primary language (low 10 bits) and sublanguage
using SortId = std::uint16_t;  // 0 default order; 1 German phone book order
using Lcid = std::uint32_t;    // sort identifier << 16 | language identifier

inline constexpr Lcid MakeLcid(LangId language, SortId sort) {
  return (static_cast<Lcid>(sort) << 16) | language;
}
inline constexpr LangId LcidLanguage(Lcid lcid) {
  return static_cast<LangId>(lcid & 0xFFFF);
}
inline constexpr SortId LcidSort(Lcid lcid) {
  return static_cast<SortId>((lcid >> 16) & 0xF);
}

inline constexpr LangId kLangNeutral = 0;          // "ANSI Standard": plain byte order
inline constexpr LangId kLangEnglishUsa = 0x0409;  // English (United States)
inline constexpr SortId kSortDefault = 0;
inline constexpr SortId kSortGermanPhoneBook = 1;

// CompareStringA flags (the Windows values).
inline constexpr std::uint32_t kNormIgnoreCase = 0x00000001;
inline constexpr std::uint32_t kNormIgnoreNonSpace = 0x00000002;
inline constexpr std::uint32_t kSortStringSort = 0x00001000;

// CompareStringA results (the Windows values).
inline constexpr int kCstrLessThan = 1;
inline constexpr int kCstrEqual = 2;
inline constexpr int kCstrGreaterThan = 3;

// LCMapStringA flags (the Windows values).
inline constexpr std::uint32_t kLcmapLowercase = 0x00000100;
inline constexpr std::uint32_t kLcmapUppercase = 0x00000200;

// Compares two strings under a locale. A negative length means "up to the first
// zero byte". Returns kCstrLessThan, kCstrEqual or kCstrGreaterThan; 0 with
// kErrorInvalidParameter in GetLastError() for an unknown locale.
// kSortStringSort is accepted and is how every comparison sorts: punctuation and
// symbols count like other characters.
int CompareStringA(Lcid locale, std::uint32_t flags, const char* a, int lengthA, const char* b,
                   int lengthB);

// Maps the case of a string under a locale (kLcmapUppercase or kLcmapLowercase).
// Unknown locales map like language 0.
std::string LCMapStringA(Lcid locale, std::uint32_t flags, std::string_view text);

// True when the locale is one of the known languages with a sort it offers.
bool IsValidLocale(Lcid locale);

// The user's default language: English (United States) on this host.
LangId GetUserDefaultLangID();

// The engine's language list, in its published order.
struct LanguageEntry {
  const char* name;       // "German (Standard)"
  LangId id;              // 0x0407
  const char* icuLocale;  // "de_DE"; nullptr for language 0
};
std::span<const LanguageEntry> LanguageList();

// Looks a language up by name (ignoring case).
std::optional<LangId> FindLanguage(std::string_view name);
// The name of a language identifier, or an empty string when unknown.
std::string LanguageName(LangId id);

// Sort names offered for a language: "Default Order" for every language, and
// "German Phone Book Order" (sort 1) for the five German languages.
std::vector<std::string> SortNames(LangId id);
// Looks a sort name up for a language (ignoring case).
std::optional<SortId> FindSort(LangId id, std::string_view name);

}  // namespace platform
