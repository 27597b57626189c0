// What the application core needs from a window: places to show the settings
// and the progress of a run, and switches for the controls whose enabled state
// the core decides. The Qt main window implements it over its widgets; tests
// and a command-line front end implement it without a display.
//
// Message boxes and the processing of pending window messages are not here:
// they go through platform::Ui(), which the program installs at start-up, so
// that the engine and the zip component reach them too.
#pragma once

#include <string_view>

namespace app {

class MainView {
 public:
  virtual ~MainView() = default;

  // ---- Settings (each setter of the core shows its value here) ----
  virtual void ShowSourceDir(std::string_view text) = 0;     // labBPath
  virtual void ShowSizeLimit(std::string_view text) = 0;     // stDBSize
  virtual void ShowTargetFile(std::string_view text) = 0;    // stDBFile and stDBFile1
  virtual void ShowNewBackupDir(std::string_view text) = 0;  // stTemppath
  virtual void ShowRestoreDir(std::string_view text) = 0;    // stBackPath

  // ---- Enabled states ----
  virtual void EnableStart(bool enabled) = 0;        // btnStart
  virtual void EnableRestore(bool enabled) = 0;      // btnBack
  virtual void EnableBackNewFile(bool enabled) = 0;  // chkBackNewFile (its check mark stays)
  // CheckBox1, SpeedButton1 to SpeedButton5, stRoPath and edtBackFileName.
  virtual void SetControlsEnabled(bool enabled) = 0;

  // ---- Progress of a run ----
  virtual void ShowBackupStatus(std::string_view text) = 0;   // stStat
  virtual void SetBackupStatusHeight(int pixels) = 0;         // stStat: 24 or 35
  virtual void ShowRestoreStatus(std::string_view text) = 0;  // stStatR
  virtual void ShowShortStatus(std::string_view text) = 0;    // stStat2
  virtual void SetProgressMaximum(int maximum) = 0;           // ProgressBar1
  virtual void SetProgressPosition(int position) = 0;
};

}  // namespace app
