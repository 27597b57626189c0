// Inflate (RFC 1951) and the entry decoder's front door: method dispatch, stored entries and the
// one-shot buffer helpers.
//
// A deflate stream is a sequence of blocks, each opening with a 3-bit header (first bit: last
// block; next two: type 0 stored, 1 fixed codes, 2 dynamic codes, 3 invalid).
//   stored   byte-align, LEN (16 bits), NLEN (16 bits, ~LEN), then LEN raw bytes.
//   fixed    codes of RFC 1951 3.2.6 (tables built once per decoder).
//   dynamic  HLIT-257 (5 bits), HDIST-1 (5), HCLEN-4 (4); HCLEN 3-bit lengths of the code-length
//            code in the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1 15; then HLIT + HDIST
//            code lengths in that code, where 16 repeats the previous length 3-6 times (2 extra
//            bits), 17 repeats zero 3-10 times (3), 18 repeats zero 11-138 times (7).
// Worked example: "a" as one fixed block is the three bytes 4B 04 00. Taking bits from the low
// end of each byte: 1 (last block), 1 0 (type 1, fixed), then the literal's 8-bit code sent most
// significant bit first, 1 0 0 1 0 | 0 0 1 = 0x91 = 0x30 + 'a' (literals 0-143 have codes
// 0x30-0xBF), then end of block, seven 0 bits, and zero padding to the byte boundary.
//
// Checks on stored data, each ending the entry with kBadData: block type 3; LEN != ~NLEN; more
// than 286 literal/length or 30 distance codes; a repeat with no previous length or running past
// HLIT + HDIST; an over-subscribed code, or an incomplete one other than a single code of length
// 1 (an all-zero distance code is allowed: the block then has literals only); a code the table
// does not hold (including reserved symbols 286, 287 and distances 30, 31); a distance before
// the first decoded byte; and data that ends inside the stream.
#include "zip/inflate.h"

#include <algorithm>
#include <array>

#include "zip/inflate_state.h"

