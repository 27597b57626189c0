// TDataTable: opening, creating, closing, renaming, deleting, emptying and
// backing up the table set (see data_table.h). Locks, change detection,
// write-back and transactions are in table_locks.cpp.
#include "engine/table/data_table.h"

#include <limits>
#include <vector>

#include "engine/errors.h"
#include "engine/files/commit_journal.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"
#include "engine/files/lock_map.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/table_empty.h"

namespace engine {

TDataTable::TDataTable(TDataDirectory* directory, const std::string& name, bool inMemory)
    : FDirectory(directory),
      FName(TableFileName("", name, kDataFileExt)),
      FInMemory(inMemory),
      FOsLocks(kInitialLockBitmapRecords),
      FCursorLocks(kInitialLockBitmapRecords),
      FDeferredLocks(kInitialLockBitmapRecords),
      FDataFile(std::make_unique<TDataFile>(this, this)),
      FIndexFile(std::make_unique<TIndexFile>(this, this)),
      FBlobFile(std::make_unique<TBlobFile>(this, this)) {
  // In-memory tables read a missing page from memory: a cache would double it.
  if (!inMemory) FIndexFile->SetCacheBudget(kIndexCacheBytes);
}

TDataTable::~TDataTable() {
  // Nothing is written: a transaction still running is forgotten, and the
  // locks go with the handles.
  ReleaseAllLocks();
  FInTransaction = false;
  CloseFiles();
}

TDataSession* TDataTable::Session() const noexcept {
  return FDirectory != nullptr ? FDirectory->Session() : nullptr;
}

bool TDataTable::HasBlobs() const {
  return FBlobFile->IsOpen() && FDataFile->IsOpen() && FDataFile->BlobFieldCount() > 0;
}

bool TDataTable::StrictChangeDetection() const {
  const TDataSession* s = Session();
  return s != nullptr && s->StrictChangeDetection;
}

bool TDataTable::ForceBufferFlush() const {
  const TDataSession* s = Session();
  return s != nullptr && s->ForceBufferFlush;
}

std::string TDataTable::TempDirectory() const {
  const TDataSession* s = Session();
  return s != nullptr ? s->TempDirectory() : std::string();
}

void TDataTable::SetOptions(const TTableOptions& options) {
  if (FOpenCount > 0) return;
  FExclusive = options.exclusive;
  FReadOnly = options.readOnly;
  FTemporary = options.temporary;
}

TTableSetNames TDataTable::FileNames() const {
  const bool asGiven = FInMemory || HasPathChars(FName) || FDirectory == nullptr;
  return TableSetNames(asGiven ? std::string() : FDirectory->Path(), FName);
}

void TDataTable::PrepareHandlers() {
  const TTableSetNames names = FileNames();
  TFileHandler* handlers[] = {FDataFile.get(), FIndexFile.get(), FBlobFile.get()};
  const std::string* fileNames[] = {&names.data, &names.index, &names.blob};
  for (int i = 0; i < 3; ++i) {
    handlers[i]->Close();
    handlers[i]->SetFileName(*fileNames[i]);
    handlers[i]->SetInMemory(FInMemory);
    handlers[i]->SetExclusive(FExclusive);
    handlers[i]->SetReadOnly(FReadOnly);
    handlers[i]->SetTemporary(FTemporary);
  }
}

void TDataTable::OpenFiles() {
  PrepareHandlers();
  FNeedsRepair = false;
  FHasWritten = false;
  try {
    FDataFile->Open();
    if (Journaled()) FJournal = TCommitJournal::Locate(FDataFile->FileName(), FInMemory);
    FIndexFile->SetEncrypted(FDataFile->Encrypted());
    if (!FIndexFile->Exists()) {
      // A lost index file is made again, empty; the first cursor rebuilds
      // the records' system index and the table goes without its keys.
      FIndexFile->CreateNew();
      FIndexFile->WriteHeader(true, true);
      FIndexFile->Close();
      FNeedsRepair = true;
    }
    FIndexFile->Open();
    if (FDataFile->BlobFieldCount() > 0) {
      FBlobFile->SetBlockSize(FDataFile->BlobBlockSize());
      FBlobFile->SetEncrypted(FDataFile->Encrypted());
      FBlobFile->Open();
    }
  } catch (...) {
    CloseFiles();
    throw;
  }
  FDataFile->SetHasPrimaryKey(!FIndexFile->NoPrimaryKey());
  FReadOnlyAttrFound = FDataFile->ReadOnlyAttrFound() || FIndexFile->ReadOnlyAttrFound() ||
                       FBlobFile->ReadOnlyAttrFound();
  if (FReadOnlyAttrFound) FReadOnly = true;
  FOpen = true;
}

void TDataTable::CloseFiles() noexcept {
  // What the table holds at its close survives a power cut: the removal of
  // the last commit's journal is made durable here if no later sync of the
  // directory did it (files/commit_journal.h, step 4).
  if (FOpen && Journaled()) {
    CloseKeptJournal();
    TCommitJournal::MakeRemovalDurable(FJournal);
  }
  FIndexFile->Close();
  FBlobFile->Close();
  FDataFile->Close();
  FOpen = false;
  FHasWritten = false;
  // An emptying that could not be finished is left to the next opener.
  FEmptyingUnfinished = false;
  FChangeDepth = 0;
}

void TDataTable::OpenTable() {
  if (FOpenCount == 0 && !FOpen) {
    OpenFiles();
    try {
      RecoverAtOpen();  // a commit cut short by a crash is rolled back first
      RemoveLeftoverJournal();
    } catch (...) {
      CloseFiles();
      throw;
    }
  }
  ++FOpenCount;
}

void TDataTable::CloseTable(bool withDiscard) {
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount > 0 || FInTransaction || !FOpen) return;
  std::exception_ptr failure;
  if (FExclusive && !FReadOnly) {
    try {
      if (withDiscard && FTemporary) {
        DiscardCaches(true, false);
      } else {
        FlushTable(true, false, false, false, false);
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  ReleaseAllLocks();
  CloseFiles();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::CreateTableFiles(const TTableCreateSpec& plan) {
  PrepareHandlers();
  try {
    FDataFile->CreateDataFile(plan.data);
    FDataFile->WriteHeader(true, false);
    FDataFile->WriteDefinitions();
    FIndexFile->SetEncrypted(plan.data.encrypted);
    FIndexFile->CreateNew();
    const TFieldDefinitions& fields = plan.data.fields;
    if (plan.indexes.empty()) {
      FIndexFile->DefinePrimaryIndex(TIndexDefinition{}, fields);
    } else {
      FIndexFile->DefinePrimaryIndex(plan.indexes.front(), fields);
      for (std::size_t i = 1; i < plan.indexes.size(); ++i) {
        FIndexFile->AddSecondaryIndex(plan.indexes[i], fields);
      }
    }
    FIndexFile->WriteHeader(true, false);
    if (FDataFile->BlobFieldCount() > 0) {
      FBlobFile->SetBlockSize(plan.data.blobBlockSize);
      FBlobFile->SetEncrypted(plan.data.encrypted);
      FBlobFile->CreateNew();
      FBlobFile->WriteHeader(true, false);
    }
  } catch (...) {
    CloseFiles();
    // A half-made table set is not left behind.
    for (TFileHandler* h :
         {static_cast<TFileHandler*>(FDataFile.get()), static_cast<TFileHandler*>(FIndexFile.get()),
          static_cast<TFileHandler*>(FBlobFile.get())}) {
      try {
        if (h->Exists()) h->Delete();
      } catch (const EDatabaseError&) {
      }
    }
    throw;
  }
  CloseFiles();
}

void TDataTable::CreateTableFiles(bool withBlobFile) {
  PrepareHandlers();
  TTableCreateSpec plan;
  CreateTableFiles(plan);
  if (withBlobFile) {
    PrepareHandlers();
    FBlobFile->CreateNew();
    FBlobFile->WriteHeader(true, false);
    CloseFiles();
  }
}

void TDataTable::DeleteTableFiles() {
  PrepareHandlers();
  FDataFile->Delete();
  FIndexFile->Delete();
  if (FBlobFile->Exists()) FBlobFile->Delete();
}

void TDataTable::RenameTableFiles(const std::string& newName, bool backup) {
  PrepareHandlers();
  // A table is its data file: without it there is nothing to rename.
  if (!FDataFile->Exists()) RaiseEngineError(kErrInvalidPath, FDataFile->FileName());
  const bool fullPath = FInMemory || HasPathChars(newName) || FDirectory == nullptr;
  const TTableSetNames targets =
      TableSetNames(fullPath ? std::string() : FDirectory->Path(), newName, backup);
  TFileList& list = TFileList::Instance();
  TFileHandler* handlers[] = {FDataFile.get(), FIndexFile.get(), FBlobFile.get()};
  const std::string* targetNames[] = {&targets.data, &targets.index, &targets.blob};
  bool present[3] = {};
  std::string originals[3];
  for (int i = 0; i < 3; ++i) {
    present[i] = handlers[i]->Exists();
    originals[i] = handlers[i]->FileName();
  }
  // Every file must be able to move before the first one does, so that a
  // refused rename leaves both sets whole. A plain rename never replaces a
  // file of the target name (another table's, or a stray one that would
  // join the renamed set); backups replace the older backup.
  for (int i = 0; i < 3; ++i) {
    const std::string& target = *targetNames[i];
    if (SameText(originals[i], target) || !list.HasFile(target, FInMemory)) continue;
    if (!backup && present[i]) RaiseEngineError(kErrTableExists, target);
  }
  if (backup) {
    for (int i = 0; i < 3; ++i) {
      const std::string& target = *targetNames[i];
      if (!present[i] || SameText(originals[i], target) || !list.HasFile(target, FInMemory))
        continue;
      const std::int32_t removed = list.RemoveFile(target, FInMemory);
      if (removed < 0) RaiseEngineError(-removed, target);
    }
  }
  // Moved files go back when a later one cannot move (in use elsewhere).
  int moved = 0;
  try {
    for (; moved < 3; ++moved) {
      if (present[moved]) handlers[moved]->Rename(*targetNames[moved]);
    }
  } catch (...) {
    for (int i = moved - 1; i >= 0; --i) {
      if (!present[i]) continue;
      try {
        handlers[i]->Rename(originals[i]);
      } catch (const EDatabaseError&) {
        // The first error is the one reported.
      }
    }
    throw;
  }
  if (!backup) FName = TableFileName("", ExtractFileName(newName), kDataFileExt);
}

void TDataTable::EmptyTable() {
  if (FReadOnly) RaiseEngineError(kErrAccessDenied, FName);
  // The files are cut at once, also inside a transaction: that cannot wait
  // for a commit nor be rolled back (a rollback reloads the headers and so
  // finds the empty table). The intent file makes the cut and the headers
  // one step for a later opener: an emptying cut short by a crash is
  // finished when the table is next opened (table_empty.h).
  const bool withIntent = Journaled();
  // An earlier emptying left unfinished has its intent on disk already.
  if (withIntent && !FEmptyingUnfinished) WriteEmptyIntent(FJournal);
  try {
    FinishEmptying();
  } catch (const EDatabaseError&) {
    // A refused write or flush once past the intent: the emptying can only
    // go forward. It is tried once more; when that fails too, the intent
    // stays, and this process changes the table no more until the emptying
    // is finished: the next change or the close tries again first, and an
    // opener after us finishes it (table_empty.h).
    if (!withIntent) throw;
    try {
      FinishEmptying();
    } catch (...) {
      FEmptyingUnfinished = true;
      throw;
    }
  }
}

void TDataTable::BackupIndex() {
  FlushTable(false, false, false, false, false);
  const std::string backup = ChangeFileExt(FIndexFile->FileName(), kIndexBackupExt);
  TFileList& list = TFileList::Instance();
  if (list.HasFile(backup, FInMemory)) {
    const std::int32_t removed = list.RemoveFile(backup, FInMemory);
    if (removed < 0) RaiseEngineError(-removed, backup);
  }
  FIndexFile->CopyTo(backup);
}

namespace {

// The whole of the file `name` (an index backup, no larger than an index).
std::vector<std::uint8_t> ReadWholeFile(const std::string& name, bool inMemory) {
  TFileHandler file(nullptr);
  file.SetFileName(name);
  file.SetInMemory(inMemory);
  file.Open();
  std::vector<std::uint8_t> image;
  try {
    const std::int64_t size = file.GetSize();
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max())
      RaiseEngineError(kErrReadFailed, name);
    image.resize(static_cast<std::size_t>(size));
    TFileAccess access(file);
    file.Seek(0, kSeekFromStart);
    if (!image.empty()) file.Read(image.data(), static_cast<std::int32_t>(image.size()));
  } catch (...) {
    file.Close();
    throw;
  }
  file.Close();
  return image;
}

// Makes the file of `h` hold exactly `image`.
void OverwriteWith(TFileHandler& h, const std::vector<std::uint8_t>& image) {
  TFileAccess access(h);
  h.Seek(0, kSeekFromStart);
  if (!image.empty()) h.Write(image.data(), static_cast<std::int32_t>(image.size()));
  if (h.GetSize() > static_cast<std::int64_t>(image.size())) {
    h.Seek(static_cast<std::int64_t>(image.size()), kSeekFromStart);
    h.Write(nullptr, 0);
  }
}

}  // namespace

void TDataTable::RestoreIndex(bool skipCopy, bool deleteBackup) {
  const std::string backup = ChangeFileExt(FIndexFile->FileName(), kIndexBackupExt);
  if (!skipCopy) {
    // The copy comes first: without a backup it fails before anything of the
    // index (its cached pages included) is given up.
    if (Journaled()) {
      // Copied as one journaled write-back (files/commit_journal.h): the
      // index file's old bytes, also those beyond a shorter backup, are
      // saved in N.JNL before the first is overwritten, so that a crash
      // leaves the old index or the restored one, never a mix.
      const std::vector<std::uint8_t> image = ReadWholeFile(backup, FInMemory);
      const bool takeRanges = !FWriteLock && !LocksSkipped();
      if (takeRanges && !TakeWriteRanges()) RaiseEngineError(kErrLockFailed, FName);
      try {
        TCommitJournal journal(
            FJournal, {FDataFile.get(), FIndexFile.get(), HasBlobs() ? FBlobFile.get() : nullptr},
            true, &FKeptJournal);
        OverwriteWith(*FIndexFile, image);
        journal.Commit();
      } catch (...) {
        if (takeRanges) ReleaseWriteRanges();
        throw;
      }
      if (takeRanges) ReleaseWriteRanges();
    } else {
      FIndexFile->CopyFrom(backup);
    }
    FIndexFile->DropCache(true);
    FIndexFile->ReadHeader();
    FDataFile->SetHasPrimaryKey(!FIndexFile->NoPrimaryKey());
  }
  if (deleteBackup) {
    const std::int32_t removed = TFileList::Instance().RemoveFile(backup, FInMemory);
    if (removed < 0) RaiseEngineError(-removed, backup);
  }
}

void TDataTable::ChangeCounters(std::int32_t counters[3]) const {
  counters[0] = FDataFile->IsOpen() ? FDataFile->ChangeCounter() : 0;
  counters[1] = FIndexFile->IsOpen() ? FIndexFile->ChangeCounter() : 0;
  counters[2] = FBlobFile->IsOpen() ? FBlobFile->ChangeCounter() : 0;
}

}  // namespace engine
