// Parsing of the orvbackup command line; see arguments.h.
#include "arguments.h"

#include <charconv>

#include "platform/paths.h"

namespace orvbackup {

const char* const kUsage =
    "usage:\n"
    "  orvbackup backup SOURCE_DIR --to-dir DIR [--name BASE] [--size-limit MB] [--compress]\n"
    "  orvbackup backup SOURCE_DIR --into FILE.dat [--changed-to-new-file] [--compress]\n"
    "  orvbackup restore FILE.dat [--to DIR] [--overwrite ask|always|never]\n"
    "\n"
    "  --to-dir DIR            folder for new backup files (Back.dat, Back1.dat, ...)\n"
    "  --name BASE             base name of new backup files (default Back)\n"
    "  --size-limit MB         size of one backup file; the run continues in the next\n"
    "  --compress              store each file as a one-entry zip archive\n"
    "  --into FILE.dat         incremental backup into an existing backup file\n"
    "  --changed-to-new-file   new and changed files go into a new dated backup file\n"
    "  --to DIR                restore below DIR instead of the recorded directories\n"
    "  --overwrite MODE        existing files of compressed rows: ask (default on a\n"
    "                          terminal), always or never (default otherwise)\n"
    "\n"
    "Paths may be host paths or Windows paths (D:\\Data). Status texts and the final\n"
    "message go to standard output, a progress bar to standard error on a terminal.\n"
    "Exit status: 0 success, 1 the run failed, 2 usage error.\n";

namespace {

// A path given by the user, in Windows form without a trailing backslash
// (a drive root keeps its own).
std::string UserPath(const std::string& text) {
  std::string path = platform::FullPathName(platform::FromUserPath(text));
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::int32_t Megabytes(const std::string& text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0)
    throw UsageError{"--size-limit takes a number of megabytes: " + text};
  return value;
}

Overwrite OverwriteMode(const std::string& text) {
  if (text == "ask") return Overwrite::Ask;
  if (text == "always") return Overwrite::Always;
  if (text == "never") return Overwrite::Never;
  throw UsageError{"--overwrite takes ask, always or never: " + text};
}

}  // namespace

Options ParseArguments(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError{"a command is missing"};
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") return o;
  if (args[0] == "backup") {
    o.command = Command::Backup;
  } else if (args[0] == "restore") {
    o.command = Command::Restore;
  } else {
    throw UsageError{"unknown command: " + args[0]};
  }
  std::vector<std::string> operands;
  bool sizeGiven = false, nameGiven = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
    const bool backup = o.command == Command::Backup;
    if (a == "--help" || a == "-h") {
      o.command = Command::Help;
      return o;
    } else if (backup && a == "--to-dir") {
      o.toDir = UserPath(value());
    } else if (backup && a == "--name") {
      o.name = value();
      nameGiven = true;
      if (o.name.empty()) throw UsageError{"--name needs a base name"};
    } else if (backup && a == "--size-limit") {
      o.sizeLimitMB = Megabytes(value());
      sizeGiven = true;
    } else if (backup && a == "--compress") {
      o.compress = true;
    } else if (backup && a == "--into") {
      o.into = UserPath(value());
    } else if (backup && a == "--changed-to-new-file") {
      o.changedToNewFile = true;
    } else if (!backup && a == "--to") {
      o.restoreTo = UserPath(value());
    } else if (!backup && a == "--overwrite") {
      o.overwrite = OverwriteMode(value());
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option: " + a};
    } else {
      operands.push_back(a);
    }
  }
  if (operands.size() != 1) throw UsageError{"expected exactly one path operand"};
  if (o.command == Command::Restore) {
    o.backupFile = UserPath(operands[0]);
    return o;
  }
  o.source = UserPath(operands[0]);
  if (o.toDir.empty() == o.into.empty())
    throw UsageError{"backup needs exactly one of --to-dir and --into"};
  if (!o.into.empty() && (sizeGiven || nameGiven))
    throw UsageError{"--name and --size-limit go with --to-dir"};
  if (!o.toDir.empty() && o.changedToNewFile)
    throw UsageError{"--changed-to-new-file goes with --into"};
  return o;
}

}  // namespace orvbackup
