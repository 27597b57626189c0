// Character-order maps: the 256 single-byte characters listed in the order of
// a table's collation, and the process-wide cache of them.
//
// A map answers "which character is the smallest / largest of the collation"
// and "which character comes right after / before this one". Range searches
// use it to complete partial keys and to step to the next or previous key
// (index_keys.h).
//
// Invariants:
//  - Order() is a permutation of 0..255; Rank() is its inverse.
//  - Language 0 gives the identity map (byte order).
//  - Another language orders the characters by the locale comparison of the
//    one-character strings (string sort); characters that compare equal keep
//    their byte order, so the map is always a strict total order.
//  - Maps are built once per (language, sort) pair and never change; the cache
//    holds up to kCharMapCacheCapacity pairs under its own lock, and a map
//    stays valid for as long as someone holds its pointer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace engine {

inline constexpr std::size_t kCharCount = 256;             // single-byte characters
inline constexpr std::size_t kCharMapCacheCapacity = 255;  // (language, sort) pairs kept

class TCharOrderMap {
 public:
  TCharOrderMap(std::uint16_t languageId, std::uint16_t sortId);

  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }
  // The characters in collation order, and each character's place in it.
  const std::array<std::uint8_t, kCharCount>& Order() const { return FOrder; }
  std::uint8_t Rank(std::uint8_t c) const { return FRank[c]; }

  std::uint8_t Smallest() const { return FOrder.front(); }
  std::uint8_t Largest() const { return FOrder.back(); }
  // The next (previous) character of the collation; false at the last (first).
  bool Next(std::uint8_t c, std::uint8_t& next) const;
  bool Prior(std::uint8_t c, std::uint8_t& prior) const;

 private:
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  std::array<std::uint8_t, kCharCount> FOrder{};
  std::array<std::uint8_t, kCharCount> FRank{};
};

// The process-wide cache of character-order maps.
class TLanguageCharMapsList {
 public:
  static TLanguageCharMapsList& Instance();

  // The map of a pair, built on first use.
  std::shared_ptr<const TCharOrderMap> GetMap(std::uint16_t languageId, std::uint16_t sortId);
  // Number of pairs cached.
  std::size_t Count();
  void Clear();

 private:
  std::recursive_mutex FLock;                               // the cache's critical section
  std::vector<std::shared_ptr<const TCharOrderMap>> FMaps;  // oldest first
};

}  // namespace engine
