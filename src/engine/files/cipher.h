// The engine's byte-stream cipher for encrypted tables.
//
// An encrypted table passes each *unit* through this cipher on its way to and
// from the disk: the field-definition area of the data file, each record, each
// index header and page, the BLOB header, and each block's 18-byte header and
// data area as two units. Every unit starts the key stream afresh at its first
// byte, so a unit can be deciphered on its own. The password and description in
// the data file header use the same cipher with a second key (kHeaderKey), so
// that the header stays readable while those two texts are scrambled.
//
// The cipher is a cipher-feedback stream: a 16-bit register, seeded from the
// key, produces one key byte per data byte and is then stirred with the
// *ciphertext* byte. Flipping one stored byte therefore garbles the rest of its
// unit, and equal plaintext bytes at different positions give different
// ciphertext. It keeps stored data from being read with a text viewer; it is
// not meant to resist a determined attacker (both keys are fixed constants of
// this program).
//
// Invariant: Decipher(Encipher(x)) == x for every unit and key; both leave the
// length unchanged and work in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

inline constexpr std::uint16_t kDataKey = 0x5A3C;    // records, definitions, pages, blocks
inline constexpr std::uint16_t kHeaderKey = 0xC3A7;  // password and description texts

void Encipher(std::uint8_t* data, std::size_t length, std::uint16_t key);
void Decipher(std::uint8_t* data, std::size_t length, std::uint16_t key);

}  // namespace engine
