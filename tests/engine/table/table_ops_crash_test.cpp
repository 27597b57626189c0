// Emptying, sorting and packing a table and restoring its index backup, cut
// short by a crash: a child process runs the operation and is killed at each
// of its writes and flushes (through the host layer's fault injection). After
// every kill the table opens, the checker finds it clean, no journal or
// emptying intent is left, and the table is byte for byte (in key order and
// in physical order) as it was before the operation or as it is after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "engine/errors.h"
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

// Runs `operation` under `plan` and answers how many file operations it
// made: negative when it raised the engine's error.
int OperationsUnder(const platform::FaultPlan& plan, const std::function<void()>& operation) {
  platform::SetFaultPlan(plan);
  int raised = 0;
  try {
    operation();
  } catch (const engine::EDatabaseError&) {
    raised = 1;
  }
  const int counted = static_cast<int>(platform::FaultOperationCount());
  platform::ClearFaultPlan();
  return raised != 0 ? -counted : counted;
}

engine::TIndexDefinition ByTime() {
  engine::TIndexDefinition d;
  d.name = "ByTime";
  d.fieldNumbers = {kFileTime};
  return d;
}

// The catalog with the secondary index ByTime over FileTime.
engine::TTableDefinition CatalogWithTimeIndex() {
  engine::TTableDefinition d = CatalogDefinition();
  d.indexes.push_back(ByTime());
  return d;
}

struct OpCase {
  const char* name;
  engine::TTableDefinition definition;
  int rows;  // 250 make an index file longer than one copy chunk (64 KB)
  // Run on an exclusive cursor after the rows are in.
  std::function<void(TDataCursor&)> prepare;
  bool exclusive;  // the operation needs an exclusive cursor
  std::function<void(TDataCursor&)> operation;
  // The state compared includes the index file byte for byte (a restore
  // leaves exactly the old file or exactly the backup).
  bool indexBytes;
};

void PrintTo(const OpCase& c, std::ostream* os) {
  *os << c.name;
}

const OpCase kCases[] = {
    {"EmptyWithBlobsAndASecondaryIndex", CatalogWithTimeIndex(), 12, [](TDataCursor&) {}, true,
     [](TDataCursor& c) { c.EmptyTable(); }, false},
    {"EmptyInsideATransaction", CatalogWithTimeIndex(), 12, [](TDataCursor&) {}, true,
     [](TDataCursor& c) {
       engine::TDataDirectory* dir = c.Table()->Directory();
       dir->StartTransaction();
       c.EmptyTable();
       dir->Commit();
     },
     false},
    // The index grew by an index after its backup: the restored file is
    // shorter than the one it replaces.
    {"RestoreAShorterIndex", CatalogDefinition(), 250,
     [](TDataCursor& c) {
       c.Table()->BackupIndex();
       c.AddIndex(ByTime());
     },
     false, [](TDataCursor& c) { c.Table()->RestoreIndex(false, false); }, true},
    // An index was dropped after the backup: the restored file brings it back.
    {"RestoreADroppedIndex", CatalogWithTimeIndex(), 250,
     [](TDataCursor& c) {
       c.Table()->BackupIndex();
       c.DeleteIndex("ByTime");
     },
     false, [](TDataCursor& c) { c.Table()->RestoreIndex(false, true); }, true},
    // A physical sort that also packs out deleted records, of a table whose
    // data file is larger than the record cache (so the sort writes run
    // files and merges them) and whose indexes are all rebuilt.
    {"SortAndPack", CatalogWithTimeIndex(), 250,
     [](TDataCursor& c) {
       for (int k = 0; k < 40; ++k) {
         c.First();
         for (int step = 0; step < (k * 7) % 50; ++step) c.Next();
         TDataCursor::TRecordBuffer r;
         if (c.ReadCurrent(&r) == 0) c.Delete(r);
       }
     },
     true,
     [](TDataCursor& c) {
       c.SortTable({{kFileTime, false}, {kFileName, true}});
     },
     false},
};

