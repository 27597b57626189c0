// The query component's own rules against a stand-in statement: parameters
// from the text, preparation and execution states, binding, the master
// dataset, progress events and the result cursor.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/components/components_test_util.h"
#include "engine/components/fake_statement.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_query.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;
using components_test::FakeStatements;
using components_test::MessageOf;

class QueryTest : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    CreateCatalog();
    q.SetDatabaseName("D:\\Bk");
  }
  FakeStatements fake;
  TZORVADQuery q;
};

std::vector<std::string> Names(const TZORVADParams& params) {
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params[i].Name());
  return names;
}

TEST_F(QueryTest, NewTextMakesNewParametersKeepingValuesOfTheSameName) {
  q.SetSQLText("insert into Back (FileName, FileTime) values (:pA, :pB)");
  EXPECT_EQ(q.Text(), "insert into Back (FileName, FileTime) values (?, ?)");
  EXPECT_EQ(Names(q.Params()), (std::vector<std::string>{"pA", "pB"}));
  EXPECT_EQ(q.Params()[0].DataType(), ftUnknown);
  EXPECT_EQ(q.Params()[0].ParamType(), ptUnknown);
  q.ParamByName("pA").SetAsString("kept");
  q.ParamByName("pB").SetAsInteger(2);
  q.Prepare();
  q.SetSQL({"update Back set FileName = :pA", "where FileTime = :pb"});
  EXPECT_FALSE(q.Prepared()) << "a new text ends the preparation";
  EXPECT_EQ(q.Text(), "update Back set FileName = ?\nwhere FileTime = ?");
  EXPECT_EQ(q.Params()[0].AsString(), "kept");
  EXPECT_FALSE(q.Params()[1].Bound()) << "pb is not pB: names compare exactly";

  TZORVADQuery raw;
  raw.ParamCheck = false;
  raw.SetSQLText("select * from Back where a = :x");
  EXPECT_EQ(raw.Text(), "select * from Back where a = :x");
  EXPECT_EQ(raw.Params().Count(), 0);
}

TEST_F(QueryTest, PreparationRules) {
  struct Case {
    const char* what;
    std::function<void()> body;
    std::string message;
  };
  const Case cases[] = {
      {"prepare without text", [&] { q.Prepare(); }, "No SQL statement available"},
      {"execute without text", [&] { q.ExecSQL(); }, "No SQL statement available"},
      {"a text of one character", [&] { q.SetSQLText("x"), q.Prepare(); },
       "No SQL statement available"},
      {"prepare an open query",
       [&] { q.SetSQLText("select * from Back"), q.Open(), q.UnPrepare(); },
       "Cannot perform this operation on an open dataset"},
      {"execute an open query", [&] { q.ExecSQL(); },
       "Cannot perform this operation on an open dataset"},
      {"open a query the statement gives no cursor",
       [&] { q.Close(), q.SetSQLText("delete from Back"), q.Open(); },
       "Error creating table handle."},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf(c.body), c.message) << c.what;
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.Prepared()) << "a failed execution leaves the query prepared";

  fake.log.failPrepareOn = "select * from Nowhere";
  q.SetSQLText("select * from Nowhere");
  EXPECT_EQ(engine_test::EngineCodeOf([&] { q.Prepare(); }), kErrSql);
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr) << "a failed preparation holds no database";
  EXPECT_EQ(fake.log.alive, 0);
}

TEST_F(QueryTest, PreparedQueryHoldsItsDatabase) {
  TZORVADDatabase db;
  db.SetDatabaseName("Bk");
  db.SetDirectory("D:\\Bk");
  db.SetKeepConnection(false);
  q.SetDatabaseName("Bk");
  q.SetSQLText("delete from Back");
  q.RequestLive = true;
  q.SetMaxRowCount(10);
  q.Prepare();
  EXPECT_EQ(q.Database(), &db);
  EXPECT_EQ(db.RefCount(), 1);
  ASSERT_EQ(fake.log.settings.size(), 1u);
  EXPECT_EQ(fake.log.settings[0].directory, db.Handle());
  EXPECT_TRUE(fake.log.settings[0].requestLive);
  EXPECT_EQ(fake.log.settings[0].maxRowCount, 10);
  q.SetMaxRowCount(3);
  EXPECT_EQ(fake.log.maxRowCounts, std::vector<int>{3});
  q.ExecSQL();
  q.ExecSQL();
  EXPECT_EQ(fake.log.prepared.size(), 1u) << "prepared once";
  EXPECT_EQ(fake.log.executions, 2);
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(q.ExecutionTime(), 7u);
  q.UnPrepare();
  EXPECT_EQ(q.Database(), nullptr);
  EXPECT_FALSE(db.Connected()) << "released without KeepConnection";
  // Disconnecting the database unprepares the query.
  q.Prepare();
  db.Close();
  EXPECT_FALSE(q.Prepared());
}

