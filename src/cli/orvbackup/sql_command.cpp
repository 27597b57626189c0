// orvbackup sql: the SQL shell of orvsql, opened on the backup file's folder,
// so that the backup file is a table by its own name ("select * from
// \"Back.dat\"" or Back). STATEMENT runs alone; without it the statements
// come from standard input, with prompts on a terminal.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "app/core/catalog.h"
#include "commands.h"
#include "platform/file_ops.h"
#include "shell_session.h"

namespace orvbackup {

int SqlCommand(const Options& o) {
  if (!platform::FileExists(o.backupFile)) {
    std::fprintf(stderr, "orvbackup: the backup file does not exist: %s\n", o.backupFile.c_str());
    return kExitCannotOpen;
  }
  std::string folder, name;
  app::TDataModuleRx::SplitFilePath(o.backupFile, folder, name);
  orvsql::ShellSessionOptions options;
  try {
    if (o.statement) {
      std::istringstream in(*o.statement);
      return orvsql::RunShellSession(folder, in, options, stdout, stderr);
    }
    options.interactive = ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0;
    return orvsql::RunShellSession(folder, std::cin, options, stdout, stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvbackup: %s\n", e.what());
    return kExitCannotOpen;
  }
}

}  // namespace orvbackup