class TableOpsCrashTest : public TableTest, public ::testing::WithParamInterface<OpCase> {
 protected:
  void TearDown() override {
    platform::ClearFaultPlan();
    TableTest::TearDown();
  }
  // The rows, byte for byte, and the secondary indexes of T, opened the way
  // a user opens it after a crash; with `indexBytes` the index file too.
  std::string State(bool indexBytes) {
    std::string state;
    {
      auto c = OpenCursor("T");
      state = crash_test::DumpRows(*c) +
              "|secondary indexes: " + std::to_string(c->Table()->IndexFile().SecondaryCount());
    }
    {
      // The physical order too: a sort changes nothing else.
      TDataCursor c(dir_, "T");
      engine::TCursorOptions o;
      o.naturalOrder = true;
      c.SetOptions(o);
      c.Open();
      state += "|natural order: " + crash_test::DumpRows(c);
    }
    if (indexBytes) {
      std::ifstream in(Host("Db/T.IDX"), std::ios::binary);
      state += "|index file: " + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return state;
  }
  // In a child with a session of its own: opens T, runs `operation` under
  // `plan` and answers the operations counted.
  ChildEnd InChild(const OpCase& op, const platform::FaultPlan& plan) {
    return RunInChild([&] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      engine::TCursorOptions o;
      o.exclusive = op.exclusive;
      c.SetOptions(o);
      c.Open();
      platform::SetFaultPlan(plan);
      op.operation(c);
      return static_cast<int>(platform::FaultOperationCount());
    });
  }
  void ExpectClean() {
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.JNL")));
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.EMP")));
  }
};

TEST_P(TableOpsCrashTest, KilledAtEveryWriteAndFlushLeavesTheStateBeforeOrAfter) {
  const OpCase& op = GetParam();
  CreateTable("T", op.definition);
  {
    auto c = OpenCursor("T", true);
    for (int i = 0; i < op.rows; ++i) {
      AddRow(*c, "file" + std::to_string(i), 1000 - i, "C:\\src\\",
             Content(i, 300 + 2500 * static_cast<std::size_t>(i % 12)));
    }
    op.prepare(*c);
  }
  ExpectClean();
  const std::string before = State(op.indexBytes);
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));

  const ChildEnd counted = InChild(op, {});
  ASSERT_FALSE(counted.killed);
  ASSERT_GT(counted.answer, 0);
  const std::string after = State(op.indexBytes);
  ASSERT_NE(after, before);
  ExpectClean();

  for (int k = 1; k <= counted.answer; ++k) {
    SCOPED_TRACE("killed at operation " + std::to_string(k) + " of " +
                 std::to_string(counted.answer));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd end = InChild(op, {static_cast<std::uint64_t>(k), platform::FaultAction::Kill});
    ASSERT_TRUE(end.killed);
    // Every other time the checker comes first: it must mend the set the way
    // an opener does before it judges it.
    if (k % 2 == 0) ExpectClean();
    const std::string seen = State(op.indexBytes);
    EXPECT_TRUE(seen == before || seen == after)
        << "neither the state before nor the state after the operation";
    ExpectClean();
    // The table takes rows again.
    {
      auto c = OpenCursor("T");
      AddRow(*c, "new", 1, "C:\\new\\", Content(99, 7000));
    }
    ExpectClean();
  }
}

INSTANTIATE_TEST_SUITE_P(TableOps, TableOpsCrashTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OpCase>& info) {
                           return std::string(info.param.name);
                         });

