// The cursor's query read lock between processes: held across several reads
// it keeps another process's writes out (its write lock is refused) while
// reads, its own and the other process's, go on; released, the writer gets in; taken again, the
// cursor sees the change and keeps its current record.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "common/step_child.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

using test_common::StepChild;

// The names of the rows in key order, read one fetch at a time.
std::string Names(TDataCursor& c) {
  c.First();
  std::string out;
  TDataCursor::TRecordBuffer r;
  while (c.Next(&r) == 0) out += c.GetString(r, kFileName) + " ";
  return out;
}

enum ChildStep { kOpen, kInsert, kCount, kWalk };

TEST_F(TableTest, QueryReadLockKeepsOtherProcessesWritesOutUntilReleased) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    AddRow(*c, "b", 1, "p", "bee");
    AddRow(*c, "c", 1, "p", "sea");
  }
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> childCursor;
  int inserted = 0;
  StepChild child([&](int step) -> int {
    engine_test::CountingSleep fast;  // lock retries without waiting
    switch (step) {
      case kOpen:
        childSession = std::make_unique<engine::TDataSession>();
        childSession->StrictChangeDetection = true;  // every read takes a reader slot
        childCursor =
            std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "Back");
        childCursor->Open();
        return 0;
      case kInsert:
        return EngineCodeOf([&] {
          AddRow(*childCursor, "a" + std::to_string(inserted), 1, "p", "new");
          ++inserted;
        });
      case kCount:
        return static_cast<int>(childCursor->RecordCount());
      case kWalk: {
        int rows = 0;
        childCursor->First();
        while (childCursor->Next() == 0) ++rows;
        return rows;
      }
      default:
        return -1;
    }
  });
  ASSERT_EQ(child.Run(kOpen), 0);

  auto c = OpenCursor();
  c->SetRecordPosition(1);  // on "b"
  c->QueryReadLock();
  engine::TDataTable& table = *c->Table();
  EXPECT_TRUE(table.HoldsQueryReadLock());
  for (int read = 0; read < 3; ++read) {
    EXPECT_EQ(Names(*c), "b c ");
    EXPECT_TRUE(table.HoldsQueryReadLock()) << read;
    EXPECT_FALSE(table.HoldsReadLock()) << read;  // no lock of its own per read
    EXPECT_EQ(child.Run(kInsert), engine::kErrLockFailed) << read;
    EXPECT_EQ(child.Run(kWalk), 2) << read;  // readers do not keep each other out
  }
  ASSERT_EQ(c->SetRecordPosition(1), 0);
  c->QueryReadUnlock();
  EXPECT_FALSE(table.HoldsQueryReadLock());

  // Released: the other process writes "a0" before "b".
  ASSERT_EQ(child.Run(kInsert), 0);
  EXPECT_EQ(child.Run(kCount), 3);
  // Taken again, the lock finds the change: the view has the new row and
  // the cursor is still on "b", now the second record.
  c->QueryReadLock();
  EXPECT_EQ(c->RecordCount(), 3);
  EXPECT_EQ(c->RecordPosition(), 2);
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c->ReadCurrent(&r), 0);
  EXPECT_EQ(c->GetString(r, kFileName), "b");
  EXPECT_EQ(child.Run(kInsert), engine::kErrLockFailed);
  c->QueryReadUnlock();
  EXPECT_EQ(child.Run(kInsert), 0);
  EXPECT_EQ(child.Run(kCount), 4);
}

// Where no lock is needed nothing is taken, and release is harmless.
TEST_F(TableTest, QueryReadLockIsNotTakenOnAnExclusiveTable) {
  CreateCatalog();
  auto c = OpenCursor("Back", true);
  AddRow(*c, "a", 1, "p", "x");
  c->QueryReadLock();
  EXPECT_FALSE(c->Table()->HoldsQueryReadLock());
  EXPECT_EQ(Names(*c), "a ");
  c->QueryReadUnlock();
  c->QueryReadUnlock();
  EXPECT_EQ(c->RecordCount(), 1);
}

// A cursor closed while it holds the query read lock (a statement that failed
// half-way) gives it back, though the table stays open for another cursor.
TEST_F(TableTest, ClosingACursorGivesBackItsQueryReadLock) {
  CreateCatalog();
  auto keeper = OpenCursor();
  auto c = OpenCursor();
  c->QueryReadLock();
  ASSERT_TRUE(keeper->Table()->HoldsQueryReadLock());
  c->Close();
  EXPECT_FALSE(keeper->Table()->HoldsQueryReadLock());
  AddRow(*keeper, "a", 1, "p", "x");  // no reader slot of our own in the way
  EXPECT_EQ(keeper->RecordCount(), 1);
}

}  // namespace
