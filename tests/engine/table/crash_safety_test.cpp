// Commits cut short by a crash: a child process is killed at each write and
// flush of a commit (through the host layer's fault injection), or by
// SIGKILL at random moments of a long run of commits. After every kill the
// table opens, the checker finds it clean, every earlier row is
// byte-identical, and the interrupted commit is there whole or not at all.
//
// The default suite kills at every point of the small commits and at a few
// points of the large ones, and at 12 random moments; ORV_CRASH_LOOPS=full
// kills at every point of every commit and at 200 random moments.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "common/step_child.h"
#include "engine/table/crash_test_util.h"
#include "engine/table/table_check.h"
#include "engine/table/table_repair.h"
#include "engine/table/table_test_util.h"
#include "platform/fault_injection.h"

namespace {

using engine::TDataCursor;
using namespace table_test;
using crash_test::ChildEnd;
using crash_test::Content;
using crash_test::RunInChild;

void PutCatalogRow(TDataCursor& c, int id, std::size_t blobBytes) {
  auto r = c.NewRecord();
  c.PutString(r, kFileName, "file" + std::to_string(id));
  c.PutInteger(r, kFileTime, id);
  c.PutString(r, kIsZip, "N");
  c.PutString(r, kPath, "C:\\src\\");
  const std::string blob = Content(id, blobBytes);
  c.PutBlob(r, kFile, blob.data(), blob.size());
  c.Insert(r);
}

// Moves to the `k`-th row (1-based) in key order and returns it.
engine::TDataCursor::TRecordBuffer RowAt(TDataCursor& c, int k) {
  c.First();
  engine::TDataCursor::TRecordBuffer r;
  for (int i = 0; i < k; ++i) {
    if (c.Next(&r) != 0) ADD_FAILURE() << "no row " << k;
  }
  return r;
}

struct Scenario {
  const char* name;
  bool catalog;  // the catalog table (BLOBs); else numbered with a secondary index
  std::function<void(TDataCursor&)> setup;
  std::function<void(TDataCursor&)> change;
  bool large;  // a few kill points in the default suite
};

void PrintTo(const Scenario& s, std::ostream* os) {
  *os << s.name;
}

const Scenario kScenarios[] = {
    {"inserts with BLOBs", true,
     [](TDataCursor& c) {
       for (int i = 0; i < 15; ++i) PutCatalogRow(c, i, 100 + 200 * static_cast<std::size_t>(i));
     },
     [](TDataCursor& c) {
       for (int i = 15; i < 20; ++i) PutCatalogRow(c, i, 500 + 1000 * static_cast<std::size_t>(i));
     },
     false},
    {"BLOB chains grow and shrink", true,
     [](TDataCursor& c) {
       for (int i = 0; i < 15; ++i) PutCatalogRow(c, i, 3000);
     },
     [](TDataCursor& c) {
       const std::size_t sizes[] = {40000, 10, 9000, 0};
       for (int k = 0; k < 4; ++k) {
         auto r = RowAt(c, 2 + 3 * k);
         const std::string blob = Content(100 + k, sizes[k]);
         c.PutBlob(r, kFile, blob.data(), blob.size());
         c.Modify(r);
       }
     },
     false},
    {"deletes", true,
     [](TDataCursor& c) {
       for (int i = 0; i < 15; ++i) PutCatalogRow(c, i, 2500);
     },
     [](TDataCursor& c) {
       for (int k : {3, 7, 10}) c.Delete(RowAt(c, k));
     },
     false},
    {"index page splits", false,
     [](TDataCursor& c) {
       for (int i = 0; i < 300; ++i) AddNumbered(c, 2 * i, 1000 - i);
     },
     [](TDataCursor& c) {
       std::vector<int> ids;
       for (int i = 0; i < 600; ++i) ids.push_back(2 * i + 1);
       std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
       for (int id : ids) AddNumbered(c, id, id % 97);
     },
     false},
    {"index page merges", false,
     [](TDataCursor& c) {
       for (int i = 0; i < 900; ++i) AddNumbered(c, i, (i * 37) % 1000);
     },
     [](TDataCursor& c) {
       for (int k = 0; k < 700; ++k) c.Delete(RowAt(c, 1 + (k % 3)));
     },
     false},
    {"a 20 MB commit", true, [](TDataCursor& c) { PutCatalogRow(c, 0, 5000); },
     [](TDataCursor& c) {
       PutCatalogRow(c, 1, 12u << 20);
       PutCatalogRow(c, 2, 8u << 20);
     },
     true},
};

class CrashSafetyTest : public TableTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void TearDown() override {
    platform::ClearFaultPlan();
    TableTest::TearDown();
  }
  // Runs `body` over an open cursor of the table inside one transaction.
  void InTransaction(const std::function<void(TDataCursor&)>& body) {
    auto c = OpenCursor("T");
    dir_->StartTransaction();
    ASSERT_TRUE(dir_->InTransaction());
    body(*c);
    dir_->Commit();
  }
  // The table's rows, opened the way a user opens it after a crash.
  std::string Dump() {
    auto c = OpenCursor("T");
    return crash_test::DumpRows(*c);
  }
  // In a child: a session of its own, the change in a transaction, the
  // commit under `plan`; answers the operations counted.
  ChildEnd CommitInChild(const std::function<void(TDataCursor&)>& change,
                         const platform::FaultPlan& plan) {
    return RunInChild([&] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      c.Open();
      engine::TDataDirectory* dir = c.Table()->Directory();
      dir->StartTransaction();
      change(c);
      platform::SetFaultPlan(plan);
      dir->Commit();
      return static_cast<int>(platform::FaultOperationCount());
    });
  }
  void ExpectClean() {
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.JNL")));
  }
};

