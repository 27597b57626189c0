// The compressor's state: the arrays kept for a whole archive run and the per-entry matching,
// tally, tree and bit-output state. Internal to the zip codec; deflate_match.cpp explains the
// matching and deflate_trees.cpp the blocks.
//
// Arrays held for the run (allocated on the first entry):
//   window   64 KB: two 32 KB halves of input; the lower half is history, the upper half is
//            filled ahead. A zeroed margin behind it lets the match loop read a full 258 bytes
//            past any position (bytes past the input's end never extend a match beyond the
//            lookahead: lengths are clipped to it).
//   prev     32 K links: prev[p & 0x7FFF] is the previous position with the same hash as p
//   head     32 K chain heads, one per 15-bit hash value; 0 means empty
//   symbols  32 K tallied symbols: a literal byte or (length - 3), with distance (0 = literal)
//
// Invariants while an entry is compressed:
//   strstart + lookahead <= 65536 (the window's end);
//   strstart <= 65274 whenever a match is searched, unless the input has ended;
//   every chain from head[] visits strictly decreasing positions, all inserted strings;
//   blockStart <= strstart; blockStart < 0 once the block's first bytes slid out of the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/deflate.h"
#include "zip/deflate_level_table.h"

namespace zip {

// Matching constants.
inline constexpr unsigned kMinMatch = 3;                              // bytes
inline constexpr unsigned kMaxMatch = 258;                            // bytes
inline constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262 bytes
inline constexpr unsigned kWindowHalf = 32768;                        // bytes
inline constexpr unsigned kWindowMask = kWindowHalf - 1;
inline constexpr unsigned kWindowSize = 2 * kWindowHalf;           // 65,536 bytes
inline constexpr unsigned kMaxDist = kWindowHalf - kMinLookahead;  // 32,506 bytes
inline constexpr unsigned kTooFar = 4096;  // a length-3 match farther back is not worth it
inline constexpr unsigned kWindowMargin = kMaxMatch + 16;  // zeroed bytes behind the window
inline constexpr unsigned kHashBits = 15;
inline constexpr unsigned kHashSize = 1u << kHashBits;
inline constexpr unsigned kHashMask = kHashSize - 1;
inline constexpr unsigned kHashShift = 5;  // three shifts push a byte out of the 15-bit hash
inline constexpr unsigned kNil = 0;        // empty chain (position 0 is never a candidate)

// Tally limits.
inline constexpr unsigned kLitBufSize = 32768;    // symbols per block at most (minus one)
inline constexpr unsigned kDistBufSize = 32768;   // matches per block at most
inline constexpr unsigned kEstimateEvery = 4096;  // symbols between block-size estimates
inline constexpr int kEstimateMinLevel = 3;

// Code alphabet sizes (RFC 1951).
inline constexpr int kLiterals = 256;
inline constexpr int kLengthCodes = 29;
inline constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDCodes = 30;
inline constexpr int kBlCodes = 19;
inline constexpr int kHeapSize = 2 * kLCodes + 1;  // 573: leaves and inner nodes
inline constexpr int kMaxBits = 15;                // longest literal/length or distance code
inline constexpr int kMaxBlBits = 7;               // longest code-length code
inline constexpr int kEndBlock = 256;

// Code tables shared by all compressors (deflate_trees.cpp): the length code (0-28) of each
// match length - 3, and the distance code of each distance - 1 below 256 at [d], from 256 on at
// [256 + (d >> 7)].
const std::uint8_t* DeflateLengthCodes();
const std::uint8_t* DeflateDistCodes();

// One Huffman tree under construction. Arrays hold kHeapSize nodes: leaves first, then inner
// nodes as they are made.
struct DeflateTree {
  std::uint16_t freq[kHeapSize];
  std::uint16_t dad[kHeapSize];
  std::uint16_t len[kHeapSize + 1];  // one guard entry for the run-length scan
  std::uint16_t code[kHeapSize];
};

// What build differs by between the three trees.
struct DeflateTreeShape {
  const std::uint8_t* staticLen;  // fixed-code lengths, or null (code-length tree)
  const std::uint8_t* extraBits;  // extra bits per code from extraBase on
  int extraBase;
  int elems;
  int maxLength;
};

class DeflateState {
 public:
  DeflateState();
  DeflateEntryInfo Compress(int level, DeflateInput& input, DeflateOutput& output);

