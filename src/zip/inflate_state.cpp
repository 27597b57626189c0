// The decoders' shared bit reader and output window; see inflate_state.h for their invariants.
#include "zip/inflate_state.h"

#include <algorithm>
#include <array>

namespace zip {
namespace {

using huffman::kBase;
using huffman::kEndBlock;
using huffman::kInvalid;
using huffman::kLiteral;
using huffman::MakeEntry;

constexpr unsigned kLitLenSymbols = 288;  // 0-255 literals, 256 end, 257-285 lengths, 2 reserved
constexpr unsigned kDistSymbols = 32;     // 0-29 distances, 2 reserved

// RFC 1951 length codes 257-285: base length and extra bits.
constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance codes 0-29: base distance and extra bits.
constexpr std::array<std::uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                     4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Fixed code lengths (RFC 1951, 3.2.6).
constexpr unsigned kFixedLit8a = 144;  // 0-143: 8 bits
constexpr unsigned kFixedLit9 = 256;   // 144-255: 9 bits
constexpr unsigned kFixedLit7 = 280;   // 256-279: 7 bits, 280-287: 8 bits
constexpr std::uint8_t kFixedDistLength = 5;

struct SymbolTables {
  std::array<std::uint32_t, kLitLenSymbols> litLen{};
  std::array<std::uint32_t, kDistSymbols> dist{};
  SymbolTables() {
    for (unsigned s = 0; s < 256; ++s) litLen[s] = MakeEntry(kLiteral, s);
    litLen[256] = MakeEntry(kEndBlock, 0);
    for (unsigned i = 0; i < kLengthBase.size(); ++i) {
      litLen[257 + i] = MakeEntry(kBase, kLengthBase[i], kLengthExtra[i]);
    }
    litLen[286] = litLen[287] = MakeEntry(kInvalid, 0);
    for (unsigned i = 0; i < kDistBase.size(); ++i) {
      dist[i] = MakeEntry(kBase, kDistBase[i], kDistExtra[i]);
    }
    dist[30] = dist[31] = MakeEntry(kInvalid, 0);
  }
};

}  // namespace

const std::uint32_t* LitLenSymbols() {
  static const SymbolTables t;
  return t.litLen.data();
}
const std::uint32_t* DistSymbols() {
  static const SymbolTables t;
  return t.dist.data();
}

DecoderState::DecoderState()
    : inBuf_(new std::uint8_t[kInputBytes]),
      win_(new std::uint8_t[kWindowBytes]()),
      litLen_(new std::uint32_t[kLitLenCapacity]),
      dist_(new std::uint32_t[kDistCapacity]),
      codeLen_(new std::uint32_t[kCodeLenCapacity]),
      fixedLitLen_(new std::uint32_t[kLitLenCapacity]),
      fixedDist_(new std::uint32_t[kDistCapacity]) {
  std::array<std::uint8_t, kLitLenSymbols> lens{};
  for (unsigned s = 0; s < kLitLenSymbols; ++s) {
    lens[s] = s < kFixedLit8a ? 8 : s < kFixedLit9 ? 9 : s < kFixedLit7 ? 7 : 8;
  }
  huffman::BuildTable(lens.data(), kLitLenSymbols, LitLenSymbols(), kLitLenBits, fixedLitLen_.get(),
                      kLitLenCapacity);
  std::array<std::uint8_t, kDistSymbols> dlens{};
  dlens.fill(kFixedDistLength);
  huffman::BuildTable(dlens.data(), kDistSymbols, DistSymbols(), kDistBits, fixedDist_.get(),
                      kDistCapacity);
}

void DecoderState::Begin(DecodeInput& input, DecodeOutput& output) {
  input_ = &input;
  output_ = &output;
  inPos_ = inEnd_ = inBuf_.get();
  inEnded_ = false;
  bitBuf_ = 0;
  bitCount_ = 0;
  padBits_ = 0;
  // The history before the first byte reads as zeros (reduce and implode rely on that).
  std::fill(win_.get(), win_.get() + kHistoryBytes, std::uint8_t{0});
  outPos_ = kHistoryBytes;
  flushed_ = 0;
}

bool DecoderState::FillInput() {
  if (inEnded_) return false;
  const std::size_t carry = static_cast<std::size_t>(inEnd_ - inPos_);  // < kInputCarry
  std::memmove(inBuf_.get(), inPos_, carry);
  std::size_t got = input_->Read(inBuf_.get() + carry, kDecodeInputPiece);
  got = std::min(got, kDecodeInputPiece);
  inPos_ = inBuf_.get();
  inEnd_ = inPos_ + carry + got;
  if (got == 0) inEnded_ = true;
  return inPos_ != inEnd_;
}

void DecoderState::RefillSlow() {
  while (bitCount_ < kRefillBits) {
    if (inPos_ == inEnd_ && !FillInput()) {
      padBits_ += 8;  // a zero byte past the end of the data
      bitCount_ += 8;
      continue;
    }
    if (inEnd_ - inPos_ >= 8) {
      Refill();
      return;
    }
    bitBuf_ |= static_cast<std::uint64_t>(*inPos_++) << bitCount_;
    bitCount_ += 8;
  }
}

bool DecoderState::CopyRawBytes(std::size_t n) {
  while (n > 0 && bitCount_ >= 8) {
    win_[outPos_++] = static_cast<std::uint8_t>(bitBuf_);
    Consume(8);
    --n;
    if (Overrun() || !FlushIfFull()) return false;
  }
  if (n == 0) return true;
  bitBuf_ = 0;  // empty now; forget input bytes a wide load placed above the valid bits
  bitCount_ = 0;
  while (n > 0) {
    if (inPos_ == inEnd_) {
      // Nothing buffered: read straight into the window, no further than this block.
      if (inEnded_) return false;
      const std::size_t want = std::min({n, kFlushAt - outPos_, kDecodeInputPiece});
      const std::size_t got = std::min(input_->Read(win_.get() + outPos_, want), want);
      if (got == 0) {
        inEnded_ = true;
        return false;
      }
      outPos_ += got;
      n -= got;
      if (!FlushIfFull()) return false;
      continue;
    }
    const std::size_t k =
        std::min({n, static_cast<std::size_t>(inEnd_ - inPos_), kFlushAt - outPos_});
    std::memcpy(win_.get() + outPos_, inPos_, k);
    inPos_ += k;
    outPos_ += k;
    n -= k;
    if (!FlushIfFull()) return false;
  }
  return true;
}

bool DecoderState::FlushFull() {
  if (Overrun()) return false;
  output_->Write(win_.get() + kHistoryBytes, kHistoryBytes);
  flushed_ += kHistoryBytes;
  std::memmove(win_.get(), win_.get() + kHistoryBytes, outPos_ - kHistoryBytes);
  outPos_ -= kHistoryBytes;
  return true;
}

void DecoderState::FlushRest() {
  if (outPos_ > kHistoryBytes) {
    output_->Write(win_.get() + kHistoryBytes, outPos_ - kHistoryBytes);
    flushed_ += outPos_ - kHistoryBytes;
    outPos_ = kHistoryBytes;
  }
}

std::uint32_t* DecoderState::implodeTable(int i) {
  if (!implode_[i]) {
    implode_[i].reset(new std::uint32_t[i == 0 ? kImplodeLiteralCapacity : kImplodeSmallCapacity]);
  }
  return implode_[i].get();
}

}  // namespace zip
