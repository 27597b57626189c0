// TDataTable: the table set's files and transactions (see data_table.h).
#include "engine/data_table.h"

#include "engine/data_directory.h"
#include "engine/errors.h"
#include "engine/file_list.h"
#include "engine/lock_map.h"

namespace engine {

TDataTable::TDataTable(TDataDirectory* directory, const std::string& name, bool inMemory)
    : FDirectory(directory),
      FName(TableFileName("", name, kDataFileExt)),
      FInMemory(inMemory),
      FDataFile(std::make_unique<TFileHandler>(this)),
      FIndexFile(std::make_unique<TFileHandler>(this)),
      FBlobFile(std::make_unique<TFileHandler>(this)) {}

TDataTable::~TDataTable() {
  if (FTransactionLock) ReleaseTableWriteLock(*FDataFile);
  FTransactionLock = false;
  FInTransaction = false;
  CloseFiles();
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
  try {
    FDataFile->Open();
    if (FIndexFile->Exists()) FIndexFile->Open();
    if (FBlobFile->Exists()) FBlobFile->Open();
  } catch (...) {
    CloseFiles();
    throw;
  }
  FReadOnlyAttrFound = FDataFile->ReadOnlyAttrFound() || FIndexFile->ReadOnlyAttrFound() ||
                       FBlobFile->ReadOnlyAttrFound();
  if (FReadOnlyAttrFound) FReadOnly = true;
  FOpen = true;
}

void TDataTable::CloseFiles() noexcept {
  FIndexFile->Close();
  FBlobFile->Close();
  FDataFile->Close();
  FOpen = false;
}

void TDataTable::OpenTable() {
  if (FOpenCount == 0 && !FOpen) OpenFiles();
  ++FOpenCount;
}

void TDataTable::CloseTable(bool /*withDiscard*/) {
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount == 0 && !FInTransaction) CloseFiles();
}

void TDataTable::CreateTableFiles(bool withBlobFile) {
  PrepareHandlers();
  try {
    FDataFile->CreateNew();
    FIndexFile->CreateNew();
    if (withBlobFile) FBlobFile->CreateNew();
  } catch (...) {
    CloseFiles();
    throw;
  }
  CloseFiles();
}

void TDataTable::DeleteTableFiles() {
  PrepareHandlers();
  FDataFile->Delete();
  FIndexFile->Delete();
  if (FBlobFile->Exists()) FBlobFile->Delete();
}

void TDataTable::RenameTableFiles(const std::string& newName, bool backup) {
  PrepareHandlers();
  const bool fullPath = FInMemory || HasPathChars(newName) || FDirectory == nullptr;
  const TTableSetNames targets =
      TableSetNames(fullPath ? std::string() : FDirectory->Path(), newName, backup);
  TFileList& list = TFileList::Instance();
  TFileHandler* handlers[] = {FDataFile.get(), FIndexFile.get(), FBlobFile.get()};
  const std::string* targetNames[] = {&targets.data, &targets.index, &targets.blob};
  for (int i = 0; i < 3; ++i) {
    if (!handlers[i]->Exists()) continue;
    if (backup && list.HasFile(*targetNames[i], FInMemory)) {
      const std::int32_t removed = list.RemoveFile(*targetNames[i], FInMemory);
      if (removed < 0) RaiseEngineError(-removed, *targetNames[i]);
    }
    handlers[i]->Rename(*targetNames[i]);
  }
  if (!backup) FName = TableFileName("", ExtractFileName(newName), kDataFileExt);
}

void TDataTable::StartTransaction() {
  if (FReadOnly || FInTransaction) return;
  if (!FOpen) RaiseEngineError(kErrLockFailed, FName);
  FInTransaction = true;
  if (!TakeTableWriteLock(*FDataFile)) {
    FInTransaction = false;
    RaiseEngineError(kErrLockFailed, FName);
  }
  FTransactionLock = true;
}

void TDataTable::Commit(bool endTransaction) {
  if (!FInTransaction || !endTransaction) return;
  FInTransaction = false;
  ReleaseTransactionLock();
}

void TDataTable::Rollback() {
  if (!FInTransaction) return;
  FInTransaction = false;
  ReleaseTransactionLock();
}

void TDataTable::ReleaseTransactionLock() {
  if (!FTransactionLock) return;
  FTransactionLock = false;
  const bool released = ReleaseTableWriteLock(*FDataFile);
  if (FOpenCount == 0) CloseFiles();
  if (!released) RaiseEngineError(kErrLockFailed, FName);
}

}  // namespace engine
