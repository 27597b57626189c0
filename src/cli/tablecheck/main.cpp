// tablecheck: checks a table set and prints what it finds.
//
//   tablecheck <table>...
//
// <table> names the data file or the table (N or N.DAT), as a host path or a
// Windows path. Prints one line per problem and a summary per table; exits
// with 0 when every table set is sound, 1 when a problem was found, 2 for a
// usage error.
#include <cstdio>
#include <string>

#include "engine/table/table_check.h"
#include "platform/paths.h"

namespace {

constexpr int kExitSound = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tablecheck <table>...\n");
    return kExitUsage;
  }
  int result = kExitSound;
  for (int i = 1; i < argc; ++i) {
    const std::string name = platform::FromUserPath(argv[i]);
    const engine::TTableCheckReport report = engine::CheckTableSet(name);
    for (const std::string& line : report.findings) std::printf("%s\n", line.c_str());
    for (const std::string& line : report.notes) std::printf("  %s\n", line.c_str());
    std::printf("%s: %lld records in use of %lld, %s\n", name.c_str(),
                static_cast<long long>(report.liveRecords),
                static_cast<long long>(report.recordSlots),
                report.Ok() ? "no problems found"
                            : (std::to_string(report.findings.size()) + " problems").c_str());
    if (!report.Ok()) result = kExitProblems;
  }
  return result;
}