std::vector<std::uint64_t> KillPoints(std::uint64_t count, bool few) {
  std::vector<std::uint64_t> points;
  if (!few || crash_test::FullCrashLoops()) {
    for (std::uint64_t k = 1; k <= count; ++k) points.push_back(k);
    return points;
  }
  for (std::uint64_t k :
       {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, count / 2, count - 1, count}) {
    if (k >= 1 && k <= count && std::find(points.begin(), points.end(), k) == points.end())
      points.push_back(k);
  }
  return points;
}

TEST_P(CrashSafetyTest, KilledAtEveryWriteAndFlushOfACommit) {
  const Scenario& s = GetParam();
  CreateTable("T", s.catalog ? CatalogDefinition() : NumberedDefinition(true));
  InTransaction(s.setup);
  const std::string before = Dump();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));

  const ChildEnd counted = CommitInChild(s.change, {});
  ASSERT_FALSE(counted.killed);
  ASSERT_GT(counted.answer, 0);
  const std::string after = Dump();
  ASSERT_NE(after, before);
  ExpectClean();

  for (const std::uint64_t k : KillPoints(static_cast<std::uint64_t>(counted.answer), s.large)) {
    SCOPED_TRACE("killed at operation " + std::to_string(k) + " of " +
                 std::to_string(counted.answer));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd end = CommitInChild(s.change, {k, platform::FaultAction::Kill});
    ASSERT_TRUE(end.killed);
    const std::string seen = Dump();
    EXPECT_TRUE(seen == before || seen == after)
        << "neither the state before nor the state after the commit";
    ExpectClean();
  }
}

INSTANTIATE_TEST_SUITE_P(Commits, CrashSafetyTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

// A process that had the table open before the writer died reads the state
// before the commit, never the half-written files.
TEST_F(TableTest, AReaderAcrossAWritersCrashSeesTheStateBefore) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    for (int i = 0; i < 10; ++i) PutCatalogRow(*c, i, 4000);
  }
  test_common::StepChild writer([&](int) {
    engine::TDataSession session;
    TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
    c.Open();
    engine::TDataDirectory* dir = c.Table()->Directory();
    dir->StartTransaction();
    for (int i = 10; i < 14; ++i) PutCatalogRow(c, i, 9000);
    auto r = RowAt(c, 2);
    const std::string blob = Content(77, 30000);
    c.PutBlob(r, kFile, blob.data(), blob.size());
    c.Modify(r);
    // Killed at the third operation: the journal is written and flushed, the
    // first table write is next.
    platform::SetFaultPlan({3, platform::FaultAction::Kill});
    dir->Commit();
    return 0;
  });
  session_->StrictChangeDetection = true;
  auto c = OpenCursor();
  const std::string before = crash_test::DumpRows(*c);
  EXPECT_EQ(writer.Run(0), -1);  // the writer died
  EXPECT_EQ(crash_test::DumpRows(*c), before);
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
  c.reset();
  const auto report = engine::CheckTableSet(Host("Db/Back.DAT"));
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

