// The SELECT grammar: result columns and their kinds, INTO, sources with
// correlation names and joins, the clauses after FROM in their order, the
// statement end, sub-selects, and every message word for word.
#include <gtest/gtest.h>

#include "engine/sql/statement_test_util.h"

namespace {

using namespace engine;
using statement_test::Describe;
using statement_test::ErrorCase;
using statement_test::ExpectErrors;
using statement_test::Parse;

struct ShapeCase {
  const char* text;
  const char* shape;
};

void ExpectShapes(const ShapeCase* begin, const ShapeCase* end) {
  for (const ShapeCase* c = begin; c != end; ++c) {
    auto statement = Parse(c->text);
    EXPECT_EQ(Describe(statement->MainQuery()), c->shape) << c->text;
  }
}

TEST(StatementSelect, Shapes) {
  const ShapeCase cases[] = {
      // The catalog's search: four plain columns, a quoted full path.
      {"select FileName,FileTime,Path,isZip from 'C:\\B\\Back.dat'",
       "cols: FileName, FileTime, Path, isZip; from: Back.dat@C:\\B\\ AS Back #1"},
      // The restore SELECT, double quotes and two blanks before From.
      {"select FileName,isZip,Path,File  From \"Back.dat\"",
       "cols: FileName, isZip, Path, File; from: Back.dat@ AS Back #1"},
      {"SELECT a b FROM t", "cols: a AS b; from: t@ AS t #1"},
      {"SELECT a FROM t u", "cols: a; from: t@ AS u #1"},
      {"SELECT a FROM t WHERE a=1", "cols: a; from: t@ AS t #1; where: (= a 1); flags: where"},
      // No reserved words: a quoted keyword is a name.
      {"SELECT * FROM 'where'", "cols: *; from: where@ AS where #1"},
      {"SELECT * FROM t ORDER BY 2 DESC NOCASE",
       "cols: *; from: t@ AS t #1; order: 2 DESC; flags: order, nocase"},
      {"SELECT * FROM t WHERE a=1 GROUP BY a ORDER BY a",
       "cols: *; from: t@ AS t #1; where: (= a 1); group: a; order: a; flags: where, group, order"},
      {"SELECT ALL DISTINCT t.* FROM t", "cols: t.*; from: t@ AS t #1; flags: distinct"},
      {"SELECT a AS [x y], b 'z', c AS \"w\", d e.f FROM t",
       "cols: a AS x y, b AS z, c AS w, d AS f; from: t@ AS t #1"},
      {"SELECT COUNT(*), SUM(a), MIN(t.b), MAX(c) m, AVG(a * 2) FROM t",
       "cols: COUNT(*), SUM(a), MIN(t.b), MAX(c) AS m, AVG{AVG(a * 2)}; from: t@ AS t #1; "
       "flags: computed, avg"},
      {"SELECT a + 1, UPPER(b) u, c\r\n|| d FROM t",
       "cols: {a + 1}, {UPPER(b)} AS u, {c|| d}; from: t@ AS t #1; flags: computed"},
      {"SELECT a INTO r FROM t", "cols: a; into: r; from: t@ AS t #1"},
      {"SELECT a INTO MEMORY 'r.dat' FROM t", "cols: a; into: MEMORY r.dat; from: t@ AS t #1"},
      {"SELECT * FROM MEMORY m, 'C:\\x\\y.z.dat' AS q, 't.dat', \"D:r\"",
       "cols: *; from: m@MEMORY AS m #1 MEMORY, y.z.dat@C:\\x\\ AS q #2, t.dat@ AS t #3, "
       "r@D: AS r #4; flags: several"},
      {"SELECT * FROM MEMORY 'C:\\x\\m.dat' mm", "cols: *; from: m.dat@MEMORY AS mm #1 MEMORY"},
      {"SELECT * FROM a JOIN b ON a.x = b.x",
       "cols: *; from: a@ AS a #1, b@ AS b #2; where: (= a.x b.x); flags: several, where"},
      // A RIGHT JOIN's table goes first; ON conditions come before WHERE.
      {"SELECT * FROM a LEFT OUTER JOIN b ON a.x=b.x RIGHT JOIN c cc ON b.y = cc.y "
       "INNER JOIN d AS e ON e.z = a.z WHERE a.w = 1",
       "cols: *; from: c@ AS cc #3, a@ AS a #1, b@ AS b #2, d@ AS e #4; "
       "where: (AND (AND (AND (= a.x b.x) (= b.y cc.y)) (= e.z a.z)) (= a.w 1)); "
       "flags: several, where"},
      {"SELECT * FROM a, b JOIN c ON b.x = c.x, d",
       "cols: *; from: a@ AS a #1, b@ AS b #2, c@ AS c #3, d@ AS d #4; where: (= b.x c.x); "
       "flags: several, where"},
      {"SELECT a, COUNT(*) FROM t GROUP BY t.a, [b], 'c', 3 HAVING COUNT(*) > 1",
       "cols: a, COUNT(*); from: t@ AS t #1; group: t.a, b, c, 3; having: (> (COUNT *) 1); "
       "flags: group, having"},
      {"SELECT a FROM t ORDER BY 'C:\\d\\t.dat'.a ASCENDING, b DESCENDING, c ASC, d DESC",
       "cols: a; from: t@ AS t #1; order: t.a, b DESC, c, d DESC; flags: order"},
      // Clauses that are not read as a correlation name.
      {"SELECT * FROM t NOJOINOPTIMIZE", "cols: *; from: t@ AS t #1; flags: nojoinoptimize"},
      {"SELECT * FROM t WITH LOCKS ENCRYPTED WITH 'pw' NOJOINOPTIMIZE",
       "cols: *; from: t@ AS t #1; flags: locks, nojoinoptimize, encrypted"},
      {"SELECT * FROM t ENCRYPTED WITH ''", "cols: *; from: t@ AS t #1"},
      // A ';' ends the statement; nothing after it is read.
      {"SELECT a FROM t; anything 'at all", "cols: a; from: t@ AS t #1"},
      {"/* lead */ SELECT /* a */ a FROM t /* tail */", "cols: a; from: t@ AS t #1"},
  };
  ExpectShapes(std::begin(cases), std::end(cases));
}

TEST(StatementSelect, LanguageAndSort) {
  struct Case {
    const char* text;
    std::uint16_t language;
    bool sortGiven;
    std::uint16_t sort;
  } cases[] = {
      {"SELECT * FROM t LANGUAGE 'German (Standard)' SORT 'german phone book order'", 0x0407, true,
       1},
      {"SELECT * FROM t LANGUAGE 'English (USA)'", 0x0409, false, 0},
      {"SELECT * FROM t LANGUAGE 'ANSI Standard' SORT 'Default Order'", 0, true, 0},
  };
  for (const Case& c : cases) {
    auto statement = Parse(c.text);
    const TDataQuery& q = statement->MainQuery();
    EXPECT_TRUE(q.languageGiven) << c.text;
    EXPECT_EQ(q.languageId, c.language) << c.text;
    EXPECT_EQ(q.sortGiven, c.sortGiven) << c.text;
    EXPECT_EQ(q.sortId, c.sort) << c.text;
  }
}

TEST(StatementSelect, ResultColumnKinds) {
  auto statement = Parse("SELECT a, t.b x, COUNT(*), SUM(c), AVG(c + 1), c * 2 FROM t");
  const auto& f = statement->MainQuery().resultFields;
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0].resultName, "a");  // a plain column is named by its column
  EXPECT_FALSE(f[0].aliasGiven);
  EXPECT_EQ(f[1].resultName, "x");
  EXPECT_EQ(f[1].correlationName, "t");
  EXPECT_EQ(f[2].aggregate, kAggregateCount);
  EXPECT_EQ(f[2].columnName, "*");
  EXPECT_EQ(f[2].resultName, "");  // named at preparation
  EXPECT_EQ(f[3].aggregate, kAggregateSum);
  EXPECT_FALSE(f[3].isExpression);
  EXPECT_EQ(f[4].aggregate, kAggregateAvg);
  EXPECT_TRUE(f[4].isExpression);
  EXPECT_EQ(f[4].expressionText, "AVG(c + 1)");
  EXPECT_EQ(f[5].aggregate, kAggregateNone);
  EXPECT_TRUE(f[5].isExpression);
  EXPECT_EQ(f[5].expressionText, "c * 2");
  for (const TResultField& field : f) EXPECT_TRUE(field.expression);
}

