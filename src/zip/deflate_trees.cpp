// Deflate's block output: Huffman trees, the choice between stored, fixed and dynamic blocks, and
// bit packing (the entropy-coding half of RFC 1951).
//
// Trees. For each block the literal/length and distance frequencies become code lengths by the
// classic construction: a heap ordered by frequency (ties broken by subtree depth, so that flat
// trees win) repeatedly merges its two smallest nodes. Lengths above 15 (7 for the code-length
// tree) are brought back by moving leaves down: each overflowing leaf takes the place of a leaf
// one level above the limit, whose slot splits in two; lengths are then handed out again from the
// longest to the shortest in heap order. Codes are assigned canonically (RFC 1951, 3.2.2). Every
// tree has at least two codes: when fewer symbols occur, codes 0 and 1 (or the missing one) are
// added with frequency 1. The two trees' lengths are run-length coded (RFC 1951 codes 16, 17,
// 18) with the code-length tree; the number of code-length codes sent is the last non-zero one in
// the transmission order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1 15, at least 4.
//
// Block choice, for a block of n input bytes whose dynamic size is D and fixed size F (each the
// bits of data plus tree description plus the 3 header bits, rounded up to bytes; C = min(D, F),
// fixed preferred on a tie):
//   - last block, nothing output yet, all its bytes still in the window, n <= C: the entry is
//     stored whole: the raw bytes are the whole output and the method becomes 0;
//   - n + 4 <= C and the bytes are still in the window: a stored block (header, alignment, LEN,
//     ~LEN, bytes);
//   - otherwise the fixed-code block when F == C, else the dynamic one.
// The first block decides the file type: binary when the bytes 0-6 and 128-255 occur more than a
// quarter as often as the bytes 7-127.
//
// Bits are packed from the low end of a 64-bit buffer and leave it four bytes at a time, first
// byte lowest (the same byte stream as packing 16 bits at a time). Bytes gather in a 1 KB output
// buffer that goes to the output routine whenever it fills; the raw bytes of stored blocks skip
// that buffer after it has been flushed.
#include <algorithm>
#include <array>
#include <cstring>

#include "zip/deflate_state.h"

