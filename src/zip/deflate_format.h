// Header values the zip codec reads or decides: compression method numbers, the general purpose
// flag bits of deflate and implode, and the internal file attributes. Grouped in structs so that
// they cannot clash with the archive records' own names in namespace zip.
#pragma once

#include <cstdint>

namespace zip {

// Compression method numbers of the zip format.
struct CodecMethod {
  static constexpr std::uint16_t kStored = 0;
  static constexpr std::uint16_t kShrunk = 1;
  static constexpr std::uint16_t kReduced1 = 2;  // reduce with compression factor 1
  static constexpr std::uint16_t kReduced4 = 5;  // ... up to factor 4
  static constexpr std::uint16_t kImploded = 6;
  static constexpr std::uint16_t kDeflated = 8;
};

// General purpose flag bits the codec sets (deflate) or reads (implode).
struct CodecFlag {
  static constexpr std::uint16_t kDeflateMaximum = 0x0002;       // written for levels 8-9
  static constexpr std::uint16_t kDeflateFast = 0x0004;          // written for levels 1-2
  static constexpr std::uint16_t kImplode8kDictionary = 0x0002;  // else a 4 KB dictionary
  static constexpr std::uint16_t kImplodeLiteralTree = 0x0004;   // three trees, else two
};

// Internal file attributes decided by the compressor.
struct CodecAttr {
  static constexpr std::uint16_t kBinary = 0;
  static constexpr std::uint16_t kText = 1;
};

}  // namespace zip
