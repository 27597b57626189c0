// CRC-32 (reflected polynomial 0xEDB88320) with slicing by 8.
//
// Table 0 is the classic byte table: kTables[0][b] is the register change for byte b. Table k
// (k = 1..7) gives the change for byte b followed by k zero bytes:
//   kTables[k][b] = (kTables[k-1][b] >> 8) ^ kTables[0][kTables[k-1][b] & 0xFF].
// Eight input bytes xored into the register's low 32 bits and the following 32 bits then update
// the register with eight lookups, one per byte position. All tables are computed at compile
// time; the head and tail of a buffer go through the byte rule.
#include "zip/crc32.h"

#include <array>
#include <cstring>

namespace zip {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // reflected CRC-32 polynomial
constexpr int kSlices = 8;                          // bytes per step in the fast loop
constexpr int kByteValues = 256;

using CrcTables = std::array<std::array<std::uint32_t, kByteValues>, kSlices>;

constexpr CrcTables MakeTables() {
  CrcTables t{};
  for (int b = 0; b < kByteValues; ++b) {
    std::uint32_t c = static_cast<std::uint32_t>(b);
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][b] = c;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (int b = 0; b < kByteValues; ++b) {
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n >= kSlices) {
    const std::uint32_t lo = reg ^ LoadLe32(p);
    const std::uint32_t hi = LoadLe32(p + 4);
    reg = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
          kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    p += kSlices;
    n -= kSlices;
  }
  while (n-- != 0) reg = kTables[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
  return reg;
}

std::uint32_t Crc32(const void* data, std::size_t n) {
  return ~Crc32Update(kCrc32Initial, data, n);
}

}  // namespace zip