 private:
  // --- matching (deflate_match.cpp) ---
  void StartEntry();
  void FillWindow();
  void InsertString(unsigned pos) {
    insH_ = ((insH_ << kHashShift) ^ window_[pos + kMinMatch - 1]) & kHashMask;
    hashHead_ = head_[insH_];
    prev_[pos & kWindowMask] = static_cast<std::uint16_t>(hashHead_);
    head_[insH_] = static_cast<std::uint16_t>(pos);
  }
  unsigned LongestMatch(unsigned candidate);
  void DeflateFast();
  void DeflateLazy();
  // Records a literal (dist 0) or a match (dist >= 1, lc = length - 3). True when the block
  // should end here.
  bool Tally(unsigned dist, unsigned lc);

  // --- blocks and bits (deflate_trees.cpp) ---
  void FlushBlock(bool last);
  void InitBlock();
  void SetFileType();
  void BuildTree(DeflateTree& tree, const DeflateTreeShape& shape, int* maxCode);
  void PqDownHeap(const DeflateTree& tree, int k);
  void GenBitLen(DeflateTree& tree, const DeflateTreeShape& shape, int maxCode);
  void GenCodes(DeflateTree& tree, int maxCode);
  void ScanTree(DeflateTree& tree, int maxCode);
  void SendTree(const DeflateTree& tree, int maxCode);
  int BuildBlTree();
  void SendAllTrees(int lcodes, int dcodes, int blcodes);
  void CompressBlock(const std::uint16_t* lcode, const std::uint16_t* llen,
                     const std::uint16_t* dcode, const std::uint16_t* dlen);
  void SendBits(std::uint32_t value, unsigned bits) {
    bitBuf_ |= static_cast<std::uint64_t>(value) << bitCount_;
    bitCount_ += bits;
    if (bitCount_ >= 32) DrainBits();
  }
  void DrainBits();
  void WindupBits();  // flushes partial bits to a byte boundary
  void FlushOutput();
  void CopyBlock(const std::uint8_t* buf, unsigned len, bool header);

  const std::uint8_t* const lengthCode_ = DeflateLengthCodes();
  const std::uint8_t* const distCode_ = DeflateDistCodes();

  // --- run arrays ---
  std::unique_ptr<std::uint8_t[]> window_;
  std::unique_ptr<std::uint16_t[]> prev_;
  std::unique_ptr<std::uint16_t[]> head_;
  std::unique_ptr<std::uint8_t[]> symLc_;     // literal or length - 3
  std::unique_ptr<std::uint16_t[]> symDist_;  // distance, 0 for a literal

  // --- per entry ---
  DeflateInput* input_ = nullptr;
  DeflateOutput* output_ = nullptr;
  DeflateLevel cfg_{};
  int level_ = 6;
  unsigned strstart_ = 0;
  unsigned lookahead_ = 0;
  long blockStart_ = 0;
  unsigned matchStart_ = 0;
  unsigned prevLength_ = 0;
  unsigned insH_ = 0;
  unsigned hashHead_ = kNil;
  bool eofile_ = false;
  std::uint64_t bytesIn_ = 0;

  unsigned lastLit_ = 0;
  unsigned lastDist_ = 0;
  bool fileTypeDecided_ = false;
  std::uint16_t fileType_ = 1;
  bool storedWhole_ = false;

  DeflateTree ltree_{}, dtree_{}, bltree_{};
  int heap_[kHeapSize] = {};
  int heapLen_ = 0;
  int heapMax_ = 0;
  std::uint8_t depth_[kHeapSize] = {};
  std::uint16_t blCount_[kMaxBits + 1] = {};
  unsigned long optLen_ = 0;
  unsigned long staticLen_ = 0;
  int lMaxCode_ = 0, dMaxCode_ = 0;

  std::uint64_t bitBuf_ = 0;
  unsigned bitCount_ = 0;
  std::uint8_t outBuf_[kDeflateOutputPiece + 8] = {};
  std::size_t outLen_ = 0;
  std::uint64_t bytesOut_ = 0;
};

}  // namespace zip
