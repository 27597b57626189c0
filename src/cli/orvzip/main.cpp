// orvzip: the zip component on the command line.
//
//   orvzip add [--level N] [--recurse] [--store-paths] [--relative-to DIR]
//              [--action update|replace|freshen] [--exclude PATTERN]...
//              [--no-compress PATTERN]... [--password P] ARCHIVE FILE_OR_PATTERN...
//   orvzip list [--verbose] ARCHIVE
//   orvzip test [--password P] ARCHIVE
//   orvzip extract [--dest DIR] [--recreate-dirs]
//                  [--overwrite prompt|always|never|newer|older] [--password P]
//                  ARCHIVE [PATTERN...]
//
// Paths may be host paths or Windows paths (platform::FromUserPath). Exit
// status: 0 all went well, 1 an entry failed or was skipped, 2 usage error,
// 3 the archive itself is unusable. Every failure prints a message on
// standard error.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/win_error.h"
#include "terminal_ui.h"
#include "zip/file_utils.h"
#include "zip/unzip_reader.h"
#include "zip/wildcard.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"

namespace orvzip {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitEntryFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitArchiveUnusable = 3;

constexpr const char* kUsage =
    "usage:\n"
    "  orvzip add [--level N] [--recurse] [--store-paths] [--relative-to DIR]\n"
    "             [--action update|replace|freshen] [--exclude PATTERN]...\n"
    "             [--no-compress PATTERN]... [--password P] ARCHIVE FILE_OR_PATTERN...\n"
    "  orvzip list [--verbose] ARCHIVE\n"
    "  orvzip test [--password P] ARCHIVE\n"
    "  orvzip extract [--dest DIR] [--recreate-dirs]\n"
    "                 [--overwrite prompt|always|never|newer|older] [--password P]\n"
    "                 ARCHIVE [PATTERN...]\n";

struct UsageError {
  std::string message;
};

// Parsed command line: flags, options with values (repeatable) and operands.
struct Arguments {
  std::string command;
  std::map<std::string, std::vector<std::string>> options;
  std::vector<std::string> flags;
  std::vector<std::string> operands;

  bool Flag(const std::string& name) const {
    return std::find(flags.begin(), flags.end(), name) != flags.end();
  }
  std::optional<std::string> Option(const std::string& name) const {
    const auto it = options.find(name);
    if (it == options.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
  }
  std::vector<std::string> All(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::vector<std::string>() : it->second;
  }
};

// The options each command accepts: true for those that take a value.
const std::map<std::string, std::map<std::string, bool>> kCommandOptions = {
    {"add",
     {{"--level", true},
      {"--recurse", false},
      {"--store-paths", false},
      {"--relative-to", true},
      {"--action", true},
      {"--exclude", true},
      {"--no-compress", true},
      {"--password", true}}},
    {"list", {{"--verbose", false}}},
    {"test", {{"--password", true}}},
    {"extract",
     {{"--dest", true}, {"--recreate-dirs", false}, {"--overwrite", true}, {"--password", true}}},
};

Arguments Parse(int argc, char** argv) {
  if (argc < 2) throw UsageError{"no command given"};
  Arguments args;
  args.command = argv[1];
  const auto known = kCommandOptions.find(args.command);
  if (known == kCommandOptions.end()) throw UsageError{"unknown command \"" + args.command + "\""};
  bool operandsOnly = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!operandsOnly && arg == "--") {
      operandsOnly = true;
      continue;
    }
    if (operandsOnly || arg.size() < 2 || arg.rfind("--", 0) != 0) {
      args.operands.push_back(arg);
      continue;
    }
    const auto option = known->second.find(arg);
    if (option == known->second.end()) {
      throw UsageError{"unknown option " + arg + " for \"" + args.command + "\""};
    }
    if (option->second) {
      if (i + 1 >= argc) throw UsageError{"option " + arg + " needs a value"};
      args.options[arg].push_back(argv[++i]);
    } else {
      args.flags.push_back(arg);
    }
  }
  if (args.operands.empty()) throw UsageError{"no archive given"};
  return args;
}

// A user's path or pattern in Windows form. Wildcards stay as they are: only
// the directory part is converted.
std::string WindowsPath(const std::string& user) {
  const std::size_t cut = user.find_last_of("/\\");
  const std::string name = cut == std::string::npos ? user : user.substr(cut + 1);
  if (!zip::HasWildcards(name)) return platform::FromUserPath(user);
  if (cut == std::string::npos) return name;
  std::string directory = platform::FromUserPath(user.substr(0, cut + 1));
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory + name;
}

// An entry pattern as the reader matches it: backslashes between directories.
std::string EntryPattern(std::string pattern) {
  std::replace(pattern.begin(), pattern.end(), '/', '\\');
  return pattern;
}

