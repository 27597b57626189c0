// TDataTable: the journaled write-back and hot-journal recovery (rules 9 to
// 12 in table_locks.cpp; the journal itself is described in
// files/commit_journal.h).
#include "engine/errors.h"
#include "engine/files/commit_journal.h"
#include "engine/files/lock_map.h"
#include "engine/table/data_table.h"

namespace engine {

bool TDataTable::Journaled() const {
  return !FInMemory && !FTemporary;
}

bool TDataTable::HotJournalPresent() const {
  return Journaled() && TCommitJournal::Exists(FJournal);
}

// ---- Write ranges for a journal -----------------------------------------------------

bool TDataTable::TakeWriteRanges() {
  if (!TakeFileWriteLock(*FIndexFile)) return false;
  if (HasBlobs() && !TakeFileWriteLock(*FBlobFile)) {
    ReleaseFileWriteLock(*FIndexFile);
    return false;
  }
  return true;
}

void TDataTable::ReleaseWriteRanges() noexcept {
  if (HasBlobs()) ReleaseFileWriteLock(*FBlobFile);
  ReleaseFileWriteLock(*FIndexFile);
}

// ---- Recovery -----------------------------------------------------------------------

bool TDataTable::RollBackHotJournal() {
  const TJournalFiles files = {FDataFile.get(), FIndexFile.get(),
                               HasBlobs() ? FBlobFile.get() : nullptr};
  if (!TCommitJournal::Recover(FJournal, files)) return false;
  // What is cached may stem from before the files were put back.
  DiscardCaches(false, true);
  return true;
}

bool TDataTable::RecoverHotJournal(bool holdsRanges) {
  if (!FOpen || !HotJournalPresent()) return false;
  if (FReadOnlyAttrFound) RaiseEngineError(kErrAccessDenied, FName);
  if (holdsRanges || LocksSkipped()) return RollBackHotJournal();
  if (!TakeWriteRanges()) RaiseEngineError(kErrLockFailed, FName);
  bool recovered = false;
  try {
    recovered = RollBackHotJournal();
  } catch (...) {
    ReleaseWriteRanges();
    throw;
  }
  ReleaseWriteRanges();
  return recovered;
}

void TDataTable::RecoverUnderReaderSlots(std::uint32_t& indexSlot, std::uint32_t& blobSlot) {
  if (!HotJournalPresent()) return;
  // Our own slot is inside the write range: give it up, recover, take again.
  ReleaseReaderSlots(indexSlot, blobSlot);
  RecoverHotJournal(false);
  if (!TakeReaderSlots(indexSlot, blobSlot)) RaiseEngineError(kErrLockFailed, FName);
}

void TDataTable::RecoverAtOpen() {
  if (!HotJournalPresent()) return;
  if (!FReadOnly || FReadOnlyAttrFound) {
    RecoverHotJournal(false);
    return;
  }
  // Opened for reading only: open the files once for writing to put them
  // back, then again as asked.
  CloseFiles();
  FReadOnly = false;
  try {
    OpenFiles();
    RecoverHotJournal(false);
  } catch (...) {
    CloseFiles();
    FReadOnly = true;
    throw;
  }
  CloseFiles();
  FReadOnly = true;
  OpenFiles();
}

// ---- Journaled write-back -------------------------------------------------------------

void TDataTable::WriteBackAll(bool trim, bool forceHeader, bool flushToDisk, bool forceBlobHeader,
                              bool forceIndexHeader) {
  FDataFile->WriteBack(flushToDisk);
  FDataFile->WriteHeader(forceHeader, flushToDisk);
  FDataFile->WriteDefinitions();
  if (trim) FDataFile->TrimCache();
  FIndexFile->WriteBack(flushToDisk);
  FIndexFile->WriteHeader(forceIndexHeader, flushToDisk);
  if (trim) FIndexFile->TrimCache(true);
  if (HasBlobs()) {
    FBlobFile->WriteBack(flushToDisk);
    FBlobFile->WriteHeader(forceBlobHeader, flushToDisk);
    if (trim) FBlobFile->TrimCache();
  }
}

void TDataTable::JournaledWriteBack(bool trim, bool forceHeader, bool flushToDisk,
                                    bool forceBlobHeader, bool forceIndexHeader) {
  // The journal lives only under the write ranges (rule 10): a reader that
  // sees one while holding a slot knows its writer is gone.
  const bool takeRanges = !FWriteLock && !LocksSkipped();
  if (takeRanges && !TakeWriteRanges()) RaiseEngineError(kErrLockFailed, FName);
  try {
    {
      TCommitJournal journal(
          FJournal, {FDataFile.get(), FIndexFile.get(), HasBlobs() ? FBlobFile.get() : nullptr},
          flushToDisk || ForceBufferFlush());
      WriteBackAll(trim, forceHeader, false, forceBlobHeader, forceIndexHeader);
      journal.Commit();
    }
  } catch (...) {
    // The caches took the writes as done: forget them and read again what
    // the files hold, which is the state before this write-back (rule 11).
    try {
      DiscardCaches(true, true);
    } catch (const EDatabaseError&) {
      // The first error is the one reported.
    }
    if (takeRanges) ReleaseWriteRanges();
    throw;
  }
  if (takeRanges) ReleaseWriteRanges();
}

}  // namespace engine
