// TDataTable: the one object per open table and directory, owning the table's
// three file handlers (TDataFile, TIndexFile, TBlobFile). All cursors of the
// process that open the same table in the same directory share it.
//
// It opens, creates, deletes, renames and empties the table set; applies the
// lock-byte map (lock_map.h) as read lock, query read lock, write lock,
// transaction lock and record locks; detects changes by other processes
// through the change counters of the three headers (Refresh) and then drops
// the cached records, pages and blocks; writes changes back (FlushTable,
// MarkChanged); and runs transactions. The rules for locks, change detection
// and transactions are numbered in table_locks.cpp.
//
// The table is the storage host of its files (data_file_host.h): the files ask
// it whether it is exclusive, whether it holds the transaction lock, what the
// session settings are, and to take the read lock on a cache miss.
//
// Invariants:
//  * OpenCount() >= 0; the files are open while the count is above 0 or a
//    transaction runs;
//  * a transaction holds the data file's write-lock byte from start to end;
//  * the BLOB file is open exactly when the table has BLOB fields;
//  * a record is in CursorLocks() while some cursor of this process holds its
//    lock; it is in OsLocks() while the operating-system lock byte is held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/commit_journal.h"
#include "engine/files/table_names.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_host.h"
#include "engine/storage/index_file.h"
#include "engine/storage/records_bitmap.h"

namespace engine {

class TDataDirectory;
class TDataSession;
class TDataCursor;

// Options a table is opened or created with.
struct TTableOptions {
  bool inMemory = false;
  bool exclusive = false;
  bool readOnly = false;
  bool temporary = false;  // the files are deleted when closed
};

// Everything a new table set is made from (the cursor checks it first).
struct TTableCreateSpec {
  TDataFileSpec data;                     // field definitions laid out, header values
  std::vector<TIndexDefinition> indexes;  // primary first; an empty primary: no primary key
};

class TDataTable : public TStorageHost {
 public:
  // Record bitmaps start with room for this many records.
  static constexpr std::uint32_t kInitialLockBitmapRecords = 8192;
  // Index pages a table on disk keeps cached between operations, shared by
  // its indexes: with keys of hundreds of bytes (the catalog's 507-byte
  // primary key holds 7 keys a page) the upper levels of a tree of 100,000
  // keys take a few thousand pages, which a 15-page cache read again for
  // every key lookup. Peak: this much per open table outside transactions
  // (a transaction keeps its changed pages besides, until commit).
  static constexpr std::size_t kIndexCacheBytes = std::size_t{16} << 20;

