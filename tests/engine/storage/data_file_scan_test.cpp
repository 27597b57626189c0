// TDataFile::ScanRecords, the sequential read path of unindexed filters: it
// must see exactly what GetRecord would (unwritten changes, appended and
// deleted records of a transaction, deciphered records of an encrypted
// table), read each window of records once, leave the cache alone, stop when
// the change check drops the caches, and refuse files shorter than their
// header says.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/errors.h"
#include "engine/storage/data_file_fixture.h"
#include "engine/storage/records_bitmap.h"

namespace engine_test {
namespace {

using namespace engine;

// The catalog table: R = 530, so a window holds 65535 / 530 = 123 records and
// the cache 247. FileTime (value bytes at 262) holds the row number.
constexpr std::uint16_t kTimeSlot = 261;
constexpr std::size_t kTimeValue = 262;
constexpr std::int32_t kWindow = 123;

struct Visit {
  std::int32_t time = 0;
  std::uint8_t status = 0;
  std::int32_t link = 0;
};

class DataFileScanTest : public TableFilesTest {
 protected:
  void MakeRows(int rows, bool encrypted = false) {
    Create(CatalogFields(), encrypted);
    for (int i = 1; i <= rows; ++i) AppendInt(kTimeSlot, i);
    Flush();
    Reopen();
  }
  // Visits in order; fails the test when a record comes twice or out of order.
  std::map<std::int32_t, Visit> Scan(const TRecordsBitmap& which, bool* complete = nullptr) {
    std::map<std::int32_t, Visit> seen;
    std::int32_t previous = 0;
    const bool done = data->ScanRecords(nullptr, which, [&](std::int32_t n, const std::uint8_t* r) {
      EXPECT_GT(n, previous) << "records must come once, ascending";
      previous = n;
      seen[n] = {bytes::GetI32(r + kTimeValue), r[kRecordStatusOffset],
                 bytes::GetI32(r + kRecordLinkOffset)};
    });
    if (complete != nullptr) *complete = done;
    return seen;
  }
  static TRecordsBitmap All(std::uint32_t size) {
    TRecordsBitmap b(size);
    b.SetAll();
    return b;
  }
  void SetTime(std::int32_t n, std::int32_t v) {
    TRecord* r = data->GetRecord(nullptr, n, kReadForward, false);
    bytes::PutI32(r->Data() + kTimeValue, v);
    data->MarkRecordChanged(r);
    data->ReleaseRecord(r);
  }
};

TEST_F(DataFileScanTest, ReadsEachWindowOnceAndLeavesTheCacheAlone) {
  MakeRows(400);
  // Records 200..322 are cached by an ordinary read-ahead.
  data->ReleaseRecord(data->GetRecord(nullptr, 200));
  const std::size_t cached = data->CachedCount();
  ASSERT_EQ(cached, static_cast<std::size_t>(kWindow));

  struct Case {
    const char* what;
    std::uint32_t size;
    std::vector<std::int32_t> bits;  // empty: every record 1..size
    std::vector<std::int32_t> expected;
    std::uint64_t reads;
  } cases[] = {
      {"every record, four windows", 400, {}, {}, 4},
      {"sparse bits, one window each", 400, {3, 180, 399}, {3, 180, 399}, 3},
      {"only cached records need no read", 400, {200, 201, 260, 322}, {200, 201, 260, 322}, 0},
      {"bits past the last record are ignored", 500, {398, 400, 401, 450}, {398, 400}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TRecordsBitmap which(c.size);
    std::vector<std::int32_t> expected = c.expected;
    if (c.bits.empty()) {
      which.SetAll();
      for (std::int32_t n = 1; n <= 400; ++n) expected.push_back(n);
    }
    for (std::int32_t n : c.bits) which.Set(n);
    const std::uint64_t before = data->ReadCount();
    bool complete = false;
    const auto seen = Scan(which, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(data->ReadCount() - before, c.reads);
    std::vector<std::int32_t> numbers;
    for (const auto& [n, v] : seen) {
      numbers.push_back(n);
      EXPECT_EQ(v.time, n);
      EXPECT_EQ(v.link, n);  // a record in use carries its own number
    }
    EXPECT_EQ(numbers, expected);
    EXPECT_EQ(data->CachedCount(), cached);
    EXPECT_FALSE(data->IsCached(1));
  }
}

TEST_F(DataFileScanTest, UnwrittenChangesOfATransactionWinAndARollbackForgetsThem) {
  MakeRows(400);
  host.exclusive = false;
  host.transactionLock = true;  // changes stay in the cache, which grows
  host.written = true;
  SetTime(5, -5);
  SetTime(130, -130);
  // More appended records than the cache's normal capacity, none on disk.
  for (int i = 401; i <= 1000; ++i) AppendInt(kTimeSlot, i);
  TRecord* gone = data->GetRecord(nullptr, 250, kReadForward, false);
  data->FreeRecord(gone);
  data->ReleaseRecord(gone);
  ASSERT_GT(data->CachedCount(), 600u);
  ASSERT_EQ(ReadBytes(Host("Back.DAT")).size(),
            static_cast<std::size_t>(data->RecordPosition(401)));

  const auto seen = Scan(All(1000));
  ASSERT_EQ(seen.size(), 1000u);
  for (const auto& [n, v] : seen) {
    SCOPED_TRACE(n);
    if (n == 250) {
      EXPECT_EQ(v.status, kRecordDeleted);
      EXPECT_EQ(v.link, 0);  // the chain was empty
    } else {
      EXPECT_EQ(v.status, kRecordInUse);
      EXPECT_EQ(v.time, n == 5 || n == 130 ? -n : n);
    }
  }

  // Rollback: drop the caches and reload the header.
  data->DropCache();
  data->ReadHeader();
  const auto after = Scan(All(1000));
  ASSERT_EQ(after.size(), 400u);
  for (const auto& [n, v] : after) {
    EXPECT_EQ(v.time, n);
    EXPECT_EQ(v.status, kRecordInUse);
  }
}

TEST_F(DataFileScanTest, EncryptedRecordsAreDecipheredAndCachedOnesAreNot) {
  MakeRows(300, true);
  SetTime(7, 777);  // a changed record in the cache is plain text already
  data->ReleaseRecord(data->GetRecord(nullptr, 150));  // 150..272 cached, unchanged
  const auto seen = Scan(All(300));
  ASSERT_EQ(seen.size(), 300u);
  for (const auto& [n, v] : seen) {
    SCOPED_TRACE(n);
    EXPECT_EQ(v.time, n == 7 ? 777 : n);
    EXPECT_EQ(v.status, kRecordInUse);
    EXPECT_EQ(v.link, n);
  }
}

TEST_F(DataFileScanTest, ChangeCheckAndShortFiles) {
  struct Case {
    const char* what;
    bool strict;
    bool changesOnMiss;
    bool exclusiveWritten;
    std::int32_t claimedRecords;  // next record number - 1 patched into the header
    bool complete;
    int code;  // raised engine code, 0 for none
    int missChecks;
  } cases[] = {
      {"the check runs before each read", false, false, false, 130, true, 0, 2},
      {"strict detection: the cursor checked already", true, false, false, 130, true, 0, 0},
      {"dropped caches stop the scan", false, true, false, 130, false, 0, 1},
      {"a short file nobody explains", false, false, false, 135, true, kErrReadFailed, 2},
      {"records neither on disk nor cached", false, false, true, 135, true, kErrRecordBufferCorrupt,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host = TSimpleStorageHost{};
    std::filesystem::remove(Host("Back.DAT"));
    std::filesystem::remove(Host("Back.BLB"));
    MakeRows(130);
    CloseAll();
    PatchI32(Host("Back.DAT"), data_header::kNextRecord, c.claimedRecords + 1);
    Reopen();
    host.strictChangeDetection = c.strict;
    host.changesOnMiss = c.changesOnMiss;
    host.exclusive = c.exclusiveWritten;
    host.written = c.exclusiveWritten;
    host.missChecks = 0;
    std::size_t visited = 0;
    bool complete = false;
    const int code = EngineCodeOf([&] {
      complete = data->ScanRecords(nullptr, All(static_cast<std::uint32_t>(c.claimedRecords)),
                                   [&](std::int32_t, const std::uint8_t*) { ++visited; });
    });
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(host.missChecks, c.missChecks);
    if (c.code == 0) {
      EXPECT_EQ(complete, c.complete);
      EXPECT_EQ(visited, c.complete ? 130u : 0u);
    }
    CloseAll();
  }
}

}  // namespace
}  // namespace engine_test
