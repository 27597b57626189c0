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

// Checks one row's content. A compressed row's BLOB is read whole into
// `bytes` (kept from row to row, so that only the longest BLOB allocates)
// straight from the BLOB file's blocks, and its entry decoded. A raw row's
// BLOB must be readable to its full length: when the table check walked every
// chain and found nothing (`chainsSound`), it has read each of them whole,
// block by block, with the checks a read makes (ids, used bytes, positions,
// loops, length), so the row only takes its length; otherwise the row is
// read, so that a damaged chain is named by its row.
void CheckRow(CatalogReader& reader, const CatalogRow& row, bool chainsSound,
              zip::EntryDecoder& decoder, std::vector<std::uint8_t>& bytes, VerifyReport& report) {
  if (row.contentless) return;
  const std::string where = row.path + row.name;
  try {
    const engine::TField& field = reader.FileField();
    if (!row.zipped) {
      if (chainsSound) {
        report.bytes += field.BlobSize();
        return;
      }
      field.ReadBlob(bytes);
      report.bytes += static_cast<std::int64_t>(bytes.size());
      return;
    }
    field.ReadBlob(bytes);
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
    // Held by another program: nothing could be checked, whatever the check
    // said about files it could not open either.
    if (report.Ok() || e.InUse()) throw;
    report.problems.push_back({dataFile, e.what()});
    return report;
  }
  const bool chainsSound = report.Ok();
  zip::EntryDecoder decoder;
  std::vector<std::uint8_t> bytes;
  std::int64_t total = 0;
  try {
    total = reader->RowCount();
    reader->ForEach(RowDetail::None, [&](const CatalogRow& row) {
      ++report.rows;
      CheckRow(*reader, row, chainsSound, decoder, bytes, report);
      if (progress) progress(report.rows, total);
    });
  } catch (const BackupOpenError& e) {
    if (e.InUse()) throw;
    report.problems.push_back({dataFile, std::string("reading the rows stopped: ") + e.what()});
  } catch (const std::exception& e) {
    report.problems.push_back({dataFile, std::string("reading the rows stopped: ") + e.what()});
  }
  return report;
}

}  // namespace app
