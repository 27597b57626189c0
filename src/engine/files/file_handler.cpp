// TFileHandler: a table file over the registry (see file_handler.h).
#include "engine/files/file_handler.h"

#include <algorithm>

#include "engine/errors.h"
#include "engine/files/abstract_file.h"
#include "engine/files/file_list.h"
#include "engine/files/pending_writes.h"
#include "engine/files/table_names.h"

namespace engine {

TFileHandler::TFileHandler(TDataTable* table) : FTable(table) {}

TFileHandler::~TFileHandler() {
  if (FFile != nullptr && FOpenerId > 0) {
    TFileList::Instance().CloseFile(FFile, FInMemory, FOpenerId);
  }
}

void TFileHandler::SetFileName(const std::string& name) {
  FFileName = Trim(name);
}

void TFileHandler::Open() {
  if (FOpen) return;
  TFileList& list = TFileList::Instance();
  if (!list.HasFile(FFileName, FInMemory)) RaiseEngineError(kErrInvalidPath, FFileName);
  bool readOnlyAttr = false;
  TAbstractFile* file = nullptr;
  const std::int32_t id =
      list.OpenFile(FFileName, FInMemory, FTemporary, FExclusive, readOnlyAttr, file);
  FReadOnlyAttrFound = readOnlyAttr;
  if (id < 0) RaiseEngineError(-id, FFileName);
  if (readOnlyAttr) FReadOnly = true;
  FFile = file;
  FOpenerId = id;
  FOpen = true;
}

void TFileHandler::Close() {
  if (FFile != nullptr && FOpenerId > 0) {
    TFileList::Instance().CloseFile(FFile, FInMemory, FOpenerId);
  }
  FFile = nullptr;
  FOpenerId = 0;
  FOpen = false;
}

void TFileHandler::CreateNew() {
  Close();
  TAbstractFile* file = nullptr;
  const std::int32_t id = TFileList::Instance().NewFile(FFileName, FInMemory, FTemporary, file);
  if (id < 0) RaiseEngineError(-id, FFileName);
  FFile = file;
  FOpenerId = id;
  FReadOnlyAttrFound = false;
  FOpen = true;
}

void TFileHandler::Delete() {
  const std::int32_t result = TFileList::Instance().RemoveFile(FFileName, FInMemory);
  if (result < 0) RaiseEngineError(-result, FFileName);
}

void TFileHandler::Rename(const std::string& newName) {
  const std::int32_t result = TFileList::Instance().RenameFile(FFileName, FInMemory, newName);
  if (result < 0) RaiseEngineError(-result, FFileName);
  SetFileName(newName);
}

void TFileHandler::CopyTo(const std::string& destName) {
  if (FFile == nullptr) RaiseEngineError(kErrReadFailed, FFileName);
  // No TFileAccess here: the registry's lock comes before a file object's.
  const std::int32_t result = TFileList::Instance().CopyOut(FFile, FOpenerId, destName, FInMemory);
  if (result < 0) RaiseEngineError(-result, FFileName);
}

std::int32_t TFileHandler::Read(void* buffer, std::int32_t count, bool allowShort) {
  if (FFile == nullptr) RaiseEngineError(kErrReadFailed, FFileName);
  std::int32_t done = 0;
  if (FPending != nullptr) {
    done = FPending->Read(buffer, count, [this](std::int64_t at, void* into, std::int32_t n) {
      if (FFile->SeekData(FOpenerId, at, kSeekFromStart) != at) return std::int32_t{0};
      return std::max(FFile->ReadData(FOpenerId, into, n), std::int32_t{0});
    });
  } else {
    done = FFile->ReadData(FOpenerId, buffer, count);
  }
  if (done < 0 || (done < count && !allowShort)) RaiseEngineError(kErrReadFailed, FFileName);
  return done;
}

std::int32_t TFileHandler::ReadAt(std::int64_t offset, void* buffer, std::int32_t count,
                                  bool allowShort) {
  TFileAccess access(*this);
  Seek(offset, kSeekFromStart);
  return Read(buffer, count, allowShort);
}

void TFileHandler::Write(const void* buffer, std::int32_t count) {
  if (FFile == nullptr) RaiseEngineError(kErrWriteFailed, FFileName);
  if (FPending != nullptr) {
    if (!FPending->TakeDirect(count)) {
      FPending->Write(buffer, count);
      return;
    }
    const std::int64_t at = FPending->Position();
    if (FFile->SeekData(FOpenerId, at, kSeekFromStart) != at) {
      RaiseEngineError(kErrWriteFailed, FFileName);
    }
    const std::int32_t direct = FFile->WriteData(FOpenerId, buffer, count);
    if (direct < count) RaiseEngineError(kErrWriteFailed, FFileName);
    FPending->NoteDirectWrite(count);
    return;
  }
  const std::int32_t done = FFile->WriteData(FOpenerId, buffer, count);
  if (done < 0 || done < count) RaiseEngineError(kErrWriteFailed, FFileName);
}

void TFileHandler::StartWriteBack() {
  if (FFile != nullptr && FPending == nullptr) FFile->StartWriteBack();
}

void TFileHandler::Flush() {
  if (FPending != nullptr) return;  // the journal flushes when it writes
  if (FFile == nullptr || !FFile->FlushFile()) RaiseEngineError(kErrWriteFailed, FFileName);
}

std::int64_t TFileHandler::Seek(std::int64_t offset, int origin) {
  if (FFile == nullptr) return -1;
  if (FPending != nullptr) return FPending->Seek(offset, origin);
  return FFile->SeekData(FOpenerId, offset, origin);
}

std::int64_t TFileHandler::GetSize() {
  if (FFile == nullptr) return -1;
  if (FPending != nullptr) return FPending->Size();
  TFileAccess access(*this);
  const std::int64_t position = FFile->SeekData(FOpenerId, 0, kSeekFromCurrent);
  const std::int64_t size = FFile->SeekData(FOpenerId, 0, kSeekFromEnd);
  FFile->SeekData(FOpenerId, position, kSeekFromStart);
  return size;
}

bool TFileHandler::Lock(std::uint32_t offset, std::uint32_t length, bool lock) {
  if (FFile == nullptr) return false;
  return lock ? FFile->LockRange(offset, length) : FFile->UnlockRange(offset, length);
}

void TFileHandler::CopyFrom(const std::string& sourceName) {
  if (!FOpen || FFile == nullptr) return;
  const std::int32_t result = TFileList::Instance().CopyIn(FFile, FOpenerId, sourceName, FInMemory);
  if (result < 0) RaiseEngineError(-result, FFileName);
}

bool TFileHandler::Exists() const {
  return TFileList::Instance().HasFile(FFileName, FInMemory);
}

void TFileHandler::BeginAccess() {
  if (FFile != nullptr) FFile->Mutex().lock();
}

void TFileHandler::EndAccess() {
  if (FFile != nullptr) FFile->Mutex().unlock();
}

}  // namespace engine
