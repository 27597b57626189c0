// TPhysicalFile: a file object over one operating-system handle.
//
// Opening (first opener only): the attributes are read first, and a read-only
// attribute makes the object read-only and is reported back. The handle is
// opened for reading only when read-only, else for reading and writing; with no
// sharing when the first opener asked for exclusive use, else shared for reading
// and writing; for random access; and for a temporary file also as temporary
// and delete-on-close, so it disappears with its last opener. Later openers
// reuse the handle (and so its file position and its byte-range locks).
//
// Creating always truncates, for reading and writing, without sharing. Every
// failure of the operating system is returned as the negated engine code of
// its Windows error number (errors.h).
#include <algorithm>

#include "engine/errors.h"
#include "engine/files/abstract_file.h"
#include "platform/file_ops.h"

namespace engine {
namespace {

std::int32_t LastOsFailure() {
  return -EngineCodeForLastOsError();
}

}  // namespace

std::int32_t TPhysicalFile::CreateNew() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  handle_.Close();
  unsigned options = platform::kOpenRandomAccess;
  if (temporary_) options |= platform::kOpenTemporary;
  if (!handle_.Open(name_, platform::Access::ReadWrite, platform::Share::None,
                    platform::Disposition::CreateAlways, options)) {
    return LastOsFailure();
  }
  readOnly_ = false;
  readOnlyAttrFound_ = false;
  size_ = 0;
  openers_.clear();
  return AddOpener();
}

std::int32_t TPhysicalFile::OpenFile() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (openers_.empty()) {
    const std::uint32_t attributes = platform::GetFileAttributes(name_);
    if (attributes == platform::kInvalidFileAttributes) return LastOsFailure();
    readOnlyAttrFound_ = (attributes & platform::kAttrReadOnly) != 0;
    readOnly_ = readOnlyAttrFound_;
    unsigned options = platform::kOpenRandomAccess;
    if (temporary_) options |= platform::kOpenTemporary | platform::kOpenDeleteOnClose;
    handle_.Close();
    if (!handle_.Open(name_, readOnly_ ? platform::Access::Read : platform::Access::ReadWrite,
                      exclusive_ ? platform::Share::None : platform::Share::ReadWrite,
                      platform::Disposition::OpenExisting, options)) {
      return LastOsFailure();
    }
  }
  return AddOpener();
}

std::int32_t TPhysicalFile::CloseFile(std::int32_t id) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (!RemoveOpener(id)) return -kErrInvalidPath;
  if (openers_.empty()) handle_.Close();
  return 0;
}

std::int32_t TPhysicalFile::RenameFile(const std::string& newName) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (!platform::MoveFile(name_, newName)) return LastOsFailure();
  name_ = newName;
  return 0;
}

std::int32_t TPhysicalFile::DeleteFile() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (!platform::DeleteFile(name_)) return LastOsFailure();
  return 0;
}

std::int32_t TPhysicalFile::ReadData(std::int32_t id, void* buffer, std::int32_t count) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (FindOpener(id) < 0 || !handle_.IsOpen()) return -kErrInvalidFileHandle;
  if (count <= 0) return 0;
  std::uint32_t done = 0;
  if (!handle_.Read(buffer, static_cast<std::uint32_t>(count), done)) return -kErrReadFailed;
  return static_cast<std::int32_t>(done);
}

std::int32_t TPhysicalFile::WriteData(std::int32_t id, const void* buffer, std::int32_t count) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (FindOpener(id) < 0 || !handle_.IsOpen()) return -kErrInvalidFileHandle;
  if (count < 0) return 0;
  if (count == 0) return handle_.SetEndOfFile() ? 0 : -kErrWriteFailed;
  std::uint32_t done = 0;
  handle_.Write(buffer, static_cast<std::uint32_t>(count), done);
  return static_cast<std::int32_t>(done);
}

bool TPhysicalFile::FlushFile() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return handle_.IsOpen() && handle_.Flush();
}

void TPhysicalFile::StartWriteBack() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (handle_.IsOpen()) handle_.StartWriteBack();
}

std::int64_t TPhysicalFile::SeekData(std::int32_t id, std::int64_t offset, int origin) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (FindOpener(id) < 0 || !handle_.IsOpen() || origin < 0 || origin > 2) return -1;
  std::int64_t position = -1;
  if (!handle_.Seek(offset, static_cast<platform::SeekOrigin>(origin), &position)) return -1;
  return position;
}

bool TPhysicalFile::LockRange(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return handle_.IsOpen() && handle_.Lock(offset, length);
}

bool TPhysicalFile::UnlockRange(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return handle_.IsOpen() && handle_.Unlock(offset, length);
}

}  // namespace engine
