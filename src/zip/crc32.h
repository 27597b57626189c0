// CRC-32 of the zip format: the reflected polynomial 0xEDB88320, as every archive entry carries it.
//
// The checksum is kept as a running register. An entry starts with the register at
// kCrc32Initial; each byte b updates it to table[(reg ^ b) & 0xFF] ^ (reg >> 8); the entry's CRC
// is the complement of the final register. The CRC of empty data is therefore 0.
//
// Crc32Update processes eight bytes per step with eight derived tables ("slicing by 8"); the
// result is identical to the byte-at-a-time rule above for any split of the data into calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zip {

// Register value at the start of an entry.
inline constexpr std::uint32_t kCrc32Initial = 0xFFFFFFFFu;

// Adds n bytes to the running register and returns the new register (not complemented).
std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t n);

// The finished CRC-32 of one buffer: ~Crc32Update(kCrc32Initial, data, n).
std::uint32_t Crc32(const void* data, std::size_t n);

}  // namespace zip
