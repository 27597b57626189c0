// Plain streams: the abstract stream's defaults, files through the host layer,
// and memory. See stream.h.
#include "zip/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zip {

std::int64_t TStream::Size() {
  const std::int64_t here = Position();
  const std::int64_t end = Seek(0, kSeekFromEnd);
  Seek(here, kSeekFromBeginning);
  return end;
}

bool TStream::SetSize(std::int64_t) {
  return false;
}

bool TFileStream::Open(std::string_view windowsPath, TFileMode mode) {
  file_.Close();
  switch (mode) {
    case TFileMode::kOpenRead:
      writable_ = false;
      return file_.Open(windowsPath, platform::Access::Read, platform::Share::ReadWrite,
                        platform::Disposition::OpenExisting);
    case TFileMode::kOpenReadWrite:
      writable_ = true;
      return file_.Open(windowsPath, platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::OpenExisting);
    case TFileMode::kCreate:
      writable_ = true;
      return file_.Open(windowsPath, platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::CreateAlways);
    case TFileMode::kCreateNew:
      writable_ = true;
      return file_.Open(windowsPath, platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::CreateNew);
    case TFileMode::kRewrite:
      writable_ = true;
      return file_.Open(windowsPath, platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::OpenAlways);
  }
  return false;
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  std::uint32_t done = 0;
  if (!file_.Read(buffer, static_cast<std::uint32_t>(count), done)) return 0;
  return static_cast<std::int32_t>(done);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  std::uint32_t done = 0;
  file_.Write(buffer, static_cast<std::uint32_t>(count), done);
  return static_cast<std::int32_t>(done);
}

std::int64_t TFileStream::Seek(std::int64_t offset, int origin) {
  platform::SeekOrigin o = platform::SeekOrigin::Begin;
  if (origin == kSeekFromCurrent) o = platform::SeekOrigin::Current;
  if (origin == kSeekFromEnd) o = platform::SeekOrigin::End;
  std::int64_t result = -1;
  if (!file_.Seek(offset, o, &result)) return -1;
  return result;
}

std::int64_t TFileStream::Size() {
  std::int64_t size = 0;
  if (!file_.GetSize(size)) return -1;
  return size;
}

bool TFileStream::SetSize(std::int64_t size) {
  const std::int64_t here = Position();
  if (Seek(size, kSeekFromBeginning) < 0 || !file_.SetEndOfFile()) return false;
  Seek(std::min(here, size), kSeekFromBeginning);
  return true;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0 || position_ >= bytes_.size()) return 0;
  const std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(count), bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return static_cast<std::int32_t>(n);
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::size_t end = position_ + static_cast<std::size_t>(count);
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  if (origin == kSeekFromCurrent) base = static_cast<std::int64_t>(position_);
  if (origin == kSeekFromEnd) base = static_cast<std::int64_t>(bytes_.size());
  const std::int64_t target = base + offset;
  // Memory archives are bounded by the 32-bit format; refuse anything beyond it.
  if (target < 0 || target > std::numeric_limits<std::int32_t>::max()) return -1;
  position_ = static_cast<std::size_t>(target);
  return target;
}

bool TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return false;
  bytes_.resize(static_cast<std::size_t>(size));
  position_ = std::min(position_, bytes_.size());
  return true;
}

std::int32_t TMemoryReadStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0 || position_ >= bytes_.size()) return 0;
  const std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(count), bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return static_cast<std::int32_t>(n);
}

std::int64_t TMemoryReadStream::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  if (origin == kSeekFromCurrent) base = static_cast<std::int64_t>(position_);
  if (origin == kSeekFromEnd) base = static_cast<std::int64_t>(bytes_.size());
  const std::int64_t target = base + offset;
  if (target < 0 || target > std::numeric_limits<std::int32_t>::max()) return -1;
  position_ = static_cast<std::size_t>(target);
  return target;
}

}  // namespace zip
