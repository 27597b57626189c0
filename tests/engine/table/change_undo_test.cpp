// Failed changes on an exclusive table. Such a table keeps the changes of
// many operations in its caches and writes them back later; here a few
// operations succeed without being written, and then one more fails:
//  * at each request for a record, index page or BLOB block it makes (the
//    storage layer's ChangeFaultAt, as a failed read would), or by itself (a
//    duplicate key);
//  * at each write and flush of the write-back at its end (the host layer's
//    fault plan, as a full disk would).
// Afterwards the table in memory, and after the close in its files, holds
// exactly the rows after the successful operations, byte for byte: nothing
// of the failed one, nothing earlier lost, and the checker finds it clean.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "engine/errors.h"
#include "engine/storage/change_undo.h"
#include "engine/table/crash_test_util.h"
#include "engine/table/data_table.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"
#include "platform/fault_injection.h"

namespace {

using engine::TDataCursor;
using namespace table_test;
using crash_test::Content;

// Keys of 60 characters: about 60 entries to a page, so a few dozen rows
// split pages and a few deletes merge them again.
enum Field : std::uint32_t { kKey = 1, kAlias, kNum, kData };
constexpr std::uint8_t kKeyChars = 60;

engine::TTableDefinition Definition() {
  return crash_test::KeyAliasNumData(kKeyChars);
}

// Keys in the order of their numbers.
std::string Key(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "k%05d", n);
  return std::string(text) + std::string(kKeyChars - 6, 'x');
}

void Put(TDataCursor& c, TDataCursor::TRecordBuffer& r, int key, int version, std::size_t blob) {
  c.PutString(r, kKey, Key(key));
  c.PutString(r, kAlias, "a" + std::to_string(key * 7 + version));
  c.PutInteger(r, kNum, (key * 37 + version) % 11);
  const std::string bytes = Content(key * 13 + version, blob);
  c.PutBlob(r, kData, bytes.data(), bytes.size());
}

void Insert(TDataCursor& c, int key, std::size_t blob) {
  auto r = c.NewRecord();
  Put(c, r, key, 0, blob);
  c.Insert(r);
}

TDataCursor::TRecordBuffer Find(TDataCursor& c, int key) {
  auto probe = c.NewRecord();
  c.PutString(probe, kKey, Key(key));
  EXPECT_TRUE(c.FindKey(c.BuildKey(probe), c.KeyLength())) << "no row " << key;
  TDataCursor::TRecordBuffer r;
  c.ReadCurrent(&r);
  return r;
}

void Edit(TDataCursor& c, int key, int version, std::size_t blob) {
  auto r = Find(c, key);
  Put(c, r, key, version, blob);
  c.Modify(r);
}

void Remove(TDataCursor& c, int key) {
  c.Delete(Find(c, key));
}

// What the failing operation does to the files' shape when it succeeds,
// checked once so that each case covers what its name says.
struct Shape {
  std::int32_t indexEnd = 0;
  std::int32_t blobEnd = 0;
  std::int32_t primaryFree = 0;
};

Shape ShapeOf(TDataCursor& c) {
  engine::TDataTable& t = *c.Table();
  return {t.IndexFile().EndPosition(), t.BlobFile().EndPosition(),
          t.IndexFile().FirstFree(engine::kPrimarySlot)};
}

// The key whose delete makes the last leaf underflow (found by the case's
// earlier operations).
int gMergeKey = 0;

struct UndoCase {
  const char* name;
  int rows;          // written beforehand, keys 0 .. rows - 1
  std::size_t blob;  // BLOB bytes of those rows
  // Successful operations left in memory, then the operation that fails.
  std::function<void(TDataCursor&)> before;
  std::function<void(TDataCursor&)> failing;
  // Whether the failing operation, when it succeeds, changes the shape as
  // its name says.
  std::function<bool(const Shape& before, const Shape& after)> shaped;
};

void PrintTo(const UndoCase& c, std::ostream* os) {
  *os << c.name;
}

