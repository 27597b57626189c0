// Locale services over ICU: see locale.h for the rules they keep.
//
// A collator is built once per (locale, strength options) and kept for the
// life of the process; ICU collators are safe to use from several threads for
// comparisons once built, so only the cache itself is guarded.
#include "platform/locale.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win_error.h"

namespace platform {
namespace {

// The published Windows identifiers of the engine's languages, in list order,
// with the ICU locale that collates like each of them.
constexpr LanguageEntry kLanguages[] = {
    {"ANSI Standard", 0x0000, nullptr},
    {"Afrikaans", 0x0436, "af_ZA"},
    {"Albanian", 0x041C, "sq_AL"},
    {"Arabic (Saudi Arabia)", 0x0401, "ar_SA"},
    {"Arabic (Iraq)", 0x0801, "ar_IQ"},
    {"Arabic (Egypt)", 0x0C01, "ar_EG"},
    {"Arabic (Libya)", 0x1001, "ar_LY"},
    {"Arabic (Algeria)", 0x1401, "ar_DZ"},
    {"Arabic (Morocco)", 0x1801, "ar_MA"},
    {"Arabic (Tunisia)", 0x1C01, "ar_TN"},
    {"Arabic (Oman)", 0x2001, "ar_OM"},
    {"Arabic (Yemen)", 0x2401, "ar_YE"},
    {"Arabic (Syria)", 0x2801, "ar_SY"},
    {"Arabic (Jordan)", 0x2C01, "ar_JO"},
    {"Arabic (Lebanon)", 0x3001, "ar_LB"},
    {"Arabic (Kuwait)", 0x3401, "ar_KW"},
    {"Arabic (U.A.E)", 0x3801, "ar_AE"},
    {"Arabic (Bahrain)", 0x3C01, "ar_BH"},
    {"Arabic (Qatar)", 0x4001, "ar_QA"},
    {"Basque", 0x042D, "eu_ES"},
    {"Belarusian", 0x0423, "be_BY"},
    {"Bulgarian", 0x0402, "bg_BG"},
    {"Catalan", 0x0403, "ca_ES"},
    {"Croatian", 0x041A, "hr_HR"},
    {"Czech", 0x0405, "cs_CZ"},
    {"Danish", 0x0406, "da_DK"},
    {"Dutch (Standard)", 0x0413, "nl_NL"},
    {"Dutch (Belgian)", 0x0813, "nl_BE"},
    {"English (USA)", 0x0409, "en_US"},
    {"English (UK)", 0x0809, "en_GB"},
    {"English (Australian)", 0x0C09, "en_AU"},
    {"English (Canadian)", 0x1009, "en_CA"},
    {"English (New Zealand)", 0x1409, "en_NZ"},
    {"English (Irish)", 0x1809, "en_IE"},
    {"English (South Africa)", 0x1C09, "en_ZA"},
    {"English (Jamaica)", 0x2009, "en_JM"},
    {"English (Caribbean)", 0x2409, "en_029"},
    {"English (Belize)", 0x2809, "en_BZ"},
    {"English (Trinidad)", 0x2C09, "en_TT"},
    {"Estonian", 0x0425, "et_EE"},
    {"Faeroese", 0x0438, "fo_FO"},
    {"Farsi", 0x0429, "fa_IR"},
    {"Finnish", 0x040B, "fi_FI"},
    {"French (Standard)", 0x040C, "fr_FR"},
    {"French (Belgian)", 0x080C, "fr_BE"},
    {"French (Canadian)", 0x0C0C, "fr_CA"},
    {"French (Swiss)", 0x100C, "fr_CH"},
    {"French (Luxembourg)", 0x140C, "fr_LU"},
    {"German (Standard)", 0x0407, "de_DE"},
    {"German (Swiss)", 0x0807, "de_CH"},
    {"German (Austrian)", 0x0C07, "de_AT"},
    {"German (Luxembourg)", 0x1007, "de_LU"},
    {"German (Liechtenstein)", 0x1407, "de_LI"},
    {"Greek", 0x0408, "el_GR"},
    {"Hebrew", 0x040D, "he_IL"},
    {"Hungarian", 0x040E, "hu_HU"},
    {"Icelandic", 0x040F, "is_IS"},
    {"Indonesian", 0x0421, "id_ID"},
    {"Italian (Standard)", 0x0410, "it_IT"},
    {"Italian (Swiss)", 0x0810, "it_CH"},
    {"Latvian", 0x0426, "lv_LV"},
    {"Lithuanian", 0x0427, "lt_LT"},
    {"Norwegian (Bokmal)", 0x0414, "nb_NO"},
    {"Norwegian (Nynorsk)", 0x0814, "nn_NO"},
    {"Polish", 0x0415, "pl_PL"},
    {"Portuguese (Standard)", 0x0816, "pt_PT"},
    {"Portuguese (Brazilian)", 0x0416, "pt_BR"},
    {"Romanian", 0x0418, "ro_RO"},
    {"Russian", 0x0419, "ru_RU"},
    {"Serbian (Latin)", 0x081A, "sr_Latn_RS"},
    {"Serbian (Cyrillic)", 0x0C1A, "sr_Cyrl_RS"},
    {"Slovak", 0x041B, "sk_SK"},
    {"Slovenian", 0x0424, "sl_SI"},
    {"Spanish (Castilian)", 0x040A, "es_ES@collation=traditional"},
    {"Spanish (Mexican)", 0x080A, "es_MX"},
    {"Spanish (Modern)", 0x0C0A, "es_ES"},
    {"Spanish (Guatemala)", 0x100A, "es_GT"},
    {"Spanish (Costa Rica)", 0x140A, "es_CR"},
    {"Spanish (Panama)", 0x180A, "es_PA"},
    {"Spanish (Dominican Republic)", 0x1C0A, "es_DO"},
    {"Spanish (Venezuela)", 0x200A, "es_VE"},
    {"Spanish (Colombia)", 0x240A, "es_CO"},
    {"Spanish (Peru)", 0x280A, "es_PE"},
    {"Spanish (Argentina)", 0x2C0A, "es_AR"},
    {"Spanish (Ecuador)", 0x300A, "es_EC"},
    {"Spanish (Chile)", 0x340A, "es_CL"},
    {"Spanish (Uruguay)", 0x380A, "es_UY"},
    {"Spanish (Paraguay)", 0x3C0A, "es_PY"},
    {"Spanish (Bolivia)", 0x400A, "es_BO"},
    {"Spanish (El Salvador)", 0x440A, "es_SV"},
    {"Spanish (Honduras)", 0x480A, "es_HN"},
    {"Spanish (Nicaragua)", 0x4C0A, "es_NI"},
    {"Spanish (Puerto Rico)", 0x500A, "es_PR"},
    {"Swedish (Standard)", 0x041D, "sv_SE"},
    {"Swedish (Finland)", 0x081D, "sv_FI"},
    {"Thai", 0x041E, "th_TH"},
    {"Turkish", 0x041F, "tr_TR"},
    {"Ukranian", 0x0422, "uk_UA"},
    {"Vietnamese", 0x042A, "vi_VN"},
};

constexpr LangId kPrimaryLanguageMask = 0x03FF;
constexpr LangId kPrimaryGerman = 0x07;

constexpr const char* kSortNameDefault = "Default Order";
constexpr const char* kSortNamePhoneBook = "German Phone Book Order";

bool IsGerman(LangId id) {
  return (id & kPrimaryLanguageMask) == kPrimaryGerman;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

const LanguageEntry* FindEntry(LangId id) {
  for (const LanguageEntry& entry : kLanguages) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

std::string_view Bounded(const char* text, int length) {
  if (text == nullptr) return {};
  if (length < 0) return std::string_view(text, std::strlen(text));
  return std::string_view(text, static_cast<std::size_t>(length));
}

int FromOrder(int order) {
  return order < 0 ? kCstrLessThan : (order > 0 ? kCstrGreaterThan : kCstrEqual);
}

int CompareBytes(std::string_view a, std::string_view b, bool ignoreCase) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(ignoreCase ? AsciiUpper(a[i]) : a[i]);
    unsigned char cb = static_cast<unsigned char>(ignoreCase ? AsciiUpper(b[i]) : b[i]);
    if (ca != cb) return ca < cb ? kCstrLessThan : kCstrGreaterThan;
  }
  return FromOrder(a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0));
}

// Collators by (locale, ignore-case, ignore-non-space); built on first use.
class CollatorCache {
 public:
  const icu::Collator* Get(Lcid lcid, bool ignoreCase, bool ignoreNonSpace) {
    const std::uint64_t cacheKey = (static_cast<std::uint64_t>(lcid) << 2) |
                                   (ignoreCase ? 1u : 0u) | (ignoreNonSpace ? 2u : 0u);
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = collators_.find(cacheKey);
    if (found != collators_.end()) return found->second.get();
    const LanguageEntry* entry = FindEntry(LcidLanguage(lcid));
    if (entry == nullptr || entry->icuLocale == nullptr) return nullptr;
    std::string name = entry->icuLocale;
    if (LcidSort(lcid) == kSortGermanPhoneBook) name += "@collation=phonebook";
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::createCanonical(name.c_str()), status));
    if (U_FAILURE(status) || !collator) return nullptr;
    // Windows' string sort with non-spacing marks ignored keeps case differences:
    // primary strength plus the case level. Ignoring case as well drops the level.
    if (ignoreNonSpace) {
      collator->setStrength(icu::Collator::PRIMARY);
      if (!ignoreCase) collator->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, status);
    } else if (ignoreCase) {
      collator->setStrength(icu::Collator::SECONDARY);
    }
    // Punctuation and symbols are significant (string sort).
    collator->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
    if (U_FAILURE(status)) return nullptr;
    const icu::Collator* result = collator.get();
    collators_.emplace(cacheKey, std::move(collator));
    return result;
  }

 private:
  std::mutex mutex_;
  std::map<std::uint64_t, std::unique_ptr<icu::Collator>> collators_;
};

