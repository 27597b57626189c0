// The backup catalog: TDataModuleRx, the components through which the runs
// reach the table engine, and the operations that name, create and open
// backup files.
//
// A backup file is one engine table (Back.dat, with its index and BLOB files
// beside it) holding one row per file: FileName, FileTime (DOS date-time),
// isZip ("Y" for a one-entry zip archive), Path (directory with its trailing
// backslash) and File (the bytes, the archive, or NULL for a row that only
// records an unchanged file); primary key (FileName, FileTime, Path).
//
// Invariants:
//  * Every new backup file advances the state's FFileCounter by one; the
//    first since the program started has no number, the next ones 1, 2, ...
//  * Folder and name are joined with exactly one backslash, so every
//    statement of a run addresses the backup file through DBDatabase's
//    directory and its writes belong to DBDatabase's transaction.
//  * qryDBSrech reads the catalog table itself, not a copy of it: finding a
//    file's row is a lookup in the primary index (FileName is its first
//    field), and a restore reads each BLOB where it is stored, in the order
//    the rows were written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/backup_application.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_dbdataset.h"
#include "engine/components/zorvad_query.h"

namespace app {

// The catalog's design-time settings.
inline constexpr char kCatalogSession[] = "Default";
inline constexpr int kNoRowLimit = -1;
// Component-layer field type of a BLOB parameter (pFile).
inline constexpr int kBlobParamType = 15;

// The order in which a restore reads the catalog: the order its rows were
// written (record numbers; the records and their BLOBs lie in that order on
// disk) or the primary key's (FileName, FileTime, Path).
enum class RowOrder { Records, Keys };

// Who asks PrepareTarget: only a backup run writes changed files into a new
// dated backup file; a restore always reads the chosen file itself.
enum class TargetUse { Backup, Restore };

// The data module. Lives as long as the application core.
class TDataModuleRx {
 public:
  explicit TDataModuleRx(MainState& state);
  ~TDataModuleRx();
  TDataModuleRx(const TDataModuleRx&) = delete;
  TDataModuleRx& operator=(const TDataModuleRx&) = delete;

  engine::TZORVADDatabase DBDatabase;   // the backup file being written or read
  engine::TZORVADDatabase OldDataBase;  // the existing file searched for a dated file
  engine::TZORVADQuery qryDBInsert;
  engine::TZORVADQuery qryDBUpData;
  engine::TZORVADTable qryDBSrech;  // the catalog table searched or restored

  // Sets Directory and DatabaseName of a disconnected database.
  static void ConnectDatabase(engine::TZORVADDatabase& database, const std::string& directory,
                              const std::string& name);
  // Folder up to and including the last backslash, and the name after it.
  static void SplitFilePath(std::string_view path, std::string& folder, std::string& name);

  // Binds the row's parameters and runs the INSERT (UPDATE). `fileToStore`
  // empty stores a NULL File.
  void InsertFileRow(const TFileDatas& file, const std::string& fileToStore,
                     std::string_view isZip);
  void UpdateFileRow(const TFileDatas& file, const std::string& fileToStore,
                     std::string_view isZip);
  // The same INSERT with File's bytes held in memory (an archive made there).
  void InsertFileRow(const TFileDatas& file, std::vector<std::uint8_t> bytes,
                     std::string_view isZip);

  // Runs the CREATE TABLE of a backup file at `path` (no extension).
  static void CreateBackupTable(const std::string& path);
  // The number suffix of the next new backup file ("" for the first).
  std::string NextNumberSuffix();
  // Opens (creating when missing) the next file of the backup set.
  void OpenNextBackupFile();
  // Opens (creating when missing) the dated file for `name` in `folder`;
  // `name` becomes its file name.
  void OpenDatedBackupFile(const std::string& folder, std::string& name);
  // Points DBDatabase and the statements at the backup file of a run.
  void PrepareTarget(TargetUse use);

  // Positions qryDBSrech on the row of `file`; false when it has none.
  bool FindFileRow(const TFileDatas& file);
  // Opens qryDBSrech on every row of the chosen backup file, in `order`.
  void OpenForRestore(RowOrder order);

  // Full path of the backup file that receives rows (T).
  const std::string& TargetPath() const { return targetPath_; }
  // The date of a dated backup file, "YYYYMMDD"; today unless a test fixes it.
  std::string DateStamp() const;
  void SetDateStampForTest(std::string stamp) { fixedDate_ = std::move(stamp); }

 private:
  void BindRow(engine::TZORVADQuery& query, const TFileDatas& file, const std::string& fileToStore,
               std::string_view isZip);
  // FileName, FileTime, Path and isZip.
  void BindKey(engine::TZORVADQuery& query, const TFileDatas& file, std::string_view isZip);
  void PrepareStatement(engine::TZORVADQuery& query, const std::string& text);

  MainState& state_;
  std::string targetPath_;
  std::string fixedDate_;
};

}  // namespace app
