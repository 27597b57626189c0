// Execution of CREATE INDEX, DROP INDEX and ALTER TABLE on a table with a few
// hundred rows and BLOBs: statements and their outcomes (messages word for
// word), the index definitions they leave, every row and BLOB kept value by
// value through a rebuild, the backup copies of the old files, and a table
// set that checks clean after each statement.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/sql/sql_test_util.h"
#include "engine/storage/index_format.h"
#include "engine/table/table_check.h"

namespace {

namespace fs = std::filesystem;
using engine::TDataCursor;
using Lines = std::vector<std::string>;

constexpr int kRows = 300;
const std::string kSql = "11949 SQL error - ";

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DdlExecTest : public sql_test::SqlTest {
 protected:
  // t: id (primary key), name, qty (repeating), price, memo and data BLOBs
  // (some NULL, some of several blocks), stamp.
  void SetUp() override {
    SqlTest::SetUp();
    Exec(
        "CREATE TABLE t (id INTEGER, name CHAR(20), qty SMALLINT, price FLOAT, "
        "memo BLOB(0,1), data BLOB(0,2), stamp TIMESTAMP, PRIMARY KEY (id))");
    auto c = OpenCursor("t", true);
    for (int id = 1; id <= kRows; ++id) {
      auto r = c->NewRecord();
      c->PutInteger(r, 1, id);
      if (id % 11 != 0) c->PutString(r, 2, "Name" + std::to_string(id % 97));
      c->PutInteger(r, 3, id % 13);
      c->PutDouble(r, 4, id * 1.25);
      const std::string memo = "memo " + std::to_string(id);
      if (id % 5 != 0) c->PutBlob(r, 5, memo.data(), memo.size());
      std::string data(static_cast<std::size_t>((id * 131) % 2000), '\0');
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((id + i) % 256);
      if (id % 7 != 0) c->PutBlob(r, 6, data.data(), data.size());
      c->Insert(r);
    }
  }
  Lines Rows(const std::string& columns) {
    return Query("SELECT " + columns + " FROM t ORDER BY id");
  }
  void ExpectClean(const std::string& table = "t") {
    const engine::TTableCheckReport report = engine::CheckTableSet("D:\\Db\\" + table);
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_EQ(report.liveRecords, kRows) << table;
  }
  fs::path File(const std::string& name) { return Host("Db/" + name); }
  // The flags of secondary index `name`: unique, descending, no case, compression.
  std::string IndexFlags(const std::string& name) {
    auto c = OpenCursor("t");
    const int slot = c->Table()->IndexFile().FindIndex(name);
    if (slot < 0) return "none";
    const engine::TIndexDescriptor d = c->Table()->IndexFile().Descriptor(slot);
    return std::to_string(d.Unique()) + std::to_string(d.Descending()) +
           std::to_string(d.CaseInsensitive()) + std::to_string(d.Compression());
  }
};

TEST_F(DdlExecTest, StatementsAndTheirOutcomes) {
  const std::string dupKey = "9729 ZORVAD Engine Error # 9729 Duplicate key found in index ";
  const struct {
    const char* sql;
    std::string outcome;  // "" success; otherwise the start of "code message"
  } cases[] = {
      {"CREATE INDEX ByQty ON t (qty)", ""},
      {"CREATE INDEX byqty ON t (name)", "10027"},
      {"CREATE UNIQUE INDEX UQty ON t (qty)", "9729"},
      {"CREATE INDEX ByMemo ON t (memo)", "12292"},
      {"CREATE INDEX ByNothing ON t (nothing)", "10023"},
      {"CREATE INDEX ByName ON t (name, qty) COMPRESS FULL", ""},
      {"DROP INDEX t.Missing", "10022"},
      {"DROP INDEX t.byname", ""},
      {"ALTER TABLE t ADD extra INTEGER AT 8", kSql + "AT column position must be between 1 and 7"},
      {"ALTER TABLE t ADD extra INTEGER AT 0", kSql + "AT column position must be between 1 and 7"},
      {"ALTER TABLE t REDEFINE nope INTEGER", kSql + "Column nope not found"},
      {"ALTER TABLE t REDEFINE nope other INTEGER", kSql + "Column nope not found"},
      {"ALTER TABLE t DROP COLUMN nope", kSql + "Column nope not found"},
      {"ALTER TABLE t ADD PRIMARY KEY (name)",
       kSql + "Cannot REDEFINE the primary key using the ADD keyword"},
      {"ALTER TABLE t REDEFINE PRIMARY KEY (qty)", "9729"},
      {"ALTER TABLE t REDEFINE name NOT NULL", "9732"},
      {"ALTER TABLE t ADD id INTEGER", "10038"},
      {"ALTER TABLE t ADD c CHAR(251)",
       kSql + "Length argument must be an integer greater than 0 and less than or equal to 250 "
              "in t"},
      {"ALTER TABLE t BLOB BLOCK SIZE 32", "9498"},
      {"ALTER TABLE t", ""},
      // Nothing after the ';' is read; the table exists.
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a)) ; anything", "13060"},
      {"CREATE TABLE u (a CHAR(251))",
       kSql + "Length argument must be an integer greater than 0 and less than or equal to 250 "
              "in u"},
      {"DROP INDEX t.Primary", ""},
      {"DROP INDEX t.PRIMARY", "10022"},
      {"ALTER TABLE t ADD PRIMARY KEY (id)", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const std::string before = FileBytes(File("t.DAT"));
    const std::string got = ErrorOf(c.sql);
    if (c.outcome.empty()) {
      EXPECT_EQ(got, "");
    } else {
      EXPECT_EQ(got.substr(0, c.outcome.size()), c.outcome) << got;
      EXPECT_FALSE(got.empty());
      // A refused statement changes no record and leaves no work set behind.
      EXPECT_TRUE(FileBytes(File("t.DAT")) == before);
    }
    for (const auto& entry : fs::directory_iterator(Host("Db")))
      EXPECT_EQ(entry.path().filename().string().find("_alter_"), std::string::npos);
    ExpectClean();
  }
  EXPECT_EQ(IndexFlags("ByQty"), "0000");
  EXPECT_EQ(IndexFlags("ByName"), "none");
  // Missing tables are the cursor's errors, naming the table.
  for (const char* sql : {"CREATE INDEX i ON nosuch (a)", "DROP INDEX nosuch.i",
                          "ALTER TABLE nosuch ADD a INTEGER"}) {
    EXPECT_NE(ErrorOf(sql).find("nosuch"), std::string::npos) << sql;
  }
}

