// TDataTable: locks, change detection, write-back and transactions.
//
// Lock order (always taken in this order, released in reverse):
//   data write-lock byte  ->  index write range  ->  BLOB write range
//   (readers: index reader slot -> BLOB reader slot; record bytes any time)
//
// Rules:
//  1. Nothing is locked on a table that is exclusive or whose files carry the
//     read-only attribute (no one else can write it), except that an exclusive
//     table's transaction still takes the data byte.
//  2. Read lock: a reader slot of the index file and, with BLOB fields, of the
//     BLOB file; skipped when the query read lock, transaction lock, write
//     lock or read lock is already held. Taking it runs Refresh (rule 6).
//  3. Query read lock: like rule 2 with its own slots, for a whole SQL
//     statement; while held, rule 2 is skipped.
//  4. Write lock: the data byte (unless the transaction lock holds it), the
//     index range, the BLOB range; then Refresh unless in a transaction. A
//     writer thus waits for every reader slot to be free. Inside a
//     transaction a change takes nothing: the data byte already keeps every
//     other writer out and nothing reaches the files before the commit, which
//     takes the ranges for its write-back (rule 8). Readers of other
//     processes meanwhile read the files as they were before the transaction.
//  5. Record lock n: byte 0x7FFFFFFE - n of the data file, with the session's
//     retry rule. A record locked by a cursor of this process is refused at
//     once (10258). During a transaction unlocks are deferred to its end.
//  6. Refresh: index counter changed -> reload the index header, drop all
//     pages, reload the data header, drop all records; else data counter
//     changed -> take the stored header, drop all records; then BLOB counter
//     changed -> drop all blocks.
//  7. Write-back: shared tables write back after every change (FlushTable);
//     exclusive tables only mark (MarkChanged) and write at flush or close,
//     or at the end of a change that made a cache grow (rule 14); inside a
//     transaction nothing is written: headers are only marked.
//  8. Transaction: the data byte for the whole length; commit takes the write
//     ranges, writes everything with every write flushed, releases the ranges
//     and then the data byte; rollback drops the caches and reloads the
//     headers, which restores the counters as they are on disk.
//  9. Journaled write-back: every write-back of a table on disk (not in
//     memory, not temporary) goes through the rollback journal N.JNL
//     (files/commit_journal.h): the writes are recorded, the original bytes
//     they overwrite are journaled and flushed with the journal's directory
//     entry, the writes are applied and flushed, and the journal is deleted.
//     A crash at any instant leaves the set as before or as after the
//     write-back, once a hot journal is rolled back (rule 10). A write-back
//     asked to reach the disk (a commit, or ForceBufferFlush) flushes every
//     step and so also survives a power cut; the others (a shared table's
//     edit outside a transaction, an exclusive table's flush) flush nothing,
//     as before, and are whole after the process is killed.
// 10. The journal exists only under the write ranges (index range, BLOB
//     range): a shared table's write-back takes them when it does not hold
//     the write lock. So a journal seen while holding a reader slot, the
//     write ranges or the data byte with no write lock of our own is hot
//     (its writer died), and is rolled back before anything is read: at
//     open, after taking reader slots (ReadLock, QueryReadLock, a cache
//     miss: the slots are given back, the ranges taken for the rollback,
//     the slots taken again), after the write lock, at the start of a
//     transaction and at rollback. The rollback holds both write ranges, so
//     other processes wait; it drops our caches and reloads the headers.
// 11. A failed write-back (a write or flush refused, a full disk) puts the
//     files back from the journal, drops the caches and reloads the headers:
//     the table is as before the write-back, and the error (9218) is raised.
// 12. A failed commit (10249 for a refused write range, or rule 11) leaves
//     the table in its transaction with its transaction lock, so that the
//     caller's Rollback drops the caches, reloads the headers and releases
//     the locks as for a transaction that never tried to commit.
// 13. Emptying cuts the three files at once, which a rollback journal could
//     only undo by holding the whole table: it rolls forward instead. The
//     intent file N.EMP is created and flushed before the first cut and
//     deleted once the cut files and their new headers are flushed
//     (table_empty.h). Emptying needs an exclusive table, so no other
//     process has it open meanwhile and only an opener can find N.EMP left
//     by a crash: after rolling back any hot journal it takes the write
//     ranges and finishes the emptying. RestoreIndex copies the index backup
//     in as one journaled write-back (rule 9), under the write ranges. An
//     emptying whose writes stay refused leaves N.EMP behind; until it is
//     finished this process writes nothing more to the table: every change
//     and every write-back (the close's too) first tries to finish it and
//     raises when that fails.
// 14. A change outside a transaction reaches the files whole or not at all:
//     during a change (the cursor's write bracket, BeginChange/EndChange)
//     and on an exclusive table, a cache full of changed entries grows
//     instead of writing its own file back outside the journal; the change
//     is written back through the journal (rule 9) at its end, by FlushTable
//     on a shared table, and on an exclusive table by the end of the change
//     when a cache grew (table_changes.cpp).
// 15. An exclusive table outside a transaction keeps exactly the table after
//     its last successful operation in memory. A change that raises is taken
//     back from the undo its caches kept (table_changes.cpp): the earlier
//     operations' unwritten changes stay, nothing of the failed one remains.
//     A failed write-back (rule 11) puts the files back and, instead of
//     dropping the caches, marks the entries it wrote changed again and puts
//     the headers back as they were before it, so no earlier operation is
//     lost and a later write-back (a flush, the close) writes them all.
//
// Directory-wide: a directory commits its tables one after another, each
// atomically. A crash or failure in the middle leaves the tables before the
// interrupted one committed and that one and those after it as they were;
// there is no journal across tables.
#include "engine/errors.h"
#include "engine/files/lock_map.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/data_table.h"