const UndoCase kCases[] = {
    // The earlier inserts go to the same leaves; the failing one splits the
    // leaves of every index.
    {"InsertThatSplitsIndexPages", 58, 40,
     [](TDataCursor& c) {
       Insert(c, 100, 40);
       Insert(c, 101, 40);
       Edit(c, 3, 1, 40);
     },
     [](TDataCursor& c) { Insert(c, 102, 40); },
     [](const Shape& b, const Shape& a) { return a.indexEnd > b.indexEnd; }},
    {"InsertWithABlobOfManyBlocks", 10, 600,
     [](TDataCursor& c) {
       Insert(c, 20, 3000);
       Remove(c, 4);  // its blocks go to the free chain, the insert takes them
     },
     [](TDataCursor& c) { Insert(c, 21, 20000); },
     [](const Shape& b, const Shape& a) { return a.blobEnd > b.blobEnd; }},
    // The BLOB was replaced already by an earlier operation, so its blocks
    // hold unwritten changes when the failing edit reuses the chain.
    {"BlobUpdateThatGrowsTheChain", 10, 600,
     [](TDataCursor& c) {
       Edit(c, 5, 1, 3000);
       Insert(c, 30, 800);
     },
     [](TDataCursor& c) { Edit(c, 5, 2, 9000); },
     [](const Shape& b, const Shape& a) { return a.blobEnd > b.blobEnd; }},
    {"BlobUpdateThatShrinksTheChain", 10, 600,
     [](TDataCursor& c) {
       Edit(c, 5, 1, 9000);
       Insert(c, 30, 800);
     },
     [](TDataCursor& c) { Edit(c, 5, 2, 100); }, [](const Shape&, const Shape&) { return true; }},
    // 70 rows make two leaves in the primary index; the earlier deletes
    // take both down to the edge, and the failing delete merges them and
    // frees a page.
    {"DeleteThatMergesIndexPages", 70, 40,
     [](TDataCursor& c) {
       // Both leaves go down to half their capacity (the first from its
       // lowest key, the last from its highest), so that one more delete
       // from the last makes the two fit into one.
       engine::TIndexFile& index = c.Table()->IndexFile();
       int firstSpare = 0, lastSpare = 0;
       {
         engine::TPageRef root = index.RootPage(engine::kPrimarySlot);
         engine::TPageRef first = index.GetPage(engine::kPrimarySlot, root->Value(1));
         engine::TPageRef last = index.GetPage(engine::kPrimarySlot, root->Value(root->Count()));
         firstSpare = first->Count() - first->Capacity() / 2;
         lastSpare = last->Count() - last->Capacity() / 2;
       }
       for (int key = 0; key < firstSpare; ++key) Remove(c, key);
       gMergeKey = 69;
       for (; lastSpare > 0; --lastSpare) Remove(c, gMergeKey--);
     },
     [](TDataCursor& c) { Remove(c, gMergeKey); },
     [](const Shape& b, const Shape& a) { return a.primaryFree != b.primaryFree; }},
    // The key, the alias and the number change: every index moves the row.
    {"EditThatChangesTheKeysOfSeveralIndexes", 20, 40,
     [](TDataCursor& c) {
       Edit(c, 7, 1, 40);
       Insert(c, 40, 40);
     },
     [](TDataCursor& c) {
       auto r = Find(c, 7);
       Put(c, r, 41, 3, 700);
       c.Modify(r);
     },
     [](const Shape&, const Shape&) { return true; }},
};

class ChangeUndoTest : public TableTest, public ::testing::WithParamInterface<UndoCase> {
 protected:
  // Nothing is written back between the operations.
  void SetUp() override {
    TableTest::SetUp();
    growth_ = engine::TDataTable::SetExclusiveGrowth(1000);
  }
  void TearDown() override {
    engine::ChangeFaultAt(0);
    platform::ClearFaultPlan();
    engine::TDataTable::SetExclusiveGrowth(growth_);
    TableTest::TearDown();
  }

  // The rows written beforehand, saved for each run.
  void Prepare(const UndoCase& op) {
    CreateTable("T", Definition());
    {
      auto c = OpenCursor("T", true);
      for (int key = 0; key < op.rows; ++key) Insert(*c, key, op.blob);
    }
    crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  }
  std::unique_ptr<TDataCursor> OpenWithEarlierChanges(const UndoCase& op) {
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    auto c = OpenCursor("T", true);
    op.before(*c);
    return c;
  }
  // The table as an opener sees it, checked clean first.
  std::string Reopened() {
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    auto c = OpenCursor("T");
    return crash_test::DumpRows(*c);
  }

  std::size_t growth_ = 0;
};

