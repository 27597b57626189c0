// Unindexed filters over a shared table, where the sequential scan meets the
// table's locking and transactions: a writer in another process changes
// records this process holds stale in its cache (the next scan must notice
// and start again), a writer cannot change the table between two windows of
// one scan, and a transaction's inserts, changes and deletes are counted
// until a rollback forgets them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "common/step_child.h"
#include "engine/errors.h"
#include "engine/sql/filter.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;

// Id INTEGER (primary key), Num INTEGER (no index), Name CHAR(8): R = 28, so
// one window of the scan holds 65535 / 28 = 2340 records.
constexpr int kRows = 5000;  // three windows
constexpr int kNumModulus = 10;
constexpr int kMatches = kRows / kNumModulus;  // rows with Num = 3

using table_test::AddNumbered;
using table_test::IntKey;
using table_test::kId;
using table_test::kName;
using table_test::kNum;

engine::TTableDefinition Definition() {
  return table_test::NumberedDefinition(false);
}

void Add(TDataCursor& c, int id, int num) {
  AddNumbered(c, id, num);
}

void SetNum(TDataCursor& c, int id, int num) {
  ASSERT_TRUE(c.FindKey(IntKey(id), 5));
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c.ReadCurrent(&r), engine::kNavOk);
  c.ReadCurrent(&r, true, &r);
  c.PutInteger(r, kNum, num);
  c.Modify(r);
}

void Remove(TDataCursor& c, int id) {
  ASSERT_TRUE(c.FindKey(IntKey(id), 5));
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c.ReadCurrent(&r), engine::kNavOk);
  c.Delete(r);
}

// The visible count of a freshly installed filter (so that it is built by a
// scan, not kept up by the cursor's own changes).
std::int64_t FreshCount(TDataCursor& c, const std::string& text) {
  engine::TFilterHandle f = c.Filters().AddText(text, {});
  c.Filters().Activate(f);
  const std::int64_t n = c.RecordCount();
  c.Filters().Remove(f);
  return n;
}

using test_common::StepChild;

class FilterScanTableTest : public table_test::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateTable("T", Definition());
    auto c = OpenCursor("T", true);
    for (int id = 1; id <= kRows; ++id) Add(*c, id, id % kNumModulus);
  }
};

TEST_F(FilterScanTableTest, AnotherProcessesChangesAreSeenAndCannotSplitAScan) {
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> childCursor;
  StepChild child([&](int step) -> int {
    engine_test::CountingSleep fast;  // lock retries without waiting
    if (step == 0) {
      childSession = std::make_unique<engine::TDataSession>();
      childCursor = std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "T");
      childCursor->Open();
      return 0;
    }
    // Record 1 (cached by the parent) and record 4001 (in the last window) pass.
    if (step == 1)
      return engine_test::EngineCodeOf([&] {
        SetNum(*childCursor, 1, 3);
        SetNum(*childCursor, 4001, 3);
      });
    if (step == 2) return engine_test::EngineCodeOf([&] { SetNum(*childCursor, 2, 3); });
    return -1;
  });
  ASSERT_EQ(child.Run(0), 0);

  auto c = OpenCursor("T");
  c->First();
  ASSERT_EQ(c->Next(), engine::kNavOk);  // record 1 and its neighbours now cached
  EXPECT_EQ(FreshCount(*c, "Num = 3"), kMatches);

  EXPECT_EQ(child.Run(1), 0);
  // The scan's first read finds the changed counters, drops the stale cache
  // and starts again: both changed records are counted.
  EXPECT_EQ(FreshCount(*c, "Num = 3"), kMatches + 2);

  // While a scan runs, the table is read-locked from its first read to its
  // end: a write attempted between two windows is refused.
  int answer = -1;
  engine::TFilterHandle f = c->Filters().AddProcedure(
      [&](void*, const std::vector<std::uint8_t>&, std::int32_t n) {
        if (n == 3000) answer = child.Run(2);
        return true;
      },
      nullptr, {});
  c->Filters().Activate(f);
  EXPECT_EQ(c->RecordCount(), kRows);
  EXPECT_EQ(answer, engine::kErrLockFailed);
  c->Filters().Remove(f);
  EXPECT_EQ(FreshCount(*c, "Num = 3"), kMatches + 2);
}

TEST_F(FilterScanTableTest, TransactionChangesCountUntilARollback) {
  auto c = OpenCursor("T");
  EXPECT_EQ(FreshCount(*c, "Num = 3"), kMatches);
  dir_->StartTransaction();
  // Appended rows that pass: more than one window, none of them on disk.
  for (int id = kRows + 1; id <= kRows + 3000; ++id) Add(*c, id, 3);
  Remove(*c, 3);
  Remove(*c, 13);
  SetNum(*c, 4, 3);
  SetNum(*c, 4003, 4);
  const std::int64_t expected = kMatches + 3000 - 2 + 1 - 1;
  EXPECT_EQ(FreshCount(*c, "Num = 3"), expected);
  EXPECT_EQ(FreshCount(*c, "Num <> 3"), kRows + 3000 - 2 - expected);
  dir_->Rollback();
  EXPECT_EQ(FreshCount(*c, "Num = 3"), kMatches);
  EXPECT_EQ(FreshCount(*c, "Num <> 3"), kRows - kMatches);
}

}  // namespace