namespace engine {

// ---- Change detection -------------------------------------------------------------

bool TDataTable::Refresh() {
  if (!FOpen) return false;
  bool dropped = false;
  if (FIndexFile->HeaderChanged()) {
    FIndexFile->DropCache(true);
    FDataFile->ReadHeader();
    FDataFile->DropCache();
    FDataFile->SetHasPrimaryKey(!FIndexFile->NoPrimaryKey());
    dropped = true;
  } else if (FDataFile->HeaderChanged()) {
    FDataFile->DropCache();
    dropped = true;
  }
  if (HasBlobs() && FBlobFile->HeaderChanged()) {
    FBlobFile->DropCache();
    dropped = true;
  }
  return dropped;
}

// ---- Read locks -------------------------------------------------------------------

bool TDataTable::TakeReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot) {
  if (!TakeReadLock(*FIndexFile, indexSlot)) return false;
  if (HasBlobs() && !TakeReadLock(*FBlobFile, blobSlot)) {
    ReleaseReadLock(*FIndexFile, indexSlot);
    indexSlot = 0;
    return false;
  }
  return true;
}

bool TDataTable::ReleaseReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot) {
  bool ok = true;
  if (blobSlot != 0) ok = ReleaseReadLock(*FBlobFile, blobSlot) && ok;
  if (indexSlot != 0) ok = ReleaseReadLock(*FIndexFile, indexSlot) && ok;
  indexSlot = blobSlot = 0;
  return ok;
}

bool TDataTable::ReadLock() {
  if (!FOpen || FQueryReadLock || FTransactionLock || FWriteLock || FReadLock || LocksSkipped())
    return false;
  if (!TakeReaderSlots(FReadIndexSlot, FReadBlobSlot)) RaiseEngineError(kErrLockFailed, FName);
  FReadLock = true;
  RecoverUnderReaderSlots(FReadIndexSlot, FReadBlobSlot);
  Refresh();
  return true;
}

void TDataTable::ReadUnlock() {
  if (!FReadLock) return;
  FReadLock = false;
  FMissReadLock = false;
  if (!ReleaseReaderSlots(FReadIndexSlot, FReadBlobSlot)) RaiseEngineError(kErrUnlockFailed, FName);
}

bool TDataTable::LockForCacheMiss(TDataCursor*) {
  if (FReadLock || FQueryReadLock || FTransactionLock || FWriteLock || LocksSkipped()) return false;
  if (!TakeReaderSlots(FReadIndexSlot, FReadBlobSlot)) RaiseEngineError(kErrLockFailed, FName);
  FReadLock = true;
  FMissReadLock = true;
  RecoverUnderReaderSlots(FReadIndexSlot, FReadBlobSlot);
  return Refresh();
}

