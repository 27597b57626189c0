// Work areas and bit reader shared by all entry decoders (inflate, stored, unshrink, unreduce,
// explode). Internal to the zip codec.
//
// Input. Stored bytes arrive through DecodeInput::Read into inBuf_ (one piece of up to 32 KB plus
// a few bytes carried over). The bit buffer bitBuf_ holds bitCount_ valid bits; the next stream
// bit is bit 0 (bits are taken from the low end and each new byte goes above those held).
// Refill() tops it up to at least 56 bits: while at least eight input bytes are buffered it loads
// eight at once and keeps whole bytes (bits above bitCount_ then already hold the following input
// bytes, which later loads OR in again unchanged); otherwise it adds one byte at a time, asking
// the input routine for more when the buffer is empty.
//
// End of data. Once the input routine has delivered 0 bytes it is never asked again; the bit
// reader then supplies zero bytes and counts them in padBits_. Padding sits above all real bits,
// so the decoder has used bits that do not exist exactly when bitCount_ < padBits_ (Overrun()).
// The condition is sticky (further padding raises both counts alike), so decoders check it at
// block boundaries and before every window write: a truncated stream never reaches the output.
//
// Output. win_ holds two 32 KB halves plus a margin for one maximal match. Decoded bytes go at
// outPos_, which runs from 32 KB up; the 32 KB before outPos_ are the history that back-
// references read. When outPos_ reaches 64 KB the upper half goes to the output routine in one
// piece and everything from 32 KB on moves down by 32 KB. produced_ counts all bytes decoded so
// far, so a distance reaching before the first byte is detected.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "zip/inflate.h"
#include "zip/inflate_huffman.h"

namespace zip {

// Multi-byte loads below assume the first byte in memory is the least significant.
static_assert(std::endian::native == std::endian::little, "little-endian host required");

inline constexpr std::size_t kHistoryBytes = kDecodeWindowSize;  // bytes of history kept
inline constexpr std::size_t kFlushAt = 2 * kHistoryBytes;       // outPos_ that triggers a write
inline constexpr std::size_t kMaxCopy = 258;                     // longest deflate match
inline constexpr std::size_t kCopyOvershoot = 16;                // bytes a wide copy may spill
inline constexpr std::size_t kWindowBytes = kFlushAt + kMaxCopy + kCopyOvershoot;
// (The legacy decoders append byte by byte through PutByte and never use the margin.)
inline constexpr std::size_t kInputCarry = 8;  // bytes kept across refills
inline constexpr std::size_t kInputBytes = kDecodeInputPiece + kInputCarry;
inline constexpr unsigned kRefillBits = 56;  // Refill() leaves at least this many bits

// Table capacities (entries): primary table plus the most sub-table entries any code can need.
inline constexpr unsigned kLitLenBits = 10;
inline constexpr unsigned kDistBits = 8;
inline constexpr unsigned kCodeLenBits = 7;
inline constexpr std::size_t kLitLenCapacity = (1u << kLitLenBits) + 288 * 32;
inline constexpr std::size_t kDistCapacity = (1u << kDistBits) + 32 * 128;
inline constexpr std::size_t kCodeLenCapacity = 1u << kCodeLenBits;
inline constexpr unsigned kImplodeBits = 9;  // implode codes are at most 16 bits: sub-tables <= 7
inline constexpr std::size_t kImplodeLiteralCapacity = (1u << kImplodeBits) + 256 * 128;
inline constexpr std::size_t kImplodeSmallCapacity = (1u << kImplodeBits) + 64 * 128;

// Decoded entries of deflate's literal/length (288) and distance (32) symbols.
const std::uint32_t* LitLenSymbols();
const std::uint32_t* DistSymbols();

// Plain struct: the decoders' hot loops copy the bit reader and output position into locals
// (writes through the byte window would otherwise force them back to memory) and store them back
// before calling the member functions.
struct DecoderState {
  DecoderState();

  // Starts an entry: empties the bit buffer and the window.
  void Begin(DecodeInput& input, DecodeOutput& output);

