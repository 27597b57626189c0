// The rollback journal of a write-back on plain files: recorded writes read
// back through the overlay, a commit lands whole, a failed write puts the
// files back, and recovery rolls back a whole journal and drops a cut one.
#include "engine/files/commit_journal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/engine_test_util.h"
#include "engine/files/file_handler.h"
#include "engine/files/pending_writes.h"
#include "platform/fault_injection.h"

namespace {

using engine::TCommitJournal;
using engine::TFileHandler;
using engine::TPendingWrites;

std::string Stored(std::int64_t at, std::int64_t n, const std::string& file) {
  return file.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n));
}

// Each case: operations on "0123456789" (w:offset:text, c:offset for a cut),
// then the whole virtual file and the regions a rollback must put back.
struct OverlayCase {
  const char* name;
  std::vector<std::string> ops;
  std::string expected;
  std::vector<std::pair<std::int64_t, std::int64_t>> touched;
};

TEST(PendingWritesTest, ReadsSeeTheRecordedOperationsInOrder) {
  const std::string file = "0123456789";
  const OverlayCase cases[] = {
      {"overwrite", {"w:2:ab"}, "01ab456789", {{2, 2}}},
      {"append past the end", {"w:12:xy"}, std::string("0123456789\0\0xy", 14), {}},
      {"overwrite across the end", {"w:8:abcd"}, "01234567abcd", {{8, 2}}},
      {"cut then extend", {"c:4", "w:6:z"}, std::string("0123\0\0z", 7), {{4, 6}}},
      {"later write wins", {"w:1:aaa", "w:2:b"}, "0aba456789", {{1, 3}}},
      {"regions merge", {"w:1:ab", "w:3:cd", "w:7:e"}, "0abcd56e89", {{1, 4}, {7, 1}}},
  };
  for (const OverlayCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPendingWrites pending(static_cast<std::int64_t>(file.size()));
    for (const std::string& op : c.ops) {
      const auto colon = op.find(':', 2);
      const std::int64_t at = std::stoll(op.substr(2, colon - 2));
      pending.Seek(at, 0);
      if (op[0] == 'c') {
        pending.Write(nullptr, 0);
      } else {
        const std::string text = op.substr(colon + 1);
        pending.Write(text.data(), static_cast<std::int32_t>(text.size()));
      }
    }
    EXPECT_EQ(pending.Size(), static_cast<std::int64_t>(c.expected.size()));
    std::string got(c.expected.size() + 4, '?');
    pending.Seek(0, 0);
    const std::int32_t n = pending.Read(got.data(), static_cast<std::int32_t>(got.size()),
                                        [&](std::int64_t at, void* into, std::int32_t count) {
                                          const std::string part = Stored(at, count, file);
                                          std::memcpy(into, part.data(), part.size());
                                          return static_cast<std::int32_t>(part.size());
                                        });
    got.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(got, c.expected);
    std::vector<std::pair<std::int64_t, std::int64_t>> touched;
    for (const auto& r : pending.TouchedRegions()) touched.emplace_back(r.first, r.length);
    EXPECT_EQ(touched, c.touched);
  }
}

class CommitJournalTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    for (int i = 0; i < 3; ++i) {
      Write(i, std::string(5000 + i, static_cast<char>('a' + i)));
      handlers_[i] = std::make_unique<TFileHandler>(nullptr);
      handlers_[i]->SetFileName(Name(i));
      handlers_[i]->Open();
    }
  }
  void TearDown() override {
    platform::ClearFaultPlan();
    for (auto& h : handlers_) h.reset();
    DriveDTest::TearDown();
  }
  static std::string Name(int i) { return std::string("D:\\T.") + kExt[i]; }
  std::string HostName(int i) const { return Host(std::string("T.") + kExt[i]); }
  void Write(int i, const std::string& content) const {
    std::ofstream(HostName(i), std::ios::binary) << content;
  }
  std::string Read(int i) const {
    std::ifstream in(HostName(i), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  engine::TJournalFiles Files() const {
    return {handlers_[0].get(), handlers_[1].get(), handlers_[2].get()};
  }
  // Overwrites the middle of file 0, appends to file 1 and cuts file 2.
  void RecordChanges() const {
    handlers_[0]->Seek(100, engine::kSeekFromStart);
    handlers_[0]->Write("XYZ", 3);
    handlers_[1]->Seek(0, engine::kSeekFromEnd);
    handlers_[1]->Write("tail", 4);
    handlers_[2]->Seek(10, engine::kSeekFromStart);
    handlers_[2]->Write(nullptr, 0);
  }
  static engine::TJournalLocation Journal() { return TCommitJournal::Locate(Name(0), false); }
  bool JournalExists() const { return std::filesystem::exists(Host("T.JNL")); }

  static constexpr const char* kExt[3] = {"DAT", "IDX", "BLB"};
  std::unique_ptr<TFileHandler> handlers_[3];
};

TEST_F(CommitJournalTest, CommitLandsWholeAndLeavesNoJournal) {
  const std::string before[3] = {Read(0), Read(1), Read(2)};
  {
    TCommitJournal journal(Journal(), Files());
    RecordChanges();
    EXPECT_EQ(Read(0), before[0]) << "recorded writes reach the file only at commit";
    EXPECT_EQ(handlers_[2]->GetSize(), 10);
    journal.Commit();
  }
  EXPECT_EQ(Read(0), before[0].substr(0, 100) + "XYZ" + before[0].substr(103));
  EXPECT_EQ(Read(1), before[1] + "tail");
  EXPECT_EQ(Read(2), before[2].substr(0, 10));
  EXPECT_FALSE(JournalExists());
}

// A write failing at each operation of the commit (journal or files) leaves
// the three files exactly as before and no journal.
TEST_F(CommitJournalTest, AFailedWriteOrFlushPutsTheFilesBack) {
  const std::string before[3] = {Read(0), Read(1), Read(2)};
  std::uint64_t operations = 0;
  {
    platform::SetFaultPlan({});
    TCommitJournal journal(Journal(), Files());
    RecordChanges();
    journal.Commit();
    operations = platform::FaultOperationCount();
  }
  // The journal (write, flush), the three recorded operations (the short
  // append is recorded too), three flushes.
  ASSERT_EQ(operations, 8u);
  for (std::uint64_t at = 1; at <= operations; ++at) {
    SCOPED_TRACE(at);
    for (int i = 0; i < 3; ++i) {
      handlers_[i]->Close();
      Write(i, before[i]);
      handlers_[i]->Open();
    }
    platform::SetFaultPlan({at, platform::FaultAction::Fail, platform::FaultKind::All, false});
    EXPECT_EQ(engine_test::EngineCodeOf([&] {
                TCommitJournal journal(Journal(), Files());
                RecordChanges();
                journal.Commit();
              }),
              engine::kErrWriteFailed);
    platform::ClearFaultPlan();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(i), before[i]) << i;
    EXPECT_FALSE(JournalExists());
  }
}

// A large append goes to the file at once, after the journal of what was
// recorded before it has been written and flushed; the commit writes the
// journal again only when an overwrite was recorded after that. A failure at
// each operation puts the files back either way.
TEST_F(CommitJournalTest, ALargeAppendGoesStraightToTheFileAfterTheJournal) {
  const std::string before[3] = {Read(0), Read(1), Read(2)};
  const std::string large(static_cast<std::size_t>(TPendingWrites::kMinDirectWrite), 'L');
  struct Case {
    const char* name;
    bool overwriteAfter;    // file 2 overwritten after the large append
    std::uint64_t flushes;  // journal flushes and file flushes of the commit
  };
  const Case cases[] = {
      {"every overwrite before the append", false, 1 + 2},
      {"an overwrite after the append", true, 2 + 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = [&] {
      handlers_[0]->Seek(100, engine::kSeekFromStart);
      handlers_[0]->Write("XYZ", 3);
      handlers_[1]->Seek(0, engine::kSeekFromEnd);
      handlers_[1]->Write(large.data(), static_cast<std::int32_t>(large.size()));
      if (c.overwriteAfter) {
        handlers_[2]->Seek(7, engine::kSeekFromStart);
        handlers_[2]->Write("Q", 1);
      }
    };
    auto reset = [&] {
      for (int i = 0; i < 3; ++i) {
        handlers_[i]->Close();
        Write(i, before[i]);
        handlers_[i]->Open();
      }
    };
    const std::string after[3] = {
        before[0].substr(0, 100) + "XYZ" + before[0].substr(103), before[1] + large,
        c.overwriteAfter ? before[2].substr(0, 7) + "Q" + before[2].substr(8) : before[2]};
    std::uint64_t operations = 0;
    {
      platform::SetFaultPlan({});
      TCommitJournal journal(Journal(), Files());
      record();
      EXPECT_TRUE(JournalExists()) << "the journal comes before the append";
      EXPECT_EQ(Read(1), before[1] + large) << "the append went straight to the file";
      EXPECT_EQ(Read(0), before[0]) << "the overwrite waits for the commit";
      journal.Commit();
      operations = platform::FaultOperationCount();
      EXPECT_EQ(platform::FaultOperationCount(platform::FaultKind::Flush), c.flushes);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(i), after[i]) << i;
    EXPECT_FALSE(JournalExists());
    for (std::uint64_t at = 1; at <= operations; ++at) {
      SCOPED_TRACE(at);
      reset();
      platform::SetFaultPlan({at, platform::FaultAction::Fail, platform::FaultKind::All, false});
      EXPECT_EQ(engine_test::EngineCodeOf([&] {
                  TCommitJournal journal(Journal(), Files());
                  record();
                  journal.Commit();
                }),
                engine::kErrWriteFailed);
      platform::ClearFaultPlan();
      for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(i), before[i]) << i;
      EXPECT_FALSE(JournalExists());
    }
    reset();
  }
}

