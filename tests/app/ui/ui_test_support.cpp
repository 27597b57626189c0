// Helpers of the window tests; see ui_test_support.h.
#include "ui_test_support.h"

#include <unistd.h>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <fstream>

#include "platform/paths.h"

namespace app::ui::testing {

namespace {
constexpr int kPollIntervalMs = 10;
constexpr int kPollAttempts = 500;  // 5 seconds
constexpr int kCloseAfterMs = 2000;
}  // namespace

platform::MsgResult RecordingUi::MessageBox(std::string_view text, std::string_view,
                                            platform::MsgButtons, platform::MsgIcon,
                                            platform::MsgResult defaultResult) {
  boxes.emplace_back(text);
  return defaultResult;
}

TempDrive::TempDrive(char letter) : letter_(letter) {
  static std::atomic<int> counter{0};
  root_ = std::filesystem::temp_directory_path() /
          ("orv_ui_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
  platform::SetDrive(letter_, root_.string());
}

TempDrive::~TempDrive() {
  platform::RemoveDrive(letter_);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void TempDrive::MakeFile(const std::string& relative, const std::string& content) const {
  const std::filesystem::path file = root_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << content;
}

void TempDrive::MakeDir(const std::string& relative) const {
  std::filesystem::create_directories(root_ / relative);
}

void OnNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer(qApp);
  auto attempts = std::make_shared<int>(0);
  timer->setInterval(kPollIntervalMs);
  QObject::connect(timer, &QTimer::timeout, [timer, attempts, act = std::move(act)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && ++*attempts < kPollAttempts) return;
    timer->stop();
    timer->deleteLater();
    if (modal == nullptr) return;
    act(modal);
    // A dialog the action failed to close is closed here, so that a failing
    // test ends with its failure instead of waiting forever.
    QTimer::singleShot(kCloseAfterMs, modal, [dialog = QPointer<QWidget>(modal)] {
      if (dialog != nullptr && dialog->isVisible()) {
        if (auto* box = qobject_cast<QDialog*>(dialog.data())) box->reject();
      }
    });
  });
  timer->start();
}

}  // namespace app::ui::testing
