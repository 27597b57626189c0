// CRC-32 of the commit journal's header and entries: the reflected polynomial
// 0xEDB88320, initial value and final XOR 0xFFFFFFFF (the common CRC-32, so
// "123456789" gives 0xCBF43926).
//
// Computed eight bytes at a time ("slicing by eight"): table k holds the CRC
// of a byte followed by k zero bytes, so the CRC of eight bytes is the XOR of
// eight table entries, one per byte, instead of eight dependent steps. The
// bytes a journal holds do not depend on how the CRC is computed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Continues `crc` (a finished CRC-32, 0 for no bytes yet) over `size` bytes.
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  return Crc32Update(0, data, size);
}

}  // namespace engine
