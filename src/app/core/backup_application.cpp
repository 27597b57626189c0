// Settings, enabling rules and the run frame of the backup application; see
// backup_application.h for the invariants.
#include "app/core/backup_application.h"

#include <exception>
#include <string_view>

#include "app/core/catalog.h"
#include "app/core/compressed_storage.h"
#include "app/core/elapsed_time.h"
#include "app/core/size_limit.h"
#include "app/core/source_scan.h"
#include "app/core/texts.h"
#include "platform/ui_services.h"

namespace app {

namespace {

constexpr std::string_view kZipYes = "Y";
constexpr std::string_view kZipNo = "N";

}  // namespace

BackupApplication::BackupApplication(MainView& view)
    : view_(view),
      rx_(std::make_unique<TDataModuleRx>(state_)),
      storage_(std::make_unique<TCompressedStorage>(view)) {
  view_.ShowSourceDir(state_.FSourceDir);
  view_.ShowSizeLimit(SizeLimitText(state_.FSizeLimitMB));
  view_.ShowTargetFile(texts::kNoTargetFile);
  view_.ShowNewBackupDir(state_.FNewBackupDir);
  view_.ShowRestoreDir(state_.FRestoreDir);
  ApplyRunButtons();
}

BackupApplication::~BackupApplication() {
  FreeFileList(state_.FFileList);
}

void BackupApplication::SetSourceDir(const std::string& value) {
  if (value == state_.FSourceDir) return;
  state_.FSourceDir = value;
  view_.ShowSourceDir(value);
  UpdateStartButton();
}

void BackupApplication::SetSizeLimit(std::int32_t megabytes) {
  if (megabytes == state_.FSizeLimitMB) return;
  state_.FSizeLimitMB = megabytes;
  view_.ShowSizeLimit(SizeLimitText(megabytes));
}

void BackupApplication::SetTargetFile(const std::string& value) {
  if (value == state_.FTargetFile) return;
  state_.FTargetFile = value;
  view_.ShowTargetFile(value.empty() ? texts::kNoTargetFile : std::string_view(value));
  if (!value.empty()) SetNewBackupDir("");
  UpdateStartButton();
  ApplyRunButtons();
}

void BackupApplication::SetNewBackupDir(const std::string& value) {
  if (value == state_.FNewBackupDir) return;
  state_.FNewBackupDir = value;
  if (!value.empty()) SetTargetFile("");
  view_.ShowNewBackupDir(value);
  UpdateStartButton();
}

void BackupApplication::SetRestoreDir(const std::string& value) {
  if (value == state_.FRestoreDir) return;
  state_.FRestoreDir = value;
  view_.ShowRestoreDir(value);
}

void BackupApplication::SetCompress(bool checked) {
  state_.FZipFlag = std::string(checked ? kZipYes : kZipNo);
}

void BackupApplication::SetBackNewFile(bool checked) {
  state_.BackNewFile = checked;
  if (checked) SetSizeLimit(0);
}

void BackupApplication::SetBackFileName(const std::string& text) {
  state_.BackFileName = text;
}

bool BackupApplication::StartAllowed() const {
  return !state_.FSourceDir.empty() &&
         (!state_.FTargetFile.empty() || !state_.FNewBackupDir.empty());
}

bool BackupApplication::RestoreAllowed() const {
  return !state_.FTargetFile.empty();
}

void BackupApplication::UpdateStartButton() {
  view_.EnableStart(running_ == RunKind::None && StartAllowed());
}

void BackupApplication::ApplyRunButtons() {
  const bool idle = running_ == RunKind::None;
  UpdateStartButton();
  view_.EnableRestore(idle && RestoreAllowed());
  view_.EnableBackNewFile(idle && RestoreAllowed());
}

bool BackupApplication::ExecuteRun(RunKind kind) {
  if (kind == RunKind::None || running_ != RunKind::None) return false;
  if (kind == RunKind::Backup ? !StartAllowed() : !RestoreAllowed()) return false;

  const auto start = std::chrono::steady_clock::now();
  running_ = kind;
  ApplyRunButtons();
  view_.SetControlsEnabled(false);

  std::string error;
  bool failed = false;
  try {
    if (kind == RunKind::Backup) {
      RunBackup();
    } else {
      RunRestore();
    }
  } catch (const std::exception& e) {
    failed = true;
    error = e.what();
  } catch (...) {
    failed = true;
    error = std::string(texts::kUnknownError);
  }

  running_ = RunKind::None;
  ApplyRunButtons();
  view_.SetControlsEnabled(true);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  view_.ShowShortStatus(std::string(texts::kElapsedPrefix) + FormatElapsed(elapsed));

  // As the toolkit's default handler would: the controls are usable again
  // before the message box appears.
  if (failed) ShowError(error.empty() ? texts::kUnknownError : std::string_view(error));
  return true;
}

void BackupApplication::ShowError(std::string_view message) {
  platform::Ui().MessageBox(message, texts::kWindowCaption, platform::MsgButtons::Ok,
                            platform::MsgIcon::Error, platform::MsgResult::Ok);
}

bool BackupApplication::ScanSource() {
  TFileList& list = *state_.FFileList;
  while (!list.empty()) list.pop_back();
  ScanTree(list, state_.FSourceDir, state_.ScanExclude);
  return !list.empty();
}

}  // namespace app
