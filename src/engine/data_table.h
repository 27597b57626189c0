// TDataTable: the one object per open table and directory, owning the table's
// three file handlers (data, index, BLOB). All cursors of the process that open
// the same table in the same directory share it.
//
// This is the part of the table object that the directory drives: opening,
// creating, closing, renaming and deleting the table set, and starting,
// committing and rolling back a transaction. What it does today:
//  * the files are plain TFileHandler objects: open opens the data file, then
//    the index file when it exists, then the BLOB file when it exists; create
//    makes empty files; nothing is read, cached or written back;
//  * a transaction takes the data file's write-lock byte (lock_map.h, up to
//    8193 attempts, 10249 when refused) for its whole length; commit and
//    rollback release it.
// The storage engine completes it (file formats, caches, write-back, change
// detection, read/write/record locks).
//
// Invariants: OpenCount() >= 0; the files are open exactly when the count is
// above 0 or a transaction runs; a transaction holds the data write-lock byte.
#pragma once

#include <memory>
#include <string>

#include "engine/file_handler.h"
#include "engine/table_names.h"

namespace engine {

class TDataDirectory;

// Options a table is opened or created with.
struct TTableOptions {
  bool inMemory = false;
  bool exclusive = false;
  bool readOnly = false;
  bool temporary = false;  // the files are deleted when closed
};

class TDataTable {
 public:
  // `name` is kept trimmed with its extension made ".DAT" (see table_names.h).
  TDataTable(TDataDirectory* directory, const std::string& name, bool inMemory);
  // Ends a running transaction without writing and closes the files.
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  TDataDirectory* Directory() const noexcept { return FDirectory; }
  const std::string& Name() const noexcept { return FName; }
  bool InMemory() const noexcept { return FInMemory; }
  int OpenCount() const noexcept { return FOpenCount; }
  bool IsOpen() const noexcept { return FOpen; }
  bool Exclusive() const noexcept { return FExclusive; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  bool ReadOnlyAttrFound() const noexcept { return FReadOnlyAttrFound; }
  bool Temporary() const noexcept { return FTemporary; }
  bool InTransaction() const noexcept { return FInTransaction; }
  bool HoldsTransactionLock() const noexcept { return FTransactionLock; }

  // Takes the flags for the next open; only while the count is 0.
  void SetOptions(const TTableOptions& options);
  // The table-set file names: in the directory, or as given when the name
  // carries a path, or without a path in memory.
  TTableSetNames FileNames() const;

  // First open opens the files (any failure closes them again and is raised);
  // every open raises the count.
  void OpenTable();
  // Lowers the count; at 0 outside a transaction the files are closed.
  void CloseTable(bool withDiscard = false);
  // Creates the data and index files (and the BLOB file when asked) empty and
  // closes them again.
  void CreateTableFiles(bool withBlobFile);
  // Deletes the data and index files and the BLOB file when it exists.
  void DeleteTableFiles();
  // Renames each existing file of the set to `newName` (a full path when it
  // has a drive or backslash or the table is in memory, else in the
  // directory); with `backup` to ".DBK", ".IBK", ".BBK", replacing old backups.
  void RenameTableFiles(const std::string& newName, bool backup);

  void StartTransaction();
  void Commit(bool endTransaction = true);
  void Rollback();

  TFileHandler& DataFile() noexcept { return *FDataFile; }
  TFileHandler& IndexFile() noexcept { return *FIndexFile; }
  TFileHandler& BlobFile() noexcept { return *FBlobFile; }

 private:
  void PrepareHandlers();
  void OpenFiles();
  void CloseFiles() noexcept;
  void ReleaseTransactionLock();

  TDataDirectory* FDirectory;
  std::string FName;
  bool FInMemory;
  int FOpenCount = 0;
  bool FOpen = false;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttrFound = false;
  bool FTemporary = false;
  bool FInTransaction = false;
  bool FTransactionLock = false;
  std::unique_ptr<TFileHandler> FDataFile;
  std::unique_ptr<TFileHandler> FIndexFile;
  std::unique_ptr<TFileHandler> FBlobFile;
};

}  // namespace engine
