// tablecheck: checks a table set and prints what it finds; with --repair it
// rebuilds a damaged set from its sound records.
//
//   tablecheck [--repair] <table>...
//
// <table> names the data file or the table (N or N.DAT), as a host path or a
// Windows path. Prints one line per problem and a summary per table. Exit
// status: 0 every table set is sound, 1 a problem was found (with --repair:
// and the set was rebuilt), 2 usage error, 3 (--repair only) a set could not
// be repaired and was left as it was.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/table/table_check.h"
#include "engine/table/table_repair.h"
#include "platform/paths.h"

namespace {

constexpr int kExitSound = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotRepaired = 3;

constexpr char kHelp[] =
    "usage: tablecheck [--repair] <table>...\n"
    "\n"
    "Checks each table set (<table>.DAT, .IDX and .BLB; a host or Windows path):\n"
    "file headers, every B-tree, the free chains and every BLOB chain.\n"
    "\n"
    "  --repair   rebuild a damaged set from its sound records: every record\n"
    "             whose fields and BLOB chains are sound is kept, every index,\n"
    "             free chain and header count is rebuilt, and each damaged file\n"
    "             is kept beside it as <file>.damaged (.damaged2, ... when that\n"
    "             name is taken). Lines 'dropped record N: why' name the records\n"
    "             left out. No other program may have the table open.\n"
    "  --help     this text\n"
    "\n"
    "Exit status: 0 every set is sound, 1 problems were found (with --repair:\n"
    "and the set was repaired), 2 usage error, 3 a set could not be repaired\n"
    "(the reason is printed; its files are left as they were).\n";

int Check(const std::string& name) {
  const engine::TTableCheckReport report = engine::CheckTableSet(name);
  for (const std::string& line : report.findings) std::printf("%s\n", line.c_str());
  for (const std::string& line : report.notes) std::printf("  %s\n", line.c_str());
  std::printf("%s: %lld records in use of %lld, %s\n", name.c_str(),
              static_cast<long long>(report.liveRecords),
              static_cast<long long>(report.recordSlots),
              report.Ok() ? "no problems found"
                          : (std::to_string(report.findings.size()) + " problems").c_str());
  return report.Ok() ? kExitSound : kExitProblems;
}

int Repair(const std::string& name) {
  engine::TTableRepairReport report;
  try {
    report = engine::RepairTableSet(name);
  } catch (const engine::EZORVADEngineError& e) {
    std::printf("%s: not repaired: %s\n", name.c_str(), e.Message().c_str());
    return kExitNotRepaired;
  }
  std::fputs(report.Describe().c_str(), stdout);
  if (!report.refusal.empty()) {
    std::printf("%s: not repaired\n", name.c_str());
    return kExitNotRepaired;
  }
  if (!report.repaired) {
    std::printf("%s: no problems found, nothing repaired\n", name.c_str());
    return kExitSound;
  }
  std::printf("%s: repaired, %lld records kept, %zu dropped\n", name.c_str(),
              static_cast<long long>(report.keptRecords), report.dropped.size());
  return kExitProblems;
}

}  // namespace

int main(int argc, char** argv) {
  bool repair = false;
  std::vector<std::string> tables;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("tablecheck " ORV_VERSION);
      return kExitSound;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kHelp, stdout);
      return kExitSound;
    }
    if (std::strcmp(argv[i], "--repair") == 0) {
      repair = true;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "tablecheck: unknown option %s\n%s", argv[i], kHelp);
      return kExitUsage;
    } else {
      tables.push_back(platform::FromUserPath(argv[i]));
    }
  }
  if (tables.empty()) {
    std::fputs(kHelp, stderr);
    return kExitUsage;
  }
  int result = kExitSound;
  for (const std::string& name : tables) {
    result = std::max(result, repair ? Repair(name) : Check(name));
  }
  return result;
}
