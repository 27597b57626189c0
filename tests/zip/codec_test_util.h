// Helpers for the codec tests: deterministic sample data of several kinds, zlib as an
// independent raw-deflate peer (windowBits -15), a bit writer for hand-built streams, a reader of
// the sample files in the shared test data, and a minimal local-header walker that cuts one
// entry's stored bytes out of a sample archive.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zip::testutil {

using Bytes = std::vector<std::uint8_t>;

enum class DataKind { kText, kSource, kBinary, kRandom, kZeros, kRepetitive };

inline const char* DataKindName(DataKind k) {
  switch (k) {
    case DataKind::kText:
      return "text";
    case DataKind::kSource:
      return "source";
    case DataKind::kBinary:
      return "binary";
    case DataKind::kRandom:
      return "random";
    case DataKind::kZeros:
      return "zeros";
    case DataKind::kRepetitive:
      return "repetitive";
  }
  return "?";
}

// n bytes of the given kind, the same for the same (kind, n, seed).
inline Bytes MakeData(DataKind kind, std::size_t n, std::uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 64);
  static const char* const kWords[] = {
      "the",  "backup", "file", "of",    "a",      "table",  "engine", "records", "zip",
      "and",  "is",     "to",   "with",  "index",  "blob",   "lock",   "window",  "run",
      "data", "every",  "when", "which", "stores", "writes", "reads",  "in",      "on"};
  static const char* const kLines[] = {
      "  for (int i = 0; i < n; ++i) {\n",
      "    total += values[i] * scale;\n",
      "  }\n",
      "  if (status != kOk) return status;\n",
      "// Returns the number of records.\n",
      "std::uint32_t Crc32Update(std::uint32_t reg, const void* p, std::size_t n);\n",
      "    buffer.push_back(static_cast<char>(c));\n",
      "}\n\n",
      "namespace zip {\n"};
  switch (kind) {
    case DataKind::kText:
      while (out.size() < n) {
        const char* w = kWords[rng() % std::size(kWords)];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(rng() % 11 == 0 ? '\n' : ' ');
      }
      break;
    case DataKind::kSource:
      while (out.size() < n) {
        const char* l = kLines[rng() % std::size(kLines)];
        out.insert(out.end(), l, l + std::strlen(l));
      }
      break;
    case DataKind::kBinary:  // records of small integers, pointers and floats
      while (out.size() < n) {
        const std::uint32_t id = static_cast<std::uint32_t>(out.size() / 16);
        const std::uint32_t ptr = 0x00400000u + (rng() % 4096) * 16;
        const float f = static_cast<float>(rng() % 1000) / 8.0f;
        std::uint8_t rec[16] = {};
        std::memcpy(rec, &id, 4);
        std::memcpy(rec + 4, &ptr, 4);
        std::memcpy(rec + 8, &f, 4);
        rec[12] = static_cast<std::uint8_t>(rng() % 3);
        out.insert(out.end(), rec, rec + 16);
      }
      break;
    case DataKind::kRandom:
      while (out.size() < n) out.push_back(static_cast<std::uint8_t>(rng()));
      break;
    case DataKind::kZeros:
      out.assign(n, 0);
      break;
    case DataKind::kRepetitive:
      while (out.size() < n) {
        const std::size_t run = 1 + rng() % 300;
        const std::uint8_t b = static_cast<std::uint8_t>("ABCD"[rng() % 4]);
        out.insert(out.end(), run, b);
      }
      break;
  }
  out.resize(n);
  return out;
}

inline Bytes ZlibDeflateRaw(const Bytes& in, int level, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return {};
  Bytes out(deflateBound(&z, in.size()) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return {};
  return out;
}

// Raw inflate by zlib; nullopt when zlib reports an error or the stream does not end.
inline std::optional<Bytes> ZlibInflateRaw(const Bytes& in) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  Bytes out;
  std::uint8_t buf[65536];
  int rc = Z_OK;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  } while (rc == Z_OK && (z.avail_in != 0 || z.avail_out == 0));
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

