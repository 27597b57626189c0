// A compressed backup into new backup files, with the archives made ahead of
// the run by worker threads: rows, status texts and progress in the order of
// the run without workers, the size counted from the archives, the error of a
// file that vanished or cannot be read raised at its own turn, a cancel
// stopping the workers, and the memory bound of the queue.
#include <gtest/gtest.h>

#include <atomic>

#include "app/core/compress_pipeline.h"
#include "app/core/runs_test_support.h"
#include "engine/table/table_check.h"
#include "platform/file.h"
#include "zip/unzip_reader.h"

namespace app::runs_test {
namespace {

const std::string kFailed = "過程中發生錯誤沒有成功!!!\n";

// Bytes deflate cannot shrink.
std::string Noise(std::size_t size, std::uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  return s;
}

// Every progress and status call of a run, in order.
struct RecordingView : TestView {
  std::vector<std::string> log;
  void ShowBackupStatus(std::string_view t) override {
    TestView::ShowBackupStatus(t);
    log.push_back("stat " + std::string(t));
  }
  void SetBackupStatusHeight(int px) override {
    TestView::SetBackupStatusHeight(px);
    log.push_back("height " + std::to_string(px));
  }
  void ShowShortStatus(std::string_view t) override {
    TestView::ShowShortStatus(t);
    log.push_back("short " + std::string(t));
  }
  void SetProgressPosition(int p) override {
    TestView::SetProgressPosition(p);
    log.push_back("progress " + std::to_string(p));
  }
};

// A user interface whose cancel request a test raises.
struct CancelUi : ScriptUi {
  std::atomic<bool> cancel{false};
  bool CancelRequested() override { return cancel; }
};

class CompressAheadTest : public RunsTest {
 public:
  void SetUp() override {
    RunsTest::SetUp();
    platform::InstallUiServices(&cancelUi);
    core.reset();
    core = std::make_unique<BackupApplication>(log);
  }
  void TearDown() override {
    core.reset();
    RunsTest::TearDown();
  }
  // The run's messages go through cancelUi: LastBox reads it.
  std::string LastMessage() const { return cancelUi.boxes.empty() ? "" : cancelUi.boxes.back(); }
  // BLOB of every row by FileName.
  static std::map<std::string, std::string> Blobs(const std::string& windowsDat) {
    engine::TZORVADTable table;
    table.SetDatabaseName(windowsDat.substr(0, windowsDat.rfind('\\')));
    table.SetTableName(windowsDat.substr(windowsDat.rfind('\\') + 1));
    table.Open();
    std::map<std::string, std::string> rows;
    for (table.First(); !table.Eof(); table.Next())
      rows[table.FieldByName("FileName").AsString()] = table.FieldByName("File").AsString();
    table.Close();
    return rows;
  }
  bool NoTemporaryArchives(const fs::path& folder) const {
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("back", 0) == 0 && entry.path().extension() == ".Zip") return false;
    }
    return true;
  }

  CancelUi cancelUi;
  RecordingView log;
};

