// File streams over the platform layer (see file_stream.h).
#include "engine/components/file_stream.h"

#include <algorithm>
#include <limits>

namespace engine {
namespace {

// Largest single platform read or write, in bytes.
constexpr std::int64_t kMaxChunk = std::numeric_limits<std::int32_t>::max();

}  // namespace

TFileStream::TFileStream(const std::string& path, TMode mode) {
  if (mode != TMode::fmOpenRead) {
    const auto disposition = mode == TMode::fmCreate ? platform::Disposition::CreateAlways
                                                     : platform::Disposition::OpenAlways;
    if (!FFile.Open(path, platform::Access::ReadWrite, platform::Share::None, disposition)) {
      throw EFCreateError("Cannot create file \"" + path + "\"");
    }
    return;
  }
  if (!FFile.Open(path, platform::Access::Read, platform::Share::ReadWrite,
                  platform::Disposition::OpenExisting)) {
    throw EFOpenError("Cannot open file \"" + path + "\"");
  }
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  auto* at = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    std::uint32_t done = 0;
    const auto chunk = static_cast<std::uint32_t>(std::min(count, kMaxChunk));
    if (!FFile.Read(at + total, chunk, done) || done == 0) break;
    total += done;
    count -= done;
  }
  return total;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  const auto* at = static_cast<const std::uint8_t*>(buffer);
  while (count > 0) {
    std::uint32_t done = 0;
    const auto chunk = static_cast<std::uint32_t>(std::min(count, kMaxChunk));
    if (!FFile.Write(at + total, chunk, done) || done == 0) break;
    total += done;
    count -= done;
  }
  return total;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t position = 0;
  const auto o = origin == TSeekOrigin::soBeginning ? platform::SeekOrigin::Begin
                 : origin == TSeekOrigin::soCurrent ? platform::SeekOrigin::Current
                                                    : platform::SeekOrigin::End;
  FFile.Seek(offset, o, &position);
  return position;
}

std::int64_t TFileStream::Size() {
  std::int64_t size = 0;
  FFile.GetSize(size);
  return size;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  TFileStream stream(path, TFileStream::TMode::fmOpenRead);
  return stream.ReadAll();
}

}  // namespace engine
