// The journal's CRC-32: the check values of the common CRC-32 (a journal
// written before must still verify), and the eight-byte steps agreeing with
// a bit-at-a-time register at every length and alignment, so that no tail or
// misaligned start is computed wrongly.
#include "engine/files/crc32.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace {

const std::uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// The CRC register shifted one bit at a time, as the polynomial defines it.
std::uint32_t BitwiseCrc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1) != 0 ? 0xEDB88320u : 0);
  }
  return ~c;
}

TEST(JournalCrc32, KnownValues) {
  const struct {
    std::string_view text;
    std::uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(engine::Crc32(Bytes(c.text), c.text.size()), c.crc) << c.text;
  }
  // Continued in two pieces, split inside an eight-byte step.
  const std::string_view fox = cases[3].text;
  EXPECT_EQ(engine::Crc32Update(engine::Crc32(Bytes(fox), 13), Bytes(fox) + 13, fox.size() - 13),
            0x414FA339u);
}

TEST(JournalCrc32, EveryLengthAndAlignmentAgreesWithTheBitwiseRegister) {
  std::vector<std::uint8_t> data(300);
  std::uint32_t x = 1;
  for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
  for (std::size_t start = 0; start < 8; ++start) {
    for (std::size_t size = 0; start + size <= data.size(); size += (size < 40 ? 1 : 29)) {
      ASSERT_EQ(engine::Crc32(data.data() + start, size), BitwiseCrc(data.data() + start, size))
          << "start " << start << " size " << size;
    }
  }
}

}  // namespace
