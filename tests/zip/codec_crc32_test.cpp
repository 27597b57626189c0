// CRC-32: published check values, and agreement with zlib's crc32 for every split of a buffer
// into calls (the slicing loop and the byte loop must join without a seam).
#include <gtest/gtest.h>

#include <string>

#include "zip/codec_test_util.h"
#include "zip/crc32.h"

namespace zip {
namespace {

TEST(CodecCrc32, KnownValues) {
  const struct {
    std::string text;
    std::uint32_t crc;
  } kCases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(32, '\0'), 0x190A55ADu},
      {std::string(32, '\xFF'), 0xFF6CAB0Bu},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Crc32(c.text.data(), c.text.size()), c.crc) << '"' << c.text << '"';
  }
}

TEST(CodecCrc32, RunningRegisterMatchesZlibForAnySplit) {
  const auto data = testutil::MakeData(testutil::DataKind::kRandom, 1000, 9);
  for (std::size_t start : {0, 1, 3, 7, 8, 13}) {
    for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 100, 987}) {
      if (start + len > data.size()) continue;
      const std::uint32_t expected =
          static_cast<std::uint32_t>(crc32(0, data.data() + start, static_cast<uInt>(len)));
      for (std::size_t split = 0; split <= len; split += len / 3 + 1) {
        std::uint32_t reg = kCrc32Initial;
        reg = Crc32Update(reg, data.data() + start, split);
        reg = Crc32Update(reg, data.data() + start + split, len - split);
        EXPECT_EQ(~reg, expected) << start << " " << len << " " << split;
      }
    }
  }
}

}  // namespace
}  // namespace zip
