// Directory search with attribute masks and Windows wildcards.
#include "platform/find.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "platform/file_ops.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::WriteHostFile;

TEST(WildcardTest, WindowsSemantics) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } const cases[] = {
      {"*", "anything", true},
      {"*", "", true},
      {"*.*", "file.txt", true},
      {"*.*", "readme", true},  // "*.*" is every name on Windows
      {"*.*", ".profile", true},
      {"*.txt", "A.TXT", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "a.txtx", false},
      {"*.tar.gz", "x.tar.gz", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"a?c",
       "a\xC3\xA9"
       "c",
       true},  // '?' is one character, not one byte
      {"abc*", "abc", true},
      {"*?", "a", true},
      {"read.*", "read", true},  // ".*" also matches no extension
      {"read.*", "read.me", true},
      {"read.*", "reader", false},
      {"*.", "readme", true},  // "*." selects names without a dot
      {"*.", "read.me", false},
      {"Back*.Dat", "back12.dat", true},
      {"Back?.Dat", "Back1.Dat", true},
      {"Back?.Dat", "Back.Dat", true},  // '?' before a dot may match nothing
      {"Back?.Dat", "Back12.Dat", false},
      {"abc??", "abc", true},  // and so may '?'s at the end
      {"abc??", "abcdef", false},
      {"*.b*", "x.b.c", true},
      {"*.c", "x.b.c", true},
      {"a.?", "a", true},
      {"*.dat", "back", false},
      {"\xC3\xA9?", "\xC3\xA9x", true},
      // Non-ASCII letters ignore case too: "Ä*.TXT" against "äpfel.txt".
      {"\xC3\x84*.TXT", "\xC3\xA4pfel.txt", true},
      {"*\xC3\x9C*", "gr\xC3\xBC\xC3\x9F\x65", true},  // "*Ü*", "grüße"
      {"STRA\xC3\x9F?", "stra\xC3\x9F\x65", true},     // "STRAß?", "straße"
      {"STRASSE", "stra\xC3\x9F\x65", false},          // no multi-letter folding
      {"\xCE\xA3*", "\xCF\x83\xCF\x82", true},         // "Σ*", "σς"
      {"\xC3\xA4", "\xC3\xA5", false},                 // "ä" is not "å"
      {"a\xC3?", "a\xC3\xA4", false},                  // a stray byte is itself
      {"a\xFF", "a\xFF", true},
      {"a\xFF", "A\xFE", false},
      {"*a*b*c", "xaybzc", true},
      {"*a*b*c", "xaybz", false},
      {"exact", "EXACT", true},
      {"exact", "exactly", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " vs " + c.name);
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.match);
  }
}

class FindTest : public DrivesTest {
 protected:
  void SetUp() override {
    DrivesTest::SetUp();
    const std::string& d = d_.path();
    ::mkdir((d + "/src").c_str(), 0777);
    ::mkdir((d + "/src/Sub").c_str(), 0777);
    ::mkdir((d + "/src/.git").c_str(), 0777);
    WriteHostFile(d + "/src/a.txt", "aaa");
    WriteHostFile(d + "/src/B.TXT", "bb");
    WriteHostFile(d + "/src/readme", "r");
    WriteHostFile(d + "/src/.hidden", "h");
    WriteHostFile(d + "/src/odd?.txt", "oddname");
    WriteHostFile(d + "/top.dat", "t");
  }

  // Every name the search returns, with its attributes.
  std::map<std::string, std::uint32_t> List(const std::string& pattern, std::uint32_t mask) {
    std::map<std::string, std::uint32_t> out;
    DirectorySearch search;
    FindData found;
    if (!search.First(pattern, mask, found)) return out;
    do {
      EXPECT_TRUE(out.emplace(found.name, found.attributes).second) << "twice: " << found.name;
    } while (search.Next(found));
    EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
    return out;
  }

  static std::set<std::string> Names(const std::map<std::string, std::uint32_t>& m) {
    std::set<std::string> out;
    for (const auto& [name, attributes] : m) out.insert(name);
    return out;
  }
};