// An emptying killed after its intent file is on disk, on files that are
// then made read-only: the opener cannot finish it and says so with 11013,
// leaving N.EMP; once the files may be written again, an opener that asks
// only to read finishes it all the same.
TEST_F(TableTest, AnInterruptedEmptyingOnReadOnlyFilesIsNamedThenFinished) {
  CreateTable("T", CatalogWithTimeIndex());
  {
    auto c = OpenCursor("T");
    for (int i = 0; i < 6; ++i) AddRow(*c, "f" + std::to_string(i), i, "C:\\", Content(i, 4000));
  }
  const ChildEnd end = RunInChild([] {
    engine::TDataSession session;
    TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    c.Open();
    // The intent file is created and written; its flush is next.
    platform::SetFaultPlan({2, platform::FaultAction::Kill});
    c.EmptyTable();
    return 0;
  });
  ASSERT_TRUE(end.killed);
  ASSERT_TRUE(std::filesystem::exists(Host("Db/T.EMP")));
  const std::string files[] = {"Db/T.DAT", "Db/T.IDX", "Db/T.BLB"};
  auto setReadOnly = [&](bool readOnly) {
    for (const std::string& f : files) {
      std::filesystem::permissions(
          Host(f), std::filesystem::perms::owner_write,
          readOnly ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add);
    }
  };
  setReadOnly(true);
  std::string message;
  try {
    auto opened = OpenCursor("T");
    ADD_FAILURE() << "opened over an emptying it cannot finish";
  } catch (const engine::EZORVADEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), engine::kErrAccessDenied);
    message = e.Message();
  }
  EXPECT_NE(message.find("interrupted emptying (.EMP)"), std::string::npos) << message;
  EXPECT_TRUE(std::filesystem::exists(Host("Db/T.EMP"))) << "kept for a writer";
  setReadOnly(false);
  {
    auto c = std::make_unique<TDataCursor>(dir_, "T");
    engine::TCursorOptions o;
    o.readOnly = true;
    c->SetOptions(o);
    c->Open();
    EXPECT_EQ(c->RecordCount(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(Host("Db/T.EMP")));
  const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

// A write or flush of an emptying refused (a full disk) at each point: a
// refusal before the intent file is on disk leaves the table as it was and
// raises; one after it is tried once more, and when the disk stays full the
// error is raised and the intent left for the next opener. Either way the
// table is whole and before or after.
TEST_F(TableTest, AnEmptyingWithARefusedWriteOrFlushEndsBeforeOrAfter) {
  struct Case {
    const char* name;
    bool sticky;  // every later operation is refused too
  };
  const Case cases[] = {{"refused once", false}, {"refused from then on", true}};
  CreateTable("T", CatalogWithTimeIndex());
  {
    auto c = OpenCursor("T");
    for (int i = 0; i < 6; ++i) AddRow(*c, "f" + std::to_string(i), i, "C:\\", Content(i, 4000));
  }
  auto rows = [&] {
    auto c = OpenCursor("T");
    return crash_test::DumpRows(*c);
  };
  const std::string before = rows();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  auto empty = [](const platform::FaultPlan& plan) {
    return RunInChild([plan] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      engine::TCursorOptions o;
      o.exclusive = true;
      c.SetOptions(o);
      c.Open();
      return OperationsUnder(plan, [&] { c.EmptyTable(); });
    });
  };
  const ChildEnd counted = empty({});
  ASSERT_GT(counted.answer, 0);
  const std::string after = rows();
  ASSERT_NE(after, before);
  for (const Case& c : cases) {
    for (int k = 1; k <= counted.answer; ++k) {
      SCOPED_TRACE(std::string(c.name) + " at operation " + std::to_string(k));
      crash_test::CopyDirectory(Host("Saved"), Host("Db"));
      platform::FaultPlan plan;
      plan.at = static_cast<std::uint64_t>(k);
      plan.action = platform::FaultAction::Fail;
      plan.sticky = c.sticky;
      const ChildEnd end = empty(plan);
      ASSERT_FALSE(end.killed);
      const std::string seen = rows();
      EXPECT_TRUE(seen == before || seen == after);
      // Raised only when it had to be: before the intent, or a full disk.
      if (end.answer > 0) {
        EXPECT_EQ(seen, after);
      }
      if (!c.sticky && end.answer < 0) {
        EXPECT_EQ(seen, before);
      }
      EXPECT_FALSE(std::filesystem::exists(Host("Db/T.EMP")));
      const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
      EXPECT_TRUE(report.Ok()) << report.Describe();
    }
  }
}

// An emptying whose writes are refused for good after its intent file is on
// disk raises and leaves N.EMP. The process then writes nothing more to the
// table until the emptying is finished: while the disk stays full a change
// is refused (and so cannot be emptied away later by the opener that
// finishes the emptying); once there is room again the next change first
// finishes the emptying and then goes in, and stays.
TEST_F(TableTest, AnEmptyingRefusedForGoodBlocksChangesUntilItIsFinished) {
  CreateTable("T", CatalogWithTimeIndex());
  {
    auto c = OpenCursor("T");
    for (int i = 0; i < 6; ++i) AddRow(*c, "f" + std::to_string(i), i, "C:\\", Content(i, 4000));
  }
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  const std::string intent = Host("Db/T.EMP");
  enum Answer { kEmptied = 1, kRefusedBeforeIntent, kChangeRefused, kChangeMade };
  // In a child: the emptying refused from operation `k` on; when it leaves
  // its intent, an insert with the disk still full (`roomAgain` false) or
  // after room was made, then the close.
  auto run = [&](std::uint64_t k, bool roomAgain) {
    return RunInChild([&, k, roomAgain] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      engine::TCursorOptions o;
      o.exclusive = true;
      c.SetOptions(o);
      c.Open();
      platform::FaultPlan plan;
      plan.at = k;
      plan.action = platform::FaultAction::Fail;
      plan.sticky = true;
      platform::SetFaultPlan(plan);
      try {
        c.EmptyTable();
        platform::ClearFaultPlan();
        return static_cast<int>(kEmptied);
      } catch (const engine::EDatabaseError&) {
      }
      if (!std::filesystem::exists(intent)) return static_cast<int>(kRefusedBeforeIntent);
      if (roomAgain) platform::ClearFaultPlan();
      int answer = kChangeMade;
      try {
        AddRow(c, "late", 7, "C:\\late\\", Content(70, 9000));
      } catch (const engine::EDatabaseError&) {
        answer = kChangeRefused;
      }
      try {
        c.Close();
      } catch (const engine::EDatabaseError&) {
      }
      return answer;
    });
  };
  std::string lateRow;
  {
    auto c = OpenCursor("T", true);
    c->EmptyTable();
    AddRow(*c, "late", 7, "C:\\late\\", Content(70, 9000));
    lateRow = crash_test::DumpRows(*c);
  }
  int leftBehind = 0;
  for (std::uint64_t k = 1;; ++k) {
    SCOPED_TRACE("refused from operation " + std::to_string(k));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd full = run(k, false);
    ASSERT_FALSE(full.killed);
    if (full.answer == kEmptied) break;  // past the emptying's last operation
    if (full.answer == kRefusedBeforeIntent) continue;
    ++leftBehind;
    EXPECT_EQ(full.answer, kChangeRefused) << "a change over an unfinished emptying";
    EXPECT_TRUE(std::filesystem::exists(intent));
    {
      auto c = OpenCursor("T");  // finishes the emptying
      EXPECT_EQ(crash_test::DumpRows(*c), "");
    }
    EXPECT_FALSE(std::filesystem::exists(intent));

    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd room = run(k, true);
    ASSERT_FALSE(room.killed);
    EXPECT_EQ(room.answer, kChangeMade);
    EXPECT_FALSE(std::filesystem::exists(intent)) << "the change did not finish the emptying";
    {
      auto c = OpenCursor("T");
      EXPECT_EQ(crash_test::DumpRows(*c), lateRow) << "the change made after room was lost";
    }
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
  }
  EXPECT_GT(leftBehind, 0) << "no refusal left the intent behind";
}

