// Backup and restore runs end to end through the application core, on real
// trees on D: and backup files on E:: every mode with and without
// compression, restored trees compared byte for byte with their times, the
// table check of every backup file and no temporary archive left behind.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/core/runs_test_support.h"
#include "engine/table/table_check.h"

namespace app::runs_test {
namespace {

// A tree with the names the runs must carry: Chinese, blanks, double quotes,
// no extension, an empty file, nested and empty directories.
void MakeMixedTree(RunsTest& t, const std::string& root) {
  t.MakeFile(root + "/a.txt", "alpha\n", DosTime(1));
  t.MakeFile(root + "/README", "no extension", DosTime(2));
  t.MakeFile(root + "/empty.bin", "", DosTime(3));
  t.MakeFile(root + "/中文 資料夾/說明 文件.txt", "中文內容", DosTime(4));
  t.MakeFile(root + "/with blank/say \"hi\".txt", std::string(70'000, 'q'), DosTime(5));
  t.MakeFile(root + "/deep/er/est/data.bin", std::string(5000, '\x01') + "tail", DosTime(6));
  t.MakeDir(root + "/deep/empty");
}

// Files of a tree only (empty directories come back only as the parents of
// files, as the catalog records files).
Tree FilesOf(const Tree& tree) {
  Tree files;
  for (const auto& [rel, file] : tree)
    if (rel.back() != '/') files[rel] = file;
  return files;
}

bool NoTemporaryArchives(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("back", 0) == 0 && entry.path().extension() == ".Zip") return false;
  }
  return true;
}

void ExpectTablesPass(const std::string& windowsDat) {
  const engine::TTableCheckReport report = engine::CheckTableSet(windowsDat);
  EXPECT_TRUE(report.Ok()) << windowsDat << ": " << report.Describe();
}

// Every compressed BLOB of a backup file is an archive Info-ZIP accepts.
void ExpectArchivesPassUnzip(RunsTest& t, const std::string& windowsDat) {
  engine::TZORVADTable table;
  table.SetDatabaseName(windowsDat.substr(0, windowsDat.rfind('\\')));
  table.SetTableName(windowsDat.substr(windowsDat.rfind('\\') + 1));
  table.Open();
  int checked = 0;
  for (table.First(); !table.Eof(); table.Next()) {
    if (table.FieldByName("isZip").AsString() != "Y") continue;
    const fs::path archive = t.E("check.zip");
    table.FieldByName("File").SaveToFile(platform::ToWindowsPath(archive.string()));
    const std::string command = "unzip -tqq '" + archive.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << table.FieldByName("FileName").AsString();
    ++checked;
  }
  table.Close();
  fs::remove(t.E("check.zip"));
  EXPECT_GT(checked, 0);
}

class BackupRestoreTest : public RunsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(BackupRestoreTest, NewFilesRestoredInPlaceAndBelowAnotherDirectory) {
  const bool compress = GetParam();
  MakeMixedTree(*this, "Data");
  const Tree original = ReadTree(D("Data"));
  ASSERT_TRUE(BackupToFolder("Data", "Out", compress));
  EXPECT_EQ(LastBox(), "完成了,萬歲!!");
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));
  ExpectTablesPass("E:\\Out\\Back.dat");
  if (compress) ExpectArchivesPassUnzip(*this, "E:\\Out\\Back.dat");

  // Below another directory: E:\Restore\Data\...
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\Restore"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 6筆");
  EXPECT_EQ(FilesOf(ReadTree(E("Restore/Data"))), FilesOf(original));
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));

  // In place, after the tree was lost.
  fs::remove_all(D("Data"));
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 6筆");
  EXPECT_EQ(FilesOf(ReadTree(D("Data"))), FilesOf(original));
  EXPECT_TRUE(view.controlsEnabled);
}

TEST_P(BackupRestoreTest, IncrementalInPlaceWritesNewAndChangedFilesOnly) {
  const bool compress = GetParam();
  MakeFile("Data/keep.txt", "keep", DosTime(1));
  MakeFile("Data/change.txt", "old", DosTime(1));
  MakeFile("Data/say \"hi\".txt", "quoted", DosTime(1));  // found again through the filter
  ASSERT_TRUE(BackupToFolder("Data", "Out", compress));
  NewCore();
  for (int run = 0; run < 2; ++run) {  // an unchanged tree, twice
    ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat", compress));
    EXPECT_EQ(LastBox(), "完成了,萬歲!! 共更新 0 個檔");
  }
  MakeFile("Data/change.txt", "new content", DosTime(9));
  MakeFile("Data/Sub/added.txt", "added", DosTime(2));
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat", compress));
  EXPECT_EQ(LastBox(), "完成了,萬歲!! 共更新 2 個檔");
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));
  ExpectTablesPass("E:\\Out\\Back.dat");

  const Tree expected = ReadTree(D("Data"));
  fs::remove_all(D("Data"));
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 4筆");
  EXPECT_EQ(FilesOf(ReadTree(D("Data"))), FilesOf(expected));
}

TEST_P(BackupRestoreTest, ChangedFilesToADatedFileWithRowsWithoutContent) {
  const bool compress = GetParam();
  MakeFile("Data/keep.txt", "keep", DosTime(1));
  MakeFile("Data/change.txt", "old", DosTime(1));
  ASSERT_TRUE(BackupToFolder("Data", "Out", compress));
  MakeFile("Data/change.txt", "newer", DosTime(7));
  MakeFile("Data/new.txt", "brand new", DosTime(7));
  NewCore();
  core->DataModule().SetDateStampForTest("20021231");
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat", compress, /*newFile=*/true));
  EXPECT_EQ(LastBox(), "完成了,萬歲!! 共更新 3 個檔");
  ASSERT_TRUE(fs::exists(E("Out/Back20021231.dat")));
  ExpectTablesPass("E:\\Out\\Back20021231.dat");
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));

  // The dated file: keep.txt without content, the other two with theirs.
  engine::TZORVADTable dated;
  dated.SetDatabaseName("E:\\Out");
  dated.SetTableName("Back20021231.dat");
  dated.Open();
  std::map<std::string, bool> hasContent;
  for (dated.First(); !dated.Eof(); dated.Next())
    hasContent[dated.FieldByName("FileName").AsString()] = !dated.FieldByName("File").IsNull();
  dated.Close();
  EXPECT_EQ(hasContent, (std::map<std::string, bool>{
                            {"change.txt", true}, {"keep.txt", false}, {"new.txt", true}}));

  fs::remove_all(D("Data"));
  ASSERT_TRUE(Restore("E:\\Out\\Back20021231.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 2筆");
  EXPECT_EQ(ReadHost(E("R/Data/change.txt")), "newer");
  EXPECT_EQ(ReadHost(E("R/Data/new.txt")), "brand new");
  EXPECT_FALSE(fs::exists(E("R/Data/keep.txt")));
}

INSTANTIATE_TEST_SUITE_P(Storage, BackupRestoreTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Compressed" : "Plain"; });

}  // namespace
}  // namespace app::runs_test
