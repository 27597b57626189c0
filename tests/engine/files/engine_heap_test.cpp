// The engine heap, grow-only buffers and TSystemList.
#include "engine/files/engine_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/engine_test_util.h"
#include "engine/files/abstract_file.h"
#include "engine/files/grow_buffer.h"
#include "engine/files/system_list.h"

namespace {

using engine_test::EngineCodeOf;

TEST(EngineHeap, ZeroFilledBlocksAndRunningTotal) {
  const std::size_t before = engine::HeapBytesInUse();
  auto* block = static_cast<unsigned char*>(engine::HeapAlloc(100));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(std::all_of(block, block + 100, [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(engine::HeapBytesInUse(), before + 100);

  std::memset(block, 0xAB, 100);
  block = static_cast<unsigned char*>(engine::HeapRealloc(block, 300));
  EXPECT_EQ(block[99], 0xAB);  // content kept
  EXPECT_TRUE(std::all_of(block + 100, block + 300, [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(engine::HeapBytesInUse(), before + 300);

  engine::HeapFree(block);
  EXPECT_EQ(engine::HeapBytesInUse(), before);
  EXPECT_EQ(engine::HeapAlloc(0), nullptr);
  engine::HeapFree(nullptr);
}

TEST(EngineHeap, FailedAllocationRaisesOutOfMemory) {
  EXPECT_EQ(EngineCodeOf([] { engine::HeapAlloc(engine::kMaxHeapBlock + 1); }),
            engine::kErrOutOfMemory);
  void* block = engine::HeapAlloc(8);
  EXPECT_EQ(EngineCodeOf([&] { block = engine::HeapRealloc(block, engine::kMaxHeapBlock + 1); }),
            engine::kErrOutOfMemory);
  engine::HeapFree(block);  // untouched by the failed reallocation
}

TEST(EngineHeap, EveryThousandTwentiethFreeOrReallocCompacts) {
  std::vector<void*> blocks;
  for (int i = 0; i < engine::kCompactEveryOps * 2; ++i) blocks.push_back(engine::HeapAlloc(4));
  // Align the count to a compaction first.
  const std::uint64_t start = engine::HeapCompactions();
  std::size_t next = 0;
  while (engine::HeapCompactions() == start) engine::HeapFree(blocks[next++]);
  const std::uint64_t aligned = engine::HeapCompactions();
  for (int i = 0; i < engine::kCompactEveryOps - 1; ++i) engine::HeapFree(blocks[next++]);
  EXPECT_EQ(engine::HeapCompactions(), aligned);
  blocks[next] = engine::HeapRealloc(blocks[next], 8);  // reallocations count too
  EXPECT_EQ(engine::HeapCompactions(), aligned + 1);
  for (; next < blocks.size(); ++next) engine::HeapFree(blocks[next]);
}

TEST(GrowBuffer, GrowsInStepsAndNeverShrinksExceptToZero) {
  struct Step {
    std::int64_t request;
    std::size_t capacity;  // after the request
  };
  const Step steps[] = {{1, 4096}, {4096, 4096}, {4097, 8192}, {100, 8192},
                        {0, 0},    {-5, 0},      {5000, 8192}, {-1, 0}};
  engine::TGrowBuffer buffer(engine::kMemoryFileStep);
  for (const Step& s : steps) {
    buffer.Reserve(s.request);
    EXPECT_EQ(buffer.Capacity(), s.capacity) << s.request;
    EXPECT_EQ(buffer.Data() == nullptr, s.capacity == 0) << s.request;
  }
}

TEST(GrowBuffer, GrowthKeepsContentAndZeroesTheNewPart) {
  engine::TGrowBuffer buffer(16);
  buffer.Reserve(10);
  std::memset(buffer.Data(), 7, 16);
  buffer.Reserve(40);
  ASSERT_EQ(buffer.Capacity(), 48u);
  EXPECT_EQ(buffer.Data()[15], 7);
  EXPECT_TRUE(std::all_of(buffer.Data() + 16, buffer.Data() + 48, [](auto b) { return b == 0; }));
}

TEST(SystemList, GrowthRule) {
  // capacity before an Add on a full list -> capacity after.
  const int expected[][2] = {{0, 4}, {4, 8}, {8, 12}, {12, 28}, {60, 76}, {64, 80}, {80, 100}};
  for (const auto& row : expected) {
    engine::TSystemList<int> list;
    list.SetCapacity(row[0]);
    list.SetCount(row[0]);
    list.Add(nullptr);
    EXPECT_EQ(list.Capacity(), row[1]) << row[0];
    EXPECT_EQ(list.Count(), row[0] + 1);
  }
}

TEST(SystemList, PresizeFillInsertDeleteAndBounds) {
  engine::TSystemList<int> list;
  int a = 1, b = 2, c = 3;
  list.SetCapacity(10);
  EXPECT_EQ(list.Capacity(), 10);
  list.SetCount(3);
  EXPECT_EQ(list[0], nullptr);
  EXPECT_EQ(list[2], nullptr);
  list.Set(1, &b);
  list.Insert(0, &a);
  list.Add(&c);
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[0], &a);
  EXPECT_EQ(list[2], &b);
  EXPECT_EQ(list.IndexOf(&c), 4);
  list.Delete(0);
  EXPECT_EQ(list[1], &b);
  EXPECT_EQ(list.Remove(&c), 3);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_THROW(list.Get(3), std::out_of_range);
  EXPECT_THROW(list.Delete(-1), std::out_of_range);
  list.SetCapacity(1);  // never below the count
  EXPECT_EQ(list.Capacity(), 3);
}

TEST(SystemList, QuickSortWithCompareFunction) {
  const std::vector<std::vector<int>> inputs = {
      {}, {1}, {2, 1}, {5, 3, 9, 1, 3, 7, 0, 3}, std::vector<int>(200, 4), {9, 8, 7, 6, 5, 4, 3}};
  for (std::vector<int> values : inputs) {
    engine::TSystemList<int> list;
    for (int& v : values) list.Add(&v);
    list.Sort([](const int* x, const int* y) { return *x < *y ? -1 : *x > *y ? 1 : 0; });
    for (int i = 1; i < list.Count(); ++i) EXPECT_LE(*list[i - 1], *list[i]);
    EXPECT_EQ(list.Count(), static_cast<int>(values.size()));
  }
  // A larger shuffled set, sorted descending.
  std::vector<int> many(5000);
  for (int i = 0; i < 5000; ++i) many[i] = (i * 7919) % 5000;
  engine::TSystemList<int> list;
  for (int& v : many) list.Add(&v);
  list.Sort([](const int* x, const int* y) { return *y - *x; });
  for (int i = 0; i < 5000; ++i) EXPECT_EQ(*list[i], 4999 - i);
}

TEST(SystemList, InconsistentComparisonNeverLeavesTheList) {
  // A comparison that calls everything smaller (or greater) than everything
  // else, itself included: the sort ends and keeps every entry.
  for (int answer : {-1, 1}) {
    std::vector<int> values(100);
    for (int i = 0; i < 100; ++i) values[i] = i;
    engine::TSystemList<int> list;
    for (int& v : values) list.Add(&v);
    list.Sort([answer](const int*, const int*) { return answer; });
    std::vector<int> seen;
    for (int i = 0; i < list.Count(); ++i) seen.push_back(*list[i]);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, values);
  }
}

}  // namespace
