// The backup and restore runs behind btnStart and btnBack.
//
// The catalog and the table engine they write through are not part of this
// build yet. Until they are, a run says so with an error that the run frame
// shows to the user; it never reports a success it did not have. The backup
// run already scans the source tree first, so that an empty tree ends it
// quietly as it will in the finished run.
#include <stdexcept>
#include <string>

#include "app/core/backup_application.h"
#include "app/core/texts.h"

namespace app {

bool BackupApplication::RunBackup() {
  if (!ScanSource()) return false;
  throw std::runtime_error(std::string(texts::kBackupNotAvailable));
}

void BackupApplication::RunRestore() {
  throw std::runtime_error(std::string(texts::kRestoreNotAvailable));
}

}  // namespace app