void TDataTable::EndOperation() {
  if (FMissReadLock) ReadUnlock();
}

bool TDataTable::QueryReadLock() {
  if (!FOpen || FQueryReadLock || FTransactionLock || FWriteLock || FReadLock || LocksSkipped())
    return false;
  if (!TakeReaderSlots(FQueryIndexSlot, FQueryBlobSlot)) RaiseEngineError(kErrLockFailed, FName);
  FQueryReadLock = true;
  RecoverUnderReaderSlots(FQueryIndexSlot, FQueryBlobSlot);
  Refresh();
  return true;
}

void TDataTable::QueryReadUnlock() {
  if (!FQueryReadLock) return;
  FQueryReadLock = false;
  if (!ReleaseReaderSlots(FQueryIndexSlot, FQueryBlobSlot))
    RaiseEngineError(kErrUnlockFailed, FName);
}

bool TDataTable::WriterWaiting() {
  if (!FOpen || FTransactionLock || FWriteLock || LocksSkipped()) return false;
  if (!FDataFile->Lock(kTableWriteLockOffset, 1, true)) return true;
  if (!FDataFile->Lock(kTableWriteLockOffset, 1, false)) RaiseEngineError(kErrLockFailed, FName);
  return false;
}

// ---- Write lock -------------------------------------------------------------------

bool TDataTable::WriteLock() {
  if (FInTransaction && FTransactionLock) return false;  // rule 4
  return TakeWriteLock();
}

bool TDataTable::TakeWriteLock() {
  if (!FOpen || FWriteLock || LocksSkipped()) return false;
  // A read lock taken for a cache miss is given up first: a writer needs the
  // whole index range, which covers our own reader slot too.
  if (FReadLock) ReadUnlock();
  bool dataTaken = false;
  bool indexTaken = false;
  auto fail = [&] {
    if (indexTaken) ReleaseFileWriteLock(*FIndexFile);
    if (dataTaken) ReleaseTableWriteLock(*FDataFile);
    RaiseEngineError(kErrLockFailed, FName);
  };
  if (!FTransactionLock) {
    if (!TakeTableWriteLock(*FDataFile)) fail();
    dataTaken = true;
  }
  if (!TakeFileWriteLock(*FIndexFile)) fail();
  indexTaken = true;
  if (HasBlobs() && !TakeFileWriteLock(*FBlobFile)) fail();
  FWriteLock = true;
  if (!FTransactionLock) {
    RecoverHotJournal(true);
    Refresh();
  }
  return true;
}

void TDataTable::WriteUnlock() {
  if (!FWriteLock) return;
  FWriteLock = false;
  bool ok = true;
  if (HasBlobs()) ok = ReleaseFileWriteLock(*FBlobFile) && ok;
  ok = ReleaseFileWriteLock(*FIndexFile) && ok;
  if (!FTransactionLock) ok = ReleaseTableWriteLock(*FDataFile) && ok;
  if (!ok) RaiseEngineError(kErrLockFailed, FName);
}

// ---- Record locks -----------------------------------------------------------------

namespace {
void Cover(TRecordsBitmap& bitmap, std::int32_t n) {
  if (static_cast<std::uint32_t>(n) > bitmap.Size()) {
    const std::uint32_t size =
        bitmap.Size() == 0 ? TDataTable::kInitialLockBitmapRecords : bitmap.Size();
    bitmap.SetSize(std::max<std::uint32_t>(static_cast<std::uint32_t>(n), size * 2));
  }
}
}  // namespace

