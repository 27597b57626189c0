// The backup catalog's statements run through the components on a real
// directory, texts built exactly as the catalog concatenates them: insert
// with the five parameters (the BLOB loaded from a file, or cleared), update
// with pWherePath, search with a filter, the restore SELECT; then the table
// check of the files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/components/components_test_util.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_query.h"
#include "engine/table/data_directory.h"
#include "engine/table/table_check.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;

std::string InsertText(const std::string& t) {
  return "Insert into \"" + t + "\" " + " (FileName,FileTime,isZip,Path,File) " + "values " +
         " (:pFileName,:pFileTime,:pisZip,:pPath,:pFile)";
}
std::string UpdateText(const std::string& t) {
  return "UpDate \"" + t + "\"" +
         " set FileTime=:pFileTime,isZip=:pisZip,Path =:pPath,File=:pFile " +
         "where FileName =:pFileName " + " and Path =:pWherePath";
}
std::string SearchText(const std::string& o) {
  return "select FileName,FileTime,Path,isZip from \"" + o + "\"";
}
std::string RestoreText(const std::string& n) {
  return "select FileName,isZip,Path,File  From \"" + n + "\"";
}
std::string FilterText(const std::string& f, const std::string& d) {
  return "FileName = \"" + f + "\"" + " and Path =\"" + d + "\"";
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct FileRow {
  std::string name, path;
  std::int32_t time;
  std::string isZip;
  std::string content;  // "" with `stored` false: no file, a NULL BLOB
  bool stored;
};

class CatalogStatementsTest : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    CreateCatalog("Back.dat");
    db.SetDirectory("D:\\Bk\\");
    db.SetDatabaseName("Back.dat");
    for (TZORVADQuery* q : {&insert, &update}) {
      q->SetDatabaseName(kTarget);
      q->SetSQLText(q == &insert ? InsertText(kTarget) : UpdateText(kTarget));
      q->Prepare();
      q->ParamByName("pFile").SetDataType(static_cast<TFieldType>(15));
    }
  }
  // Binds as the catalog does (name, time, path, flag, then the file) and executes.
  void Bind(TZORVADQuery& q, const FileRow& row) {
    q.ParamByName("pFileName").SetAsString(row.name);
    q.ParamByName("pFileTime").SetAsInteger(row.time);
    q.ParamByName("pPath").SetAsString(row.path);
    q.ParamByName("pisZip").SetAsString(row.isZip);
    if (row.stored) {
      const std::string source = "src_" + std::to_string(++sources_);
      std::ofstream(Host("Bk/" + source), std::ios::binary) << row.content;
      q.ParamByName("pFile").LoadFromFile("D:\\Bk\\" + source, ftBlob);
    } else {
      q.ParamByName("pFile").Clear();
    }
    if (&q == &update) q.ParamByName("pWherePath").SetAsString(row.path);
    q.ExecSQL();
  }

  static constexpr char kTarget[] = "D:\\Bk\\Back.dat";
  TZORVADDatabase db;
  TZORVADQuery insert, update;
  int sources_ = 0;
};