// Writes a deflate bit stream: numbers go first bit lowest, Huffman codes most significant bit
// first, as RFC 1951 packs them.
class BitWriter {
 public:
  void Put(std::uint32_t value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) PutBit((value >> i) & 1u);
  }
  void PutCode(std::uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) PutBit((code >> i) & 1u);
  }
  void AlignToByte() {
    while (used_ != 0) PutBit(0);
  }
  void PutByte(std::uint8_t b) { Put(b, 8); }
  const Bytes& bytes() const { return bytes_; }

 private:
  void PutBit(std::uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<std::uint8_t>(bit << used_);
    used_ = (used_ + 1) & 7u;
  }
  Bytes bytes_;
  unsigned used_ = 0;
};

// Canonical codes for the given lengths (RFC 1951, 3.2.2); 0 where the length is 0.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lens) {
  int maxLen = 0;
  for (int l : lens) maxLen = l > maxLen ? l : maxLen;
  std::vector<std::uint32_t> count(maxLen + 2, 0), next(maxLen + 2, 0), codes(lens.size(), 0);
  for (int l : lens)
    if (l) ++count[l];
  std::uint32_t code = 0;
  for (int bits = 1; bits <= maxLen; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  for (std::size_t n = 0; n < lens.size(); ++n)
    if (lens[n]) codes[n] = next[lens[n]]++;
  return codes;
}

inline std::string SharedPath(const std::string& rel) {
  return std::string(ORV_SHARED_DIR) + "/testdata/zip/" + rel;
}

inline std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// One entry of an archive.
struct LocalEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  Bytes data;  // the stored bytes
};

// Lists an archive's entries from its central directory (sizes and CRC from there, so entries
// with data descriptors work too) and cuts each entry's stored bytes out behind its local header.
//   end record:      signature 0x06054b50; entry count at +10 (2), directory offset at +16 (4)
//   central header:  signature 0x02014b50; flags +8, method +10, CRC +16, compressed size +20,
//                    uncompressed size +24, name length +28, extra +30, comment +32 (2 each but
//                    CRC and sizes 4), local header offset +42 (4), name at +46
//   local header:    signature 0x04034b50; name length +26, extra length +28, data at +30 + both
// Anything out of bounds ends the listing early (the caller then sees fewer entries).
inline std::vector<LocalEntry> WalkLocalHeaders(const Bytes& zip) {
  auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(zip[at] | zip[at + 1] << 8); };
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
  };
  std::vector<LocalEntry> entries;
  if (zip.size() < 22) return entries;
  std::size_t end = zip.size() - 22;
  while (u32(end) != 0x06054b50u) {
    if (end == 0) return entries;
    --end;
  }
  const std::size_t count = u16(end + 10);
  std::size_t at = u32(end + 16);
  for (std::size_t i = 0; i < count; ++i) {
    if (at + 46 > zip.size() || u32(at) != 0x02014b50u) break;
    LocalEntry e;
    e.flags = u16(at + 8);
    e.method = u16(at + 10);
    e.crc = u32(at + 16);
    e.compressedSize = u32(at + 20);
    e.uncompressedSize = u32(at + 24);
    const std::size_t nameLen = u16(at + 28);
    const std::size_t local = u32(at + 42);
    if (at + 46 + nameLen > zip.size() || local + 30 > zip.size()) break;
    e.name.assign(zip.begin() + static_cast<long>(at + 46),
                  zip.begin() + static_cast<long>(at + 46 + nameLen));
    const std::size_t dataAt = local + 30 + u16(local + 26) + u16(local + 28);
    if (dataAt + e.compressedSize > zip.size()) break;
    e.data.assign(zip.begin() + static_cast<long>(dataAt),
                  zip.begin() + static_cast<long>(dataAt + e.compressedSize));
    entries.push_back(std::move(e));
    at += 46 + nameLen + u16(at + 30) + u16(at + 32);
  }
  return entries;
}

}  // namespace zip::testutil
