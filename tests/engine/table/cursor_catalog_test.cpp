// The cursor over the backup catalog: create, insert with BLOBs, find by key,
// modify, delete, reopen, and navigation codes.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

std::vector<std::uint8_t> KeyOf(TDataCursor& c, const std::string& name, std::int32_t time,
                                const std::string& path) {
  auto r = c.NewRecord();
  c.PutString(r, kFileName, name);
  c.PutInteger(r, kFileTime, time);
  c.PutString(r, kPath, path);
  return c.BuildKey(r);
}

TEST_F(TableTest, CatalogEndToEnd) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    EXPECT_EQ(c->RecordSize(), 530u);
    EXPECT_EQ(c->KeyLength(), 509);
    const std::string big(5000, 'x');
    AddRow(*c, "b.txt", 2, "C:\\A\\", "bee");
    AddRow(*c, "a.txt", 1, "C:\\A\\", big);
    AddRow(*c, "c.txt", 3, "C:\\B\\", "");
    EXPECT_EQ(c->RecordCount(), 3);

    // Index order: a, b, c.
    c->First();
    TDataCursor::TRecordBuffer r;
    ASSERT_EQ(c->Next(&r), 0);
    EXPECT_EQ(c->GetString(r, kFileName), "a.txt");
    EXPECT_EQ(c->GetBlob(r, kFile).size(), big.size());
    ASSERT_EQ(c->Next(&r), 0);
    EXPECT_EQ(c->GetString(r, kFileName), "b.txt");
    EXPECT_EQ(c->RecordPosition(), 2);

    // Duplicate key: refused, table unchanged.
    auto dup = c->NewRecord();
    c->PutString(dup, kFileName, "b.txt");
    c->PutInteger(dup, kFileTime, 2);
    c->PutString(dup, kPath, "C:\\A\\");
    EXPECT_EQ(EngineCodeOf([&] { c->Insert(dup); }), engine::kErrDuplicateKey);
    EXPECT_EQ(c->RecordCount(), 3);

    // Find and modify FileTime: the key entry moves.
    ASSERT_TRUE(c->FindKey(KeyOf(*c, "b.txt", 2, "C:\\A\\"), c->KeyLength()));
    c->ReadCurrent(&r);
    c->PutInteger(r, kFileTime, 9);
    c->PutBlob(r, kFile, "new content", 11);
    c->Modify(r);
    EXPECT_FALSE(c->FindKey(KeyOf(*c, "b.txt", 2, "C:\\A\\"), c->KeyLength()));
    ASSERT_TRUE(c->FindKey(KeyOf(*c, "b.txt", 9, "C:\\A\\"), c->KeyLength()));
    c->ReadCurrent(&r);
    const auto blob = c->GetBlob(r, kFile);
    EXPECT_EQ(std::string(blob.begin(), blob.end()), "new content");

    // Delete a: its blocks are freed for reuse.
    ASSERT_TRUE(c->FindKey(KeyOf(*c, "a.txt", 1, "C:\\A\\"), c->KeyLength()));
    c->ReadCurrent(&r);
    c->Delete(r);
    EXPECT_EQ(c->RecordCount(), 2);
    EXPECT_NE(c->Table()->BlobFile().FirstFree(), 0);
    c->Close();
  }
  {
    auto c = OpenCursor();
    EXPECT_EQ(c->RecordCount(), 2);
    TDataCursor::TRecordBuffer r;
    ASSERT_EQ(c->Next(&r), 0);
    EXPECT_EQ(c->GetString(r, kFileName), "b.txt");
    EXPECT_EQ(c->GetInteger(r, kFileTime), 9);
    ASSERT_EQ(c->Next(&r), 0);
    EXPECT_EQ(c->GetString(r, kFileName), "c.txt");
    EXPECT_EQ(c->Next(&r), engine::kErrEndOfFile);
    EXPECT_EQ(c->Prior(&r), 0);
    EXPECT_EQ(c->GetString(r, kFileName), "c.txt");
    // A deleted record's slot is reused by the next insert.
    AddRow(*c, "d.txt", 4, "C:\\D\\", std::string(1000, 'd'));
    EXPECT_EQ(c->Table()->DataFile().RecordCount(), 3);
  }
  const engine::TTableCheckReport report = engine::CheckTableSet("D:\\Db\\Back");
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.liveRecords, 3);
}