bool TDataTable::LockRecord(std::int32_t n) {
  if (n < 1 || n > static_cast<std::int32_t>(kMaxLockableRecord))
    RaiseEngineError(kErrLockFailed, FName);
  if (FCursorLocks.Test(n)) RaiseEngineError(kErrRecordLocked, FName);
  Cover(FOsLocks, n);
  Cover(FCursorLocks, n);
  Cover(FDeferredLocks, n);
  bool changed = false;
  const bool osLockNeeded = !((FExclusive && !FTransactionLock) || FReadOnlyAttrFound) &&
                            !(FTransactionLock && FOsLocks.Test(n));
  if (osLockNeeded) {
    bool tookRead = false;
    if (!FExclusive && !StrictChangeDetection()) {
      const bool hadRead = FReadLock;
      tookRead = ReadLock();
      if (!tookRead && !hadRead && !FWriteLock && !FTransactionLock && !FQueryReadLock) {
        changed = Refresh();
      }
      if (tookRead) changed = true;  // ReadLock refreshed; callers re-find either way
    }
    const TDataSession* s = Session();
    try {
      TakeRecordLock(*FDataFile, static_cast<std::uint32_t>(n),
                     s != nullptr ? s->LockRetryCount : kDefaultLockRetryCount,
                     s != nullptr ? s->LockWaitTime : kDefaultLockWaitTimeMs, FName);
    } catch (...) {
      if (tookRead) ReadUnlock();
      throw;
    }
    if (tookRead) ReadUnlock();
    FOsLocks.Set(n);
    FDeferredLocks.Clear(n);
  }
  FCursorLocks.Set(n);
  return changed;
}

bool TDataTable::LockNewRecord(std::int32_t n) {
  if (!FTransactionLock || n != FDataFile->NextRecord()) return LockRecord(n);
  if (FCursorLocks.Test(n)) RaiseEngineError(kErrRecordLocked, FName);
  Cover(FCursorLocks, n);
  Cover(FDeferredLocks, n);
  Cover(FOsLocks, n);
  FCursorLocks.Set(n);
  return false;
}

void TDataTable::UnlockRecord(std::int32_t n) {
  const bool osLevel = !((FExclusive && !FTransactionLock) || FReadOnlyAttrFound);
  FCursorLocks.Clear(n);
  if (!osLevel) return;
  if (FTransactionLock) {
    Cover(FDeferredLocks, n);
    FDeferredLocks.Set(n);
    return;
  }
  if (!FOsLocks.Test(n)) RaiseEngineError(kErrUnlockFailed, FName);
  FOsLocks.Clear(n);
  if (!ReleaseRecordLock(*FDataFile, static_cast<std::uint32_t>(n)))
    RaiseEngineError(kErrUnlockFailed, FName);
}

void TDataTable::RunDeferredUnlocks() {
  bool ok = true;
  for (std::uint32_t n = FDeferredLocks.FindNext(0); n != 0; n = FDeferredLocks.FindNext(n)) {
    FDeferredLocks.Clear(n);
    if (FCursorLocks.Test(n) || !FOsLocks.Test(n)) continue;
    FOsLocks.Clear(n);
    ok = ReleaseRecordLock(*FDataFile, n) && ok;
  }
  if (!ok) RaiseEngineError(kErrUnlockFailed, FName);
}

void TDataTable::ReleaseAllLocks() noexcept {
  if (!FDataFile->IsOpen()) {
    FReadLock = FQueryReadLock = FWriteLock = FTransactionLock = FMissReadLock = false;
    return;
  }
  for (std::uint32_t n = FOsLocks.FindNext(0); n != 0; n = FOsLocks.FindNext(n)) {
    ReleaseRecordLock(*FDataFile, n);
  }
  FOsLocks.ClearAll();
  FCursorLocks.ClearAll();
  FDeferredLocks.ClearAll();
  ReleaseReaderSlots(FReadIndexSlot, FReadBlobSlot);
  ReleaseReaderSlots(FQueryIndexSlot, FQueryBlobSlot);
  if (FWriteLock) {
    if (HasBlobs()) ReleaseFileWriteLock(*FBlobFile);
    ReleaseFileWriteLock(*FIndexFile);
    if (!FTransactionLock) ReleaseTableWriteLock(*FDataFile);
  }
  if (FTransactionLock) ReleaseTableWriteLock(*FDataFile);
  FReadLock = FQueryReadLock = FWriteLock = FTransactionLock = FMissReadLock = false;
}

// ---- Write-back -------------------------------------------------------------------

void TDataTable::MarkChanged(bool data, bool index, bool blob) {
  if (data) FDataFile->MarkHeaderChanged();
  if (index) FIndexFile->MarkHeaderChanged();
  if (blob && HasBlobs()) FBlobFile->MarkHeaderChanged();
  FHasWritten = true;
}

