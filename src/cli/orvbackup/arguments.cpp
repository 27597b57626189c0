// Parsing of the orvbackup command line; see arguments.h.
#include "arguments.h"

#include <charconv>
#include <map>

#include "platform/paths.h"

namespace orvbackup {

const char* const kVersion = "orvbackup " ORV_VERSION "\n";

const char* const kUsage =
    "usage:\n"
    "  orvbackup backup SOURCE_DIR --to-dir DIR [--name BASE] [--size-limit MB] [--compress]\n"
    "                   [--exclude PATTERN]... [--dry-run]\n"
    "  orvbackup backup SOURCE_DIR --into FILE.dat [--changed-to-new-file] [--compress]\n"
    "                   [--exclude PATTERN]... [--dry-run]\n"
    "  orvbackup restore FILE.dat [--to DIR] [--overwrite ask|always|never]\n"
    "                   [--only PATTERN]... [--dry-run] [--keep-going]\n"
    "  orvbackup list FILE.dat [--long] [--json] [PATTERN...]\n"
    "  orvbackup verify FILE.dat [--json]\n"
    "  orvbackup sql FILE.dat [STATEMENT]\n"
    "  orvbackup repair FILE.dat\n"
    "  orvbackup --version | --help | COMMAND --help\n"
    "\n"
    "  --to-dir DIR            folder for new backup files (Back.dat, Back1.dat, ...)\n"
    "  --name BASE             base name of new backup files (default Back)\n"
    "  --size-limit MB         size of one backup file; the run continues in the next\n"
    "  --compress              store each file as a one-entry zip archive\n"
    "  --into FILE.dat         incremental backup into an existing backup file\n"
    "  --changed-to-new-file   new and changed files go into a new dated backup file\n"
    "  --exclude PATTERN       leave out files and directories that match\n"
    "  --dry-run               print what would be written, write nothing\n"
    "  --to DIR                restore below DIR instead of the recorded directories\n"
    "  --overwrite MODE        existing files of compressed rows: ask (default on a\n"
    "                          terminal), always or never (default otherwise)\n"
    "  --only PATTERN          restore only the rows that match (repeatable)\n"
    "  --keep-going            go on past a row that fails; report every failure\n"
    "  --long                  list: add the stored size and the CRC-32\n"
    "  --json                  list, verify: print one JSON document\n"
    "\n"
    "list prints one line per row: modification time, zip or raw, the file's size\n"
    "(or 'unchanged' for a row that records an unchanged file without content),\n"
    "[stored size, CRC-32,] and Path + FileName. verify checks the table's files,\n"
    "then reads every row: compressed rows must inflate with their CRC and size.\n"
    "sql runs the SQL shell of orvsql in the backup file's folder: STATEMENT, or\n"
    "the statements on standard input. repair rebuilds a damaged backup file as\n"
    "tablecheck --repair does, keeping the damaged files as <file>.damaged.\n"
    "\n"
    "PATTERN uses the zip wildcards * ? <a-z>, ignoring case: without a slash or\n"
    "backslash it matches a name ('*.tmp', 'cache'), otherwise a path from its\n"
    "start ('D:\\Data\\*', '/home/me/docs/*') or its end ('sub/*.txt').\n"
    "Paths may be host paths or Windows paths (D:\\Data). Status texts and the final\n"
    "message go to standard output; progress (files, bytes, rate, time left) to\n"
    "standard error on a terminal, and only its final line otherwise.\n"
    "\n"
    "Exit status: 0 success; 1 the run or check failed (a file failed, problems\n"
    "found, a backup file repaired); 2 usage error; 3 the backup file cannot be\n"
    "opened (missing, locked past the lock retries, damaged).\n";

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

const std::map<std::string, Command, std::less<>> kCommands = {
    {"backup", Command::Backup}, {"restore", Command::Restore}, {"list", Command::List},
    {"verify", Command::Verify}, {"sql", Command::Sql},         {"repair", Command::Repair},
};

void CheckOperands(const Options& o, const std::vector<std::string>& operands) {
  const std::size_t n = operands.size();
  switch (o.command) {
    case Command::List:
      if (n < 1) throw UsageError{"list needs a backup file"};
      return;
    case Command::Sql:
      if (n < 1 || n > 2) throw UsageError{"sql takes a backup file and at most one statement"};
      return;
    default:
      if (n != 1) throw UsageError{"expected exactly one path operand"};
  }
}

void CheckBackup(const Options& o, bool sizeGiven, bool nameGiven) {
  if (o.toDir.empty() == o.into.empty())
    throw UsageError{"backup needs exactly one of --to-dir and --into"};
  if (!o.into.empty() && (sizeGiven || nameGiven))
    throw UsageError{"--name and --size-limit go with --to-dir"};
  if (!o.toDir.empty() && o.changedToNewFile)
    throw UsageError{"--changed-to-new-file goes with --into"};
}

}  // namespace

Options ParseArguments(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError{"a command is missing"};
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") return o;
  if (args[0] == "--version") {
    o.command = Command::Version;
    return o;
  }
  const auto command = kCommands.find(args[0]);
  if (command == kCommands.end()) throw UsageError{"unknown command: " + args[0]};
  o.command = command->second;

  const bool backup = o.command == Command::Backup;
  const bool restore = o.command == Command::Restore;
  const bool list = o.command == Command::List;
  const bool verify = o.command == Command::Verify;
  std::vector<std::string> operands;
  bool sizeGiven = false, nameGiven = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
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
    } else if (backup && a == "--exclude") {
      o.excludes.push_back(value());
    } else if ((backup || restore) && a == "--dry-run") {
      o.dryRun = true;
    } else if (restore && a == "--to") {
      o.restoreTo = UserPath(value());
    } else if (restore && a == "--overwrite") {
      o.overwrite = OverwriteMode(value());
    } else if (restore && a == "--only") {
      o.only.push_back(value());
    } else if (restore && a == "--keep-going") {
      o.keepGoing = true;
    } else if (list && a == "--long") {
      o.longList = true;
    } else if ((list || verify) && a == "--json") {
      o.json = true;
    } else if (a.size() > 1 && a[0] == '-' && !(o.command == Command::Sql && !operands.empty())) {
      throw UsageError{"unknown option: " + a};
    } else {
      operands.push_back(a);
    }
  }
  CheckOperands(o, operands);
  if (backup) {
    o.source = UserPath(operands[0]);
    CheckBackup(o, sizeGiven, nameGiven);
    return o;
  }
  o.backupFile = UserPath(operands[0]);
  if (list) o.patterns.assign(operands.begin() + 1, operands.end());
  if (o.command == Command::Sql && operands.size() == 2) o.statement = operands[1];
  return o;
}

}  // namespace orvbackup