CollatorCache& Collators() {
  static CollatorCache cache;
  return cache;
}

}  // namespace

int CompareStringA(Lcid locale, std::uint32_t flags, const char* a, int lengthA, const char* b,
                   int lengthB) {
  const std::string_view left = Bounded(a, lengthA);
  const std::string_view right = Bounded(b, lengthB);
  const bool ignoreCase = (flags & kNormIgnoreCase) != 0;
  if (LcidLanguage(locale) == kLangNeutral) return CompareBytes(left, right, ignoreCase);
  if (!IsValidLocale(locale)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  const icu::Collator* collator =
      Collators().Get(locale, ignoreCase, (flags & kNormIgnoreNonSpace) != 0);
  if (collator == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult order = collator->compareUTF8(
      icu::StringPiece(left.data(), static_cast<std::int32_t>(left.size())),
      icu::StringPiece(right.data(), static_cast<std::int32_t>(right.size())), status);
  if (U_FAILURE(status)) {
    // ICU could not compare (it never should for UTF-8 input): fall back to bytes
    // so that a result is still a total order.
    return CompareBytes(left, right, ignoreCase);
  }
  return FromOrder(order == UCOL_LESS ? -1 : (order == UCOL_GREATER ? 1 : 0));
}

std::string LCMapStringA(Lcid locale, std::uint32_t flags, std::string_view text) {
  const bool upper = (flags & kLcmapUppercase) != 0;
  const bool lower = (flags & kLcmapLowercase) != 0;
  std::string result;
  if (!upper && !lower) return std::string(text);
  if (LcidLanguage(locale) == kLangNeutral || !IsValidLocale(locale)) {
    result.reserve(text.size());
    for (char c : text) result.push_back(upper ? AsciiUpper(c) : AsciiLower(c));
    return result;
  }
  // One code point to one code point; bytes that are not valid UTF-8 stay as
  // they are so that nothing is lost.
  result.reserve(text.size() + 8);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t i = 0;
  while (i < length) {
    const std::int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      result.append(
          text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
      continue;
    }
    const UChar32 mapped = upper ? u_toupper(c) : u_tolower(c);
    std::uint8_t encoded[U8_MAX_LENGTH];
    std::int32_t n = 0;
    U8_APPEND_UNSAFE(encoded, n, mapped);
    result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(n));
  }
  return result;
}

bool IsValidLocale(Lcid locale) {
  const LangId language = LcidLanguage(locale);
  const SortId sort = LcidSort(locale);
  if ((locale >> 20) != 0) return false;  // bits beyond the sort identifier are reserved
  const LanguageEntry* entry = FindEntry(language);
  if (entry == nullptr) return false;
  if (sort == kSortDefault) return true;
  return sort == kSortGermanPhoneBook && IsGerman(language);
}

LangId GetUserDefaultLangID() {
  return kLangEnglishUsa;
}

std::span<const LanguageEntry> LanguageList() {
  return kLanguages;
}

std::optional<LangId> FindLanguage(std::string_view name) {
  for (const LanguageEntry& entry : kLanguages) {
    if (EqualsIgnoringAsciiCase(entry.name, name)) return entry.id;
  }
  return std::nullopt;
}

std::string LanguageName(LangId id) {
  const LanguageEntry* entry = FindEntry(id);
  return entry != nullptr ? entry->name : std::string();
}

std::vector<std::string> SortNames(LangId id) {
  std::vector<std::string> names;
  if (FindEntry(id) == nullptr) return names;
  names.emplace_back(kSortNameDefault);
  if (IsGerman(id)) names.emplace_back(kSortNamePhoneBook);
  return names;
}

std::optional<SortId> FindSort(LangId id, std::string_view name) {
  if (FindEntry(id) == nullptr) return std::nullopt;
  if (EqualsIgnoringAsciiCase(kSortNameDefault, name)) return kSortDefault;
  if (IsGerman(id) && EqualsIgnoringAsciiCase(kSortNamePhoneBook, name)) {
    return kSortGermanPhoneBook;
  }
  return std::nullopt;
}

}  // namespace platform
