// The journal file a table keeps between its commits: voided in place at each
// commit point instead of deleted, its directory synced once per opening,
// removed when the table is closed; an empty, voided (or damaged) journal
// found at open, left by a process that died or kept by another process, is
// no journal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/step_child.h"
#include "engine/table/crash_test_util.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"
#include "platform/fault_injection.h"
#include "platform/host_internal.h"

namespace {

using engine::TDataCursor;
using namespace table_test;
using crash_test::ChildEnd;
using crash_test::Content;
using crash_test::RunInChild;

constexpr char kJournal[] = "Db/Back.JNL";

void PutRows(TDataCursor& c, int first, int count) {
  for (int i = first; i < first + count; ++i) {
    auto r = c.NewRecord();
    c.PutString(r, kFileName, "file" + std::to_string(i));
    c.PutInteger(r, kFileTime, i);
    c.PutString(r, kIsZip, "N");
    c.PutString(r, kPath, "C:\\src\\");
    const std::string blob = Content(i, 1500 + 700 * static_cast<std::size_t>(i % 5));
    c.PutBlob(r, kFile, blob.data(), blob.size());
    c.Insert(r);
  }
}

// Rows `first`.. in one committed transaction.
void CommitRows(TDataCursor& c, int first, int count) {
  engine::TDataDirectory* dir = c.Table()->Directory();
  dir->StartTransaction();
  PutRows(c, first, count);
  dir->Commit();
}

std::uint64_t DirectorySyncs() {
  return platform::internal::Counters().directorySyncs.load();
}

// Size and inode of the journal file, and whether it starts with the
// journal's magic (a journal to roll back); size -1 when absent.
struct FileId {
  long long size = -1;
  ino_t inode = 0;
  bool hot = false;
};

class KeptJournalTest : public TableTest {
 protected:
  void TearDown() override {
    platform::ClearFaultPlan();
    TableTest::TearDown();
  }
  FileId Journal() const {
    struct stat st {};
    if (::stat(Host(kJournal).c_str(), &st) != 0) return {};
    char magic[8] = {};
    std::ifstream(Host(kJournal), std::ios::binary).read(magic, sizeof magic);
    return {static_cast<long long>(st.st_size), st.st_ino,
            std::string(magic, sizeof magic) == "ORVJNL01"};
  }
  std::string Dump() {
    auto c = OpenCursor();
    return crash_test::DumpRows(*c);
  }
  void ExpectClean() {
    const auto report = engine::CheckTableSet(Host("Db/Back.DAT"));
    EXPECT_TRUE(report.Ok()) << report.Describe();
    for (const std::string& note : report.notes)
      EXPECT_EQ(note.find("interrupted commit"), std::string::npos) << note;
    EXPECT_EQ(Journal().size, -1);
  }
};

// One journal file serves every commit of an opening: after each commit it
// is voided and the same file, never shorter (each journal is written over
// the last in place), only the first commit syncs the directory, and closing
// removes it; a reopened table starts again.
TEST_F(KeptJournalTest, OneFileServesEveryCommitUntilTheTableCloses) {
  CreateCatalog();
  std::string expected;
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE("opening " + std::to_string(opening));
    auto c = OpenCursor();
    EXPECT_EQ(Journal().size, -1);
    FileId first;
    for (int commit = 0; commit < 3; ++commit) {
      SCOPED_TRACE("commit " + std::to_string(commit));
      const std::uint64_t syncs = DirectorySyncs();
      CommitRows(*c, 100 * opening + 10 * commit, 4);
      const FileId now = Journal();
      EXPECT_GT(now.size, 0);
      EXPECT_FALSE(now.hot) << "voided at the commit point";
      if (commit == 0) {
        EXPECT_GE(DirectorySyncs(), syncs + 1) << "the new name is made durable";
        first = now;
      } else {
        EXPECT_EQ(now.inode, first.inode) << "the same file, kept open";
        EXPECT_GE(now.size, first.size) << "written over in place";
        EXPECT_EQ(DirectorySyncs(), syncs) << "no directory sync after the first commit";
        first.size = now.size;
      }
    }
    expected = crash_test::DumpRows(*c);
    c.reset();
    EXPECT_EQ(Journal().size, -1) << "removed when the table closes";
  }
  EXPECT_EQ(Dump(), expected);
  ExpectClean();
}

// A journal file found at open that holds no commit to roll back: empty (a
// kept journal left by a process that died), or one whose header does not
// check (cut short before any table byte was written), also on files that
// cannot be written. The table reads as it is and the file goes.
TEST_F(KeptJournalTest, AnEmptyOrDamagedJournalAtOpenIsNoJournal) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    PutRows(*c, 0, 6);
  }
  const std::string before = Dump();
  struct Case {
    const char* name;
    std::string bytes;
    bool readOnly;
  };
  const Case cases[] = {
      {"empty", "", false},
      {"damaged header", std::string(100, '\x5A'), false},
      {"empty, read-only table files", "", true},
      {"damaged header, read-only table files", "ORVJNL01" + std::string(60, '\0'), true},
  };
  const char* files[] = {"Db/Back.DAT", "Db/Back.IDX", "Db/Back.BLB"};
  const auto setReadOnly = [&](bool readOnly) {
    for (const char* f : files) {
      std::filesystem::permissions(
          Host(f), std::filesystem::perms::owner_write,
          readOnly ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add);
    }
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::ofstream(Host(kJournal), std::ios::binary) << k.bytes;
    setReadOnly(k.readOnly);
    {
      auto c = OpenCursor();
      EXPECT_EQ(c->Table()->ReadOnlyAttrFound(), k.readOnly);
      EXPECT_EQ(crash_test::DumpRows(*c), before);
      EXPECT_EQ(Journal().size, -1);
    }
    setReadOnly(false);
  }
  ExpectClean();
}

