// Differential test against SQLite: the same generated tables and the same
// generated SELECTs in both engines, the results compared as multisets of
// lines (and, under ORDER BY, the ORDER BY columns as lists).
//
// Known differences of meaning, which the generator stays out of:
//  - NULL: our = is true for two NULLs and strings order NULL as ''; so
//    NULLs appear only in column n, which conditions test only with IS NULL
//    and IS NOT NULL (aggregates may read it);
//  - AVG over no values is 0 here and NULL there: AVG is used only with
//    GROUP BY over a column without NULLs;
//  - an empty string is stored as NULL here, and '=' against a constant
//    ending in '*' matches by prefix: strings are non-empty lower-case words;
//  - LIKE ignores ASCII case in SQLite by default: case_sensitive_like is on;
//  - MIN and MAX take no strings here: they read numbers and dates;
//  - collation: our tables use language 0 (bytes), SQLite's BINARY.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <random>

#include "engine/sql/sql_test_util.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int kRows1 = 60, kRows2 = 40, kRows3 = 12;
constexpr int kQueriesPerLayout = 150;
const char* const kWords[] = {"ab", "abc", "b", "ba", "bab", "c", "ca", "cab", "d", "dd"};

std::string SqliteText(sqlite3_stmt* s, int i) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL:
      return "\\N";
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT: {
      char b[32];
      const auto r = std::to_chars(b, b + sizeof b, sqlite3_column_double(s, i));
      return std::string(b, r.ptr);
    }
    default:
      return engine::EscapeText(reinterpret_cast<const char*>(sqlite3_column_text(s, i)));
  }
}

struct GeneratedQuery {
  std::string sql;
  std::vector<std::size_t> orderColumns;  // 0-based result columns fixed by ORDER BY
};

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(1, 100) <= percent; }
  std::string Word() { return kWords[Int(0, 9)]; }
  std::string Date() {
    char b[16];
    std::snprintf(b, sizeof b, "2020-%02d-%02d", Int(1, 3), Int(1, 28));
    return b;
  }
  std::string Float() { return std::to_string(Int(-6, 20) / 2) + (Chance(50) ? ".5" : ".0"); }

  // A row of table tN: id, i, s, f, d, n.
  std::string Row(int id, int keys) {
    return std::to_string(id) + ", " + std::to_string(Int(0, keys)) + ", '" + Word() + "', " +
           Float() + ", '" + Date() + "', " + (Chance(30) ? "NULL" : std::to_string(Int(-3, 3)));
  }

  std::string Atom(const std::string& t) {
    const std::string p = t.empty() ? "" : t + ".";
    static const char* const kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    const std::string op = kOps[Int(0, 5)];
    switch (Int(0, 8)) {
      case 0:
        return p + "i " + op + " " + std::to_string(Int(-1, 9));
      case 1:
        return p + "s " + op + " '" + Word() + "'";
      case 2:
        return p + "f " + op + " " + Float();
      case 3:
        return p + "d " + op + " '" + Date() + "'";
      case 4:
        return p + "i IN (" + std::to_string(Int(0, 8)) + ", " + std::to_string(Int(0, 8)) + ")";
      case 5:
        return p + "s IN ('" + Word() + "', '" + Word() + "')";
      case 6: {
        const int lo = Int(-2, 8);
        return p + "f BETWEEN " + std::to_string(lo) + " AND " + std::to_string(lo + Int(0, 6));
      }
      case 7: {
        static const char* const kPatterns[] = {"a%", "%b", "_a%", "%a_", "c%b", "%"};
        return p + "s LIKE '" + kPatterns[Int(0, 5)] + "'";
      }
      default:
        return p + "n IS " + (Chance(50) ? "NOT " : "") + "NULL";
    }
  }
  std::string Condition(const std::string& t, int depth = 0) {
    if (depth >= 2 || Chance(40)) return Atom(t);
    switch (Int(0, 2)) {
      case 0:
        return "(" + Condition(t, depth + 1) + " AND " + Condition(t, depth + 1) + ")";
      case 1:
        return "(" + Condition(t, depth + 1) + " OR " + Condition(t, depth + 1) + ")";
      default:
        return "NOT (" + Condition(t, depth + 1) + ")";
    }
  }

  GeneratedQuery Next() {
    GeneratedQuery q;
    switch (Int(0, 7)) {
      case 0:
      case 1: {  // one table, maybe ordered
        q.sql = "SELECT id, i, s, f, d, n FROM t1 WHERE " + Condition("");
        if (Chance(50)) {
          const int column = Int(1, 5);
          q.sql += " ORDER BY " + std::to_string(column) + (Chance(50) ? " DESC" : "");
          q.orderColumns = {static_cast<std::size_t>(column - 1)};
        }
        break;
      }
      case 2: {  // groups
        const std::string key = Chance(50) ? "s" : "i";
        q.sql = "SELECT " + key + ", COUNT(*), SUM(i), MIN(f), MAX(d), AVG(i), COUNT(n) FROM t1";
        if (Chance(70)) q.sql += " WHERE " + Condition("");
        q.sql += " GROUP BY " + key;
        if (Chance(30)) q.sql += " HAVING COUNT(*) > 1";
        break;
      }
      case 3:  // one aggregate row
        q.sql = "SELECT COUNT(*), SUM(i), MIN(d), MAX(f), COUNT(n), SUM(n) FROM t2 WHERE " +
                Condition("");
        break;
      case 4:  // distinct
        q.sql = std::string("SELECT DISTINCT ") + (Chance(50) ? "s" : "s, i") + " FROM t1 WHERE " +
                Condition("");
        if (Chance(50)) {
          q.sql += " ORDER BY 1";
          q.orderColumns = {0};
        }
        break;
      case 5: {  // two tables
        static const char* const kJoins[] = {" INNER JOIN ", " LEFT JOIN ", " JOIN "};
        const std::string join = kJoins[Int(0, 2)];
        q.sql = "SELECT t1.id, t2.id, t1.s, t2.f FROM t1" + join + "t2 ON t1.i = t2.i";
        if (Chance(30)) q.sql += " AND " + Condition("t2");
        if (Chance(70)) q.sql += " WHERE " + Condition("t1");
        if (join == " LEFT JOIN " && Chance(30)) q.sql += " AND t2.id IS NULL";
        break;
      }
      case 6:  // implicit join
        q.sql = "SELECT t1.id, t2.id, t2.s FROM t1, t2 WHERE t1.i = t2.i AND " + Condition("t2") +
                (Chance(50) ? " AND " + Condition("t1") : "");
        break;
      default: {  // three tables
        const std::string second = Chance(50) ? " LEFT JOIN " : " JOIN ";
        q.sql = "SELECT t1.id, t2.id, t3.id, t3.d FROM t1 JOIN t2 ON t1.i = t2.i" + second +
                "t3 ON t2.s = t3.s";
        if (Chance(60)) q.sql += " WHERE " + Condition("t1");
        if (Chance(30)) {
          q.sql =
              "SELECT t3.s, COUNT(*), SUM(t1.i) FROM t1 JOIN t2 ON t1.i = t2.i JOIN t3 ON "
              "t2.s = t3.s GROUP BY t3.s";
        }
        break;
      }
    }
    return q;
  }

 private:
  std::mt19937 rng_;
};