  // --- bit reader ---
  void Refill() {
    if (inEnd_ - inPos_ >= 8) {
      std::uint64_t v;
      std::memcpy(&v, inPos_, sizeof v);  // little-endian hosts only (x86-64, ARM64)
      bitBuf_ |= v << bitCount_;
      inPos_ += (63 - bitCount_) >> 3;
      bitCount_ |= kRefillBits;
    } else {
      RefillSlow();
    }
  }
  std::uint64_t Peek() const { return bitBuf_; }
  void Consume(unsigned n) {
    bitBuf_ >>= n;
    bitCount_ -= n;
  }
  // Takes n bits (n <= 32, at most what a Refill guarantees) as a number, first bit lowest.
  std::uint32_t Bits(unsigned n) {
    const auto v = static_cast<std::uint32_t>(bitBuf_ & ((std::uint64_t{1} << n) - 1));
    Consume(n);
    return v;
  }
  // Refills first; for reads spread over many calls.
  std::uint32_t NeedBits(unsigned n) {
    if (bitCount_ < n) Refill();
    return Bits(n);
  }
  bool Overrun() const { return bitCount_ < padBits_; }
  // Bits still held that came from the data (valid while !Overrun()).
  unsigned RealBits() const { return bitCount_ - padBits_; }
  // Appends one decoded byte (legacy methods). False when the stream has overrun at a flush.
  bool PutByte(std::uint8_t b) {
    win_[outPos_++] = b;
    return FlushIfFull();
  }
  // Drops the bits of a partly used byte.
  void AlignToByte() { Consume(bitCount_ & 7u); }

  // Decodes one symbol through a table built by huffman::BuildTable; Refill() must have run.
  // With `inverted` the stream bits are complemented first (implode's Shannon-Fano codes).
  template <bool inverted = false>
  std::uint32_t Decode(const std::uint32_t* table, unsigned tableBits) {
    const std::uint64_t bits = inverted ? ~bitBuf_ : bitBuf_;
    std::uint32_t e = table[bits & ((1u << tableBits) - 1)];
    if (huffman::EntryKind(e) == huffman::kLink) {
      const std::uint64_t rest = bits >> tableBits;
      Consume(tableBits);
      e = table[huffman::EntryValue(e) + (rest & ((1u << huffman::EntryExtra(e)) - 1))];
    }
    Consume(huffman::EntryBits(e));
    return e;
  }

  // Copies up to n raw bytes of input (byte aligned; whole bytes still in the bit buffer come
  // first) into the window, flushing as it fills. False when the data ends first.
  bool CopyRawBytes(std::size_t n);

  // --- output window ---
  std::uint64_t Produced() const { return flushed_ + (outPos_ - kHistoryBytes); }
  // Writes the upper half when full. False when the stream has overrun (nothing is written).
  bool FlushIfFull() {
    if (outPos_ < kFlushAt) return true;
    return FlushFull();
  }
  bool FlushFull();
  // Writes whatever is left after a clean end.
  void FlushRest();

  // Code tables, owned here so that no block allocates.
  std::uint32_t* litLen() { return litLen_.get(); }
  std::uint32_t* dist() { return dist_.get(); }
  std::uint32_t* codeLen() { return codeLen_.get(); }
  const std::uint32_t* fixedLitLen() const { return fixedLitLen_.get(); }
  const std::uint32_t* fixedDist() const { return fixedDist_.get(); }
  // Implode's literal (0), length (1) and distance (2) tables, allocated on first use.
  std::uint32_t* implodeTable(int i);

  void RefillSlow();
  // Reads the next piece of input behind the bytes still buffered. False at the end of data.
  bool FillInput();

  DecodeInput* input_ = nullptr;
  DecodeOutput* output_ = nullptr;
  std::unique_ptr<std::uint8_t[]> inBuf_;
  const std::uint8_t* inPos_ = nullptr;
  const std::uint8_t* inEnd_ = nullptr;
  bool inEnded_ = false;
  std::uint64_t bitBuf_ = 0;
  unsigned bitCount_ = 0;
  unsigned padBits_ = 0;

  std::unique_ptr<std::uint8_t[]> win_;
  std::size_t outPos_ = kHistoryBytes;
  std::uint64_t flushed_ = 0;

  std::unique_ptr<std::uint32_t[]> litLen_, dist_, codeLen_, fixedLitLen_, fixedDist_;
  std::unique_ptr<std::uint32_t[]> implode_[3];
};

}  // namespace zip
