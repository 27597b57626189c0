// The command line of orvbackup, parsed into the settings of one command.
//
//   orvbackup backup SOURCE_DIR --to-dir DIR [--name BASE] [--size-limit MB] [--compress]
//                    [--exclude PATTERN]... [--dry-run]
//   orvbackup backup SOURCE_DIR --into FILE.dat [--changed-to-new-file] [--compress]
//                    [--exclude PATTERN]... [--dry-run]
//   orvbackup restore FILE.dat [--to DIR] [--overwrite ask|always|never]
//                    [--only PATTERN]... [--dry-run] [--keep-going]
//   orvbackup list FILE.dat [--long] [--json] [PATTERN...]
//   orvbackup verify FILE.dat [--json]
//   orvbackup sql FILE.dat [STATEMENT]
//   orvbackup repair FILE.dat
//   orvbackup --version | --help | COMMAND --help
//
// Paths are host or Windows paths; they are converted to Windows form here,
// once. Patterns stay as given (path_patterns.h reads them). Anything else is
// a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvbackup {

enum class Command { Help, Version, Backup, Restore, List, Verify, Sql, Repair };
enum class Overwrite { Ask, Always, Never };

struct Options {
  Command command = Command::Help;
  std::string source;  // backup: the source directory, Windows form
  std::string toDir;   // backup into new files: their folder
  std::string name = "Back";
  std::int32_t sizeLimitMB = 0;
  bool compress = false;
  std::string into;  // incremental backup: the existing backup file
  bool changedToNewFile = false;
  std::vector<std::string> excludes;  // backup: files and directories left out
  bool dryRun = false;                // backup, restore: report, write nothing
  std::string backupFile;             // restore, list, verify, sql, repair: the backup file
  std::string restoreTo;              // restore: the directory below which to write
  std::optional<Overwrite> overwrite;
  std::vector<std::string> only;         // restore: the rows to write back
  bool keepGoing = false;                // restore: go on past a failing row
  bool longList = false;                 // list: stored size and CRC-32 too
  bool json = false;                     // list, verify: one JSON document
  std::vector<std::string> patterns;     // list: the rows to show
  std::optional<std::string> statement;  // sql: one statement instead of standard input
};

struct UsageError {
  std::string message;
};

extern const char* const kUsage;
extern const char* const kVersion;

// Parses argv[1..]; throws UsageError.
Options ParseArguments(const std::vector<std::string>& args);

}  // namespace orvbackup