// The journal of a writer that opened the table as "Back" is found by an
// opener that spells it "back.dat": both name it after the data file on disk.
TEST_F(TableTest, AHotJournalIsFoundWhateverCaseTheTableIsOpenedWith) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    for (int i = 0; i < 5; ++i) PutCatalogRow(*c, i, 2000);
  }
  const std::string before = [&] {
    auto c = OpenCursor();
    return crash_test::DumpRows(*c);
  }();
  const ChildEnd end = RunInChild([] {
    engine::TDataSession session;
    TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
    c.Open();
    c.Table()->Directory()->StartTransaction();
    PutCatalogRow(c, 9, 7000);
    platform::SetFaultPlan({3, platform::FaultAction::Kill});
    c.Table()->Directory()->Commit();
    return 0;
  });
  ASSERT_TRUE(end.killed);
  ASSERT_TRUE(std::filesystem::exists(Host("Db/Back.JNL")));
  auto c = OpenCursor("back.dat");
  EXPECT_EQ(crash_test::DumpRows(*c), before);
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
}

// A commit killed on a table whose files are then made read-only (copied to
// a read-only medium, say): a journal whose rollback would change nothing is
// dropped and the table reads as before; one that must put bytes back is
// refused with 11013 saying so, until the files may be written again, when
// the next opener rolls it back.
TEST_F(TableTest, AHotJournalOnReadOnlyFilesIsDroppedOrNamedInTheError) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    for (int i = 0; i < 5; ++i) PutCatalogRow(*c, i, 2000);
  }
  const std::string before = [&] {
    auto c = OpenCursor();
    return crash_test::DumpRows(*c);
  }();
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  auto commit = [](const platform::FaultPlan& plan) {
    return RunInChild([plan] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
      c.Open();
      c.Table()->Directory()->StartTransaction();
      PutCatalogRow(c, 9, 7000);
      auto r = RowAt(c, 2);
      const std::string blob = Content(5, 3000);
      c.PutBlob(r, kFile, blob.data(), blob.size());
      c.Modify(r);
      platform::SetFaultPlan(plan);
      c.Table()->Directory()->Commit();
      return static_cast<int>(platform::FaultOperationCount());
    });
  };
  const ChildEnd counted = commit({});
  ASSERT_FALSE(counted.killed);
  ASSERT_GT(counted.answer, 3);
  const std::string files[] = {"Db/Back.DAT", "Db/Back.IDX", "Db/Back.BLB"};
  auto setReadOnly = [&](bool readOnly) {
    for (const std::string& f : files) {
      std::filesystem::permissions(
          Host(f), std::filesystem::perms::owner_write,
          readOnly ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add);
    }
  };
  struct Case {
    const char* name;
    std::uint64_t killAt;
    bool rollBackNeeded;
  };
  const Case cases[] = {
      // The journal is written and flushed; the first table write is next.
      {"killed before the first table write", 3, false},
      // Every table byte is written; the last flush is next.
      {"killed before the last flush", static_cast<std::uint64_t>(counted.answer), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    ASSERT_TRUE(commit({c.killAt, platform::FaultAction::Kill}).killed);
    ASSERT_TRUE(std::filesystem::exists(Host("Db/Back.JNL")));
    setReadOnly(true);
    if (!c.rollBackNeeded) {
      auto cursor = OpenCursor();
      EXPECT_TRUE(cursor->Table()->ReadOnlyAttrFound());
      EXPECT_EQ(crash_test::DumpRows(*cursor), before);
      EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
    } else {
      std::string message;
      try {
        auto opened = OpenCursor();
        ADD_FAILURE() << "opened over a journal it cannot roll back";
      } catch (const engine::EZORVADEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), engine::kErrAccessDenied);
        message = e.Message();
      }
      EXPECT_NE(message.find("Access denied to table"), std::string::npos) << message;
      EXPECT_NE(message.find("interrupted commit must first be rolled back"), std::string::npos)
          << message;
      EXPECT_TRUE(std::filesystem::exists(Host("Db/Back.JNL"))) << "kept for a writer";
      setReadOnly(false);
      auto cursor = OpenCursor();
      EXPECT_EQ(crash_test::DumpRows(*cursor), before);
      EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
    }
    setReadOnly(false);
  }
  const auto report = engine::CheckTableSet(Host("Db/Back.DAT"));
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

// ---- SIGKILL at random moments of a long run of commits ------------------------------

// Commit i (from 1) inserts rows 3i, 3i+1, 3i+2, gives row 3(i-1) a BLOB of
// another size and deletes row 3(i-2)+1. The expected rows after n commits.
std::map<int, std::string> ModelAfter(int commits) {
  std::map<int, std::string> rows;
  for (int i = 1; i <= commits; ++i) {
    for (int j = 0; j < 3; ++j) rows[3 * i + j] = Content(3 * i + j, 700 + 900 * j);
    if (i >= 2) rows[3 * (i - 1)] = Content(10000 + i, (i % 2 == 0) ? 6000 : 40);
    if (i >= 3) rows.erase(3 * (i - 2) + 1);
  }
  return rows;
}

