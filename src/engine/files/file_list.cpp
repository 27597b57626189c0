// TFileList: the process-wide registry of file objects (see file_list.h).
#include "engine/files/file_list.h"

#include <vector>

#include "engine/errors.h"
#include "engine/files/table_names.h"
#include "platform/file_ops.h"

namespace engine {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

std::unique_ptr<TAbstractFile> MakeFile(const std::string& name, bool inMemory) {
  if (inMemory) return std::make_unique<TMemoryFile>(name);
  return std::make_unique<TPhysicalFile>(name);
}

}  // namespace

TFileList& TFileList::Instance() {
  // Never destroyed: handlers held by other static objects may still close
  // their files while the process exits.
  static TFileList* instance = new TFileList;
  return *instance;
}

int TFileList::Find(const std::string& name, bool inMemory) const {
  const std::string trimmed = Trim(name);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const TAbstractFile& file = *files_[i];
    if (file.InMemory() == inMemory && SameText(Trim(file.Name()), trimmed)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool TFileList::IsRegistered(const TAbstractFile* file) const {
  for (const auto& entry : files_) {
    if (entry.get() == file) return true;
  }
  return false;
}

void TFileList::Unregister(const TAbstractFile* file) {
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (it->get() == file) {
      files_.erase(it);
      return;
    }
  }
}

int TFileList::Count() {
  Guard guard(mutex_);
  return static_cast<int>(files_.size());
}

std::int32_t TFileList::NewFile(const std::string& name, bool inMemory, bool temporary,
                                TAbstractFile*& file) {
  Guard guard(mutex_);
  file = nullptr;
  if (BaseName(name).empty()) return -kErrInvalidPath;
  TAbstractFile* object = nullptr;
  bool added = false;
  const int index = Find(name, inMemory);
  if (index >= 0) {
    object = files_[static_cast<std::size_t>(index)].get();
    if (object->OpenCount() > 0) return -kErrAccessDenied;
  } else {
    files_.push_back(MakeFile(Trim(name), inMemory));
    object = files_.back().get();
    added = true;
  }
  object->SetExclusive(true);
  object->SetTemporary(temporary);
  const std::int32_t id = object->CreateNew();
  if (id < 0) {
    if (added || !inMemory) Unregister(object);
    return id;
  }
  file = object;
  return id;
}

std::int32_t TFileList::OpenFile(const std::string& name, bool inMemory, bool temporary,
                                 bool exclusive, bool& readOnlyAttr, TAbstractFile*& file) {
  Guard guard(mutex_);
  file = nullptr;
  readOnlyAttr = false;
  if (BaseName(name).empty()) return -kErrInvalidPath;
  TAbstractFile* object = nullptr;
  const int index = Find(name, inMemory);
  if (index < 0) {
    if (inMemory) return -kErrInvalidPath;
    files_.push_back(MakeFile(Trim(name), false));
    object = files_.back().get();
  } else {
    object = files_[static_cast<std::size_t>(index)].get();
    if (object->OpenCount() > 0 && (object->Exclusive() || exclusive)) return -kErrAccessDenied;
  }
  if (object->OpenCount() == 0) {
    object->SetExclusive(exclusive);
    object->SetTemporary(temporary);
  }
  const std::int32_t id = object->OpenFile();
  if (id < 0) {
    // A physical object lives in the registry only while it has openers.
    if (!inMemory && object->OpenCount() == 0) Unregister(object);
    return id;
  }
  readOnlyAttr = object->ReadOnlyAttrFound();
  file = object;
  return id;
}

std::int32_t TFileList::CloseFile(TAbstractFile* file, bool inMemory, std::int32_t id) {
  Guard guard(mutex_);
  if (file == nullptr || !IsRegistered(file) || file->InMemory() != inMemory ||
      file->OpenCount() == 0) {
    return -kErrInvalidPath;
  }
  const std::int32_t result = file->CloseFile(id);
  if (result < 0 || file->OpenCount() > 0) return result;
  if (!inMemory) {
    // The handle is closed; a temporary file was opened delete-on-close and is gone.
    Unregister(file);
  } else if (file->Temporary()) {
    file->DeleteFile();
    Unregister(file);
  }
  return 0;
}

std::int32_t TFileList::RenameFile(const std::string& name, bool inMemory,
                                   const std::string& newName) {
  Guard guard(mutex_);
  if (BaseName(name).empty() || BaseName(newName).empty()) return -kErrInvalidPath;
  const int index = Find(name, inMemory);
  const int target = Find(newName, inMemory);
  if (target >= 0 && target != index) {
    // Never rename onto a file that is in use, or onto another in-memory file.
    if (inMemory || files_[static_cast<std::size_t>(target)]->OpenCount() > 0) {
      return -kErrAccessDenied;
    }
  }
  if (index < 0) {
    if (inMemory) return -kErrInvalidPath;
    TPhysicalFile shortLived(Trim(name));
    return shortLived.RenameFile(Trim(newName));
  }
  TAbstractFile* object = files_[static_cast<std::size_t>(index)].get();
  if (object->OpenCount() > 0) return -kErrAccessDenied;
  return object->RenameFile(Trim(newName));
}

std::int32_t TFileList::RemoveFile(const std::string& name, bool inMemory) {
  Guard guard(mutex_);
  if (BaseName(name).empty()) return -kErrInvalidPath;
  const int index = Find(name, inMemory);
  if (index < 0) {
    if (inMemory) return -kErrInvalidPath;
    TPhysicalFile shortLived(Trim(name));
    return shortLived.DeleteFile();
  }
  TAbstractFile* object = files_[static_cast<std::size_t>(index)].get();
  if (object->OpenCount() > 0) return -kErrAccessDenied;
  const std::int32_t result = object->DeleteFile();
  if (result == 0 || inMemory) Unregister(object);
  return result;
}

bool TFileList::HasFile(const std::string& name, bool inMemory) {
  Guard guard(mutex_);
  if (Find(name, inMemory) >= 0) return true;
  return !inMemory && !BaseName(name).empty() && platform::FileExists(Trim(name));
}

std::int32_t TFileList::CopyData(TAbstractFile& source, std::int32_t sourceId, TAbstractFile& dest,
                                 std::int32_t destId) {
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kCopyChunkBytes));
  if (source.SeekData(sourceId, 0, 0) != 0) return -kErrReadFailed;
  for (;;) {
    const std::int32_t got = source.ReadData(sourceId, chunk.data(), kCopyChunkBytes);
    if (got < 0) return got;
    if (got > 0 && dest.WriteData(destId, chunk.data(), got) != got) return -kErrWriteFailed;
    if (got < kCopyChunkBytes) return 0;
  }
}

