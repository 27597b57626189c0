// Traditional zip encryption (the "ZipCrypto" stream cipher of the zip format).
//
// Three 32-bit keys start at 0x12345678, 0x23456789, 0x34567890 and are
// stirred by every byte of the password and then by every plain byte:
//   key0 = crc32(key0, byte); key1 = (key1 + (key0 & 0xFF)) * 134775813 + 1;
//   key2 = crc32(key2, key1 >> 24)
// where crc32(r, b) is one step of the CRC-32 register. The key stream byte is
// ((t * (t ^ 1)) >> 8) & 0xFF with t = (key2 | 2) & 0xFFFF; a cipher byte is
// the plain byte xor the key stream byte.
//
// An encrypted entry's data starts with a 12-byte header: 11 random bytes and
// a check byte, the high byte of the entry's CRC-32 (or, when the sizes
// follow the data, the high byte of the DOS time). The header is encrypted
// like the data and counted in the compressed size. The check byte lets a
// reader reject most wrong passwords before decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zip {

class TZipCrypt {
 public:
  explicit TZipCrypt(std::string_view password);
  void Encrypt(std::uint8_t* data, std::size_t n);
  void Decrypt(std::uint8_t* data, std::size_t n);
  // Builds the encrypted 12-byte header for an entry whose check byte is `check`.
  void MakeHeader(std::uint8_t check, std::uint8_t header[12]);
  // Decrypts a header in place; true when its check byte equals `check`.
  bool CheckHeader(std::uint8_t header[12], std::uint8_t check);

 private:
  void Update(std::uint8_t plain);
  std::uint8_t StreamByte() const;

  std::uint32_t key0_;
  std::uint32_t key1_;
  std::uint32_t key2_;
};

}  // namespace zip
