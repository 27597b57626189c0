// The order in which a restore visits its rows, and the file left on disk
// when several rows restore to one file. Rows are visited in the order they
// were written; rows sharing a target are restored after the others in the
// primary key's order (FileName, FileTime, Path), so the row with the
// greatest key is the one left, whatever order its rows were written in.
// Each case runs for plain and for compressed rows.
#include <gtest/gtest.h>

#include "app/core/runs_test_support.h"
#include "engine/components/zorvad_query.h"

namespace app::runs_test {
namespace {

const std::string kDone = "完成了你成功了~~恭喜 共: ";

class RestoreOrderTest : public RunsTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool Compressed() const { return GetParam(); }

  // Backs up D:\Data into E:\<folder> (a new Back.dat).
  void BackupAs(const std::string& folder) {
    ASSERT_TRUE(BackupToFolder("Data", folder, Compressed()));
    ASSERT_EQ(LastBox(), "完成了,萬歲!!");
    NewCore();
  }

  // Appends the rows of E:\<from>\Back.dat named `name` to E:\<to>\Back.dat,
  // as the catalog's INSERT writes them.
  static void CopyRows(const std::string& from, const std::string& to, const std::string& name) {
    const std::string target = "E:\\" + to + "\\Back.dat";
    engine::TZORVADQuery insert;
    insert.SetDatabaseName(target);
    insert.SetSQLText("Insert into \"" + target +
                      "\"  (FileName,FileTime,isZip,Path,File) values "
                      " (:pFileName,:pFileTime,:pisZip,:pPath,:pFile)");
    engine::TZORVADTable source;
    source.SetDatabaseName("E:\\" + from);
    source.SetTableName("Back.dat");
    source.Open();
    for (source.First(); !source.Eof(); source.Next()) {
      if (source.FieldByName("FileName").AsString() != name) continue;
      insert.ParamByName("pFileName").SetAsString(name);
      insert.ParamByName("pFileTime").SetAsInteger(source.FieldByName("FileTime").AsInteger());
      insert.ParamByName("pisZip").SetAsString(source.FieldByName("isZip").AsString());
      insert.ParamByName("pPath").SetAsString(source.FieldByName("Path").AsString());
      std::vector<std::uint8_t> bytes;
      source.FieldByName("File").ReadBlob(bytes);
      insert.ParamByName("pFile").SetAsBlob(std::move(bytes));
      insert.ExecSQL();
    }
    source.Close();
  }

  // The FileName and Path of every "row / total" status line, in order.
  std::vector<std::string> VisitedRows() const {
    std::vector<std::string> visited;
    const std::string marker = "處理: ";
    for (const std::string& status : view.restoreStatuses)
      visited.push_back(status.substr(status.find(marker) + marker.size()));
    return visited;
  }
};

// Rows written b, a: visited b, a (the key order would be a, b).
TEST_P(RestoreOrderTest, RowsAreVisitedInTheOrderTheyWereWritten) {
  MakeFile("Data/b.txt", "bee", DosTime(1));
  BackupAs("Out");
  fs::remove(D("Data/b.txt"));
  MakeFile("Data/a.txt", "ay", DosTime(2));
  BackupAs("OutA");
  CopyRows("OutA", "Out", "a.txt");

  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(VisitedRows(), (std::vector<std::string>{"D:\\Data\\b.txt", "D:\\Data\\a.txt"}));
  EXPECT_EQ(view.restoreStatuses.back().substr(0, 6), "2 / 2 ");
  EXPECT_EQ(ReadTree(E("R/Data")),
            (Tree{{"a.txt", {"ay", DosTime(2)}}, {"b.txt", {"bee", DosTime(1)}}}));
}

// One file backed up at three times, its rows written as times 1, 3, 2 with
// another file between them: the row of time 3 (the greatest key) is the
// one left; every row is counted and shown, the other file's first.
TEST_P(RestoreOrderTest, OfSeveralRowsOfOneFileTheGreatestKeyIsLeft) {
  MakeFile("Data/a.txt", "first", DosTime(1));
  MakeFile("Data/z.txt", "zed", DosTime(0));
  BackupAs("Out");
  fs::remove(D("Data/z.txt"));
  MakeFile("Data/a.txt", "third", DosTime(3));
  BackupAs("Out3");
  MakeFile("Data/a.txt", "second", DosTime(2));
  BackupAs("Out2");
  CopyRows("Out3", "Out", "a.txt");
  CopyRows("Out2", "Out", "a.txt");

  // A compressed row over an existing file asks: replace each time.
  ui.answers = {platform::MsgResult::Yes, platform::MsgResult::Yes};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "4筆");
  EXPECT_EQ(ReadTree(E("R/Data")),
            (Tree{{"a.txt", {"third", DosTime(3)}}, {"z.txt", {"zed", DosTime(0)}}}));
  const std::vector<std::string> visited = VisitedRows();
  ASSERT_EQ(visited.size(), 4u);
  EXPECT_EQ(visited.front(), "D:\\Data\\z.txt");
  EXPECT_EQ(ui.boxes.size(), Compressed() ? 3u : 1u);
}

// Rows of one name in two recorded drives meet below the restore directory:
// the greater Path wins, as in key order.
TEST_P(RestoreOrderTest, RowsOfTwoDrivesMeetingBelowTheRestoreDirectory) {
  MakeFile("Data/a.txt", "from D", DosTime(1));
  BackupAs("Out");
  // The same file recorded under E:\Data\ (a later key than D:\Data\),
  // written first.
  fs::create_directories(E("Data"));
  std::ofstream(E("Data/a.txt"), std::ios::binary) << "from E";
  ASSERT_TRUE(platform::SetFileDosTime("E:\\Data\\a.txt", DosTime(1)));
  core->SetSourceDir("E:\\Data");
  core->SetNewBackupDir("E:\\OutE");
  core->SetCompress(Compressed());
  fs::create_directories(E("OutE"));
  ASSERT_TRUE(core->ExecuteRun(RunKind::Backup));
  NewCore();
  fs::remove_all(E("Data"));
  CopyRows("Out", "OutE", "a.txt");

  ui.answers = {platform::MsgResult::Yes};
  ASSERT_TRUE(Restore("E:\\OutE\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(ReadHost(E("R/Data/a.txt")), "from E");
  EXPECT_EQ(VisitedRows(), (std::vector<std::string>{"D:\\Data\\a.txt", "E:\\Data\\a.txt"}));
}

// Names differing only in case are one file: restored in key order (A.TXT
// before a.txt) into a directory the run makes, one file is left, under the
// name made first, with the content of the last.
TEST_P(RestoreOrderTest, NamesDifferingOnlyInCaseInADirectoryTheRunMakes) {
  MakeFile("Data/a.txt", "lower", DosTime(1));
  BackupAs("Out");
  fs::remove(D("Data/a.txt"));
  MakeFile("Data/A.TXT", "upper", DosTime(2));
  BackupAs("OutU");
  CopyRows("OutU", "Out", "A.TXT");

  ui.answers = {platform::MsgResult::Yes};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(ReadTree(E("R/Data")), (Tree{{"A.TXT", {"lower", DosTime(1)}}}));
}

INSTANTIATE_TEST_SUITE_P(Rows, RestoreOrderTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Compressed" : "Plain"; });

}  // namespace
}  // namespace app::runs_test