TEST_F(FindTest, MasksAndPatterns) {
  constexpr std::uint32_t kAll = 0x3F;  // what the zip component asks for
  const std::string odd = "odd\xEF\x80\xBF.txt";
  struct Case {
    const char* label;
    std::string pattern;
    std::uint32_t mask;
    std::set<std::string> names;
  } const cases[] = {
      {"files only", "D:\\src\\*.*", 0, {"a.txt", "B.TXT", "readme", odd}},
      {"with directories",
       "D:\\src\\*",
       kAttrDirectory,
       {".", "..", "Sub", "a.txt", "B.TXT", "readme", odd}},
      {"with hidden files",
       "D:\\src\\*",
       kAttrHidden,
       {"a.txt", "B.TXT", "readme", odd, ".hidden"}},
      {"everything",
       "D:\\src\\*.*",
       kAll,
       {".", "..", "Sub", ".git", "a.txt", "B.TXT", "readme", odd, ".hidden"}},
      {"extension, any case", "D:\\SRC\\*.txt", kAll, {"a.txt", "B.TXT", odd}},
      {"single character", "D:\\src\\?.txt", kAll, {"a.txt", "B.TXT"}},
      {"names without a dot", "D:\\src\\*.", kAll, {".", "..", "Sub", "readme"}},
      {"drive root has no dots", "D:\\*", kAll, {"src", "top.dat"}},
      {"forward slashes", "D:/src/*.TXT", 0, {"a.txt", "B.TXT", odd}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Names(List(c.pattern, c.mask)), c.names);
  }
}

TEST_F(FindTest, ReportsAttributesSizeAndTime) {
  ASSERT_TRUE(SetFileDosTime("D:\\src\\a.txt", 0x586570F2));
  ASSERT_TRUE(SetFileAttributes("D:\\src\\B.TXT", kAttrReadOnly));
  DirectorySearch search;
  FindData found;
  ASSERT_TRUE(search.First("D:\\src\\a.txt", 0, found));
  EXPECT_EQ(found.name, "a.txt");
  EXPECT_EQ(found.size, 3u);
  EXPECT_EQ(found.attributes, kAttrArchive);
  EXPECT_EQ(found.dosTime, 0x586570F2u);
  EXPECT_FALSE(search.Next(found));
  EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);

  const auto listed = List("D:\\src\\*", 0x3F);
  EXPECT_EQ(listed.at("B.TXT"), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(listed.at(".hidden"), kAttrArchive | kAttrHidden);
  EXPECT_EQ(listed.at(".git"), kAttrDirectory | kAttrHidden);
  EXPECT_EQ(listed.at("Sub"), kAttrDirectory);
  EXPECT_EQ(listed.at("."), kAttrDirectory);
  EXPECT_EQ(listed.at(".."), kAttrDirectory);
}

TEST_F(FindTest, DotsComeFirst) {
  DirectorySearch search;
  FindData found;
  ASSERT_TRUE(search.First("D:\\src\\*", kAttrDirectory, found));
  EXPECT_EQ(found.name, ".");
  ASSERT_TRUE(search.Next(found));
  EXPECT_EQ(found.name, "..");
}

TEST_F(FindTest, RelativePatternUsesTheCurrentDirectory) {
  ASSERT_TRUE(SetCurrentDirectory("D:\\src"));
  EXPECT_EQ(Names(List("*.txt", 0)),
            (std::set<std::string>{"a.txt", "B.TXT", "odd\xEF\x80\xBF.txt"}));
  EXPECT_EQ(Names(List("D:readme", 0)), (std::set<std::string>{"readme"}));
}

TEST_F(FindTest, Failures) {
  DirectorySearch search;
  FindData found;
  struct Case {
    const char* pattern;
    WinError error;
  } const cases[] = {
      {"D:\\src\\*.none", kErrorFileNotFound},
      {"D:\\src\\.hidden", kErrorFileNotFound},  // hidden without the mask
      {"D:\\missing\\*", kErrorPathNotFound},
      {"D:\\top.dat\\*", kErrorPathNotFound},
      {"Q:\\*", kErrorPathNotFound},
      {"D:\\src\\", kErrorFileNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_FALSE(search.First(c.pattern, 0, found));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(search.Next(found));  // never started
  EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
}

TEST_F(FindTest, RestartAndCloseAreSafe) {
  DirectorySearch search;
  FindData found;
  ASSERT_TRUE(search.First("D:\\src\\*.txt", 0, found));
  ASSERT_TRUE(search.First("D:\\*.dat", 0, found));  // a new First replaces the old listing
  EXPECT_EQ(found.name, "top.dat");
  EXPECT_FALSE(search.Next(found));
  search.Close();
  search.Close();
  EXPECT_FALSE(search.Next(found));
}

}  // namespace
}  // namespace platform