TEST_F(DdlExecTest, CreateIndexOptionsReachTheIndexFile) {
  const struct {
    const char* sql;
    const char* name;
    const char* flags;  // unique, descending, no case, compression
  } cases[] = {
      {"CREATE INDEX A ON t (qty)", "A", "0000"},
      {"CREATE UNIQUE INDEX B ON t (qty, id)", "B", "1000"},
      {"CREATE DESC INDEX C ON t (price)", "C", "0100"},
      {"CREATE ASCENDING NOCASE INDEX D ON t (name)", "D", "0010"},
      {"CREATE UNIQUE DESCENDING NOCASE INDEX E ON t (name, id) COMPRESS DUPBYTE", "E", "1111"},
      {"CREATE INDEX F ON t (name) COMPRESS TRAILBYTE", "F", "0002"},
      {"CREATE INDEX G ON t (name, stamp) COMPRESS FULL", "G", "0003"},
      {"CREATE INDEX H ON t (name) COMPRESS NONE", "H", "0000"},
      {"CREATE INDEX \"An index name longer than thirty characters\" ON t (qty)",
       "An index name longer than thir", "0000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(ErrorOf(c.sql), "");
    EXPECT_EQ(IndexFlags(c.name), c.flags);
    auto cursor = OpenCursor("t");
    cursor->SelectIndex(c.name);
    EXPECT_EQ(cursor->RecordCount(), kRows);
  }
  ExpectClean();
  // Walking a new index gives the order a SELECT sorts by.
  auto cursor = OpenCursor("t");
  cursor->SelectIndex("C");
  TDataCursor::TRecordBuffer r;
  double last = 1e300;
  int count = 0;
  while (cursor->Next(&r) == engine::kNavOk) {
    EXPECT_LT(cursor->GetDouble(r, 4), last);
    last = cursor->GetDouble(r, 4);
    ++count;
  }
  EXPECT_EQ(count, kRows);
}

TEST_F(DdlExecTest, AlterTableKeepsEveryRowAndBlobAndLeavesBackups) {
  Exec("CREATE INDEX ByQty ON t (qty)");
  const Lines before = Rows("id, name, qty, price, memo, data");
  const std::string oldData = FileBytes(File("t.DAT"));
  const std::string oldIndex = FileBytes(File("t.IDX"));
  const std::string oldBlobs = FileBytes(File("t.BLB"));
  EXPECT_EQ(ErrorOf("ALTER TABLE t ADD extra INTEGER AT 2 DEFAULT 5, "
                    "REDEFINE qty quantity INTEGER DESCRIPTION 'how many', "
                    "REDEFINE name CHAR(40) AT 1, DROP stamp "
                    "DESCRIPTION 'altered' USER MAJOR VERSION 3 LAST AUTOINC 5000"),
            "");
  // The old files are the backups, byte for byte.
  EXPECT_TRUE(FileBytes(File("t.DBK")) == oldData);
  // (the index header's change counter may have moved when the table closed)
  EXPECT_TRUE(FileBytes(File("t.IBK")).substr(engine::kIndexHeaderSize) ==
              oldIndex.substr(engine::kIndexHeaderSize));
  EXPECT_TRUE(FileBytes(File("t.BBK")) == oldBlobs);
  ExpectClean();
  Lines after = Rows("id, name, quantity, price, memo, data");
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0], "id\tname\tquantity\tprice\tmemo\tdata");
  for (std::size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i], before[i]);
  const Lines extra = Rows("id, extra");
  EXPECT_EQ(extra.size(), static_cast<std::size_t>(kRows + 1));
  for (std::size_t i = 1; i < extra.size(); ++i) EXPECT_EQ(extra[i], std::to_string(i) + "\t5");
  {
    auto c = OpenCursor("t");
    Lines names;
    for (const auto& f : c->Fields()) names.push_back(f.Name());
    EXPECT_EQ(names, (Lines{"name", "id", "extra", "quantity", "price", "memo", "data"}));
    EXPECT_EQ(c->Fields()[1].Type(), engine::kFieldInt32);
    EXPECT_EQ(c->Fields()[0].Size(), 40);
    EXPECT_EQ(c->Fields()[3].Type(), engine::kFieldInt32);
    EXPECT_EQ(c->Fields()[3].Description(), "how many");
    engine::TDataFile& data = c->Table()->DataFile();
    EXPECT_EQ(data.Description(), "altered");
    EXPECT_EQ(data.UserMajor(), 3);
    EXPECT_EQ(data.UserMinor(), 0);
    EXPECT_EQ(data.LastAutoIncrement(), 5000);
    // The primary key and the secondary index follow their moved columns.
    c->SelectIndex("ByQty");
    TDataCursor::TRecordBuffer r;
    std::int64_t last = -1;
    int count = 0;
    while (c->Next(&r) == engine::kNavOk) {
      EXPECT_GE(c->GetInteger(r, 4), last);
      last = c->GetInteger(r, 4);
      ++count;
    }
    EXPECT_EQ(count, kRows);
    c->SelectIndex(engine::kPrimarySlot);
    ASSERT_EQ(c->Next(&r), engine::kNavOk);
    EXPECT_EQ(c->GetInteger(r, 2), 1);
  }
  // New rows go on from LAST AUTOINC; the primary key still refuses repeats.
  EXPECT_EQ(ErrorOf("INSERT INTO t (id) VALUES (1)").substr(0, 4), "9729");
  EXPECT_EQ(Exec("INSERT INTO t (id) VALUES (1000)"), 1);
  EXPECT_EQ(Exec("DELETE FROM t WHERE id = 1000"), 1);

  // A second ALTER replaces the backups; NOBACKUP leaves none.
  fs::remove(File("t.BBK"));
  EXPECT_EQ(ErrorOf("ALTER TABLE t DROP memo, DROP data, DROP PRIMARY KEY NOBACKUP"), "");
  EXPECT_TRUE(fs::exists(File("t.DBK")));
  EXPECT_FALSE(fs::exists(File("t.BBK")));
  EXPECT_FALSE(fs::exists(File("t.BLB")));
  EXPECT_TRUE(FileBytes(File("t.DBK")) == oldData);
  ExpectClean();
  after = Rows("id, name, quantity, price");
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 1; i < after.size(); ++i)
    EXPECT_EQ(after[i], before[i].substr(0, after[i].size()));
}

