// Shrink (method 1) decoder: dynamic LZW with partial clearing.
#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {

DecodeStatus EntryDecoder::Unshrink(DecodeInput&, DecodeOutput&) {
  return DecodeStatus::kUnsupportedMethod;
}

}  // namespace zip
