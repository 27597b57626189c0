// orvsql: the SQL shell of the table engine.
//
//   orvsql [--dir DIR] [--bail] [--param NAME=VALUE]... [--param-file NAME=PATH]... [FILE]
//
// Reads statements from FILE or standard input (see statement_reader.h for
// where a statement ends) and runs each in turn through the engine's query
// component, binding its :NAME parameters from the values given (shell.h).
// Exits with 0 when every statement succeeded, 1 when any failed, 2 for bad
// usage.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "shell.h"
#include "shell_session.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: orvsql [--dir DIR] [--bail] [FILE]\n"
    "       orvsql [--dir DIR] [--bail] [--param NAME=VALUE]... [--param-file NAME=PATH]...\n"
    "              [FILE]\n"
    "\n"
    "Runs the SQL statements of FILE (or standard input) against the tables in\n"
    "DIR (default: the current directory). A statement ends with ';' at the end\n"
    "of a line, outside quotes and comments, and may span lines.\n"
    "\n"
    "  --dir DIR   where table names without a path are looked up (host or\n"
    "              Windows path)\n"
    "  --bail      stop at the first statement that fails\n"
    "  --param NAME=VALUE\n"
    "              a value for the parameter :NAME of the statements (repeatable);\n"
    "              the text is converted as the parameter's use needs\n"
    "  --param-file NAME=PATH\n"
    "              the whole file PATH as a BLOB for the parameter :NAME\n"
    "  --help      show this text\n"
    "\n"
    "A SELECT prints a header line of its column names and one line per row,\n"
    "tab-separated: NULL as \\N; strings with \\\\, \\t, \\r, \\n escaped; numbers in\n"
    "decimal; booleans TRUE/FALSE; dates YYYY-MM-DD, times HH:MM:SS.ZZZ,\n"
    "timestamps YYYY-MM-DD HH:MM:SS.ZZZ; BLOBs and bytes as \\x and hex.\n"
    "Other statements print 'N rows affected' (CREATE, ALTER and DROP print 'OK');\n"
    "a parameter without a value fails its statement.\n"
    "errors print 'error CODE: MESSAGE' on standard error.\n"
    "Exit status: 0 all statements succeeded, 1 any failed, 2 bad usage.\n";

// NAME=VALUE into `params`; false for a text without '=' or without a name.
bool AddParam(const std::string& text, bool fromFile, orvsql::ParamValues& params) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  params[text.substr(0, equals)] = orvsql::ParamValue{text.substr(equals + 1), fromFile};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory;
  std::string file;
  bool bail = false;
  orvsql::ParamValues params;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version") {
      std::puts("orvsql " ORV_VERSION);
      return kExitOk;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--bail") {
      bail = true;
    } else if (arg == "--dir" && i + 1 < argc) {
      directory = argv[++i];
    } else if ((arg == "--param" || arg == "--param-file") && i + 1 < argc) {
      if (!AddParam(argv[++i], arg == "--param-file", params)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
      }
    } else if (arg.rfind("--", 0) == 0 || !file.empty()) {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    } else {
      file = arg;
    }
  }
  std::ifstream stream;
  if (!file.empty()) {
    stream.open(file, std::ios::binary);
    if (!stream) {
      std::fprintf(stderr, "orvsql: cannot open %s\n", file.c_str());
      return kExitUsage;
    }
  }
  std::istream& in = file.empty() ? std::cin : stream;
  const bool interactive = file.empty() && isatty(0) != 0 && isatty(1) != 0;

  try {
    orvsql::ShellSessionOptions options;
    options.bail = bail;
    options.interactive = interactive;
    options.params = std::move(params);
    return orvsql::RunShellSession(directory, in, options, stdout, stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvsql: %s\n", e.what());
    return kExitUsage;
  }
}
