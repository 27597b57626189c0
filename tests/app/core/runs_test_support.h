// Helpers of the run tests: drives D: (the source trees) and E: (backup files
// and restore targets) on fresh temporary directories, a user-interface
// service that answers message boxes from a script and records them, an
// application core over a recording view, and trees read back with their
// bytes and DOS times.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/catalog.h"
#include "app/core/test_view.h"
#include "engine/components/zorvad_session.h"
#include "engine/engine.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/platform_test_util.h"
#include "platform/ui_services.h"

namespace app::runs_test {

namespace fs = std::filesystem;

// A DOS date-time of 2 January 2024, 10:20:30, plus `step` two-second steps.
inline std::uint32_t DosTime(int step = 0) {
  return ((2024 - 1980) << 25 | 1 << 21 | 2 << 16 | 10 << 11 | 20 << 5 | 15) + step;
}

// Message boxes: answered from `answers` (front first), else with their
// default; every text and caption is kept.
struct ScriptUi : platform::UiServices {
  std::vector<std::string> boxes, captions;
  std::deque<platform::MsgResult> answers;
  int processed = 0;
  std::function<void()> onProcess;  // runs at every processing of messages
  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons, platform::MsgIcon,
                                 platform::MsgResult fallback) override {
    boxes.emplace_back(text);
    captions.emplace_back(caption);
    if (answers.empty()) return fallback;
    const platform::MsgResult a = answers.front();
    answers.pop_front();
    return a;
  }
  void ProcessMessages() override {
    ++processed;
    if (onProcess) onProcess();
  }
  bool CancelRequested() override { return false; }
};

// One file of a tree: its bytes and DOS time.
struct TreeFile {
  std::string bytes;
  std::uint32_t time = 0;
  bool operator==(const TreeFile&) const = default;
};
// Files by relative path ('/'), and the directories (with a trailing '/').
using Tree = std::map<std::string, TreeFile>;

inline std::string ReadHost(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RunsTest : public ::testing::Test {
 public:
  void SetUp() override {
    platform_test::PinUtc();
    platform::ResetDriveMap();
    platform::SetDrive('D', d_.path());
    platform::SetDrive('E', e_.path());
    engine::FreeSessions();
    engine::StopEngine();
    previous_ = platform::InstallUiServices(&ui);
    NewCore();
  }
  void TearDown() override {
    core.reset();
    engine::FreeSessions();
    engine::StopEngine();
    platform::InstallUiServices(previous_);
    platform::ResetDriveMap();
  }
  // A fresh start of the program (its counter of new files starts at 0).
  void NewCore() {
    core.reset();
    core = std::make_unique<BackupApplication>(view);
  }

  fs::path D(const std::string& rel = {}) const { return fs::path(d_.path()) / rel; }
  fs::path E(const std::string& rel = {}) const { return fs::path(e_.path()) / rel; }

  // Writes a file below D: with its time; `rel` uses '/'.
  void MakeFile(const std::string& rel, const std::string& bytes, std::uint32_t time = DosTime()) {
    const fs::path p = D(rel);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    ASSERT_TRUE(platform::SetFileDosTime(platform::ToWindowsPath(p.string()), time)) << rel;
  }
  void MakeDir(const std::string& rel) { fs::create_directories(D(rel)); }

  // Every file and directory below a host directory.
  static Tree ReadTree(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string rel = fs::relative(entry.path(), root).generic_string();
      if (entry.is_directory()) {
        tree[rel + "/"] = {};
        continue;
      }
      std::uint32_t time = 0;
      platform::GetFileDosTime(platform::ToWindowsPath(entry.path().string()), time);
      tree[rel] = {ReadHost(entry.path()), time};
    }
    return tree;
  }

  // Backs up D:\<source> into new files in E:\<folder>.
  bool BackupToFolder(const std::string& source, const std::string& folder, bool compress = false,
                      int limitMB = 0) {
    fs::create_directories(E(folder));
    core->SetSourceDir("D:\\" + source);
    core->SetNewBackupDir("E:\\" + folder);
    core->SetCompress(compress);
    core->SetSizeLimit(limitMB);
    ui.boxes.clear();
    ui.captions.clear();
    return core->ExecuteRun(RunKind::Backup);
  }
  // Backs up D:\<source> into the existing backup file `file` (Windows path).
  bool BackupInto(const std::string& source, const std::string& file, bool compress = false,
                  bool newFile = false) {
    core->SetSourceDir("D:\\" + source);
    core->SetTargetFile(file);
    core->SetCompress(compress);
    core->SetBackNewFile(newFile);
    ui.boxes.clear();
    ui.captions.clear();
    return core->ExecuteRun(RunKind::Backup);
  }
  bool Restore(const std::string& file, const std::string& restoreDir = {}) {
    core->SetTargetFile(file);
    core->SetRestoreDir(restoreDir);
    ui.boxes.clear();
    ui.captions.clear();
    return core->ExecuteRun(RunKind::Restore);
  }
  // Rows of a backup file (Windows path of its data file), by FileName:
  // true for a row with content.
  static std::map<std::string, bool> Rows(const std::string& windowsDat) {
    engine::TZORVADTable table;
    table.SetDatabaseName(windowsDat.substr(0, windowsDat.rfind('\\')));
    table.SetTableName(windowsDat.substr(windowsDat.rfind('\\') + 1));
    table.Open();
    std::map<std::string, bool> rows;
    for (table.First(); !table.Eof(); table.Next())
      rows[table.FieldByName("FileName").AsString()] = !table.FieldByName("File").IsNull();
    table.Close();
    return rows;
  }
  // The name of file i of the last scan.
  std::string ScannedName(int i) const {
    return (*core->State().FFileList)[static_cast<std::size_t>(i)]->Name;
  }
  std::string LastBox() const { return ui.boxes.empty() ? "" : ui.boxes.back(); }

  platform_test::TempDir d_, e_;
  ScriptUi ui;
  TestView view;
  std::unique_ptr<BackupApplication> core;
  platform::UiServices* previous_ = nullptr;
};

}  // namespace app::runs_test
