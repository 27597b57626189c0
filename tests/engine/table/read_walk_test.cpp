// A walk under one read lock (TReadWalk) between processes: it reads one
// state of the table while another process's writes are refused; without a
// walk every read checks for changes again; a writer that waits for a walk
// is let in between two rows, and the walk goes on with the new state; a
// walk takes no lock where none is needed and gives back only its own.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/step_child.h"
#include "engine/table/read_walk.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine::TReadWalk;
using engine_test::EngineCodeOf;
using test_common::StepChild;
using namespace table_test;

const std::string kLongA(3000, 'a');  // several blocks

// "name=content " for each row from the cursor's position on.
std::string RowsFromHere(TDataCursor& c) {
  std::string out;
  TDataCursor::TRecordBuffer r;
  while (c.Next(&r) == engine::kNavOk) {
    const std::vector<std::uint8_t> blob = c.GetBlob(r, kFile);
    const std::string content(blob.begin(), blob.end());
    out += c.GetString(r, kFileName) + "=" + (content == kLongA ? "A" : content) + " ";
  }
  return out;
}

std::string AllRows(TDataCursor& c) {
  c.First();
  return RowsFromHere(c);
}

enum ChildStep { kOpen, kInsertD, kRewriteB };

class ReadWalkTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateCatalog();
    auto c = OpenCursor();
    AddRow(*c, "a", 1, "p", kLongA);
    AddRow(*c, "b", 1, "p", "bee");
    AddRow(*c, "c", 1, "p", "sea");
  }
  // The other process: opens the catalog, inserts "d", gives "b" new content.
  // With `fast` a refused lock fails at once instead of after 25 seconds.
  std::unique_ptr<StepChild> Child(bool fast) {
    return std::make_unique<StepChild>([this, fast](int step) -> int {
      std::unique_ptr<engine_test::CountingSleep> noWait;
      if (fast) noWait = std::make_unique<engine_test::CountingSleep>();
      switch (step) {
        case kOpen:
          childCursor_.reset();
          childSession_ = std::make_unique<engine::TDataSession>();
          childCursor_ =
              std::make_unique<TDataCursor>(childSession_->OpenDirectory("", "D:\\Db"), "Back");
          childCursor_->Open();
          return 0;
        case kInsertD:
          return EngineCodeOf([&] { AddRow(*childCursor_, "d", 1, "p", "dee"); });
        case kRewriteB:
          return EngineCodeOf([&] {
            TDataCursor& c = *childCursor_;
            c.First();
            TDataCursor::TRecordBuffer r;
            while (c.Next(&r) == engine::kNavOk && c.GetString(r, kFileName) != "b") {
            }
            c.PutBlob(r, kFile, "new bee", 7);
            c.Modify(r);
          });
        default:
          return -1;
      }
    });
  }

  std::unique_ptr<engine::TDataSession> childSession_;
  std::unique_ptr<TDataCursor> childCursor_;
};

TEST_F(ReadWalkTest, AWalkReadsOneStateAndReadsWithoutOneSeeLaterChanges) {
  auto child = Child(true);
  ASSERT_EQ(child->Run(kOpen), 0);
  auto c = OpenCursor();
  engine::TDataTable& table = *c->Table();
  {
    TReadWalk walk(*c);
    EXPECT_TRUE(walk.Holding());
    c->First();
    std::string seen;
    TDataCursor::TRecordBuffer r;
    while (c->Next(&r) == engine::kNavOk) {
      seen += c->GetString(r, kFileName) + " ";
      EXPECT_EQ(c->GetBlob(r, kFile).size(), c->GetString(r, kFileName) == "a" ? 3000u : 3u);
      EXPECT_FALSE(table.HoldsReadLock()) << "no lock of its own per row";
      EXPECT_EQ(child->Run(kInsertD), engine::kErrLockFailed);
    }
    EXPECT_EQ(seen, "a b c ");
    EXPECT_EQ(AllRows(*c), "a=A b=bee c=sea ");
  }
  EXPECT_FALSE(table.HoldsQueryReadLock());

  // No walk: the other process writes, and the next reads (the BLOB read's
  // cache miss checks the files) find its changes. (It opens the table
  // afresh: a cursor whose insert was refused fails its next change.)
  ASSERT_EQ(child->Run(kOpen), 0);
  ASSERT_EQ(child->Run(kRewriteB), 0);
  ASSERT_EQ(child->Run(kInsertD), 0);
  EXPECT_EQ(AllRows(*c), "a=A b=new bee c=sea d=dee ");
  EXPECT_FALSE(table.HoldsQueryReadLock());
}

TEST_F(ReadWalkTest, AWaitingWriterIsLetInBetweenTwoRows) {
  auto child = Child(false);  // its lock attempts retry every 3 ms
  ASSERT_EQ(child->Run(kOpen), 0);
  auto c = OpenCursor();
  TReadWalk walk(*c, std::chrono::milliseconds(0));
  c->First();
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c->Next(&r), engine::kNavOk);
  EXPECT_FALSE(walk.LetWritersIn()) << "nobody waits";

  ASSERT_TRUE(child->Start(kInsertD));
  EXPECT_FALSE(child->Answered(100)) << "the writer waits for the walk";
  bool letIn = false;
  for (int i = 0; i < 1000 && !child->Answered(5); ++i) letIn = walk.LetWritersIn() || letIn;
  ASSERT_TRUE(child->Answered(0));
  EXPECT_EQ(child->Answer(), 0);
  EXPECT_TRUE(letIn);
  EXPECT_TRUE(walk.Holding());
  // The walk goes on after its row "a" and finds the row written meanwhile.
  EXPECT_EQ(RowsFromHere(*c), "b=bee c=sea d=dee ");
}

// Where no lock is needed, or the cursor already holds it, the walk takes
// nothing and releases nothing.
TEST_F(ReadWalkTest, AWalkTakesAndGivesBackOnlyWhatItNeeds) {
  struct Case {
    const char* what;
    bool exclusive;
    bool lockedBefore;
    bool walkHolds;
  };
  const Case cases[] = {
      {"shared table", false, false, true},
      {"exclusive table", true, false, false},
      {"lock already held", false, true, false},
  };
  for (const Case& k : cases) {
    auto c = OpenCursor("Back", k.exclusive);
    if (k.lockedBefore) c->QueryReadLock();
    {
      TReadWalk walk(*c);
      EXPECT_EQ(walk.Holding(), k.walkHolds) << k.what;
      EXPECT_EQ(AllRows(*c), "a=A b=bee c=sea ") << k.what;
      EXPECT_FALSE(walk.LetWritersIn()) << k.what;
    }
    EXPECT_EQ(c->Table()->HoldsQueryReadLock(), k.lockedBefore) << k.what;
    if (k.lockedBefore) c->QueryReadUnlock();
  }
}

}  // namespace
