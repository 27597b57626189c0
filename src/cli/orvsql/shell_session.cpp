// The shell's loop; see shell_session.h.
#include "shell_session.h"

#include "shell.h"
#include "statement_reader.h"

namespace orvsql {

namespace {

constexpr const char* kPrompt = "orvsql> ";
constexpr const char* kContinuation = "   ...> ";
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;

}  // namespace

int RunShellSession(const std::string& directory, std::istream& in,
                    const ShellSessionOptions& options, std::FILE* out, std::FILE* err) {
  Shell shell(directory, options.params);
  StatementReader reader;
  int status = kSucceeded;
  const auto run = [&](const std::string& statement) {
    if (!shell.Run(statement, out, err)) status = kFailed;
    return !(options.bail && status != kSucceeded);
  };
  std::string line;
  for (;;) {
    if (options.interactive) {
      std::fputs(reader.Pending() ? kContinuation : kPrompt, out);
      std::fflush(out);
    }
    if (!std::getline(in, line)) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const auto statement = reader.AddLine(line)) {
      if (!run(*statement)) return status;
    }
  }
  if (const auto statement = reader.Finish()) run(*statement);
  return status;
}

}  // namespace orvsql