// Recovery: a whole journal puts back the original bytes and lengths; one
// that fails its check (cut short, a flipped byte) is only removed.
TEST_F(CommitJournalTest, RecoveryRollsBackAWholeJournalAndDropsADamagedOne) {
  const std::string before[3] = {Read(0), Read(1), Read(2)};
  // A hot journal: the first overwrite fails (after the whole journal with
  // its flush), and so does every write after it,
  // those of the rollback included, so that the journal stays.
  {
    TCommitJournal journal(Journal(), Files());
    RecordChanges();
    platform::SetFaultPlan({3, platform::FaultAction::Fail, platform::FaultKind::All, true});
    EXPECT_NE(engine_test::EngineCodeOf([&] { journal.Commit(); }), 0);
  }
  platform::ClearFaultPlan();
  ASSERT_TRUE(JournalExists());
  const std::string hot = [&] {
    std::ifstream in(Host("T.JNL"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  struct Case {
    const char* name;
    std::string journal;
    int restores;
  };
  std::string flipped = hot;
  flipped[60] = static_cast<char>(flipped[60] ^ 1);
  // What each journal puts back: everything, only the lengths (the append
  // is cut off), or nothing.
  enum Restores { kEverything, kLengths, kNothing };
  std::string badHeader = hot;
  badHeader[20] = static_cast<char>(badHeader[20] ^ 1);
  const Case cases[] = {
      {"whole", hot, kEverything},
      {"cut short", hot.substr(0, hot.size() - 5), kLengths},
      {"flipped byte in an entry", flipped, kLengths},
      {"header alone", hot.substr(0, 48), kLengths},
      {"flipped byte in the header", badHeader, kNothing},
      {"empty", "", kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The files as a crash after the first overwrites leaves them.
    for (int i = 0; i < 3; ++i) {
      handlers_[i]->Close();
      Write(i, before[i]);
    }
    Write(0, before[0].substr(0, 100) + "XYZ" + before[0].substr(103));
    Write(1, before[1] + "tail");
    const std::string torn[3] = {Read(0), Read(1), Read(2)};
    for (auto& h : handlers_) h->Open();
    std::ofstream(Host("T.JNL"), std::ios::binary) << c.journal;
    EXPECT_TRUE(TCommitJournal::Recover(Journal(), Files()));
    EXPECT_FALSE(JournalExists());
    const std::string lengthsOnly[3] = {torn[0], before[1], torn[2]};
    for (int i = 0; i < 3; ++i) {
      const std::string& expected = c.restores == kEverything ? before[i]
                                    : c.restores == kLengths  ? lengthsOnly[i]
                                                              : torn[i];
      EXPECT_EQ(Read(i), expected) << i;
    }
  }
  EXPECT_FALSE(TCommitJournal::Recover(Journal(), Files()));
}

}  // namespace
