// The console in place of the window: a MainView that prints the run's
// status texts on standard output and shows the progress line on standard
// error (progress_line.h), and the user-interface service that prints the
// message boxes on standard output and answers the "File Exists Alert"
// question from --overwrite (asking on the terminal in ask mode).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/core/main_view.h"
#include "arguments.h"
#include "platform/ui_services.h"
#include "progress_line.h"

namespace orvbackup {

class ConsoleView : public app::MainView {
 public:
  // `terminal`: standard error is a terminal.
  explicit ConsoleView(bool terminal);
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

  // Clears the progress line before other output.
  void EndBar();
  // The bytes of the file or row at a 1-based progress position, for the
  // byte counts of the progress line; asked only on a terminal.
  void SetItemBytes(std::function<std::int64_t(int position)> bytesOf) {
    bytesOf_ = std::move(bytesOf);
  }
  // Prints the final progress line while the item sizes can still be asked
  // (the destructor prints it without them).
  void Finish();
  // The unit counted: "files" or "rows".
  void SetUnit(std::string unit) { unit_ = std::move(unit); }

 private:
  // A status line on standard output. On a terminal it is flushed at once;
  // into a file or pipe the lines of many rows go out together (at most
  // kFlushInterval late), and always before anything on standard error.
  void Print(std::string_view text);
  void FlushOutput();

  bool terminal_;
  bool outputTerminal_;  // standard output is a terminal
  std::chrono::steady_clock::time_point lastFlush_;
  ProgressLine progress_;
  std::function<std::int64_t(int)> bytesOf_;
  std::string unit_ = "files";
  std::int64_t bytesDone_ = 0;
  int maximum_ = 0;
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
