// The engine's byte-stream cipher; see cipher.h for what it protects and why.
//
// Per byte, with register r (16 bits) seeded as key ^ kSeedMix:
//   k = high byte of r XOR low byte of r
//   c = p XOR k
//   r = (r + c) * kMul + kAdd   (mod 2^16)
// Deciphering computes the same k and then p = c XOR k, and stirs with c too, so
// both directions walk the same register sequence.
#include "engine/files/cipher.h"

namespace engine {
namespace {

constexpr std::uint16_t kSeedMix = 0x9E37;  // spreads small keys over the register
constexpr std::uint32_t kMul = 52845;       // odd multiplier: a full-period step mod 2^16
constexpr std::uint32_t kAdd = 22719;       // odd increment

inline std::uint8_t KeyByte(std::uint16_t r) {
  return static_cast<std::uint8_t>((r >> 8) ^ (r & 0xFF));
}
inline std::uint16_t Stir(std::uint16_t r, std::uint8_t cipherByte) {
  return static_cast<std::uint16_t>((static_cast<std::uint32_t>(r + cipherByte) * kMul + kAdd));
}

}  // namespace

void Encipher(std::uint8_t* data, std::size_t length, std::uint16_t key) {
  std::uint16_t r = static_cast<std::uint16_t>(key ^ kSeedMix);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t c = static_cast<std::uint8_t>(data[i] ^ KeyByte(r));
    data[i] = c;
    r = Stir(r, c);
  }
}

void Decipher(std::uint8_t* data, std::size_t length, std::uint16_t key) {
  std::uint16_t r = static_cast<std::uint16_t>(key ^ kSeedMix);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t c = data[i];
    data[i] = static_cast<std::uint8_t>(c ^ KeyByte(r));
    r = Stir(r, c);
  }
}

}  // namespace engine
