// Changes made outside any transaction, cut short by a crash. The changes
// overflow the caches (index pages of wide keys, a BLOB larger than the BLOB
// cache), which once made a cache write its own file back in the middle of a
// change. A child process runs the changes and is killed at each write and
// flush (through the host layer's fault injection). After every kill the
// table opens, the checker finds it clean, and its rows are byte for byte
// those after some whole number of the changes: a change is whole or absent
// and nothing earlier is lost.
//
// The default suite kills at a spread of points of each run; ORV_CRASH_LOOPS=
// full kills at every one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/table/crash_test_util.h"
#include "engine/table/data_table.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"
#include "platform/fault_injection.h"

namespace {

using engine::TDataCursor;
using namespace table_test;
using crash_test::ChildEnd;
using crash_test::Content;
using crash_test::RunInChild;

// Wide keys: about 30 entries to an index page, so a few hundred rows fill
// more pages than an index's cache holds outside a transaction.
enum WideField : std::uint32_t { kKey = 1, kAlias, kNum, kData };
constexpr std::uint8_t kWideKeyChars = 120;

engine::TTableDefinition WideDefinition() {
  return crash_test::KeyAliasNumData(kWideKeyChars);
}

// A key-sized text of letters, different for every seed from its first
// characters on.
std::string Text(int seed) {
  const std::string bytes = Content(seed, kWideKeyChars);
  std::string text;
  for (const char ch : bytes) text += static_cast<char>('a' + static_cast<unsigned char>(ch) % 26);
  return text;
}

void PutWide(TDataCursor& c, TDataCursor::TRecordBuffer& r, int key, int version,
             std::size_t blobBytes) {
  c.PutString(r, kKey, Text(key));
  c.PutString(r, kAlias, Text(100000 + key * 7 + version));
  c.PutInteger(r, kNum, (key * 37 + version) % 101);
  const std::string blob = Content(key * 13 + version, blobBytes);
  c.PutBlob(r, kData, blob.data(), blob.size());
}

void InsertWide(TDataCursor& c, int key, std::size_t blobBytes) {
  auto r = c.NewRecord();
  PutWide(c, r, key, 0, blobBytes);
  c.Insert(r);
}

// Moves to the row with `key` and returns it.
TDataCursor::TRecordBuffer Find(TDataCursor& c, int key) {
  auto probe = c.NewRecord();
  c.PutString(probe, kKey, Text(key));
  EXPECT_TRUE(c.FindKey(c.BuildKey(probe), c.KeyLength())) << "no row " << key;
  TDataCursor::TRecordBuffer r;
  c.ReadCurrent(&r);
  return r;
}

std::vector<int> Shuffled(int first, int count, unsigned seed) {
  std::vector<int> keys;
  for (int i = 0; i < count; ++i) keys.push_back(first + i);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(seed));
  return keys;
}

struct ChangeCase {
  const char* name;
  int rows;          // rows put in beforehand, keys 0 .. rows - 1
  bool exclusive;    // the changes run on an exclusive cursor
  std::size_t blob;  // BLOB bytes of each row put in beforehand
  // The table is written back between two of the changes (an exclusive
  // table's caches outgrow their bound), so some kill must leave a state
  // after some but not all changes.
  bool midway;
  // The changes, calling `done` after each one.
  std::function<void(TDataCursor&, const std::function<void()>& done)> changes;
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
  *os << c.name;
}

const ChangeCase kCases[] = {
    // Each insert splits pages now and then. The exclusive cursor keeps its
    // changes in memory until its caches have grown past their bound (here
    // the index caches), and then writes the set back between two inserts,
    // during the run and at the close.
    {"InsertsThatSplitIndexPages", 500, true, 40, true,
     [](TDataCursor& c, const std::function<void()>& done) {
       for (const int key : Shuffled(500, 80, 11)) {
         InsertWide(c, key, 2000);
         done();
       }
     }},
    {"DeletesThatMergeIndexPages", 300, true, 40, false,
     [](TDataCursor& c, const std::function<void()>& done) {
       for (const int key : Shuffled(0, 200, 12)) {
         c.Delete(Find(c, key));
         done();
       }
     }},
    // Every edit moves the row in both secondary indexes and replaces its
    // BLOB by a longer one (here the BLOB cache outgrows its bound).
    {"EditsOfRowsWithSeveralIndexes", 200, true, 40, true,
     [](TDataCursor& c, const std::function<void()>& done) {
       int version = 1;
       for (const int key : Shuffled(0, 60, 13)) {
         auto r = Find(c, key);
         PutWide(c, r, key, version++, 6000);
         c.Modify(r);
         done();
       }
     }},
    // One insert through a shared cursor whose BLOB is larger than the BLOB
    // cache, into a table with two secondary indexes.
    {"ASharedInsertWithABlobLargerThanTheCache", 20, false, 3000, false,
     [](TDataCursor& c, const std::function<void()>& done) {
       InsertWide(c, 5000, 700 * 1024);
       done();
     }},
    // One edit that grows a BLOB chain past the cache and then one that cuts
    // another back.
    {"SharedEditsThatGrowAndShrinkLongBlobs", 20, false, 200 * 1024, true,
     [](TDataCursor& c, const std::function<void()>& done) {
       auto r = Find(c, 3);
       PutWide(c, r, 3, 1, 600 * 1024);
       c.Modify(r);
       done();
       r = Find(c, 7);
       PutWide(c, r, 7, 1, 10);
       c.Modify(r);
       done();
     }},
};

