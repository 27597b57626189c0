// The main window: three pages (backup, restore, help), a status bar with a
// short status text and a progress bar, and the handlers of its controls.
//
// The window keeps no state of its own: every setting lives in the application
// core (app::BackupApplication), which the window owns and whose MainView it
// implements over its widgets. The handlers only ask the user (dialogs) and
// forward to the core. The component names are the window design's names.
//
// Keyboard: the window sees every key press of its controls before they do:
// Ctrl+Tab cycles the pages, and on the help page Alt with letters fills a
// buffer that calls the greeting library when it holds "DESIGN".
#pragma once

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <memory>
#include <string>

#include "app/core/backup_application.h"
#include "app/core/main_view.h"

class QKeyEvent;

namespace app::ui {

class TfrmMain : public QMainWindow, public app::MainView {
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  app::BackupApplication& Core() { return *core_; }
  const app::MainState& State() const { return core_->State(); }
  const std::string& FKeyBuffer() const { return keyBuffer_; }

  // ---- Components ----
  QStatusBar* StatusBar1;
  QLabel* stStat2;
  QProgressBar* ProgressBar1;
  QTabWidget* PageControl1;
  QWidget* tabBack;
  QWidget* TabRestort;
  QWidget* TabSheet1;
  // Backup page.
  QLabel* Label1;
  QLabel* labBPath;
  QToolButton* SpeedButton1;
  QLabel* Label2;
  QLabel* stDBSize;
  QToolButton* SpeedButton4;
  QLabel* Label3;
  QLabel* stDBFile;
  QToolButton* SpeedButton2;
  QCheckBox* CheckBox1;
  QCheckBox* chkBackNewFile;
  QLabel* Label5;
  QLineEdit* edtBackFileName;
  QLabel* Label4;
  QLabel* stTemppath;
  QToolButton* SpeedButton3;
  QPushButton* btnStart;
  QLabel* stStat;
  // Restore page.
  QLabel* Label7;
  QLabel* stDBFile1;
  QToolButton* SpeedButton5;
  QPushButton* btnBack;
  QLabel* Label6;
  QLabel* stBackPath;
  QToolButton* stRoPath;
  QLabel* stStatR;
  // Help page.
  QTextEdit* RichEdit1;
  // Chooses FTargetFile.
  QFileDialog* OpenDialog1;

  // ---- Setters (forwarded to the core) ----
  void SetSourceDir(const std::string& value) { core_->SetSourceDir(value); }
  void SetSizeLimit(std::int32_t megabytes) { core_->SetSizeLimit(megabytes); }
  void SetTargetFile(const std::string& value) { core_->SetTargetFile(value); }
  void SetNewBackupDir(const std::string& value) { core_->SetNewBackupDir(value); }
  void SetRestoreDir(const std::string& value) { core_->SetRestoreDir(value); }

  // ---- Event handlers ----
  void SpeedButton1Click();
  void SpeedButton2Click();  // also SpeedButton5's
  void SpeedButton3Click();
  void SpeedButton4Click();
  void stRoPathClick();
  void CheckBox1Click();
  void chkBackNewFileClick();
  void edtBackFileNameExit();
  void btnStartClick();
  void btnBackClick();
  // Page cycling and the hidden sequence; true when the key was used.
  bool FormKeyDown(const QKeyEvent& key);

  // ---- app::MainView ----
  void ShowSourceDir(std::string_view text) override;
  void ShowSizeLimit(std::string_view text) override;
  void ShowTargetFile(std::string_view text) override;
  void ShowNewBackupDir(std::string_view text) override;
  void ShowRestoreDir(std::string_view text) override;
  void EnableStart(bool enabled) override;
  void EnableRestore(bool enabled) override;
  void EnableBackNewFile(bool enabled) override;
  void SetControlsEnabled(bool enabled) override;
  void ShowBackupStatus(std::string_view text) override;
  void SetBackupStatusHeight(int pixels) override;
  void ShowRestoreStatus(std::string_view text) override;
  void ShowShortStatus(std::string_view text) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Building the window, one step per part (frm_main_layout.cpp).
  void CreateStatusBar();
  void CreateBackupPage();
  void CreateRestorePage();
  void CreateHelpPage();
  void CreateOpenDialog();
  void ConnectHandlers();

  bool IsMine(QObject* object) const;

  std::unique_ptr<app::BackupApplication> core_;
  std::string keyBuffer_;  // FKeyBuffer: letters typed with Alt on the help page
};

}  // namespace app::ui
