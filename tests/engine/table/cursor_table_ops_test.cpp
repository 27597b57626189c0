// Operations on whole table sets through the cursor and the table object:
// rename (plain and to backup names), delete, empty, and the backup and
// restore of the index file. Each must move or change every file of the set
// together, refuse cleanly (nothing half done), and leave a set that checks
// clean.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/files/file_list.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/index_format.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"

namespace {

namespace fs = std::filesystem;
using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TableOpsTest : public TableTest {
 protected:
  // The catalog "name" with three rows (BLOBs included).
  void MakeCatalog(const std::string& name) {
    CreateCatalog(name);
    auto c = OpenCursor(name);
    AddRow(*c, "a.txt", 1, "C:\\", "alpha");
    AddRow(*c, "b.txt", 2, "C:\\", std::string(3000, 'b'));  // several BLOB blocks
    AddRow(*c, "c.txt", 3, "C:\\", "gamma");
  }
  // The table set's three files as they are on disk.
  std::string SetBytes(const std::string& name) {
    return FileBytes(Host("Db/" + name + ".DAT")) + "|" + FileBytes(Host("Db/" + name + ".IDX")) +
           "|" + FileBytes(Host("Db/" + name + ".BLB"));
  }
  bool SetExists(const std::string& name, const char* a = ".DAT", const char* b = ".IDX",
                 const char* c = ".BLB") {
    return fs::exists(Host("Db/" + name + a)) && fs::exists(Host("Db/" + name + b)) &&
           fs::exists(Host("Db/" + name + c));
  }
  bool NoneExists(const std::string& name) {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      if (fs::exists(Host("Db/" + name + ext))) return false;
    }
    return true;
  }
  void ExpectClean(const std::string& dataFile, std::int64_t rows) {
    const engine::TTableCheckReport report = engine::CheckTableSet(dataFile);
    EXPECT_TRUE(report.Ok()) << dataFile << "\n" << report.Describe();
    EXPECT_EQ(report.liveRecords, rows) << dataFile;
  }
  // The rows' names in key order, with their BLOB sizes.
  std::string Rows(const std::string& name) {
    auto c = OpenCursor(name);
    std::string out;
    TDataCursor::TRecordBuffer r;
    while (c->Next(&r) == 0) {
      out += c->GetString(r, kFileName) + ":" + std::to_string(c->GetBlob(r, kFile).size()) + " ";
    }
    return out;
  }
  static constexpr const char* kThreeRows = "a.txt:5 b.txt:3000 c.txt:5 ";
};

TEST_F(TableOpsTest, RenameMovesEveryFileOfTheSet) {
  MakeCatalog("Back");
  TDataCursor c(dir_, "Back");
  c.RenameTable("Moved");
  EXPECT_TRUE(NoneExists("Back"));
  EXPECT_TRUE(SetExists("Moved"));
  EXPECT_EQ(Rows("Moved"), kThreeRows);
  ExpectClean("D:\\Db\\Moved.DAT", 3);

  // A name with a path is taken as it is.
  fs::create_directory(Host("Far"));
  TDataCursor far(dir_, "Moved");
  far.RenameTable("D:\\Far\\Away");
  EXPECT_TRUE(NoneExists("Moved"));
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    EXPECT_TRUE(fs::exists(Host(std::string("Far/Away") + ext))) << ext;
  ExpectClean("D:\\Far\\Away.DAT", 3);
}

