// Verification of a backup file; see backup_verify.h.
#include "app/core/backup_verify.h"

#include "app/core/backup_list.h"
#include "app/core/stored_archive.h"
#include "engine/components/dataset.h"
#include "engine/errors.h"
#include "engine/table/table_check.h"
#include "platform/file_ops.h"
#include "zip/inflate.h"

namespace app {

namespace {

// Reads the row's BLOB once, whole, as a restore would.
void CheckRow(CatalogReader& reader, const CatalogRow& row, zip::EntryDecoder& decoder,
              VerifyReport& report) {
  if (row.contentless) return;
  const std::string where = row.path + row.name;
  try {
    engine::TField& field = reader.FileField();
    auto blob = field.DataSet().CreateBlobStream(field, engine::TBlobStreamMode::bmRead);
    const std::int64_t size = blob->Size();
    const std::vector<std::uint8_t> bytes = blob->ReadAll();
    if (static_cast<std::int64_t>(bytes.size()) != size) {
      report.problems.push_back({where, "the BLOB holds " + std::to_string(bytes.size()) +
                                            " readable bytes of " + std::to_string(size)});
      return;
    }
    if (!row.zipped) {
      report.bytes += size;
      return;
    }
    std::uint64_t original = 0;
    const std::string problem = CheckStoredArchive(bytes, decoder, &original);
    if (!problem.empty()) {
      report.problems.push_back({where, problem});
      return;
    }
    report.bytes += static_cast<std::int64_t>(original);
  } catch (const std::exception& e) {
    report.problems.push_back({where, e.what()});
  }
}

}  // namespace

VerifyReport VerifyBackup(const std::string& dataFile,
                          const std::function<void(std::int64_t, std::int64_t)>& progress) {
  if (!platform::FileExists(dataFile))
    throw BackupOpenError("the backup file does not exist: " + dataFile);
  VerifyReport report;
  engine::TTableCheckReport check;
  try {
    check = engine::CheckTableSet(dataFile);
  } catch (const std::exception& e) {
    report.problems.push_back({dataFile, e.what()});
  }
  for (const std::string& finding : check.findings) report.problems.push_back({dataFile, finding});

  std::unique_ptr<CatalogReader> reader;
  try {
    reader = std::make_unique<CatalogReader>(dataFile);
  } catch (const BackupOpenError& e) {
    if (report.Ok()) throw;
    report.problems.push_back({dataFile, e.what()});
    return report;
  }
  zip::EntryDecoder decoder;
  std::int64_t total = 0;
  try {
    total = reader->RowCount();
    reader->ForEach(RowDetail::None, [&](const CatalogRow& row) {
      ++report.rows;
      CheckRow(*reader, row, decoder, report);
      if (progress) progress(report.rows, total);
    });
  } catch (const std::exception& e) {
    report.problems.push_back({dataFile, std::string("reading the rows stopped: ") + e.what()});
  }
  return report;
}

}  // namespace app
