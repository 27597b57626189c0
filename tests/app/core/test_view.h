// A MainView that records what the core shows, for tests without a display.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/core/main_view.h"

namespace app {

struct TestView : MainView {
  std::string sourceDir, sizeLimit, targetFile, newBackupDir, restoreDir;
  bool startEnabled = true, restoreEnabled = true, backNewFileEnabled = true;
  bool controlsEnabled = true;
  std::string backupStatus, restoreStatus, shortStatus;
  std::vector<std::string> restoreStatuses;  // every restore status, in order
  int backupStatusHeight = 0, progressMaximum = 0, progressPosition = 0;

  void ShowSourceDir(std::string_view t) override { sourceDir = t; }
  void ShowSizeLimit(std::string_view t) override { sizeLimit = t; }
  void ShowTargetFile(std::string_view t) override { targetFile = t; }
  void ShowNewBackupDir(std::string_view t) override { newBackupDir = t; }
  void ShowRestoreDir(std::string_view t) override { restoreDir = t; }
  void EnableStart(bool e) override { startEnabled = e; }
  void EnableRestore(bool e) override { restoreEnabled = e; }
  void EnableBackNewFile(bool e) override { backNewFileEnabled = e; }
  void SetControlsEnabled(bool e) override { controlsEnabled = e; }
  void ShowBackupStatus(std::string_view t) override { backupStatus = t; }
  void SetBackupStatusHeight(int px) override { backupStatusHeight = px; }
  void ShowRestoreStatus(std::string_view t) override {
    restoreStatus = t;
    restoreStatuses.emplace_back(t);
  }
  void ShowShortStatus(std::string_view t) override { shortStatus = t; }
  void SetProgressMaximum(int m) override { progressMaximum = m; }
  void SetProgressPosition(int p) override { progressPosition = p; }
};

}  // namespace app