namespace zip {
namespace {

using huffman::BuildResult;
using huffman::EntryBits;
using huffman::EntryExtra;
using huffman::EntryKind;
using huffman::EntryValue;

constexpr unsigned kBlockStored = 0;
constexpr unsigned kBlockFixed = 1;
constexpr unsigned kBlockDynamic = 2;

constexpr unsigned kMaxLitLenCodes = 286;
constexpr unsigned kMaxDistCodes = 30;
constexpr unsigned kCodeLenCodes = 19;
constexpr std::array<std::uint8_t, kCodeLenCodes> kCodeLenOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
constexpr unsigned kRepeatPrevious = 16;   // previous length 3-6 times
constexpr unsigned kRepeatZeroShort = 17;  // zero 3-10 times
constexpr unsigned kRepeatZeroLong = 18;   // zero 11-138 times

constexpr std::uint32_t kKindMask = 0x7u << 5;  // the kind field of a table entry

bool Usable(BuildResult r) {
  return r == BuildResult::kComplete || r == BuildResult::kSingleShort || r == BuildResult::kEmpty;
}

// Reads a dynamic block's code description and builds its two tables. False on bad data.
bool ReadDynamicTables(DecoderState& s) {
  s.Refill();
  const unsigned nLit = s.Bits(5) + 257;
  const unsigned nDist = s.Bits(5) + 1;
  const unsigned nCodeLen = s.Bits(4) + 4;
  if (nLit > kMaxLitLenCodes || nDist > kMaxDistCodes) return false;

  std::array<std::uint8_t, kCodeLenCodes> clLens{};
  for (unsigned i = 0; i < nCodeLen; ++i)
    clLens[kCodeLenOrder[i]] = static_cast<std::uint8_t>(s.NeedBits(3));
  const BuildResult clResult =
      huffman::BuildTable(clLens.data(), kCodeLenCodes, huffman::PlainSymbols(), kCodeLenBits,
                          s.codeLen(), kCodeLenCapacity);
  if (clResult != BuildResult::kComplete && clResult != BuildResult::kSingleShort) return false;

  std::array<std::uint8_t, kMaxLitLenCodes + kMaxDistCodes> lens{};
  const unsigned total = nLit + nDist;
  unsigned i = 0;
  while (i < total) {
    s.Refill();
    const std::uint32_t e = s.Decode(s.codeLen(), kCodeLenBits);
    if (EntryKind(e) != huffman::kLiteral) return false;
    const unsigned sym = EntryValue(e);
    if (sym < kRepeatPrevious) {
      lens[i++] = static_cast<std::uint8_t>(sym);
      continue;
    }
    std::uint8_t value = 0;
    unsigned repeat = 0;
    if (sym == kRepeatPrevious) {
      if (i == 0) return false;
      value = lens[i - 1];
      repeat = 3 + s.Bits(2);
    } else if (sym == kRepeatZeroShort) {
      repeat = 3 + s.Bits(3);
    } else {  // kRepeatZeroLong
      static_assert(kRepeatZeroLong == kRepeatZeroShort + 1);
      repeat = 11 + s.Bits(7);
    }
    if (i + repeat > total) return false;
    std::fill_n(lens.begin() + i, repeat, value);
    i += repeat;
  }
  if (s.Overrun()) return false;
  if (!Usable(huffman::BuildTable(lens.data(), nLit, LitLenSymbols(), kLitLenBits, s.litLen(),
                                  kLitLenCapacity)) ||
      !Usable(huffman::BuildTable(lens.data() + nLit, nDist, DistSymbols(), kDistBits, s.dist(),
                                  kDistCapacity))) {
    return false;
  }
  return true;
}

// Decodes one block's codes until end of block. False on bad data.
//
// The loop keeps the bit reader and output position in locals (see inflate_state.h) and stores
// them back around every call into the state. After each Refill at least 56 bits are held, enough
// for the longest length/distance pair (15 + 5 + 15 + 13 = 48 bits).
bool InflateCodes(DecoderState& s, const std::uint32_t* lit, const std::uint32_t* dist) {
  std::uint64_t buf = s.bitBuf_;
  unsigned cnt = s.bitCount_;
  const std::uint8_t* in = s.inPos_;
  const std::uint8_t* inEnd = s.inEnd_;
  std::uint8_t* const w = s.win_.get();
  std::size_t op = s.outPos_;
  const auto store = [&] {
    s.bitBuf_ = buf;
    s.bitCount_ = cnt;
    s.inPos_ = in;
    s.outPos_ = op;
  };
  const auto load = [&] {
    buf = s.bitBuf_;
    cnt = s.bitCount_;
    in = s.inPos_;
    inEnd = s.inEnd_;
    op = s.outPos_;
  };
  constexpr std::uint64_t kLitMask = (1u << kLitLenBits) - 1;
  constexpr std::uint64_t kDistMask = (1u << kDistBits) - 1;

  for (;;) {
    if (inEnd - in >= 8) {
      std::uint64_t v;
      std::memcpy(&v, in, sizeof v);
      buf |= v << cnt;
      in += (63 - cnt) >> 3;
      cnt |= kRefillBits;
    } else {
      store();
      s.RefillSlow();
      load();
    }
    std::uint32_t e = lit[buf & kLitMask];
    if (EntryKind(e) == huffman::kLink) {
      buf >>= kLitLenBits;
      cnt -= kLitLenBits;
      e = lit[EntryValue(e) + (buf & ((1u << EntryExtra(e)) - 1))];
    }
    buf >>= EntryBits(e);
    cnt -= EntryBits(e);
    if ((e & kKindMask) == 0) {  // literal
      w[op++] = static_cast<std::uint8_t>(EntryValue(e));
      // A second literal often fits in the bits already held.
      if (cnt >= kLitLenBits && op < kFlushAt) {
        const std::uint32_t e2 = lit[buf & kLitMask];
        if ((e2 & kKindMask) == 0) {
          buf >>= EntryBits(e2);
          cnt -= EntryBits(e2);
          w[op++] = static_cast<std::uint8_t>(EntryValue(e2));
        }
      }
      if (op >= kFlushAt) {
        store();
        if (!s.FlushFull()) return false;
        load();
      }
      continue;
    }
    if (EntryKind(e) != huffman::kBase) {
      store();
      return EntryKind(e) == huffman::kEndBlock;
    }
    const unsigned extraLen = EntryExtra(e);
    const std::size_t len = EntryValue(e) + (buf & ((1u << extraLen) - 1));
    buf >>= extraLen;
    cnt -= extraLen;

    e = dist[buf & kDistMask];
    if (EntryKind(e) == huffman::kLink) {
      buf >>= kDistBits;
      cnt -= kDistBits;
      e = dist[EntryValue(e) + (buf & ((1u << EntryExtra(e)) - 1))];
    }
    buf >>= EntryBits(e);
    cnt -= EntryBits(e);
    if (EntryKind(e) != huffman::kBase) return false;
    const unsigned extraDist = EntryExtra(e);
    const std::size_t d = EntryValue(e) + (buf & ((1u << extraDist) - 1));
    buf >>= extraDist;
    cnt -= extraDist;
    if (d > s.flushed_ + (op - kHistoryBytes)) return false;  // before the first byte

    std::uint8_t* dst = w + op;
    const std::uint8_t* src = dst - d;
    if (d >= 8) {
      std::uint8_t* const end = dst + len;
      do {
        std::memcpy(dst, src, 8);
        dst += 8;
        src += 8;
      } while (dst < end);
    } else if (d == 1) {
      std::memset(dst, *src, len);
    } else {
      for (std::size_t k = 0; k < len; ++k) dst[k] = src[k];
    }
    op += len;
    if (op >= kFlushAt) {
      store();
      if (!s.FlushFull()) return false;
      load();
    }
  }
}

}  // namespace

bool IsSupportedMethod(std::uint16_t method) {
  return method == CodecMethod::kStored || method == CodecMethod::kDeflated ||
         (method >= CodecMethod::kShrunk && method <= CodecMethod::kImploded);
}

EntryDecoder::EntryDecoder() : state_(std::make_unique<DecoderState>()) {}
EntryDecoder::~EntryDecoder() = default;

DecodeStatus EntryDecoder::Decode(const DecodeParams& params, DecodeInput& input,
                                  DecodeOutput& output) {
  switch (params.method) {
    case CodecMethod::kStored:
      return Store(input, output);
    case CodecMethod::kShrunk:
      return Unshrink(input, output);
    case CodecMethod::kImploded:
      return Explode(params.flagBits, params.uncompressedSize, input, output);
    case CodecMethod::kDeflated:
      return Inflate(input, output);
    default:
      if (params.method >= CodecMethod::kReduced1 && params.method <= CodecMethod::kReduced4) {
        return Unreduce(params.method - 1, params.uncompressedSize, input, output);
      }
      return DecodeStatus::kUnsupportedMethod;
  }
}

DecodeStatus EntryDecoder::Inflate(DecodeInput& input, DecodeOutput& output) {
  DecoderState& s = *state_;
  s.Begin(input, output);
  bool last = false;
  do {
    s.Refill();
    if (s.Overrun()) return DecodeStatus::kBadData;
    last = s.Bits(1) != 0;
    const unsigned type = s.Bits(2);
    bool ok = false;
    if (type == kBlockStored) {
      s.AlignToByte();
      s.Refill();
      const std::uint32_t len = s.Bits(16);
      const std::uint32_t nlen = s.Bits(16);
      ok = len == (~nlen & 0xFFFFu) && !s.Overrun() && s.CopyRawBytes(len);
    } else if (type == kBlockFixed) {
      ok = InflateCodes(s, s.fixedLitLen(), s.fixedDist());
    } else if (type == kBlockDynamic) {
      ok = ReadDynamicTables(s) && InflateCodes(s, s.litLen(), s.dist());
    }
    if (!ok) return DecodeStatus::kBadData;
  } while (!last);
  if (s.Overrun()) return DecodeStatus::kBadData;
  s.FlushRest();
  return DecodeStatus::kOk;
}

DecodeStatus EntryDecoder::Store(DecodeInput& input, DecodeOutput& output) {
  DecoderState& s = *state_;
  s.Begin(input, output);
  for (;;) {
    const std::size_t got =
        std::min(input.Read(s.win_.get() + kHistoryBytes, kHistoryBytes), kHistoryBytes);
    if (got == 0) return DecodeStatus::kOk;
    output.Write(s.win_.get() + kHistoryBytes, got);
  }
}

namespace {

class MemoryInput : public DecodeInput {
 public:
  MemoryInput(const std::uint8_t* data, std::size_t n) : p_(data), left_(n) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    n = std::min(n, left_);
    if (n != 0) std::memcpy(buf, p_, n);
    p_ += n;
    left_ -= n;
    return n;
  }

