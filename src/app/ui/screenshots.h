// Pictures of the main window's pages for the documentation: each page is
// grabbed as the window draws it and saved as a PNG. Used by
// scripts/screenshots.sh through the program's BACKUP_SCREENSHOT_DIR variable.
#pragma once

#include <QString>
#include <QStringList>

namespace app::ui {

class TfrmMain;

// Shows each page of `window` in turn and saves it into `directory` as
// page-backup.png, page-restore.png and page-help.png, then the size and
// directory dialogs as dialog-size.png and dialog-directory.png; when D:\Data
// exists, a backup of it into D:\Out and its restore below D:\Restored, each
// grabbed halfway as run-backup.png and run-restore.png. Returns the files
// written; a file that could not be saved is left out.
QStringList SaveScreenshots(TfrmMain& window, const QString& directory);

}  // namespace app::ui