// A write or flush of an index restore refused (a full disk) at each point:
// the restore raises and the index is the old one, byte for byte, or it
// succeeds; with a disk that stays full the journal left behind is rolled
// back by the next opener.
TEST_F(TableTest, AnIndexRestoreWithARefusedWriteOrFlushEndsBeforeOrAfter) {
  CreateTable("T", CatalogDefinition());
  {
    auto c = OpenCursor("T", true);
    for (int i = 0; i < 250; ++i) {
      AddRow(*c, "file" + std::to_string(i), i, "C:\\src\\", Content(i, 100));
    }
    c->Table()->BackupIndex();
    c->AddIndex(ByTime());
  }
  auto indexFile = [&] {
    {
      auto c = OpenCursor("T");  // rolls back what a failed restore left
    }
    std::ifstream in(Host("Db/T.IDX"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = indexFile();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  auto restore = [](const platform::FaultPlan& plan) {
    return RunInChild([plan] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      c.Open();
      return OperationsUnder(plan, [&] { c.Table()->RestoreIndex(false, false); });
    });
  };
  const ChildEnd counted = restore({});
  ASSERT_GT(counted.answer, 0);
  const std::string after = indexFile();
  ASSERT_NE(after, before);
  for (const bool sticky : {false, true}) {
    for (int k = 1; k <= counted.answer; ++k) {
      SCOPED_TRACE(std::string(sticky ? "refused from then on" : "refused once") +
                   " at operation " + std::to_string(k));
      crash_test::CopyDirectory(Host("Saved"), Host("Db"));
      platform::FaultPlan plan;
      plan.at = static_cast<std::uint64_t>(k);
      plan.action = platform::FaultAction::Fail;
      plan.sticky = sticky;
      const ChildEnd end = restore(plan);
      ASSERT_FALSE(end.killed);
      const std::string seen = indexFile();
      EXPECT_EQ(seen, end.answer < 0 ? before : after);
      EXPECT_FALSE(std::filesystem::exists(Host("Db/T.JNL")));
      const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
      EXPECT_TRUE(report.Ok()) << report.Describe();
    }
  }
}

}  // namespace
