// Prefix-code decoding tables shared by inflate and explode.
//
// A code is given as one bit length per symbol (0 = symbol unused). Codes are canonical as
// RFC 1951 assigns them: shorter codes first, equal lengths in symbol order, and a code's first
// bit in the stream is its most significant bit. (Implode's Shannon-Fano codes are the bitwise
// complement of exactly these codes, so explode uses the same tables on inverted bits.)
//
// Table layout: a primary table of 2^tableBits entries indexed by the next tableBits stream bits
// (first stream bit lowest). A code no longer than tableBits fills every entry whose low bits
// equal its bit-reversed code. Longer codes go through a sub-table: the primary entry is a link
// holding the sub-table's offset and index width, and the sub-table is indexed by the bits after
// the first tableBits. Each 32-bit entry:
//
//   bits 0-4   bits to consume (code length; for a link tableBits; in a sub-table the length
//              minus tableBits)
//   bits 5-7   kind: literal, base (length or distance), end of block, link, invalid
//   bits 8-11  extra bits that follow the code (base kind), or the sub-table's index width (link)
//   bits 16-31 value: the literal or symbol, the base length or distance, the sub-table offset
//
// Entries that no code reaches (incomplete codes only) are invalid and consume nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zip::huffman {

inline constexpr unsigned kMaxCodeBits = 16;  // implode lengths reach 16; deflate stops at 15

enum Kind : std::uint32_t {
  kLiteral = 0,   // value is the literal byte or the decoded symbol
  kBase = 1,      // value is a base length or distance, extra bits follow
  kEndBlock = 2,  // inflate's end-of-block symbol 256
  kLink = 3,      // value is the sub-table offset, extra field its index width
  kInvalid = 4,   // no code, or a symbol the format reserves
};

constexpr std::uint32_t MakeEntry(Kind kind, std::uint32_t value, std::uint32_t extra = 0) {
  return (value << 16) | (extra << 8) | (static_cast<std::uint32_t>(kind) << 5);
}
constexpr unsigned EntryBits(std::uint32_t e) {
  return e & 0x1F;
}
constexpr Kind EntryKind(std::uint32_t e) {
  return static_cast<Kind>((e >> 5) & 0x7);
}
constexpr unsigned EntryExtra(std::uint32_t e) {
  return (e >> 8) & 0xF;
}
constexpr unsigned EntryValue(std::uint32_t e) {
  return e >> 16;
}

inline constexpr std::uint32_t kInvalidEntry = MakeEntry(kInvalid, 0);

enum class BuildResult { kComplete, kEmpty, kSingleShort, kIncomplete, kOverSubscribed, kTooBig };

// Builds the table for `count` symbols whose lengths are `lengths` (each <= kMaxCodeBits) and
// whose decoded entries (length field 0) are `symbols`. `table` holds `capacity` entries.
// kComplete and kSingleShort (one code of length 1) and kEmpty (no codes) give usable tables; in
// the last two every unused bit pattern decodes as invalid. kIncomplete tables are also filled
// (unused patterns invalid) for callers that accept them; kOverSubscribed and kTooBig are not.
BuildResult BuildTable(const std::uint8_t* lengths, unsigned count, const std::uint32_t* symbols,
                       unsigned tableBits, std::uint32_t* table, std::size_t capacity);

// Plain symbol entries 0..n-1 (kind literal), for code-length and implode trees.
const std::uint32_t* PlainSymbols();  // 256 entries

}  // namespace zip::huffman
