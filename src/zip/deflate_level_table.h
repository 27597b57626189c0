// The compressor's tuning table: one row per level. Level 0 never reaches the compressor (the
// writer stores the file instead).
//
//   good length  when the previous match is at least this long, the chain budget is quartered
//   max lazy     lazy search: look for a better match only below this length;
//                fast search: insert every position of a match up to this length
//   nice length  a match this long ends the search at once
//   max chain    candidates examined per search
#pragma once

#include <array>
#include <cstdint>

namespace zip {

enum class MatchSearch { kFast, kLazy };

struct DeflateLevel {
  std::uint16_t goodLength;  // bytes
  std::uint16_t maxLazy;     // bytes
  std::uint16_t niceLength;  // bytes
  std::uint16_t maxChain;    // candidates
  MatchSearch search;
};

// clang-format off
inline constexpr std::array<DeflateLevel, 10> kDeflateLevels = {{
    // good lazy nice chain  search
    {0,    0,    0,    0,    MatchSearch::kFast},  // 0: not used (stored)
    {4,    4,    8,    4,    MatchSearch::kFast},  // 1
    {4,    5,    16,   8,    MatchSearch::kFast},  // 2
    {4,    6,    32,   32,   MatchSearch::kFast},  // 3
    {4,    4,    16,   16,   MatchSearch::kLazy},  // 4
    {8,    16,   32,   32,   MatchSearch::kLazy},  // 5
    {8,    16,   128,  128,  MatchSearch::kLazy},  // 6
    {8,    32,   128,  256,  MatchSearch::kLazy},  // 7
    {32,   128,  258,  1024, MatchSearch::kLazy},  // 8
    {32,   258,  258,  4096, MatchSearch::kLazy},  // 9
}};
// clang-format on

}  // namespace zip
