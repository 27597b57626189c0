// Path patterns of the command line: the three kinds (name, absolute,
// relative), host-form patterns through the drive map, case, and a row
// chosen by a directory above it.
#include "app/core/path_patterns.h"

#include <gtest/gtest.h>

#include "platform/paths.h"

namespace app {
namespace {

TEST(PathPatternsTest, KindsOfPattern) {
  struct Case {
    const char* pattern;
    const char* path;
    bool entry;  // MatchesEntry: the path itself
    bool row;    // MatchesRow: the path or a directory above it
  };
  const Case cases[] = {
      {"*.tmp", "D:\\Data\\a.TMP", true, true},
      {"*.tmp", "D:\\Data\\a.tmp.txt", false, false},
      {"cache", "D:\\Data\\Cache", true, true},
      {"cache", "D:\\Data\\cache\\x.dat", false, true},
      {"cache", "D:\\Data\\mycache\\x.dat", false, false},
      {"D:\\Data\\*", "D:\\Data\\sub\\a.txt", true, true},
      {"d:/data/sub", "D:\\Data\\sub\\a.txt", false, true},
      {"E:\\Data\\*", "D:\\Data\\a.txt", false, false},
      {"sub/*.txt", "D:\\Data\\sub\\a.txt", true, true},
      {"sub/*.txt", "D:\\Data\\notsub\\a.txt", false, false},
      {"sub\\deep", "D:\\Data\\sub\\deep\\c.txt", false, true},
      {"a?.txt", "D:\\a1.txt", true, true},
      {"<a-c>*", "D:\\Data\\b.txt", true, true},
      {"", "D:\\Data\\a.txt", false, false},
  };
  for (const Case& c : cases) {
    const PathPatterns patterns({c.pattern});
    EXPECT_EQ(patterns.MatchesEntry(c.path), c.entry) << c.pattern << " " << c.path;
    EXPECT_EQ(patterns.MatchesRow(c.path), c.row) << c.pattern << " " << c.path;
  }
}

TEST(PathPatternsTest, HostFormPatternsGoThroughTheDriveMap) {
  platform::SetDrive('D', "/srv/data");
  const PathPatterns patterns({"/srv/data/docs/*.txt", "/other/*"});
  EXPECT_TRUE(patterns.MatchesEntry("D:\\docs\\a.txt"));
  EXPECT_TRUE(patterns.MatchesEntry("Z:\\other\\b"));
  EXPECT_FALSE(patterns.MatchesEntry("D:\\docs\\a.bin"));
  platform::RemoveDrive('D');
  EXPECT_TRUE(PathPatterns().Empty());
}

}  // namespace
}  // namespace app
