// The rules of a backup run that decide where rows go and when they are
// committed: the size limit and its switches to Back1.Dat, Back2.Dat, ...,
// the numbering of new files across runs, dated file names, the commit
// cadence, the status texts and the stStat height rule.
#include <gtest/gtest.h>

#include "app/core/backup_run.h"
#include "app/core/catalog_texts.h"
#include "app/core/restore_run.h"
#include "app/core/runs_test_support.h"

namespace app::runs_test {
namespace {

constexpr std::size_t kMegabyte = 1048576;

struct LimitCase {
  const char* name;
  int limitMB;
  std::vector<std::size_t> sizes;        // of the files, any scan order
  std::vector<std::size_t> rowsPerFile;  // Back.dat, Back1.dat, ... (sorted by count)
};

class SizeLimitTest : public RunsTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(SizeLimitTest, SwitchesToTheNextFileOfTheSet) {
  const LimitCase& c = GetParam();
  for (std::size_t i = 0; i < c.sizes.size(); ++i)
    MakeFile("Data/f" + std::to_string(i), std::string(c.sizes[i], 'x'));
  ASSERT_TRUE(BackupToFolder("Data", "Out", false, c.limitMB));
  EXPECT_EQ(LastBox(), "完成了,萬歲!!");
  std::vector<std::size_t> counts;
  for (std::size_t k = 0; k < c.rowsPerFile.size(); ++k) {
    const std::string name = k == 0 ? "Back.dat" : "Back" + std::to_string(k) + ".dat";
    ASSERT_TRUE(fs::exists(E("Out/" + name))) << name;
    counts.push_back(Rows("E:\\Out\\" + name).size());
  }
  EXPECT_FALSE(fs::exists(E("Out/Back" + std::to_string(c.rowsPerFile.size()) + ".dat")));
  EXPECT_EQ(counts, c.rowsPerFile);
  EXPECT_EQ(core->State().FFileCounter, static_cast<int>(c.rowsPerFile.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SizeLimitTest,
    ::testing::Values(
        // 3 MB: threshold 2 (3 - 5 is negative); 1 MB files: the third passes 2 MB.
        LimitCase{"ThreeMB", 3, {kMegabyte, kMegabyte, kMegabyte, kMegabyte, kMegabyte}, {2, 3}},
        // 5 MB: threshold 0, every file of non-zero size opens a new file first.
        LimitCase{"FiveMB", 5, {1000, 2000, 3000}, {0, 1, 1, 1}},
        // Files of size 0 never switch.
        LimitCase{"EmptyFiles", 5, {0, 0, 0}, {3}},
        LimitCase{"NoLimit", 0, {kMegabyte, kMegabyte, kMegabyte}, {3}}),
    [](const auto& info) { return info.param.name; });

TEST_F(RunsTest, NewFilesAreNumberedAcrossRunsAndAnExistingFileIsAppendedTo) {
  MakeFile("Data/a.txt", "a");
  ASSERT_TRUE(BackupToFolder("Data", "Out"));
  ASSERT_TRUE(BackupToFolder("Data", "Out"));  // a second run of the same program
  EXPECT_TRUE(fs::exists(E("Out/Back.dat")));
  EXPECT_TRUE(fs::exists(E("Out/Back1.dat")));
  // A new start of the program finds Back.dat and appends to it: the same
  // file again is a duplicate key, the run fails and Back.dat keeps its row.
  NewCore();
  MakeFile("Data/b.txt", "b");
  EXPECT_TRUE(BackupToFolder("Data", "Out"));
  EXPECT_EQ(LastBox().rfind("過程中發生錯誤沒有成功!!!", 0), 0u) << LastBox();
  EXPECT_EQ(Rows("E:\\Out\\Back.dat").count("a.txt"), 1u);
  // A base name of one's own.
  core->SetBackFileName("Data");
  ASSERT_TRUE(BackupToFolder("Data", "Out"));
  EXPECT_TRUE(fs::exists(E("Out/Data1.dat")));
}

TEST_F(RunsTest, ADatedFileIsNamedAfterTheChosenFileAndTheDate) {
  MakeFile("Data/a.txt", "a");
  ASSERT_TRUE(BackupToFolder("Data", "Out"));
  ASSERT_TRUE(fs::exists(E("Out/Back.dat")));
  NewCore();
  core->DataModule().SetDateStampForTest("20021231");
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat"));  // in place first, same program
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat", false, true));
  EXPECT_EQ(LastBox(), "完成了,萬歲!! 共更新 1 個檔");
  EXPECT_TRUE(fs::exists(E("Out/Back20021231.dat")));
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat", false, true));
  EXPECT_TRUE(fs::exists(E("Out/Back200212311.dat")));  // the counter goes on
}

TEST_F(RunsTest, CatalogHelpers) {
  std::string folder, name;
  TDataModuleRx::SplitFilePath("E:\\Out\\Back.dat", folder, name);
  EXPECT_EQ(folder, "E:\\Out\\");
  EXPECT_EQ(name, "Back.dat");
  EXPECT_EQ(FileFilterText("say \"hi\".txt", "D:\\A\\"),
            "FileName = \"say \"\"hi\"\".txt\" and Path =\"D:\\A\\\"");
  EXPECT_EQ(InsertStatementText("E:\\B.dat"),
            "Insert into \"E:\\B.dat\"  (FileName,FileTime,isZip,Path,File) values  "
            "(:pFileName,:pFileTime,:pisZip,:pPath,:pFile)");
  EXPECT_EQ(UpdateStatementText("E:\\B.dat"),
            "UpDate \"E:\\B.dat\" set FileTime=:pFileTime,isZip=:pisZip,Path =:pPath,File=:pFile "
            "where FileName =:pFileName  and Path =:pWherePath");
  EXPECT_EQ(CreateBackupTableText("E:\\B"),
            "CREATE TABLE \"E:\\B.dat\"  (                      FileName CHAR(250),   FileTime "
            "integer,    isZip Char(1),      Path Char(250),      File BLOB(0,2),      PRIMARY "
            "KEY (FileName,FileTime,Path)  ) ");
}

// 25 files: commits after files 0, 10 and 20 and at the end. A file that
// vanishes after the scan ends the run; what was committed stays.
TEST_F(RunsTest, CommitsAfterTheFirstEveryTenthAndAtTheEnd) {
  struct Case {
    int failAt;  // -1: no failure
    std::size_t rowsKept;
  };
  for (const Case c : {Case{-1, 25}, Case{5, 1}, Case{10, 1}, Case{12, 11}, Case{24, 21}}) {
    SCOPED_TRACE(c.failAt);
    fs::remove_all(E("Out"));
    fs::remove_all(D("Data"));
    NewCore();
    for (int i = 0; i < 25; ++i) MakeFile("Data/f" + std::to_string(i) + ".txt", "x");
    ui.onProcess = [&] {
      if (view.progressPosition == c.failAt + 1 && c.failAt >= 0)
        fs::remove(D("Data/" + ScannedName(c.failAt)));
    };
    EXPECT_TRUE(BackupToFolder("Data", "Out"));
    ui.onProcess = nullptr;
    EXPECT_EQ(Rows("E:\\Out\\Back.dat").size(), c.rowsKept);
    if (c.failAt >= 0) {
      EXPECT_EQ(LastBox(), std::string("過程中發生錯誤沒有成功!!!\n") +
                               "檔案已不存在,無法備份: D:\\Data\\" + ScannedName(c.failAt));
    }
  }
}

TEST(RestoreTargetTest, RecordedPathsBelowTheRestoreDirectory) {
  struct Case {
    const char* path;
    const char* restoreDir;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"D:\\Data\\Sub\\", "", "D:\\Data\\Sub"},
      {"D:\\Data\\Sub\\", "E:\\Restore", "E:\\Restore\\Data\\Sub"},
      {"D:\\", "E:\\Restore", "E:\\Restore"},
      {"\\\\srv\\pub\\", "E:\\Restore", "E:\\Restore"},  // no colon: into the directory itself
      {"D:\\a..b\\", "E:\\R", "E:\\R\\a..b"},
      {"D:\\..\\..\\etc\\", "E:\\R", nullptr},
      {"D:\\Data\\..\\", "E:\\R", nullptr},
  };
  for (const Case& c : cases) {
    if (c.expected == nullptr) {
      EXPECT_THROW(RestoreDirectoryOf(c.path, c.restoreDir), std::runtime_error) << c.path;
    } else {
      EXPECT_EQ(RestoreDirectoryOf(c.path, c.restoreDir), c.expected) << c.path;
    }
  }
  EXPECT_EQ(PathAfterDrive("D:\\Data"), "\\Data");
  EXPECT_EQ(PathAfterDrive("\\\\srv\\pub"), "");
}

TEST_F(RunsTest, StatusTextsAndTheHeightOfTheStatusLine) {
  EXPECT_EQ(SwitchThreshold(640), 635);
  EXPECT_EQ(SwitchThreshold(3), 2);
  EXPECT_EQ(SwitchThreshold(5), 0);
  // "正在處理: " is 10 bytes in the window's code page: 46 more fit one line.
  EXPECT_EQ(CodePageWidth("正在處理: "), 10u);
  const std::string dir(30, 'd');
  MakeFile(dir + "/" + std::string(4, 'a'), "short");  // 10 + 3 + 31 + 4 = 48
  MakeFile(dir + "/" + std::string(20, 'b'), "long");  // 10 + 3 + 31 + 20 = 64
  std::vector<std::pair<std::string, int>> seen;
  ui.onProcess = [&] { seen.emplace_back(view.backupStatus, view.backupStatusHeight); };
  ASSERT_TRUE(BackupToFolder(dir, "Out"));
  ASSERT_EQ(seen.size(), 3u);  // the new file is opened, then one per file
  for (const auto& [text, height] : std::vector(seen.begin() + 1, seen.end()))
    EXPECT_EQ(height, CodePageWidth(text) <= 56 ? 24 : 35) << text;
  EXPECT_EQ(view.backupStatusHeight, 24);  // back to one line after the run
  EXPECT_EQ(view.progressMaximum, 2);
  EXPECT_EQ(view.progressPosition, 2);
  EXPECT_TRUE(view.shortStatus.rfind("共費時 : ", 0) == 0);
}

}  // namespace
}  // namespace app::runs_test