// In the "MEMORY" directory the files live in the process's file list.
TEST_F(TableOpsTest, RenameInMemoryMovesEveryFileOrNone) {
  engine::TDataDirectory* memory = session_->OpenDirectory("MEMORY", "");
  engine::TFileList& files = engine::TFileList::Instance();
  for (const char* name : {"Mem", "Other"}) {
    TDataCursor make(memory, name);
    engine::TCursorOptions o;
    o.exclusive = true;
    make.SetOptions(o);
    make.CreateTable(CatalogDefinition());
  }
  TDataCursor c(memory, "Mem");
  EXPECT_EQ(EngineCodeOf([&] { c.RenameTable("Other"); }), engine::kErrTableExists);
  for (const char* file : {"Mem.DAT", "Mem.IDX", "Mem.BLB", "Other.DAT", "Other.IDX", "Other.BLB"})
    EXPECT_TRUE(files.HasFile(file, true)) << file;
  c.RenameTable("Moved");
  for (const char* file : {"Moved.DAT", "Moved.IDX", "Moved.BLB"})
    EXPECT_TRUE(files.HasFile(file, true)) << file;
  for (const char* file : {"Mem.DAT", "Mem.IDX", "Mem.BLB"})
    EXPECT_FALSE(files.HasFile(file, true)) << file;
  EXPECT_FALSE(fs::exists(Host("Db/Moved.DAT")));
  memory->DeleteTable("Moved");
  memory->DeleteTable("Other");
  EXPECT_FALSE(files.HasFile("Moved.DAT", true));
}

TEST_F(TableOpsTest, RenameOfATableWithoutBlobsMovesItsTwoFiles) {
  engine::TTableDefinition d = CatalogDefinition();
  d.fields.pop_back();  // no BLOB field, so no BLOB file
  TDataCursor make(dir_, "Plain");
  engine::TCursorOptions o;
  o.exclusive = true;
  make.SetOptions(o);
  make.CreateTable(d);
  ASSERT_FALSE(fs::exists(Host("Db/Plain.BLB")));
  TDataCursor c(dir_, "Plain");
  c.RenameTable("Plainer");
  EXPECT_TRUE(fs::exists(Host("Db/Plainer.DAT")));
  EXPECT_TRUE(fs::exists(Host("Db/Plainer.IDX")));
  EXPECT_FALSE(fs::exists(Host("Db/Plainer.BLB")));
  EXPECT_FALSE(fs::exists(Host("Db/Plain.DAT")));
}

TEST_F(TableOpsTest, RenameToBackupNamesReplacesOlderBackups) {
  MakeCatalog("Back");
  const std::string before = SetBytes("Back");
  for (const char* ext : {".DBK", ".IBK", ".BBK"})
    platform_test::WriteHostFile(Host(std::string("Db/Back") + ext), "an older backup");
  dir_->RenameTable("Back", "Back", true);
  EXPECT_TRUE(NoneExists("Back"));
  const std::string after = FileBytes(Host("Db/Back.DBK")) + "|" + FileBytes(Host("Db/Back.IBK")) +
                            "|" + FileBytes(Host("Db/Back.BBK"));
  EXPECT_TRUE(after == before);
}

// A refused rename changes nothing: no file of either set is moved.
TEST_F(TableOpsTest, RefusedRenamesLeaveBothSetsWhole) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string target;
    int code;
  };
  std::unique_ptr<TDataCursor> holder;
  const Case cases[] = {
      {"target table exists", [&] { MakeCatalog("Taken"); }, "Taken", engine::kErrTableExists},
      {"a stray index file of the target name",
       [&] { platform_test::WriteHostFile(Host("Db/Stray.IDX"), "stray"); }, "Stray",
       engine::kErrTableExists},
      {"a stray BLOB file of the target name",
       [&] { platform_test::WriteHostFile(Host("Db/Blobby.BLB"), "stray"); }, "Blobby",
       engine::kErrTableExists},
      {"table open in another cursor", [&] { holder = OpenCursor("Back"); }, "Free",
       engine::kErrAccessDenied},
  };
  MakeCatalog("Back");
  for (const Case& k : cases) {
    k.arrange();
    const std::string before = SetBytes("Back");
    const std::string targetBefore = SetBytes(k.target);
    TDataCursor c(dir_, "Back");
    EXPECT_EQ(EngineCodeOf([&] { c.RenameTable(k.target); }), k.code) << k.what;
    holder.reset();
    EXPECT_TRUE(SetBytes("Back") == before) << k.what;
    EXPECT_TRUE(SetBytes(k.target) == targetBefore) << k.what;
  }
  EXPECT_EQ(Rows("Back"), kThreeRows);
  EXPECT_EQ(Rows("Taken"), kThreeRows);

  // The renaming cursor itself must be closed; a missing table is an error.
  auto open = OpenCursor("Back");
  EXPECT_EQ(EngineCodeOf([&] { open->RenameTable("Free"); }), engine::kErrTableInUse);
  open.reset();
  TDataCursor missing(dir_, "Nowhere");
  EXPECT_EQ(EngineCodeOf([&] { missing.RenameTable("Free"); }), engine::kErrInvalidPath);
  EXPECT_TRUE(NoneExists("Free"));
}

