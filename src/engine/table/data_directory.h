// TDataDirectory: one open database directory of a session (or the in-memory
// directory "MEMORY"), the table objects opened in it, and transactions over
// all of them.
//
// Invariants:
//  * at most one TDataTable per (name, in-memory flag); names compare trimmed,
//    ignoring case, with their extension made ".DAT";
//  * a table object whose open count is 0 and that is not in a transaction is
//    freed (at its close, or at the end of the transaction);
//  * while the directory is in a transaction every table in it is in the
//    transaction, and every table opened joins it;
//  * StartTransaction never raises for a table that cannot start: every table
//    is rolled back and the directory stays out of transaction, which the
//    caller reads from InTransaction().
// Directory operations raise engine errors (11010 blank name, 11013 table in
// use, and whatever the table object raises).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/table/data_table.h"

namespace engine {

class TDataSession;

class TDataDirectory {
 public:
  // `path` ends in '\' ("" for "MEMORY"); `universalPath` identifies it.
  TDataDirectory(TDataSession* session, std::string name, std::string path,
                 std::string universalPath);
  // Rolls back a running transaction and frees every table object (their
  // cursors must be closed first).
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession* Session() const noexcept { return FSession; }
  const std::string& Name() const noexcept { return FName; }
  const std::string& Path() const noexcept { return FPath; }
  const std::string& UniversalPath() const noexcept { return FUniversalPath; }
  bool IsMemory() const noexcept { return FMemory; }
  int RefCount() const noexcept { return FRefCount; }
  bool InTransaction() const noexcept { return FInTransaction; }
  int TableCount() const noexcept { return static_cast<int>(FTables.size()); }
  TDataTable* Table(int index) const { return FTables.at(static_cast<std::size_t>(index)).get(); }

  // The known table of that name and kind, or nullptr.
  TDataTable* FindTable(const std::string& name, bool inMemory) const;

  // Opens (or shares) a table. 11013 when it is open exclusively or exclusive
  // use is asked of an open table. In the "MEMORY" directory tables are in memory.
  TDataTable* OpenTable(const std::string& name, const TTableOptions& options);
  // Creates the table set (11010 for a blank name, 11013 while the table is
  // open) through `createFiles`, given the closed table object, or as an
  // empty table set (TDataTable::CreateTableFiles(false)) when none is given.
  // The object is freed afterwards; open the table to use it.
  void CreateTable(const std::string& name, const TTableOptions& options,
                   const std::function<void(TDataTable&)>& createFiles = {});
  // Lowers the table's open count; frees it at 0 outside a transaction.
  void CloseTable(TDataTable* table, bool withDiscard = false);
  // 11013 while the table is open. `inMemory` names a table kept in memory
  // (always so in the "MEMORY" directory); without it, the directory's kind.
  void RenameTable(const std::string& name, const std::string& newName, bool backup);
  void RenameTable(const std::string& name, const std::string& newName, bool backup, bool inMemory);
  void DeleteTable(const std::string& name);
  void DeleteTable(const std::string& name, bool inMemory);
  // A known table, or an existing data file (on disk, or in memory).
  bool TableExists(const std::string& name) const;
  bool TableExists(const std::string& name, bool inMemory) const;
  // The first free name: five digits of the thread id, a count from 0, ".DAT".
  std::string TempTableName() const;

  void StartTransaction();
  void Commit();
  void Rollback();

 private:
  friend class TDataSession;
  bool TableInMemory(const TTableOptions& options) const { return FMemory || options.inMemory; }
  void FreeIfUnused(TDataTable* table);
  void FreeUnusedTables();
  void RemoveTable(TDataTable* table);
  // Drops an unused, known table object before its files are renamed or deleted.
  void ForgetClosedTable(const std::string& name, bool inMemory);

  TDataSession* FSession;
  std::string FName;
  std::string FPath;
  std::string FUniversalPath;
  bool FMemory;
  int FRefCount = 1;
  bool FInTransaction = false;
  std::vector<std::unique_ptr<TDataTable>> FTables;
};

}  // namespace engine
