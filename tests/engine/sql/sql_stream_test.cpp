// SELECT rows read as a stream (sql_row_stream.h): the same rows, names and
// values as the result table of the same statement, and a stream stopped
// anywhere leaves nothing behind.
#include <variant>

#include "engine/sql/sql_test_util.h"

namespace {

using Lines = std::vector<std::string>;
using Param = std::variant<int, std::string>;

constexpr int kRowsOfA = 60;
constexpr int kRowsOfB = 40;  // enough outer rows for an inner table read into memory

engine::ExpTree ParamToken(const Param& p) {
  engine::ExpTree t = engine::NewToken();
  if (const int* i = std::get_if<int>(&p)) {
    t->SetType(engine::kFieldInt32, 0, 4, 0);
    t->SetInt32(*i);
  } else {
    const std::string& s = std::get<std::string>(p);
    t->SetType(engine::kFieldString, 0, static_cast<int>(s.size()) + 1, 0);
    t->SetString(s);
  }
  return t;
}

// a: every kind of column, with NULLs, two BLOBs and a string written with
// trailing blanks by a writer that stores bytes as given; b: joined on x,
// indexed there.
class StreamTest : public sql_test::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    Exec(
        "CREATE TABLE a (id INTEGER, x INTEGER, y SMALLINT, name CHAR(12), price FLOAT, "
        "memo BLOB(0,1), data BLOB(0,2), stamp TIMESTAMP, ok BOOLEAN, PRIMARY KEY (id))");
    Exec("CREATE TABLE b (id INTEGER, x INTEGER, z CHAR(5), PRIMARY KEY (id))");
    Exec("CREATE INDEX ByX ON b (x)");
    {
      auto c = OpenCursor("a", true);
      for (int id = 1; id <= kRowsOfA; ++id) {
        auto r = c->NewRecord();
        c->PutInteger(r, 1, id);
        if (id % 9 != 0) c->PutInteger(r, 2, id % 25);
        c->PutInteger(r, 3, id % 7);
        if (id == 5) {
          c->PutField(r, 4, "pad  ", 5);  // as another writer may leave it
        } else if (id % 11 != 0) {
          c->PutString(r, 4, "n" + std::to_string(id % 13));
        }
        if (id % 4 != 0) c->PutDouble(r, 5, id * 1.5);
        const std::string memo = "memo\t" + std::to_string(id);
        if (id % 5 != 0) c->PutBlob(r, 6, memo.data(), memo.size());
        const std::string data(static_cast<std::size_t>(id % 9), static_cast<char>(id));
        if (id % 3 != 0) c->PutBlob(r, 7, data.data(), data.size());
        c->PutDouble(r, 8, 63000000000000.0 + id * 1000.0);
        const std::uint16_t ok = id % 2;
        if (id % 6 != 0) c->PutField(r, 9, &ok, sizeof ok);
        c->Insert(r);
      }
    }
    for (int id = 1; id <= kRowsOfB; ++id) {
      const std::string x = id % 10 == 0 ? "NULL" : std::to_string(id % 20);
      Exec("INSERT INTO b VALUES (" + std::to_string(id) + ", " + x + ", 'z" +
           std::to_string(id % 3) + "')");
    }
  }

  // The header and rows of a stream, in the form of sql_test::ResultLines;
  // checks each column's IsNull and Bytes against its value on the way.
  static Lines StreamLines(engine::TRowStream& rows) {
    Lines lines;
    std::string header;
    for (std::size_t i = 0; i < rows.ColumnCount(); ++i)
      header += (i > 0 ? "\t" : "") + rows.ColumnName(i);
    lines.push_back(header);
    while (rows.Next()) {
      std::string line;
      for (std::size_t i = 0; i < rows.ColumnCount(); ++i) {
        const engine::ExpTree value = rows.Value(i);
        EXPECT_EQ(rows.IsNull(i), value->isNull) << header << " column " << i;
        const std::span<const std::uint8_t> bytes = rows.Bytes(i);
        // A memo's value ends in a zero its stored bytes do not hold.
        EXPECT_TRUE(value->isNull
                        ? bytes.empty()
                        : bytes.size() <= value->value.size() &&
                              std::equal(bytes.begin(), bytes.end(), value->value.begin()))
            << header << " column " << i;
        line += (i > 0 ? "\t" : "") + engine::FormatValueText(*value);
      }
      lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(StreamTest, RowsAreThoseOfTheResultTable) {
  const struct {
    const char* sql;
    bool streamed;
    std::vector<Param> params;
    int maxRows = engine::kNoRowLimit;
  } cases[] = {
      {"SELECT * FROM a", true, {}},
      {"SELECT id, name, memo, data FROM a WHERE id < 12 OR name = 'pad'", true, {}},
      {"SELECT id * 2 AS twice, price + y, name, ok FROM a WHERE y > 2", true, {}},
      {"SELECT id FROM a WHERE id > 1000", true, {}},
      {"SELECT a.id, b.id, b.z FROM a, b WHERE a.x = b.x", true, {}},
      {"SELECT a.id, b.z FROM a, b WHERE a.x = b.x NOJOINOPTIMIZE", true, {}},
      {"SELECT a.id, b.z, a.name FROM a, b WHERE b.x = a.x AND a.y < 4 AND b.z <> 'z1'", true, {}},
      {"SELECT a.id, b.id FROM a LEFT JOIN b ON a.x = b.x AND b.z = 'z2'", true, {}},
      {"SELECT a.id, b.id, b.x FROM b RIGHT JOIN a ON a.x = b.x WHERE a.id < 30", true, {}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x AND b.z = ? AND a.id > ?",
       true,
       {std::string("z1"), 10}},
      {"SELECT id, data FROM a WHERE x = ?", true, {4}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x", true, {}, 7},
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x", true, {}, 0},
      {"SELECT id, name FROM a WHERE x IN (SELECT x FROM b WHERE z = 'z0')", true, {}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x WITH LOCKS", true, {}},
      // Statements that need all their rows first read their result table.
      {"SELECT id, name FROM a ORDER BY name, id", false, {}},
      {"SELECT DISTINCT y FROM a", false, {}},
      {"SELECT y, COUNT(*), MAX(price) FROM a GROUP BY y", false, {}},
      {"SELECT COUNT(*) FROM a, b WHERE a.x = b.x", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    engine::TStatementOptions options;
    options.maxRowCount = c.maxRows;
    engine::TPreparedStatement s(dir_, c.sql, options);
    for (std::size_t i = 0; i < c.params.size(); ++i)
      s.Executor().SetParameter(i, *ParamToken(c.params[i]));
    engine::TDataCursor* table = s.Executor().Execute();
    ASSERT_NE(table, nullptr);
    const Lines expected = sql_test::ResultLines(*table);
    const std::int32_t count = s.Executor().RowsAffected();
    // Twice: a stream again after a stream.
    for (int run = 0; run < 2; ++run) {
      std::unique_ptr<engine::TRowStream> rows = s.Executor().OpenRows();
      EXPECT_EQ(rows->Streamed(), c.streamed);
      EXPECT_EQ(StreamLines(*rows), expected);
      EXPECT_EQ(rows->RowCount(), count);
      EXPECT_EQ(s.Executor().RowsAffected(), count);
    }
  }
}

// A stream stopped halfway, or ended by its executor, leaves the sources as
// a finished run does: the next run of any kind gives every row.
TEST_F(StreamTest, StoppedStreamLeavesNothingBehind) {
  const char* sql = "SELECT a.id, b.id FROM a LEFT JOIN b ON a.x = b.x WITH LOCKS";
  const Lines all = Query(sql);
  ASSERT_GT(all.size(), 10u);
  const auto firstRows = [](engine::TRowStream& rows, int n) {
    for (int i = 0; i < n; ++i) EXPECT_TRUE(rows.Next());
  };
  {
    engine::TPreparedStatement s(dir_, sql);
    firstRows(*s.Executor().OpenRows(), 3);  // dropped after three rows
    std::unique_ptr<engine::TRowStream> rows = s.Executor().OpenRows();
    EXPECT_EQ(StreamLines(*rows), all);

    // Executing again ends the open stream.
    rows = s.Executor().OpenRows();
    firstRows(*rows, 2);
    EXPECT_EQ(sql_test::ResultLines(*s.Executor().Execute()), all);
    EXPECT_FALSE(rows->Next());

    // So does a new parameter value, or the executor's end.
    rows = s.Executor().OpenRows();
    firstRows(*rows, 1);
  }
  // The tables take writers again.
  EXPECT_EQ(Exec("UPDATE b SET z = 'w' WHERE id = 1"), 1);
  EXPECT_EQ(Exec("DELETE FROM b WHERE id = 1"), 1);
  {
    engine::TPreparedStatement s(dir_, "SELECT id FROM a WHERE x = ?");
    s.Executor().SetParameter(0, *ParamToken(3));
    std::unique_ptr<engine::TRowStream> rows = s.Executor().OpenRows();
    firstRows(*rows, 1);
    s.Executor().SetParameter(0, *ParamToken(4));
    EXPECT_FALSE(rows->Next());
    EXPECT_EQ(StreamLines(*s.Executor().OpenRows()), (Lines{"id", "4", "29"}));
  }
}

// The progress hook sees the driving table's records and its abort stops
// the stream after the current row.
TEST_F(StreamTest, ProgressAbortStopsTheStream) {
  engine::TPreparedStatement s(dir_, "SELECT id FROM a WHERE y > 0");
  std::int64_t steps = 0;
  s.Executor().OnProgress = [&](std::int64_t, int, bool& abort) { abort = ++steps == 10; };
  std::unique_ptr<engine::TRowStream> rows = s.Executor().OpenRows();
  int taken = 0;
  while (rows->Next()) ++taken;
  EXPECT_EQ(steps, 11);  // ten records, then the closing 100 %
  EXPECT_EQ(taken, 10);
  EXPECT_EQ(s.Executor().RowsAffected(), taken);
}

}  // namespace

// A table changed by this process while a stream reads it: the stream goes on
// without an error, each row it gives is one of the table's.
TEST_F(StreamTest, ChangesOfThisProcessDuringTheStream) {
  const char* const sqls[] = {
      "SELECT a.id, b.id FROM a, b WHERE a.x = b.x NOJOINOPTIMIZE",
      "SELECT a.id, b.id FROM a, b WHERE a.x = b.x",
      "SELECT id FROM b WHERE x > 3",
  };
  for (const char* sql : sqls) {
    SCOPED_TRACE(sql);
    engine::TPreparedStatement s(dir_, sql);
    std::unique_ptr<engine::TRowStream> rows = s.Executor().OpenRows();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rows->Next());
    EXPECT_EQ(Exec("INSERT INTO b VALUES (1000, 3, 'new')"), 1);
    EXPECT_NO_THROW({
      while (rows->Next()) {
      }
    });
    rows.reset();
    EXPECT_EQ(Exec("DELETE FROM b WHERE id = 1000"), 1);
  }
}
