// Collation of expression strings (see collation.h).
#include "engine/values/collation.h"

#include <algorithm>

#include "platform/locale.h"

namespace engine {
namespace {

// Case under language 0 is mapped as English (United States) maps it, the
// mapping the keys of a case-insensitive index are built with.
constexpr platform::Lcid kLanguageZeroCaseLocale = platform::MakeLcid(platform::kLangEnglishUsa, 0);

unsigned char FoldUpper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

int CompareBytes(std::string_view a, std::string_view b, bool caseInsensitive) {
  if (caseInsensitive && (!IsAscii(a) || !IsAscii(b))) {
    // Letters beyond ASCII: both sides through the locale's upper-case mapping.
    const std::string upperA =
        platform::LCMapStringA(kLanguageZeroCaseLocale, platform::kLcmapUppercase, a);
    const std::string upperB =
        platform::LCMapStringA(kLanguageZeroCaseLocale, platform::kLcmapUppercase, b);
    return CompareBytes(upperA, upperB, false);
  }
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (caseInsensitive) x = FoldUpper(x), y = FoldUpper(y);
    if (x != y) return x < y ? -1 : 1;
  }
  // The shorter string's terminating zero meets a character of the longer.
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int Collation::Compare(std::string_view a, std::string_view b, bool caseInsensitive) const {
  if (languageId == 0) return CompareBytes(a, b, caseInsensitive);
  std::uint32_t flags = platform::kSortStringSort | platform::kNormIgnoreNonSpace;
  if (caseInsensitive) flags |= platform::kNormIgnoreCase;
  const int r =
      platform::CompareStringA(platform::MakeLcid(languageId, sortId), flags, a.data(),
                               static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  if (r == 0) return CompareBytes(a, b, caseInsensitive);  // unknown locale
  return r - platform::kCstrEqual;
}

bool Collation::CharsEqual(char a, char b) const {
  if (languageId == 0 || a == b) return a == b;
  return Compare(std::string_view(&a, 1), std::string_view(&b, 1)) == 0;
}

platform::Lcid Collation::CaseLocale() const {
  return languageId == 0 ? kLanguageZeroCaseLocale : platform::MakeLcid(languageId, sortId);
}

std::string Collation::Upper(std::string_view s) const {
  if (languageId == 0 && IsAscii(s)) {  // what the locale does to ASCII, without it
    std::string out(s);
    for (char& c : out) c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    return out;
  }
  return platform::LCMapStringA(CaseLocale(), platform::kLcmapUppercase, s);
}

std::string Collation::Lower(std::string_view s) const {
  if (languageId == 0 && IsAscii(s)) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  return platform::LCMapStringA(CaseLocale(), platform::kLcmapLowercase, s);
}

}  // namespace engine
