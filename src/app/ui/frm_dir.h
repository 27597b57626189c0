// The directory dialog: a drive chooser over the host layer's drive map and a
// directory list that starts at the process's current directory.
//
// The list shows the chain of directories from the drive's root down to the
// open directory, then the open directory's subdirectories (sorted, ignoring
// case; hidden ones left out as Windows' list does). Clicking an item selects
// it, double-clicking (or Enter) opens it. Label1 always shows the selected
// directory, which is what the dialog returns when confirmed: a Windows-form
// path with no trailing backslash except at a drive root ("D:\").
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <string>

namespace app::ui {

class TfrmDir : public QDialog {
 public:
  explicit TfrmDir(QWidget* parent = nullptr);

  QLabel* Label1;
  QComboBox* DriveComboBox1;
  QListWidget* DirectoryListBox1;
  QPushButton* Button1;

  // Opens `windowsPath`: lists its chain and its subdirectories, selects it
  // and moves the drive chooser to its drive.
  void OpenDirectory(const std::string& windowsPath);
  // The selected directory.
  const std::string& Directory() const { return selected_; }

 private:
  void SelectDirectory(const std::string& windowsPath);
  void DriveChanged(int index);

  std::string opened_;
  std::string selected_;
};

// Shows the dialog modally. The selected directory when it was confirmed,
// otherwise an empty string.
std::string AskDirectory(QWidget* parent);

}  // namespace app::ui