TEST_F(DdlExecTest, AlterTableRedefinesThePrimaryKeyAndTableOptions) {
  const Lines before = Rows("id, name, memo, data");
  EXPECT_EQ(ErrorOf("ALTER TABLE t REDEFINE PRIMARY KEY (qty, id) BLOB BLOCK SIZE 1024 "
                    "ENCRYPTED WITH 'secret' USER MINOR VERSION 4"),
            "");
  session_->AddPassword("secret");
  ExpectClean();
  EXPECT_EQ(Rows("id, name, memo, data"), before);
  auto c = OpenCursor("t");
  EXPECT_TRUE(c->Table()->DataFile().Encrypted());
  EXPECT_EQ(c->Table()->DataFile().BlobBlockSize(), 1024);
  EXPECT_EQ(c->Table()->DataFile().UserMinor(), 4);
  const engine::TIndexDescriptor primary = c->Table()->IndexFile().Descriptor(0);
  ASSERT_EQ(primary.FieldCount(), 2);
  EXPECT_EQ(primary.FieldNumber(0), 3);
  EXPECT_EQ(primary.FieldNumber(1), 1);
  TDataCursor::TRecordBuffer r;
  ASSERT_EQ(c->Next(&r), engine::kNavOk);
  EXPECT_EQ(c->GetInteger(r, 3), 0);  // qty 0 sorts first
}

