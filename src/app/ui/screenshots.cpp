// Page screenshots; see screenshots.h.
#include "app/ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include "app/ui/frm_dir.h"
#include "app/ui/frm_main.h"
#include "app/ui/frm_setsize.h"
#include "platform/file_ops.h"
#include "platform/ui_services.h"

namespace app::ui {

namespace {

// While a run goes on: message boxes take their default answer, and the
// window is grabbed once, when the run processes messages for the file or
// row in the middle of the bar.
class GrabbingUi : public platform::UiServices {
 public:
  GrabbingUi(TfrmMain& window, QString file)
      : window_(window), file_(std::move(file)), previous_(platform::InstallUiServices(this)) {}
  ~GrabbingUi() override { platform::InstallUiServices(previous_); }
  GrabbingUi(const GrabbingUi&) = delete;
  GrabbingUi& operator=(const GrabbingUi&) = delete;

  platform::MsgResult MessageBox(std::string_view, std::string_view, platform::MsgButtons buttons,
                                 platform::MsgIcon, platform::MsgResult answer) override {
    return answer == platform::MsgResult::None ? platform::FirstButton(buttons) : answer;
  }
  void ProcessMessages() override {
    QApplication::processEvents();
    const QProgressBar& bar = *window_.ProgressBar1;
    if (!saved_ && bar.value() < bar.maximum() && bar.value() * 2 >= bar.maximum())
      saved_ = window_.grab().save(file_);
  }
  bool CancelRequested() override { return false; }
  bool Saved() const { return saved_; }

 private:
  TfrmMain& window_;
  QString file_;
  platform::UiServices* previous_;
  bool saved_ = false;
};

}  // namespace

constexpr char kRunSource[] = "D:\\Data";
constexpr char kRunFolder[] = "D:\\Out";
constexpr char kRunRestore[] = "D:\\Restored";

QStringList SaveScreenshots(TfrmMain& window, const QString& directory) {
  static const char* const kPageFiles[] = {"page-backup.png", "page-restore.png", "page-help.png"};
  QStringList written;
  QDir().mkpath(directory);
  const int previous = window.PageControl1->currentIndex();
  for (int page = 0; page < window.PageControl1->count(); ++page) {
    window.PageControl1->setCurrentIndex(page);
    QApplication::processEvents();
    const QString file = QDir(directory).filePath(QLatin1String(kPageFiles[page]));
    if (window.grab().save(file)) written << file;
  }
  window.PageControl1->setCurrentIndex(previous);

  // The two dialogs, shown without waiting for them.
  const auto saveDialog = [&](QWidget& dialog, const char* name) {
    dialog.show();
    QApplication::processEvents();
    const QString file = QDir(directory).filePath(QLatin1String(name));
    if (dialog.grab().save(file)) written << file;
    dialog.hide();
  };
  TfrmSetsize sizeDialog(&window);
  saveDialog(sizeDialog, "dialog-size.png");
  TfrmDir dirDialog(&window);
  saveDialog(dirDialog, "dialog-directory.png");

  // A backup of D:\Data into D:\Out and its restore below D:\Restored, each
  // grabbed halfway through.
  if (platform::DirectoryExists(kRunSource)) {
    platform::CreateDirectory(kRunFolder);
    window.SetSourceDir(kRunSource);
    window.SetNewBackupDir(kRunFolder);
    window.PageControl1->setCurrentIndex(0);
    {
      GrabbingUi ui(window, QDir(directory).filePath(QStringLiteral("run-backup.png")));
      window.btnStart->click();
      if (ui.Saved()) written << QDir(directory).filePath(QStringLiteral("run-backup.png"));
    }
    window.SetTargetFile(std::string(kRunFolder) + "\\Back.dat");
    window.SetRestoreDir(kRunRestore);
    window.PageControl1->setCurrentIndex(1);
    {
      GrabbingUi ui(window, QDir(directory).filePath(QStringLiteral("run-restore.png")));
      window.btnBack->click();
      if (ui.Saved()) written << QDir(directory).filePath(QStringLiteral("run-restore.png"));
    }
    window.PageControl1->setCurrentIndex(previous);
  }
  return written;
}

}  // namespace app::ui
