// orvbackup backup and restore: the runs of the application core, with the
// window's texts on standard output, and the command line's additions:
// excluded paths, rows chosen by pattern, a dry run of the restore and a
// restore that goes on past failing rows.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/core/backup_application.h"
#include "app/core/backup_list.h"
#include "app/core/path_patterns.h"
#include "commands.h"
#include "console_front.h"
#include "platform/file_ops.h"

namespace orvbackup {

namespace {

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

// The backup file must open before a run reads it.
bool Openable(const std::string& file) {
  try {
    app::CatalogReader reader(file);
    return true;
  } catch (const app::BackupOpenError& e) {
    std::cerr << "orvbackup: " << e.what() << '\n';
    return false;
  }
}

}  // namespace

int BackupCommand(const Options& o) {
  if (o.dryRun) return BackupDryRun(o);
  if (!o.into.empty() && !Openable(o.into)) return kExitCannotOpen;
  ConsoleView view(StderrIsTerminal());
  ConsoleUi ui(view, Overwrite::Never);
  app::BackupApplication core(view);
  const app::PathPatterns excludes(o.excludes);
  if (!excludes.Empty())
    core.MutableState().ScanExclude = [&](std::string_view path) {
      return excludes.MatchesEntry(path);
    };
  view.SetItemBytes([&core](int position) -> std::int64_t {
    const app::TFileList& list = *core.State().FFileList;
    if (position < 1 || position > static_cast<int>(list.size())) return 0;
    const app::TFileDatas& f = *list[static_cast<std::size_t>(position - 1)];
    return static_cast<std::int64_t>(platform::GetFileSize(f.Path + f.Name).value_or(0));
  });
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
  const bool ran = core.ExecuteRun(app::RunKind::Backup);
  view.Finish();
  if (!ran) return kExitFailed;
  return ui.ErrorShown() ? kExitFailed : kExitOk;
}

int RestoreCommand(const Options& o) {
  if (!Openable(o.backupFile)) return kExitCannotOpen;
  const Overwrite overwrite =
      o.overwrite.value_or(::isatty(STDIN_FILENO) ? Overwrite::Ask : Overwrite::Never);
  ConsoleView view(StderrIsTerminal());
  view.SetUnit("rows");
  ConsoleUi ui(view, overwrite);
  app::BackupApplication core(view);
  const app::PathPatterns only(o.only);
  app::MainState& state = core.MutableState();
  if (!only.Empty())
    state.RestoreRowFilter = [&](std::string_view path) { return only.MatchesRow(path); };
  if (o.dryRun) {
    state.RestoreDryRun = [&](const std::string&, const std::string& target) {
      view.EndBar();
      std::cout << "would write " << target << '\n';
    };
  }
  state.RestoreKeepGoing = o.keepGoing;
  core.SetTargetFile(o.backupFile);
  core.SetRestoreDir(o.restoreTo);
  const bool ran = core.ExecuteRun(app::RunKind::Restore);
  view.Finish();
  if (!ran) return kExitFailed;
  for (const std::string& failure : state.RestoreFailures)
    std::cerr << "orvbackup: failed: " << failure << '\n';
  if (!state.RestoreFailures.empty()) {
    std::cerr << "orvbackup: " << state.RestoreFailures.size() << " rows failed\n";
    return kExitFailed;
  }
  return ui.ErrorShown() ? kExitFailed : kExitOk;
}

}  // namespace orvbackup