TEST_F(CompressAheadTest, RowsAndTextsComeInTheOrderOfTheRunWithoutWorkers) {
  // Many small files around one large one that takes the workers a while:
  // the run must wait for it and keep its turn.
  for (int i = 0; i < 30; ++i)
    MakeFile("Data/s" + std::to_string(i) + ".txt", "small " + std::to_string(i), DosTime(i % 8));
  MakeFile("Data/m/large.bin", Noise(3u << 20, 5) + std::string(1u << 20, 'z'), DosTime(40));
  for (int i = 0; i < 12; ++i)
    MakeFile("Data/m/t" + std::to_string(i), std::string(100 + i, 'a' + i), DosTime(i % 8));

  ASSERT_TRUE(BackupToFolder("Data", "Ahead", true));
  ASSERT_EQ(cancelUi.boxes.back(), "完成了,萬歲!!");
  const std::vector<std::string> ahead = log.log;
  const auto aheadRows = Blobs("E:\\Ahead\\Back.dat");

  // The same files compressed one after the other: each is new to an empty
  // backup file, so the incremental run compresses it at its turn.
  fs::create_directories(E("One"));
  TDataModuleRx::CreateBackupTable("E:\\One\\Back");
  log.log.clear();
  ASSERT_TRUE(BackupInto("Data", "E:\\One\\Back.dat", true));
  ASSERT_EQ(cancelUi.boxes.back(), "完成了,萬歲!! 共更新 43 個檔");
  // The last text is the elapsed time of the run.
  ASSERT_EQ(ahead.size(), log.log.size());
  for (std::size_t k = 0; k + 1 < ahead.size(); ++k) ASSERT_EQ(ahead[k], log.log[k]) << k;
  EXPECT_EQ(aheadRows.size(), 43u);
  EXPECT_TRUE(aheadRows == Blobs("E:\\One\\Back.dat"));
  EXPECT_TRUE(NoTemporaryArchives(E("Ahead")));
  EXPECT_TRUE(engine::CheckTableSet("E:\\Ahead\\Back.dat").Ok());
}

TEST_F(CompressAheadTest, AFileThatVanishedOrCannotBeReadFailsAtItsTurn) {
  struct Case {
    const char* name;
    int failAt;
    bool locked;           // held by another program instead of removed
    std::size_t rowsKept;  // commits after files 0, 10, 20
  };
  const Case cases[] = {
      {"first vanished", 0, false, 0},  {"vanished", 5, false, 1}, {"vanished", 12, false, 11},
      {"last vanished", 24, false, 21}, {"locked", 12, true, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.failAt));
    fs::remove_all(E("Out"));
    fs::remove_all(D("Data"));
    for (int i = 0; i < 25; ++i)
      MakeFile("Data/f" + std::to_string(100 + i), "x" + std::to_string(i));
    core.reset();  // a fresh start: the run writes Back.dat
    core = std::make_unique<BackupApplication>(log);
    // The list is in the directory's order: the victim is named once the
    // scan is done, when the new backup file is opened.
    std::string victim;
    platform::File holder;
    cancelUi.onProcess = [&] {
      if (victim.empty()) {
        victim = ScannedName(c.failAt);
        if (c.locked) {
          ASSERT_TRUE(holder.Open("D:\\Data\\" + victim, platform::Access::ReadWrite,
                                  platform::Share::None, platform::Disposition::OpenExisting));
        }
      }
      // The first file is gone before the run starts, any other while the
      // file before it is written (the workers may have compressed it).
      if (!c.locked && log.progressPosition == c.failAt) fs::remove(D("Data/" + victim));
    };
    core->SetSourceDir("D:\\Data");
    core->SetNewBackupDir("E:\\Out");
    core->SetCompress(true);
    fs::create_directories(E("Out"));
    EXPECT_TRUE(core->ExecuteRun(RunKind::Backup));
    cancelUi.onProcess = nullptr;
    holder.Close();
    const std::string expected =
        c.locked ? "無法讀取檔案: D:\\Data\\" : "檔案已不存在,無法備份: D:\\Data\\";
    EXPECT_EQ(LastMessage(), kFailed + expected + victim);
    EXPECT_EQ(Blobs("E:\\Out\\Back.dat").size(), c.rowsKept);
    EXPECT_TRUE(NoTemporaryArchives(E("Out")));
    EXPECT_TRUE(engine::CheckTableSet("E:\\Out\\Back.dat").Ok());
  }
}

