// Change detection between processes with the default session settings (no
// strict change detection): reads served from the caches go on showing what
// was read, and the committed changes of another process come in at the next
// cache miss, at a record lock and at the write lock of a change.
#include <gtest/gtest.h>

#include <memory>

#include "common/step_child.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using test_common::StepChild;
using namespace table_test;

// Num of the row with this Id (-1 when there is none), read through the
// primary index.
int NumOf(TDataCursor& c, int id) {
  if (!c.FindKey(IntKey(id), 5)) return -1;
  TDataCursor::TRecordBuffer r;
  if (c.ReadCurrent(&r) != engine::kNavOk) return -1;
  return static_cast<int>(c.GetInteger(r, kNum));
}

void SetNum(TDataCursor& c, int id, int num) {
  ASSERT_TRUE(c.FindKey(IntKey(id), 5));
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c.ReadCurrent(&r), engine::kNavOk);
  c.PutInteger(r, kNum, num);
  c.Modify(r);
}

int CountRows(TDataCursor& c) {
  c.First();
  int rows = 0;
  while (c.Next() == engine::kNavOk) ++rows;
  return rows;
}

enum ChildStep {
  kOpen,
  kReadRow1,
  kReadRow3,
  kLockRow1,
  kUnlockRow1,
  kInsertRow5,
  kCount,
  kReadRow2
};

TEST_F(TableTest, DefaultSettingsSeeOtherProcessesChangesAtMissLockAndWrite) {
  CreateTable("N", NumberedDefinition(false));
  {
    auto c = OpenCursor("N");
    for (int id = 1; id <= 3; ++id) AddNumbered(*c, id, id * 10);
  }
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> child;
  StepChild process([&](int step) -> int {
    engine_test::CountingSleep fast;
    switch (step) {
      case kOpen:
        childSession = std::make_unique<engine::TDataSession>();
        EXPECT_FALSE(childSession->StrictChangeDetection);  // the default
        child = std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "N");
        child->Open();
        return NumOf(*child, 1);
      case kReadRow1:
        return NumOf(*child, 1);
      case kReadRow3:
        return NumOf(*child, 3);
      case kLockRow1:
        return EngineCodeOf([&] {
          ASSERT_TRUE(child->FindKey(IntKey(1), 5));
          child->LockRecord();
        });
      case kUnlockRow1:
        return EngineCodeOf([&] { child->UnlockRecord(); });
      case kInsertRow5:
        return EngineCodeOf([&] { AddNumbered(*child, 5, 50); });
      case kCount:
        return CountRows(*child);
      case kReadRow2:
        return NumOf(*child, 2);
      default:
        return -1;
    }
  });
  ASSERT_EQ(process.Run(kOpen), 10);  // row 1 and its index page are cached there

  auto c = OpenCursor("N");
  SetNum(*c, 1, 11);
  SetNum(*c, 3, 33);
  // A read the caches answer shows what was read; row 3 was never read there:
  // its miss finds the new counters, drops the caches and reads both anew.
  EXPECT_EQ(process.Run(kReadRow1), 10);
  EXPECT_EQ(process.Run(kReadRow3), 33);
  EXPECT_EQ(process.Run(kReadRow1), 11);

  // A record lock refreshes the table before it is granted.
  SetNum(*c, 1, 12);
  EXPECT_EQ(process.Run(kReadRow1), 11);
  EXPECT_EQ(process.Run(kLockRow1), 0);
  EXPECT_EQ(process.Run(kReadRow1), 12);
  EXPECT_EQ(process.Run(kUnlockRow1), 0);

  // The write lock of an insert refreshes too: the child's row joins the
  // parent's new row and change instead of writing over them.
  SetNum(*c, 2, 22);
  AddNumbered(*c, 4, 40);
  EXPECT_EQ(process.Run(kInsertRow5), 0);
  EXPECT_EQ(process.Run(kCount), 5);
  EXPECT_EQ(process.Run(kReadRow2), 22);
  // The parent in its turn sees the child's row at its next record lock.
  ASSERT_TRUE(c->FindKey(IntKey(1), 5));
  c->LockRecord();
  c->UnlockRecord();
  EXPECT_EQ(CountRows(*c), 5);
  EXPECT_EQ(NumOf(*c, 4), 40);
  EXPECT_EQ(NumOf(*c, 5), 50);
}

}  // namespace