namespace zip {
namespace {

constexpr int kRep3To6 = 16;      // repeat previous length 3-6 times, 2 extra bits
constexpr int kRepz3To10 = 17;    // repeat zero 3-10 times, 3 extra bits
constexpr int kRepz11To138 = 18;  // repeat zero 11-138 times, 7 extra bits
constexpr int kSmallest = 1;      // heap index of the least frequent node

constexpr std::uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kExtraBlBits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kBlOrder[kBlCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

std::uint16_t ReverseBits(unsigned code, int len) {
  unsigned res = 0;
  do {
    res |= code & 1u;
    code >>= 1;
    res <<= 1;
  } while (--len > 0);
  return static_cast<std::uint16_t>(res >> 1);
}

// Code tables computed once: length and distance codes with their bases, and the fixed codes.
struct StaticTables {
  std::uint8_t lengthCode[256];  // match length - 3 -> length code 0-28
  std::uint8_t distCode[512];    // distance - 1 -> code: [0..255] direct, [256 + (d >> 7)]
  int baseLength[kLengthCodes];
  int baseDist[kDCodes];
  std::uint16_t ltreeCode[kLCodes + 2];
  std::uint8_t ltreeLen[kLCodes + 2];
  std::uint16_t dtreeCode[kDCodes];
  std::uint8_t dtreeLen[kDCodes];

  StaticTables() {
    int length = 0;
    for (int code = 0; code < kLengthCodes - 1; ++code) {
      baseLength[code] = length;
      for (int n = 0; n < (1 << kExtraLBits[code]); ++n)
        lengthCode[length++] = static_cast<std::uint8_t>(code);
    }
    // Length 258 (lc 255) has its own code 28 rather than code 27 with all extra bits set.
    lengthCode[length - 1] = static_cast<std::uint8_t>(kLengthCodes - 1);
    baseLength[kLengthCodes - 1] = 255;
    int dist = 0;
    for (int code = 0; code < 16; ++code) {
      baseDist[code] = dist;
      for (int n = 0; n < (1 << kExtraDBits[code]); ++n)
        distCode[dist++] = static_cast<std::uint8_t>(code);
    }
    dist >>= 7;
    for (int code = 16; code < kDCodes; ++code) {
      baseDist[code] = dist << 7;
      for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n) {
        distCode[256 + dist++] = static_cast<std::uint8_t>(code);
      }
    }
    // Fixed literal/length code: 8 bits for 0-143, 9 for 144-255, 7 for 256-279, 8 for 280-287.
    std::uint16_t blCount[kMaxBits + 1] = {};
    for (int n = 0; n < kLCodes + 2; ++n) {
      ltreeLen[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
      ++blCount[ltreeLen[n]];
    }
    std::uint16_t next[kMaxBits + 1] = {};
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
      code = (code + blCount[bits - 1]) << 1;
      next[bits] = static_cast<std::uint16_t>(code);
    }
    for (int n = 0; n < kLCodes + 2; ++n)
      ltreeCode[n] = ReverseBits(next[ltreeLen[n]]++, ltreeLen[n]);
    for (int n = 0; n < kDCodes; ++n) {
      dtreeLen[n] = 5;
      dtreeCode[n] = ReverseBits(static_cast<unsigned>(n), 5);
    }
  }
};

const StaticTables& Static() {
  static const StaticTables t;
  return t;
}

}  // namespace

const std::uint8_t* DeflateLengthCodes() {
  return Static().lengthCode;
}
const std::uint8_t* DeflateDistCodes() {
  return Static().distCode;
}

void DeflateState::InitBlock() {
  std::fill(std::begin(ltree_.freq), std::begin(ltree_.freq) + kLCodes, std::uint16_t{0});
  std::fill(std::begin(dtree_.freq), std::begin(dtree_.freq) + kDCodes, std::uint16_t{0});
  std::fill(std::begin(bltree_.freq), std::begin(bltree_.freq) + kBlCodes, std::uint16_t{0});
  ltree_.freq[kEndBlock] = 1;
  optLen_ = staticLen_ = 0;
  lastLit_ = lastDist_ = 0;
}

void DeflateState::SetFileType() {
  unsigned long binFreq = 0, asciiFreq = 0;
  int n = 0;
  while (n < 7) binFreq += ltree_.freq[n++];
  while (n < 128) asciiFreq += ltree_.freq[n++];
  while (n < kLiterals) binFreq += ltree_.freq[n++];
  fileType_ = binFreq > (asciiFreq >> 2) ? CodecAttr::kBinary : CodecAttr::kText;
  fileTypeDecided_ = true;
}

// Heap order: less frequent first, then shallower subtree.
static inline bool Smaller(const DeflateTree& tree, int n, int m, const std::uint8_t* depth) {
  return tree.freq[n] < tree.freq[m] || (tree.freq[n] == tree.freq[m] && depth[n] <= depth[m]);
}

void DeflateState::PqDownHeap(const DeflateTree& tree, int k) {
  const int v = heap_[k];
  int j = k << 1;
  while (j <= heapLen_) {
    if (j < heapLen_ && Smaller(tree, heap_[j + 1], heap_[j], depth_)) ++j;
    if (Smaller(tree, v, heap_[j], depth_)) break;
    heap_[k] = heap_[j];
    k = j;
    j <<= 1;
  }
  heap_[k] = v;
}

void DeflateState::GenBitLen(DeflateTree& tree, const DeflateTreeShape& shape, int maxCode) {
  std::fill(std::begin(blCount_), std::end(blCount_), std::uint16_t{0});
  tree.len[heap_[heapMax_]] = 0;  // the root
  int overflow = 0;
  int h = heapMax_ + 1;
  for (; h < kHeapSize; ++h) {
    const int n = heap_[h];
    int bits = tree.len[tree.dad[n]] + 1;
    if (bits > shape.maxLength) {
      bits = shape.maxLength;
      ++overflow;
    }
    tree.len[n] = static_cast<std::uint16_t>(bits);
    if (n > maxCode) continue;  // inner node
    ++blCount_[bits];
    const int xbits = n >= shape.extraBase ? shape.extraBits[n - shape.extraBase] : 0;
    const unsigned long f = tree.freq[n];
    optLen_ += f * static_cast<unsigned long>(bits + xbits);
    if (shape.staticLen != nullptr)
      staticLen_ += f * static_cast<unsigned long>(shape.staticLen[n] + xbits);
  }
  if (overflow == 0) return;

  // Move leaves down: each step turns one leaf above the limit into an inner node with two
  // leaves, making room for two overflowing leaves at the limit.
  do {
    int bits = shape.maxLength - 1;
    while (blCount_[bits] == 0) --bits;
    --blCount_[bits];
    blCount_[bits + 1] = static_cast<std::uint16_t>(blCount_[bits + 1] + 2);
    --blCount_[shape.maxLength];
    overflow -= 2;
  } while (overflow > 0);
  // Hand the lengths out again, longest first, in heap order (least frequent first).
  h = kHeapSize;
  for (int bits = shape.maxLength; bits != 0; --bits) {
    int n = blCount_[bits];
    while (n != 0) {
      const int m = heap_[--h];
      if (m > maxCode) continue;
      if (tree.len[m] != bits) {
        optLen_ += (static_cast<unsigned long>(bits) - tree.len[m]) * tree.freq[m];
        tree.len[m] = static_cast<std::uint16_t>(bits);
      }
      --n;
    }
  }
}

void DeflateState::GenCodes(DeflateTree& tree, int maxCode) {
  std::uint16_t next[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + blCount_[bits - 1]) << 1;
    next[bits] = static_cast<std::uint16_t>(code);
  }
  for (int n = 0; n <= maxCode; ++n) {
    const int len = tree.len[n];
    if (len == 0) continue;
    tree.code[n] = ReverseBits(next[len]++, len);
  }
}

