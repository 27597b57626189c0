// Unshrink: the decoder of shrink (method 1), PKWARE's dynamic LZW.
//
// Codes are read from the low end of the bit stream, 9 bits wide at first and at most 13. Codes
// 0-255 stand for single bytes; each later code stands for an earlier code's string plus one
// byte, and the table holds 8,192 codes, the first free one being 257. Code 256 escapes a
// control code that follows at the current width:
//   1   widen codes by one bit (up to 13)
//   2   partial clear: every code from 257 that is not the prefix of another code becomes free
// After every code but the first, a new string (the previous code's string plus the first byte of
// the current one) takes the lowest free code. A code that is not yet defined stands for the
// previous string plus that string's first byte. The data ends when fewer bits remain than a
// code needs.
#include <vector>

#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {
namespace {

constexpr unsigned kInitialBits = 9;
constexpr unsigned kMaxBits = 13;
constexpr unsigned kCodes = 1u << kMaxBits;  // 8,192
constexpr unsigned kEscape = 256;
constexpr unsigned kFirstFree = 257;
constexpr unsigned kWiden = 1;
constexpr unsigned kPartialClear = 2;
constexpr std::int16_t kFree = -1;

}  // namespace

DecodeStatus EntryDecoder::Unshrink(DecodeInput& input, DecodeOutput& output) {
  DecoderState& s = *state_;
  s.Begin(input, output);
  std::vector<std::int16_t> prefix(kCodes, kFree);  // kFree marks an unused code from 257 up
  std::vector<std::uint8_t> suffix(kCodes, 0);
  std::vector<std::uint8_t> stack(kCodes + 1);
  for (unsigned c = 0; c < 256; ++c) {
    prefix[c] = 0;
    suffix[c] = static_cast<std::uint8_t>(c);
  }
  unsigned width = kInitialBits;
  unsigned nextFree = kFirstFree;
  auto readCode = [&](unsigned* code) {
    s.Refill();
    if (s.RealBits() < width) return false;
    *code = s.Bits(width);
    return true;
  };
  // Writes the string of `code` (plus `extra` at the end when extraByte); returns its first byte
  // or -1 on a damaged table.
  auto emit = [&](unsigned code, bool extraByte, std::uint8_t extra) -> int {
    std::size_t depth = 0;
    if (extraByte) stack[depth++] = extra;
    while (code >= kFirstFree) {
      if (depth >= kCodes || prefix[code] == kFree) return -1;
      stack[depth++] = suffix[code];
      code = static_cast<unsigned>(prefix[code]);
    }
    if (code == kEscape) return -1;
    stack[depth++] = static_cast<std::uint8_t>(code);
    const int first = static_cast<std::uint8_t>(code);
    while (depth != 0) {
      if (!s.PutByte(stack[--depth])) return -1;
    }
    return first;
  };

  unsigned oldCode = 0;
  if (!readCode(&oldCode)) return DecodeStatus::kOk;  // no data: an empty file
  if (oldCode >= 256) return DecodeStatus::kBadData;
  if (!s.PutByte(static_cast<std::uint8_t>(oldCode))) return DecodeStatus::kBadData;
  int oldFirst = static_cast<int>(oldCode);

  unsigned code = 0;
  while (readCode(&code)) {
    if (code == kEscape) {
      unsigned control = 0;
      if (!readCode(&control)) return DecodeStatus::kBadData;
      if (control == kWiden && width < kMaxBits) {
        ++width;
      } else if (control == kPartialClear) {
        std::vector<bool> isPrefix(kCodes, false);
        for (unsigned c = kFirstFree; c < kCodes; ++c) {
          if (prefix[c] != kFree && prefix[c] >= static_cast<int>(kFirstFree)) {
            isPrefix[static_cast<unsigned>(prefix[c])] = true;
          }
        }
        for (unsigned c = kFirstFree; c < kCodes; ++c) {
          if (!isPrefix[c]) prefix[c] = kFree;
        }
        nextFree = kFirstFree;
        while (nextFree < kCodes && prefix[nextFree] != kFree) ++nextFree;
      } else {
        return DecodeStatus::kBadData;
      }
      continue;
    }
    int first;
    if (code >= kFirstFree && prefix[code] == kFree) {
      // Not yet defined: the previous string plus its own first byte.
      first = emit(oldCode, true, static_cast<std::uint8_t>(oldFirst));
    } else {
      first = emit(code, false, 0);
    }
    if (first < 0) return DecodeStatus::kBadData;
    if (nextFree < kCodes) {
      prefix[nextFree] = static_cast<std::int16_t>(oldCode);
      suffix[nextFree] = static_cast<std::uint8_t>(first);
      while (++nextFree < kCodes && prefix[nextFree] != kFree) {
      }
    }
    oldCode = code;
    oldFirst = first;
  }
  if (s.Overrun()) return DecodeStatus::kBadData;
  s.FlushRest();
  return DecodeStatus::kOk;
}

}  // namespace zip
