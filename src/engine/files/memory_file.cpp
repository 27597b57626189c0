// TMemoryFile: a file that lives only in this process.
//
// The content is a grow-only block (step kMemoryFileStep) of which size_ bytes
// are the file. Each opener has its own position:
//  * a read copies min(count, size - position) bytes, nothing when the
//    position is negative or at or beyond the size, and advances the position;
//  * a write grows the block to cover position + count, zero-fills any gap
//    between the old end and the position (so bytes left in the block by an
//    earlier truncation never reappear), copies, advances the position and
//    raises the size to the new end; a write of 0 bytes sets the size to the
//    position, zero-filling the block up to it when that lengthens the file
//    (so size_ never exceeds what the block holds);
//  * no position or end beyond kMaxHeapBlock is ever written: such a write
//    fails, and a seek whose result would overflow fails and keeps the
//    position.
// Byte-range locks are kept in the lock list, exclusive like the operating
// system's: a lock is refused when it overlaps a listed range; an unlock needs
// a listed range of the same first byte and length. The locks go when the last
// opener closes, as they would with a handle.
#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/files/abstract_file.h"

namespace engine {

std::int32_t TMemoryFile::CreateNew() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  block_.Free();
  size_ = 0;
  locks_.clear();
  openers_.clear();
  return AddOpener();
}

std::int32_t TMemoryFile::OpenFile() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return AddOpener();
}

std::int32_t TMemoryFile::CloseFile(std::int32_t id) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (!RemoveOpener(id)) return -kErrInvalidPath;
  if (openers_.empty()) locks_.clear();
  return 0;
}

std::int32_t TMemoryFile::RenameFile(const std::string& newName) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  name_ = newName;
  return 0;
}

std::int32_t TMemoryFile::DeleteFile() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  block_.Free();
  size_ = 0;
  return 0;
}

std::int32_t TMemoryFile::ReadData(std::int32_t id, void* buffer, std::int32_t count) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const int index = FindOpener(id);
  if (index < 0) return -kErrInvalidFileHandle;
  std::int64_t& position = openers_[static_cast<std::size_t>(index)].position;
  if (count <= 0 || position < 0 || position >= size_) return 0;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size_ - position));
  std::memcpy(buffer, block_.Data() + position, static_cast<std::size_t>(n));
  position += n;
  return n;
}

std::int32_t TMemoryFile::WriteData(std::int32_t id, const void* buffer, std::int32_t count) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const int index = FindOpener(id);
  if (index < 0) return -kErrInvalidFileHandle;
  std::int64_t& position = openers_[static_cast<std::size_t>(index)].position;
  if (position < 0 || count < 0) return 0;
  if (position > static_cast<std::int64_t>(kMaxHeapBlock) - count) {
    return count == 0 ? -kErrWriteFailed : 0;
  }
  const std::int64_t end = position + count;
  if (end > size_) {
    block_.Reserve(end);
    std::memset(block_.Data() + size_, 0,
                static_cast<std::size_t>(std::max<std::int64_t>(position - size_, 0)));
  }
  if (count == 0) {
    size_ = position;
    return 0;
  }
  std::memcpy(block_.Data() + position, buffer, static_cast<std::size_t>(count));
  position = end;
  size_ = std::max(size_, end);
  return count;
}

bool TMemoryFile::FlushFile() {
  return true;
}

std::int64_t TMemoryFile::SeekData(std::int32_t id, std::int64_t offset, int origin) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const int index = FindOpener(id);
  if (index < 0) return -1;
  std::int64_t& position = openers_[static_cast<std::size_t>(index)].position;
  std::int64_t base = 0;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = position;
      break;
    case 2:
      base = size_;
      break;
    default:
      return -1;
  }
  std::int64_t moved = 0;
  if (__builtin_add_overflow(base, offset, &moved)) return -1;
  position = moved;
  return position;
}

bool TMemoryFile::LockRange(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (length == 0) return false;
  const std::uint64_t first = offset;
  const std::uint64_t last = first + length - 1;
  for (const LockedRange& range : locks_) {
    const bool listedFirstInside = range.first >= first && range.first <= last;
    const bool newFirstInside = first >= range.first && first <= range.last;
    if (listedFirstInside || newFirstInside) return false;
  }
  locks_.push_back(LockedRange{offset, static_cast<std::uint32_t>(last), length});
  return true;
}

bool TMemoryFile::UnlockRange(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  for (auto it = locks_.begin(); it != locks_.end(); ++it) {
    if (it->first == offset && it->length == length) {
      locks_.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace engine
