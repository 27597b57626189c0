// The grammars of INSERT, UPDATE and DELETE: target tables and correlation
// names, target columns and values, parameters in order, NOAUTOINC, COMMIT
// INTERVAL and every message word for word.
#include <gtest/gtest.h>

#include "engine/sql/statement_test_util.h"

namespace {

using namespace engine;
using statement_test::Describe;
using statement_test::ErrorCase;
using statement_test::ExpectErrors;
using statement_test::Parse;

TEST(StatementUpdate, Shapes) {
  struct Case {
    const char* text;
    const char* shape;
  } cases[] = {
      {"INSERT INTO t VALUES (1,2)", "from: t@ AS t #1; targets: *; values: 1, 2; flags: live"},
      {"INSERT INTO t (a) VALUES (?)", "from: t@ AS t #1; targets: a; values: ?; flags: live"},
      // There is no AS form: a written AS is the correlation name.
      {"INSERT INTO t AS (a) VALUES (1)", "from: t@ AS AS #1; targets: a; values: 1; flags: live"},
      {"INSERT INTO t x ('a', \"b\", [c], x.d) VALUES (1, 'two', 3 + 4, NULL) NOAUTOINC "
       "COMMIT INTERVAL 100",
       "from: t@ AS x #1; targets: a, b, c, x.d; values: 1, 'two', (+ 3 4), NULL; "
       "flags: noautoinc, live, commit"},
      {"INSERT INTO MEMORY 'C:\\m\\r.dat' SELECT a, b FROM t WHERE c = ? COMMIT INTERVAL 5",
       "from: r.dat@MEMORY AS r #1 MEMORY; targets: *; flags: insertselect, live, commit"},
      // NOAUTOINC and COMMIT after the SELECT belong to the INSERT.
      {"INSERT INTO t SELECT * FROM u NOAUTOINC COMMIT INTERVAL +3",
       "from: t@ AS t #1; targets: *; flags: noautoinc, insertselect, live, commit"},
      {"UPDATE t AS u SET u.a = a + 1, 'b' = 'x' WHERE c IN (SELECT d FROM v) NOAUTOINC "
       "COMMIT INTERVAL 10",
       "from: t@ AS u #1; where: (IN c (SELECT)); targets: u.a, b; values: (+ a 1), 'x'; "
       "flags: where, noautoinc, live, commit"},
      {"UPDATE MEMORY m x SET a = 1",
       "from: m@MEMORY AS x #1 MEMORY; targets: a; values: 1; flags: live"},
      {"UPDATE t SET a = 1;", "from: t@ AS t #1; targets: a; values: 1; flags: live"},
      {"DELETE FROM t", "from: t@ AS t #1; flags: live"},
      {"DELETE FROM 'C:\\d\\t.dat' AS x WHERE a = ? COMMIT INTERVAL 2",
       "from: t.dat@C:\\d\\ AS x #1; where: (= a ?); flags: where, live, commit"},
      {"DELETE FROM t WHERE a = 1 NOJOINOPTIMIZE",
       "from: t@ AS t #1; where: (= a 1); flags: where, nojoinoptimize, live"},
      {"DELETE FROM t NOJOINOPTIMIZE", "from: t@ AS t #1; flags: nojoinoptimize, live"},
      {"DELETE FROM MEMORY t u", "from: t@MEMORY AS u #1 MEMORY; flags: live"},
  };
  for (const Case& c : cases) {
    auto statement = Parse(c.text);
    EXPECT_EQ(Describe(statement->MainQuery()), c.shape) << c.text;
  }
}

TEST(StatementUpdate, CatalogInsertBindsParameterIToValueI) {
  auto statement = Parse(
      "Insert into \"C:\\B\\Back.dat\"  (FileName,FileTime,isZip,Path,File) values  "
      "(?,?,?,?,?)");
  const TDataQuery& q = statement->MainQuery();
  EXPECT_EQ(q.statementKind, kStatementInsert);
  EXPECT_EQ(Describe(q),
            "from: Back.dat@C:\\B\\ AS Back #1; targets: FileName, FileTime, isZip, Path, File; "
            "values: ?, ?, ?, ?, ?; flags: live");
  EXPECT_TRUE(q.sourceTables[0]->pathGiven);
  ASSERT_EQ(statement->parameters.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(statement->parameters[i], q.values[i].expression.get()) << i;
    EXPECT_TRUE(statement->parameters[i]->isParameter);
  }
}

TEST(StatementUpdate, CatalogUpdateKeepsWhereParametersLast) {
  auto statement = Parse(
      "UpDate \"C:\\B\\Back.dat\" set FileTime=?,isZip=?,Path =?,File=? where FileName =? "
      "and Path = ?");
  const TDataQuery& q = statement->MainQuery();
  EXPECT_EQ(q.statementKind, kStatementUpdate);
  EXPECT_EQ(Describe(q),
            "from: Back.dat@C:\\B\\ AS Back #1; where: (and (= FileName ?) (= Path ?)); "
            "targets: FileTime, isZip, Path, File; values: ?, ?, ?, ?; flags: where, live");
  ASSERT_EQ(statement->parameters.size(), 6u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(statement->parameters[i], q.values[i].expression.get()) << i;
  }
  EXPECT_EQ(statement->parameters[4], q.where->left->right);
  EXPECT_EQ(statement->parameters[5], q.where->right->right);
}

TEST(StatementUpdate, InsertSelectBlockAndTexts) {
  auto statement = Parse("INSERT INTO t (a, b) SELECT c, d + 1 FROM u WHERE e = ?");
  ASSERT_EQ(statement->queries.size(), 2u);
  const TDataQuery& select = *statement->queries[1];
  EXPECT_TRUE(select.isSubQuery);
  EXPECT_EQ(Describe(select),
            "cols: c, {d + 1}; from: u@ AS u #1; where: (= e ?); flags: where, computed, live");
  EXPECT_EQ(statement->parameters.size(), 1u);

  auto values = Parse("UPDATE t SET a = b\r\n  + 1, c = 'x'");
  EXPECT_EQ(values->MainQuery().values[0].expressionText, "b  + 1");
  EXPECT_EQ(values->MainQuery().values[1].expressionText, "'x'");
  EXPECT_EQ(values->MainQuery().commitInterval, 0);
  EXPECT_EQ(Parse("DELETE FROM t COMMIT INTERVAL 2147483647")->MainQuery().commitInterval,
            2147483647);
}

TEST(StatementUpdate, Messages) {
  const ErrorCase cases[] = {
      {"INSERT t VALUES (1)", "INTO keyword expected, instead found 't'"},
      {"INSERT INTO (a) VALUES (1)", "Table name expected after INTO clause, instead found '('"},
      {"INSERT INTO MEMORY (a)", "Table name expected after INTO keyword, instead found '('"},
      {"INSERT INTO t (a VALUES (1)",
       "Right parentheses expected after list of table columns, instead found 'VALUES'"},
      {"INSERT INTO t (a) VALUES 1",
       "Left parentheses expected after VALUES keyword, instead found '1'"},
      {"INSERT INTO t (a) VALUES (1",
       "Right parentheses expected after list of values, instead "
       "found ''"},
      {"INSERT INTO t (a) VALUES (", "Value expression is empty"},
      {"INSERT INTO t (a) VALUE (1)", "VALUES or SELECT  keyword expected, instead found 'VALUE'"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL 0",
       "COMMIT INTERVAL specified (0) is invalid, it must be greater than 0"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL -5",
       "COMMIT INTERVAL specified (-5) is invalid, it must be greater than 0"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL x",
       "COMMIT INTERVAL specified (0) is invalid, it must be greater than 0"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL 1.5",
       "COMMIT INTERVAL specified (0) is invalid, it must be greater than 0"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL", "Commit interval is empty"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL ?",
       "Parameters are not allowed in commit interval"},
      {"INSERT INTO t (a) VALUES (1) COMMIT 5",
       "INTERVAL keyword expected after COMMIT keyword, instead found '5'"},
      {"INSERT INTO t (a) VALUES (1) garbage",
       "End of INSERT statement expected, instead found 'garbage'"},
      {"INSERT INTO t (a) VALUES (1) COMMIT INTERVAL 1 NOAUTOINC",
       "End of INSERT statement expected, instead found 'NOAUTOINC'"},
      {"INSERT INTO t (a) VALUES (SUM(b))",
       "Aggregate functions are not allowed in value expression"},
      {"INSERT INTO t (a) VALUES (a IN (1))",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in value "
       "expression"},
      {"INSERT INTO t (?) VALUES (1)", "Parameters are not allowed in table column"},
      {"INSERT INTO t ('') VALUES (1)", "Table column name is empty"},
      {"INSERT INTO t () VALUES (1)", "Unknown or unexpected symbol ')' found in table column"},
      {"INSERT INTO t SELECT a FROM u ORDER BY a garbage",
       "End of INSERT statement expected, instead found 'garbage'"},
      {"UPDATE (t) SET a = 1", "Table name expected, instead found '('"},
      {"UPDATE MEMORY 1 SET a = 1", "Table name expected, instead found '1'"},
      {"UPDATE t AS SET a = 1", "SET keyword expected, instead found 'a'"},
      {"UPDATE t u v SET a = 1", "SET keyword expected, instead found 'v'"},
      {"UPDATE t SET", "Table column name is empty"},
      {"UPDATE t SET '' = 1", "Table column name is empty"},
      {"UPDATE t SET a 1", "Assignment (=) operator expected after column name, instead found '1'"},
      {"UPDATE t SET a + 1 = 2",
       "Assignment (=) operator expected after column name, instead found '+'"},
      {"UPDATE t SET a =", "Value expression is empty"},
      {"UPDATE t SET a=1 b=2", "End of UPDATE statement expected, instead found 'b'"},
      {"UPDATE t SET a=1 WHERE", "WHERE or JOIN clause is empty"},
      {"UPDATE t SET a=1 NOAUTOINC WHERE a = 1",
       "End of UPDATE statement expected, instead found 'WHERE'"},
      {"UPDATE t SET a=1 COMMIT INTERVAL 0",
       "COMMIT INTERVAL specified (0) is invalid, it must be greater than 0"},
      {"DELETE t", "FROM keyword expected, instead found 't'"},
      {"DELETE FROM 5", "Table name expected, instead found '5'"},
      {"DELETE FROM MEMORY [t]", "Table name expected, instead found 't'"},
      {"DELETE FROM t AS", "Symbol or string expected after AS keyword, instead found ''"},
      {"DELETE FROM t WHERE a = 1 x", "End of DELETE statement expected, instead found 'x'"},
      {"DELETE FROM t COMMIT INTERVAL 0",
       "COMMIT INTERVAL specified (0) is invalid, it must be greater than 0"},
  };
  ExpectErrors(cases);
}

}  // namespace
