// Deflate's match finder: hash chains with fast or lazy search (the LZ77 half of RFC 1951).
//
// Strings of three bytes are hashed into 15 bits, h = ((h << 5) ^ byte) & 0x7FFF, rolling one
// byte per position. head[h] is the most recent position with hash h and prev[p & 0x7FFF] the
// one before p, so each hash value has a chain of earlier positions, newest first. A search walks
// the chain from the current position's head, at most "max chain" candidates and never farther
// back than 32,506 bytes, and keeps the first longest match (up to 258 bytes).
//
// Fast search (levels 1-3) takes the match found at each position; its positions are inserted
// into the chains only when it is at most "max lazy" long, otherwise the hash restarts after it.
// Lazy search (levels 4-9) holds each match back one position: if the next position starts a
// longer match, the held one is dropped for a literal; otherwise it is emitted and its positions
// are inserted. A length-3 match more than 4,096 bytes back is not worth a distance code and is
// discarded.
//
// The window holds 64 KB; when the current position reaches 65,274 the upper half moves down,
// and positions in head[] and prev[] drop by 32 KB (those that would fall below 0 become empty).
//
// Every symbol is tallied into the block's symbol buffer and frequency counts; a block ends when
// the buffer is full or, from level 3, when an estimate every 4,096 symbols says the block is
// already compressing well (fewer than half matches but under half the input size).
#include <bit>
#include <cstring>

#include "zip/deflate_state.h"