TEST_F(TableOpsTest, DeleteRemovesTheSetAndRefusesOpenOrMissingTables) {
  MakeCatalog("Back");
  auto open = OpenCursor("Back");
  TDataCursor c(dir_, "Back");
  EXPECT_EQ(EngineCodeOf([&] { c.DeleteTable(); }), engine::kErrAccessDenied);
  EXPECT_TRUE(SetExists("Back"));
  open.reset();
  c.DeleteTable();
  EXPECT_TRUE(NoneExists("Back"));
  EXPECT_FALSE(dir_->TableExists("Back"));
  EXPECT_EQ(EngineCodeOf([&] { c.DeleteTable(); }), engine::kErrInvalidPath);
  // The name is free again.
  MakeCatalog("Back");
  EXPECT_EQ(Rows("Back"), kThreeRows);
}

// A table kept in memory may share its name with a table on disk in the same
// directory: dropping, deleting or renaming the one in memory leaves the one
// on disk alone.
TEST_F(TableOpsTest, MemoryTablesBesideDiskTablesOfTheSameName) {
  MakeCatalog("Back");
  const std::string onDisk = SetBytes("Back");
  auto memoryCursor = [&](bool dropOnClose) {
    auto c = std::make_unique<TDataCursor>(dir_, "Back");
    engine::TCursorOptions o;
    o.inMemory = true;
    o.exclusive = true;
    o.dropOnClose = dropOnClose;
    c->SetOptions(o);
    return c;
  };
  auto make = [&](bool dropOnClose) {
    auto c = memoryCursor(dropOnClose);
    c->CreateTable(table_test::CatalogDefinition());
    c->Open();
    AddRow(*c, "m.txt", 9, "M:\\", "in memory");
    return c;
  };
  make(true)->Close();  // dropped at close
  EXPECT_FALSE(dir_->TableExists("Back", true));
  EXPECT_EQ(SetBytes("Back"), onDisk);

  make(false)->Close();
  EXPECT_TRUE(dir_->TableExists("Back", true));
  memoryCursor(false)->DeleteTable();
  EXPECT_FALSE(dir_->TableExists("Back", true));
  EXPECT_EQ(SetBytes("Back"), onDisk);

  make(false)->Close();
  memoryCursor(false)->RenameTable("Other");
  EXPECT_TRUE(dir_->TableExists("Other", true));
  EXPECT_FALSE(dir_->TableExists("Back", true));
  EXPECT_TRUE(NoneExists("Other"));
  EXPECT_EQ(SetBytes("Back"), onDisk);
  EXPECT_EQ(Rows("Back"), kThreeRows);
}

