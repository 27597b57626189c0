// The wildcard matcher: the reference table of patterns, the result codes of
// malformed and mismatching patterns, and the wildcard-character test.
#include "zip/wildcard.h"

#include <gtest/gtest.h>

namespace zip {
namespace {

struct MatchCase {
  const char* pattern;
  const char* text;
  bool match;
};

TEST(WildcardTest, ReferenceTable) {
  const MatchCase cases[] = {
      {"*", "anything", true},
      {"*", "", true},
      {"*.*", "file.txt", true},
      {"*.*", ".profile", true},
      {"*.*", "readme", false},
      {"*.txt", "A.TXT", true},
      {"*.txt", "a.txt.bak", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"abc*", "abc", true},
      {"abc**", "abc", false},
      {"*?", "a", false},
      {"*?", "ab", true},
      {"<a-c>*", "bx", true},
      {"<!a-c>x", "dx", true},
      {"<c-a>x", "bx", false},
      {"*<a-z>", "abc", true},
      {"*<a-z>", "ab1", false},
      // Further cases the selection of entries relies on.
      {"*.*", "dir\\sub\\file.txt", true},
      {"dir\\*", "dir\\sub\\file.txt", true},
      {"*.TXT", "notes.txt", true},
      {"<^a-c>x", "ax", false},
      {"*x*", "abxcd", true},
      {"a*c", "abbbc", true},
      {"a*c", "abbbd", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.match)
        << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
  }
}

TEST(WildcardTest, ResultCodes) {
  const struct {
    const char* pattern;
    const char* text;
    int code;
  } cases[] = {
      {"abc", "abcd", kWildPatternEnded},   {"abcd", "abc", kWildTextEnded},
      {"<a-c>", "x", kWildSetMismatch},     {"<!a-c>", "b", kWildSetMismatch},
      {"abc", "abd", kWildLiteralMismatch}, {"<a-c", "a", kWildMalformed},
      {"<a->", "a", kWildMalformed},        {"<a-", "a", kWildMalformed},
      {"<>", "a", kWildMalformed},          {"*<>", "a", kWildTextEnded},
      {"*<a-", "a", kWildMalformed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardResult(c.pattern, c.text), c.code)
        << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
  }
}

TEST(WildcardTest, WildcardCharacters) {
  for (const char* name : {"a*", "a?", "<a>", "|x", ">x"}) EXPECT_TRUE(HasWildcards(name)) << name;
  for (const char* name : {"C:\\data\\file.txt", "", "a-b.c"}) {
    EXPECT_FALSE(HasWildcards(name)) << name;
  }
}

}  // namespace
}  // namespace zip