TEST_F(CompressAheadTest, ACancelStopsTheWorkersAndKeepsOnlyCommittedRows) {
  for (int i = 0; i < 25; ++i)
    MakeFile("Data/f" + std::to_string(100 + i), "x" + std::to_string(i));
  // Large files behind the cancel point: the workers are busy with them.
  for (int i = 0; i < 3; ++i) MakeFile("Data/z" + std::to_string(i), Noise(4u << 20, 9 + i));
  cancelUi.onProcess = [&] {
    if (log.progressPosition == 13) cancelUi.cancel = true;
  };
  ASSERT_TRUE(BackupToFolder("Data", "Out", true));
  EXPECT_EQ(LastMessage(), kFailed + "User Aborted Operation");
  // Files 0 to 10 were committed; 11 and 12 were rolled back with the cancel.
  const auto rows = Blobs("E:\\Out\\Back.dat");
  EXPECT_EQ(rows.size(), 11u);
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));
  EXPECT_TRUE(engine::CheckTableSet("E:\\Out\\Back.dat").Ok());
}

TEST_F(CompressAheadTest, TheSizeLimitCountsTheArchives) {
  // 3 MB: threshold 2 MB of counted bytes. The 3 MB of zeros count as their
  // small archive, so the switch comes with the second noise file.
  MakeFile("Data/a", Noise(1536u << 10, 1));
  MakeFile("Data/b", std::string(3u << 20, '\0'));
  MakeFile("Data/c", Noise(1536u << 10, 2));
  MakeFile("Data/d", Noise(100u << 10, 3));
  ASSERT_TRUE(BackupToFolder("Data", "Out", true, 3));
  EXPECT_EQ(LastMessage(), "完成了,萬歲!!");
  std::size_t rows = 0;
  for (const char* file : {"Back.dat", "Back1.dat"}) {
    SCOPED_TRACE(file);
    const auto blobs = Blobs(std::string("E:\\Out\\") + file);
    rows += blobs.size();
    EXPECT_EQ(blobs.size(), 2u);
    EXPECT_TRUE(engine::CheckTableSet(std::string("E:\\Out\\") + file).Ok());
  }
  EXPECT_EQ(rows, 4u);
  EXPECT_FALSE(fs::exists(E("Out/Back2.dat")));
  EXPECT_TRUE(NoTemporaryArchives(E("Out")));
}

// The queue itself: results in order whatever the budget, a file larger than
// the budget still passes alone, errors travel with their file.
TEST(CompressPipeline, HandsOverEveryFileInOrderWithinItsBudget) {
  platform_test::TempDir dir;
  platform::ResetDriveMap();
  platform::SetDrive('D', dir.path());
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a", std::string(5000, 'a')}, {"big", Noise(300000, 4)}, {"c", "c"}, {"d", ""}};
  std::vector<std::string> sources;
  for (const auto& [name, bytes] : files) {
    std::ofstream(fs::path(dir.path()) / name, std::ios::binary) << bytes;
    sources.push_back("D:\\" + name);
  }
  sources.push_back("D:\\missing");
  for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{1000}, kCompressAheadBytes}) {
    SCOPED_TRACE(budget);
    for (const int workers : {1, 2}) {
      TCompressPipeline pipeline(sources, workers, 0x7FFFFFFF, budget);
      for (int i = 0; i < static_cast<int>(files.size()); ++i) {
        const TCompressPipeline::Result r = pipeline.Take(i, {});
        ASSERT_FALSE(r.error) << i;
        zip::TOrvUnZip reader;
        reader.UseMemoryArchive(r.archive);
        reader.ReadZip();
        ASSERT_EQ(reader.Count(), 1);
        EXPECT_EQ(reader.FileName(0), files[static_cast<std::size_t>(i)].first);
      }
      const TCompressPipeline::Result missing = pipeline.Take(4, {});
      EXPECT_TRUE(missing.error);
      EXPECT_TRUE(missing.beforeCompressing);
    }
  }
  {
    // Dropped with files not taken (a failed run): the workers end.
    TCompressPipeline pipeline(sources, 2, 0x7FFFFFFF, 0);
    EXPECT_FALSE(pipeline.Take(0, {}).error);
  }
  platform::ResetDriveMap();
}

}  // namespace
}  // namespace app::runs_test
