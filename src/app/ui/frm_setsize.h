// The size-limit dialog: a combo box of presets, an edit for a custom number
// of megabytes that accepts only digits, and a button that confirms.
//
// FSize always holds the value the dialog shows: it starts at the limit passed
// in, a preset sets it, typing in the edit sets it (a text that is not a number
// gives 10). However the dialog is closed, AskSizeLimit returns FSize.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>

namespace app::ui {

class TfrmSetsize : public QDialog {
 public:
  explicit TfrmSetsize(QWidget* parent = nullptr);

  QComboBox* cmbDataBasesSize;
  QLineEdit* edtSetDBSize;
  QPushButton* Button1;
  std::int32_t FSize = 0;

  // The combo's text changed: a preset sets FSize; only "自行設定" leaves the
  // edit enabled, any other text disables and empties it.
  void cmbDataBasesSizeChange(const QString& text);
  // The user changed the edit's text.
  void edtSetDBSizeChange(const QString& text);

 protected:
  // The edit's key filter: digits, Backspace, Enter and Escape pass.
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Shows the dialog modally, starting from `current`, and returns the size it
// shows when closed, however it was closed.
std::int32_t AskSizeLimit(QWidget* parent, std::int32_t current);

}  // namespace app::ui
