// orvbackup: the backup program's runs on the command line, over the same
// application core as the window (see arguments.h for the command line).
//
// Exit status: 0 after the run's success message (or an empty source tree),
// 1 after its failure message or an error, 2 for a usage error.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/core/backup_application.h"
#include "arguments.h"
#include "console_front.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Run(const orvbackup::Options& o) {
  using orvbackup::Overwrite;
  const Overwrite overwrite =
      o.overwrite.value_or(::isatty(STDIN_FILENO) ? Overwrite::Ask : Overwrite::Never);
  orvbackup::ConsoleView view(::isatty(STDERR_FILENO) != 0);
  orvbackup::ConsoleUi ui(view, overwrite);
  app::BackupApplication core(view);
  bool started = false;
  if (o.command == orvbackup::Command::Backup) {
    core.SetSourceDir(o.source);
    core.SetCompress(o.compress);
    if (!o.toDir.empty()) {
      core.SetNewBackupDir(o.toDir);
      core.SetBackFileName(o.name);
      core.SetSizeLimit(o.sizeLimitMB);
    } else {
      core.SetTargetFile(o.into);
      core.SetBackNewFile(o.changedToNewFile);
    }
    started = core.ExecuteRun(app::RunKind::Backup);
  } else {
    core.SetTargetFile(o.backupFile);
    core.SetRestoreDir(o.restoreTo);
    started = core.ExecuteRun(app::RunKind::Restore);
  }
  if (!started) return kExitFailed;
  return ui.ErrorShown() ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  orvbackup::Options options;
  try {
    options = orvbackup::ParseArguments(args);
  } catch (const orvbackup::UsageError& e) {
    std::cerr << "orvbackup: " << e.message << "\n" << orvbackup::kUsage;
    return kExitUsage;
  }
  if (options.command == orvbackup::Command::Help) {
    std::cout << orvbackup::kUsage;
    return kExitOk;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::cout << e.what() << '\n';
    return kExitFailed;
  }
}