TEST_P(ChangeUndoTest, FailingAtEachRequestLeavesTheEarlierChangesOnly) {
  const UndoCase& op = GetParam();
  Prepare(op);
  // Once without a fault: the expected states and the number of requests.
  std::string expected;
  std::uint64_t requests = 0;
  {
    auto c = OpenWithEarlierChanges(op);
    expected = crash_test::DumpRows(*c);
    const Shape before = ShapeOf(*c);
    engine::ChangeFaultAt(0);
    op.failing(*c);
    requests = engine::ChangeFaultCount();
    EXPECT_TRUE(op.shaped(before, ShapeOf(*c))) << "the operation does not do what it is named for";
    EXPECT_NE(crash_test::DumpRows(*c), expected);
  }
  ASSERT_GT(requests, 0u);
  for (std::uint64_t k = 1; k <= requests; ++k) {
    SCOPED_TRACE("failed at request " + std::to_string(k) + " of " + std::to_string(requests));
    auto c = OpenWithEarlierChanges(op);
    engine::ChangeFaultAt(k);
    bool failed = false;
    try {
      op.failing(*c);
    } catch (const engine::EDatabaseError&) {
      failed = true;
    }
    engine::ChangeFaultAt(0);
    ASSERT_TRUE(failed);
    EXPECT_EQ(crash_test::DumpRows(*c), expected) << "in memory";
    c->Close();
    EXPECT_EQ(Reopened(), expected) << "in the files";
  }
}

// The same failures, then more operations on the same cursor: the table
// goes on from the state before the failed one (a half-undone cache would
// show here as a damaged tree or a cross-linked block).
TEST_P(ChangeUndoTest, OperationsAfterAFailureWorkOnTheRestoredTable) {
  const UndoCase& op = GetParam();
  Prepare(op);
  std::string expected;
  std::uint64_t requests = 0;
  {
    auto c = OpenWithEarlierChanges(op);
    engine::ChangeFaultAt(0);
    op.failing(*c);
    requests = engine::ChangeFaultCount();
    Insert(*c, 500, 2000);
    Edit(*c, 1, 9, 1500);
    expected = crash_test::DumpRows(*c);
  }
  for (const std::uint64_t k : {std::uint64_t{1}, requests / 2, requests}) {
    SCOPED_TRACE("failed at request " + std::to_string(k) + " of " + std::to_string(requests));
    auto c = OpenWithEarlierChanges(op);
    engine::ChangeFaultAt(k);
    EXPECT_THROW(op.failing(*c), engine::EDatabaseError);
    engine::ChangeFaultAt(0);
    // As a dataset's cancel does: the failed operation's BLOB buffers go.
    c->Blobs().FreeAll();
    op.failing(*c);
    Insert(*c, 500, 2000);
    Edit(*c, 1, 9, 1500);
    EXPECT_EQ(crash_test::DumpRows(*c), expected) << "in memory";
    c->Close();
    EXPECT_EQ(Reopened(), expected) << "in the files";
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, ChangeUndoTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<UndoCase>& info) {
                           return std::string(info.param.name);
                         });

class ExclusiveFailureTest : public TableTest {
 protected:
  void TearDown() override {
    platform::ClearFaultPlan();
    TableTest::TearDown();
  }
};

// A duplicate key refuses the insert and the edit; the earlier operations
// stay.
TEST_F(ExclusiveFailureTest, DuplicateKeysLeaveTheEarlierChanges) {
  CreateTable("T", Definition());
  auto c = OpenCursor("T", true);
  for (int key = 0; key < 10; ++key) Insert(*c, key, 700);
  Edit(*c, 2, 1, 1200);
  Remove(*c, 3);
  const std::string expected = crash_test::DumpRows(*c);
  EXPECT_EQ(engine_test::EngineCodeOf([&] { Insert(*c, 2, 5000); }), engine::kErrDuplicateKey);
  auto r = Find(*c, 4);
  Put(*c, r, 5, 4, 300);
  EXPECT_EQ(engine_test::EngineCodeOf([&] { c->Modify(r); }), engine::kErrDuplicateKey);
  EXPECT_EQ(crash_test::DumpRows(*c), expected);
  c->Close();
  const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
  EXPECT_TRUE(report.Ok()) << report.Describe();
  auto reader = OpenCursor("T");
  EXPECT_EQ(crash_test::DumpRows(*reader), expected);
}

