// The byte streams the zip component reads and writes through.
//
// TStream is the abstract stream (read, write, seek, size); TFileStream is a
// file opened through the host layer, TMemoryStream a growable byte array.
// Positions and sizes are 64-bit here, although archives themselves are limited
// to 32-bit offsets (see zip_records.h). Reads return how many bytes arrived
// (0 at the end); writes return how many bytes were accepted; neither throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace zip {

// Seek origins, as the toolkit numbers them.
inline constexpr int kSeekFromBeginning = 0;
inline constexpr int kSeekFromCurrent = 1;
inline constexpr int kSeekFromEnd = 2;

class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Returns the new position, or -1 when the stream cannot move there.
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
  virtual std::int64_t Size();
  virtual bool SetSize(std::int64_t size);

  std::int64_t Position() { return Seek(0, kSeekFromCurrent); }
  // Reads exactly `count` bytes; false when fewer arrived.
  bool ReadExact(void* buffer, std::int32_t count) { return Read(buffer, count) == count; }
  bool WriteExact(const void* buffer, std::int32_t count) { return Write(buffer, count) == count; }
};

// How a file stream opens its file.
enum class TFileMode {
  kOpenRead,       // existing file, read only, others may read and write
  kOpenReadWrite,  // existing file, read and write, exclusive
  kCreate,         // create or truncate, read and write, exclusive
  kRewrite,        // open or create without truncating, read and write, exclusive
  kCreateNew,      // create a file that must not exist yet, read and write, exclusive
};

// A file through the host layer. Open() reports failure with the host's last
// error set; the other operations work on an open file only.
class TFileStream : public TStream {
 public:
  TFileStream() = default;
  bool Open(std::string_view windowsPath, TFileMode mode);
  void Close() { file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }
  bool Writable() const { return writable_; }
  platform::File& Handle() { return file_; }

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override;
  bool SetSize(std::int64_t size) override;

 private:
  platform::File file_;
  bool writable_ = false;
};

// A growable in-memory stream; archives built or read in memory (tests, fuzzing).
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
  bool SetSize(std::int64_t size) override;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  // Hands the bytes over, leaving the stream empty.
  std::vector<std::uint8_t> TakeBytes() {
    position_ = 0;
    return std::move(bytes_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// Reads bytes that someone else owns and keeps unchanged while the stream
// lives (an archive held in memory, read without a copy). Writes are refused.
class TMemoryReadStream : public TStream {
 public:
  explicit TMemoryReadStream(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t position_ = 0;
};

}  // namespace zip