class SqliteDiffTest : public sql_test::SqlTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    session_->LanguageID = 0;
    session_->SortID = 0;
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Peer("PRAGMA case_sensitive_like = ON");
  }
  void TearDown() override {
    sqlite3_close(db_);
    SqlTest::TearDown();
  }
  void Peer(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
  }
  Lines PeerQuery(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
    Lines lines;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(s); ++i)
        line += (i > 0 ? "\t" : "") + SqliteText(s, i);
      lines.push_back(line);
    }
    sqlite3_finalize(s);
    return lines;
  }
  // Layout bits: 1 primary key on id, 2 a secondary index on i, 4 one on s.
  void CreateBoth(const std::string& name, int layout) {
    engine::TTableDefinition d;
    engine::AppendField(d.fields, "id", engine::kFieldInt32);
    engine::AppendField(d.fields, "i", engine::kFieldInt32);
    engine::AppendField(d.fields, "s", engine::kFieldString, 8);
    engine::AppendField(d.fields, "f", engine::kFieldFloat);
    engine::AppendField(d.fields, "d", engine::kFieldDate);
    engine::AppendField(d.fields, "n", engine::kFieldInt32);
    engine::TIndexDefinition primary;
    if (layout & 1) primary.fieldNumbers = {1};
    d.indexes.push_back(primary);
    d.noPrimaryKey = (layout & 1) == 0;
    for (const auto& [bit, field] : {std::pair{2, 2}, std::pair{4, 3}}) {
      if ((layout & bit) == 0) continue;
      engine::TIndexDefinition index;
      index.name = "By" + std::to_string(field);
      index.fieldNumbers = {static_cast<std::int16_t>(field)};
      d.indexes.push_back(index);
    }
    CreateTable(name, d);
    Peer("CREATE TABLE " + name + " (id INTEGER, i INTEGER, s TEXT, f REAL, d TEXT, n INTEGER)");
  }

  sqlite3* db_ = nullptr;
};

TEST_P(SqliteDiffTest, GeneratedSelectsAgree) {
  const int layout = GetParam();
  Generator g(static_cast<unsigned>(1000 + layout));
  const struct {
    const char* name;
    int rows, keys;
  } tables[] = {{"t1", kRows1, 8}, {"t2", kRows2, 8}, {"t3", kRows3, 4}};
  for (const auto& t : tables) {
    CreateBoth(t.name, layout);
    for (int id = 1; id <= t.rows; ++id) {
      const std::string insert =
          std::string("INSERT INTO ") + t.name + " VALUES (" + g.Row(id, t.keys) + ")";
      Exec(insert);
      Peer(insert);
    }
  }
  int compared = 0;
  std::size_t rows = 0, nonEmpty = 0;
  for (int n = 0; n < kQueriesPerLayout; ++n) {
    const GeneratedQuery q = g.Next();
    Lines ours = Query(q.sql);
    ASSERT_FALSE(ours.empty()) << q.sql;
    ours.erase(ours.begin());  // the header
    Lines theirs = PeerQuery(q.sql);
    if (!q.orderColumns.empty()) {
      const auto project = [&](const Lines& lines) {
        Lines keys;
        for (const std::string& line : lines) {
          std::vector<std::string> fields;
          std::size_t start = 0;
          for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;
               start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
          fields.push_back(line.substr(start));
          std::string key;
          for (std::size_t c : q.orderColumns) key += fields[c] + "\t";
          keys.push_back(key);
        }
        return keys;
      };
      EXPECT_EQ(project(ours), project(theirs)) << q.sql;
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs) << q.sql;
    ++compared;
    rows += theirs.size();
    nonEmpty += theirs.empty() ? 0 : 1;
  }
  EXPECT_EQ(compared, kQueriesPerLayout);
  // The generated conditions select something most of the time.
  EXPECT_GT(nonEmpty, static_cast<std::size_t>(kQueriesPerLayout) * 3 / 4);
}

// Without any index; primary key only; primary key and both secondary indexes.
INSTANTIATE_TEST_SUITE_P(Layouts, SqliteDiffTest, ::testing::Values(0, 1, 7));

}  // namespace
