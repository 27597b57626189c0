// Deflate compressor: turns one file's bytes into a raw deflate stream (RFC 1951, compression
// method 8, without zlib or gzip framing), or stores the file whole when that is not larger.
//
// Use: the writer creates one DeflateCompressor per archive run (its large arrays are allocated
// on the first entry and kept until the object dies) and calls CompressEntry once per file, after
// it has written the local header and reset its running CRC. The compressor pulls the file's
// bytes through a DeflateInput and pushes the stream through a DeflateOutput. Exceptions thrown
// by either routine propagate unchanged and abandon the entry; the compressor itself reports no
// errors. The same object may be used for further entries after an exception.
//
// The result tells the caller what to put in the entry header:
//   - method 8 (deflated) or 0 (stored whole: the final and only block was not smaller than the
//     file, so the output holds the file's bytes exactly, with no deflate framing at all; this
//     only happens for a file that fits in the first block),
//   - the general purpose flag bits for the level (bit 2 for levels 1-2, bit 1 for levels 8-9,
//     set also when the entry ends up stored whole),
//   - the internal file attributes (1 text, 0 binary), decided at the first block,
//   - the compressed size, which equals the number of bytes given to the output routine.
// Output is reproducible: the same bytes at the same level always give the same stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "zip/deflate_format.h"

namespace zip {

// Supplies the bytes to compress. Read is asked for at most kDeflateMaxRead bytes and returns how
// many it delivered; 0 means the end of the input.
class DeflateInput {
 public:
  virtual ~DeflateInput() = default;
  virtual std::size_t Read(std::uint8_t* buf, std::size_t n) = 0;
};

// Receives the compressed stream in pieces (at most kDeflateOutputPiece bytes each, except the
// raw bytes of a stored block, which arrive in one piece of up to 65,535 bytes).
class DeflateOutput {
 public:
  virtual ~DeflateOutput() = default;
  virtual void Write(const std::uint8_t* p, std::size_t n) = 0;
};

inline constexpr std::size_t kDeflateMaxRead = 65535;     // bytes, largest single Read request
inline constexpr std::size_t kDeflateOutputPiece = 1024;  // bytes, output buffer size
inline constexpr int kDeflateMinLevel = 1;                // fastest
inline constexpr int kDeflateMaxLevel = 9;                // tightest
inline constexpr int kDeflateDefaultLevel = 6;

// What one compressed entry needs in its header.
struct DeflateEntryInfo {
  std::uint64_t compressedSize = 0;               // bytes given to the output routine
  std::uint64_t uncompressedSize = 0;             // bytes taken from the input routine
  std::uint16_t method = CodecMethod::kDeflated;  // kStored when the entry was stored whole
  std::uint16_t flagBits = 0;                     // general purpose flag bits 1 and 2 for the level
  std::uint16_t internalAttributes = CodecAttr::kText;
};

// The general purpose flag bits a level sets (0 for levels 0 and 3-7).
std::uint16_t DeflateFlagBitsForLevel(int level);

class DeflateState;  // the per-run arrays and per-entry state; see deflate_state.h

class DeflateCompressor {
 public:
  DeflateCompressor();
  ~DeflateCompressor();
  DeflateCompressor(const DeflateCompressor&) = delete;
  DeflateCompressor& operator=(const DeflateCompressor&) = delete;

  // Compresses one entry at `level` (1-9; std::invalid_argument otherwise; level 0 means the
  // writer stores the file and never calls this).
  DeflateEntryInfo CompressEntry(int level, DeflateInput& input, DeflateOutput& output);

 private:
  std::unique_ptr<DeflateState> state_;
};

// One entry with a compressor of its own (allocates the arrays for this call only). Returns the
// compressed size; *info (optional) receives the whole result.
std::uint64_t DeflateEntry(int level, DeflateInput& input, DeflateOutput& output,
                           DeflateEntryInfo* info = nullptr);

// Convenience for tests, fuzzing and benchmarks: compresses a memory buffer. When the entry is
// stored whole, *out holds the input bytes and info.method is CodecMethod::kStored.
DeflateEntryInfo DeflateBuffer(int level, const std::uint8_t* data, std::size_t n,
                               std::vector<std::uint8_t>* out);

}  // namespace zip