void TDataTable::FlushTable(bool trim, bool forceHeader, bool flushToDisk, bool forceBlobHeader,
                            bool forceIndexHeader) {
  if (FReadOnly || !FOpen) return;
  if (FInTransaction) {
    MarkChanged(forceHeader, forceIndexHeader, forceBlobHeader);
    return;
  }
  // Nothing is written over an emptying that is not finished (rule 13).
  FinishUnfinishedEmptying();
  if (Journaled()) {
    JournaledWriteBack(trim, forceHeader, flushToDisk, forceBlobHeader, forceIndexHeader);
  } else {
    WriteBackAll(trim, forceHeader, flushToDisk, forceBlobHeader, forceIndexHeader);
  }
  // The files now hold the change so far: a failure later in it goes back
  // to here (rule 15).
  if (FUndoing && FChangeDepth > 0) BeginUndo();
}

void TDataTable::DiscardCaches(bool trim, bool reloadHeaders) {
  FDataFile->DropCache();
  FIndexFile->DropCache(true);
  if (HasBlobs()) FBlobFile->DropCache();
  if (trim) {
    FDataFile->TrimCache();
    FIndexFile->TrimCache(true);
    if (HasBlobs()) FBlobFile->TrimCache();
  }
  if (reloadHeaders) {
    FDataFile->ReadHeader();
    FIndexFile->ReadHeader();
    FDataFile->SetHasPrimaryKey(!FIndexFile->NoPrimaryKey());
    if (HasBlobs()) FBlobFile->ReadHeader();
  }
}

// ---- Transactions -----------------------------------------------------------------

void TDataTable::StartTransaction() {
  if (FReadOnly || FInTransaction) return;
  if (!FOpen) RaiseEngineError(kErrLockFailed, FName);
  if (FExclusive) FlushTable(false, false, false, false, false);
  if (!TakeTableWriteLock(*FDataFile)) RaiseEngineError(kErrLockFailed, FName);
  FInTransaction = true;
  FTransactionLock = true;
  if (!FExclusive) {
    try {
      RecoverHotJournal(false);
    } catch (...) {
      FInTransaction = false;
      ReleaseTransactionLock();
      throw;
    }
    Refresh();
  }
}

void TDataTable::Commit(bool endTransaction) {
  if (!FInTransaction) return;
  // Until the write-back has succeeded the table stays in its transaction
  // (rule 12): a failure here is followed by the caller's Rollback.
  const bool tookWrite = FExclusive ? false : TakeWriteLock();
  try {
    FInTransaction = false;  // FlushTable writes only outside a transaction
    FlushTable(endTransaction, false, true, false, false);
    FInTransaction = true;
  } catch (...) {
    FInTransaction = true;
    if (tookWrite) {
      try {
        WriteUnlock();
      } catch (const EDatabaseError&) {
        // The first error is the one reported.
      }
    }
    throw;
  }
  if (tookWrite) WriteUnlock();
  if (endTransaction) {
    FInTransaction = false;
    ReleaseTransactionLock();
  } else if (!FExclusive) {
    RunDeferredUnlocks();
  }
}

void TDataTable::Rollback() {
  if (!FInTransaction) return;
  FInTransaction = false;
  std::exception_ptr failure;
  try {
    // A journal left by a failed commit of ours whose own rollback failed
    // puts the files back before the headers are read again.
    if (FOpen && !FReadOnly) RecoverHotJournal(FWriteLock);
    if (FOpen) DiscardCaches(true, true);
  } catch (...) {
    failure = std::current_exception();
  }
  ReleaseTransactionLock();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::ReleaseTransactionLock() {
  if (!FTransactionLock) {
    if (FOpenCount == 0) CloseFiles();
    return;
  }
  FTransactionLock = false;
  const bool released = ReleaseTableWriteLock(*FDataFile);
  if (!FExclusive) RunDeferredUnlocks();
  if (FOpenCount == 0) {
    ReleaseAllLocks();
    CloseFiles();
  }
  if (!released) RaiseEngineError(kErrLockFailed, FName);
}

}  // namespace engine
