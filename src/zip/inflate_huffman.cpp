// Canonical prefix-code table builder; see inflate_huffman.h for the table layout.
//
// Steps: count codes per length and check that no length is over-full (Kraft sum above 1 is
// "over-subscribed"); sort symbols by (length, symbol); walk them assigning canonical codes,
// bit-reversing each so that the table is indexed by stream bits. Codes longer than tableBits
// share a sub-table per tableBits-bit prefix; the sub-table is made just wide enough to hold the
// remaining codes that start with that prefix (the same sizing a complete code needs exactly).
#include "zip/inflate_huffman.h"

#include <array>

namespace zip::huffman {
namespace {

constexpr unsigned kMaxSymbols = 288;  // largest alphabet: deflate's literal/length code

std::uint32_t Reverse(std::uint32_t code, unsigned len) {
  std::uint32_t r = 0;
  for (unsigned i = 0; i < len; ++i) {
    r = (r << 1) | (code & 1u);
    code >>= 1;
  }
  return r;
}

struct PlainTable {
  std::array<std::uint32_t, 256> entries{};
  PlainTable() {
    for (std::uint32_t i = 0; i < entries.size(); ++i) entries[i] = MakeEntry(kLiteral, i);
  }
};

}  // namespace

const std::uint32_t* PlainSymbols() {
  static const PlainTable table;
  return table.entries.data();
}

BuildResult BuildTable(const std::uint8_t* lengths, unsigned count, const std::uint32_t* symbols,
                       unsigned tableBits, std::uint32_t* table, std::size_t capacity) {
  if (count > kMaxSymbols) return BuildResult::kTooBig;
  std::array<unsigned, kMaxCodeBits + 1> perLength{};
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] > kMaxCodeBits) return BuildResult::kOverSubscribed;
    ++perLength[lengths[s]];
  }
  perLength[0] = 0;

  // Kraft check: `left` is the number of unused codes of the current length.
  int left = 1;
  unsigned maxLen = 0;
  unsigned codes = 0;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    left = left * 2 - static_cast<int>(perLength[len]);
    if (left < 0) return BuildResult::kOverSubscribed;
    if (perLength[len] != 0) maxLen = len;
    codes += perLength[len];
  }
  const std::size_t primarySize = std::size_t{1} << tableBits;
  if (primarySize > capacity) return BuildResult::kTooBig;

  BuildResult result = BuildResult::kComplete;
  if (codes == 0) {
    result = BuildResult::kEmpty;
  } else if (left != 0) {
    result = (codes == 1 && maxLen == 1) ? BuildResult::kSingleShort : BuildResult::kIncomplete;
  }
  if (result != BuildResult::kComplete) {
    for (std::size_t i = 0; i < primarySize; ++i) table[i] = kInvalidEntry;
    if (codes == 0) return result;
  }

  // Symbols sorted by length, then by symbol.
  std::array<unsigned, kMaxCodeBits + 2> offset{};
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + perLength[len];
  std::array<std::uint16_t, kMaxSymbols> sorted{};
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }

  std::array<unsigned, kMaxCodeBits + 1> remaining = perLength;
  const std::uint32_t primaryMask = static_cast<std::uint32_t>(primarySize - 1);
  std::size_t next = primarySize;  // first free entry for sub-tables
  std::uint32_t curPrefix = ~0u;
  std::size_t subBase = 0;
  unsigned subBits = 0;
  std::uint32_t code = 0;
  unsigned idx = 0;
  for (unsigned len = 1; len <= maxLen; ++len) {
    for (unsigned k = 0; k < perLength[len]; ++k, ++code, --remaining[len]) {
      const unsigned sym = sorted[idx++];
      const std::uint32_t rev = Reverse(code, len);
      if (len <= tableBits) {
        const std::uint32_t e = symbols[sym] | len;
        for (std::size_t i = rev; i < primarySize; i += std::size_t{1} << len) table[i] = e;
        continue;
      }
      const std::uint32_t prefix = rev & primaryMask;
      if (prefix != curPrefix) {
        // Width of the new sub-table: grow until the codes still to come fill it.
        subBits = len - tableBits;
        int room = 1 << subBits;
        for (unsigned l = len; l < maxLen; ++l) {
          room -= static_cast<int>(remaining[l]);
          if (room <= 0) break;
          ++subBits;
          room <<= 1;
        }
        if (next + (std::size_t{1} << subBits) > capacity) return BuildResult::kTooBig;
        subBase = next;
        next += std::size_t{1} << subBits;
        if (result != BuildResult::kComplete) {
          for (std::size_t i = 0; i < (std::size_t{1} << subBits); ++i)
            table[subBase + i] = kInvalidEntry;
        }
        table[prefix] = MakeEntry(kLink, static_cast<std::uint32_t>(subBase), subBits) | tableBits;
        curPrefix = prefix;
      }
      const unsigned subLen = len - tableBits;
      const std::uint32_t e = symbols[sym] | subLen;
      for (std::size_t i = rev >> tableBits; i < (std::size_t{1} << subBits);
           i += std::size_t{1} << subLen) {
        table[subBase + i] = e;
      }
    }
    code <<= 1;
  }
  return result;
}

}  // namespace zip::huffman