TEST(StatementSelect, OnClauseMarksAndJoinKinds) {
  auto statement = Parse(
      "SELECT * FROM a LEFT JOIN b ON a.x = b.x AND (NOT b.y = 1 OR a.z > b.z + 1) "
      "WHERE a.w = b.w");
  const TExpToken& where = *statement->MainQuery().where;  // (AND on where)
  ASSERT_EQ(where.code, kOpAnd);
  EXPECT_FALSE(where.onClause);  // the AND that joins ON and WHERE
  const TExpToken& on = *where.left;
  EXPECT_TRUE(on.onClause);
  EXPECT_EQ(on.left->joinKind, kJoinLeft);  // a.x = b.x
  EXPECT_TRUE(on.left->onClause);
  const TExpToken& orNode = *on.right;
  EXPECT_TRUE(orNode.onClause);
  EXPECT_TRUE(orNode.left->onClause);                 // NOT
  EXPECT_TRUE(orNode.left->left->onClause);           // b.y = 1
  EXPECT_EQ(orNode.left->left->joinKind, kJoinNone);  // one column only
  EXPECT_EQ(orNode.right->joinKind, kJoinLeft);       // a.z > b.z + 1
  EXPECT_FALSE(orNode.right->left->onClause);         // operands are not marked
  EXPECT_FALSE(where.right->onClause);                // a.w = b.w, written in WHERE
  EXPECT_EQ(where.right->joinKind, kJoinNone);

  for (const auto& [text, kind] :
       {std::pair{"SELECT * FROM a JOIN b ON a.x = b.x", kJoinInner},
        std::pair{"SELECT * FROM a INNER JOIN b ON a.x = b.x", kJoinInner},
        std::pair{"SELECT * FROM a RIGHT JOIN b ON a.x = b.x", kJoinRight},
        std::pair{"SELECT * FROM a LEFT JOIN b ON a.x = b.x", kJoinLeft}}) {
    EXPECT_EQ(Parse(text)->MainQuery().where->joinKind, kind) << text;
  }
}

