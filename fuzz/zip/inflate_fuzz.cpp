// libFuzzer harness for the entry decoders. The first byte picks the mode:
//   0-3  inflate the rest, and compare with zlib's raw inflate (windowBits -15) as the control:
//        both must accept or both reject, and accepted streams must give the same bytes
//   4    unshrink the rest
//   5    unreduce the rest with factor (byte 1 % 4) + 1
//   6    explode the rest with flag bits (byte 1 & 6)
//   7    deflate the rest at level (byte 1 % 9) + 1 and inflate it back: the bytes must return
// Legacy modes take the uncompressed size from bytes 2-3 (little-endian). Output is capped at
// kMaxOutput bytes so that expanding streams stay fast.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON
//   -DORV_BUILD_TESTS=OFF ninja -C build-fuzz zip_inflate_fuzz build-fuzz/fuzz/zip/zip_inflate_fuzz
//   -max_total_time=300 fuzz/zip/inflate_corpus
// (copy the corpus to a scratch directory first if new finds should not land in the repo)
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zip/deflate.h"
#include "zip/inflate.h"

namespace {

constexpr std::size_t kMaxOutput = 1 << 20;  // bytes

// zlib's verdict: 1 = complete stream, 0 = error or incomplete, -1 = output cap reached.
int ZlibInflate(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  out->assign(kMaxOutput + 1, 0);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  const int rc = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  inflateEnd(&z);
  if (out->size() > kMaxOutput) return -1;
  return rc == Z_STREAM_END ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned mode = data[0] % 8;
  std::vector<std::uint8_t> out;
  if (mode <= 3) {
    const std::uint8_t* stream = data + 1;
    const std::size_t n = size - 1;
    const zip::DecodeStatus st = zip::InflateBuffer(stream, n, &out, kMaxOutput);
    std::vector<std::uint8_t> control;
    const int z = ZlibInflate(stream, n, &control);
    if (z < 0 || out.size() >= kMaxOutput) return 0;  // capped: no verdict
    if ((st == zip::DecodeStatus::kOk) != (z == 1)) std::abort();
    if (z == 1 && out != control) std::abort();
    return 0;
  }
  if (size < 4) return 0;
  const std::uint8_t* rest = data + 4;
  const std::size_t n = size - 4;
  zip::DecodeParams p;
  p.uncompressedSize = static_cast<std::uint64_t>(data[2] | data[3] << 8);
  p.flagBits = static_cast<std::uint16_t>(data[1] & 6);
  switch (mode) {
    case 4:
      p.method = zip::CodecMethod::kShrunk;
      break;
    case 5:
      p.method = static_cast<std::uint16_t>(zip::CodecMethod::kReduced1 + data[1] % 4);
      break;
    case 6:
      p.method = zip::CodecMethod::kImploded;
      break;
    default: {
      std::vector<std::uint8_t> packed;
      const zip::DeflateEntryInfo info = zip::DeflateBuffer(data[1] % 9 + 1, rest, n, &packed);
      if (info.compressedSize != packed.size() || info.uncompressedSize != n) std::abort();
      if (info.method == zip::CodecMethod::kStored) {
        if (packed.size() != n || (n != 0 && std::memcmp(packed.data(), rest, n) != 0))
          std::abort();
        return 0;
      }
      if (zip::InflateBuffer(packed.data(), packed.size(), &out) != zip::DecodeStatus::kOk ||
          out.size() != n || (n != 0 && std::memcmp(out.data(), rest, n) != 0)) {
        std::abort();
      }
      return 0;
    }
  }
  const zip::DecodeStatus st = zip::DecodeBuffer(p, rest, n, &out, kMaxOutput);
  if (st == zip::DecodeStatus::kOk && p.method != zip::CodecMethod::kShrunk &&
      out.size() != p.uncompressedSize) {
    std::abort();
  }
  return 0;
}
