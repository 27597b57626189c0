// The console in place of the window: a MainView that prints the run's
// status texts on standard output and draws a progress bar on standard error
// when that is a terminal, and the user-interface service that prints the
// message boxes on standard output and answers the "File Exists Alert"
// question from --overwrite (asking on the terminal in ask mode).
#pragma once

#include <string>

#include "app/core/main_view.h"
#include "arguments.h"
#include "platform/ui_services.h"

namespace orvbackup {

class ConsoleView : public app::MainView {
 public:
  explicit ConsoleView(bool progressBar) : progressBar_(progressBar) {}
  ~ConsoleView() override;

  void ShowSourceDir(std::string_view) override {}
  void ShowSizeLimit(std::string_view) override {}
  void ShowTargetFile(std::string_view) override {}
  void ShowNewBackupDir(std::string_view) override {}
  void ShowRestoreDir(std::string_view) override {}
  void EnableStart(bool) override {}
  void EnableRestore(bool) override {}
  void EnableBackNewFile(bool) override {}
  void SetControlsEnabled(bool) override {}
  void ShowBackupStatus(std::string_view text) override { Print(text); }
  void SetBackupStatusHeight(int) override {}
  void ShowRestoreStatus(std::string_view text) override { Print(text); }
  void ShowShortStatus(std::string_view text) override { Print(text); }
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;

  // Ends the progress bar's line before other output.
  void EndBar();

 private:
  void Print(std::string_view text);
  void DrawBar();

  bool progressBar_;
  bool barShown_ = false;
  int maximum_ = 100;
  int position_ = 0;
};

class ConsoleUi : public platform::UiServices {
 public:
  ConsoleUi(ConsoleView& view, Overwrite overwrite);
  ~ConsoleUi() override;
  ConsoleUi(const ConsoleUi&) = delete;
  ConsoleUi& operator=(const ConsoleUi&) = delete;

  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons, platform::MsgIcon icon,
                                 platform::MsgResult defaultResult) override;
  void ProcessMessages() override {}
  bool CancelRequested() override { return false; }

  // True once a message box reported an error.
  bool ErrorShown() const { return errorShown_; }

 private:
  ConsoleView& view_;
  Overwrite overwrite_;
  bool errorShown_ = false;
  platform::UiServices* previous_;
};

}  // namespace orvbackup
