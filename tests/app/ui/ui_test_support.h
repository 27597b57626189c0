// Helpers of the window tests: scripted message boxes, temporary directories
// mapped to drive letters, and answering modal dialogs from a timer.
#pragma once

#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui_services.h"

namespace app::ui::testing {

// Answers every message box with its default and records its text.
class RecordingUi : public platform::UiServices {
 public:
  RecordingUi() { previous_ = platform::InstallUiServices(this); }
  ~RecordingUi() override { platform::InstallUiServices(previous_); }
  RecordingUi(const RecordingUi&) = delete;
  RecordingUi& operator=(const RecordingUi&) = delete;

  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons, platform::MsgIcon icon,
                                 platform::MsgResult defaultResult) override;
  void ProcessMessages() override {}
  bool CancelRequested() override { return false; }

  std::vector<std::string> boxes;

 private:
  platform::UiServices* previous_ = nullptr;
};

// A fresh host directory mapped to a drive letter for the life of the object.
class TempDrive {
 public:
  explicit TempDrive(char letter);
  ~TempDrive();
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // Creates a file (and its directories); `relative` uses '/'.
  void MakeFile(const std::string& relative, const std::string& content = "x") const;
  void MakeDir(const std::string& relative) const;

 private:
  char letter_;
  std::filesystem::path root_;
};

// Calls `act` with the next modal dialog once it is shown (gives up after a few seconds).
void OnNextModal(std::function<void(QWidget*)> act);

}  // namespace app::ui::testing
