// The table object between processes and within one: a transaction blocks
// another process's writes but not its reads, committed changes become
// visible through change detection, record locks conflict, and a rollback
// restores the table exactly.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/step_child.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

// Counts the rows by walking them (each step is a read operation).
int CountRows(TDataCursor& c) {
  c.First();
  int rows = 0;
  while (c.Next() == 0) ++rows;
  return rows;
}

using test_common::StepChild;

TEST_F(TableTest, TwoProcessesTransactionsChangeDetectionAndRecordLocks) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    AddRow(*c, "a", 1, "p", "first");
  }
  // The child's own session, directory and cursor, opened at its first step.
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> childCursor;
  StepChild child([&](int step) -> int {
    engine_test::CountingSleep fast;  // lock retries without waiting
    if (step == 0) {
      childSession = std::make_unique<engine::TDataSession>();
      childSession->StrictChangeDetection = true;
      childSession->LockRetryCount = 2;
      childSession->LockWaitTime = 1;
      childCursor =
          std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "Back");
      childCursor->Open();
      return CountRows(*childCursor);
    }
    if (step == 1) return CountRows(*childCursor);
    if (step == 2) return EngineCodeOf([&] { AddRow(*childCursor, "c", 3, "p", "child"); });
    if (step == 3) {
      childCursor->First();
      childCursor->Next();
      return EngineCodeOf([&] { childCursor->LockRecord(); });
    }
    return -1;
  });
  ASSERT_EQ(child.Run(0), 1);

  auto c = OpenCursor();
  dir_->StartTransaction();
  ASSERT_TRUE(dir_->InTransaction());
  AddRow(*c, "b", 2, "p", "second");
  // Reads go on and see the table as it was; writes wait and then fail.
  EXPECT_EQ(child.Run(1), 1);
  EXPECT_EQ(child.Run(2), engine::kErrLockFailed);
  dir_->Commit();
  EXPECT_EQ(child.Run(1), 2);
  // Record 1 ("a") locked here is refused there after its retries.
  c->First();
  ASSERT_EQ(c->Next(), 0);
  c->LockRecord();
  EXPECT_EQ(child.Run(3), engine::kErrRecordLocked);
  c->UnlockRecord();
  EXPECT_EQ(child.Run(3), 0);
}

// Inside a transaction nothing reaches the files before the commit, so the
// changes take no lock that readers of another process could meet; only the
// commit needs the write ranges (a commit refused by a reader is covered in
// failed_commit_test.cpp).
TEST_F(TableTest, TransactionChangesDoNotWaitForReaders) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    AddRow(*c, "a", 1, "p", "first");
  }
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> childCursor;
  StepChild child([&](int step) -> int {
    engine_test::CountingSleep fast;
    if (step == 0) {
      childSession = std::make_unique<engine::TDataSession>();
      childSession->StrictChangeDetection = true;
      childCursor =
          std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "Back");
      childCursor->Open();
      childCursor->QueryReadLock();  // holds reader slots of the index and BLOB files
      return CountRows(*childCursor);
    }
    if (step == 1) {
      childCursor->QueryReadUnlock();
      return CountRows(*childCursor);
    }
    if (step == 2) return CountRows(*childCursor);
    return -1;
  });
  ASSERT_EQ(child.Run(0), 1);

  engine_test::CountingSleep sleeps;
  auto c = OpenCursor();
  dir_->StartTransaction();
  ASSERT_TRUE(dir_->InTransaction());
  AddRow(*c, "b", 2, "p", "second");
  AddRow(*c, "c", 3, "p", std::string(3000, 'c'));
  EXPECT_TRUE(sleeps.sleeps.empty()) << "a change inside the transaction waited for a reader";
  EXPECT_EQ(child.Run(1), 1);  // the files still hold the table as before the transaction
  dir_->Commit();
  EXPECT_TRUE(sleeps.sleeps.empty());
  EXPECT_EQ(child.Run(2), 3);
}

TEST_F(TableTest, RecordLockedByAnotherCursorIsRefusedAtOnce) {
  CreateCatalog();
  auto a = OpenCursor();
  AddRow(*a, "a", 1, "p", "x");
  auto b = OpenCursor();
  engine_test::CountingSleep sleeps;
  a->LockRecord();
  b->First();
  ASSERT_EQ(b->Next(), 0);
  EXPECT_EQ(EngineCodeOf([&] { b->LockRecord(); }), engine::kErrRecordLocked);
  EXPECT_TRUE(sleeps.sleeps.empty());
  a->UnlockRecord();
  EXPECT_EQ(EngineCodeOf([&] { b->LockRecord(); }), 0);
  b->UnlockRecord();
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(TableTest, RollbackRestoresTheTableExactly) {
  CreateCatalog();
  auto c = OpenCursor();
  AddRow(*c, "a", 1, "p", std::string(700, 'a'));
  AddRow(*c, "b", 2, "p", "bb");
  const std::string dat = FileBytes(Host("Db/Back.DAT"));
  const std::string idx = FileBytes(Host("Db/Back.IDX"));
  const std::string blb = FileBytes(Host("Db/Back.BLB"));
  const auto dataHeader = c->Table()->DataFile().Header();
  std::int32_t before[3];
  c->Table()->ChangeCounters(before);

  dir_->StartTransaction();
  AddRow(*c, "c", 3, "p", std::string(2000, 'c'));
  c->First();
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c->Next(&r), 0);
  c->Delete(r);
  EXPECT_EQ(CountRows(*c), 2);
  dir_->Rollback();

  std::int32_t after[3];
  c->Table()->ChangeCounters(after);
  EXPECT_TRUE(std::equal(before, before + 3, after));
  EXPECT_EQ(c->Table()->DataFile().Header(), dataHeader);
  EXPECT_EQ(FileBytes(Host("Db/Back.DAT")), dat);
  EXPECT_EQ(FileBytes(Host("Db/Back.IDX")), idx);
  EXPECT_EQ(FileBytes(Host("Db/Back.BLB")), blb);
  EXPECT_EQ(CountRows(*c), 2);
  c->First();
  ASSERT_EQ(c->Next(&r), 0);
  EXPECT_EQ(c->GetString(r, kFileName), "a");
  EXPECT_EQ(c->GetBlob(r, kFile).size(), 700u);
  c->Close();
  EXPECT_TRUE(engine::CheckTableSet("D:\\Db\\Back").Ok());
}

TEST_F(TableTest, TransactionWritesNothingUntilCommit) {
  CreateCatalog();
  auto c = OpenCursor();
  const auto size = std::filesystem::file_size(Host("Db/Back.DAT"));
  dir_->StartTransaction();
  for (int i = 0; i < 50; ++i) AddRow(*c, "f" + std::to_string(i), i, "p", std::string(600, 'z'));
  EXPECT_EQ(std::filesystem::file_size(Host("Db/Back.DAT")), size);
  dir_->Commit();
  EXPECT_GT(std::filesystem::file_size(Host("Db/Back.DAT")), size);
  c->Close();
  const auto report = engine::CheckTableSet("D:\\Db\\Back");
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.liveRecords, 50);
}

}  // namespace
