// Page screenshots; see screenshots.h.
#include "app/ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "app/ui/frm_dir.h"
#include "app/ui/frm_main.h"
#include "app/ui/frm_setsize.h"

namespace app::ui {

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
  return written;
}

}  // namespace app::ui