// The backup catalog as the program creates it (a name with the .dat
// extension in lower case): the rebuilt set keeps that name, and the backups
// take the backup extensions.
TEST_F(DdlExecTest, AlterTableOfTheCatalogKeepsItsFileNames) {
  Exec(
      "CREATE TABLE \"Back.dat\"  (                      FileName CHAR(250),   FileTime "
      "integer,    isZip Char(1),      Path Char(250),      File BLOB(0,2),      PRIMARY KEY "
      "(FileName,FileTime,Path)  ) ");
  {
    auto c = OpenCursor("Back.dat");
    AddRow(*c, "a.txt", 1, "C:\\", "alpha");
    AddRow(*c, "b.txt", 2, "C:\\", std::string(3000, 'b'));
  }
  const Lines before = Query("SELECT FileName, FileTime, isZip, Path, File FROM \"Back.dat\"");
  EXPECT_EQ(ErrorOf("ALTER TABLE \"Back.dat\" ADD Size INTEGER"), "");
  for (const char* name : {"Back.dat", "Back.IDX", "Back.BLB", "Back.DBK", "Back.IBK", "Back.BBK"})
    EXPECT_TRUE(fs::exists(File(name))) << name;
  EXPECT_EQ(Query("SELECT FileName, FileTime, isZip, Path, File FROM \"Back.dat\""), before);
  const engine::TTableCheckReport report = engine::CheckTableSet("D:\\Db\\Back.dat");
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.liveRecords, 2);
}

}  // namespace