// Kill points: all with ORV_CRASH_LOOPS=full, otherwise the first and last
// few and an even spread between them.
std::vector<std::uint64_t> KillPoints(std::uint64_t count) {
  constexpr std::uint64_t kEdge = 4;
  constexpr std::uint64_t kSpread = 20;
  std::set<std::uint64_t> points;
  for (std::uint64_t k = 1; k <= count; ++k) {
    const bool edge = k <= kEdge || k + kEdge > count;
    if (crash_test::FullCrashLoops() || edge || count <= kSpread || k % (count / kSpread) == 0)
      points.insert(k);
  }
  return {points.begin(), points.end()};
}

class ChangeCrashTest : public TableTest, public ::testing::WithParamInterface<ChangeCase> {
 protected:
  // The smallest bound: an exclusive table writes back as soon as a cache
  // has grown to twice its size, so that small runs reach the write-back.
  void SetUp() override {
    TableTest::SetUp();
    growth_ = engine::TDataTable::SetExclusiveGrowth(2);
  }
  void TearDown() override {
    platform::ClearFaultPlan();
    engine::TDataTable::SetExclusiveGrowth(growth_);
    TableTest::TearDown();
  }
  std::size_t growth_ = 0;
  std::unique_ptr<TDataCursor> Open(bool exclusive, engine::TDataDirectory* dir) {
    auto c = std::make_unique<TDataCursor>(dir, "T");
    engine::TCursorOptions o;
    o.exclusive = exclusive;
    c->SetOptions(o);
    c->Open();
    return c;
  }
  // The table's rows as a user sees them after opening it.
  std::string Dump() {
    auto c = OpenCursor("T");
    return crash_test::DumpRows(*c);
  }
  void ExpectClean() {
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.JNL")));
  }
  // In a child with a session of its own: the changes under `plan`, then the
  // close (an exclusive cursor writes back there); answers the operations
  // counted.
  ChildEnd InChild(const ChangeCase& op, const platform::FaultPlan& plan) {
    return RunInChild([&] {
      engine::TDataSession session;
      auto c = Open(op.exclusive, session.OpenDirectory("", "D:\\Db"));
      platform::SetFaultPlan(plan);
      op.changes(*c, [] {});
      c->Close();
      return static_cast<int>(platform::FaultOperationCount());
    });
  }
};

TEST_P(ChangeCrashTest, KilledAtWritesAndFlushesLeavesWholeChangesOnly) {
  const ChangeCase& op = GetParam();
  CreateTable("T", WideDefinition());
  {
    auto c = OpenCursor("T", true);
    for (int key = 0; key < op.rows; ++key) InsertWide(*c, key, op.blob);
  }
  ExpectClean();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));

  // The state after each whole number of changes, as the changing cursor
  // itself reads it (the changes find their rows by key, wherever the
  // cursor stands).
  std::set<std::string> states;
  std::string before, after;
  {
    auto c = Open(op.exclusive, dir_);
    before = crash_test::DumpRows(*c);
    states.insert(before);
    op.changes(*c, [&] {
      after = crash_test::DumpRows(*c);
      states.insert(after);
    });
  }
  ASSERT_GT(states.size(), 1u);
  crash_test::CopyDirectory(Host("Saved"), Host("Db"));

  const ChildEnd counted = InChild(op, {});
  ASSERT_FALSE(counted.killed);
  ASSERT_GT(counted.answer, 0);
  EXPECT_EQ(states.count(Dump()), 1u) << "the uninterrupted run ends elsewhere";
  ExpectClean();

  bool sawMidway = false;
  for (const std::uint64_t k : KillPoints(static_cast<std::uint64_t>(counted.answer))) {
    SCOPED_TRACE("killed at operation " + std::to_string(k) + " of " +
                 std::to_string(counted.answer));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd end = InChild(op, {k, platform::FaultAction::Kill});
    ASSERT_TRUE(end.killed);
    // Every other time the checker comes first: it mends the set the way an
    // opener does before it judges it.
    if (k % 2 == 0) ExpectClean();
    const std::string seen = Dump();
    EXPECT_EQ(states.count(seen), 1u) << "a change is there in part";
    sawMidway = sawMidway || (seen != before && seen != after && states.count(seen) == 1);
    ExpectClean();
  }
  if (op.midway) {
    EXPECT_TRUE(sawMidway) << "no kill fell between two write-backs";
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangeCrashTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
