// Naming of table sets and the name helpers.
#include "engine/files/table_names.h"

#include <gtest/gtest.h>

namespace {

TEST(TableNames, TableSetNaming) {
  struct Case {
    const char* directory;
    const char* name;
    bool backup;
    const char* data;
    const char* index;
    const char* blob;
  };
  const Case cases[] = {
      {"D:\\Bk\\", "Back", false, "D:\\Bk\\Back.DAT", "D:\\Bk\\Back.IDX", "D:\\Bk\\Back.BLB"},
      // An extension that is already the file's own, in any case, is kept.
      {"D:\\", "x.dat", false, "D:\\x.dat", "D:\\x.IDX", "D:\\x.BLB"},
      {"D:\\", "x.idx", false, "D:\\x.DAT", "D:\\x.idx", "D:\\x.BLB"},
      {"D:\\", "  Back.Dat  ", false, "D:\\Back.Dat", "D:\\Back.IDX", "D:\\Back.BLB"},
      // Any other extension is replaced; only the last one counts.
      {"", "a.b.txt", false, "a.b.DAT", "a.b.IDX", "a.b.BLB"},
      // A dot in a directory name is not an extension.
      {"D:\\v1.2\\", "Back", false, "D:\\v1.2\\Back.DAT", "D:\\v1.2\\Back.IDX",
       "D:\\v1.2\\Back.BLB"},
      {"", "Back.Dat", true, "Back.DBK", "Back.IBK", "Back.BBK"},
      {"", "Back.dbk", true, "Back.dbk", "Back.IBK", "Back.BBK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const engine::TTableSetNames names = engine::TableSetNames(c.directory, c.name, c.backup);
    EXPECT_EQ(names.data, c.data);
    EXPECT_EQ(names.index, c.index);
    EXPECT_EQ(names.blob, c.blob);
  }
  EXPECT_EQ(engine::TableFileName("", "Sort", engine::kSortWorkExt), "Sort.TMP");
}

TEST(TableNames, Helpers) {
  EXPECT_EQ(engine::Trim(" \t x y \r\n"), "x y");
  EXPECT_TRUE(engine::SameText("Back.DAT", "bACK.dat"));
  EXPECT_FALSE(engine::SameText("Back.DAT", "Back.DA"));
  EXPECT_EQ(engine::BaseName("D:\\dir.x\\ .DAT"), "");
  EXPECT_EQ(engine::BaseName("D:\\dir\\Back.DAT"), "Back");
  EXPECT_EQ(engine::IncludeTrailingBackslash(" D:\\Bk "), "D:\\Bk\\");
  EXPECT_EQ(engine::IncludeTrailingBackslash("D:\\Bk\\"), "D:\\Bk\\");
  EXPECT_EQ(engine::IncludeTrailingBackslash(""), "");
  EXPECT_TRUE(engine::HasPathChars("D:Back"));
  EXPECT_TRUE(engine::HasPathChars("sub\\Back"));
  EXPECT_FALSE(engine::HasPathChars("Back.Dat"));
  EXPECT_EQ(engine::ExtractFilePath("D:\\Bk\\Back.Dat"), "D:\\Bk\\");
}

}  // namespace
