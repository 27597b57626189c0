// Reading a backup file's rows; see backup_list.h.
#include "app/core/backup_list.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/core/catalog.h"
#include "app/core/stored_archive.h"
#include "engine/components/dataset.h"
#include "engine/components/zorvad_dbdataset.h"
#include "engine/errors.h"
#include "engine/table/data_cursor.h"
#include "engine/table/read_walk.h"
#include "platform/file_ops.h"
#include "zip/crc32.h"

namespace app {

namespace {

constexpr std::string_view kZipped = "Y";
constexpr std::int64_t kCrcChunkBytes = 1 << 20;

// Whether the engine refused the files because another program holds them.
bool HeldByAnother(const engine::EZORVADEngineError& e) {
  const int code = e.ErrorCode();
  return code == engine::kErrAccessDenied || code == engine::kErrTableLocked ||
         code == engine::kErrLockFailed;
}

}  // namespace

std::string DosTimeIso(std::int32_t dosTime) {
  const auto value = static_cast<std::uint32_t>(dosTime);
  const unsigned date = value >> 16, time = value & 0xFFFFu;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", (date >> 9) + 1980u,
                (date >> 5) & 15u, date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2u);
  return text;
}

CatalogReader::CatalogReader(const std::string& dataFile)
    : table_(std::make_unique<engine::TZORVADTable>()) {
  if (!platform::FileExists(dataFile))
    throw BackupOpenError("the backup file does not exist: " + dataFile);
  std::string folder, name;
  TDataModuleRx::SplitFilePath(dataFile, folder, name);
  try {
    table_->SetDatabaseName(folder.empty() ? std::string(".") : folder);
    table_->SetTableName(name);
    table_->ReadOnly = true;
    table_->Open();
    name_ = &table_->FieldByName("FileName");
    time_ = &table_->FieldByName("FileTime");
    zip_ = &table_->FieldByName("isZip");
    path_ = &table_->FieldByName("Path");
    file_ = &table_->FieldByName("File");
  } catch (const engine::EZORVADEngineError& e) {
    throw BackupOpenError("the backup file cannot be opened: " + dataFile + ": " + e.what(),
                          HeldByAnother(e));
  } catch (const std::exception& e) {
    throw BackupOpenError("the backup file cannot be opened: " + dataFile + ": " + e.what());
  }
}

CatalogReader::~CatalogReader() = default;

std::int64_t CatalogReader::RowCount() {
  return table_->RecordCount();
}

void CatalogReader::ForEach(RowDetail detail, const std::function<void(const CatalogRow&)>& visit) {
  // One read lock for the whole walk (read_walk.h): the rows are read as of
  // one moment, and no record needs a lock and a change check of its own.
  // Writers of other programs wait, and are let in between two rows.
  std::unique_ptr<engine::TReadWalk> walk;
  try {
    walk = std::make_unique<engine::TReadWalk>(*table_->Handle());
  } catch (const engine::EZORVADEngineError& e) {
    // A writer held the files past every attempt to read them.
    throw BackupOpenError(std::string("the backup file cannot be read: ") + e.what(),
                          HeldByAnother(e));
  }
  CatalogRow row;
  for (table_->First(); !table_->Eof(); table_->Next()) {
    row = CatalogRow{};
    ReadRow(detail, row);
    visit(row);
    walk->LetWritersIn();
  }
}

void CatalogReader::ReadRow(RowDetail detail, CatalogRow& row) {
  row.name = name_->AsString();
  row.path = path_->AsString();
  row.time = time_->AsInteger();
  row.zipped = zip_->AsString() == kZipped;
  row.contentless = file_->IsNull();
  if (row.contentless || detail == RowDetail::None) return;
  try {
    if (!row.zipped && detail == RowDetail::Sizes) {
      // The chain's first block tells the length: the content is not read.
      row.storedSize = row.size = table_->BlobSize(*file_);
      return;
    }
    auto blob = table_->CreateBlobStream(*file_, engine::TBlobStreamMode::bmRead);
    row.storedSize = blob->Size();
    if (row.zipped) {
      const StoredEntry entry = ReadStoredEntry(*blob);
      row.size = static_cast<std::int64_t>(entry.originalSize);
      row.crc = entry.crc;
      row.crcKnown = true;
      return;
    }
    row.size = row.storedSize;
    if (detail != RowDetail::SizesAndCrc) return;
    const std::int64_t piece = std::min(row.storedSize, kCrcChunkBytes);
    if (chunk_.size() < static_cast<std::size_t>(piece))
      chunk_.resize(static_cast<std::size_t>(piece));
    std::uint32_t reg = zip::kCrc32Initial;
    blob->SetPosition(0);
    for (std::int64_t done = 0; done < row.storedSize;) {
      const std::int64_t got = blob->Read(chunk_.data(), piece);
      if (got <= 0) throw std::runtime_error("the BLOB ends early");
      reg = zip::Crc32Update(reg, chunk_.data(), static_cast<std::size_t>(got));
      done += got;
    }
    row.crc = ~reg;
    row.crcKnown = true;
  } catch (const std::exception& e) {
    row.problem = e.what();
  }
}

}  // namespace app
