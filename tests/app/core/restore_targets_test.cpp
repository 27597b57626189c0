// Where a restore writes when the target tree already holds names, or
// changes while the run goes on: the run tests each directory once and then
// trusts it, so a directory removed or replaced by a file during the run,
// names that differ only in letter case, and an existing file spelt in
// another case must still come out as Windows would have them. Each case
// runs for plain and for compressed rows.
#include <gtest/gtest.h>

#include <set>

#include "app/core/runs_test_support.h"
#include "platform/host_internal.h"

namespace app::runs_test {
namespace {

const std::string kDone = "完成了你成功了~~恭喜 共: ";

class RestoreTargetsTest : public RunsTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool Compressed() const { return GetParam(); }
  // Backs up D:\Data (made by the test) into E:\Out.
  void Backup() {
    ASSERT_TRUE(BackupToFolder("Data", "Out", Compressed()));
    ASSERT_EQ(LastBox(), "完成了,萬歲!!");
  }
  // Runs `change` once, at the first processing of messages after `file`
  // (a host path) has been restored.
  void ChangeAfter(const fs::path& file, std::function<void()> change) {
    ui.onProcess = [this, file, change, done = false]() mutable {
      if (done || !fs::exists(file)) return;
      done = true;
      change();
      ui.onProcess = nullptr;
    };
  }
};

// Rows are restored in the order they were written: 1.txt, then 2.txt, both
// in Data\Sub; the directory is taken away between them.
TEST_P(RestoreTargetsTest, ADirectoryRemovedDuringTheRunIsMadeAgain) {
  MakeFile("Data/Sub/1.txt", "one", DosTime(1));
  MakeFile("Data/Sub/2.txt", "two", DosTime(2));
  Backup();
  ChangeAfter(E("R/Data/Sub/1.txt"), [&] { fs::remove_all(E("R/Data/Sub")); });
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(ReadTree(E("R/Data")), (Tree{{"Sub/", {}}, {"Sub/2.txt", {"two", DosTime(2)}}}));
}

TEST_P(RestoreTargetsTest, ADirectoryReplacedByAFileDuringTheRunIsAnError) {
  MakeFile("Data/Sub/1.txt", "one");
  MakeFile("Data/Sub/2.txt", "two");
  Backup();
  ChangeAfter(E("R/Data/Sub/1.txt"), [&] {
    fs::remove_all(E("R/Data/Sub"));
    std::ofstream(E("R/Data/Sub")) << "a file now";
  });
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  const std::string expected =
      Compressed() ? "無法寫入檔案: E:\\R\\Data\\Sub\\2.txt" : "無法建立目錄: E:\\R\\Data\\Sub";
  EXPECT_EQ(LastBox(), expected);
  EXPECT_EQ(ReadHost(E("R/Data/Sub")), "a file now");
}

// Directories and a file that exist in another letter case are the same
// names: nothing is made beside them.
TEST_P(RestoreTargetsTest, NamesDifferingOnlyInCaseAreTheExistingOnes) {
  MakeFile("Data/Sub/a.txt", "new a", DosTime(1));
  MakeFile("Data/Sub/b.txt", "new b", DosTime(2));
  fs::create_directories(E("R/DATA/sub"));
  std::ofstream(E("R/DATA/sub/A.TXT")) << "old A";
  Backup();
  ui.answers = {platform::MsgResult::Yes};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(ReadTree(E("R")), (Tree{{"DATA/", {}},
                                    {"DATA/sub/", {}},
                                    {"DATA/sub/A.TXT", {"new a", DosTime(1)}},
                                    {"DATA/sub/b.txt", {"new b", DosTime(2)}}}));
  // A plain row replaces without asking; a compressed one asks, by the
  // entry's name.
  const std::vector<std::string> asked = {"Replace existing file a.txt?", kDone + "2筆"};
  EXPECT_EQ(ui.boxes, Compressed() ? asked : std::vector<std::string>{kDone + "2筆"});
}

// The restored files are not flushed, so neither are the directories made
// for them: a sync per directory cost more than the files themselves. A
// directory already there is written into as it is.
TEST_P(RestoreTargetsTest, DirectoriesAreMadeWithoutSyncs) {
  MakeFile("Data/a.txt", "a", DosTime(1));
  MakeFile("Data/One/Two/b.txt", "b", DosTime(2));
  MakeFile("Data/Three/c.txt", "c", DosTime(3));
  Backup();
  fs::create_directories(E("R/Data/Three"));
  const std::uint64_t before = platform::internal::Counters().directorySyncs.load();
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "3筆");
  EXPECT_EQ(platform::internal::Counters().directorySyncs.load(), before);
  EXPECT_EQ(ReadTree(E("R/Data")), (Tree{{"a.txt", {"a", DosTime(1)}},
                                         {"One/", {}},
                                         {"One/Two/", {}},
                                         {"One/Two/b.txt", {"b", DosTime(2)}},
                                         {"Three/", {}},
                                         {"Three/c.txt", {"c", DosTime(3)}}}));
}

// Only compressed rows ask; the answer No keeps the file under its own name.
TEST_F(RunsTest, AnExistingFileInAnotherCaseIsKeptWhenTheUserSaysNo) {
  MakeFile("Data/a.txt", "new a");
  fs::create_directories(E("R/Data"));
  std::ofstream(E("R/Data/A.txt")) << "old A";
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  ui.answers = {platform::MsgResult::No};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(ui.boxes.front(), "Replace existing file a.txt?");
  EXPECT_EQ(LastBox(), kDone + "0筆");
  const Tree restored = ReadTree(E("R/Data"));
  ASSERT_EQ(restored.size(), 1u);
  EXPECT_EQ(restored.begin()->first, "A.txt");
  EXPECT_EQ(restored.begin()->second.bytes, "old A");
}

// Compressed rows are expanded from memory: while the run goes on, the
// backup file's folder (which may be read-only media) gets no file of the
// restore's.
TEST_F(RunsTest, ACompressedRestoreWritesNothingBesideTheBackupFile) {
  MakeFile("Data/a.txt", "first");
  MakeFile("Data/b.txt", "second");
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  std::set<std::string> seen;
  ui.onProcess = [&] {
    for (const auto& entry : fs::directory_iterator(E("Out")))
      seen.insert(entry.path().filename().string());
  };
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), kDone + "2筆");
  EXPECT_EQ(seen, (std::set<std::string>{"Back.BLB", "Back.IDX", "Back.dat"}));
  EXPECT_EQ(ReadHost(E("R/Data/b.txt")), "second");
}

INSTANTIATE_TEST_SUITE_P(Rows, RestoreTargetsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Compressed" : "Plain"; });

}  // namespace
}  // namespace app::runs_test
