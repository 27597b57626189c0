// Traditional zip encryption; see zip_crypt.h for the key schedule.
#include "zip/zip_crypt.h"

#include <random>

#include "zip/crc32.h"

namespace zip {
namespace {

constexpr std::uint32_t kKey0Initial = 0x12345678;
constexpr std::uint32_t kKey1Initial = 0x23456789;
constexpr std::uint32_t kKey2Initial = 0x34567890;
constexpr std::uint32_t kKey1Multiplier = 134775813;
constexpr std::size_t kHeaderBytes = 12;

std::uint32_t CrcStep(std::uint32_t reg, std::uint8_t byte) {
  return Crc32Update(reg, &byte, 1);
}

}  // namespace

TZipCrypt::TZipCrypt(std::string_view password)
    : key0_(kKey0Initial), key1_(kKey1Initial), key2_(kKey2Initial) {
  for (const char c : password) Update(static_cast<std::uint8_t>(c));
}

void TZipCrypt::Update(std::uint8_t plain) {
  key0_ = CrcStep(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * kKey1Multiplier + 1;
  key2_ = CrcStep(key2_, static_cast<std::uint8_t>(key1_ >> 24));
}

std::uint8_t TZipCrypt::StreamByte() const {
  const std::uint32_t t = (key2_ | 2) & 0xFFFF;
  return static_cast<std::uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

void TZipCrypt::Encrypt(std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t plain = data[i];
    data[i] = static_cast<std::uint8_t>(plain ^ StreamByte());
    Update(plain);
  }
}

void TZipCrypt::Decrypt(std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t plain = static_cast<std::uint8_t>(data[i] ^ StreamByte());
    data[i] = plain;
    Update(plain);
  }
}

void TZipCrypt::MakeHeader(std::uint8_t check, std::uint8_t header[12]) {
  std::random_device random;
  for (std::size_t i = 0; i + 1 < kHeaderBytes; ++i) {
    header[i] = static_cast<std::uint8_t>(random());
  }
  header[kHeaderBytes - 1] = check;
  Encrypt(header, kHeaderBytes);
}

bool TZipCrypt::CheckHeader(std::uint8_t header[12], std::uint8_t check) {
  Decrypt(header, kHeaderBytes);
  return header[kHeaderBytes - 1] == check;
}

}  // namespace zip