std::int32_t TFileList::CopyOut(TAbstractFile* file, std::int32_t id, const std::string& destName,
                                bool inMemory) {
  Guard guard(mutex_);
  if (file == nullptr || !IsRegistered(file)) return -kErrInvalidPath;
  TAbstractFile* dest = nullptr;
  const std::int32_t destId = NewFile(destName, inMemory, false, dest);
  if (destId < 0) return destId;
  const std::int32_t result = CopyData(*file, id, *dest, destId);
  const std::int32_t closed = CloseFile(dest, inMemory, destId);
  if (result < 0) {
    RemoveFile(destName, inMemory);  // a partial copy is worth nothing
    return result;
  }
  return closed;
}

std::int32_t TFileList::CopyIn(TAbstractFile* file, std::int32_t id, const std::string& sourceName,
                               bool inMemory) {
  Guard guard(mutex_);
  if (file == nullptr || !IsRegistered(file)) return -kErrInvalidPath;
  bool readOnlyAttr = false;
  TAbstractFile* source = nullptr;
  const std::int32_t sourceId = OpenFile(sourceName, inMemory, false, true, readOnlyAttr, source);
  if (sourceId < 0) return sourceId;
  std::int32_t result = -kErrWriteFailed;
  if (file->SeekData(id, 0, 0) == 0) {
    result = CopyData(*source, sourceId, *file, id);
    // Cut what an earlier, longer content left behind.
    if (result == 0 && file->WriteData(id, nullptr, 0) < 0) result = -kErrWriteFailed;
  }
  const std::int32_t closed = CloseFile(source, inMemory, sourceId);
  return result < 0 ? result : closed;
}

}  // namespace engine
