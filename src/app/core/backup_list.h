// Reading a backup file row by row for the listing and the verification:
// the catalog table opened read-only on its own, outside any run, so that a
// listing neither needs nor disturbs the catalog data module of the runs.
//
// Each row is described by what the catalog records (Path, FileName,
// FileTime, isZip, whether File is NULL) and by the sizes a listing shows:
// the stored BLOB's length, and the file's own size, which for a compressed
// row is the original size recorded in the archive's central directory (a
// few bytes read from the end of the BLOB, not the whole archive).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace engine {
class TZORVADTable;
class TField;
}  // namespace engine

namespace app {

// The backup file cannot be opened at all: missing, locked by another
// program past the engine's lock attempts, or not a readable table.
class BackupOpenError : public std::runtime_error {
 public:
  explicit BackupOpenError(const std::string& what, bool inUse = false)
      : std::runtime_error(what), inUse_(inUse) {}
  // Refused because another program holds the files (sharing or locks), not
  // because they are missing or damaged.
  bool InUse() const noexcept { return inUse_; }

 private:
  bool inUse_;
};

struct CatalogRow {
  std::string path;  // as recorded, with its trailing backslash
  std::string name;
  std::int32_t time = 0;        // DOS date-time
  bool zipped = false;          // isZip "Y"
  bool contentless = false;     // File is NULL: a file recorded as unchanged
  std::int64_t storedSize = 0;  // bytes of the BLOB
  std::int64_t size = -1;       // the file's size; -1 when it could not be read
  bool crcKnown = false;
  std::uint32_t crc = 0;
  std::string problem;  // why size or CRC could not be read
};

// How much of a row's File a walk reads: nothing (only whether it is NULL),
// the sizes (the BLOB's length and, for a compressed row, the archive's
// directory entry with its CRC), or the sizes and the CRC-32 of raw rows,
// which reads their whole BLOB.
enum class RowDetail { None, Sizes, SizesAndCrc };

// "YYYY-MM-DDTHH:MM:SS" of a DOS date-time (which is local time already).
std::string DosTimeIso(std::int32_t dosTime);

class CatalogReader {
 public:
  // `dataFile`: the backup file's data file, a Windows path. Throws
  // BackupOpenError.
  explicit CatalogReader(const std::string& dataFile);
  ~CatalogReader();
  CatalogReader(const CatalogReader&) = delete;
  CatalogReader& operator=(const CatalogReader&) = delete;

  std::int64_t RowCount();
  // Visits every row in the table's order, reading `detail` of its File.
  void ForEach(RowDetail detail, const std::function<void(const CatalogRow&)>& visit);
  // The current row's File field, valid inside a ForEach visit.
  engine::TField& FileField() const { return *file_; }

 private:
  void ReadRow(RowDetail detail, CatalogRow& row);

  std::unique_ptr<engine::TZORVADTable> table_;
  engine::TField* name_ = nullptr;
  engine::TField* time_ = nullptr;
  engine::TField* zip_ = nullptr;
  engine::TField* path_ = nullptr;
  engine::TField* file_ = nullptr;
  std::vector<std::uint8_t> chunk_;  // reused for the CRC of raw rows
};

}  // namespace app