void DeflateState::BuildTree(DeflateTree& tree, const DeflateTreeShape& shape, int* maxCodeOut) {
  int maxCode = -1;
  heapLen_ = 0;
  heapMax_ = kHeapSize;
  for (int n = 0; n < shape.elems; ++n) {
    if (tree.freq[n] != 0) {
      heap_[++heapLen_] = maxCode = n;
      depth_[n] = 0;
    } else {
      tree.len[n] = 0;
    }
  }
  // At least two codes: add codes 0 and 1 as needed, with frequency 1.
  while (heapLen_ < 2) {
    const int node = heap_[++heapLen_] = (maxCode < 2 ? ++maxCode : 0);
    tree.freq[node] = 1;
    depth_[node] = 0;
    --optLen_;
    if (shape.staticLen != nullptr) staticLen_ -= shape.staticLen[node];
  }
  for (int n = heapLen_ / 2; n >= 1; --n) PqDownHeap(tree, n);

  int node = shape.elems;  // next inner node
  do {
    const int n = heap_[kSmallest];
    heap_[kSmallest] = heap_[heapLen_--];
    PqDownHeap(tree, kSmallest);
    const int m = heap_[kSmallest];
    heap_[--heapMax_] = n;
    heap_[--heapMax_] = m;
    tree.freq[node] = static_cast<std::uint16_t>(tree.freq[n] + tree.freq[m]);
    depth_[node] = static_cast<std::uint8_t>(std::max(depth_[n], depth_[m]) + 1);
    tree.dad[n] = tree.dad[m] = static_cast<std::uint16_t>(node);
    heap_[kSmallest] = node++;
    PqDownHeap(tree, kSmallest);
  } while (heapLen_ >= 2);
  heap_[--heapMax_] = heap_[kSmallest];

  GenBitLen(tree, shape, maxCode);
  GenCodes(tree, maxCode);
  *maxCodeOut = maxCode;
}