TEST_F(CatalogStatementsTest, InsertUpdateSearchAndRestore) {
  const std::vector<FileRow> rows = {
      {"a.txt", "C:\\Src\\", 0x2D8F5C21, "N", std::string(100'000, 'a'), true},
      {"a.txt", "C:\\Src\\Sub\\", 0x2D8F5C22, "N", "sub", true},
      {"b.zip", "C:\\Src\\", 0x2D8F5C23, "Y", "PK\x03\x04", true},
      {"empty", "C:\\Src\\", 0x2D8F5C24, "N", "", true},
      {"placeholder", "C:\\Src\\", 0x2D8F5C25, "N", "", false},
  };
  db.Open();
  db.StartTransaction();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Bind(insert, rows[i]);
    EXPECT_EQ(insert.RowsAffected(), 1);
    if (i % 2 == 0) {  // commit and go on, as the backup run does
      db.Commit();
      db.StartTransaction();
    }
  }
  db.Commit();
  EXPECT_EQ(engine_test::EngineCodeOf([&] { Bind(insert, rows[0]); }), kErrDuplicateKey);
  // The statements' writes belong to the database's transaction.
  db.StartTransaction();
  Bind(insert, {"rolled back", "C:\\", 1, "N", "x", true});
  db.Rollback();

  // Update exactly the row of that name in that directory.
  FileRow changed = rows[0];
  changed.time = 0x2E000000;
  changed.content = "newer";
  Bind(update, changed);
  EXPECT_EQ(update.RowsAffected(), 1);
  std::vector<FileRow> expected = rows;
  expected[0] = changed;

  // Search: the filter finds one file in one directory.
  TZORVADQuery search;
  search.SetDatabaseName("Back.dat");
  search.SetSQLText(SearchText(kTarget));
  search.SetFiltered(true);
  search.Open();
  EXPECT_EQ(search.Database(), &db) << "found by the old name";
  EXPECT_EQ(search.RecordCount(), 5);
  for (const FileRow& r : expected) {
    search.SetFilter(FilterText(r.name, r.path));
    EXPECT_FALSE(search.Eof()) << r.name << " in " << r.path;
    EXPECT_EQ(search.FieldByName("FileTime").AsInteger(), r.time) << r.name;
  }
  search.SetFilter(FilterText("a.txt", "C:\\Elsewhere\\"));
  EXPECT_TRUE(search.Eof());
  search.Close();

  // Restore: every row with its file.
  TZORVADQuery restore;
  restore.SetDatabaseName("Back.dat");
  restore.SetSQLText(RestoreText("Back.dat"));
  restore.Open();
  EXPECT_EQ(restore.RecordCount(), 5);
  std::size_t seen = 0;
  for (restore.First(); !restore.Eof(); restore.Next()) {
    const std::string name = restore.FieldByName("FileName").AsString();
    const std::string path = restore.Fields(2).AsString();
    auto it = std::find_if(expected.begin(), expected.end(),
                           [&](const FileRow& r) { return r.name == name && r.path == path; });
    ASSERT_NE(it, expected.end()) << name << " " << path;
    EXPECT_EQ(restore.FieldByName("isZip").AsString(), it->isZip);
    TField& file = restore.FieldByName("File");
    EXPECT_EQ(file.IsNull(), !it->stored) << name;
    EXPECT_EQ(file.BlobSize(), static_cast<std::int64_t>(it->content.size())) << name;
    file.SaveToFile("D:\\Bk\\restored");
    EXPECT_EQ(FileBytes(Host("Bk/restored")), it->content) << name;
    ++seen;
  }
  EXPECT_EQ(seen, expected.size());
  restore.Close();
  insert.UnPrepare();
  update.UnPrepare();
  db.Close();

  const TTableCheckReport report = CheckTableSet("D:\\Bk\\Back.dat");
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.liveRecords, 5);
}

TEST_F(CatalogStatementsTest, FilterOnAResultMatchesTheSameConditionAsWhere) {
  db.Open();
  for (int i = 0; i < 12; ++i) {
    Bind(insert, {"f" + std::to_string(i % 4), i % 3 == 0 ? "C:\\A\\" : "C:\\B\\", 100 + i, "N",
                  "x", true});
  }
  const std::string conditions[] = {
      "FileName = \"f1\" and Path =\"C:\\B\\\"",
      "FileTime > 105",
      "FileName = 'f2' or FileTime < 102",
      "Path = 'C:\\A\\' and not (FileName = 'f0')",
  };
  for (const std::string& condition : conditions) {
    TZORVADQuery filtered, where;
    for (TZORVADQuery* q : {&filtered, &where}) q->SetDatabaseName("Back.dat");
    filtered.SetSQLText("select FileName, FileTime, Path from \"Back.dat\"");
    filtered.SetFilter(condition);
    filtered.SetFiltered(true);
    where.SetSQLText("select FileName, FileTime, Path from \"Back.dat\" where " + condition);
    filtered.Open();
    where.Open();
    std::vector<std::int32_t> a, b;
    for (filtered.First(); !filtered.Eof(); filtered.Next())
      a.push_back(filtered.FieldByName("FileTime").AsInteger());
    for (where.First(); !where.Eof(); where.Next())
      b.push_back(where.FieldByName("FileTime").AsInteger());
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << condition;
    EXPECT_FALSE(a.empty()) << condition;
    EXPECT_EQ(filtered.RecordCount(), where.RecordCount()) << condition;
  }
}