TEST_F(TableTest, NavigationCodesOnAnEmptyTable) {
  CreateCatalog();
  auto c = OpenCursor();
  TDataCursor::TRecordBuffer r;
  EXPECT_EQ(c->ReadCurrent(&r), engine::kErrNoCurrentRecord);
  EXPECT_EQ(c->Next(&r), engine::kErrEndOfFile);
  EXPECT_EQ(c->Prior(&r), engine::kErrBeginOfFile);
  EXPECT_EQ(c->RecordCount(), 0);
}

TEST_F(TableTest, CreateChecks) {
  struct Case {
    const char* what;
    std::function<void(engine::TTableDefinition&)> change;
    int code;
  };
  const Case cases[] = {
      {"third CHAR(250) key field: 761 bytes",
       [](auto& d) {
         d.indexes[0].fieldNumbers = {1, 2, 4, 3};
         d.fields[2].SetSize(250);
       },
       engine::kErrInvalidKeySize},
      {"BLOB key field", [](auto& d) { d.indexes[0].fieldNumbers = {5}; },
       engine::kErrInvalidIndexFieldType},
      {"unknown key field", [](auto& d) { d.indexes[0].fieldNumbers = {7}; },
       engine::kErrInvalidIndexField},
      {"16-character password",
       [](auto& d) {
         d.encrypted = true;
         d.password = std::string(16, 'p');
       },
       engine::kErrInvalidPassword},
      {"block size 63", [](auto& d) { d.blobBlockSize = 63; }, engine::kErrBlobDefinition},
      {"duplicate field name", [](auto& d) { d.fields[3].SetName("filename"); },
       engine::kErrInvalidFieldName},
  };
  for (const Case& k : cases) {
    auto d = CatalogDefinition();
    k.change(d);
    TDataCursor c(dir_, "T");
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    EXPECT_EQ(EngineCodeOf([&] { c.CreateTable(d); }), k.code) << k.what;
    EXPECT_FALSE(std::filesystem::exists(Host("Db/T.DAT"))) << k.what;
  }
  CreateCatalog("T");
  TDataCursor again(dir_, "T");
  engine::TCursorOptions o;
  o.exclusive = true;
  again.SetOptions(o);
  EXPECT_EQ(EngineCodeOf([&] { again.CreateTable(CatalogDefinition()); }), engine::kErrTableExists);
  TDataCursor shared(dir_, "U");
  EXPECT_EQ(EngineCodeOf([&] { shared.CreateTable(CatalogDefinition()); }),
            engine::kErrExclusiveNeeded);
}

TEST_F(TableTest, StringsAreCutTrimmedAndBlankIsNull) {
  CreateCatalog();
  auto c = OpenCursor();
  auto r = c->NewRecord();
  c->PutString(r, kFileName, "abc  ");
  EXPECT_EQ(c->GetString(r, kFileName), "abc");
  c->PutString(r, kFileName, "   ");
  EXPECT_TRUE(c->IsNull(r, kFileName));
  c->PutString(r, kIsZip, "YES");
  EXPECT_EQ(c->GetString(r, kIsZip), "Y");
}

TEST_F(TableTest, LostIndexFileOpensInNaturalOrderWithoutKeys) {
  CreateCatalog();
  {
    auto c = OpenCursor();
    AddRow(*c, "a", 1, "p", "1");
    AddRow(*c, "b", 2, "p", "2");
  }
  std::filesystem::remove(Host("Db/Back.IDX"));
  auto c = OpenCursor();
  EXPECT_TRUE(c->NaturalOrder());
  EXPECT_EQ(c->RecordCount(), 2);
  AddRow(*c, "a", 1, "p", "again");  // no primary key any more: accepted
  EXPECT_EQ(c->RecordCount(), 3);
  TDataCursor::TRecordBuffer r;
  c->First();
  ASSERT_EQ(c->Next(&r), 0);
  EXPECT_EQ(c->GetString(r, kFileName), "a");
  c->Close();
  EXPECT_TRUE(engine::CheckTableSet("D:\\Db\\Back").Ok());
}

}  // namespace
