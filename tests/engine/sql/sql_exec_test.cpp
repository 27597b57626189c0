// Statement execution from statement texts: result names, values, row
// counts and messages word for word.
#include <cstring>
#include <functional>

#include "engine/sql/sql_test_util.h"
#include "engine/table/data_directory.h"

namespace {

using sql_test::SqlTest;
using Lines = std::vector<std::string>;

// t: a INTEGER (key), b CHAR(10), c FLOAT, d DATE, n INTEGER NOT NULL.
class ExecTest : public SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    Exec(
        "CREATE TABLE t (a INTEGER, b CHAR(10), c FLOAT, d DATE, n INTEGER NOT NULL, "
        "PRIMARY KEY (a))");
    Exec("INSERT INTO t VALUES (1, 'one', 1.5, '2024-01-02', 10)");
    Exec("INSERT INTO t VALUES (2, 'two', NULL, NULL, 20)");
    Exec("INSERT INTO t VALUES (3, 'three', -2.25, '2023-12-31', 20)");
  }
};

TEST_F(ExecTest, SelectResults) {
  const struct {
    const char* sql;
    Lines lines;
  } cases[] = {
      {"SELECT a, a FROM t", {"a\ta_1", "1\t1", "2\t2", "3\t3"}},
      {"SELECT COUNT(*) FROM t", {"Count Of *", "3"}},
      {"SELECT COUNT(*) FROM t WHERE a > 5", {"Count Of *", "0"}},
      {"SELECT COUNT(c), SUM(n), MIN(a), MAX(d), AVG(c) FROM t",
       {"Count Of c\tSum Of n\tMin Of a\tMax Of d\tAverage Of c", "2\t50\t1\t2024-01-02\t-0.375"}},
      {"SELECT SUM(a + 1), a + 1 x FROM t GROUP BY x ORDER BY x DESC",
       {"Sum Of Expr\tx", "4\t4", "3\t3", "2\t2"}},
      {"SELECT n, COUNT(*) FROM t GROUP BY n", {"n\tCount Of *", "10\t1", "20\t2"}},
      {"SELECT n, COUNT(*) FROM t GROUP BY n HAVING COUNT(*) > 1", {"n\tCount Of *", "20\t2"}},
      {"SELECT DISTINCT n FROM t", {"n", "10", "20"}},
      {"SELECT b FROM t ORDER BY b", {"b", "one", "three", "two"}},
      {"SELECT b FROM t ORDER BY 1 DESC", {"b", "two", "three", "one"}},
      {"SELECT a FROM t WHERE 2 > a", {"a", "1"}},
      {"SELECT a FROM t WHERE 2 >= a", {"a", "1", "2"}},
      {"SELECT a FROM t WHERE b = 't*'", {"a", "2", "3"}},
      {"SELECT a FROM t WHERE b LIKE 't%' AND NOT (a = 2)", {"a", "3"}},
      {"SELECT a FROM t WHERE c IS NULL OR d < '2024-01-01'", {"a", "2", "3"}},
      {"SELECT a FROM t WHERE a IN (1, 3) AND n BETWEEN 10 AND 20", {"a", "1", "3"}},
      {"SELECT a FROM t WHERE a IN (SELECT a FROM t WHERE n = 20)", {"a", "2", "3"}},
      {"SELECT a * 2 FROM t WHERE a = 2", {"Expression", "4"}},
      {"SELECT t.* FROM t WHERE a = 1", {"a\tb\tc\td\tn", "1\tone\t1.5\t2024-01-02\t10"}},
      {"SELECT b AS a, a FROM t WHERE a = 1", {"a\ta_1", "one\t1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Query(c.sql), c.lines) << c.sql;
}

TEST_F(ExecTest, Messages) {
  const std::string sql = "11949 SQL error - ";
  const struct {
    const char* sql;
    std::string message;
  } cases[] = {
      {"SELECT x FROM t",
       sql + "Invalid column name 'x' or table correlation name '' specified in source columns"},
      {"SELECT * AS z FROM t",
       sql + "Invalid use of column correlation name 'z' for '*' specified in source columns"},
      {"SELECT a, COUNT(*) FROM t",
       sql + "Invalid use of aggregate function(s), the necessary GROUP BY clause is missing"},
      {"SELECT a FROM t ORDER BY 2",
       sql + "Invalid column number '2' specified in ORDER BY clause"},
      {"SELECT a FROM t ORDER BY q",
       sql + "Invalid column name 'q' or table correlation name '' specified in ORDER BY clause"},
      {"SELECT a FROM t GROUP BY 0",
       sql + "Invalid column number '0' specified in GROUP BY clause"},
      {"SELECT n, COUNT(*) FROM t GROUP BY n HAVING SUM(a) > 1",
       sql + "Expression in HAVING clause not found in source columns"},
      {"SELECT a FROM t WHERE a + 1", sql + "WHERE or JOIN clause must be a boolean expression"},
      {"INSERT INTO t (a, b) VALUES (4)",
       sql + "The number of values must match the number of table columns"},
      {"INSERT INTO t (q) VALUES (4)",
       sql + "Invalid column name 'q' or table correlation name '' specified in table columns"},
      {"INSERT INTO t (a, d, n) VALUES (4, 'nodate', 1)",
       sql + "Date, time, or timestamp expression expected, instead found 'nodate' in update "
             "values"},
      {"INSERT INTO t (a, n) VALUES (4, TRUE)",
       sql + "Type mismatch between column 'n' and constant 'TRUE' in update values"},
      {"INSERT INTO t (a, n) VALUES (4, a)",
       sql + "Internal error: Column 'a' specified illegally"},
      {"INSERT INTO t (a, b) VALUES (4, 'x')", "9732"},
      {"INSERT INTO t VALUES (1, 'x', 0, NULL, 1)", "9729"},
  };
  for (const auto& c : cases) {
    const std::string got = ErrorOf(c.sql);
    EXPECT_EQ(got.substr(0, c.message.size()), c.message) << c.sql;
    EXPECT_FALSE(got.empty()) << c.sql;
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM t"), (Lines{"Count Of *", "3"}));
}

TEST_F(ExecTest, UpdateAndDelete) {
  EXPECT_EQ(Exec("UPDATE t SET n = n + a, b = 'x' WHERE n = 20"), 2);
  EXPECT_EQ(Query("SELECT a, b, n FROM t"),
            (Lines{"a\tb\tn", "1\tone\t10", "2\tx\t22", "3\tx\t23"}));
  // A value sees the columns assigned before it in the same SET list.
  EXPECT_EQ(Exec("UPDATE t SET n = 1, c = n * 2 WHERE a = 1"), 1);
  EXPECT_EQ(Query("SELECT c FROM t WHERE a = 1"), (Lines{"c", "2"}));
  EXPECT_EQ(Exec("UPDATE t SET n = 0 WHERE a > 10"), 0);
  // Keys that change do not make a record come round again.
  EXPECT_EQ(Exec("UPDATE t SET a = a + 10"), 3);
  EXPECT_EQ(Query("SELECT a FROM t"), (Lines{"a", "11", "12", "13"}));
  EXPECT_EQ(Exec("DELETE FROM t WHERE b = 'x'"), 2);
  EXPECT_EQ(Exec("DELETE FROM t"), 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM t"), (Lines{"Count Of *", "0"}));
}

TEST_F(ExecTest, FailedUpdateRollsItsOwnTransactionBack) {
  // The second record's new key collides with the first's.
  EXPECT_EQ(ErrorOf("UPDATE t SET a = 7").substr(0, 4), "9729");
  EXPECT_EQ(Query("SELECT a FROM t"), (Lines{"a", "1", "2", "3"}));
  EXPECT_FALSE(dir_->InTransaction());
}

TEST_F(ExecTest, InsertSelect) {
  Exec("CREATE TABLE u (k INTEGER, s CHAR(20), PRIMARY KEY (k))");
  EXPECT_EQ(Exec("INSERT INTO u (k, s) SELECT a + 100, b FROM t WHERE a > 1"), 2);
  EXPECT_EQ(Exec("INSERT INTO u SELECT n, 'x' FROM t WHERE a = 1 COMMIT INTERVAL 1"), 1);
  EXPECT_EQ(Query("SELECT * FROM u"), (Lines{"k\ts", "10\tx", "102\ttwo", "103\tthree"}));
}

TEST_F(ExecTest, MaxRowCountLimitsTheRowsCopied) {
  engine::TStatementOptions options;
  options.maxRowCount = 0;
  EXPECT_EQ(Query("SELECT a FROM t", options), (Lines{"a"}));
  options.maxRowCount = 2;
  EXPECT_EQ(Query("SELECT a FROM t", options), (Lines{"a", "1", "2"}));
  // Groups are made of the first two rows only.
  EXPECT_EQ(Query("SELECT n, COUNT(*) FROM t GROUP BY n", options),
            (Lines{"n\tCount Of *", "10\t1", "20\t1"}));
}

TEST_F(ExecTest, ParametersAndReexecution) {
  engine::TPreparedStatement insert(dir_, "INSERT INTO t (a, b, n) VALUES (?, ?, ?)");
  ASSERT_EQ(insert.Executor().ParameterCount(), 3u);
  for (int i = 4; i <= 6; ++i) {
    engine::ExpTree a = engine::NewToken(), b = engine::NewToken(), n = engine::NewToken();
    a->SetType(engine::kFieldInt32, 0, 4, 0);
    a->SetInt32(i);
    b->SetType(engine::kFieldString, 0, 6, 0);
    b->SetString("p" + std::to_string(i));
    n->SetType(engine::kFieldString, 0, 3, 0);
    n->SetString(std::to_string(i * 10));  // a string converted to INTEGER
    insert.Executor().SetParameter(0, *a);
    insert.Executor().SetParameter(1, *b);
    insert.Executor().SetParameter(2, *n);
    insert.Executor().Execute();
    EXPECT_EQ(insert.Executor().RowsAffected(), 1);
  }
  EXPECT_EQ(Query("SELECT a, b, n FROM t WHERE a > 3"),
            (Lines{"a\tb\tn", "4\tp4\t40", "5\tp5\t50", "6\tp6\t60"}));

  engine::TPreparedStatement update(dir_, "UPDATE t SET n = ? WHERE a = ?");
  engine::ExpTree text = engine::NewToken(), key = engine::NewToken();
  text->SetType(engine::kFieldString, 0, 4, 0);
  text->SetString("abc");
  key->SetType(engine::kFieldInt32, 0, 4, 0);
  key->SetInt32(4);
  update.Executor().SetParameter(0, *text);
  update.Executor().SetParameter(1, *key);
  try {
    update.Executor().Execute();
    ADD_FAILURE() << "no error";
  } catch (const engine::EZORVADEngineError& e) {
    EXPECT_EQ(e.Errors(0).Message(),
              "SQL error - Type mismatch between column n and constant value abc in UPDATE "
              "statement");
  }
  EXPECT_THROW(update.Executor().SetParameter(2, *key), engine::EZORVADEngineError);
}

TEST_F(ExecTest, ProgressAndAbort) {
  engine::TPreparedStatement s(dir_, "UPDATE t SET n = 0");
  std::vector<int> percents;
  s.Executor().OnProgress = [&](std::int64_t step, int percent, bool& abort) {
    percents.push_back(percent);
    if (step == 2) abort = true;
  };
  s.Executor().Execute();
  EXPECT_EQ(s.Executor().RowsAffected(), 2);
  EXPECT_EQ(percents, (std::vector<int>{33, 67, 100}));
  EXPECT_GE(s.Executor().ExecutionTime(), 0.0);
}

// The backup catalog through the statements the application uses.
class CatalogSqlTest : public SqlTest {};

TEST_F(CatalogSqlTest, InsertWithBlobParameterAndRestoreSelect) {
  CreateCatalog();
  engine::TPreparedStatement insert(
      dir_,
      "INSERT INTO 'D:\\Db\\Back.dat' (FileName, FileTime, isZip, Path, File) "
      "VALUES (?, ?, ?, ?, ?)");
  // The parameter record: five slots of a has-value byte and the value
  // (for the BLOB a length and a pointer).
  engine::TFieldDefinitions defs;
  engine::AppendField(defs, "P1", engine::kFieldString, 250);
  engine::AppendField(defs, "P2", engine::kFieldInt32);
  engine::AppendField(defs, "P3", engine::kFieldString, 1);
  engine::AppendField(defs, "P4", engine::kFieldString, 250);
  engine::AppendField(defs, "P5", engine::kFieldBlob).SetSubtype(engine::kSubtypeBinary);
  const std::uint16_t offsets[] = {0, 252, 257, 260, 512};
  for (std::size_t i = 0; i < defs.size(); ++i) defs[i].SetOffset(offsets[i]);
  const std::string content(70000, 'z');
  for (int i = 0; i < 3; ++i) {
    std::vector<std::uint8_t> record(512 + 1 + 4 + sizeof(void*), 0);
    const std::string name = "f" + std::to_string(2 - i) + ".txt";
    record[0] = 1;
    std::copy(name.begin(), name.end(), record.begin() + 1);
    record[252] = 1;
    const std::int32_t time = 1000 + i;
    std::memcpy(&record[253], &time, 4);
    record[257] = 1;
    record[258] = 'N';
    record[260] = 1;
    std::memcpy(&record[261], "C:\\src\\", 7);
    record[512] = 1;
    const auto length = static_cast<std::uint32_t>(content.size());
    const char* data = content.data();
    std::memcpy(&record[513], &length, 4);
    std::memcpy(&record[517], &data, sizeof data);
    insert.Executor().BindParameters(defs, record);
    insert.Executor().Execute();
  }
  EXPECT_EQ(Query("select FileName,FileTime,Path,isZip from 'D:\\Db\\Back.dat'"),
            (Lines{"FileName\tFileTime\tPath\tisZip", "f0.txt\t1002\tC:\\\\src\\\\\tN",
                   "f1.txt\t1001\tC:\\\\src\\\\\tN", "f2.txt\t1000\tC:\\\\src\\\\\tN"}));
  engine::TPreparedStatement restore(dir_, "select FileName,isZip,Path,File From Back");
  engine::TDataCursor* result = restore.Executor().Execute();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(restore.Executor().RowsAffected(), 3);
  engine::TDataCursor::TRecordBuffer row(result->RecordSize());
  result->First();
  int rows = 0;
  while (result->Next(&row) == engine::kNavOk) {
    const std::vector<std::uint8_t> blob = result->GetBlob(row, 4);
    EXPECT_EQ(std::string(blob.begin(), blob.end()), content);
    ++rows;
  }
  EXPECT_EQ(rows, 3);
  // The catalog's UPDATE: exactly the row with that name and path.
  EXPECT_EQ(Exec("UPDATE Back SET FileTime = 5, isZip = 'Y' WHERE FileName = 'f1.txt' AND "
                 "Path = 'C:\\src\\'"),
            1);
  EXPECT_EQ(Query("SELECT FileName, FileTime, isZip FROM Back WHERE isZip = 'Y'"),
            (Lines{"FileName\tFileTime\tisZip", "f1.txt\t5\tY"}));
  // A BLOB parameter replaces the whole BLOB; a NULL one empties it.
  engine::TPreparedStatement update(dir_, "UPDATE Back SET File = ? WHERE FileName = ?");
  engine::ExpTree blob = engine::NewToken(), name = engine::NewToken();
  blob->SetType(engine::kFieldBlob, engine::kSubtypeBinary, 3, 0);
  blob->SetBytes(reinterpret_cast<const std::uint8_t*>("new"), 3);
  name->SetType(engine::kFieldString, 0, 7, 0);
  name->SetString("f1.txt");
  update.Executor().SetParameter(0, *blob);
  update.Executor().SetParameter(1, *name);
  update.Executor().Execute();
  EXPECT_EQ(update.Executor().RowsAffected(), 1);
  blob->SetNull();
  name->SetString("f2.txt");
  update.Executor().SetParameter(0, *blob);
  update.Executor().SetParameter(1, *name);
  update.Executor().Execute();
  std::string zs;
  for (std::size_t i = 0; i < content.size(); ++i) zs += "7a";
  EXPECT_EQ(Query("SELECT FileName, File FROM Back WHERE FileName < 'f3' ORDER BY FileName"),
            (Lines{"FileName\tFile", "f0.txt\t\\x" + zs, "f1.txt\t\\x6e6577", "f2.txt\t\\N"}));
}

}  // namespace

namespace {

TEST_F(ExecTest, LiveResultIsTheTablesOwnCursor) {
  engine::TStatementOptions live;
  live.requestLive = true;
  engine::TPreparedStatement s(dir_, "SELECT * FROM t WHERE n = 20", live);
  engine::TDataCursor* cursor = s.Executor().Execute();
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(s.Executor().RowsAffected(), 2);
  EXPECT_EQ(sql_test::ResultLines(*cursor),
            (Lines{"a\tb\tc\td\tn", "2\ttwo\t\\N\t\\N\t20", "3\tthree\t-2.25\t2023-12-31\t20"}));
  // Editing the result edits the table.
  engine::TDataCursor::TRecordBuffer record(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->Next(&record), engine::kNavOk);
  cursor->PutString(record, 2, "zwei");
  cursor->Modify(record);
  EXPECT_EQ(Query("SELECT b FROM t WHERE a = 2"), (Lines{"b", "zwei"}));
  // A computed column, or ORDER BY, needs the copy.
  engine::TPreparedStatement copy(dir_, "SELECT a + 1 FROM t", live);
  EXPECT_NE(copy.Executor().Execute()->Table(), cursor->Table());
}

}  // namespace
