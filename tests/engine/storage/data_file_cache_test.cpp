// The record cache: read-ahead in both directions, refresh rules for changed
// and pinned records, the change check on a miss, short reads, slot reuse and
// write-back outside transactions, growth inside them, runs and trimming.
#include <gtest/gtest.h>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;

class DataFileCacheTest : public TableFilesTest {
 protected:
  // The catalog (R = 530: read-ahead 123 records, cache 247 records) with
  // `rows` rows whose FileTime is the row number, written and reopened.
  void MakeRows(int rows) {
    Create(CatalogFields());
    for (int i = 1; i <= rows; ++i) AppendInt(261, i);
    Flush();
    Reopen();
  }
  std::int32_t TimeOf(std::int32_t n) {
    TRecord* r = data->GetRecord(nullptr, n);
    const std::int32_t v = bytes::GetI32(r->Data() + 262);
    data->ReleaseRecord(r);
    return v;
  }
  void SetTime(std::int32_t n, std::int32_t v) {
    TRecord* r = data->GetRecord(nullptr, n, kReadForward, false);
    bytes::PutI32(r->Data() + 262, v);
    data->MarkRecordChanged(r);
    data->ReleaseRecord(r);
  }
  std::int64_t FileSize() { return static_cast<std::int64_t>(ReadBytes(Host("Back.DAT")).size()); }
};

TEST_F(DataFileCacheTest, ReadAheadFetchesConsecutiveRecordsWithOneRead) {
  MakeRows(300);
  EXPECT_EQ(data->ReadAheadCount(), 123u);
  EXPECT_EQ(data->CacheCapacity(), 247u);

  struct Case {
    const char* what;
    std::int32_t n;
    int direction;
    bool readAhead;
    std::int32_t supplied;
    std::int32_t first, last;  // records expected in the cache afterwards
  } cases[] = {
      {"forward", 10, kReadForward, true, 0, 10, 132},
      {"backward", 200, kReadBackward, true, 0, 78, 200},
      {"near the end", 290, kReadForward, true, 0, 290, 300},
      {"no read-ahead", 50, kReadForward, false, 0, 50, 50},
      {"cursor supplies the count", 20, kReadForward, true, 5, 20, 24},
  };
  for (const Case& c : cases) {
    data->DropCache();
    const std::uint64_t reads = data->ReadCount();
    TRecord* r = data->GetRecord(nullptr, c.n, c.direction, c.readAhead, c.supplied);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Number(), c.n);
    EXPECT_EQ(bytes::GetI32(r->Data() + 262), c.n);
    EXPECT_EQ(r->pins, 1);
    data->ReleaseRecord(r);
    EXPECT_EQ(data->ReadCount(), reads + 1) << c.what;
    EXPECT_EQ(data->CachedCount(), static_cast<std::size_t>(c.last - c.first + 1)) << c.what;
    EXPECT_TRUE(data->IsCached(c.first) && data->IsCached(c.last)) << c.what;
    EXPECT_FALSE(data->IsCached(c.first - 1) || data->IsCached(c.last + 1)) << c.what;
    // Records of the block come from the cache now, without another read.
    EXPECT_EQ(TimeOf(c.last), c.last);
    EXPECT_EQ(data->ReadCount(), reads + 1) << c.what;
  }
}

TEST_F(DataFileCacheTest, BlockReadsKeepChangedAndPinnedRecords) {
  MakeRows(20);
  // Another user's version of the whole file: every FileTime + 1000.
  {
    TSimpleStorageHost otherHost;
    TDataFile other(nullptr, &otherHost);
    other.SetFileName(kData);
    other.Open();
    for (int n = 1; n <= 20; ++n) {
      TRecord* r = other.GetRecord(nullptr, n);
      bytes::PutI32(r->Data() + 262, 1000 + n);
      other.MarkRecordChanged(r);
      other.ReleaseRecord(r);
    }
    // Records 5 and 6 are cached here first: 5 changed, 6 pinned, 7 clean.
    SetTime(5, -5);
    TRecord* pinned = data->GetRecord(nullptr, 6, kReadForward, false);
    TRecord* clean = data->GetRecord(nullptr, 7, kReadForward, false);
    data->ReleaseRecord(clean);
    other.WriteBack(false);
    other.Close();
    // A block read from record 4 covers 5, 6 and 7.
    EXPECT_EQ(TimeOf(4), 1004);
    EXPECT_EQ(TimeOf(5), -5);                           // changed: kept
    EXPECT_EQ(bytes::GetI32(pinned->Data() + 262), 6);  // pinned: kept
    data->ReleaseRecord(pinned);
    EXPECT_EQ(TimeOf(7), 1007);  // clean: refreshed from the block
  }
}

