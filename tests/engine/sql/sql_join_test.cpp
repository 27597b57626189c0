// Conditions and joins: joined rows, outer rows, the driving table and the
// conditions that stay whole.
#include "engine/sql/sql_test_util.h"

namespace {

using Lines = std::vector<std::string>;

// a (x, y), b (x, z), c (x, y), with NULLs and unmatched rows; b has an
// index on x.
class JoinTest : public sql_test::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    Exec("CREATE TABLE a (id INTEGER, x INTEGER, y INTEGER, PRIMARY KEY (id))");
    Exec("CREATE TABLE b (id INTEGER, x INTEGER, z CHAR(5), PRIMARY KEY (id))");
    Exec("CREATE TABLE c (id INTEGER, x INTEGER, y INTEGER, PRIMARY KEY (id))");
    for (const char* row : {"1, 1, 1", "2, 2, 1", "3, NULL, 2", "4, 5, 3"})
      Exec(std::string("INSERT INTO a VALUES (") + row + ")");
    for (const char* row : {"1, 1, 'p'", "2, 1, 'q'", "3, 2, 'r'", "4, NULL, 's'"})
      Exec(std::string("INSERT INTO b VALUES (") + row + ")");
    for (const char* row : {"1, 1, 1", "2, 2, 3"})
      Exec(std::string("INSERT INTO c VALUES (") + row + ")");
  }
};

TEST_F(JoinTest, Rows) {
  const struct {
    const char* sql;
    Lines lines;
  } cases[] = {
      // NULL equals NULL in the engine's =, so a's NULL x meets b's.
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x", {"id\tid_1", "1\t1", "1\t2", "2\t3", "3\t4"}},
      {"SELECT a.id, b.id FROM a, b WHERE b.x = a.x AND a.id < 3",
       {"id\tid_1", "1\t1", "1\t2", "2\t3"}},
      {"SELECT a.id, b.id FROM a, b WHERE a.id <= 2 AND b.id <= 2",
       {"id\tid_1", "1\t1", "1\t2", "2\t1", "2\t2"}},
      {"SELECT a.id, z FROM a LEFT JOIN b ON a.x = b.x AND b.z <> 'q' WHERE a.id <> 3",
       {"id\tz", "1\tp", "2\tr", "4\t\\N"}},
      {"SELECT a.id, z FROM a LEFT OUTER JOIN b ON a.x = b.x WHERE b.z IS NULL",
       {"id\tz", "4\t\\N"}},
      {"SELECT a.id, b.id FROM b RIGHT JOIN a ON a.x = b.x AND a.x = 2",
       {"id\tid_1", "1\t\\N", "2\t3", "3\t\\N", "4\t\\N"}},
      {"SELECT a.id, b.id FROM a INNER JOIN b ON a.x = b.x WHERE a.x = 1",
       {"id\tid_1", "1\t1", "1\t2"}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x = b.x OR a.y = 3",
       {"id\tid_1", "1\t1", "1\t2", "2\t3", "3\t4", "4\t1", "4\t2", "4\t3", "4\t4"}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x + b.id = 3", {"id\tid_1", "1\t2", "2\t1"}},
      {"SELECT a.id, b.id, c.id FROM a, b, c WHERE a.x = c.x AND b.id = c.y",
       {"id\tid_1\tid_2", "1\t1\t1", "2\t3\t2"}},
      {"SELECT a.id, b.id, c.id FROM a LEFT JOIN b ON a.x = b.x LEFT JOIN c ON b.id = c.y",
       {"id\tid_1\tid_2", "1\t1\t1", "1\t2\t\\N", "2\t3\t2", "3\t4\t\\N", "4\t\\N\t\\N"}},
      {"SELECT a.id, b.id FROM a, b WHERE a.x > b.x AND b.x IS NOT NULL",
       {"id\tid_1", "2\t1", "2\t2", "4\t1", "4\t2", "4\t3"}},
      {"SELECT a.y, COUNT(*) FROM a, b WHERE a.x = b.x GROUP BY a.y",
       {"y\tCount Of *", "1\t3", "2\t1"}},
      {"SELECT DISTINCT a.y FROM a, b WHERE a.x = b.x", {"y", "1", "2"}},
      {"SELECT a.id FROM a WHERE a.x IN (SELECT x FROM c)", {"id", "1", "2"}},
  };
  for (const auto& c : cases) {
    Lines got = Query(c.sql);
    Lines want = c.lines;
    // Joined rows come in the loop order; compare them as sets.
    std::sort(got.begin() + 1, got.end());
    std::sort(want.begin() + 1, want.end());
    EXPECT_EQ(got, want) << c.sql;
  }
}

TEST_F(JoinTest, CrossProductKeepsTheFirstTableOutermost) {
  EXPECT_EQ(Query("SELECT a.id, c.id FROM a, c WHERE a.id < 3"),
            (Lines{"id\tid_1", "1\t1", "1\t2", "2\t1", "2\t2"}));
}

TEST_F(JoinTest, SmallerTableDrivesUnlessNoJoinOptimize) {
  // c has two records and a four: c drives, so its order leads.
  EXPECT_EQ(Query("SELECT c.id, a.id FROM a, c WHERE a.x = c.x"),
            (Lines{"id\tid_1", "1\t1", "2\t2"}));
  EXPECT_EQ(Query("SELECT a.id, c.id FROM a, c WHERE a.y = c.y NOJOINOPTIMIZE"),
            (Lines{"id\tid_1", "1\t1", "2\t1", "4\t2"}));
  EXPECT_EQ(Query("SELECT a.id, c.id FROM a, c WHERE a.y = c.y"),
            (Lines{"id\tid_1", "1\t1", "2\t1", "4\t2"}));
}

TEST_F(JoinTest, Messages) {
  const std::string sql = "11949 SQL error - ";
  EXPECT_EQ(ErrorOf("SELECT a.id FROM a, b WHERE q.x = 1"),
            sql +
                "Invalid column name 'x' or table correlation name 'q' specified in WHERE or "
                "JOIN clause");
  EXPECT_EQ(ErrorOf("SELECT q.* FROM a"),
            sql +
                "Invalid column name '*' or table correlation name 'q' specified in source "
                "columns");
}

}  // namespace