// The write-back at the end of an operation (its caches outgrew their bound)
// fails at each of its writes and flushes: the operation raises and is
// absent, every earlier operation stays in memory and reaches the files with
// the close.
TEST_F(ExclusiveFailureTest, AFailedWriteBackKeepsEveryEarlierChange) {
  CreateTable("T", Definition());
  {
    auto c = OpenCursor("T", true);
    for (int key = 0; key < 30; ++key) Insert(*c, key, 600);
  }
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  const std::size_t growth = engine::TDataTable::SetExclusiveGrowth(1000);
  const auto earlier = [](TDataCursor& c) {
    for (int key = 100; key < 140; ++key) Insert(c, key, 900);
    Edit(c, 3, 1, 4000);
    Remove(c, 5);
  };
  // The failing insert's BLOB alone outgrows the BLOB cache's bound.
  const auto failing = [](TDataCursor& c) { Insert(c, 200, 600 * 1024); };
  std::string expected;
  std::uint64_t operations = 0;
  {
    auto c = OpenCursor("T", true);
    earlier(*c);
    expected = crash_test::DumpRows(*c);
    engine::TDataTable::SetExclusiveGrowth(2);
    platform::SetFaultPlan({});
    failing(*c);
    operations = platform::FaultOperationCount();
    engine::TDataTable::SetExclusiveGrowth(1000);
    platform::ClearFaultPlan();
  }
  ASSERT_GT(operations, 0u) << "the operation wrote nothing back";
  for (std::uint64_t k = 1; k <= operations; ++k) {
    SCOPED_TRACE("failed at operation " + std::to_string(k) + " of " + std::to_string(operations));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    auto c = OpenCursor("T", true);
    earlier(*c);
    engine::TDataTable::SetExclusiveGrowth(2);
    platform::SetFaultPlan({k, platform::FaultAction::Fail});
    bool failed = false;
    try {
      failing(*c);
    } catch (const engine::EDatabaseError&) {
      failed = true;
    }
    platform::ClearFaultPlan();
    engine::TDataTable::SetExclusiveGrowth(1000);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.JNL")));
    EXPECT_EQ(crash_test::DumpRows(*c), expected) << "in memory";
    c->Close();
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    auto reader = OpenCursor("T");
    EXPECT_EQ(crash_test::DumpRows(*reader), expected) << "in the files";
  }
  engine::TDataTable::SetExclusiveGrowth(growth);
}

}  // namespace

// Adding an index fails at each request it makes: the changes kept in memory
// before it were written first, so a failure that drops the caches cannot
// take them along; the table stays as it was and checks clean.
TEST_F(ExclusiveFailureTest, AFailedIndexChangeKeepsEveryEarlierChange) {
  const std::size_t growth = engine::TDataTable::SetExclusiveGrowth(1000);
  CreateTable("T", Definition());
  auto c = OpenCursor("T", true);
  for (int key = 0; key < 40; ++key) Insert(*c, key, 700);
  Edit(*c, 2, 1, 1200);
  Remove(*c, 3);
  const std::string expected = crash_test::DumpRows(*c);
  // Runs `change` failing at its first, second, ... request until it
  // succeeds; after each failure the rows are those before it.
  const auto failAtEachRequest = [&](const char* what, const std::function<void()>& change) {
    SCOPED_TRACE(what);
    for (int k = 1; k <= 2000; ++k) {
      engine::ChangeFaultAt(k);
      try {
        change();
        engine::ChangeFaultAt(0);
        return;
      } catch (const engine::EDatabaseError&) {
      }
      engine::ChangeFaultAt(0);
      ASSERT_EQ(crash_test::DumpRows(*c), expected) << "failed at request " << k;
    }
    ADD_FAILURE() << "never succeeded";
  };
  engine::TIndexDefinition byNumKey;
  byNumKey.name = "ByNumKey";
  byNumKey.fieldNumbers = {3, 1};  // Num, Key
  failAtEachRequest("add", [&] { c->AddIndex(byNumKey); });
  // Removing an index that is not the last one moves the later slots.
  failAtEachRequest("remove", [&] { c->DeleteIndex("ByAlias"); });
  c->Close();
  engine::TDataTable::SetExclusiveGrowth(growth);
  const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
  EXPECT_TRUE(report.Ok()) << report.Describe();
  auto reader = OpenCursor("T");
  EXPECT_EQ(crash_test::DumpRows(*reader), expected);
}
