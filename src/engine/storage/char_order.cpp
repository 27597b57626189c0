// Character-order maps and their cache: see char_order.h.
#include "engine/storage/char_order.h"

#include <algorithm>
#include <numeric>

#include "platform/locale.h"

namespace engine {

TCharOrderMap::TCharOrderMap(std::uint16_t languageId, std::uint16_t sortId)
    : FLanguageId(languageId), FSortId(sortId) {
  std::iota(FOrder.begin(), FOrder.end(), 0);
  if (languageId != platform::kLangNeutral) {
    const platform::Lcid lcid = platform::MakeLcid(languageId, sortId);
    // A stable sort keeps byte order among characters the locale calls equal
    // (or cannot compare), so the map stays a strict order.
    std::stable_sort(FOrder.begin(), FOrder.end(), [lcid](std::uint8_t a, std::uint8_t b) {
      const char ca = static_cast<char>(a);
      const char cb = static_cast<char>(b);
      return platform::CompareStringA(lcid, platform::kSortStringSort, &ca, 1, &cb, 1) ==
             platform::kCstrLessThan;
    });
  }
  for (std::size_t i = 0; i < kCharCount; ++i) FRank[FOrder[i]] = static_cast<std::uint8_t>(i);
}

bool TCharOrderMap::Next(std::uint8_t c, std::uint8_t& next) const {
  const std::size_t rank = FRank[c];
  if (rank + 1 >= kCharCount) return false;
  next = FOrder[rank + 1];
  return true;
}

bool TCharOrderMap::Prior(std::uint8_t c, std::uint8_t& prior) const {
  const std::size_t rank = FRank[c];
  if (rank == 0) return false;
  prior = FOrder[rank - 1];
  return true;
}

TLanguageCharMapsList& TLanguageCharMapsList::Instance() {
  static TLanguageCharMapsList list;
  return list;
}

std::shared_ptr<const TCharOrderMap> TLanguageCharMapsList::GetMap(std::uint16_t languageId,
                                                                   std::uint16_t sortId) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (const auto& map : FMaps) {
    if (map->LanguageId() == languageId && map->SortId() == sortId) return map;
  }
  auto map = std::make_shared<const TCharOrderMap>(languageId, sortId);
  // At capacity the oldest pair leaves the cache; its holders keep their copy.
  if (FMaps.size() >= kCharMapCacheCapacity) FMaps.erase(FMaps.begin());
  FMaps.push_back(map);
  return map;
}

std::size_t TLanguageCharMapsList::Count() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FMaps.size();
}

void TLanguageCharMapsList::Clear() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FMaps.clear();
}

}  // namespace engine
