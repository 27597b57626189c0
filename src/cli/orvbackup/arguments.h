// The command line of orvbackup, parsed into the settings of one run.
//
//   orvbackup backup SOURCE_DIR --to-dir DIR [--name BASE] [--size-limit MB] [--compress]
//   orvbackup backup SOURCE_DIR --into FILE.dat [--changed-to-new-file] [--compress]
//   orvbackup restore FILE.dat [--to DIR] [--overwrite ask|always|never]
//
// Paths are host or Windows paths; they are converted to Windows form here,
// once. Anything else is a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvbackup {

enum class Command { Help, Backup, Restore };
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
  std::string backupFile;  // restore: the backup file
  std::string restoreTo;   // restore: the directory below which to write
  std::optional<Overwrite> overwrite;
};

struct UsageError {
  std::string message;
};

extern const char* const kUsage;

// Parses argv[1..]; throws UsageError.
Options ParseArguments(const std::vector<std::string>& args);

}  // namespace orvbackup
