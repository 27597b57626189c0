// The entry cache's key order and slot taking: its ordered list checked
// against a reference set over long random sequences (ascending appends,
// inserts and removals anywhere, re-keys, trims from the high end, range
// visits), and the slot rule when every entry is busy (grow inside a
// transaction, else write back once, else fail).
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "engine/storage/record_cache.h"

namespace engine {
namespace {

constexpr std::int32_t kKeySpace = 5000;

std::vector<std::int32_t> Keys(const TEntryCache<TRecord>& cache) {
  std::vector<std::int32_t> keys;
  for (const auto& e : cache.Sorted()) keys.push_back(e->key);
  return keys;
}

TEST(EntryCacheOrderTest, SortedListFollowsAReferenceSet) {
  TEntryCache<TRecord> cache(64);
  std::set<std::int32_t> model;
  std::mt19937 rng(7);
  std::int32_t next = 1;  // the next ascending key
  auto insert = [&](std::int32_t key) {
    if (model.count(key) != 0) return;
    auto e = cache.Take();
    e->key = key;
    cache.Insert(std::move(e));
    model.insert(key);
  };
  for (int step = 0; step < 20000; ++step) {
    const std::int32_t key = static_cast<std::int32_t>(rng() % kKeySpace) + 1;
    switch (rng() % 8) {
      case 0:
      case 1:  // append after the last key, as read-ahead and new records do
        insert(std::max(next, model.empty() ? 1 : *model.rbegin() + 1));
        next = *model.rbegin() + 1;
        break;
      case 2:  // insert anywhere
        insert(key);
        break;
      case 3:
      case 4: {  // remove the oldest entry (a scan's eviction) or one anywhere
        TRecord* e = rng() % 2 == 0 ? cache.Reusable() : cache.Find(key);
        if (e == nullptr) break;
        model.erase(e->key);
        cache.Give(cache.Remove(e));
        break;
      }
      case 5: {  // re-key
        TRecord* e = cache.Find(key);
        const std::int32_t to = static_cast<std::int32_t>(rng() % kKeySpace) + 1;
        if (e == nullptr || model.count(to) != 0) break;
        model.erase(key);
        cache.Rekey(e, to);
        model.insert(to);
        break;
      }
      case 6: {  // trim from the high end, busy entries stay
        if (TRecord* e = cache.Find(key)) e->changed = true;
        const std::size_t limit = model.size() / 2;
        cache.TrimTo(limit);
        std::set<std::int32_t> kept;
        std::size_t toRemove = model.size() > limit ? model.size() - limit : 0;
        for (auto it = model.rbegin(); it != model.rend(); ++it) {
          const bool busy = *it == key;
          if (toRemove > 0 && !busy) {
            --toRemove;
            continue;
          }
          kept.insert(*it);
        }
        model = kept;
        if (TRecord* e = cache.Find(key)) {
          e->changed = false;
          cache.NoteMaybeReusable(e);
        }
        break;
      }
      default: {  // visit a range
        const std::int32_t high = key + static_cast<std::int32_t>(rng() % 300);
        std::vector<std::int32_t> seen;
        cache.ForEachInRange(key, high, [&](const TRecord& e) { seen.push_back(e.key); });
        std::vector<std::int32_t> expected(model.lower_bound(key), model.upper_bound(high));
        ASSERT_EQ(seen, expected) << "step " << step;
        break;
      }
    }
    ASSERT_EQ(cache.Count(), model.size()) << "step " << step;
    if (step % 97 == 0) {
      ASSERT_EQ(Keys(cache), std::vector<std::int32_t>(model.begin(), model.end()))
          << "step " << step;
      for (std::int32_t k : {key, key + 1})
        ASSERT_EQ(cache.Contains(k), model.count(k) != 0) << "step " << step;
    }
  }
}

TEST(EntryCacheOrderTest, TakeSlotGrowsWritesBackOnceOrFails) {
  struct Case {
    const char* what;
    bool mayGrow;
    bool writeBackCleans;  // the write-back clears the changed flags
    std::size_t capacity;  // afterwards
    int writeBacks;
    bool fails;
  } cases[] = {
      {"inside a transaction the cache grows", true, false, 4 + 255, 0, false},
      {"outside one a write-back frees an entry", false, true, 4, 1, false},
      {"a write-back that frees nothing fails", false, false, 4, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TEntryCache<TRecord> cache(16);
    cache.SetCapacity(4);
    for (std::int32_t k = 1; k <= 4; ++k) {
      auto e = cache.Take();
      e->key = k;
      e->changed = true;
      cache.Insert(std::move(e));
    }
    int writeBacks = 0;
    bool failed = false;
    try {
      auto slot = cache.TakeSlot(
          c.mayGrow, 255,
          [&] {
            ++writeBacks;
            if (!c.writeBackCleans) return;
            for (const auto& e : cache.Sorted()) {
              e->changed = false;
              cache.NoteMaybeReusable(e.get());
            }
          },
          [] { throw std::runtime_error("no slot"); });
      EXPECT_FALSE(slot->changed);
      EXPECT_EQ(slot->pins, 0);
    } catch (const std::runtime_error&) {
      failed = true;
    }
    EXPECT_EQ(failed, c.fails);
    EXPECT_EQ(writeBacks, c.writeBacks);
    EXPECT_EQ(cache.Capacity(), c.capacity);
    // Growing keeps all four entries; a freed entry left the cache.
    EXPECT_EQ(cache.Count(), c.fails || c.mayGrow ? 4u : 3u);
  }
}

}  // namespace
}  // namespace engine
