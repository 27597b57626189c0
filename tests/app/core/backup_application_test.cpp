// The application core without a display: the settings' rules, the enabling
// of both run buttons and chkBackNewFile, and the run frame.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/test_view.h"
#include "platform/ui_services.h"

namespace app {
namespace {

// Answers every message box with its default and remembers the texts.
struct RecordingUi : platform::UiServices {
  std::vector<std::string> boxes;
  platform::MsgResult MessageBox(std::string_view text, std::string_view, platform::MsgButtons,
                                 platform::MsgIcon, platform::MsgResult answer) override {
    boxes.emplace_back(text);
    return answer;
  }
  void ProcessMessages() override {}
  bool CancelRequested() override { return false; }
};

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = platform::InstallUiServices(&ui_); }
  void TearDown() override { platform::InstallUiServices(previous_); }
  RecordingUi ui_;
  platform::UiServices* previous_ = nullptr;
};

TEST_F(CoreTest, StartsWithEverythingUnsetAndBothRunButtonsDisabled) {
  TestView view;
  BackupApplication core(view);
  const MainState& s = core.State();
  EXPECT_EQ(s.FSourceDir, "");
  EXPECT_EQ(s.FSizeLimitMB, 0);
  EXPECT_EQ(s.FZipFlag, "N");
  EXPECT_EQ(s.FFileCounter, 0);
  ASSERT_NE(s.FFileList, nullptr);
  EXPECT_TRUE(s.FFileList->empty());
  EXPECT_EQ(s.BackFileName, "Back");
  EXPECT_FALSE(view.startEnabled);
  EXPECT_FALSE(view.restoreEnabled);
  EXPECT_FALSE(view.backNewFileEnabled);
  EXPECT_EQ(view.sizeLimit, "不限定");
  EXPECT_EQ(view.targetFile, "不指定");
}

// One row: the settings made in order, then what the window must show.
struct RuleCase {
  const char* name;
  std::function<void(BackupApplication&)> act;
  bool start, restore, backNewFile;
  const char* targetFile;    // stDBFile and stDBFile1
  const char* newBackupDir;  // stTemppath
  const char* sourceDir;     // labBPath
};

TEST_F(CoreTest, EnablingRulesAndTheExclusionOfTargetFileAndNewBackupDir) {
  const std::vector<RuleCase> cases = {
      {"source only", [](auto& c) { c.SetSourceDir("D:\\Data"); }, false, false, false, "不指定",
       "", "D:\\Data"},
      {"source and new folder",
       [](auto& c) {
         c.SetSourceDir("D:\\Data");
         c.SetNewBackupDir("E:\\Out");
       },
       true, false, false, "不指定", "E:\\Out", "D:\\Data"},
      {"source and backup file",
       [](auto& c) {
         c.SetSourceDir("D:\\Data");
         c.SetTargetFile("E:\\Back.dat");
       },
       true, true, true, "E:\\Back.dat", "", "D:\\Data"},
      {"backup file without source", [](auto& c) { c.SetTargetFile("E:\\Back.dat"); }, false, true,
       true, "E:\\Back.dat", "", ""},
      {"new folder after backup file clears the file",
       [](auto& c) {
         c.SetSourceDir("D:\\Data");
         c.SetTargetFile("E:\\Back.dat");
         c.SetNewBackupDir("E:\\Out");
       },
       true, false, false, "不指定", "E:\\Out", "D:\\Data"},
      {"backup file after new folder empties the folder",
       [](auto& c) {
         c.SetNewBackupDir("E:\\Out");
         c.SetTargetFile("E:\\Back.dat");
       },
       false, true, true, "E:\\Back.dat", "", ""},
      {"cancelled source dialog clears the source",
       [](auto& c) {
         c.SetSourceDir("D:\\Data");
         c.SetNewBackupDir("E:\\Out");
         c.SetSourceDir("");
       },
       false, false, false, "不指定", "E:\\Out", ""},
      {"cancelled folder dialog leaves nothing to write to",
       [](auto& c) {
         c.SetSourceDir("D:\\Data");
         c.SetNewBackupDir("E:\\Out");
         c.SetNewBackupDir("");
       },
       false, false, false, "不指定", "", "D:\\Data"},
  };
  for (const RuleCase& row : cases) {
    SCOPED_TRACE(row.name);
    TestView view;
    BackupApplication core(view);
    row.act(core);
    EXPECT_EQ(view.startEnabled, row.start);
    EXPECT_EQ(view.restoreEnabled, row.restore);
    EXPECT_EQ(view.backNewFileEnabled, row.backNewFile);
    EXPECT_EQ(view.targetFile, row.targetFile);
    EXPECT_EQ(view.newBackupDir, row.newBackupDir);
    EXPECT_EQ(view.sourceDir, row.sourceDir);
    EXPECT_EQ(core.StartAllowed(), row.start);
    EXPECT_FALSE(!core.State().FTargetFile.empty() && !core.State().FNewBackupDir.empty());
  }
}

