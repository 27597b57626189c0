// Unreduce: the decoder of reduce (methods 2-5, compression factors 1-4), PKWARE's
// probabilistic byte coder feeding a run/back-reference expander.
//
// Follower sets, at the start of the data, for byte values 255 down to 0:
//   6 bits      N, the size of the set
//   N x 8 bits  the bytes that most often follow that value
// Each coded byte C then reads, given the previous coded byte P (0 at the start):
//   set of P empty         8 bits: C
//   otherwise 1 bit        1: 8 bits follow with C; 0: B(N) bits index the set of P
// where B(N) is the bits needed for an index below N (at least 1).
//
// The coded bytes drive a small machine (DLE = 144):
//   C != DLE           a literal byte C
//   DLE 0              a literal 144
//   DLE V [E] D        a back-reference: length = (V & mask) + 3, plus E when (V & mask) == mask;
//                      distance = ((V >> shift) & dmask) * 256 + D + 1
// with (mask, shift, dmask) = (0x7F, 7, 0x01), (0x3F, 6, 0x03), (0x1F, 5, 0x07), (0x0F, 4, 0x0F)
// for factors 1-4. Distances reaching before the first byte read zeros. Exactly the uncompressed
// size is produced.
#include <array>

#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {
namespace {

constexpr unsigned kDle = 144;
constexpr unsigned kSets = 256;
constexpr unsigned kMaxFollowers = 63;  // a 6-bit count

struct FactorParams {
  unsigned lengthMask;
  unsigned distShift;
  unsigned distMask;
};
constexpr std::array<FactorParams, 4> kFactors = {
    {{0x7F, 7, 0x01}, {0x3F, 6, 0x03}, {0x1F, 5, 0x07}, {0x0F, 4, 0x0F}}};

unsigned IndexBits(unsigned n) {
  unsigned bits = 1;
  while ((1u << bits) < n) ++bits;
  return bits;
}

}  // namespace

DecodeStatus EntryDecoder::Unreduce(int factor, std::uint64_t uncompressedSize, DecodeInput& input,
                                    DecodeOutput& output) {
  if (factor < 1 || factor > 4) return DecodeStatus::kUnsupportedMethod;
  const FactorParams& fp = kFactors[static_cast<std::size_t>(factor - 1)];
  DecoderState& s = *state_;
  s.Begin(input, output);

  std::array<std::array<std::uint8_t, kMaxFollowers>, kSets> followers{};
  std::array<std::uint8_t, kSets> counts{};
  for (int j = kSets - 1; j >= 0; --j) {
    const unsigned n = s.NeedBits(6);
    counts[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(n);
    for (unsigned k = 0; k < n; ++k) {
      followers[static_cast<std::size_t>(j)][k] = static_cast<std::uint8_t>(s.NeedBits(8));
    }
  }
  if (s.Overrun()) return DecodeStatus::kBadData;

  enum class State { kPlain, kAfterDle, kLengthByte, kDistByte };
  State state = State::kPlain;
  unsigned last = 0;
  unsigned v = 0;
  std::uint64_t length = 0;
  std::uint64_t left = uncompressedSize;
  while (left != 0) {
    s.Refill();
    unsigned c;
    const unsigned n = counts[last];
    if (n == 0 || s.Bits(1) != 0) {
      c = s.Bits(8);
    } else {
      const unsigned idx = s.Bits(IndexBits(n));
      if (idx >= n) return DecodeStatus::kBadData;
      c = followers[last][idx];
    }
    last = c;
    if (s.Overrun()) return DecodeStatus::kBadData;

    switch (state) {
      case State::kPlain:
        if (c == kDle) {
          state = State::kAfterDle;
        } else {
          if (!s.PutByte(static_cast<std::uint8_t>(c))) return DecodeStatus::kBadData;
          --left;
        }
        break;
      case State::kAfterDle:
        if (c == 0) {
          if (!s.PutByte(static_cast<std::uint8_t>(kDle))) return DecodeStatus::kBadData;
          --left;
          state = State::kPlain;
        } else {
          v = c;
          length = c & fp.lengthMask;
          state = length == fp.lengthMask ? State::kLengthByte : State::kDistByte;
        }
        break;
      case State::kLengthByte:
        length += c;
        state = State::kDistByte;
        break;
      case State::kDistByte: {
        const std::size_t d = ((v >> fp.distShift) & fp.distMask) * 256 + c + 1;  // <= 4 KB
        std::uint64_t count = length + 3;
        if (count > left) count = left;
        left -= count;
        while (count-- != 0) {
          if (!s.PutByte(s.win_[s.outPos_ - d])) return DecodeStatus::kBadData;
        }
        state = State::kPlain;
        break;
      }
    }
  }
  s.FlushRest();
  return DecodeStatus::kOk;
}

}  // namespace zip