TEST_F(TableOpsTest, EmptyNeedsAnOpenExclusiveWritableCursor) {
  MakeCatalog("Back");
  struct Case {
    const char* what;
    bool open;
    bool exclusive;
    bool readOnly;
    int code;
  };
  const Case cases[] = {
      {"shared", true, false, false, engine::kErrExclusiveNeeded},
      {"read-only", true, true, true, engine::kErrAccessDenied},
      {"closed", false, true, false, engine::kErrNoCurrentRecord},
  };
  for (const Case& k : cases) {
    TDataCursor c(dir_, "Back");
    engine::TCursorOptions o;
    o.exclusive = k.exclusive;
    o.readOnly = k.readOnly;
    c.SetOptions(o);
    if (k.open) c.Open();
    EXPECT_EQ(EngineCodeOf([&] { c.EmptyTable(); }), k.code) << k.what;
  }
  EXPECT_EQ(Rows("Back"), kThreeRows);
}

// A physical sort puts the rows in the asked order by record number, packs
// out deleted records and rebuilds every index: every row stays findable by
// its key with its own BLOB, and the set checks clean. Shared, read-only and
// transaction cursors are refused with nothing changed.
TEST_F(TableOpsTest, SortTableOrdersThePhysicalRowsAndRebuildsEveryIndex) {
  CreateCatalog();
  {
    auto c = OpenCursor("Back", true);
    engine::TIndexDefinition byTime;
    byTime.name = "ByTime";
    byTime.fieldNumbers = {kFileTime};
    c->AddIndex(byTime);
    for (int i = 0; i < 12; ++i) {
      AddRow(*c, "f" + std::to_string(i) + ".txt", (i * 5) % 12, "C:\\",
             std::string(static_cast<std::size_t>(600 * i), static_cast<char>('a' + i)));
    }
    TDataCursor::TRecordBuffer r;
    c->First();
    ASSERT_EQ(c->Next(&r), 0);
    c->Delete(r);  // f0.txt, record 1
  }
  const std::string keyOrder = Rows("Back");

  struct Refusal {
    const char* what;
    bool exclusive;
    bool readOnly;
    bool inTransaction;
    int code;
  };
  const Refusal refusals[] = {
      {"shared", false, false, false, engine::kErrExclusiveNeeded},
      {"read-only", true, true, false, engine::kErrAccessDenied},
      {"in a transaction", true, false, true, engine::kErrTableInUse},
  };
  for (const Refusal& k : refusals) {
    TDataCursor c(dir_, "Back");
    engine::TCursorOptions o;
    o.exclusive = k.exclusive;
    o.readOnly = k.readOnly;
    c.SetOptions(o);
    c.Open();
    if (k.inTransaction) dir_->StartTransaction();
    EXPECT_EQ(EngineCodeOf([&] { c.SortTable({{kFileTime, true}}); }), k.code) << k.what;
    if (k.inTransaction) dir_->Rollback();
  }

  {
    auto c = OpenCursor("Back", true);
    EXPECT_EQ(c->SortTable({{kFileTime, true}, {kFileName, false}}), 11);
  }
  ExpectClean("D:\\Db\\Back.DAT", 11);
  EXPECT_EQ(Rows("Back"), keyOrder);
  TDataCursor c(dir_, "Back");
  engine::TCursorOptions o;
  o.naturalOrder = true;
  c.SetOptions(o);
  c.Open();
  // Record numbers 1..11 in descending time, ties by name.
  std::string physical;
  TDataCursor::TRecordBuffer r;
  while (c.Next(&r) == 0) {
    physical += std::to_string(c.CurrentRecordNumber()) + "=" +
                std::to_string(c.GetInteger(r, kFileTime)) + c.GetString(r, kFileName) + " ";
  }
  EXPECT_EQ(physical,
            "1=11f7.txt 2=10f2.txt 3=9f9.txt 4=8f4.txt 5=7f11.txt 6=6f6.txt 7=5f1.txt "
            "8=4f8.txt 9=3f3.txt 10=2f10.txt 11=1f5.txt ");
  c.Close();
  // The secondary index finds the rows under their new numbers.
  auto byTime = OpenCursor("Back");
  byTime->SelectIndex("ByTime");
  byTime->First();
  std::string times;
  while (byTime->Next(&r) == 0) {
    const int i = std::stoi(byTime->GetString(r, kFileName).substr(1));
    EXPECT_EQ(byTime->GetBlob(r, kFile),
              std::vector<std::uint8_t>(static_cast<std::size_t>(600 * i),
                                        static_cast<std::uint8_t>('a' + i)));
    times += std::to_string(byTime->GetInteger(r, kFileTime)) + " ";
  }
  EXPECT_EQ(times, "1 2 3 4 5 6 7 8 9 10 11 ");
}

