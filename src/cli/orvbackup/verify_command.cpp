// orvbackup verify: the table check and every row read back (see
// app/core/backup_verify.h), a summary line and one line per problem.
#include <unistd.h>

#include <cstdio>

#include "app/core/backup_list.h"
#include "app/core/backup_verify.h"
#include "commands.h"
#include "progress_line.h"

namespace orvbackup {

int VerifyCommand(const Options& o) {
  app::VerifyReport report;
  try {
    ProgressLine progress(::isatty(STDERR_FILENO) != 0);
    bool started = false;
    report = app::VerifyBackup(o.backupFile, [&](std::int64_t done, std::int64_t total) {
      if (!started) progress.Start(total, -1, "rows");
      started = true;
      progress.Update(done, 0);
    });
  } catch (const app::BackupOpenError& e) {
    std::fprintf(stderr, "orvbackup: %s\n", e.what());
    return kExitCannotOpen;
  }
  if (o.json) {
    std::string text = "{\"file\": " + JsonString(o.backupFile) +
                       ", \"rows\": " + std::to_string(report.rows) +
                       ", \"bytes\": " + std::to_string(report.bytes) + ", \"problems\": [";
    bool first = true;
    for (const app::VerifyProblem& p : report.problems) {
      text += std::string(first ? "" : ",") + "\n  {\"where\": " + JsonString(p.where) +
              ", \"what\": " + JsonString(p.what) + "}";
      first = false;
    }
    text += first ? "]}\n" : "\n]}\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    for (const app::VerifyProblem& p : report.problems)
      std::printf("problem: %s: %s\n", p.where.c_str(), p.what.c_str());
    std::printf("%s: %lld rows, %lld bytes, %zu problems\n", o.backupFile.c_str(),
                static_cast<long long>(report.rows), static_cast<long long>(report.bytes),
                report.problems.size());
  }
  return report.Ok() ? kExitOk : kExitFailed;
}

}  // namespace orvbackup
