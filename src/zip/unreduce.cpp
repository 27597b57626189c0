// Reduce (methods 2-5) decoder.
#include "zip/inflate.h"
#include "zip/inflate_state.h"

namespace zip {

DecodeStatus EntryDecoder::Unreduce(int, std::uint64_t, DecodeInput&, DecodeOutput&) {
  return DecodeStatus::kUnsupportedMethod;
}

}  // namespace zip