 private:
  const std::uint8_t* p_;
  std::size_t left_;
};

struct OutputLimitReached {};

class VectorOutput : public DecodeOutput {
 public:
  VectorOutput(std::vector<std::uint8_t>* out, std::size_t limit) : out_(out), limit_(limit) {}
  void Write(const std::uint8_t* p, std::size_t n) override {
    if (n > limit_ - written_) throw OutputLimitReached{};
    written_ += n;
    out_->insert(out_->end(), p, p + n);
  }

 private:
  std::vector<std::uint8_t>* out_;
  std::size_t limit_;
  std::size_t written_ = 0;
};

}  // namespace

DecodeStatus DecodeBuffer(const DecodeParams& params, const std::uint8_t* data, std::size_t n,
                          std::vector<std::uint8_t>* out, std::size_t maxOutput) {
  MemoryInput input(data, n);
  VectorOutput output(out, maxOutput);
  EntryDecoder decoder;
  try {
    return decoder.Decode(params, input, output);
  } catch (const OutputLimitReached&) {
    return DecodeStatus::kBadData;
  }
}

DecodeStatus InflateBuffer(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>* out,
                           std::size_t maxOutput) {
  DecodeParams params;
  params.method = CodecMethod::kDeflated;
  return DecodeBuffer(params, data, n, out, maxOutput);
}

}  // namespace zip