TEST_F(QueryTest, CatalogInsertBindsItsFiveParametersInOrder) {
  std::ofstream(Host("Bk/f.txt"), std::ios::binary) << "file bytes";
  q.SetSQLText(
      "Insert into \"D:\\Bk\\Back.dat\"  (FileName,FileTime,isZip,Path,File) values  "
      "(:pFileName,:pFileTime,:pisZip,:pPath,:pFile)");
  q.Prepare();
  q.ParamByName("pFile").SetDataType(static_cast<TFieldType>(15));
  q.ParamByName("pFileName").SetAsString("a.txt");
  q.ParamByName("pFileTime").SetAsInteger(0x2D8F5C21);
  q.ParamByName("pPath").SetAsString("C:\\Src\\");
  q.ParamByName("pisZip").SetAsString("N");
  q.ParamByName("pFile").LoadFromFile("D:\\Bk\\f.txt", ftBlob);
  q.ExecSQL();
  q.ParamByName("pFile").Clear();
  q.ExecSQL();
  ASSERT_EQ(fake.log.bound.size(), 2u);
  const TParamRecord& r = fake.log.bound[0];
  std::vector<std::uint8_t> types;
  for (const auto& d : r.descriptors) types.push_back(d.type);
  EXPECT_EQ(types, (std::vector<std::uint8_t>{1, 6, 1, 1, 3}));
  EXPECT_EQ(r.descriptors[4].name, "pFile");
  EXPECT_EQ(r.buffer[r.descriptors[4].offset], 1);
  const TParamRecord& cleared = fake.log.bound[1];
  EXPECT_EQ(cleared.descriptors[4].type, 3) << "a cleared pFile is still a BLOB";
  EXPECT_EQ(cleared.buffer[cleared.descriptors[4].offset], 0) << "and NULL";
}

TEST_F(QueryTest, ParameterNamedTwiceBindsOnlyTheFirst) {
  q.SetSQLText("update Back set FileName = :p where Path = :p");
  q.ParamByName("p").SetAsString("x");
  EXPECT_EQ(MessageOf([&] { q.ExecSQL(); }), "No value for parameter 'p'");
  EXPECT_TRUE(q.Prepared());
  EXPECT_NE(q.Database(), nullptr) << "still held for the preparation";
  q.Params()[1].SetAsString("y");
  q.ExecSQL();
  EXPECT_EQ(fake.log.bound.size(), 1u);
}

TEST_F(QueryTest, MasterDataSetSuppliesUnboundParameters) {
  TZORVADQuery master;
  master.SetDatabaseName("D:\\Bk");
  master.SetSQLText("select * from Back");
  master.Open();
  master.Append();
  master.FieldByName("FileName").SetAsString("m.txt");
  master.FieldByName("FileTime").SetAsInteger(44);
  master.FieldByName("Path").SetAsString("C:\\");
  master.Post();
  TDataSource source{&master};
  q.DataSource = &source;
  q.SetSQLText("delete from Back where FileName = :FileName and FileTime = :fileTime and x = :x");
  q.ParamByName("x").SetAsInteger(1);
  q.ExecSQL();
  ASSERT_EQ(fake.log.bound.size(), 1u);
  EXPECT_EQ(q.Params()[0].AsString(), "m.txt");
  EXPECT_EQ(q.Params()[1].AsInteger(), 44);
  EXPECT_EQ(q.Params()[1].DataType(), ftInteger);
  EXPECT_EQ(q.Params()[2].AsInteger(), 1) << "a bound parameter keeps its value";
}

TEST_F(QueryTest, ProgressEventsReachTheHandler) {
  std::vector<int> seen;
  q.OnQueryProgress = [&](TZORVADQuery& sender, int percent, bool& abort) {
    EXPECT_EQ(&sender, &q);
    seen.push_back(percent);
    abort = percent >= 50;
  };
  q.SetSQLText("delete from Back");
  q.ExecSQL();
  EXPECT_EQ(seen, std::vector<int>{50}) << "the handler stopped it";
}

TEST_F(QueryTest, OpenedQueryIsADatasetOverTheResultCursor) {
  {
    // An empty result: at its end at once, with no records.
    q.SetSQLText("select FileName from Back");
    q.Open();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_EQ(q.FieldCount(), 5);
    for (const char* name : {"b", "a", "c"}) {
      q.Append();
      q.FieldByName("FileName").SetAsString(name);
      q.FieldByName("FileTime").SetAsInteger(1);
      q.FieldByName("Path").SetAsString(std::string("C:\\") + name + "\\");
      q.Post();
    }
    q.Close();
    EXPECT_TRUE(q.Prepared()) << "closing keeps the preparation";
  }
  // The filter of the catalog's search on the result.
  q.SetFiltered(true);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 3) << "an empty filter shows all rows";
  q.SetFilter("FileName = \"a\" and Path =\"C:\\a\\\"");
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 1);
  q.SetFilter("FileName = \"a\" and Path =\"C:\\b\\\"");
  EXPECT_TRUE(q.Eof());
  q.Close();

  // A cursor that belongs to the statement is left to it.
  fake.log.cursorBelongsToStatement = true;
  q.UnPrepare();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  q.SetFiltered(false);
  EXPECT_EQ(q.RecordCount(), 3);
  q.Close();
  q.UnPrepare();
  EXPECT_EQ(fake.log.alive, 0);

  // A failed execution leaves the query inactive and prepared.
  fake.log.failExecute = true;
  EXPECT_EQ(engine_test::EngineCodeOf([&] { q.Open(); }), kErrSql);
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.Prepared());
}

}  // namespace