TEST(StatementSelect, SubSelectsAndParameters) {
  auto statement = Parse(
      "SELECT a FROM t WHERE b = ? AND a IN (SELECT c FROM u WHERE d = ? AND "
      "e NOT IN (SELECT f FROM v)) AND g = ?");
  ASSERT_EQ(statement->queries.size(), 3u);
  const TDataQuery& main = statement->MainQuery();
  const TDataQuery& inner = *statement->queries[1];
  const TDataQuery& innermost = *statement->queries[2];
  EXPECT_FALSE(main.isSubQuery);
  EXPECT_TRUE(inner.isSubQuery);
  EXPECT_TRUE(inner.RequestLive);
  EXPECT_EQ(Describe(inner),
            "cols: c; from: u@ AS u #1; where: (AND (= d ?) (NOT IN e (SELECT))); "
            "flags: where, live");
  EXPECT_EQ(Describe(innermost), "cols: f; from: v@ AS v #1; flags: live");
  // The parameters in the order written, across the blocks.
  ASSERT_EQ(statement->parameters.size(), 3u);
  EXPECT_EQ(statement->parameters[0], main.where->left->left->right);  // b = ?
  EXPECT_EQ(statement->parameters[1], inner.where->left->right);       // d = ?
  EXPECT_EQ(statement->parameters[2], main.where->right->right);       // g = ?
  const TExpToken& in = *main.where->left->right;
  EXPECT_EQ(in.right->subQuery, &inner);
}

TEST(StatementSelect, RequestLiveAndMaxRowCountFromTheCaller) {
  TQueryStatement statement(nullptr);
  statement.MainQuery().RequestLive = true;
  statement.MainQuery().MaxRowCount = 5;
  statement.Parse("SELECT a FROM t");
  EXPECT_TRUE(statement.MainQuery().RequestLive);
  EXPECT_EQ(statement.MainQuery().MaxRowCount, 5);
  statement.Parse("SELECT a INTO r FROM t");  // INTO clears it
  EXPECT_FALSE(statement.MainQuery().RequestLive);
  EXPECT_EQ(statement.MainQuery().MaxRowCount, 5);
}