void RunCommit(TDataCursor& c, engine::TDataDirectory* dir, int i) {
  dir->StartTransaction();
  for (int j = 0; j < 3; ++j) PutCatalogRow(c, 3 * i + j, 700 + 900 * static_cast<std::size_t>(j));
  auto find = [&](int id) {
    c.First();
    engine::TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == 0) {
      if (c.GetInteger(r, kFileTime) == id) return r;
    }
    ADD_FAILURE() << "row " << id << " missing";
    return r;
  };
  if (i >= 2) {
    auto r = find(3 * (i - 1));
    const std::string blob = Content(10000 + i, (i % 2 == 0) ? 6000 : 40);
    c.PutBlob(r, kFile, blob.data(), blob.size());
    c.Modify(r);
  }
  if (i >= 3) c.Delete(find(3 * (i - 2) + 1));
  dir->Commit();
}

// The table's rows as FileTime -> BLOB.
std::map<int, std::string> ReadRows(TDataCursor& c) {
  std::map<int, std::string> rows;
  c.First();
  engine::TDataCursor::TRecordBuffer r;
  while (c.Next(&r) == 0) {
    const auto blob = c.GetBlob(r, kFile);
    rows[static_cast<int>(c.GetInteger(r, kFileTime))] = std::string(blob.begin(), blob.end());
  }
  return rows;
}

TEST_F(TableTest, SigkillAtRandomMomentsOfALongRunOfCommits) {
  const int kills = crash_test::FullCrashLoops() ? 200 : 12;
  CreateTable("T", CatalogDefinition());
  std::mt19937 random(12);
  int committed = 0;
  int landedInCommit = 0;
  for (int round = 0; round < kills; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round) + " after commit " + std::to_string(committed));
    int done[2];
    ASSERT_EQ(::pipe(done), 0);
    const int first = committed + 1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(done[0]);
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "T");
      c.Open();
      for (int i = first;; ++i) {
        RunCommit(c, c.Table()->Directory(), i);
        if (::write(done[1], &i, sizeof i) != sizeof i) ::_exit(1);
      }
    }
    ::close(done[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 150000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    int last = committed;
    for (int i = 0; ::read(done[0], &i, sizeof i) == sizeof i;) last = i;
    ::close(done[0]);

    auto c = OpenCursor("T");
    const auto rows = ReadRows(*c);
    c.reset();
    if (rows == ModelAfter(last + 1)) {
      committed = last + 1;  // killed after the commit, before it was reported
    } else {
      ASSERT_TRUE(rows == ModelAfter(last))
          << "rows match neither " << last << " nor " << last + 1 << " commits";
      committed = last;
      ++landedInCommit;
    }
    const auto report = engine::CheckTableSet(Host("Db/T.DAT"));
    ASSERT_TRUE(report.Ok()) << report.Describe();
  }
  EXPECT_GT(committed, 0);
  std::printf("%d kills (%d inside a commit), %d commits survived\n", kills, landedInCommit,
              committed);
}

}  // namespace

// The checker and the repair, run on a set whose commit was cut short, look
// at the set every opener sees: they roll the interrupted commit back first
// instead of judging (or rebuilding from) the half-written files.
TEST_F(TableTest, CheckerAndRepairRollAnInterruptedCommitBackFirst) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    for (int i = 0; i < 5; ++i) PutCatalogRow(*c, i, 2000);
  }
  const std::string before = [&] {
    auto c = OpenCursor();
    return crash_test::DumpRows(*c);
  }();
  const auto killMidCommit = [&] {
    const ChildEnd end = RunInChild([] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
      c.Open();
      c.Table()->Directory()->StartTransaction();
      for (int i = 10; i < 14; ++i) PutCatalogRow(c, i, 7000);
      platform::SetFaultPlan({4, platform::FaultAction::Kill});
      c.Table()->Directory()->Commit();
      return 0;
    });
    ASSERT_TRUE(end.killed);
    ASSERT_TRUE(std::filesystem::exists(Host("Db/Back.JNL")));
  };

  killMidCommit();
  const auto check = engine::CheckTableSet("D:\\Db\\Back.DAT");
  EXPECT_TRUE(check.Ok()) << check.Describe();
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
  {
    auto c = OpenCursor();
    EXPECT_EQ(crash_test::DumpRows(*c), before);
  }

  killMidCommit();
  const auto repair = engine::RepairTableSet("D:\\Db\\Back.DAT");
  EXPECT_TRUE(repair.problems.empty());
  EXPECT_FALSE(repair.repaired);
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.JNL")));
  auto c = OpenCursor();
  EXPECT_EQ(crash_test::DumpRows(*c), before);
}
