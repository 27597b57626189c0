// Locale services: byte order for language 0, ICU collation for the others,
// case mapping that never breaks multi-byte characters, and the name lists.
#include "platform/locale.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

int Compare(Lcid lcid, const std::string& a, const std::string& b, std::uint32_t flags = 0) {
  return CompareStringA(lcid, flags | kSortStringSort, a.c_str(), -1, b.c_str(), -1);
}

TEST(LocaleCompare, OrdersByLocale) {
  const Lcid german = MakeLcid(0x0407, kSortDefault);
  const Lcid phoneBook = MakeLcid(0x0407, kSortGermanPhoneBook);
  const Lcid swedish = MakeLcid(0x041D, kSortDefault);
  const Lcid english = MakeLcid(kLangEnglishUsa, kSortDefault);
  struct Case {
    const char* what;
    Lcid lcid;
    std::string a, b;
    std::uint32_t flags;
    int expected;
  };
  const Case cases[] = {
      {"bytes: upper case first", 0, "Zebra", "apple", 0, kCstrLessThan},
      {"bytes: shorter prefix first", 0, "abc", "abcd", 0, kCstrLessThan},
      {"bytes: equal", 0, "abc", "abc", 0, kCstrEqual},
      {"bytes: ignore ASCII case", 0, "ABC", "abc", kNormIgnoreCase, kCstrEqual},
      {"bytes: UTF-8 above ASCII", 0, "\xC3\xA9", "z", 0, kCstrGreaterThan},
      {"english: letters before case", english, "apple", "Zebra", 0, kCstrLessThan},
      {"english: lower before upper", english, "a", "A", 0, kCstrLessThan},
      {"english: accent ignored", english, "resume", "r\xC3\xA9sum\xC3\xA9", kNormIgnoreNonSpace,
       kCstrEqual},
      {"english: case kept when ignoring accents", english, "a", "A", kNormIgnoreNonSpace,
       kCstrLessThan},
      {"english: case ignored", english, "ABC", "abc", kNormIgnoreCase, kCstrEqual},
      {"german: umlaut beside its vowel", german, "\xC3\xA4", "b", 0, kCstrLessThan},
      {"phone book: \xC3\xA4 sorts as ae", phoneBook, "\xC3\xA4z", "af", 0, kCstrLessThan},
      {"default: \xC3\xA4 sorts as a", german, "\xC3\xA4z", "af", 0, kCstrGreaterThan},
      {"swedish: \xC3\xA4 after z", swedish, "\xC3\xA4", "z", 0, kCstrGreaterThan},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compare(c.lcid, c.a, c.b, c.flags), c.expected) << c.what;
  }
}

TEST(LocaleCompare, ExplicitLengthsAndUnknownLocale) {
  EXPECT_EQ(CompareStringA(0, 0, "abcX", 3, "abcY", 3), kCstrEqual);
  EXPECT_EQ(CompareStringA(MakeLcid(0x0409, 0), 0, "abcX", 3, "abcY", 4), kCstrLessThan);
  EXPECT_EQ(CompareStringA(MakeLcid(0x7777, 0), 0, "a", -1, "b", -1), 0);
  // Phone book order exists for German only.
  EXPECT_EQ(CompareStringA(MakeLcid(0x0409, kSortGermanPhoneBook), 0, "a", -1, "b", -1), 0);
}

TEST(LocaleMapping, UpperAndLowerCase) {
  const Lcid english = MakeLcid(kLangEnglishUsa, kSortDefault);
  // Language 0 changes ASCII letters only; UTF-8 sequences stay intact.
  EXPECT_EQ(LCMapStringA(0, kLcmapUppercase, "ab\xC3\xA9z1"), "AB\xC3\xA9Z1");
  EXPECT_EQ(LCMapStringA(0, kLcmapLowercase, "AB\xC3\x89Z"), "ab\xC3\x89z");
  EXPECT_EQ(LCMapStringA(english, kLcmapUppercase, "ab\xC3\xA9z"), "AB\xC3\x89Z");
  EXPECT_EQ(LCMapStringA(english, kLcmapLowercase, "\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
  // Bytes that are not UTF-8 survive unchanged.
  EXPECT_EQ(LCMapStringA(english, kLcmapUppercase,
                         std::string("a\xFF"
                                     "b")),
            std::string("A\xFF"
                        "B"));
}

TEST(LocaleNames, LanguagesAndSorts) {
  ASSERT_FALSE(LanguageList().empty());
  EXPECT_STREQ(LanguageList().front().name, "ANSI Standard");
  EXPECT_STREQ(LanguageList().back().name, "Vietnamese");
  EXPECT_EQ(FindLanguage("ansi standard"), LangId{0});
  EXPECT_EQ(FindLanguage("GERMAN (STANDARD)"), LangId{0x0407});
  EXPECT_EQ(FindLanguage("English (USA)"), LangId{0x0409});
  EXPECT_EQ(FindLanguage("Klingon"), std::nullopt);
  EXPECT_EQ(LanguageName(0x0C0A), "Spanish (Modern)");

  EXPECT_EQ(SortNames(0x0409), std::vector<std::string>{"Default Order"});
  EXPECT_EQ(SortNames(0x0C07),
            (std::vector<std::string>{"Default Order", "German Phone Book Order"}));
  EXPECT_EQ(FindSort(0x1407, "german phone book order"), SortId{1});
  EXPECT_EQ(FindSort(0x040C, "German Phone Book Order"), std::nullopt);
  EXPECT_EQ(FindSort(0x040C, "default order"), SortId{0});

  EXPECT_TRUE(IsValidLocale(MakeLcid(0x0407, 1)));
  EXPECT_FALSE(IsValidLocale(MakeLcid(0x0409, 1)));
  EXPECT_FALSE(IsValidLocale(MakeLcid(0x0999, 0)));
  // Every listed language other than 0 has a working collator.
  for (const LanguageEntry& entry : LanguageList()) {
    if (entry.id == 0) continue;
    EXPECT_EQ(CompareStringA(MakeLcid(entry.id, 0), 0, "a", -1, "b", -1), kCstrLessThan)
        << entry.name;
  }
}

}  // namespace
}  // namespace platform