// In index order and in record-number order (where the cursor counts and
// moves over its bitmap of visible records).
TEST_F(TableOpsTest, EmptyLeavesAnEmptySetThatStartsAgainAtRecordOne) {
  for (const bool natural : {false, true}) {
    SCOPED_TRACE(natural ? "record-number order" : "index order");
    MakeCatalog("Back");
    {
      TDataCursor c(dir_, "Back");
      engine::TCursorOptions o;
      o.exclusive = true;
      o.naturalOrder = natural;
      c.SetOptions(o);
      c.Open();
      ASSERT_EQ(c.BitmapMode(), natural);
      // A deleted record puts something on the free chain.
      c.First();
      TDataCursor::TRecordBuffer r;
      ASSERT_EQ(c.Next(&r), 0);
      c.Delete(r);
      ASSERT_EQ(c.RecordCount(), 2);

      c.EmptyTable();
      EXPECT_EQ(c.RecordCount(), 0);
      EXPECT_TRUE(c.Bof() && c.Eof());
      EXPECT_EQ(c.Next(&r), engine::kErrEndOfFile);
      EXPECT_EQ(c.Table()->DataFile().RecordCount(), 0);
      EXPECT_EQ(c.Table()->IndexFile().RecordCount(), 0);

      AddRow(c, "new.txt", 7, "D:\\", "fresh");
      EXPECT_EQ(c.CurrentRecordNumber(), 1);
      ASSERT_EQ(c.ReadCurrent(&r), 0);
      EXPECT_EQ(engine::bytes::GetI32(&r[engine::kRecordAutoIncOffset]), 1);
      EXPECT_EQ(c.RecordCount(), 1);
      EXPECT_EQ(c.RecordPosition(), 1);
    }
    ExpectClean("D:\\Db\\Back.DAT", 1);
    EXPECT_EQ(Rows("Back"), "new.txt:5 ");

    // Emptied files hold their headers (and definitions) only.
    {
      auto c = OpenCursor("Back", true);
      c->EmptyTable();
    }
    EXPECT_EQ(fs::file_size(Host("Db/Back.DAT")), 127u + 768u * 5);
    EXPECT_EQ(fs::file_size(Host("Db/Back.BLB")), engine::kBlobHeaderSize);
    ExpectClean("D:\\Db\\Back.DAT", 0);
    dir_->DeleteTable("Back");
  }
}

// Emptying cannot be undone, so a transaction around it must not leave the
// old headers over the truncated files.
TEST_F(TableOpsTest, EmptyInsideATransactionLeavesAConsistentSet) {
  for (const bool commit : {false, true}) {
    MakeCatalog("Back");
    {
      auto c = OpenCursor("Back", true);
      dir_->StartTransaction();
      ASSERT_TRUE(dir_->InTransaction());
      c->EmptyTable();
      EXPECT_EQ(c->RecordCount(), 0);
      if (commit) {
        dir_->Commit();
      } else {
        dir_->Rollback();
      }
    }
    ExpectClean("D:\\Db\\Back.DAT", 0);
    EXPECT_EQ(Rows("Back"), "") << commit;
    dir_->DeleteTable("Back");
  }
}