TEST(StatementSelect, ParsingAgainStartsFromTheDefaults) {
  TQueryStatement statement(nullptr);
  statement.Parse("SELECT DISTINCT a FROM t WHERE a IN (SELECT b FROM u WHERE b = ?) ORDER BY a");
  EXPECT_EQ(statement.queries.size(), 2u);
  statement.Parse("SELECT c FROM v");
  EXPECT_EQ(statement.queries.size(), 1u);
  EXPECT_TRUE(statement.parameters.empty());
  EXPECT_EQ(Describe(statement.MainQuery()), "cols: c; from: v@ AS v #1");
}

TEST(StatementSelect, StopOffset) {
  TQueryStatement statement(nullptr);
  EXPECT_EQ(statement.Parse("SELECT a FROM t; more"), 16u);  // behind the ';'
  EXPECT_EQ(statement.Parse("SELECT a FROM t  "), 17u);      // the end of the text
  // The text ends at its first zero byte.
  const std::string zero("SELECT a FROM t\0garbage", 23);
  EXPECT_EQ(statement.Parse(zero), 15u);
}

TEST(StatementSelect, Messages) {
  const ErrorCase cases[] = {
      {"",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead "
       "found ''"},
      {"SELEC a",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, "
       "instead found 'SELEC'"},
      {"'SELECT' a FROM t",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword "
       "expected, instead found 'SELECT'"},
      {"SELECT", "Source column expression is empty"},
      {"SELECT a AS b FORM t", "FROM keyword expected, instead found 'FORM'"},
      // No reserved words: FROM is read as a column, t as its alias.
      {"SELECT FROM t", "FROM keyword expected, instead found ''"},
      {"SELECT a,", "Source column expression is empty"},
      {"SELECT a AS 1 FROM t", "Symbol or string expected after AS keyword, instead found '1'"},
      {"SELECT a b.? FROM t",
       "Symbol or string expected after table correlation name, instead found '?'"},
      // .1 is a number: the alias b is followed by it, not by a '.'.
      {"SELECT a b.1 FROM t", "FROM keyword expected, instead found '.1'"},
      {"SELECT SUM(MAX(a)) FROM t", "Aggregate functions cannot be nested"},
      {"SELECT COUNT(a + MIN(b)) FROM t", "Aggregate functions cannot be nested"},
      {"SELECT a + SUM(b) FROM t", "Aggregate functions cannot be used within expressions"},
      {"SELECT ? FROM t", "Parameters are not allowed in source column expression"},
      {"SELECT a IN (SELECT b FROM u) FROM t",
       "Sub-select queries are not allowed in source column expression"},
      {"SELECT a INTO 1 FROM t", "Result table name expected in INTO clause, instead found '1'"},
      {"SELECT a INTO MEMORY [x] FROM t",
       "Result table name expected in INTO MEMORY clause, instead found 'x'"},
      {"SELECT a FROM 1", "Table name expected after FROM keyword, instead found '1'"},
      {"SELECT a FROM [t]", "Table name expected after FROM keyword, instead found 't'"},
      {"SELECT a FROM MEMORY", "Table name expected after FROM keyword, instead found ''"},
      {"SELECT a FROM t AS 2", "Symbol or string expected after AS keyword, instead found '2'"},
      {"SELECT a FROM t, u t", "Duplicate table correlation name 't' found in source tables"},
      {"SELECT a FROM t, T", "Duplicate table correlation name 'T' found in source tables"},
      {"SELECT a FROM 'C:\\a\\t.dat', t",
       "Duplicate table correlation name 't' found in source tables"},
      {"SELECT a FROM t JOIN u t ON t.a = u.a",
       "Duplicate table correlation name 't' found in source tables"},
      {"SELECT a FROM t INNER u", "JOIN keyword expected after INNER keyword, instead found 'u'"},
      {"SELECT a FROM t LEFT OUTER u",
       "JOIN keyword expected after LEFT or OUTER keyword, instead found 'u'"},
      {"SELECT a FROM t RIGHT u",
       "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'u'"},
      {"SELECT a FROM t JOIN u ON t.a = u.a FULL JOIN v ON t.a = v.a",
       "Full outer joins are currently not supported in ZORVAD SQL SELECT statements"},
      {"SELECT a FROM t FULL OUTER JOIN u ON t.a = u.a",
       "Full outer joins are currently not supported in ZORVAD SQL SELECT statements"},
      {"SELECT a FROM t JOIN 3", "Table name expected after JOIN keyword, instead found '3'"},
      {"SELECT a FROM t JOIN u v w", "ON keyword expected in JOIN clause, instead found 'w'"},
      {"SELECT a FROM t JOIN u ON", "WHERE or JOIN clause is empty"},
      {"SELECT a FROM t JOIN u ON t.a IN (SELECT b FROM v)",
       "Sub-select queries are not allowed in WHERE or JOIN clause"},
      {"SELECT a FROM t JOIN u ON SUM(a) = 1",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"SELECT a FROM t WHERE", "WHERE or JOIN clause is empty"},
      {"SELECT a FROM t WHERE a = 'x", "Missing single quote after 'x' in WHERE or JOIN clause"},
      {"SELECT a FROM t GROUP a", "BY keyword expected after GROUP keyword, instead found 'a'"},
      {"SELECT a FROM t GROUP BY 1.5",
       "Column name or column number expected in GROUP BY clause, instead found '1.5'"},
      {"SELECT a FROM t GROUP BY a,",
       "Column name or column number expected in GROUP BY clause, instead found ''"},
      {"SELECT a FROM t ORDER a", "BY keyword expected after ORDER keyword, instead found 'a'"},
      {"SELECT a FROM t ORDER BY ?",
       "Column name or column number expected in ORDER BY clause, instead found '?'"},
      {"SELECT a FROM t ORDER BY t.?",
       "Column name or column number expected in ORDER BY clause, instead found '?'"},
      // An unquoted table name ends before its extension.
      {"SELECT a FROM t.dat", "End of SELECT statement expected, instead found '.'"},
      {"SELECT a FROM t HAVING", "HAVING clause is empty"},
      {"SELECT a FROM t HAVING a LIKE 'x'",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING "
       "clause"},
      {"SELECT a FROM t HAVING a = ?", "Parameters are not allowed in HAVING clause"},
      {"SELECT a FROM t WITH LOCK",
       "LOCKS keyword expected after WITH keyword, instead found 'LOCK'"},
      {"SELECT a FROM t LANGUAGE Klingon",
       "Invalid language constant 'Klingon' specified after LANGUAGE keyword"},
      {"SELECT a FROM t LANGUAGE", "Invalid language constant '' specified after LANGUAGE keyword"},
      {"SELECT a FROM t LANGUAGE 'English (USA)' SORT 'German Phone Book Order'",
       "Invalid sort constant 'German Phone Book Order' specified after SORT keyword"},
      {"SELECT a FROM t ENCRYPTED secret",
       "WITH keyword expected after ENCRYPTED keyword, instead found 'secret'"},
      // The clauses after FROM only in their order.
      {"SELECT * FROM t ORDER BY a WHERE a=1",
       "End of SELECT statement expected, instead found 'WHERE'"},
      {"SELECT a FROM t WHERE a = 1 WHERE a = 2",
       "End of SELECT statement expected, instead found 'WHERE'"},
      {"SELECT a FROM t HAVING a = 1 GROUP BY a",
       "End of SELECT statement expected, instead found 'GROUP'"},
      {"SELECT a FROM t WITH LOCKS ORDER BY a",
       "End of SELECT statement expected, instead found 'ORDER'"},
      {"SELECT a FROM t NOJOINOPTIMIZE WITH LOCKS",
       "End of SELECT statement expected, instead found 'WITH'"},
      {"SELECT a FROM t u v", "End of SELECT statement expected, instead found 'v'"},
      // A sub-select ends where its clauses end; the IN then wants its ')'.
      {"SELECT a FROM t WHERE a IN (SELECT b FROM u ORDER BY b x)",
       "Expected right parentheses after IN operator, instead found 'x' in WHERE or JOIN clause"},
      {"SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE)",
       "Unknown or unexpected symbol ')' found in WHERE or JOIN clause"},
      {"SELECT a FROM t WHERE a IN (SELECT b FORM u)", "FROM keyword expected, instead found 'u'"},
      {"SELECT a /* open", "Missing ending comment slash and asterisk in source column expression"},
  };
  ExpectErrors(cases);
}

TEST(StatementSelect, LongMessagesAreCut) {
  const std::string token(300, 'x');
  TQueryStatement statement(nullptr);
  const std::string message = "End of SELECT statement expected, instead found '" + token + "'";
  expr_test::ExpectError([&] { statement.Parse("SELECT a FROM t u " + token); },
                         message.substr(0, 255));
}

}  // namespace