TEST_F(CoreTest, SettersIgnoreAnEqualValueButNotOneDifferingInCase) {
  TestView view;
  BackupApplication core(view);
  core.SetSourceDir("D:\\Data");
  view.sourceDir = "untouched";
  core.SetSourceDir("D:\\Data");
  EXPECT_EQ(view.sourceDir, "untouched");
  core.SetSourceDir("D:\\DATA");
  EXPECT_EQ(view.sourceDir, "D:\\DATA");
}

TEST_F(CoreTest, SizeLimitTextsAndBackNewFileRemovesTheLimit) {
  TestView view;
  BackupApplication core(view);
  core.SetSizeLimit(700);
  EXPECT_EQ(view.sizeLimit, "700 MB");
  core.SetBackNewFile(true);
  EXPECT_EQ(core.State().FSizeLimitMB, 0);
  EXPECT_EQ(view.sizeLimit, "不限定");
  core.SetSizeLimit(640);
  core.SetBackNewFile(false);  // unchecking keeps the limit
  EXPECT_EQ(view.sizeLimit, "640 MB");
}

TEST_F(CoreTest, CompressFlag) {
  TestView view;
  BackupApplication core(view);
  core.SetCompress(true);
  EXPECT_EQ(core.State().FZipFlag, "Y");
  core.SetCompress(false);
  EXPECT_EQ(core.State().FZipFlag, "N");
}

// A core whose runs are scripted by the test.
class ScriptedCore : public BackupApplication {
 public:
  using BackupApplication::BackupApplication;
  std::function<bool()> backup = [] { return true; };
  std::function<void()> restore = [] {};

 protected:
  bool RunBackup() override { return backup(); }
  void RunRestore() override { restore(); }
};

const std::regex kElapsedText("共費時 : [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}");

TEST_F(CoreTest, RunFrameLocksEverythingDuringARunAndRestoresAfterSuccessOrFailure) {
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "failing run" : "successful run");
    TestView view;
    ScriptedCore core(view);
    core.SetSourceDir("D:\\Data");
    core.SetTargetFile("E:\\Back.dat");
    bool otherRunStarted = true, sameRunStarted = true;
    core.backup = [&] {
      // What a click processed during the run would see and do.
      EXPECT_FALSE(view.controlsEnabled);
      EXPECT_FALSE(view.startEnabled);
      EXPECT_FALSE(view.restoreEnabled);
      EXPECT_FALSE(view.backNewFileEnabled);
      EXPECT_EQ(core.Running(), RunKind::Backup);
      otherRunStarted = core.ExecuteRun(RunKind::Restore);
      sameRunStarted = core.ExecuteRun(RunKind::Backup);
      if (fails) throw std::runtime_error("disk on fire");
      return true;
    };
    ui_.boxes.clear();
    ASSERT_TRUE(core.ExecuteRun(RunKind::Backup));
    EXPECT_FALSE(otherRunStarted);
    EXPECT_FALSE(sameRunStarted);
    EXPECT_EQ(core.Running(), RunKind::None);
    EXPECT_TRUE(view.controlsEnabled);
    EXPECT_TRUE(view.startEnabled);
    EXPECT_TRUE(view.restoreEnabled);
    EXPECT_TRUE(view.backNewFileEnabled);
    EXPECT_TRUE(std::regex_match(view.shortStatus, kElapsedText)) << view.shortStatus;
    EXPECT_EQ(ui_.boxes,
              fails ? std::vector<std::string>{"disk on fire"} : std::vector<std::string>{});
    EXPECT_EQ(core.State().FTargetFile, "E:\\Back.dat");  // settings survive the run
  }
}

TEST_F(CoreTest, ARunWhoseButtonIsDisabledDoesNotStart) {
  TestView view;
  ScriptedCore core(view);
  bool ran = false;
  core.backup = [&] { return ran = true; };
  core.restore = [&] { ran = true; };
  core.SetSourceDir("D:\\Data");  // no backup file, no folder
  EXPECT_FALSE(core.ExecuteRun(RunKind::Backup));
  EXPECT_FALSE(core.ExecuteRun(RunKind::Restore));
  EXPECT_FALSE(ran);
  EXPECT_EQ(view.shortStatus, "");
}

TEST_F(CoreTest, ARestoreOfAMissingBackupFileShowsTheErrorAndEndsIdle) {
  TestView view;
  BackupApplication core(view);
  core.SetTargetFile("Q:\\Nowhere\\Back.dat");
  ASSERT_TRUE(core.ExecuteRun(RunKind::Restore));
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_NE(ui_.boxes[0], "");
  EXPECT_TRUE(view.controlsEnabled);
  EXPECT_TRUE(view.restoreEnabled);
}

}  // namespace
}  // namespace app
