// orvbackup repair: the engine's repair of a backup file's three files, with
// its report, as tablecheck --repair prints it. Exit status: 0 the file was
// sound (nothing repaired), 1 it was repaired, 3 it could not be repaired.
#include <cstdio>

#include "commands.h"
#include "engine/errors.h"
#include "engine/table/table_repair.h"
#include "platform/file_ops.h"

namespace orvbackup {

int RepairCommand(const Options& o) {
  const std::string& name = o.backupFile;
  if (!platform::FileExists(name)) {
    std::fprintf(stderr, "orvbackup: the backup file does not exist: %s\n", name.c_str());
    return kExitCannotOpen;
  }
  engine::TTableRepairReport report;
  try {
    report = engine::RepairTableSet(name);
  } catch (const engine::EZORVADEngineError& e) {
    std::printf("%s: not repaired: %s\n", name.c_str(), e.Message().c_str());
    return kExitCannotOpen;
  }
  std::fputs(report.Describe().c_str(), stdout);
  if (!report.refusal.empty()) {
    std::printf("%s: not repaired\n", name.c_str());
    return kExitCannotOpen;
  }
  if (!report.repaired) {
    std::printf("%s: no problems found, nothing repaired\n", name.c_str());
    return kExitOk;
  }
  std::printf("%s: repaired, %lld records kept, %zu dropped\n", name.c_str(),
              static_cast<long long>(report.keptRecords), report.dropped.size());
  return kExitFailed;
}

}  // namespace orvbackup
