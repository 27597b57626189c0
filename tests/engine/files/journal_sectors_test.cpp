// The kept journal file between write-backs and after a power cut: each
// journal is written over the last one in place and voided at the commit
// point; every 512-byte sector carries the journal's sequence number, so that
// an old header whose void was lost, found beside sectors of the next
// journal, is never taken for a journal cut short. Journals written without
// sequence numbers are still recovered.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/engine_test_util.h"
#include "engine/files/commit_journal.h"
#include "engine/files/crc32.h"
#include "engine/files/file_handler.h"

namespace {

using engine::TCommitJournal;
using engine::TFileHandler;
using engine::TKeptJournal;

constexpr std::size_t kSector = 512;
constexpr std::size_t kStampAt = 508;  // the sequence number's place in a sector
constexpr std::size_t kSequenceAt = 44;
constexpr char kMagic[] = "ORVJNL01";

std::uint32_t Get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void Append32(std::string& s, std::uint32_t v) {
  s.append(4, '\0');
  Put32(s, s.size() - 4, v);
}
void Append64(std::string& s, std::int64_t v) {
  Append32(s, static_cast<std::uint32_t>(v));
  Append32(s, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32));
}
// The number of sectors from the start of a kept journal file that carry a
// sequence number; the file must hold only zeros after them (it grows by
// whole steps of zeros).
std::size_t JournalSectors(const std::string& file) {
  std::size_t n = 0;
  while ((n + 1) * kSector <= file.size() && Get32(file, n * kSector + kStampAt) != 0) ++n;
  EXPECT_EQ(file.find_first_not_of('\0', n * kSector), std::string::npos);
  return n;
}
std::uint32_t Crc(const std::string& s) {
  return engine::Crc32(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

class JournalSectorsTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    for (int i = 0; i < 3; ++i) {
      WriteHost(Name(i), std::string(5000 + i, static_cast<char>('a' + i)));
      handlers_[i] = std::make_unique<TFileHandler>(nullptr);
      handlers_[i]->SetFileName("D:\\" + Name(i));
      handlers_[i]->Open();
    }
  }
  void TearDown() override {
    for (auto& h : handlers_) h.reset();
    DriveDTest::TearDown();
  }
  static std::string Name(int i) { return std::string("T.") + kExt[i]; }
  void WriteHost(const std::string& name, const std::string& content) const {
    std::ofstream(Host(name), std::ios::binary) << content;
  }
  std::string ReadHost(const std::string& name) const {
    std::ifstream in(Host(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::array<std::string, 3> Files() const {
    return {ReadHost(Name(0)), ReadHost(Name(1)), ReadHost(Name(2))};
  }
  // Puts the three files (closed meanwhile) back to `content`.
  void SetFiles(const std::array<std::string, 3>& content) {
    for (int i = 0; i < 3; ++i) {
      handlers_[i]->Close();
      WriteHost(Name(i), content[i]);
      handlers_[i]->Open();
    }
  }
  engine::TJournalFiles Handlers() const {
    return {handlers_[0].get(), handlers_[1].get(), handlers_[2].get()};
  }
  static engine::TJournalLocation Journal() { return TCommitJournal::Locate("D:\\T.DAT", false); }
  // One durable write-back into the kept journal: `fill` written over 1,500
  // bytes of file 0 at `at` (three sectors of journal) and `tail` appended to
  // file 1.
  void Commit(TKeptJournal& kept, std::int64_t at, char fill, const std::string& tail) {
    TCommitJournal journal(Journal(), Handlers(), true, &kept);
    const std::string bytes(1500, fill);
    handlers_[0]->Seek(at, engine::kSeekFromStart);
    handlers_[0]->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    handlers_[1]->Seek(0, engine::kSeekFromEnd);
    handlers_[1]->Write(tail.data(), static_cast<std::int32_t>(tail.size()));
    journal.Commit();
  }
  ino_t JournalInode() const {
    struct stat st {};
    return ::stat(Host("T.JNL").c_str(), &st) == 0 ? st.st_ino : 0;
  }

  static constexpr const char* kExt[3] = {"DAT", "IDX", "BLB"};
  std::unique_ptr<TFileHandler> handlers_[3];
};

// Two write-backs through one kept journal: each leaves a voided file, which
// is no hot journal and rolls nothing back; the second journal goes over the
// first in place with the next sequence number. Then what a power cut can
// leave of the first journal whose void was lost, beside what the second one
// had written when the power went, is recovered to a whole state: before the
// first write-back or after it, never a mix.
TEST_F(JournalSectorsTest, AStaleHeaderBesideTheNextJournalsSectorsCutsNothing) {
  const auto before = Files();
  TKeptJournal kept;
  Commit(kept, 100, 'X', "tail");
  const auto afterFirst = Files();
  std::string first = ReadHost("T.JNL");
  EXPECT_EQ(first.size() % (64 * 1024), 0u) << "grown by whole steps";
  first.resize(JournalSectors(first) * kSector);
  ASSERT_EQ(first.size(), 4 * kSector);
  EXPECT_NE(first.substr(0, 8), kMagic) << "voided at the commit point";
  EXPECT_FALSE(TCommitJournal::Hot(Journal()));
  EXPECT_FALSE(TCommitJournal::RollBackNeeded(Journal(), Handlers()));
  const ino_t inode = JournalInode();

  Commit(kept, 2000, 'Y', "more");
  std::string second = ReadHost("T.JNL");
  EXPECT_EQ(second.size(), 64u * 1024) << "no growth";
  second.resize(JournalSectors(second) * kSector);
  ASSERT_EQ(second.size(), 4 * kSector);
  EXPECT_EQ(JournalInode(), inode) << "written over the first in place";
  EXPECT_FALSE(TCommitJournal::Hot(Journal()));
  const std::uint32_t sequence = Get32(first, kSequenceAt);
  ASSERT_NE(sequence, 0u);
  EXPECT_EQ(Get32(second, kSequenceAt), sequence + 1);
  for (std::size_t s = 0; s < second.size() / kSector; ++s)
    EXPECT_EQ(Get32(second, s * kSector + kStampAt), sequence + 1) << "sector " << s;
  kept.Close(Journal(), true);
  EXPECT_FALSE(std::filesystem::exists(Host("T.JNL"))) << "removed when closed";

  // The first journal as a power cut leaves it when its void was not yet on
  // the disk: the magic back in place.
  first.replace(0, 8, kMagic);
  const auto sector = [](const std::string& journal, std::size_t s) {
    return journal.substr(s * kSector, kSector);
  };
  std::string nextOverEntry = first;
  nextOverEntry.replace(kSector, kSector, sector(second, 1));
  std::string nextPastEnd = first + sector(second, 1);
  std::string flipped = first;
  flipped[kSector + 100] = static_cast<char>(flipped[kSector + 100] ^ 1);
  std::string olderSector = first;
  Put32(olderSector, 2 * kSector + kStampAt, sequence - 1);
  std::string voided = first;
  voided.replace(0, 8, std::string(8, '\0'));
  std::string withStaleTail = first + sector(first, 1);
  Put32(withStaleTail, withStaleTail.size() - kSector + kStampAt, sequence - 1);

  enum Restores { kEverything, kLengths, kNothing };
  struct Case {
    const char* name;
    std::string journal;
    Restores restores;
  };
  const Case cases[] = {
      // The void was lost and nothing after it reached the disk: the last
      // write-back comes back rolled back, whole.
      {"void lost", first, kEverything},
      {"void lost, older sectors past the trailer", withStaleTail, kEverything},
      // A sector of the next journal proves this one's write-back took effect.
      {"next journal's sector over an entry", nextOverEntry, kNothing},
      {"next journal's sector past the end", nextPastEnd, kNothing},
      // The journal's own sectors not all there: cut short while written,
      // before any overwrite.
      {"own sector with a flipped byte", flipped, kLengths},
      {"a sector of an older journal", olderSector, kLengths},
      {"last sector missing", first.substr(0, first.size() - kSector), kLengths},
      {"last sector partial", first.substr(0, first.size() - 5), kLengths},
      {"voided", voided, kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetFiles(afterFirst);
    WriteHost("T.JNL", c.journal);
    EXPECT_EQ(TCommitJournal::Hot(Journal()), c.journal.compare(0, 8, kMagic) == 0);
    EXPECT_EQ(TCommitJournal::RollBackNeeded(Journal(), Handlers()), c.restores != kNothing);
    EXPECT_TRUE(TCommitJournal::Recover(Journal(), Handlers()));
    EXPECT_FALSE(std::filesystem::exists(Host("T.JNL")));
    const std::array<std::string, 3> lengthsOnly = {afterFirst[0], before[1], afterFirst[2]};
    const auto& expected = c.restores == kEverything ? before
                           : c.restores == kLengths  ? lengthsOnly
                                                     : afterFirst;
    EXPECT_EQ(Files(), expected);
  }
}

// A journal written by an earlier version: no sequence number (0), no
// sectors, the trailer at the end of the file.
TEST_F(JournalSectorsTest, AJournalWithoutSequenceNumbersIsStillRecovered) {
  const auto before = Files();
  std::string journal = kMagic;
  Append32(journal, 3);
  Append32(journal, 0);
  Append64(journal, 5000);
  Append64(journal, 5001);
  Append64(journal, -1);
  Append32(journal, Crc(journal));
  Append32(journal, 0);
  // One entry: the original 3 bytes at 100 of file 0.
  journal += std::string(1, '\0') + std::string(3, '\0');
  Append64(journal, 100);
  Append32(journal, 3);
  journal += before[0].substr(100, 3);
  const std::uint32_t crc = Crc(journal);
  journal += "JEND";
  Append32(journal, 1);
  Append32(journal, crc);
  Append32(journal, 0);
  ASSERT_EQ(journal.size(), 48u + 16 + 3 + 16);

  std::array<std::string, 3> torn = before;
  torn[0].replace(100, 3, "XYZ");
  torn[1] += "tail";
  torn[2] = before[2].substr(0, 10);  // the BLOB file is not in this journal
  struct Case {
    const char* name;
    std::string journal;
    std::array<std::string, 3> expected;
  };
  const Case cases[] = {
      {"whole", journal, {before[0], before[1], torn[2]}},
      {"cut short", journal.substr(0, journal.size() - 1), {torn[0], before[1], torn[2]}},
      {"bytes after the trailer", journal + "x", {torn[0], before[1], torn[2]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetFiles(torn);
    WriteHost("T.JNL", c.journal);
    EXPECT_TRUE(TCommitJournal::Hot(Journal()));
    EXPECT_TRUE(TCommitJournal::Recover(Journal(), Handlers()));
    EXPECT_FALSE(std::filesystem::exists(Host("T.JNL")));
    EXPECT_EQ(Files(), c.expected);
  }
}

}  // namespace
