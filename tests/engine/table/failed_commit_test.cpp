// A commit that fails (the write range refused because another process holds
// a reader slot, a write or flush that fails, a full disk) raises the
// engine's error and leaves the table in its transaction; the rollback that
// follows drops the caches, reloads the headers and releases the locks as
// for a transaction that never tried to commit. The files hold the state
// before the commit, the table checks clean, and the table works on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "common/step_child.h"
#include "engine/table/crash_test_util.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"
#include "platform/fault_injection.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

// The catalog with a secondary index on Path.
engine::TTableDefinition IndexedCatalog() {
  engine::TTableDefinition d = CatalogDefinition();
  engine::TIndexDefinition byPath;
  byPath.name = "ByPath";
  byPath.fieldNumbers = {kPath};
  d.indexes.push_back(byPath);
  return d;
}

std::string Blob(int seed, std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + seed * 7) & 0xFF);
  return s;
}

class FailedCommitTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateTable("Back", IndexedCatalog());
    auto c = OpenCursor();
    for (int i = 0; i < 8; ++i)
      AddRow(*c, "f" + std::to_string(i), i, "p" + std::to_string(i % 3),
             Blob(i, 3000 + 700 * static_cast<std::size_t>(i)));
  }
  void TearDown() override {
    platform::ClearFaultPlan();
    TableTest::TearDown();
  }
  std::string Dump() {
    auto c = OpenCursor();
    return crash_test::DumpRows(*c);
  }
  // Inserts, grows a BLOB and deletes a row: every file of the set changes.
  static void Change(TDataCursor& c) {
    AddRow(c, "new", 100, "q", Blob(100, 50000));
    c.First();
    TDataCursor::TRecordBuffer r;
    ASSERT_EQ(c.Next(&r), 0);
    const std::string grown = Blob(101, 20000);
    c.PutBlob(r, kFile, grown.data(), grown.size());
    c.Modify(r);
    c.First();
    ASSERT_EQ(c.Next(&r), 0);
    ASSERT_EQ(c.Next(&r), 0);
    c.Delete(r);
  }
  void ExpectClean() {
    const auto report = engine::CheckTableSet(Host("Db/Back.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
  }
};

// The fault of the review: with a reader slot held elsewhere the commit is
// refused (10249), and the rollback must still forget the insert and free
// the table for other processes.
TEST_F(FailedCommitTest, RefusedWriteLockThenRollbackRollsBack) {
  engine_test::CountingSleep fast;
  std::unique_ptr<engine::TDataSession> childSession;
  std::unique_ptr<TDataCursor> childCursor;
  test_common::StepChild child([&](int step) -> int {
    engine_test::CountingSleep childFast;
    if (step == 0) {
      childSession = std::make_unique<engine::TDataSession>();
      childSession->StrictChangeDetection = true;
      childCursor =
          std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), "Back");
      childCursor->Open();
      childCursor->QueryReadLock();  // holds reader slots of the index and BLOB files
      return 0;
    }
    if (step == 1) {
      childCursor->QueryReadUnlock();
      return 0;
    }
    if (step == 2) {  // can this process take the table's write byte?
      engine::TDataDirectory* dir = childCursor->Table()->Directory();
      dir->StartTransaction();
      const bool took = dir->InTransaction();
      dir->Rollback();
      return took ? 1 : 0;
    }
    if (step == 3) return static_cast<int>(crash_test::DumpRows(*childCursor).size());
    return -1;
  });
  const std::string before = Dump();
  auto c = OpenCursor();
  dir_->StartTransaction();
  Change(*c);
  ASSERT_EQ(child.Run(0), 0);
  EXPECT_EQ(EngineCodeOf([&] { dir_->Commit(); }), engine::kErrLockFailed);
  EXPECT_TRUE(dir_->InTransaction());
  dir_->Rollback();
  EXPECT_FALSE(dir_->InTransaction());
  EXPECT_FALSE(c->Table()->InTransaction());
  EXPECT_FALSE(c->Table()->HoldsTransactionLock());
  EXPECT_FALSE(c->Table()->HoldsWriteLock());
  EXPECT_EQ(crash_test::DumpRows(*c), before) << "the rolled-back changes are still seen";
  ASSERT_EQ(child.Run(1), 0);
  EXPECT_EQ(child.Run(2), 1) << "another process cannot take the write byte";
  // A later change reaches the disk alone.
  AddRow(*c, "later", 200, "r", "x");
  c.reset();
  auto check = OpenCursor();
  EXPECT_EQ(static_cast<std::size_t>(child.Run(3)), crash_test::DumpRows(*check).size());
  EXPECT_NE(crash_test::DumpRows(*check).find("later"), std::string::npos);
  EXPECT_EQ(crash_test::DumpRows(*check).find("new"), std::string::npos);
  check.reset();
  ExpectClean();
}