// Counts the code-length symbols that SendTree will emit for one tree.
void DeflateState::ScanTree(DeflateTree& tree, int maxCode) {
  int prevlen = -1;
  int nextlen = tree.len[0];
  int count = 0;
  int maxCount = 7, minCount = 4;
  if (nextlen == 0) maxCount = 138, minCount = 3;
  tree.len[maxCode + 1] = 0xFFFF;  // guard
  for (int n = 0; n <= maxCode; ++n) {
    const int curlen = nextlen;
    nextlen = tree.len[n + 1];
    if (++count < maxCount && curlen == nextlen) continue;
    if (count < minCount) {
      bltree_.freq[curlen] = static_cast<std::uint16_t>(bltree_.freq[curlen] + count);
    } else if (curlen != 0) {
      if (curlen != prevlen) ++bltree_.freq[curlen];
      ++bltree_.freq[kRep3To6];
    } else if (count <= 10) {
      ++bltree_.freq[kRepz3To10];
    } else {
      ++bltree_.freq[kRepz11To138];
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curlen == nextlen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

void DeflateState::SendTree(const DeflateTree& tree, int maxCode) {
  int prevlen = -1;
  int nextlen = tree.len[0];
  int count = 0;
  int maxCount = 7, minCount = 4;
  if (nextlen == 0) maxCount = 138, minCount = 3;
  for (int n = 0; n <= maxCode; ++n) {
    const int curlen = nextlen;
    nextlen = tree.len[n + 1];  // the guard written by ScanTree
    if (++count < maxCount && curlen == nextlen) continue;
    if (count < minCount) {
      do SendBits(bltree_.code[curlen], bltree_.len[curlen]);
      while (--count != 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        SendBits(bltree_.code[curlen], bltree_.len[curlen]);
        --count;
      }
      SendBits(bltree_.code[kRep3To6], bltree_.len[kRep3To6]);
      SendBits(static_cast<std::uint32_t>(count - 3), 2);
    } else if (count <= 10) {
      SendBits(bltree_.code[kRepz3To10], bltree_.len[kRepz3To10]);
      SendBits(static_cast<std::uint32_t>(count - 3), 3);
    } else {
      SendBits(bltree_.code[kRepz11To138], bltree_.len[kRepz11To138]);
      SendBits(static_cast<std::uint32_t>(count - 11), 7);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curlen == nextlen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

int DeflateState::BuildBlTree() {
  ScanTree(ltree_, lMaxCode_);
  ScanTree(dtree_, dMaxCode_);
  int blMaxCode = 0;
  static constexpr DeflateTreeShape kBlShape{nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits};
  BuildTree(bltree_, kBlShape, &blMaxCode);
  int maxBlIndex = kBlCodes - 1;
  for (; maxBlIndex >= 3; --maxBlIndex) {
    if (bltree_.len[kBlOrder[maxBlIndex]] != 0) break;
  }
  // HLIT, HDIST and HCLEN plus 3 bits per code-length code sent.
  optLen_ += 3 * (static_cast<unsigned long>(maxBlIndex) + 1) + 5 + 5 + 4;
  return maxBlIndex;
}

void DeflateState::SendAllTrees(int lcodes, int dcodes, int blcodes) {
  SendBits(static_cast<std::uint32_t>(lcodes - 257), 5);
  SendBits(static_cast<std::uint32_t>(dcodes - 1), 5);
  SendBits(static_cast<std::uint32_t>(blcodes - 4), 4);
  for (int rank = 0; rank < blcodes; ++rank) SendBits(bltree_.len[kBlOrder[rank]], 3);
  SendTree(ltree_, lcodes - 1);
  SendTree(dtree_, dcodes - 1);
}

void DeflateState::CompressBlock(const std::uint16_t* lcode, const std::uint16_t* llen,
                                 const std::uint16_t* dcode, const std::uint16_t* dlen) {
  const StaticTables& t = Static();
  for (unsigned i = 0; i < lastLit_; ++i) {
    const unsigned lc = symLc_[i];
    unsigned dist = symDist_[i];
    if (dist == 0) {
      SendBits(lcode[lc], llen[lc]);
      continue;
    }
    unsigned code = t.lengthCode[lc];
    // Length code and its extra bits (at most 15 + 5), then the distance (at most 15 + 13): each
    // part fits above the fewer than 32 bits held between drains.
    std::uint64_t bits = lcode[code + kLiterals + 1];
    unsigned n = llen[code + kLiterals + 1];
    if (kExtraLBits[code] != 0) {
      bits |= static_cast<std::uint64_t>(lc - static_cast<unsigned>(t.baseLength[code])) << n;
      n += kExtraLBits[code];
    }
    bitBuf_ |= bits << bitCount_;
    bitCount_ += n;
    if (bitCount_ >= 32) DrainBits();
    --dist;
    code = dist < 256 ? t.distCode[dist] : t.distCode[256 + (dist >> 7)];
    bits = dcode[code];
    n = dlen[code];
    if (kExtraDBits[code] != 0) {
      bits |= static_cast<std::uint64_t>(dist - static_cast<unsigned>(t.baseDist[code])) << n;
      n += kExtraDBits[code];
    }
    bitBuf_ |= bits << bitCount_;
    bitCount_ += n;
    if (bitCount_ >= 32) DrainBits();
  }
  SendBits(lcode[kEndBlock], llen[kEndBlock]);
}

void DeflateState::DrainBits() {
  const auto v = static_cast<std::uint32_t>(bitBuf_);
  outBuf_[outLen_] = static_cast<std::uint8_t>(v);
  outBuf_[outLen_ + 1] = static_cast<std::uint8_t>(v >> 8);
  outBuf_[outLen_ + 2] = static_cast<std::uint8_t>(v >> 16);
  outBuf_[outLen_ + 3] = static_cast<std::uint8_t>(v >> 24);
  outLen_ += 4;
  bitBuf_ >>= 32;
  bitCount_ -= 32;
  if (outLen_ >= kDeflateOutputPiece) {
    output_->Write(outBuf_, kDeflateOutputPiece);
    bytesOut_ += kDeflateOutputPiece;
    outLen_ -= kDeflateOutputPiece;
    std::memmove(outBuf_, outBuf_ + kDeflateOutputPiece, outLen_);
  }
}

void DeflateState::WindupBits() {
  while (bitCount_ > 0) {
    outBuf_[outLen_++] = static_cast<std::uint8_t>(bitBuf_);
    bitBuf_ >>= 8;
    bitCount_ = bitCount_ > 8 ? bitCount_ - 8 : 0;
    if (outLen_ >= kDeflateOutputPiece) FlushOutput();
  }
  bitBuf_ = 0;
}

void DeflateState::FlushOutput() {
  if (outLen_ == 0) return;
  output_->Write(outBuf_, outLen_);
  bytesOut_ += outLen_;
  outLen_ = 0;
}

void DeflateState::CopyBlock(const std::uint8_t* buf, unsigned len, bool header) {
  WindupBits();
  if (header) {
    const std::uint8_t h[4] = {static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
                               static_cast<std::uint8_t>(~len),
                               static_cast<std::uint8_t>(~len >> 8)};
    for (std::uint8_t b : h) {
      outBuf_[outLen_++] = b;
      if (outLen_ >= kDeflateOutputPiece) FlushOutput();
    }
  }
  FlushOutput();
  if (len != 0) {
    output_->Write(buf, len);
    bytesOut_ += len;
  }
}

void DeflateState::FlushBlock(bool last) {
  if (!fileTypeDecided_) SetFileType();
  static constexpr DeflateTreeShape kLShape{nullptr, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits};
  static constexpr DeflateTreeShape kDShape{nullptr, kExtraDBits, 0, kDCodes, kMaxBits};
  DeflateTreeShape lshape = kLShape, dshape = kDShape;
  lshape.staticLen = Static().ltreeLen;
  dshape.staticLen = Static().dtreeLen;
  BuildTree(ltree_, lshape, &lMaxCode_);
  BuildTree(dtree_, dshape, &dMaxCode_);
  const int maxBlIndex = BuildBlTree();

  unsigned long optLenb = (optLen_ + 3 + 7) >> 3;
  const unsigned long staticLenb = (staticLen_ + 3 + 7) >> 3;
  if (staticLenb <= optLenb) optLenb = staticLenb;

  const unsigned long storedLen =
      static_cast<unsigned long>(static_cast<long>(strstart_) - blockStart_);
  const bool inWindow = blockStart_ >= 0;
  const std::uint8_t* const buf = inWindow ? window_.get() + blockStart_ : nullptr;
  constexpr unsigned long kMaxStoredBlock = 0xFFFF;  // LEN is 16 bits

  if (last && bytesOut_ == 0 && outLen_ == 0 && bitCount_ == 0 && inWindow &&
      storedLen <= optLenb) {
    CopyBlock(buf, static_cast<unsigned>(storedLen), false);
    storedWhole_ = true;
  } else if (storedLen + 4 <= optLenb && inWindow && storedLen <= kMaxStoredBlock) {
    SendBits((0u << 1) + (last ? 1u : 0u), 3);
    CopyBlock(buf, static_cast<unsigned>(storedLen), true);
  } else if (staticLenb == optLenb) {
    SendBits((1u << 1) + (last ? 1u : 0u), 3);
    const StaticTables& t = Static();
    std::uint16_t llen[kLCodes + 2], dlen[kDCodes];
    std::copy(std::begin(t.ltreeLen), std::end(t.ltreeLen), llen);
    std::copy(std::begin(t.dtreeLen), std::end(t.dtreeLen), dlen);
    CompressBlock(t.ltreeCode, llen, t.dtreeCode, dlen);
  } else {
    SendBits((2u << 1) + (last ? 1u : 0u), 3);
    SendAllTrees(lMaxCode_ + 1, dMaxCode_ + 1, maxBlIndex + 1);
    CompressBlock(ltree_.code, ltree_.len, dtree_.code, dtree_.len);
  }
  InitBlock();
  if (last) {
    WindupBits();
    FlushOutput();
  }
}

}  // namespace zip
