// The entry cache shared by data and BLOB files: the choice of a reusable
// entry (least recently used, neither changed nor pinned) checked against a
// plain walk of a reference recency list over long random sequences of
// lookups, inserts, removals, pins, changes, unpins and write-backs.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>

#include "engine/storage/record_cache.h"

namespace engine {
namespace {

constexpr std::int32_t kKeySpace = 64;  // small, so keys collide and entries are reused
constexpr int kSteps = 20000;

struct CacheModel {
  TEntryCache<TRecord> cache{16};
  std::list<std::int32_t> recency;  // newest first
  std::map<std::int32_t, TRecord*> entries;

  void Touch(std::int32_t key) {
    recency.remove(key);
    recency.push_front(key);
  }
  // The reference answer: walk from the oldest entry.
  TRecord* ExpectedReusable() const {
    for (auto it = recency.rbegin(); it != recency.rend(); ++it) {
      TRecord* e = entries.at(*it);
      if (!e->changed && e->pins == 0) return e;
    }
    return nullptr;
  }
};

TEST(EntryCacheTest, ReusableIsAlwaysTheOldestCleanEntry) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    CacheModel m;
    std::mt19937 rng(seed);
    // Weights: mostly changes and pins (a transaction), with enough cleaning
    // that the busy prefix is forgotten and rebuilt often.
    std::discrete_distribution<int> op({6, 5, 2, 4, 3, 3, 2, 1, 6});
    std::uniform_int_distribution<std::int32_t> keyOf(1, kKeySpace);
    for (int step = 0; step < kSteps; ++step) {
      const std::int32_t key = keyOf(rng);
      auto found = m.entries.find(key);
      TRecord* e = found == m.entries.end() ? nullptr : found->second;
      switch (op(rng)) {
        case 0:  // insert
          if (e == nullptr) {
            auto fresh = m.cache.Take();
            fresh->key = key;
            m.entries[key] = m.cache.Insert(std::move(fresh));
            m.recency.push_front(key);
          }
          break;
        case 1:  // lookup
          ASSERT_EQ(m.cache.Find(key), e);
          if (e != nullptr) m.Touch(key);
          break;
        case 2:  // remove
          if (e != nullptr) {
            m.cache.Give(m.cache.Remove(e));
            m.entries.erase(key);
            m.recency.remove(key);
          }
          break;
        case 3:  // change
          if (e != nullptr) e->changed = true;
          break;
        case 4:  // pin
          if (e != nullptr) ++e->pins;
          break;
        case 5:  // unpin
          if (e != nullptr && e->pins > 0) {
            --e->pins;
            m.cache.NoteMaybeReusable(e);
          }
          break;
        case 6:  // written back
          if (e != nullptr && e->pins == 0) {
            e->changed = false;
            m.cache.NoteMaybeReusable(e);
          }
          break;
        case 7:  // drop everything
          m.cache.DropAll();
          m.entries.clear();
          m.recency.clear();
          break;
        default: {  // take the reusable entry for a new key, as a full cache does
          TRecord* victim = m.cache.Reusable();
          ASSERT_EQ(victim, m.ExpectedReusable()) << "step " << step;
          if (victim != nullptr && m.entries.count(key) == 0) {
            const std::int32_t old = victim->key;
            m.cache.Rekey(victim, key);
            m.entries.erase(old);
            m.recency.remove(old);
            m.entries[key] = victim;
            m.recency.push_front(key);
          }
        }
      }
    }
  }
}

// A cache full of changed entries answers "none" and, once one entry is
// written back, finds exactly that one even when it is the oldest.
TEST(EntryCacheTest, BusyPrefixIsForgottenWhenAnEntryTurnsClean) {
  TEntryCache<TRecord> cache(16);
  std::vector<TRecord*> all;
  for (std::int32_t key = 1; key <= 600; ++key) {
    auto fresh = cache.Take();
    fresh->key = key;
    fresh->changed = true;
    all.push_back(cache.Insert(std::move(fresh)));
    if (key % 255 == 0) {
      EXPECT_EQ(cache.Reusable(), nullptr);
    }
  }
  EXPECT_EQ(cache.Reusable(), nullptr);
  all.front()->changed = false;
  cache.NoteMaybeReusable(all.front());
  EXPECT_EQ(cache.Reusable(), all.front());
  all.front()->pins = 1;  // now busy again; a later clean entry is found after it
  all[300]->changed = false;
  cache.NoteMaybeReusable(all[300]);
  EXPECT_EQ(cache.Reusable(), all[300]);
}

}  // namespace
}  // namespace engine
