// TStream: the toolkit's byte stream, as far as the components need it: the
// BLOB stream of a dataset field, memory streams for parameter values, and
// copying between streams and files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace engine {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Bytes read (fewer at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // Every byte from the start of the stream.
  std::vector<std::uint8_t> ReadAll() {
    SetPosition(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(Size(), 0)));
    const std::int64_t got = Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    return bytes;
  }
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t n =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(FBytes.size()) - FPosition, 0, count);
    if (n > 0) std::memcpy(buffer, FBytes.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    const auto end = static_cast<std::size_t>(FPosition + count);
    if (end > FBytes.size()) FBytes.resize(end);
    std::memcpy(FBytes.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                              : origin == TSeekOrigin::soCurrent ? FPosition
                                                                 : Size();
    FPosition = std::max<std::int64_t>(base + offset, 0);
    return FPosition;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(FBytes.size()); }
  const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

 private:
  std::vector<std::uint8_t> FBytes;
  std::int64_t FPosition = 0;
};

}  // namespace engine