// A write or flush failing at each operation of the commit: once (a passing
// fault) and from there on until the rollback (a disk that stays full; the
// files are put back by the rollback or, at the latest, the next opener).
TEST_F(FailedCommitTest, WriteErrorAtEachOperationThenRollback) {
  const std::string before = Dump();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  std::uint64_t operations = 0;
  {
    auto c = OpenCursor();
    dir_->StartTransaction();
    Change(*c);
    platform::SetFaultPlan({});
    dir_->Commit();
    operations = platform::FaultOperationCount();
  }
  ASSERT_GE(operations, 5u);
  const std::string after = Dump();
  for (const bool sticky : {false, true}) {
    for (std::uint64_t at = 1; at <= operations; ++at) {
      SCOPED_TRACE((sticky ? "failing from operation " : "failing at operation ") +
                   std::to_string(at));
      crash_test::CopyDirectory(Host("Saved"), Host("Db"));
      {
        auto c = OpenCursor();
        dir_->StartTransaction();
        Change(*c);
        platform::SetFaultPlan({at, platform::FaultAction::Fail, platform::FaultKind::All, sticky});
        EXPECT_EQ(EngineCodeOf([&] { dir_->Commit(); }), engine::kErrWriteFailed);
        EXPECT_TRUE(dir_->InTransaction());
        try {
          dir_->Rollback();
        } catch (const engine::EDatabaseError&) {
          // A disk still full may refuse the rollback's own writes.
        }
        platform::ClearFaultPlan();
        EXPECT_FALSE(c->Table()->HoldsTransactionLock());
        EXPECT_EQ(crash_test::DumpRows(*c), before);
      }
      EXPECT_EQ(Dump(), before);
      ExpectClean();
      // The table works on: the same change commits whole.
      {
        auto c = OpenCursor();
        dir_->StartTransaction();
        Change(*c);
        dir_->Commit();
      }
      EXPECT_EQ(Dump(), after);
    }
  }
}

// A full disk for real: a file-size limit in a child (SIGXFSZ ignored, so
// writes past it fail with EFBIG). The commit of a large BLOB fails with
// 9218, the rollback restores, and nothing committed earlier is lost.
TEST_F(FailedCommitTest, FileSizeLimitDuringCommit) {
  const std::string before = Dump();
  std::uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(Host("Db"))) total += e.file_size();
  const crash_test::ChildEnd end = crash_test::RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = total + 64 * 1024;  // room for the journal, not the BLOB
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return -3;
    engine::TDataSession session;
    TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
    c.Open();
    engine::TDataDirectory* dir = c.Table()->Directory();
    dir->StartTransaction();
    AddRow(c, "huge", 300, "q", Blob(300, 2 << 20));
    const int code = EngineCodeOf([&] { dir->Commit(); });
    if (!dir->InTransaction()) return -4;
    dir->Rollback();
    if (crash_test::DumpRows(c) != before) return -5;
    return code;
  });
  ASSERT_FALSE(end.killed);
  EXPECT_EQ(end.answer, engine::kErrWriteFailed);
  EXPECT_EQ(Dump(), before);
  ExpectClean();
}

}  // namespace