TEST_F(DataFileCacheTest, MissRunsTheChangeCheckUnlessStrict) {
  MakeRows(10);
  host.changesOnMiss = true;
  EXPECT_EQ(data->GetRecord(nullptr, 3), nullptr);  // caller repeats
  EXPECT_EQ(host.missChecks, 1);
  TRecord* r = data->GetRecord(nullptr, 3);  // no changes the second time
  ASSERT_NE(r, nullptr);
  data->ReleaseRecord(r);
  EXPECT_EQ(host.missChecks, 2);
  r = data->GetRecord(nullptr, 3);  // a hit: no check
  data->ReleaseRecord(r);
  EXPECT_EQ(host.missChecks, 2);

  host.strictChangeDetection = true;  // the cursor already holds the read lock
  data->DropCache();
  r = data->GetRecord(nullptr, 3);
  ASSERT_NE(r, nullptr);
  data->ReleaseRecord(r);
  EXPECT_EQ(host.missChecks, 2);
}

TEST_F(DataFileCacheTest, ShortReadOnlyWhenNobodyElseCanHaveWritten) {
  struct Case {
    bool exclusive, transactionLock, written;
    int code;
  } cases[] = {
      {false, false, true, kErrReadFailed},  // shared table: the file is the truth
      {true, false, false, kErrReadFailed},  // exclusive but nothing written yet
      {true, false, true, 0},
      {false, true, true, 0},
  };
  for (const Case& c : cases) {
    MakeRows(5);
    // Five more rows in the cache only, then a read of record 3 whose
    // read-ahead runs into them.
    for (int i = 6; i <= 10; ++i) AppendInt(261, i);
    data->DropCache();  // forget rows 1..5 so that record 3 misses
    host.exclusive = c.exclusive;
    host.transactionLock = c.transactionLock;
    host.written = c.written;
    // Rows 6..10 were dropped too; the header still says 11. Only records
    // that came back whole are taken.
    EXPECT_EQ(EngineCodeOf([&] {
                TRecord* r = data->GetRecord(nullptr, 3);
                EXPECT_EQ(bytes::GetI32(r->Data() + 262), 3);
                data->ReleaseRecord(r);
              }),
              c.code);
    if (c.code == 0) {
      EXPECT_FALSE(data->IsCached(6));
    }
    host = TSimpleStorageHost{};
    data->DropCache();
    CloseAll();
  }
}

TEST_F(DataFileCacheTest, FullCacheReusesOrWritesBackOutsideTransactions) {
  MakeRows(600);
  // Reading beyond the capacity reuses unchanged slots: the cache stays bounded.
  for (int n = 1; n <= 600; ++n) ASSERT_EQ(TimeOf(n), n);
  EXPECT_LE(data->CachedCount(), 247u);
  // Changing more records than fit writes the older changes back on the way.
  data->DropCache();
  for (int n = 1; n <= 600; ++n) SetTime(n, -n);
  EXPECT_LE(data->CachedCount(), 247u);
  EXPECT_GT(data->WriteCount(), 0u);
  data->WriteBack(false);
  data->DropCache();
  for (int n : {1, 300, 600}) EXPECT_EQ(TimeOf(n), -n);
}

TEST_F(DataFileCacheTest, TransactionKeepsEveryChangeInMemoryUntilCommit) {
  MakeRows(1);
  const std::int64_t sizeBefore = FileSize();
  host.transactionLock = true;
  host.writeNotes = 0;
  for (int i = 2; i <= 700; ++i) AppendInt(261, i);
  EXPECT_EQ(data->CachedCount(), 699u);               // rows 2..700
  EXPECT_EQ(data->CacheCapacity(), 247u + 2 * 255u);  // grown twice by 255
  EXPECT_EQ(data->WriteCount(), 0u);
  EXPECT_EQ(host.writeNotes, 0);
  EXPECT_EQ(FileSize(), sizeBefore);

  // Commit: write back, then trim to the normal bound.
  data->WriteBack(true);
  data->WriteHeader(false, true);
  data->TrimCache();
  EXPECT_EQ(data->CacheCapacity(), 247u);
  EXPECT_EQ(data->CachedCount(), 247u);
  EXPECT_TRUE(data->IsCached(2) && data->IsCached(248) && !data->IsCached(249));
  EXPECT_EQ(FileSize(), 3967 + 700 * 530);
  EXPECT_TRUE(data->Diagnose().empty());
}

TEST_F(DataFileCacheTest, WriteBackWritesEachRunOfConsecutiveRecordsOnce) {
  MakeRows(20);
  for (int n : {2, 3, 4, 9, 11, 12}) SetTime(n, -n);
  TRecord* pinned = data->GetRecord(nullptr, 15);
  data->MarkRecordChanged(pinned);  // pinned: stays for a later write-back
  host.writeNotes = 0;
  data->WriteBack(false);
  EXPECT_EQ(data->WriteCount(), 3u);  // 2..4, 9, 11..12
  EXPECT_EQ(host.writeNotes, 3);
  data->ReleaseRecord(pinned);
  data->WriteBack(false);
  EXPECT_EQ(data->WriteCount(), 4u);
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.DAT"));
  for (int n : {2, 3, 4, 9, 11, 12}) EXPECT_EQ(bytes::GetI32(&f[3967 + (n - 1) * 530 + 262]), -n);
  EXPECT_EQ(bytes::GetI32(&f[3967 + 9 * 530 + 262]), 10);
}

}  // namespace
}  // namespace engine_test
