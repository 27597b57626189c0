// Slicing-by-eight CRC-32; see crc32.h.
#include "engine/files/crc32.h"

#include <array>

namespace engine {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::uint32_t kInvert = 0xFFFFFFFFu;
constexpr std::size_t kSlices = 8;
constexpr std::size_t kByteValues = 256;

using Tables = std::array<std::array<std::uint32_t, kByteValues>, kSlices>;

// tables[0][b]: the CRC register after byte b; tables[k][b]: after byte b and
// k zero bytes, each step shifting the previous table's entry once more.
constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < kByteValues; ++b) {
    std::uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
    t[0][b] = c;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::size_t b = 0; b < kByteValues; ++b) {
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
  }
  return t;
}

constexpr Tables kTables = MakeTables();

// Little-endian 32-bit value at p, whatever the alignment.
inline std::uint32_t Load32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = crc ^ kInvert;
  for (; size >= kSlices; size -= kSlices, data += kSlices) {
    const std::uint32_t low = Load32(data) ^ c;
    const std::uint32_t high = Load32(data + 4);
    c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
        kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; size > 0; --size, ++data) c = kTables[0][(c ^ *data) & 0xFF] ^ (c >> 8);
  return c ^ kInvert;
}

}  // namespace engine
