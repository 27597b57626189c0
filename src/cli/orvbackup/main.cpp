// orvbackup: the backup program on the command line, over the same
// application core as the window (see arguments.h for the command line and
// commands.h for the exit status).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"

namespace {

int Dispatch(const orvbackup::Options& o) {
  using orvbackup::Command;
  switch (o.command) {
    case Command::Backup:
      return orvbackup::BackupCommand(o);
    case Command::Restore:
      return orvbackup::RestoreCommand(o);
    case Command::List:
      return orvbackup::ListCommand(o);
    case Command::Verify:
      return orvbackup::VerifyCommand(o);
    case Command::Sql:
      return orvbackup::SqlCommand(o);
    case Command::Repair:
      return orvbackup::RepairCommand(o);
    case Command::Version:
      std::cout << orvbackup::kVersion;
      return orvbackup::kExitOk;
    case Command::Help:
      break;
  }
  std::cout << orvbackup::kUsage;
  return orvbackup::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  orvbackup::Options options;
  try {
    options = orvbackup::ParseArguments(args);
  } catch (const orvbackup::UsageError& e) {
    std::cerr << "orvbackup: " << e.message << "\n" << orvbackup::kUsage;
    return orvbackup::kExitUsage;
  }
  try {
    return Dispatch(options);
  } catch (const std::exception& e) {
    std::cout << e.what() << '\n';
    return orvbackup::kExitFailed;
  }
}
