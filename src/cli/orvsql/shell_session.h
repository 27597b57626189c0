// The shell's loop as a library function, for programs that open the SQL
// shell on a directory of their own choosing (orvbackup sql): statements are
// read from a stream, split where statement_reader.h says a statement ends,
// and run one after the other in one Shell.
#pragma once

#include <cstdio>
#include <istream>
#include <string>

#include "shell.h"

namespace orvsql {

struct ShellSessionOptions {
  bool bail = false;         // stop at the first statement that fails
  bool interactive = false;  // print prompts on `out`
  ParamValues params;        // values for the statements' :NAME parameters
};

// Runs every statement of `in` against the tables of `directory` (a host or
// Windows path). Returns 0 when every statement succeeded, 1 otherwise.
// Throws when the directory cannot be opened as a database directory.
int RunShellSession(const std::string& directory, std::istream& in,
                    const ShellSessionOptions& options, std::FILE* out, std::FILE* err);

}  // namespace orvsql
