// A cursor's BLOB buffers after an insert or edit that failed. The record
// keeps its buffers open and modified, so that its caller may post it again;
// a caller that gives the record up discards them (DiscardBlobs, as a
// dataset's cancel and a failed statement do), and the cursor then stores
// other records' BLOBs as before. Failures shown:
//  * the write lock held by another process (10249);
//  * a failed request in the middle of writing a BLOB's chain.
// Afterwards the same cursor inserts and edits rows with BLOBs, and the table
// passes the checker with exactly the rows that succeeded.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/step_child.h"
#include "engine/errors.h"
#include "engine/storage/change_undo.h"
#include "engine/table/crash_test_util.h"
#include "engine/table/data_table.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"

namespace {

using crash_test::Content;
using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

// Larger than one block, so that every store writes a chain.
constexpr std::size_t kBlobBytes = 5000;

TDataCursor::TRecordBuffer FindRow(TDataCursor& c, const std::string& name) {
  for (c.First(); c.Next() == 0;) {
    TDataCursor::TRecordBuffer r;
    c.ReadCurrent(&r);
    if (c.GetString(r, kFileName) == name) return r;
  }
  ADD_FAILURE() << "no row " << name;
  return {};
}

// Replaces the BLOB of row `name`.
void EditBlob(TDataCursor& c, const std::string& name, const std::string& content) {
  TDataCursor::TRecordBuffer r = FindRow(c, name);
  c.PutBlob(r, kFile, content.data(), content.size());
  c.Modify(r);
}

// Posts `r` through `post`; when that fails, gives the record up
// and raises the failure.
void PostOrGiveUp(TDataCursor& c, TDataCursor::TRecordBuffer r,
                  const std::function<void(TDataCursor::TRecordBuffer&)>& post) {
  try {
    post(r);
  } catch (...) {
    c.DiscardBlobs(r);
    throw;
  }
}

void InsertOrGiveUp(TDataCursor& c, const std::string& name, std::int32_t time,
                    const std::string& content) {
  TDataCursor::TRecordBuffer r = c.NewRecord();
  c.PutString(r, kFileName, name);
  c.PutInteger(r, kFileTime, time);
  c.PutString(r, kIsZip, "N");
  c.PutString(r, kPath, "p");
  c.PutBlob(r, kFile, content.data(), content.size());
  PostOrGiveUp(c, std::move(r), [&](TDataCursor::TRecordBuffer& record) { c.Insert(record); });
}

void EditOrGiveUp(TDataCursor& c, const std::string& name, const std::string& content) {
  TDataCursor::TRecordBuffer r = FindRow(c, name);
  c.PutBlob(r, kFile, content.data(), content.size());
  PostOrGiveUp(c, std::move(r), [&](TDataCursor::TRecordBuffer& record) { c.Modify(record); });
}

// Row name -> BLOB, as a reader of the files sees them.
std::map<std::string, std::string> Rows(TDataCursor& c) {
  std::map<std::string, std::string> rows;
  TDataCursor::TRecordBuffer r;
  for (c.First(); c.Next(&r) == 0;) {
    const auto blob = c.GetBlob(r, kFile);
    rows[c.GetString(r, kFileName)] = std::string(blob.begin(), blob.end());
  }
  return rows;
}

// What the cursor does after its insert was refused.
struct NextStep {
  const char* name;
  bool insert;  // inserts row "c" again
  bool edit;    // replaces the BLOB of row "a"
};
constexpr NextStep kNextSteps[] = {
    {"insert again", true, false},
    {"edit another row", false, true},
    {"insert, then edit", true, true},
};

TEST_F(TableTest, ACursorRefusedByAnotherProcessesLockStoresBlobsAfterwards) {
  for (const NextStep& step : kNextSteps) {
    SCOPED_TRACE(step.name);
    const std::string table = std::string("T") + std::to_string(&step - kNextSteps);
    CreateCatalog(table);
    {
      auto c = OpenCursor(table);
      AddRow(*c, "a", 1, "p", Content(1, kBlobBytes));
    }
    std::unique_ptr<engine::TDataSession> childSession;
    std::unique_ptr<TDataCursor> childCursor;
    test_common::StepChild child([&](int n) -> int {
      engine_test::CountingSleep fast;  // lock retries without waiting
      if (n == 3) {
        const int open = childCursor->Blobs().OpenCount();
        childCursor->Close();
        return open;
      }
      return EngineCodeOf([&] {
        if (n == 0) {
          childSession = std::make_unique<engine::TDataSession>();
          childSession->LockRetryCount = 2;
          childSession->LockWaitTime = 1;
          childCursor =
              std::make_unique<TDataCursor>(childSession->OpenDirectory("", "D:\\Db"), table);
          childCursor->Open();
        } else if (n == 1) {
          InsertOrGiveUp(*childCursor, "c", 3, Content(3, kBlobBytes));
        } else if (n == 2) {
          if (step.insert) AddRow(*childCursor, "c", 3, "p", Content(4, kBlobBytes));
          if (step.edit) EditBlob(*childCursor, "a", Content(5, 2 * kBlobBytes));
        }
      });
    });
    ASSERT_EQ(child.Run(0), 0);

    auto c = OpenCursor(table);
    dir_->StartTransaction();
    ASSERT_TRUE(dir_->InTransaction());
    AddRow(*c, "b", 2, "p", Content(2, kBlobBytes));
    EXPECT_EQ(child.Run(1), engine::kErrLockFailed);
    dir_->Commit();
    EXPECT_EQ(child.Run(2), 0);
    EXPECT_EQ(child.Run(3), 0);  // no buffer left open
    c->Close();

    const auto report = engine::CheckTableSet(Host("Db/" + table + ".DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    std::map<std::string, std::string> expected = {
        {"a", step.edit ? Content(5, 2 * kBlobBytes) : Content(1, kBlobBytes)},
        {"b", Content(2, kBlobBytes)}};
    if (step.insert) expected["c"] = Content(4, kBlobBytes);
    auto reader = OpenCursor(table);
    EXPECT_TRUE(Rows(*reader) == expected);
  }
}

// The failed operation: an insert or an edit whose BLOB chain is written
// while a request fails.
struct FailedStore {
  const char* name;
  std::function<void(TDataCursor&)> run;
};

TEST_F(TableTest, ACursorWhoseBlobStoreFailedStoresBlobsAfterwards) {
  const FailedStore failures[] = {
      {"insert", [](TDataCursor& c) { InsertOrGiveUp(c, "x", 9, Content(9, 3 * kBlobBytes)); }},
      {"edit", [](TDataCursor& c) { EditOrGiveUp(c, "a", Content(8, 3 * kBlobBytes)); }},
  };
  // Nothing is written back between the operations: the failure is undone
  // in the caches.
  const std::size_t growth = engine::TDataTable::SetExclusiveGrowth(1000);
  for (const FailedStore& failure : failures) {
    SCOPED_TRACE(failure.name);
    const std::string table = std::string("F") + std::to_string(&failure - failures);
    CreateCatalog(table);
    {
      auto c = OpenCursor(table, true);
      AddRow(*c, "a", 1, "p", Content(1, kBlobBytes));
    }
    crash_test::CopyDirectory(Host("Db"), Host("Saved"));
    // Once without a fault: the number of requests the operation makes.
    std::uint64_t requests = 0;
    {
      auto c = OpenCursor(table, true);
      engine::ChangeFaultAt(0);
      failure.run(*c);
      requests = engine::ChangeFaultCount();
    }
    ASSERT_GT(requests, 0u);
    for (std::uint64_t k = 1; k <= requests; ++k) {
      SCOPED_TRACE("failed at request " + std::to_string(k) + " of " + std::to_string(requests));
      crash_test::CopyDirectory(Host("Saved"), Host("Db"));
      auto c = OpenCursor(table, true);
      engine::ChangeFaultAt(k);
      EXPECT_THROW(failure.run(*c), engine::EDatabaseError);
      engine::ChangeFaultAt(0);
      // The failed record was given up; the cursor goes on with others.
      EXPECT_EQ(c->Blobs().OpenCount(), 0);
      AddRow(*c, "c", 3, "p", Content(3, kBlobBytes));
      EditBlob(*c, "a", Content(5, 2 * kBlobBytes));
      AddRow(*c, "d", 4, "p", Content(6, kBlobBytes));
      c->Close();
      const auto report = engine::CheckTableSet(Host("Db/" + table + ".DAT"));
      EXPECT_TRUE(report.Ok()) << report.Describe();
      auto reader = OpenCursor(table);
      const std::map<std::string, std::string> expected = {{"a", Content(5, 2 * kBlobBytes)},
                                                           {"c", Content(3, kBlobBytes)},
                                                           {"d", Content(6, kBlobBytes)}};
      EXPECT_TRUE(Rows(*reader) == expected);
    }
  }
  engine::TDataTable::SetExclusiveGrowth(growth);
}

}  // namespace
