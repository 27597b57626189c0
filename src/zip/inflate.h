// Decoders for the stored data of zip entries: inflate (method 8, RFC 1951), stored (0), and the
// older PKWARE methods shrink (1), reduce (2-5, compression factors 1-4) and implode (6).
//
// Use: the reader creates one EntryDecoder per extraction run (its work areas live as long as the
// object) and, per entry, positions its archive stream at the entry's data, resets its running
// CRC and calls Decode with the entry's method, flag bits and sizes. The decoder pulls stored
// bytes through a DecodeInput and hands decoded bytes to a DecodeOutput, one window at a time.
//
// Contract of the routines:
//   - DecodeInput::Read is asked for at most kDecodeInputPiece bytes and returns how many it
//     delivered (a short count is fine); 0 means the entry's stored data has ended, and the
//     decoder then continues with the bits it holds and never asks again. The decoder may ask
//     for more before it needs the bytes (it reads ahead up to one piece), never past a 0.
//   - DecodeOutput::Write receives decoded bytes in pieces of exactly kDecodeWindowSize bytes
//     each time the window fills, then the remaining bytes (if any) once the data has ended
//     properly. It is never called with 0 bytes.
//   - Exceptions thrown by either routine propagate unchanged; the caller decides what they
//     mean (e.g. cancel versus a damaged entry).
//
// Result: kOk when the data decoded to its end. kBadData when the data is damaged (bad block
// type, stored length mismatch, bad code lengths, over-subscribed or incomplete code, invalid
// code, distance before the start of the output, bad implode/reduce tree, data ending before
// the stream does); decoding then stops at once and the bytes still in the window are NOT
// written, so the caller's CRC check sees the damage. kUnsupportedMethod for any other method.
//
// Every read of stored bytes is bounded: corrupt input is a status, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "zip/deflate_format.h"

namespace zip {

inline constexpr std::size_t kDecodeInputPiece = 32768;  // bytes, largest single Read request
inline constexpr std::size_t kDecodeWindowSize = 32768;  // bytes, output piece size

class DecodeInput {
 public:
  virtual ~DecodeInput() = default;
  virtual std::size_t Read(std::uint8_t* buf, std::size_t n) = 0;
};

class DecodeOutput {
 public:
  virtual ~DecodeOutput() = default;
  virtual void Write(const std::uint8_t* p, std::size_t n) = 0;
};

enum class DecodeStatus { kOk, kBadData, kUnsupportedMethod };

// True for methods 0, 1, 2-5, 6 and 8.
bool IsSupportedMethod(std::uint16_t method);

// What the decoder needs to know about an entry.
struct DecodeParams {
  std::uint16_t method = CodecMethod::kDeflated;
  std::uint16_t flagBits = 0;          // general purpose flags (implode uses bits 1 and 2)
  std::uint64_t uncompressedSize = 0;  // reduce and implode stop after this many bytes
};

struct DecoderState;  // work areas: input buffer, window, code tables (inflate_state.h)

class EntryDecoder {
 public:
  EntryDecoder();
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  // Decodes one entry's stored data by its method.
  DecodeStatus Decode(const DecodeParams& params, DecodeInput& input, DecodeOutput& output);

  // The individual methods (Decode dispatches to these).
  DecodeStatus Inflate(DecodeInput& input, DecodeOutput& output);
  DecodeStatus Store(DecodeInput& input, DecodeOutput& output);
  DecodeStatus Unshrink(DecodeInput& input, DecodeOutput& output);
  // factor 1-4 (method number minus 1).
  DecodeStatus Unreduce(int factor, std::uint64_t uncompressedSize, DecodeInput& input,
                        DecodeOutput& output);
  DecodeStatus Explode(std::uint16_t flagBits, std::uint64_t uncompressedSize, DecodeInput& input,
                       DecodeOutput& output);

 private:
  std::unique_ptr<DecoderState> state_;
};

// One-shot helpers over memory buffers for tests, fuzzing and benchmarks. Decoded bytes are
// appended to *out (also those written before a failure). When more than maxOutput bytes would
// be produced, decoding stops with kBadData.
DecodeStatus DecodeBuffer(const DecodeParams& params, const std::uint8_t* data, std::size_t n,
                          std::vector<std::uint8_t>* out,
                          std::size_t maxOutput = std::numeric_limits<std::size_t>::max());
DecodeStatus InflateBuffer(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>* out,
                           std::size_t maxOutput = std::numeric_limits<std::size_t>::max());

}  // namespace zip