const char* SkipText(zip::TSkipReason reason) {
  switch (reason) {
    case zip::TSkipReason::srBadPassword:
      return "wrong or missing password";
    case zip::TSkipReason::srNoOverwrite:
      return "not replaced";
    case zip::TSkipReason::srFileOpenError:
      return "cannot be opened";
    case zip::TSkipReason::srCreateError:
      return "cannot be created";
    case zip::TSkipReason::srUnsupported:
      return "cannot be read from the archive";
  }
  return "skipped";
}

// Reports problems with single entries and remembers that one happened.
template <typename Component>
void WatchEntries(Component& z, bool& failed) {
  z.OnSkippingFile = [&failed](zip::TSkipReason reason, const std::string& name, int, bool&) {
    std::cerr << "orvzip: skipped " << name << ": " << SkipText(reason) << "\n";
    failed = true;
  };
  z.OnBadCRC = [&z, &failed](std::uint32_t calc, std::uint32_t stored, int index) {
    char text[64];
    std::snprintf(text, sizeof text, "CRC %08X, expected %08X", calc, stored);
    std::cerr << "orvzip: " << z.FileName(index) << ": bad data (" << text << ")\n";
    failed = true;
  };
  z.OnZipMessage = [](const std::string& message) { std::cerr << "orvzip: " << message << "\n"; };
}

int Add(const Arguments& args) {
  if (args.operands.size() < 2) throw UsageError{"add needs an archive and files"};
  zip::TOrvZip zipper;
  if (const auto level = args.Option("--level")) {
    if (level->size() != 1 || (*level)[0] < '0' || (*level)[0] > '9') {
      throw UsageError{"--level takes 0-9, not \"" + *level + "\""};
    }
    zipper.SetPackLevel((*level)[0] - '0');
  }
  if (const auto root = args.Option("--relative-to")) {
    zipper.SetRootDir(platform::FromUserPath(*root));
    zipper.SetRelativePaths(true);
  }
  if (args.Flag("--store-paths")) zipper.SetStorePaths(true);
  zipper.Recurse = args.Flag("--recurse");
  if (const auto action = args.Option("--action")) {
    static const std::map<std::string, zip::TZipAction> kActions = {
        {"update", zip::TZipAction::zaUpdate},
        {"replace", zip::TZipAction::zaReplace},
        {"freshen", zip::TZipAction::zaFreshen}};
    const auto it = kActions.find(*action);
    if (it == kActions.end()) throw UsageError{"unknown --action \"" + *action + "\""};
    zipper.ZipAction = it->second;
  }
  for (const std::string& p : args.All("--exclude")) zipper.ExcludeList.push_back(EntryPattern(p));
  for (const std::string& p : args.All("--no-compress")) {
    zipper.NoCompressList.push_back(EntryPattern(p));
  }
  if (const auto password = args.Option("--password")) zipper.Password = *password;
  zipper.SetZipName(platform::FromUserPath(args.operands[0]));
  for (std::size_t i = 1; i < args.operands.size(); ++i) {
    std::string line = WindowsPath(args.operands[i]);
    // A directory stands for the files in it (and below it with --recurse).
    if (!zip::HasWildcards(line) && zip::DirExists(line)) {
      if (line.back() != '\\') line += '\\';
      line += "*";
    }
    zipper.FilesList.push_back(line);
  }
  bool failed = false;
  WatchEntries(zipper, failed);
  zipper.OnNoSuchFile = [&failed](const std::string& name) {
    std::cerr << "orvzip: no such file: " << name << "\n";
    failed = true;
  };
  int kept = 0;
  zipper.OnUpdate = [&kept](int action, int) { kept += action == zip::kUpdateKeeping ? 1 : 0; };
  TerminalUi ui(false);
  const int added = zipper.Zip();
  std::cout << "added " << added << " file(s) to " << zipper.ZipName() << "\n";
  if (added == 0 && kept == 0 && !failed) {
    std::cerr << "orvzip: no files matched\n";
    return kExitEntryFailed;
  }
  return failed ? kExitEntryFailed : kExitOk;
}

std::string MethodName(std::uint16_t method) {
  static const std::map<std::uint16_t, std::string> kNames = {
      {0, "Stored"},  {1, "Shrunk"},  {2, "Reduce1"}, {3, "Reduce2"},
      {4, "Reduce3"}, {5, "Reduce4"}, {6, "Implode"}, {8, "Deflate"}};
  const auto it = kNames.find(method);
  return it == kNames.end() ? "Unk:" + std::to_string(method) : it->second;
}

std::string Attributes(std::uint32_t a) {
  std::string s;
  s += (a & 0x10) ? 'd' : '-';
  s += (a & 0x20) ? 'a' : '-';
  s += (a & 0x01) ? 'r' : '-';
  s += (a & 0x02) ? 'h' : '-';
  s += (a & 0x04) ? 's' : '-';
  return s;
}

