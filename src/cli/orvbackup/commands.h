// The commands of orvbackup, one file each (*_command.cpp), and the exit
// status they share. The status is stable for scripts:
//   0  success
//   1  the run or check failed (a file or row failed, problems found, a
//      backup file repaired)
//   2  usage error
//   3  the backup file cannot be opened (missing, locked past the lock
//      retries, damaged)
#pragma once

#include <string>
#include <string_view>

#include "arguments.h"

namespace orvbackup {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCannotOpen = 3;

int BackupCommand(const Options& o);
int BackupDryRun(const Options& o);
int RestoreCommand(const Options& o);
int ListCommand(const Options& o);
int VerifyCommand(const Options& o);
int SqlCommand(const Options& o);
int RepairCommand(const Options& o);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace orvbackup
