// TDataTable: the journaled write-back and hot-journal recovery (rules 9 to
// 12 in table_locks.cpp; the journal itself is described in
// files/commit_journal.h).
#include <functional>
#include <memory>

#include "engine/errors.h"
#include "engine/files/commit_journal.h"
#include "engine/files/lock_map.h"
#include "engine/table/data_table.h"
#include "engine/table/table_empty.h"

namespace engine {

bool TDataTable::Journaled() const {
  return !FInMemory && !FTemporary;
}

bool TDataTable::HotJournalPresent() const {
  return Journaled() && TCommitJournal::Hot(FJournal, &FKeptJournal);
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

bool TDataTable::TryWriteRanges() noexcept {
  try {
    if (!TryFileWriteLock(*FIndexFile)) return false;
    if (HasBlobs() && !TryFileWriteLock(*FBlobFile)) {
      ReleaseFileWriteLock(*FIndexFile);
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

void TDataTable::ReleaseWriteRanges() noexcept {
  if (HasBlobs()) ReleaseFileWriteLock(*FBlobFile);
  ReleaseFileWriteLock(*FIndexFile);
}

// ---- The kept journal ---------------------------------------------------------------

void TDataTable::CloseKeptJournal() noexcept {
  if (!FKeptJournal.IsOpen()) return;
  // The file is removed under the write ranges only, so that no writer of
  // another process opens it in between (files/commit_journal.h); when they
  // are not free at once it stays, empty, for the next opener or closer.
  const bool held = FWriteLock || LocksSkipped();
  const bool taken = !held && TryWriteRanges();
  FKeptJournal.Close(FJournal, held || taken);
  if (taken) ReleaseWriteRanges();
}

void TDataTable::RemoveLeftoverJournal() noexcept {
  if (!Journaled() || !TCommitJournal::Exists(FJournal) || TCommitJournal::Hot(FJournal)) return;
  const bool held = FWriteLock || LocksSkipped();
  const bool taken = !held && TryWriteRanges();
  if (held || taken) {
    // Refused while another process holds it as its kept journal.
    if (TCommitJournal::Exists(FJournal) && !TCommitJournal::Hot(FJournal))
      TCommitJournal::Discard(FJournal);
  }
  if (taken) ReleaseWriteRanges();
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

namespace {

// 11013 for a table whose files cannot be written while an interrupted
// commit or emptying waits to be finished by a writer: the message says what
// has to happen before the table can be read.
[[noreturn]] void RaiseNeedsWriter(const std::string& table, const char* what) {
  std::string text;
  try {
    RaiseEngineError(kErrAccessDenied, table);  // sets the error context
  } catch (const EZORVADEngineError& e) {
    text = e.Errors(0).Message();
  }
  text += what;
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  throw EZORVADEngineError(kErrAccessDenied, text);
}

[[noreturn]] void RaiseRollBackNeedsWriter(const std::string& table) {
  RaiseNeedsWriter(table,
                   ": an interrupted commit must first be rolled back from its journal (.JNL) by "
                   "a process that may write the table's files, which are read-only");
}

[[noreturn]] void RaiseEmptyingNeedsWriter(const std::string& table) {
  RaiseNeedsWriter(table,
                   ": an interrupted emptying (.EMP) must first be finished by a process that may "
                   "write the table's files, which are read-only");
}

}  // namespace

bool TDataTable::RecoverHotJournal(bool holdsRanges) {
  if (!FOpen || !HotJournalPresent()) return false;
  if (FReadOnlyAttrFound) {
    // No one can write these files, so no writer is at work: a journal whose
    // rollback would change nothing (a commit cut short before it touched a
    // byte) is removed when the directory allows it, and the table is read
    // as it is; any other needs a process that may write the files.
    const TJournalFiles files = {FDataFile.get(), FIndexFile.get(),
                                 HasBlobs() ? FBlobFile.get() : nullptr};
    if (TCommitJournal::RollBackNeeded(FJournal, files)) RaiseRollBackNeedsWriter(FName);
    TCommitJournal::Discard(FJournal);
    return false;
  }
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
  if (!HotJournalPresent() && !(Journaled() && EmptyIntentPresent(FJournal))) return;
  // An interrupted emptying is finished under the write ranges
  // (table_empty.h).
  const auto finishEmptying = [this] {
    if (!Journaled() || !EmptyIntentPresent(FJournal)) return;
    if (FReadOnlyAttrFound) RaiseEmptyingNeedsWriter(FName);
    const bool takeRanges = !LocksSkipped();
    if (takeRanges && !TakeWriteRanges()) RaiseEngineError(kErrLockFailed, FName);
    try {
      // Another opener may have finished it while this one waited.
      if (EmptyIntentPresent(FJournal)) {
        CutTableFilesToHeaders(*this);
        WriteEmptyHeaders(*this);
        RemoveEmptyIntent(FJournal);
      }
      DiscardCaches(false, true);
    } catch (...) {
      if (takeRanges) ReleaseWriteRanges();
      throw;
    }
    if (takeRanges) ReleaseWriteRanges();
  };
  // A hot journal first: an emptying never leaves one, but a commit killed
  // before the emptying began may have.
  const auto recover = [&] {
    RecoverHotJournal(false);
    finishEmptying();
  };
  if (!FReadOnly || FReadOnlyAttrFound) {
    recover();
    return;
  }
  // Opened for reading only: open the files once for writing to put them
  // back, then again as asked.
  CloseFiles();
  FReadOnly = false;
  try {
    OpenFiles();
    recover();
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
    // Journaled, the BLOB header goes before the blocks: it is recorded like
    // every header and page above, so that the journal is whole when the
    // first long run of blocks goes straight to the file and is made durable
    // once (files/commit_journal.h, step 2). Without a journal the header
    // follows the blocks it describes.
    const bool headerFirst = Journaled();
    if (headerFirst) FBlobFile->WriteHeader(forceBlobHeader, flushToDisk);
    FBlobFile->WriteBack(flushToDisk);
    if (!headerFirst) FBlobFile->WriteHeader(forceBlobHeader, flushToDisk);
    if (trim) FBlobFile->TrimCache();
  }
}

void TDataTable::JournaledWriteBack(bool trim, bool forceHeader, bool flushToDisk,
                                    bool forceBlobHeader, bool forceIndexHeader) {
  // The caches are trimmed only once the write-back has taken effect: an
  // exclusive table whose write-back fails keeps every change (rule 15).
  JournaledRun(
      flushToDisk,
      [&] { WriteBackAll(false, forceHeader, false, forceBlobHeader, forceIndexHeader); },
      FExclusive && !FTransactionLock);
  if (trim) TrimCaches();
}

void TDataTable::TrimCaches() {
  FDataFile->TrimCache();
  FIndexFile->TrimCache(true);
  if (HasBlobs()) FBlobFile->TrimCache();
}

void TDataTable::WritePendingChanges() {
  if (FOpen && !FReadOnly && FExclusive && !FInTransaction)
    FlushTable(false, false, false, false, false);
}

void TDataTable::RewriteJournaled(const std::function<void()>& rewrite) {
  if (FReadOnly || !FOpen) RaiseEngineError(kErrAccessDenied, FName);
  // Nothing is written over an emptying that is not finished (rule 13).
  FinishUnfinishedEmptying();
  // An exclusive table's earlier changes are written first: a failed
  // rewrite drops the caches.
  WritePendingChanges();
  const auto all = [&] {
    rewrite();
    WriteBackAll(true, true, false, true, true);
  };
  if (Journaled()) {
    JournaledRun(false, all);
    return;
  }
  try {
    all();
  } catch (...) {
    try {
      DiscardCaches(true, true);
    } catch (const EDatabaseError&) {
      // The first error is the one reported.
    }
    throw;
  }
}

namespace {

// What the caches and headers held before a write-back (rule 15).
struct TSetMarks {
  TDataFile::TMarks data;
  TIndexFile::TMarks index;
  TBlobFile::TMarks blob;
};

}  // namespace

void TDataTable::JournaledRun(bool flushToDisk, const std::function<void()>& writes,
                              bool keepCaches) {
  // The journal lives only under the write ranges (rule 10): a reader that
  // sees one while holding a slot knows its writer is gone.
  const bool takeRanges = !FWriteLock && !LocksSkipped();
  if (takeRanges && !TakeWriteRanges()) RaiseEngineError(kErrLockFailed, FName);
  std::unique_ptr<TSetMarks> marks;
  try {
    if (keepCaches) {
      marks = std::make_unique<TSetMarks>();
      marks->data = FDataFile->MarksBeforeWriteBack();
      marks->index = FIndexFile->MarksBeforeWriteBack();
      if (HasBlobs()) marks->blob = FBlobFile->MarksBeforeWriteBack();
    }
  } catch (...) {
    if (takeRanges) ReleaseWriteRanges();
    throw;
  }
  // After a failed write-back whose journal has put the files back: the
  // caches as they were before it (false when that cannot be done whole).
  const auto keep = [&]() -> bool {
    if (!marks) return false;
    try {
      // A journal whose rollback failed is rolled back now, before the files
      // are used again.
      if (TCommitJournal::Hot(FJournal, &FKeptJournal)) {
        const TJournalFiles files = {FDataFile.get(), FIndexFile.get(),
                                     HasBlobs() ? FBlobFile.get() : nullptr};
        TCommitJournal::Recover(FJournal, files);
      }
      bool whole = FDataFile->RestoreMarks(marks->data);
      whole = FIndexFile->RestoreMarks(marks->index) && whole;
      if (HasBlobs()) whole = FBlobFile->RestoreMarks(marks->blob) && whole;
      return whole;
    } catch (...) {
      return false;  // the caches are dropped instead
    }
  };
  try {
    {
      TCommitJournal journal(
          FJournal, {FDataFile.get(), FIndexFile.get(), HasBlobs() ? FBlobFile.get() : nullptr},
          flushToDisk || ForceBufferFlush(), &FKeptJournal);
      writes();
      journal.Commit();
    }
  } catch (...) {
    // The caches took the writes as done: forget them and read again what
    // the files hold, which is the state before this write-back (rule 11);
    // or mark them changed again (rule 15).
    if (!keep()) {
      try {
        DiscardCaches(true, true);
      } catch (const EDatabaseError&) {
        // The first error is the one reported.
      }
    }
    if (takeRanges) ReleaseWriteRanges();
    throw;
  }
  if (takeRanges) ReleaseWriteRanges();
}

}  // namespace engine
