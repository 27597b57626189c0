// The backup and restore runs behind btnStart and btnBack, over the catalog
// data module and the compressed storage that the core owns.
#include "app/core/backup_application.h"
#include "app/core/backup_run.h"
#include "app/core/restore_run.h"

namespace app {

bool BackupApplication::RunBackup() {
  if (!ScanSource()) return false;
  TBackupRun run(state_, view_, *rx_, *storage_);
  return run.Execute();
}

void BackupApplication::RunRestore() {
  TRestoreRun run(state_, view_, *rx_, *storage_);
  run.Execute();
}

}  // namespace app
