// Implode (method 6) decoder.
#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {

DecodeStatus EntryDecoder::Explode(std::uint16_t, std::uint64_t, DecodeInput&, DecodeOutput&) {
  return DecodeStatus::kUnsupportedMethod;
}

}  // namespace zip
