// orvbackup backup --dry-run: the scan of the source tree, with its
// exclusions, and one line per row the run would write, without opening the
// backup file for writing:
//   new        a file the backup file does not hold (every file of a backup
//              into new backup files)
//   changed    a file newer than its row
//   unchanged  with --changed-to-new-file: a row without content in the
//              dated file
#include <cstdio>
#include <map>
#include <utility>

#include "app/core/backup_list.h"
#include "app/core/path_patterns.h"
#include "app/core/source_scan.h"
#include "commands.h"

namespace orvbackup {

int BackupDryRun(const Options& o) {
  // The newest FileTime recorded for each (FileName, Path).
  std::map<std::pair<std::string, std::string>, std::int32_t> recorded;
  if (!o.into.empty()) {
    try {
      app::CatalogReader reader(o.into);
      reader.ForEach(app::RowDetail::None, [&](const app::CatalogRow& row) {
        auto [at, added] = recorded.try_emplace({row.name, row.path}, row.time);
        if (!added && row.time > at->second) at->second = row.time;
      });
    } catch (const app::BackupOpenError& e) {
      std::fprintf(stderr, "orvbackup: %s\n", e.what());
      return kExitCannotOpen;
    }
  }
  const app::PathPatterns excludes(o.excludes);
  app::TFileList files;
  app::ScanTree(files, o.source,
                [&](std::string_view path) { return excludes.MatchesEntry(path); });
  long long written = 0;
  for (const auto& file : files) {
    const char* action = "new";
    if (!o.into.empty()) {
      const auto row = recorded.find({file->Name, file->Path});
      if (row != recorded.end()) {
        if (row->second < file->Time) {
          action = "changed";
        } else if (o.changedToNewFile) {
          action = "unchanged";
        } else {
          continue;
        }
      }
    }
    ++written;
    std::printf("%-9s  %s%s\n", action, file->Path.c_str(), file->Name.c_str());
  }
  std::printf("%lld rows would be written\n", written);
  return kExitOk;
}

}  // namespace orvbackup
