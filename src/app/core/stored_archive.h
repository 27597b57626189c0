// The one-entry zip archive that a compressed row stores as its File BLOB,
// read without the unzip reader and without temporary files: the listing
// needs only the entry's sizes and CRC from the central directory at the end
// of the BLOB, the verification decodes the entry in memory.
//
// Layout relied on (all little-endian; the zip format's own records):
//   local header (30 bytes + name + extra), the entry's data,
//   central header (46 bytes + name + extra + comment),
//   end record (22 bytes + comment): entries at +10, directory size at +12,
//   directory offset at +16.
// Central header fields used: method +10, CRC +16, compressed size +20,
// original size +24, name/extra/comment lengths +28/+30/+32, local header
// offset +42. Local header: name and extra lengths at +26/+28.
// Every offset read from the BLOB is checked against its length before use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {
class TStream;
}
namespace zip {
class EntryDecoder;
}

namespace app {

// What the central directory says about the archive's first entry.
struct StoredEntry {
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t originalSize = 0;
  std::uint32_t localOffset = 0;
  std::uint16_t entries = 0;  // as the end record counts them
};

// Reads the entry from the end of a BLOB of `size` bytes; throws
// std::runtime_error naming what is wrong when it is not such an archive.
StoredEntry ReadStoredEntry(engine::TStream& blob);

// Checks a whole archive held in memory: one entry, a local header where the
// directory points, data inside the archive, a supported method, and data
// that decodes to the recorded size with the recorded CRC. Returns "" when
// sound, otherwise what is wrong.
// `originalSize`, when given, receives the size the entry records.
std::string CheckStoredArchive(const std::vector<std::uint8_t>& archive, zip::EntryDecoder& decoder,
                               std::uint64_t* originalSize = nullptr);

}  // namespace app
