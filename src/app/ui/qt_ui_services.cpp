// Message boxes and event processing over Qt; see qt_ui_services.h.
#include "app/ui/qt_ui_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>
#include <vector>

#include "app/ui/qt_text.h"

namespace app::ui {

namespace {

using platform::MsgButtons;
using platform::MsgResult;

// Each answer of a box with the Qt button that gives it.
const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>>& ButtonsOf(MsgButtons set) {
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kOk = {
      {MsgResult::Ok, QMessageBox::Ok}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kOkCancel = {
      {MsgResult::Ok, QMessageBox::Ok}, {MsgResult::Cancel, QMessageBox::Cancel}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kYesNo = {
      {MsgResult::Yes, QMessageBox::Yes}, {MsgResult::No, QMessageBox::No}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kYesNoCancel = {
      {MsgResult::Yes, QMessageBox::Yes},
      {MsgResult::No, QMessageBox::No},
      {MsgResult::Cancel, QMessageBox::Cancel}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kAbortRetryIgnore = {
      {MsgResult::Abort, QMessageBox::Abort},
      {MsgResult::Retry, QMessageBox::Retry},
      {MsgResult::Ignore, QMessageBox::Ignore}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kRetryCancel = {
      {MsgResult::Retry, QMessageBox::Retry}, {MsgResult::Cancel, QMessageBox::Cancel}};
  static const std::vector<std::pair<MsgResult, QMessageBox::StandardButton>> kYesNoAll = {
      {MsgResult::Yes, QMessageBox::Yes},
      {MsgResult::No, QMessageBox::No},
      {MsgResult::YesToAll, QMessageBox::YesToAll},
      {MsgResult::NoToAll, QMessageBox::NoToAll}};
  switch (set) {
    case MsgButtons::Ok:
      return kOk;
    case MsgButtons::OkCancel:
      return kOkCancel;
    case MsgButtons::YesNo:
      return kYesNo;
    case MsgButtons::YesNoCancel:
      return kYesNoCancel;
    case MsgButtons::AbortRetryIgnore:
      return kAbortRetryIgnore;
    case MsgButtons::RetryCancel:
      return kRetryCancel;
    case MsgButtons::YesNoAll:
      return kYesNoAll;
  }
  return kOk;
}

QMessageBox::Icon IconOf(platform::MsgIcon icon) {
  switch (icon) {
    case platform::MsgIcon::Information:
      return QMessageBox::Information;
    case platform::MsgIcon::Warning:
      return QMessageBox::Warning;
    case platform::MsgIcon::Error:
      return QMessageBox::Critical;
    case platform::MsgIcon::Question:
      return QMessageBox::Question;
    case platform::MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

platform::MsgResult QtUiServices::MessageBox(std::string_view text, std::string_view caption,
                                             platform::MsgButtons buttons, platform::MsgIcon icon,
                                             platform::MsgResult defaultResult) {
  const auto& answers = ButtonsOf(buttons);
  QMessageBox box(IconOf(icon), Q(caption), Q(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  QMessageBox::StandardButtons standard;
  for (const auto& [result, button] : answers) standard |= button;
  box.setStandardButtons(standard);
  for (const auto& [result, button] : answers) {
    if (result == defaultResult) box.setDefaultButton(button);
  }
  const auto chosen = static_cast<QMessageBox::StandardButton>(box.exec());
  for (const auto& [result, button] : answers) {
    if (button == chosen) return result;
  }
  // Closed without a button (Escape or the close box): the box's cancelling answer.
  for (const auto& [result, button] : answers) {
    if (result == MsgResult::Cancel || result == MsgResult::No) return result;
  }
  return answers.front().first;
}

void QtUiServices::ProcessMessages() {
  QCoreApplication::processEvents();
}

}  // namespace app::ui