TEST_F(CatalogStatementsTest, RowLimitTakesEffectAtTheNextExecution) {
  db.Open();
  for (int i = 0; i < 5; ++i) Bind(insert, {"f" + std::to_string(i), "C:\\", i, "N", "x", true});
  TZORVADQuery q;
  q.SetDatabaseName("Back.dat");
  q.SetSQLText("select FileName from \"Back.dat\"");
  q.SetMaxRowCount(2);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 2);
  q.SetMaxRowCount(4);  // the open result stays readable
  q.Last();
  EXPECT_EQ(q.FieldByName("FileName").AsString(), "f1");
  q.Close();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 4);
  q.Close();
  q.SetMaxRowCount(-1);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 5);
}

TEST_F(CatalogStatementsTest, LiveResultChangesTheTable) {
  db.Open();
  for (int i = 0; i < 4; ++i) Bind(insert, {"f" + std::to_string(i), "C:\\", i, "N", "x", true});
  TZORVADQuery live;
  live.SetDatabaseName("Back.dat");
  live.RequestLive = true;
  live.SetSQLText("select * from \"Back.dat\" where FileTime >= 1");
  live.SetFilter("FileTime < 3");
  live.SetFiltered(true);
  live.Open();
  EXPECT_EQ(live.RecordCount(), 2) << "the statement's condition and the dataset's filter";
  live.Edit();
  live.FieldByName("isZip").SetAsString("Y");
  live.Post();
  live.Close();
  TZORVADQuery check;
  check.SetDatabaseName("Back.dat");
  check.SetSQLText("select FileName from \"Back.dat\" where isZip = 'Y'");
  check.Open();
  ASSERT_EQ(check.RecordCount(), 1);
  EXPECT_EQ(check.FieldByName("FileName").AsString(), "f1");
}

TEST_F(CatalogStatementsTest, LongStringParameterReachesTheStatement) {
  db.Open();
  Bind(insert, {"short", "C:\\", 1, "N", "x", true});
  TZORVADQuery q;
  q.SetDatabaseName("Back.dat");
  q.SetSQLText("select FileName from \"Back.dat\" where FileName = :p or Path = :q");
  q.ParamByName("p").SetAsString(std::string(300, 'L'));  // passed by reference
  q.Params()[1].SetAsString("C:\\");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  q.Close();
  q.Params()[1].SetAsString("D:\\");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
}

}  // namespace

namespace {

// A prepared INSERT or UPDATE whose execution fails gives its record up: the
// BLOB it had bound goes with it. More failures than a cursor can hold open
// BLOBs, then the same statements store rows, and the table checks clean.
TEST_F(CatalogStatementsTest, FailedExecutionsLeaveNoBlobBehind) {
  const FileRow a = {"a.txt", "C:\\Src\\", 0x2D8F5C21, "N", std::string(3000, 'a'), true};
  const FileRow b1 = {"b.txt", "C:\\Src\\", 0x2D8F5C21, "N", "b1", true};
  const FileRow b2 = {"b.txt", "C:\\Src\\", 0x2D8F5C22, "N", "b2", true};
  db.Open();
  for (const FileRow& row : {a, b1, b2}) Bind(insert, row);
  // Both rows of b.txt in C:\Src\ get one time: the second one's key clashes.
  FileRow clash = b1;
  clash.content = std::string(2000, 'x');
  for (int i = 0; i <= kMaxOpenBlobs; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(engine_test::EngineCodeOf([&] { Bind(insert, a); }), kErrDuplicateKey);
    ASSERT_EQ(engine_test::EngineCodeOf([&] { Bind(update, clash); }), kErrDuplicateKey);
  }
  Bind(insert, {"c.txt", "C:\\Src\\", 0x2D8F5C23, "N", std::string(5000, 'c'), true});
  FileRow changed = a;
  changed.content = std::string(7000, 'z');
  Bind(update, changed);
  EXPECT_EQ(update.RowsAffected(), 1);
  insert.Close();
  update.Close();
  db.Close();
  const auto report = CheckTableSet("D:\\Bk\\Back.dat");
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

}  // namespace