namespace zip {

// Multi-byte loads below assume the first byte in memory is the least significant.
static_assert(std::endian::native == std::endian::little, "little-endian host required");
namespace {

// Extra bits of each distance code, for the block-end estimate.
constexpr std::uint8_t kExtraDistBits[kDCodes] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                  4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                  9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Bytes in common at a and b, at most kMaxMatch - 2 (the callers have compared two already).
inline unsigned CommonTail(const std::uint8_t* a, const std::uint8_t* b) {
  constexpr unsigned kLimit = kMaxMatch - 2;  // 256: a multiple of 8
  for (unsigned i = 0; i < kLimit; i += 8) {
    const std::uint64_t x = Load64(a + i) ^ Load64(b + i);
    if (x != 0) return i + static_cast<unsigned>(__builtin_ctzll(x)) / 8;  // little-endian
  }
  return kLimit;
}

}  // namespace

void DeflateState::StartEntry() {
  std::memset(head_.get(), 0, kHashSize * sizeof(std::uint16_t));
  strstart_ = 0;
  blockStart_ = 0;
  matchStart_ = 0;
  prevLength_ = kMinMatch - 1;
  hashHead_ = kNil;
  insH_ = 0;
  eofile_ = false;
  bytesIn_ = 0;
  const std::size_t got = input_->Read(window_.get(), kWindowHalf);
  lookahead_ = static_cast<unsigned>(got > kWindowHalf ? kWindowHalf : got);
  bytesIn_ += lookahead_;
  if (lookahead_ == 0) {
    eofile_ = true;
    return;
  }
  while (lookahead_ < kMinLookahead && !eofile_) FillWindow();
  insH_ = 0;
  for (unsigned j = 0; j < kMinMatch - 1; ++j) {
    insH_ = ((insH_ << kHashShift) ^ window_[j]) & kHashMask;
  }
}

void DeflateState::FillWindow() {
  unsigned more = kWindowSize - lookahead_ - strstart_;
  if (strstart_ >= kWindowHalf + kMaxDist) {
    std::memcpy(window_.get(), window_.get() + kWindowHalf, kWindowHalf);
    matchStart_ -= kWindowHalf;  // may wrap; only used for a match found since the slide
    strstart_ -= kWindowHalf;
    blockStart_ -= static_cast<long>(kWindowHalf);
    std::uint16_t* const h = head_.get();
    for (unsigned n = 0; n < kHashSize; ++n) {
      h[n] = static_cast<std::uint16_t>(h[n] >= kWindowHalf ? h[n] - kWindowHalf : kNil);
    }
    std::uint16_t* const p = prev_.get();
    for (unsigned n = 0; n < kWindowHalf; ++n) {
      p[n] = static_cast<std::uint16_t>(p[n] >= kWindowHalf ? p[n] - kWindowHalf : kNil);
    }
    more += kWindowHalf;
  }
  if (!eofile_) {
    std::size_t got = input_->Read(window_.get() + strstart_ + lookahead_, more);
    if (got > more) got = more;
    if (got == 0) {
      eofile_ = true;
    } else {
      lookahead_ += static_cast<unsigned>(got);
      bytesIn_ += got;
    }
  }
}

unsigned DeflateState::LongestMatch(unsigned candidate) {
  unsigned chain = cfg_.maxChain;
  const std::uint8_t* const win = window_.get();
  const std::uint8_t* const scan = win + strstart_;
  unsigned bestLen = prevLength_;
  const unsigned nice = cfg_.niceLength;
  const unsigned limit = strstart_ > kMaxDist ? strstart_ - kMaxDist : kNil;
  if (prevLength_ >= cfg_.goodLength) chain >>= 2;
  const std::uint16_t scanStart = Load16(scan);
  std::uint16_t scanEnd = Load16(scan + bestLen - 1);
  const std::uint16_t* const prev = prev_.get();
  do {
    const std::uint8_t* const match = win + candidate;
    // Only a candidate that agrees where the best match would grow, and at its start, can win.
    if (Load16(match + bestLen - 1) != scanEnd || Load16(match) != scanStart) continue;
    const unsigned len = 2 + CommonTail(scan + 2, match + 2);
    if (len > bestLen) {
      matchStart_ = candidate;
      bestLen = len;
      if (len >= nice) break;
      scanEnd = Load16(scan + bestLen - 1);
    }
  } while ((candidate = prev[candidate & kWindowMask]) > limit && --chain != 0);
  return bestLen <= lookahead_ ? bestLen : lookahead_;
}

bool DeflateState::Tally(unsigned dist, unsigned lc) {
  symLc_[lastLit_] = static_cast<std::uint8_t>(lc);
  symDist_[lastLit_] = static_cast<std::uint16_t>(dist);
  ++lastLit_;
  if (dist == 0) {
    ++ltree_.freq[lc];
  } else {
    --dist;
    ++ltree_.freq[lengthCode_[lc] + kLiterals + 1];
    ++dtree_.freq[dist < 256 ? distCode_[dist] : distCode_[256 + (dist >> 7)]];
    ++lastDist_;
  }
  if (level_ >= kEstimateMinLevel && (lastLit_ & (kEstimateEvery - 1)) == 0) {
    unsigned long outLength = static_cast<unsigned long>(lastLit_) * 8;
    const unsigned long inLength = static_cast<unsigned long>(strstart_ - blockStart_);
    for (int d = 0; d < kDCodes; ++d) {
      outLength += static_cast<unsigned long>(dtree_.freq[d]) * (5 + kExtraDistBits[d]);
    }
    outLength >>= 3;
    if (lastDist_ < lastLit_ / 2 && outLength < inLength / 2) return true;
  }
  return lastLit_ == kLitBufSize - 1 || lastDist_ == kDistBufSize;
}

void DeflateState::DeflateFast() {
  unsigned matchLength = 0;
  prevLength_ = kMinMatch - 1;
  while (lookahead_ != 0) {
    if (lookahead_ >= kMinMatch) InsertString(strstart_);
    if (hashHead_ != kNil && strstart_ - hashHead_ <= kMaxDist) {
      matchLength = LongestMatch(hashHead_);
    }
    bool flush;
    if (matchLength >= kMinMatch) {
      flush = Tally(strstart_ - matchStart_, matchLength - kMinMatch);
      lookahead_ -= matchLength;
      if (matchLength <= cfg_.maxLazy) {
        --matchLength;
        do {
          ++strstart_;
          InsertString(strstart_);
        } while (--matchLength != 0);
        ++strstart_;
      } else {
        strstart_ += matchLength;
        matchLength = 0;
        insH_ = window_[strstart_];
        insH_ = ((insH_ << kHashShift) ^ window_[strstart_ + 1]) & kHashMask;
      }
    } else {
      flush = Tally(0, window_[strstart_]);
      --lookahead_;
      ++strstart_;
    }
    if (flush) {
      FlushBlock(false);
      blockStart_ = strstart_;
    }
    while (lookahead_ < kMinLookahead && !eofile_) FillWindow();
  }
  FlushBlock(true);
}

void DeflateState::DeflateLazy() {
  unsigned matchLength = kMinMatch - 1;
  bool matchAvailable = false;
  while (lookahead_ != 0) {
    if (lookahead_ >= kMinMatch) InsertString(strstart_);
    prevLength_ = matchLength;
    const unsigned prevMatch = matchStart_;
    matchLength = kMinMatch - 1;
    if (hashHead_ != kNil && prevLength_ < cfg_.maxLazy && strstart_ - hashHead_ <= kMaxDist) {
      matchLength = LongestMatch(hashHead_);
      if (matchLength == kMinMatch && strstart_ - matchStart_ > kTooFar) --matchLength;
    }
    if (prevLength_ >= kMinMatch && matchLength <= prevLength_) {
      const bool flush = Tally(strstart_ - 1 - prevMatch, prevLength_ - kMinMatch);
      // Insert the rest of the held match (its first position is already in).
      lookahead_ -= prevLength_ - 1;
      unsigned left = prevLength_ - 2;
      do {
        ++strstart_;
        InsertString(strstart_);
      } while (--left != 0);
      matchAvailable = false;
      matchLength = kMinMatch - 1;
      ++strstart_;
      if (flush) {
        FlushBlock(false);
        blockStart_ = strstart_;
      }
    } else if (matchAvailable) {
      if (Tally(0, window_[strstart_ - 1])) {
        FlushBlock(false);
        blockStart_ = strstart_;
      }
      ++strstart_;
      --lookahead_;
    } else {
      matchAvailable = true;
      ++strstart_;
      --lookahead_;
    }
    while (lookahead_ < kMinLookahead && !eofile_) FillWindow();
  }
  if (matchAvailable) Tally(0, window_[strstart_ - 1]);
  FlushBlock(true);
}

}  // namespace zip
