// Archives built byte by byte, as a damaged disk or a hostile writer would
// leave them: every header field is given, nothing is checked.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zip/crc32.h"
#include "zip/zip_records.h"

namespace zip_test {

struct RawEntry {
  std::string name;                // stored as written ('/' between directories)
  std::string data;                // the bytes behind the local header
  std::uint16_t method = 0;        // 0 stored, 8 deflated
  std::uint16_t flag = 0;          // bit 0 encrypted, bit 3 data descriptor
  std::uint32_t crc = 0;           // declared
  std::uint32_t compressed = 0;    // declared
  std::uint32_t uncompressed = 0;  // declared
  // The local header carries zero sizes and CRC; an unsigned data descriptor
  // (CRC, sizes) follows the data. Needs flag bit 3.
  bool unsignedDescriptor = false;
};

// A stored entry whose declared values are those of `content`.
inline RawEntry Stored(const std::string& name, const std::string& content) {
  const std::uint32_t crc = zip::Crc32(content.data(), content.size());
  const auto n = static_cast<std::uint32_t>(content.size());
  return RawEntry{name, content, zip::kMethodStored, 0, crc, n, n, false};
}

// Raw deflate (no zlib header) of `content`, by zlib.
inline std::string RawDeflate(const std::string& content) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, content.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class RawArchive {
 public:
  // Appends the entry's local header, data and descriptor; returns its offset.
  std::uint32_t Add(const RawEntry& e) {
    const auto offset = static_cast<std::uint32_t>(bytes_.size());
    const bool zero = e.unsignedDescriptor;
    U32(zip::kLocalSignature);
    U16(20);
    U16(e.flag);
    U16(e.method);
    U32(0);  // date and time
    U32(zero ? 0 : e.crc);
    U32(zero ? 0 : e.compressed);
    U32(zero ? 0 : e.uncompressed);
    U16(static_cast<std::uint16_t>(e.name.size()));
    U16(0);
    bytes_.insert(bytes_.end(), e.name.begin(), e.name.end());
    bytes_.insert(bytes_.end(), e.data.begin(), e.data.end());
    if (e.unsignedDescriptor) {
      U32(e.crc);
      U32(e.compressed);
      U32(e.uncompressed);
    }
    entries_.push_back({e, offset});
    return offset;
  }

  // The central directory and the end record; `count` overrides the number
  // of entries the end record announces.
  std::vector<std::uint8_t> Finish(std::optional<std::uint16_t> count = std::nullopt) {
    const auto directoryAt = static_cast<std::uint32_t>(bytes_.size());
    for (const auto& [e, offset] : entries_) {
      U32(zip::kCentralSignature);
      U16(20);
      U16(20);
      U16(e.flag);
      U16(e.method);
      U32(0);
      U32(e.crc);
      U32(e.compressed);
      U32(e.uncompressed);
      U16(static_cast<std::uint16_t>(e.name.size()));
      U16(0);
      U16(0);
      U16(0);
      U16(0);
      U32(0x20);
      U32(offset);
      bytes_.insert(bytes_.end(), e.name.begin(), e.name.end());
    }
    const auto directorySize = static_cast<std::uint32_t>(bytes_.size()) - directoryAt;
    const auto n = count ? *count : static_cast<std::uint16_t>(entries_.size());
    U32(zip::kEndSignature);
    U16(0);
    U16(0);
    U16(n);
    U16(n);
    U32(directorySize);
    U32(directoryAt);
    U16(0);
    return bytes_;
  }

  // Only the local records: the directory is missing.
  const std::vector<std::uint8_t>& LocalsOnly() const { return bytes_; }

 private:
  void U16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }

  struct Added {
    RawEntry entry;
    std::uint32_t offset;
  };
  std::vector<std::uint8_t> bytes_;
  std::vector<Added> entries_;
};

}  // namespace zip_test
