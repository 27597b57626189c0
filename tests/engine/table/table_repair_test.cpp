// Table-set repair: every damaged set of the checker's cases, truncated
// files and damaged records are rebuilt into a set that checks clean, keeps
// exactly the sound rows and leaves the damaged files beside it.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/table/damaged_sets.h"
#include "engine/table/table_check.h"
#include "engine/table/table_repair.h"

namespace table_test {
namespace {

using engine::RepairTableSet;
using engine::TTableRepairReport;

class TableRepairTest : public DamagedSetTest {
 protected:
  std::string Bytes(const std::string& file) {
    std::ifstream in(Host("Db/" + file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Every row with its BLOB size, in key order, read through a cursor (so a
  // kept row with a damaged BLOB would fail here).
  std::string Rows() {
    auto c = OpenCursor();
    std::string out;
    engine::TDataCursor::TRecordBuffer r;
    while (c->Next(&r) == 0)
      out += c->GetString(r, kFileName) + ":" + std::to_string(c->GetBlob(r, kFile).size()) + " ";
    return out;
  }
  void ExpectRepairedClean(const TTableRepairReport& report, const std::string& what) {
    EXPECT_TRUE(report.repaired) << what << "\n" << report.Describe();
    const auto check = engine::CheckTableSet("D:\\Db\\Back");
    EXPECT_TRUE(check.Ok()) << what << "\n" << check.Describe();
  }
};

TEST_F(TableRepairTest, SoundSetIsLeftAlone) {
  MakeSoundSet();
  const std::string before = Bytes("Back.DAT") + Bytes("Back.IDX") + Bytes("Back.BLB");
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  EXPECT_FALSE(report.repaired);
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(Bytes("Back.DAT") + Bytes("Back.IDX") + Bytes("Back.BLB"), before);
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.DAT.damaged")));
}

TEST_F(TableRepairTest, EveryCheckerCaseIsRepairedKeepingTheSoundRows) {
  for (const TDamage& d : DamageCases()) {
    MakeSoundSet();
    Apply(d);
    const std::string damaged = Bytes(std::string("Back") + d.ext);
    const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
    ExpectRepairedClean(report, d.what);
    // Only the BLOB case loses a row: "a", whose chain holds a damaged block.
    const bool blobCase = d.meets == TMeets::kBlobReadRefused;
    EXPECT_EQ(Rows(), blobCase ? "c:10 e:10 " : "a:1000 c:10 e:10 ") << d.what;
    EXPECT_EQ(report.dropped.size(), blobCase ? 1u : 0u) << d.what;
    EXPECT_EQ(Bytes(std::string("Back") + d.ext + ".damaged"), damaged) << d.what;
    // The repaired table takes new rows.
    auto c = OpenCursor();
    AddRow(*c, "new", 1, "q\\", "zz");
    c->Close();
    EXPECT_TRUE(engine::CheckTableSet("D:\\Db\\Back").Ok()) << d.what;
    RemoveAll();
  }
}

TEST_F(TableRepairTest, DamagedRecordsAreDroppedAndNamed) {
  const struct {
    const char* what;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    std::int64_t record;
  } cases[] = {
      {"status byte 7", RecordAt(3), {7}, 3},
      {"null flag 2", RecordAt(5) + 9, {2}, 5},
      {"string without terminator", RecordAt(5) + 9 + 251, {'x'}, 5},
      {"BLOB id differs from its chain", RecordAt(1) + 526, {0x55}, 1},
      {"BLOB chain past the end", RecordAt(1) + 522, {0x00, 0x7F}, 1},
  };
  for (const auto& c : cases) {
    MakeSoundSet();
    PatchFile(Host("Db/Back.DAT"), c.offset, c.bytes);
    const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
    ExpectRepairedClean(report, c.what);
    ASSERT_EQ(report.dropped.size(), 1u) << c.what << "\n" << report.Describe();
    EXPECT_EQ(report.dropped[0].record, c.record) << c.what;
    EXPECT_FALSE(report.dropped[0].reason.empty()) << c.what;
    EXPECT_EQ(report.keptRecords, kLiveRows - 1) << c.what;
    RemoveAll();
  }
}

// A NULL field whose slot holds stray bytes is damage the checker reports,
// but the value is NULL either way: the repair keeps the row and clears them.
TEST_F(TableRepairTest, StrayBytesInANullSlotAreCleared) {
  MakeSoundSet();
  PatchFile(Host("Db/Back.DAT"), RecordAt(3) + 266, {0});  // isZip of row "c" made NULL
  EXPECT_FALSE(engine::CheckTableSet("D:\\Db\\Back").Ok());
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  ExpectRepairedClean(report, "stray bytes");
  EXPECT_TRUE(report.dropped.empty()) << report.Describe();
  EXPECT_EQ(report.keptRecords, kLiveRows);
  ASSERT_EQ(report.notes.size(), 1u) << report.Describe();
  EXPECT_NE(report.notes[0].find("isZip"), std::string::npos) << report.notes[0];
  auto c = OpenCursor();
  engine::TDataCursor::TRecordBuffer r;
  while (c->Next(&r) == 0) EXPECT_EQ(c->IsNull(r, kIsZip), c->GetString(r, kFileName) == "c");
}

TEST_F(TableRepairTest, TruncatedFilesKeepWhatIsWhole) {
  const struct {
    const char* what;
    const char* file;
    std::size_t length;
    const char* rows;
  } cases[] = {
      {"data file cut inside record 5", "Back.DAT", RecordAt(5) + 100, "a:1000 c:10 "},
      {"data file cut after the definitions", "Back.DAT", kRecordsAt, ""},
      {"BLOB file cut inside row a's chain", "Back.BLB", kSecondBlobBlock + 20, ""},
      {"index file cut to its first bytes", "Back.IDX", 100, "a:1000 c:10 e:10 "},
      {"index file empty", "Back.IDX", 0, "a:1000 c:10 e:10 "},
  };
  for (const auto& c : cases) {
    MakeSoundSet();
    std::filesystem::resize_file(Host(std::string("Db/") + c.file), c.length);
    const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
    ExpectRepairedClean(report, c.what);
    if (std::string(c.file) == "Back.BLB") {
      // Row "a" lost its chain; the later rows' blocks lay past the cut too.
      EXPECT_EQ(report.keptRecords, 0) << c.what;
    } else {
      EXPECT_EQ(Rows(), c.rows) << c.what;
    }
    RemoveAll();
  }
}

// Pages lost but the index header whole: every index is rebuilt, so the
// primary key still refuses a duplicate.
TEST_F(TableRepairTest, IndexesAreRebuiltFromAWholeHeader) {
  MakeSoundSet();
  std::filesystem::resize_file(Host("Db/Back.IDX"), 4096 + 100);
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  ExpectRepairedClean(report, "index pages cut off");
  EXPECT_TRUE(report.notes.empty()) << report.Describe();
  EXPECT_EQ(Rows(), "a:1000 c:10 e:10 ");
  auto c = OpenCursor();
  EXPECT_EQ(engine_test::EngineCodeOf([&] { AddRow(*c, "a", 0, "p\\", "again"); }),
            engine::kErrDuplicateKey);
}

TEST_F(TableRepairTest, UnreadableLayoutIsRefusedAndNothingChanges) {
  MakeSoundSet();
  PatchFile(Host("Db/Back.DAT"), 21, {0x13, 0x02});  // record size 531
  const std::string before = Bytes("Back.DAT");
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  EXPECT_FALSE(report.repaired);
  EXPECT_NE(report.refusal.find("field definitions"), std::string::npos) << report.refusal;
  EXPECT_EQ(Bytes("Back.DAT"), before);
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.DAT.damaged")));
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back~RPR.DAT")));
}

TEST_F(TableRepairTest, TableInUseIsNotRepaired) {
  MakeSoundSet();
  PatchFile(Host("Db/Back.DAT"), 9, I32(-1));
  auto user = OpenCursor();
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  EXPECT_FALSE(report.repaired);
  EXPECT_NE(report.refusal.find("cannot be opened"), std::string::npos) << report.Describe();
  EXPECT_FALSE(std::filesystem::exists(Host("Db/Back.DAT.damaged")));
}

TEST_F(TableRepairTest, EachRepairKeepsItsOwnCopies) {
  MakeSoundSet();
  PatchFile(Host("Db/Back.DAT"), 9, I32(-1));
  const TTableRepairReport first = RepairTableSet("D:\\Db\\Back");
  ASSERT_TRUE(first.repaired);
  EXPECT_EQ(first.damagedCopies.size(), 3u);
  PatchFile(Host("Db/Back.DAT"), 9, I32(-1));
  const TTableRepairReport second = RepairTableSet("D:\\Db\\Back");
  ASSERT_TRUE(second.repaired);
  for (const char* f : {"Back.DAT", "Back.IDX", "Back.BLB"}) {
    EXPECT_TRUE(std::filesystem::exists(Host(std::string("Db/") + f + ".damaged"))) << f;
    EXPECT_TRUE(std::filesystem::exists(Host(std::string("Db/") + f + ".damaged2"))) << f;
  }
}

TEST_F(TableRepairTest, SecondaryIndexesAndAutoIncrementValuesSurvive) {
  CreateTable("Num", NumberedDefinition(true));
  {
    engine::TDataCursor c(dir_, "Num");
    c.Open();
    for (int i = 1; i <= 40; ++i) AddNumbered(c, i, 100 - i);
  }
  // Damage the data header's free record pointer; the indexes are sound.
  PatchFile(Host("Db/Num.DAT"), 9, I32(-7));
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Num");
  ASSERT_TRUE(report.repaired) << report.Describe();
  EXPECT_TRUE(report.notes.empty()) << report.Describe();
  EXPECT_TRUE(engine::CheckTableSet("D:\\Db\\Num").Ok());
  engine::TDataCursor c(dir_, "Num");
  c.Open();
  c.SelectIndex("ByNum");
  engine::TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c.Next(&r), 0);
  EXPECT_EQ(c.GetInteger(r, kId), 40);  // smallest Num first
  EXPECT_EQ(c.RecordCount(), 40);
}

// Records, definitions, index header and BLOB blocks of an encrypted set are
// read deciphered, and the rebuilt set is encrypted with the same password.
TEST_F(TableRepairTest, EncryptedSetIsRepairedWithItsPassword) {
  engine::TTableDefinition d = CatalogDefinition();
  d.encrypted = true;
  d.password = "secret";
  session_->AddPassword("secret");
  CreateTable("Back", d);
  {
    auto c = OpenCursor();
    AddRow(*c, "a", 1, "p\\", std::string(1000, 'x'));
    AddRow(*c, "b", 2, "p\\", "yy");
  }
  PatchFile(Host("Db/Back.DAT"), 9, I32(0x7FFFFFFF));  // the header is never enciphered
  const TTableRepairReport report = RepairTableSet("D:\\Db\\Back");
  ExpectRepairedClean(report, "encrypted");
  EXPECT_TRUE(report.notes.empty()) << report.Describe();
  EXPECT_EQ(Rows(), "a:1000 b:2 ");
  session_->RemoveAllPasswords();
  session_ = std::make_unique<engine::TDataSession>();
  dir_ = session_->OpenDirectory("", "D:\\Db");
  EXPECT_EQ(engine_test::EngineCodeOf([&] { OpenCursor(); }), engine::kErrPasswordRequired);
}

}  // namespace
}  // namespace table_test
