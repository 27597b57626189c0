// Statement execution: SELECT, INSERT, UPDATE and DELETE from their text.
#include "engine/sql/sql_test_util.h"

namespace {

using sql_test::SqlTest;
using Lines = std::vector<std::string>;

TEST_F(SqlTest, Smoke) {
  ASSERT_EQ(Exec("CREATE TABLE t (a INTEGER, b CHAR(10), PRIMARY KEY (a))"), 0);
  EXPECT_EQ(Exec("INSERT INTO t VALUES (2, 'two')"), 1);
  EXPECT_EQ(Exec("INSERT INTO t (a, b) VALUES (1, 'one')"), 1);
  EXPECT_EQ(Query("SELECT * FROM t"), (Lines{"a\tb", "1\tone", "2\ttwo"}));
  EXPECT_EQ(Query("SELECT b, a FROM t WHERE a > 1"), (Lines{"b\ta", "two\t2"}));
}

}  // namespace
