// The compressor's public face: one entry from start to finish, and the helpers around it.
#include "zip/deflate.h"

#include <cstring>
#include <stdexcept>

#include "zip/deflate_state.h"

namespace zip {

std::uint16_t DeflateFlagBitsForLevel(int level) {
  if (level == 1 || level == 2) return CodecFlag::kDeflateFast;
  if (level == 8 || level == 9) return CodecFlag::kDeflateMaximum;
  return 0;
}

DeflateState::DeflateState()
    : window_(new std::uint8_t[kWindowSize + kWindowMargin]()),
      prev_(new std::uint16_t[kWindowHalf]()),
      head_(new std::uint16_t[kHashSize]()),
      symLc_(new std::uint8_t[kLitBufSize]),
      symDist_(new std::uint16_t[kLitBufSize]) {}

DeflateEntryInfo DeflateState::Compress(int level, DeflateInput& input, DeflateOutput& output) {
  if (level < kDeflateMinLevel || level > kDeflateMaxLevel) {
    throw std::invalid_argument("deflate level must be 1-9");
  }
  input_ = &input;
  output_ = &output;
  level_ = level;
  cfg_ = kDeflateLevels[static_cast<std::size_t>(level)];
  bitBuf_ = 0;
  bitCount_ = 0;
  outLen_ = 0;
  bytesOut_ = 0;
  fileTypeDecided_ = false;
  fileType_ = CodecAttr::kText;
  storedWhole_ = false;
  InitBlock();
  // Clear what an earlier entry (or an abandoned one) left behind, so output depends only on
  // this entry's bytes.
  std::memset(window_.get(), 0, kWindowSize);
  std::memset(prev_.get(), 0, kWindowHalf * sizeof(std::uint16_t));

  StartEntry();
  if (lookahead_ == 0) {
    FlushBlock(true);  // empty input: an empty entry, stored whole
  } else if (cfg_.search == MatchSearch::kFast) {
    DeflateFast();
  } else {
    DeflateLazy();
  }

  DeflateEntryInfo info;
  info.compressedSize = bytesOut_;
  info.uncompressedSize = bytesIn_;
  info.method = storedWhole_ ? CodecMethod::kStored : CodecMethod::kDeflated;
  info.flagBits = DeflateFlagBitsForLevel(level);
  info.internalAttributes = fileType_;
  return info;
}

DeflateCompressor::DeflateCompressor() = default;
DeflateCompressor::~DeflateCompressor() = default;

DeflateEntryInfo DeflateCompressor::CompressEntry(int level, DeflateInput& input,
                                                  DeflateOutput& output) {
  if (!state_) state_ = std::make_unique<DeflateState>();
  return state_->Compress(level, input, output);
}

std::uint64_t DeflateEntry(int level, DeflateInput& input, DeflateOutput& output,
                           DeflateEntryInfo* info) {
  DeflateCompressor compressor;
  const DeflateEntryInfo result = compressor.CompressEntry(level, input, output);
  if (info != nullptr) *info = result;
  return result.compressedSize;
}

namespace {

class BufferInput : public DeflateInput {
 public:
  BufferInput(const std::uint8_t* data, std::size_t n) : p_(data), left_(n) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    if (n > left_) n = left_;
    if (n != 0) std::memcpy(buf, p_, n);
    p_ += n;
    left_ -= n;
    return n;
  }

 private:
  const std::uint8_t* p_;
  std::size_t left_;
};

class BufferOutput : public DeflateOutput {
 public:
  explicit BufferOutput(std::vector<std::uint8_t>* out) : out_(out) {}
  void Write(const std::uint8_t* p, std::size_t n) override { out_->insert(out_->end(), p, p + n); }

 private:
  std::vector<std::uint8_t>* out_;
};

}  // namespace

DeflateEntryInfo DeflateBuffer(int level, const std::uint8_t* data, std::size_t n,
                               std::vector<std::uint8_t>* out) {
  BufferInput input(data, n);
  BufferOutput output(out);
  DeflateEntryInfo info;
  DeflateEntry(level, input, output, &info);
  return info;
}

}  // namespace zip
