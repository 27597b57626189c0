// Reading the one-entry archive of a compressed row; see stored_archive.h.
#include "app/core/stored_archive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/components/stream.h"
#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/zip_records.h"

namespace app {

namespace {

using zip::GetU16;
using zip::GetU32;

// Offsets inside the records (see the table in stored_archive.h).
constexpr std::size_t kEndEntries = 10;
constexpr std::size_t kEndDirectoryOffset = 16;
constexpr std::size_t kCentralFlags = 8;
constexpr std::size_t kCentralMethod = 10;
constexpr std::size_t kCentralCrc = 16;
constexpr std::size_t kCentralCompressed = 20;
constexpr std::size_t kCentralOriginal = 24;
constexpr std::size_t kCentralLocalOffset = 42;
constexpr std::size_t kLocalNameLength = 26;
constexpr std::size_t kLocalExtraLength = 28;
constexpr std::size_t kEndSize = zip::kEndRecordSize;
constexpr std::size_t kCentralSize = zip::kCentralHeaderSize;
constexpr std::size_t kLocalSize = zip::kLocalHeaderSize;
// The end record may be followed by a comment of up to this many bytes.
constexpr std::size_t kLongestTail = kEndSize + zip::kMaxCommentLength;

[[noreturn]] void Damaged(const std::string& what) {
  throw std::runtime_error(what);
}

std::vector<std::uint8_t> ReadAt(engine::TStream& s, std::int64_t at, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  s.SetPosition(at);
  const std::int64_t got = s.Read(bytes.data(), static_cast<std::int64_t>(n));
  if (got != static_cast<std::int64_t>(n)) Damaged("the archive cannot be read whole");
  return bytes;
}

// The position of the end record in `tail`, searched from the back.
std::size_t FindEndRecord(const std::vector<std::uint8_t>& tail) {
  if (tail.size() < kEndSize) Damaged("not a zip archive: too short");
  for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;)
    if (GetU32(&tail[at]) == zip::kEndSignature) return at;
  Damaged("not a zip archive: no end record");
}

StoredEntry ParseCentral(const std::uint8_t* central, std::uint16_t entries) {
  if (GetU32(central) != zip::kCentralSignature) Damaged("the central directory is damaged");
  StoredEntry e;
  e.flags = GetU16(central + kCentralFlags);
  e.method = GetU16(central + kCentralMethod);
  e.crc = GetU32(central + kCentralCrc);
  e.compressedSize = GetU32(central + kCentralCompressed);
  e.originalSize = GetU32(central + kCentralOriginal);
  e.localOffset = GetU32(central + kCentralLocalOffset);
  e.entries = entries;
  return e;
}

class MemoryInput : public zip::DecodeInput {
 public:
  MemoryInput(const std::uint8_t* data, std::size_t n) : data_(data), left_(n) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    const std::size_t take = std::min(n, left_);
    std::memcpy(buf, data_, take);
    data_ += take;
    left_ -= take;
    return take;
  }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

// Counts and checksums the decoded bytes without keeping them.
class CrcOutput : public zip::DecodeOutput {
 public:
  void Write(const std::uint8_t* p, std::size_t n) override {
    crc_ = zip::Crc32Update(crc_, p, n);
    size_ += n;
  }
  std::uint32_t Crc() const { return ~crc_; }
  std::uint64_t Size() const { return size_; }

 private:
  std::uint32_t crc_ = zip::kCrc32Initial;
  std::uint64_t size_ = 0;
};

std::string Hex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

StoredEntry ReadStoredEntry(engine::TStream& blob) {
  const std::int64_t size = blob.Size();
  if (size < static_cast<std::int64_t>(kEndSize)) Damaged("not a zip archive: too short");
  // Archives of the backup run carry no comment: the end record is last.
  std::int64_t tailStart = size - static_cast<std::int64_t>(kEndSize);
  std::vector<std::uint8_t> tail = ReadAt(blob, tailStart, kEndSize);
  std::size_t end = 0;
  if (GetU32(tail.data()) != zip::kEndSignature) {
    tailStart = std::max<std::int64_t>(0, size - static_cast<std::int64_t>(kLongestTail));
    tail = ReadAt(blob, tailStart, static_cast<std::size_t>(size - tailStart));
    end = FindEndRecord(tail);
  }
  const std::uint16_t entries = GetU16(&tail[end + kEndEntries]);
  const std::uint32_t directory = GetU32(&tail[end + kEndDirectoryOffset]);
  if (entries == 0) Damaged("the archive holds no entry");
  if (static_cast<std::int64_t>(directory) + static_cast<std::int64_t>(kCentralSize) > size)
    Damaged("the central directory lies outside the archive");
  const std::vector<std::uint8_t> central = ReadAt(blob, directory, kCentralSize);
  return ParseCentral(central.data(), entries);
}

std::string CheckStoredArchive(const std::vector<std::uint8_t>& archive, zip::EntryDecoder& decoder,
                               std::uint64_t* originalSize) {
  StoredEntry e;
  try {
    engine::TMemoryStream stream(archive);
    e = ReadStoredEntry(stream);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  if (originalSize) *originalSize = e.originalSize;
  if (e.entries != 1) return "the archive holds " + std::to_string(e.entries) + " entries";
  if ((e.flags & zip::kFlagEncrypted) != 0) return "the entry is encrypted";
  if (!zip::IsSupportedMethod(e.method))
    return "the entry's method " + std::to_string(e.method) + " is not supported";
  const std::uint64_t local = e.localOffset;
  if (local + kLocalSize > archive.size() || GetU32(&archive[local]) != zip::kLocalSignature)
    return "the entry's local header is damaged";
  const std::uint64_t data = local + kLocalSize + GetU16(&archive[local + kLocalNameLength]) +
                             GetU16(&archive[local + kLocalExtraLength]);
  if (data + e.compressedSize > archive.size()) return "the entry's data is cut short";

  MemoryInput input(archive.data() + data, static_cast<std::size_t>(e.compressedSize));
  CrcOutput output;
  zip::DecodeParams params;
  params.method = e.method;
  params.flagBits = e.flags;
  params.uncompressedSize = e.originalSize;
  if (decoder.Decode(params, input, output) != zip::DecodeStatus::kOk)
    return "the entry's data is damaged";
  if (output.Size() != e.originalSize)
    return "the entry inflates to " + std::to_string(output.Size()) + " bytes, not " +
           std::to_string(e.originalSize);
  if (output.Crc() != e.crc)
    return "the entry's CRC is " + Hex(output.Crc()) + ", not " + Hex(e.crc);
  return "";
}

}  // namespace app
