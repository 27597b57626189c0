// The program `backup`: one window holding every setting of a run.
//
// Start-up, in this order: the engine's session list with its "Default"
// session, the toolkit's application object, the main window TfrmMain, the
// catalog data module TDataModuleRx; then the message loop until the main
// window closes. The user-interface services (message boxes, processing of
// pending messages) are installed for everything below the window for as long
// as the loop runs.
//
// BACKUP_SCREENSHOT_DIR=<dir> saves a picture of each page into <dir> and ends
// the program instead of waiting for the user (scripts/screenshots.sh).
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/ui/frm_main.h"
#include "app/ui/qt_ui_services.h"
#include "app/ui/screenshots.h"
#include "engine/components/zorvad_session.h"
#include "platform/ui_services.h"

namespace {

constexpr int kScreenshotDelayMs = 300;  // lets the window manager map and draw the window

// Keeps the Qt services installed while the loop runs, and removes them on every path.
class InstalledUiServices {
 public:
  InstalledUiServices() { previous_ = platform::InstallUiServices(&services_); }
  ~InstalledUiServices() { platform::InstallUiServices(previous_); }
  InstalledUiServices(const InstalledUiServices&) = delete;
  InstalledUiServices& operator=(const InstalledUiServices&) = delete;

 private:
  app::ui::QtUiServices services_;
  platform::UiServices* previous_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::puts("backup " ORV_VERSION);
    return EXIT_SUCCESS;
  }
  // The engine's session list with its "Default" session exists before the
  // window and the catalog.
  engine::Sessions();

  QApplication application(argc, argv);
  InstalledUiServices ui;

  app::ui::TfrmMain frmMain;

  // The window's application core has created the catalog data module
  // TDataModuleRx with its two database and three query components.

  frmMain.show();

  if (const char* dir = std::getenv("BACKUP_SCREENSHOT_DIR"); dir != nullptr && *dir != '\0') {
    int status = EXIT_SUCCESS;
    QTimer::singleShot(kScreenshotDelayMs, &frmMain, [&] {
      const QStringList files = app::ui::SaveScreenshots(frmMain, QString::fromLocal8Bit(dir));
      for (const QString& file : files) std::printf("%s\n", file.toLocal8Bit().constData());
      if (files.size() < frmMain.PageControl1->count() + 2) status = EXIT_FAILURE;
      QApplication::quit();
    });
    application.exec();
    return status;
  }
  return application.exec();
}
