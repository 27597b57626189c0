// TRecordsBitmap: bit layout, the tail past the size, counting and stepping
// over set bits across word boundaries, and the pool.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <set>
#include <vector>

#include "engine/storage/records_bitmap.h"

namespace {

using engine::TRecordsBitmap;

TEST(RecordsBitmap, BitsAndTailStayWithinTheSize) {
  TRecordsBitmap b(40);
  b.Set(1);
  b.Set(2);
  b.Set(33);
  b.Set(0);   // outside: ignored
  b.Set(41);  // outside: ignored
  EXPECT_EQ(b.Count(), 3u);
  EXPECT_TRUE(b.Test(33));
  EXPECT_FALSE(b.Test(41));
  b.Not();  // the 24 bits past record 40 of word 1 stay clear
  EXPECT_EQ(b.Count(), 37u);
  b.SetAll();
  EXPECT_EQ(b.Count(), 40u);
  b.SetSize(35);  // shrinking drops records 36..40
  EXPECT_EQ(b.Count(), 35u);
  b.SetSize(70);
  EXPECT_EQ(b.Count(), 35u);
  EXPECT_FALSE(b.Test(36));
}

// Steps over set bits compared with a model, for sparse, dense and word-edge
// patterns.
TEST(RecordsBitmap, FindNextPriorAndCountBeforeAgreeWithAModel) {
  const std::vector<std::set<int>> patterns = {
      {}, {1}, {32}, {33}, {1, 32, 33, 64, 65, 100}, {5, 6, 7, 8, 200}};
  for (const auto& bits : patterns) {
    TRecordsBitmap b(200);
    for (int n : bits) b.Set(n);
    const std::vector<int> order(bits.begin(), bits.end());
    for (int from = 0; from <= 201; ++from) {
      for (std::uint32_t steps = 1; steps <= 3; ++steps) {
        int next = 0, prior = 0, seen = 0;
        for (int n : order)
          if (n > from && ++seen == static_cast<int>(steps)) {
            next = n;
            break;
          }
        seen = 0;
        for (auto it = order.rbegin(); it != order.rend(); ++it)
          if (*it < from && ++seen == static_cast<int>(steps)) {
            prior = *it;
            break;
          }
        EXPECT_EQ(b.FindNext(from, steps), static_cast<std::uint32_t>(next)) << from;
        EXPECT_EQ(b.FindPrior(from, steps), static_cast<std::uint32_t>(prior)) << from;
      }
      std::uint32_t before = 0;
      for (int n : order) before += n < from ? 1 : 0;
      EXPECT_EQ(b.CountBefore(from), before) << from;
    }
  }
}

TEST(RecordsBitmap, AndOrAssignAndPool) {
  TRecordsBitmap a(64), b(32);
  a.SetAll();
  b.Set(3);
  a.And(b);  // b's missing word counts as zero
  EXPECT_EQ(a.Count(), 1u);
  b.Set(30);
  a.Or(b);
  EXPECT_EQ(a.Count(), 2u);
  TRecordsBitmap c;
  c.Assign(a);
  EXPECT_EQ(c.Size(), 64u);
  EXPECT_TRUE(c.Test(30));

  auto& pool = engine::TRecordsBitmapStack::Instance();
  auto taken = pool.Take();
  taken->SetSize(100);
  taken->Set(7);
  const std::size_t idle = pool.Idle();
  pool.Give(std::move(taken));
  EXPECT_EQ(pool.Idle(), idle + 1);
  auto again = pool.Take();
  EXPECT_EQ(again->Size(), 0u);
}

TEST(RecordsBitmap, BothBitCountsAgreeWithAModel) {
  // Lengths around the 8-word blocks of the fast count, words from sparse to full.
  std::mt19937 rng(7);
  for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 31u, 1000u}) {
    std::vector<std::uint32_t> words(length);
    std::uint32_t expected = 0;
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint32_t kinds[] = {0u, 0xFFFFFFFFu, 1u << (i % 32),
                                     static_cast<std::uint32_t>(rng())};
      words[i] = kinds[i % 4];
      expected += static_cast<std::uint32_t>(std::popcount(words[i]));
    }
    EXPECT_EQ(engine::CountBits(words.data(), length), expected) << length;
    EXPECT_EQ(engine::CountBitsPortable(words.data(), length), expected) << length;
  }
}

}  // namespace
