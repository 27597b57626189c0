// The backup application's core: every setting of a run, the rules that tie
// the settings together and decide which run can start, the run frame around
// the backup and restore runs, and the scan of the source tree. Plain C++: the
// Qt window and the command line drive the same object through MainView.
//
// Invariants:
//  * FTargetFile and FNewBackupDir exclude each other: setting one to a
//    non-empty value clears the other. Which one is set decides the kind of
//    backup run.
//  * Each setter does nothing when the new value equals the current one (exact,
//    case-sensitive comparison); otherwise it stores the value and shows it.
//  * btnStart is enabled exactly when FSourceDir is set and FTargetFile or
//    FNewBackupDir is set; btnBack and chkBackNewFile exactly when FTargetFile
//    is set. While a run is in progress all three are disabled, together with
//    the setting controls, so that neither run can start inside the other and
//    chkBackNewFile cannot change; the end of the run applies the rules again.
//  * The settings survive a run unchanged, except the file list (refilled by
//    each backup run's scan) and the counter of new backup files.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/file_datas.h"
#include "app/core/main_view.h"

namespace app {

class TDataModuleRx;
class TCompressedStorage;

// The state fields of the main window, named as the window's design names them.
struct MainState {
  // Numbers the new backup files created since the program started; never reset.
  std::int32_t FFileCounter = 0;
  // The source directory, without a trailing backslash as the directory dialog returns it.
  std::string FSourceDir;
  // Size limit of one backup file in megabytes; 0 means no limit.
  std::int32_t FSizeLimitMB = 0;
  // "Y" when each file is to be compressed, otherwise "N".
  std::string FZipFlag = "N";
  // The files found by the last scan.
  std::unique_ptr<TFileList> FFileList = std::make_unique<TFileList>();
  // Full path of an existing backup file (.dat): incremental target and restore source.
  std::string FTargetFile;
  // The folder in which a backup into new backup files creates them.
  std::string FNewBackupDir;
  // When set, the restore writes below this directory instead of the recorded paths.
  std::string FRestoreDir;
  // Check mark of chkBackNewFile: changed files go into a new dated backup file.
  // Read only when FTargetFile is set.
  bool BackNewFile = false;
  // Text of edtBackFileName: the base name of new backup files.
  std::string BackFileName = "Back";
  // How long a backup run waits for another program's write lock on the
  // backup file before it fails, in milliseconds.
  int LockWaitMs = 60000;

  // Settings of the command line that the window leaves unset.
  // Files and directories the scan leaves out, by full path; a directory
  // left out is not entered.
  std::function<bool(std::string_view path)> ScanExclude;
  // Rows the restore writes back, by Path + FileName; every row when unset.
  std::function<bool(std::string_view path)> RestoreRowFilter;
  // When set, the restore writes nothing and reports each file it would
  // write (the row's Path + FileName and the target) instead.
  std::function<void(const std::string& row, const std::string& target)> RestoreDryRun;
  // The restore goes on past a row that fails and records it here.
  bool RestoreKeepGoing = false;
  std::vector<std::string> RestoreFailures;
};

enum class RunKind { None, Backup, Restore };

class BackupApplication {
 public:
  // `view` must outlive the core. FormCreate: shows the initial state.
  explicit BackupApplication(MainView& view);
  // FormDestroy: frees the file list.
  virtual ~BackupApplication();
  BackupApplication(const BackupApplication&) = delete;
  BackupApplication& operator=(const BackupApplication&) = delete;

  const MainState& State() const { return state_; }
  // For the settings that only the command line uses (ScanExclude, the
  // restore's row filter, dry run and keep-going).
  MainState& MutableState() { return state_; }

  // ---- Setters ----
  void SetSourceDir(const std::string& value);
  void SetSizeLimit(std::int32_t megabytes);
  void SetTargetFile(const std::string& value);
  void SetNewBackupDir(const std::string& value);
  void SetRestoreDir(const std::string& value);
  // CheckBox1Click: FZipFlag "Y" when checked, else "N".
  void SetCompress(bool checked);
  // chkBackNewFileClick: records the check mark; checking it removes the size
  // limit, because a size switch cannot work while the old file is searched.
  void SetBackNewFile(bool checked);
  // The text of edtBackFileName as it changes.
  void SetBackFileName(const std::string& text);
  void SetLockWait(int milliseconds) { state_.LockWaitMs = milliseconds; }

  // ---- Enabling rules ----
  void UpdateStartButton();
  bool StartAllowed() const;
  bool RestoreAllowed() const;

  // ---- Runs ----
  // The run frame: disables the controls, performs the run, re-enables them
  // whether the run ended normally or by an error, shows the elapsed time in
  // stStat2 and then an error that escaped the run in a message box. False,
  // doing nothing, while another run is in progress or when the run's own
  // button would be disabled.
  bool ExecuteRun(RunKind kind);
  RunKind Running() const { return running_; }

  // Empties the file list and scans FSourceDir into it; true when it then
  // holds at least one file.
  bool ScanSource();

  // The catalog data module and the compressed storage of the runs.
  TDataModuleRx& DataModule() { return *rx_; }
  TCompressedStorage& Storage() { return *storage_; }

 protected:
  // The work behind btnStart; true when the run committed its last transaction.
  virtual bool RunBackup();
  // The work behind btnBack.
  virtual void RunRestore();

  MainView& View() { return view_; }

 private:
  // Applies the enabling rules of both run buttons and chkBackNewFile.
  void ApplyRunButtons();
  void ShowError(std::string_view message);

  MainView& view_;
  MainState state_;
  RunKind running_ = RunKind::None;
  std::unique_ptr<TDataModuleRx> rx_;
  std::unique_ptr<TCompressedStorage> storage_;
};

}  // namespace app