// On disk and in the "MEMORY" directory, whose files live in the process's
// file list until they are deleted.
class IndexBackupTest : public TableOpsTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool InMemory() const { return GetParam(); }
  void SetUp() override {
    TableOpsTest::SetUp();
    where_ = InMemory() ? session_->OpenDirectory("MEMORY", "") : dir_;
    TDataCursor make(where_, "Back");
    engine::TCursorOptions o;
    o.exclusive = true;
    make.SetOptions(o);
    make.CreateTable(CatalogDefinition());
    cursor_ = std::make_unique<TDataCursor>(where_, "Back");
    cursor_->SetOptions(o);
    cursor_->Open();
  }
  void TearDown() override {
    cursor_.reset();
    if (InMemory()) {
      for (const char* name : {"Back.DAT", "Back.IDX", "Back.BLB", "Back.IBK"})
        engine::TFileList::Instance().RemoveFile(name, true);
    }
    TableOpsTest::TearDown();
  }
  std::string Path(const std::string& name) const { return InMemory() ? name : "D:\\Db\\" + name; }
  bool Has(const std::string& name) {
    return engine::TFileList::Instance().HasFile(Path(name), InMemory());
  }
  // Closes the cursor and checks the set.
  void CloseAndCheck(std::int64_t rows) {
    cursor_.reset();
    const engine::TTableCheckReport report = engine::CheckTableSet(Path("Back.DAT"), InMemory());
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_EQ(report.liveRecords, rows);
  }

  engine::TDataDirectory* where_ = nullptr;
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_P(IndexBackupTest, RestoreBringsBackTheSavedIndexAndDeletesTheBackupWhenAsked) {
  TDataCursor& c = *cursor_;
  AddRow(c, "a.txt", 1, "C:\\", "alpha");
  AddRow(c, "b.txt", 2, "C:\\", "beta");
  engine::TDataTable& table = *c.Table();
  engine::TIndexFile& index = table.IndexFile();

  table.BackupIndex();
  ASSERT_TRUE(Has("Back.IBK"));
  EXPECT_FALSE(index.HeaderModified());  // everything was written back first

  // An index-only change: a secondary index over FileTime, written out.
  engine::TIndexDefinition byTime;
  byTime.name = "ByTime";
  byTime.fieldNumbers = {kFileTime};
  index.AddSecondaryIndex(byTime, table.DataFile().Definitions());
  index.SetHeaderModified();
  table.FlushTable(false, false, false, false, true);
  ASSERT_EQ(index.SecondaryCount(), 1);

  // skipCopy: nothing is copied, the backup stays.
  table.RestoreIndex(true, false);
  EXPECT_EQ(index.SecondaryCount(), 1);
  EXPECT_TRUE(Has("Back.IBK"));

  table.RestoreIndex(false, true);
  EXPECT_EQ(index.SecondaryCount(), 0);
  EXPECT_EQ(index.FindIndex("ByTime"), -1);
  EXPECT_EQ(index.RecordCount(), 2);
  EXPECT_FALSE(Has("Back.IBK"));

  // The restored index serves further changes.
  AddRow(c, "c.txt", 3, "C:\\", "gamma");
  CloseAndCheck(3);
}

TEST_P(IndexBackupTest, RestoreWithoutABackupFailsAndKeepsTheIndex) {
  TDataCursor& c = *cursor_;
  AddRow(c, "a.txt", 1, "C:\\", "alpha");
  // Changes still in the caches of the exclusive table must survive.
  AddRow(c, "b.txt", 2, "C:\\", "beta");
  EXPECT_NE(EngineCodeOf([&] { c.Table()->RestoreIndex(false, false); }), 0);
  EXPECT_EQ(c.RecordCount(), 2);
  AddRow(c, "c.txt", 3, "C:\\", "gamma");
  EXPECT_EQ(c.RecordCount(), 3);
  CloseAndCheck(3);
}

INSTANTIATE_TEST_SUITE_P(OnDiskAndInMemory, IndexBackupTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InMemory" : "OnDisk"; });

}  // namespace