// Another process keeps the journal open between its commits: this one opens
// the table beside it, reads its commits, commits into the same file, and
// neither removes the file while the other holds it; the last to close does.
TEST_F(KeptJournalTest, TwoProcessesShareOneKeptJournal) {
  CreateCatalog();
  test_common::StepChild writer([](int step) {
    static engine::TDataSession* session = nullptr;
    static TDataCursor* c = nullptr;
    if (step == 1) {
      session = new engine::TDataSession;
      c = new TDataCursor(session->OpenDirectory("", "D:\\Db"), "Back");
      c->Open();
      CommitRows(*c, 0, 5);
    } else if (step == 2) {
      CommitRows(*c, 50, 5);
    } else {
      delete c;
      delete session;
    }
    return 0;
  });
  ASSERT_EQ(writer.Run(1), 0);
  const FileId kept = Journal();
  ASSERT_GT(kept.size, 0) << "kept by the writer";
  ASSERT_FALSE(kept.hot);
  session_->StrictChangeDetection = true;
  auto c = OpenCursor();
  EXPECT_EQ(Journal().inode, kept.inode) << "not removed by an opener while it is kept";
  EXPECT_EQ(c->RecordCount(), 5);
  CommitRows(*c, 20, 5);
  EXPECT_EQ(Journal().inode, kept.inode);
  EXPECT_FALSE(Journal().hot);
  ASSERT_EQ(writer.Run(2), 0);
  EXPECT_EQ(Journal().inode, kept.inode);
  EXPECT_FALSE(Journal().hot);
  EXPECT_EQ(c->RecordCount(), 15);
  ASSERT_EQ(writer.Run(3), 0);
  EXPECT_EQ(Journal().inode, kept.inode) << "still held by this process";
  const std::string seen = crash_test::DumpRows(*c);
  c.reset();
  EXPECT_EQ(Journal().size, -1);
  EXPECT_EQ(Dump(), seen);
  ExpectClean();
}

// A writer killed after its commits leaves its kept journal behind: voided
// when it died between commits (every commit stays); when it died at any
// operation of its second commit, written over the first one's in place,
// that commit alone is rolled back (or was never applied) and the first
// stays. Killed at the commit point the journal is whole, as when a power
// cut takes back the journal's void.
TEST_F(KeptJournalTest, AKilledWritersKeptJournalRollsBackAtMostItsLastCommit) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    PutRows(*c, 0, 3);
  }
  crash_test::CopyDirectory(Host("Db"), Host("Saved"));
  // Two commits; the second (rows added, the first row deleted) under
  // `plan`; answers the second's operations, or is killed without closing
  // the table.
  const auto twoCommits = [](const platform::FaultPlan& plan, bool killAfter) {
    return RunInChild([plan, killAfter] {
      engine::TDataSession session;
      TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Back");
      c.Open();
      CommitRows(c, 10, 4);
      engine::TDataDirectory* dir = c.Table()->Directory();
      dir->StartTransaction();
      PutRows(c, 20, 4);
      TDataCursor::TRecordBuffer r;
      c.First();
      c.Next(&r);
      c.Delete(r);
      platform::SetFaultPlan(plan);
      dir->Commit();
      const int operations = static_cast<int>(platform::FaultOperationCount());
      if (killAfter) ::raise(SIGKILL);
      return operations;
    });
  };
  // The state after the first commit alone, and after both.
  const std::string afterFirst = [&] {
    auto c = OpenCursor();
    CommitRows(*c, 10, 4);
    return crash_test::DumpRows(*c);
  }();
  crash_test::CopyDirectory(Host("Saved"), Host("Db"));

  // Counts the second commit's operations: its last is the void of the
  // journal at the commit point.
  const ChildEnd counted = twoCommits({}, false);
  ASSERT_FALSE(counted.killed);
  ASSERT_GT(counted.answer, 3);
  const std::string afterBoth = Dump();
  ASSERT_NE(afterBoth, afterFirst);

  // Killed between commits (0), then at each operation of the second.
  const auto lastOperation = static_cast<std::uint64_t>(counted.answer);
  for (std::uint64_t killAt = 0; killAt <= lastOperation; ++killAt) {
    SCOPED_TRACE(killAt == 0 ? std::string("killed between commits")
                             : "killed at operation " + std::to_string(killAt));
    crash_test::CopyDirectory(Host("Saved"), Host("Db"));
    const ChildEnd end = twoCommits({killAt, platform::FaultAction::Kill}, true);
    ASSERT_TRUE(end.killed);
    const FileId left = Journal();
    EXPECT_GT(left.size, 0) << "the kept file stays";
    if (killAt == 0) {
      EXPECT_FALSE(left.hot);
    }
    if (killAt == lastOperation) {
      EXPECT_TRUE(left.hot) << "the whole journal of the second commit";
    }
    EXPECT_EQ(Dump(), killAt == 0 ? afterBoth : afterFirst);
    ExpectClean();
  }
}

}  // namespace
