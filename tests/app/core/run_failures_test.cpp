// Faults a backup or restore run must survive: names too long for the
// catalog, a temporary archive left by an interrupted run, a file too large
// for a BLOB, a file another handle keeps from being read, another process
// holding the backup file's write lock, a full disk, a damaged archive and an
// existing file the user keeps at restore. Each ends with the run's message,
// rolls back, and loses nothing that was committed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/core/runs_test_support.h"
#include "common/step_child.h"
#include "engine/components/zorvad_database.h"
#include "engine/engine_test_util.h"
#include "engine/table/table_check.h"
#include "platform/file.h"
#include "zip/zip_writer.h"

namespace app::runs_test {
namespace {

const std::string kFailed = "過程中發生錯誤沒有成功!!!\n";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

TEST_F(RunsTest, NamesLongerThanTheCatalogHoldsAreErrorsOfTheirFile) {
  struct Case {
    const char* name;
    std::string dir, file;
  };
  const std::vector<Case> cases = {
      {"file name", "Data", std::string(251, 'n')},
      {"path", "Data/" + std::string(200, 'p') + "/" + std::string(45, 'q'), "f.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(D("Data"));
    fs::remove_all(E("Out"));
    NewCore();
    MakeFile("Data/ok.txt", "fine");
    MakeFile(c.dir + "/" + c.file, "too long");
    EXPECT_TRUE(BackupToFolder("Data", "Out"));
    EXPECT_TRUE(StartsWith(LastBox(), kFailed + "名稱超過 250 個字元,無法備份: D:\\")) << LastBox();
    EXPECT_NE(LastBox().find(c.file), std::string::npos);
    EXPECT_EQ(Rows("E:\\Out\\Back.dat").count(c.file.substr(0, 250)), 0u);
    EXPECT_TRUE(engine::CheckTableSet("E:\\Out\\Back.dat").Ok());
  }
}

TEST_F(RunsTest, AnArchiveLeftByAnInterruptedRunIsNotCarriedIntoARow) {
  MakeFile("Data/a.txt", "the only file");
  MakeFile("Stale/old.txt", "left over");
  fs::create_directories(E("Out"));
  {
    zip::TOrvZip left;
    left.FilesList = {"D:\\Stale\\old.txt"};
    left.SetZipName("E:\\Out\\back0.Zip");
    ASSERT_EQ(left.Zip(), 1);
  }
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  EXPECT_EQ(LastBox(), "完成了,萬歲!!");
  EXPECT_FALSE(fs::exists(E("Out/back0.Zip")));
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 1筆");
  EXPECT_EQ(ReadTree(E("R")).count("Data/old.txt"), 0u);
  EXPECT_EQ(ReadHost(E("R/Data/a.txt")), "the only file");
}

TEST_F(RunsTest, AFileOf2GiBIsAnErrorNamingItNeverARow) {
  MakeFile("Data/big.bin", "");
  fs::resize_file(D("Data/big.bin"), 0x80000000ull);  // sparse: no disk space used
  for (const bool compress : {false, true}) {
    SCOPED_TRACE(compress);
    EXPECT_TRUE(BackupToFolder("Data", "Out", compress));
    EXPECT_EQ(LastBox(), kFailed + "檔案大於 2 GB,無法備份: D:\\Data\\big.bin");
  }
  EXPECT_TRUE(Rows("E:\\Out\\Back.dat").empty());
}

TEST_F(RunsTest, AFileThatCannotBeReadEndsTheRunAndRollsBack) {
  for (int i = 0; i < 3; ++i) MakeFile("Data/f" + std::to_string(i), "x");
  MakeFile("Data/locked.txt", "in use");
  platform::File holder;  // another program keeps it to itself
  ASSERT_TRUE(holder.Open("D:\\Data\\locked.txt", platform::Access::ReadWrite,
                          platform::Share::None, platform::Disposition::OpenExisting));
  for (const bool compress : {false, true}) {
    SCOPED_TRACE(compress);
    EXPECT_TRUE(BackupToFolder("Data", "Out", compress));
    EXPECT_TRUE(StartsWith(LastBox(), kFailed)) << LastBox();
    EXPECT_NE(LastBox().find("locked.txt"), std::string::npos) << LastBox();
    EXPECT_EQ(Rows("E:\\Out\\Back.dat").count("locked.txt"), 0u);
    EXPECT_TRUE(engine::CheckTableSet("E:\\Out\\Back.dat").Ok());
  }
}

TEST_F(RunsTest, AnotherProcessHoldingTheWriteLockFailsTheRunWithoutLosingRows) {
  MakeFile("Data/a.txt", "a");
  ASSERT_TRUE(BackupToFolder("Data", "Out"));
  core.reset();
  engine::FreeSessions();
  engine::StopEngine();
  std::unique_ptr<engine::TZORVADDatabase> theirs;
  std::unique_ptr<engine::TZORVADTable> table;
  test_common::StepChild child([&](int step) -> int {
    if (step == 0) {
      theirs = std::make_unique<engine::TZORVADDatabase>();
      theirs->SetDirectory("E:\\Out\\");
      theirs->SetDatabaseName("Back.dat");
      table = std::make_unique<engine::TZORVADTable>();
      table->SetDatabaseName("Back.dat");
      table->SetTableName("Back.dat");
      table->Open();
      theirs->StartTransaction();
      return theirs->InTransaction() ? 1 : 0;
    }
    theirs->Rollback();
    return 0;
  });
  ASSERT_EQ(child.Run(0), 1);
  NewCore();
  core->SetLockWait(300);
  MakeFile("Data/b.txt", "b", DosTime(5));
  {
    engine_test::CountingSleep fast;
    EXPECT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat"));
  }
  EXPECT_EQ(LastBox(), kFailed + "備份檔案正由其他程式使用中: E:\\Out\\Back.dat");
  EXPECT_EQ(child.Run(1), 0);
  EXPECT_EQ(Rows("E:\\Out\\Back.dat"), (std::map<std::string, bool>{{"a.txt", true}}));
  ASSERT_TRUE(BackupInto("Data", "E:\\Out\\Back.dat"));
  EXPECT_EQ(LastBox(), "完成了,萬歲!! 共更新 1 個檔");
}

// A child whose files may not grow beyond a limit: the disk is full for it.
TEST_F(RunsTest, AFullDiskFailsTheRunAndKeepsWhatWasCommitted) {
  for (int i = 0; i < 12; ++i) MakeFile("Data/small" + std::to_string(i), std::string(100, 's'));
  MakeFile("Data/large.bin", std::string(3 * 1048576, 'L'));
  fs::create_directories(E("Out"));
  core.reset();
  engine::FreeSessions();
  engine::StopEngine();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{512 * 1024, 512 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    NewCore();
    core->SetLockWait(300);
    engine_test::CountingSleep fast;  // the engine's write retries without waiting
    BackupToFolder("Data", "Out");
    if (StartsWith(LastBox(), kFailed)) ::_exit(0);
    std::fprintf(stderr, "the run ended with: %s\n", LastBox().c_str());
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the run did not fail";
  NewCore();
  const engine::TTableCheckReport report = engine::CheckTableSet("E:\\Out\\Back.dat");
  // The failed commit was rolled back whole: no record points at BLOB blocks
  // that were never written.
  ASSERT_TRUE(report.Ok()) << report.Describe();
  // Every row that was committed restores to its file's bytes.
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  for (const auto& [rel, file] : ReadTree(E("R/Data"))) EXPECT_EQ(file, ReadTree(D("Data"))[rel]);
}

// Byte surgery on the stored archive: one byte of the entry's data changed.
TEST_F(RunsTest, ADamagedArchiveEndsTheRestoreNamingTheFile) {
  const std::string content = [] {
    std::string s;
    unsigned x = 12345;
    for (int i = 0; i < 4096; ++i) s += static_cast<char>((x = x * 1103515245 + 12345) >> 16);
    return s;
  }();
  MakeFile("Data/random.bin", content);
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  core.reset();
  engine::FreeSessions();
  engine::StopEngine();
  std::string blb = ReadHost(E("Out/Back.BLB"));
  const std::size_t at = blb.find(content.substr(1000, 64));
  ASSERT_NE(at, std::string::npos) << "random data is stored, not deflated";
  blb[at + 10] = static_cast<char>(blb[at + 10] ^ 0x55);
  std::ofstream(E("Out/Back.BLB"), std::ios::binary) << blb;
  NewCore();
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat", "E:\\R"));
  EXPECT_EQ(LastBox(), "備份資料已損壞,無法回存: E:\\R\\Data\\random.bin");
  EXPECT_FALSE(fs::exists(E("R/Data/random.bin")));
  EXPECT_FALSE(fs::exists(E("Out/back1.Zip")));
}

TEST_F(RunsTest, AnExistingFileIsReplacedOnlyWhenTheUserSaysYes) {
  MakeFile("Data/a.txt", "backed up", DosTime(1));
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  MakeFile("Data/a.txt", "edited since", DosTime(3));
  ui.answers = {platform::MsgResult::No};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat"));
  EXPECT_EQ(ui.boxes.front(), "Replace existing file a.txt?");
  EXPECT_EQ(ui.captions.front(), "File Exists Alert");
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 0筆");
  EXPECT_EQ(ReadHost(D("Data/a.txt")), "edited since");
  ui.answers = {platform::MsgResult::Yes};
  ASSERT_TRUE(Restore("E:\\Out\\Back.dat"));
  EXPECT_EQ(LastBox(), "完成了你成功了~~恭喜 共: 1筆");
  EXPECT_EQ(ReadTree(D("Data"))["a.txt"], (TreeFile{"backed up", DosTime(1)}));
}

}  // namespace
}  // namespace app::runs_test
