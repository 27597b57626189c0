// Explode: the decoder of implode (method 6), PKWARE's sliding-dictionary method with
// Shannon-Fano codes.
//
// Flag bit 1 selects an 8 KB dictionary (7 low distance bits) instead of 4 KB (6 bits); flag bit
// 2 says that a literal tree of 256 codes precedes the length tree (64 codes) and the distance
// tree (64 codes); without it literals are plain bytes.
//
// Tree description, byte aligned at the start of the data:
//   1 byte     number of bytes that follow, minus 1
//   n bytes    each: low 4 bits = code length - 1, high 4 bits = number of symbols - 1 that get
//              it, for consecutive symbols from 0 up; the counts must add up to the tree size
// Example: 0x02 0x00 0x01 0x12 is three bytes giving symbol 0 length 1 (0x00), symbol 1 length
// 2 (0x01) and symbols 2-3 length 3 (0x12: length 3, two symbols). The Shannon-Fano codes are
// assigned from the longest length down (here 3: 000, 2: 001, 1: 01, 0: 1), so
// they are the bitwise complements of the canonical codes RFC 1951 gives the same lengths: the
// decoder uses the inflate table builder and looks codes up with inverted stream bits.
//
// Data, bits taken from the low end:
//   1            then a literal: 8 bits, or a code of the literal tree
//   0            then a match: distance low bits (6 or 7) as a number, the distance tree's code
//                (high 6 bits), the length tree's code; length code 63 adds 8 more bits; the
//                length is that plus 3 with a literal tree, plus 2 without; distance = value + 1
// Distances reaching before the first byte read zeros. Decoding stops when the uncompressed size
// has been produced (a match running past it is cut there).
#include <array>

#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {
namespace {

constexpr unsigned kLiteralCodes = 256;
constexpr unsigned kLengthCodes = 64;
constexpr unsigned kDistCodes = 64;
constexpr unsigned kLongLength = 63;  // length code that takes 8 more bits

bool ReadTree(DecoderState& s, unsigned size, std::uint32_t* table, std::size_t capacity) {
  std::array<std::uint8_t, kLiteralCodes> lens{};
  const unsigned bytes = s.NeedBits(8) + 1;
  unsigned k = 0;
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned b = s.NeedBits(8);
    const unsigned len = (b & 0x0F) + 1;
    const unsigned count = (b >> 4) + 1;
    if (k + count > size) return false;
    for (unsigned j = 0; j < count; ++j) lens[k++] = static_cast<std::uint8_t>(len);
  }
  if (k != size || s.Overrun()) return false;
  const huffman::BuildResult r = huffman::BuildTable(lens.data(), size, huffman::PlainSymbols(),
                                                     kImplodeBits, table, capacity);
  return r == huffman::BuildResult::kComplete || r == huffman::BuildResult::kSingleShort;
}

}  // namespace

DecodeStatus EntryDecoder::Explode(std::uint16_t flagBits, std::uint64_t uncompressedSize,
                                   DecodeInput& input, DecodeOutput& output) {
  DecoderState& s = *state_;
  s.Begin(input, output);
  const bool literalTree = (flagBits & CodecFlag::kImplodeLiteralTree) != 0;
  const unsigned lowBits = (flagBits & CodecFlag::kImplode8kDictionary) != 0 ? 7 : 6;
  const unsigned minLength = literalTree ? 3 : 2;
  std::uint32_t* const lit = s.implodeTable(0);
  std::uint32_t* const len = s.implodeTable(1);
  std::uint32_t* const dist = s.implodeTable(2);
  if ((literalTree && !ReadTree(s, kLiteralCodes, lit, kImplodeLiteralCapacity)) ||
      !ReadTree(s, kLengthCodes, len, kImplodeSmallCapacity) ||
      !ReadTree(s, kDistCodes, dist, kImplodeSmallCapacity)) {
    return DecodeStatus::kBadData;
  }

  std::uint64_t left = uncompressedSize;
  while (left != 0) {
    s.Refill();  // 56 bits: enough for flag, 7 + 16 distance bits, 16 + 8 length bits
    if (s.Bits(1) != 0) {
      std::uint32_t b;
      if (literalTree) {
        const std::uint32_t e = s.Decode<true>(lit, kImplodeBits);
        if (huffman::EntryKind(e) != huffman::kLiteral) return DecodeStatus::kBadData;
        b = huffman::EntryValue(e);
      } else {
        b = s.Bits(8);
      }
      if (s.Overrun() || !s.PutByte(static_cast<std::uint8_t>(b))) return DecodeStatus::kBadData;
      --left;
      continue;
    }
    const std::uint32_t low = s.Bits(lowBits);
    const std::uint32_t de = s.Decode<true>(dist, kImplodeBits);
    const std::uint32_t le = s.Decode<true>(len, kImplodeBits);
    if (huffman::EntryKind(de) != huffman::kLiteral ||
        huffman::EntryKind(le) != huffman::kLiteral) {
      return DecodeStatus::kBadData;
    }
    const std::size_t d =
        ((static_cast<std::size_t>(huffman::EntryValue(de)) << lowBits) | low) + 1;
    std::uint64_t n = huffman::EntryValue(le);
    if (n == kLongLength) n += s.Bits(8);
    n += minLength;
    if (s.Overrun()) return DecodeStatus::kBadData;
    if (n > left) n = left;
    left -= n;
    // d <= 8 KB and at least 32 KB of history (zeros before the first byte) precede outPos_.
    while (n-- != 0) {
      if (!s.PutByte(s.win_[s.outPos_ - d])) return DecodeStatus::kBadData;
    }
  }
  s.FlushRest();
  return DecodeStatus::kOk;
}

}  // namespace zip