  // `name` is kept trimmed with its extension made ".DAT" (see table_names.h).
  TDataTable(TDataDirectory* directory, const std::string& name, bool inMemory);
  // Ends a running transaction without writing and closes the files.
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  TDataDirectory* Directory() const noexcept { return FDirectory; }
  TDataSession* Session() const noexcept;
  const std::string& Name() const noexcept { return FName; }
  bool InMemory() const noexcept { return FInMemory; }
  int OpenCount() const noexcept { return FOpenCount; }
  bool IsOpen() const noexcept { return FOpen; }
  bool Exclusive() const noexcept { return FExclusive; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  bool ReadOnlyAttrFound() const noexcept { return FReadOnlyAttrFound; }
  bool Temporary() const noexcept { return FTemporary; }
  bool InTransaction() const noexcept { return FInTransaction; }
  bool HoldsTransactionLock() const noexcept override { return FTransactionLock; }
  // Full caches grow instead of writing one file back in a transaction,
  // during a change and on an exclusive table (rule 14 in table_locks.cpp).
  bool KeepsChangesInMemory() const noexcept override {
    return FTransactionLock || FChangeDepth > 0 || FExclusive;
  }
  bool NeedsRepair() const noexcept { return FNeedsRepair; }
  void ClearNeedsRepair() noexcept { FNeedsRepair = false; }
  bool HasBlobs() const;  // the table has BLOB fields and the BLOB file is open
  bool HoldsReadLock() const noexcept { return FReadLock; }
  bool HoldsQueryReadLock() const noexcept { return FQueryReadLock; }
  bool HoldsWriteLock() const noexcept { return FWriteLock; }

  // Takes the flags for the next open; only while the count is 0.
  void SetOptions(const TTableOptions& options);
  // The table-set file names: in the directory, or as given when the name
  // carries a path, or without a path in memory.
  TTableSetNames FileNames() const;

  // ---- Table set ---------------------------------------------------------------
  // First open opens the data file, then the index file (recreated empty and
  // the table marked as needing repair when it is missing), then the BLOB
  // file when there are BLOB fields. Any failure closes them and is raised.
  void OpenTable();
  // Lowers the count; at the last close outside a transaction writes back (or,
  // for a temporary exclusive table closed with `withDiscard`, discards),
  // releases every lock and closes the index, BLOB and data files.
  void CloseTable(bool withDiscard = false);
  // Creates the three files from `plan` and closes them again.
  void CreateTableFiles(const TTableCreateSpec& plan);
  // A valid empty table set: no fields, no primary key (a BLOB file when asked).
  void CreateTableFiles(bool withBlobFile);
  void DeleteTableFiles();
  // Renames each existing file of the set to `newName` (a full path when it
  // has a drive or backslash or the table is in memory, else in the
  // directory); with `backup` to ".DBK", ".IBK", ".BBK", replacing old backups.
  // All or nothing: 11010 when the data file is missing, 13060 (naming the
  // file) when a plain rename would replace an existing file, and files
  // already moved go back when a later one cannot move.
  void RenameTableFiles(const std::string& newName, bool backup);
  // Empties the three files, drops their caches and writes the new headers
  // at once, also inside a transaction (the cut cannot be rolled back).
  void EmptyTable();
  // Writes everything back and copies the index file to N.IBK.
  void BackupIndex();
  // Copies N.IBK back into the open index file (unless skipCopy) and deletes
  // the backup when asked. Without a backup the copy fails before the index
  // or its cached pages are touched.
  void RestoreIndex(bool skipCopy, bool deleteBackup);

  // ---- Locks and change detection (table_locks.cpp) --------------------------------
  // Compares the stored change counters with the cached ones and drops what
  // another process changed. True when anything was dropped.
  bool Refresh();
  // Each returns true when it took the lock (false: not needed or held).
  bool ReadLock();
  void ReadUnlock();
  bool QueryReadLock();
  void QueryReadUnlock();
  // Whether another opener holds the data file's write-lock byte: a writer
  // waiting for the index range (a change or a commit takes the byte first)
  // or a transaction under way. Tested by taking the byte once, without
  // retries, and giving it back at once; false when this table holds it
  // itself, or takes no locks (rule 1).
  bool WriterWaiting();
  // The write lock around a change; inside a transaction nothing is taken
  // (the commit takes what it needs).
  bool WriteLock();
  void WriteUnlock();
  // Record locks; LockRecord returns true when its refresh found changes.
  bool LockRecord(std::int32_t n);
  void UnlockRecord(std::int32_t n);
  // The lock of a record an insert is about to create. Inside a transaction
  // no other process can see or write the table's new records, so only the
  // cursor mark is set; otherwise as LockRecord.
  bool LockNewRecord(std::int32_t n);
  bool RecordLockedByCursor(std::int32_t n) const { return FCursorLocks.Test(n); }
  // Releases a read lock taken for a cache miss (at the end of a cursor's
  // operation); nothing when none was taken.
  void EndOperation();

  // ---- Changes (table_changes.cpp) ----------------------------------------------------
  // Brackets one changing operation of a cursor (insert, modify, delete, an
  // index built or dropped), nested brackets counting as one. BeginChange
  // first finishes an emptying this process left unfinished, and raises when
  // it still cannot be finished. The outermost EndChange writes the set back
  // at once when the caches had to grow (rule 14); with `failed` (the
  // operation raised) a table outside a transaction forgets what the
  // operation left in its caches: a shared one drops them, an exclusive one
  // takes the operation back and keeps the earlier changes (rule 15).
  void BeginChange();
  void EndChange(bool failed);
  // Whether an emptying of this process wrote its intent N.EMP but could not
  // finish (table_empty.h).
  bool EmptyingUnfinished() const noexcept { return FEmptyingUnfinished; }
  // How many times its usual capacity a cache of an exclusive table may grow
  // to before the end of a change writes the set back (process-wide; at
  // least 1). Returns the previous factor.
  static constexpr std::size_t kDefaultExclusiveGrowth = 32;
  static std::size_t SetExclusiveGrowth(std::size_t factor);

  // ---- Transactions -----------------------------------------------------------------
  void StartTransaction();
  void Commit(bool endTransaction = true);
  void Rollback();

  // ---- Write-back -------------------------------------------------------------------
  void FlushTable(bool trim, bool forceHeader, bool flushToDisk, bool forceBlobHeader,
                  bool forceIndexHeader);
  void MarkChanged(bool data, bool index, bool blob);
  void DiscardCaches(bool trim, bool reloadHeaders);
  // Runs `rewrite`, which changes the files in bulk (a physical sort and the
  // indexes rebuilt after it), and writes everything back, as one journaled
  // write-back (rule 9): a crash or a failure at any point leaves the table
  // as it was before or as `rewrite` left it. On a failure the caches are
  // dropped and the headers read again, and the error is raised. Outside a
  // transaction only.
  void RewriteJournaled(const std::function<void()>& rewrite);
  // Writes an exclusive table's changes kept between operations back (outside
  // a transaction): operations that cannot be taken back in memory (a
  // rewrite, adding or removing an index) run after it, so their failure
  // cannot take earlier changes with it.
  void WritePendingChanges();

  // ---- Files ------------------------------------------------------------------------
  TDataFile& DataFile() noexcept { return *FDataFile; }
  TIndexFile& IndexFile() noexcept { return *FIndexFile; }
  TBlobFile& BlobFile() noexcept { return *FBlobFile; }
  // The three change counters as held in memory.
  void ChangeCounters(std::int32_t counters[3]) const;

  // ---- TStorageHost -------------------------------------------------------------------
  bool StrictChangeDetection() const override;
  bool ForceBufferFlush() const override;
  std::string TempDirectory() const override;
  bool IsExclusive() const override { return FExclusive; }
  bool HasWritten() const override { return FHasWritten; }
  void NoteWrite() override { FHasWritten = true; }
  bool LockForCacheMiss(TDataCursor* cursor) override;

 private:
  void PrepareHandlers();
  void OpenFiles();
  void CloseFiles() noexcept;
  void ReleaseAllLocks() noexcept;
  void ReleaseTransactionLock();
  void RunDeferredUnlocks();
  bool TakeReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot);
  // The write lock itself, also inside a transaction (for its commit).
  bool TakeWriteLock();
  bool ReleaseReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot);
  bool LocksSkipped() const { return FExclusive || FReadOnlyAttrFound; }
  // ---- Journal (table_journal.cpp) ----
  bool Journaled() const;
  bool HotJournalPresent() const;
  bool TakeWriteRanges();
  // The write ranges in one attempt, without waiting.
  bool TryWriteRanges() noexcept;
  void ReleaseWriteRanges() noexcept;
  // Closes the kept journal file, removing it when no one else uses it.
  void CloseKeptJournal() noexcept;
  // Removes an empty journal file that no one holds (one left by a process
  // that died, or by a closer that could not remove it).
  void RemoveLeftoverJournal() noexcept;
  bool RollBackHotJournal();
  bool RecoverHotJournal(bool holdsRanges);
  void RecoverUnderReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot);
  void RecoverAtOpen();
  void WriteBackAll(bool trim, bool forceHeader, bool flushToDisk, bool forceBlobHeader,
                    bool forceIndexHeader);
  void JournaledWriteBack(bool trim, bool forceHeader, bool flushToDisk, bool forceBlobHeader,
                          bool forceIndexHeader);
  // `writes` recorded and committed through the journal, under the write
  // ranges; a failure drops the caches and reloads the headers (rule 11),
  // or with `keepCaches` marks the entries it had written changed again and
  // puts the headers back, so that memory keeps every change (rule 15).
  void JournaledRun(bool flushToDisk, const std::function<void()>& writes, bool keepCaches = false);
  void TrimCaches();
  // ---- Changes (table_changes.cpp) ----
  // Whether a cache's capacity is above `factor` times its usual one.
  bool CachesGrown(std::size_t factor) const;
  // The undo of one change of an exclusive table (rule 15): started by the
  // outermost BeginChange, restarted by a write-back during the change,
  // ended by EndChange.
  void BeginUndo();
  void EndUndo() noexcept;
  // Puts the caches and headers back as they were when the undo began; when
  // that cannot be done whole, drops the caches and reads the headers again.
  void RollBackChange();
  // The steps of an emptying after its intent is on disk (table_empty.h).
  void FinishEmptying();
  // Finishes an emptying left unfinished, when there is one; raises its
  // error when it still fails.
  void FinishUnfinishedEmptying();

  TDataDirectory* FDirectory;
  std::string FName;
  bool FInMemory;
  int FOpenCount = 0;
  bool FOpen = false;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttrFound = false;
  bool FTemporary = false;
  bool FNeedsRepair = false;
  bool FInTransaction = false;
  bool FTransactionLock = false;
  bool FReadLock = false;
  bool FMissReadLock = false;  // the read lock was taken for a cache miss
  bool FQueryReadLock = false;
  bool FWriteLock = false;
  bool FHasWritten = false;
  int FChangeDepth = 0;              // changing operations under way (BeginChange)
  bool FUndoing = false;             // the caches note the running change (BeginUndo)
  bool FEmptyingUnfinished = false;  // N.EMP of ours is on disk, the emptying failed
  std::uint32_t FReadIndexSlot = 0, FReadBlobSlot = 0;
  std::uint32_t FQueryIndexSlot = 0, FQueryBlobSlot = 0;
  TRecordsBitmap FOsLocks;        // record bytes held at the operating-system level
  TRecordsBitmap FCursorLocks;    // records locked by a cursor of this table
  TRecordsBitmap FDeferredLocks;  // unlocks deferred to the end of the transaction
  std::unique_ptr<TDataFile> FDataFile;
  std::unique_ptr<TIndexFile> FIndexFile;
  std::unique_ptr<TBlobFile> FBlobFile;
  TJournalLocation FJournal;  // found at open (table_journal.cpp)
  TKeptJournal FKeptJournal;  // the journal file kept open between write-backs
};

}  // namespace engine
