// Verification of a backup file: first the engine's check of its three
// files (headers, B-trees, free chains, BLOB chains), then every row read as
// a restore would read it: a compressed row's BLOB must be a one-entry
// archive whose entry decodes to the recorded size with the recorded CRC; a
// row stored as it is must have a BLOB readable to its full length. Rows
// without content have nothing to read. Nothing is written anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace app {

struct VerifyProblem {
  std::string where;  // Path + FileName of the row, or the table file
  std::string what;
};

struct VerifyReport {
  std::int64_t rows = 0;
  std::int64_t bytes = 0;  // the files' own bytes checked
  std::vector<VerifyProblem> problems;
  bool Ok() const { return problems.empty(); }
};

// Throws BackupOpenError when the backup file is missing or cannot be
// opened while its table check found nothing wrong (locked, for example).
// `progress` is called after each row with the rows done and the total.
VerifyReport VerifyBackup(const std::string& dataFile,
                          const std::function<void(std::int64_t, std::int64_t)>& progress = {});

}  // namespace app