int List(const Arguments& args) {
  if (args.operands.size() != 1) throw UsageError{"list takes one archive"};
  zip::TOrvUnZip reader;
  reader.SetZipName(platform::FromUserPath(args.operands[0]));
  reader.IncompleteZipMode = zip::TIncompleteZipMode::izAssumeNotAZip;
  reader.OnZipMessage = [](const std::string& message) {
    std::cerr << "orvzip: " << message << "\n";
  };
  TerminalUi ui(false);
  reader.ReadZip();
  const bool verbose = args.Flag("--verbose");
  if (verbose) {
    std::cout << " Method       Size   Packed  CRC-32    Date       Time     Attr  Name\n";
  }
  for (int i = 0; i < reader.Count(); ++i) {
    const zip::TZipHeaderInfo& h = reader.Entry(i);
    if (verbose) {
      const std::uint32_t t = reader.DosDateTime(i);
      char line[160];
      std::snprintf(line, sizeof line, " %-8s %10u %8u  %08X  %04u-%02u-%02u %02u:%02u:%02u  %s  ",
                    MethodName(h.CompressionMethod).c_str(),
                    static_cast<unsigned>(h.UncompressedSize),
                    static_cast<unsigned>(h.CompressedSize), h.CRC32, (t >> 25) + 1980,
                    (t >> 21) & 0x0F, (t >> 16) & 0x1F, (t >> 11) & 0x1F, (t >> 5) & 0x3F,
                    (t & 0x1F) * 2, Attributes(h.ExternalFileAttributes).c_str());
      std::cout << line;
    }
    std::cout << reader.FileName(i) << "\n";
  }
  return kExitOk;
}

int Test(const Arguments& args) {
  if (args.operands.size() != 1) throw UsageError{"test takes one archive"};
  zip::TOrvUnZip reader;
  reader.SetZipName(platform::FromUserPath(args.operands[0]));
  reader.IncompleteZipMode = zip::TIncompleteZipMode::izAssumeNotAZip;
  if (const auto password = args.Option("--password")) reader.Password = *password;
  reader.DoAll = true;
  bool failed = false;
  WatchEntries(reader, failed);
  TerminalUi ui(false);
  const int passed = reader.TestZip();
  std::cout << passed << " of " << reader.Count() << " entries OK\n";
  return failed || passed != reader.Count() ? kExitEntryFailed : kExitOk;
}

int Extract(const Arguments& args) {
  zip::TOrvUnZip reader;
  reader.SetZipName(platform::FromUserPath(args.operands[0]));
  reader.IncompleteZipMode = zip::TIncompleteZipMode::izAssumeNotAZip;
  reader.SetDestDir(args.Option("--dest") ? platform::FromUserPath(*args.Option("--dest"))
                                          : platform::GetCurrentDirectory());
  reader.RecreateDirs = args.Flag("--recreate-dirs");
  bool prompt = false;
  if (const auto mode = args.Option("--overwrite")) {
    static const std::map<std::string, zip::TUZOverwriteMode> kModes = {
        {"prompt", zip::TUZOverwriteMode::Prompt},
        {"always", zip::TUZOverwriteMode::Always},
        {"never", zip::TUZOverwriteMode::Never},
        {"newer", zip::TUZOverwriteMode::ifNewer},
        {"older", zip::TUZOverwriteMode::ifOlder}};
    const auto it = kModes.find(*mode);
    if (it == kModes.end()) throw UsageError{"unknown --overwrite \"" + *mode + "\""};
    reader.OverwriteMode = it->second;
    prompt = it->second == zip::TUZOverwriteMode::Prompt;
  } else {
    // Without a terminal to ask, the default is not to replace.
    reader.OverwriteMode = zip::TUZOverwriteMode::Never;
  }
  if (const auto password = args.Option("--password")) reader.Password = *password;
  for (std::size_t i = 1; i < args.operands.size(); ++i) {
    reader.FilesList.push_back(EntryPattern(args.operands[i]));
  }
  if (reader.FilesList.empty()) reader.FilesList.push_back("*");
  bool failed = false;
  WatchEntries(reader, failed);
  int selected = 0;
  reader.OnStartUnZipInfo = [&selected](int numFiles, std::int64_t, bool&) { selected = numFiles; };
  TerminalUi ui(prompt);
  const int extracted = reader.UnZip();
  std::cout << "extracted " << extracted << " of " << selected << " selected entries\n";
  return failed || extracted != selected ? kExitEntryFailed : kExitOk;
}

int Main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::cout << "orvzip " ORV_VERSION "\n";
    return kExitOk;
  }
  try {
    const Arguments args = Parse(argc, argv);
    if (args.command == "add") return Add(args);
    if (args.command == "list") return List(args);
    if (args.command == "test") return Test(args);
    return Extract(args);
  } catch (const UsageError& e) {
    std::cerr << "orvzip: " << e.message << "\n" << kUsage;
    return kExitUsage;
  } catch (const zip::EUserCanceled& e) {
    std::cerr << "orvzip: " << e.what() << "\n";
    return kExitEntryFailed;
  } catch (const std::invalid_argument& e) {
    std::cerr << "orvzip: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "orvzip: " << e.what() << "\n";
    return kExitArchiveUnusable;
  }
}

}  // namespace
}  // namespace orvzip

int main(int argc, char** argv) {
  return orvzip::Main(argc, argv);
}
