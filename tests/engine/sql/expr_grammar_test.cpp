// The expression grammar: tree shapes (precedence, two-character operators,
// predicates, functions, constants), permissions, every grammar message, and
// the data types with their argument checks.
#include <gtest/gtest.h>

#include <thread>

#include "engine/sql/expr_test_util.h"

namespace {

using namespace engine;
using expr_test::Dump;
using expr_test::ExpectError;
using expr_test::Parse;

struct ShapeCase {
  const char* text;
  const char* tree;
};

TEST(ExprGrammar, TreeShapes) {
  const ShapeCase cases[] = {
      // The backup application's filter; the path keeps its backslashes.
      {"FileName = \"a.txt\" and Path = \"C:\\Data\\\"",
       "(and (= FileName 'a.txt') (= Path 'C:\\Data\\'))"},
      {"a = 1 OR b = 2 AND c = 3", "(OR (= a 1) (AND (= b 2) (= c 3)))"},
      {"NOT a = 1 AND b = 2", "(AND (NOT (= a 1)) (= b 2))"},
      {"a OR b OR c", "(OR (OR a b) c)"},
      {"a + b * c - d / e", "(- (+ a (* b c)) (/ d e))"},
      {"(a + b) * -c", "(* (+ a b) (- c))"},
      {"+a", "(+ a)"},
      {"a < > b", "(<> a b)"},
      {"a < = b", "(<= a b)"},
      {"a > = b", "(>= a b)"},
      {"a < b", "(< a b)"},
      {"a > b", "(> a b)"},
      {"a | | b + c", "(+ (|| a b) c)"},
      {"x IS NULL", "(= x NULL)"},
      {"x IS NOT NULL", "(<> x NULL)"},
      {"x BETWEEN 1 AND 5", "(BETWEEN x 1 5)"},
      {"x NOT BETWEEN 1 AND 5 AND y = 2", "(AND (NOT BETWEEN x 1 5) (= y 2))"},
      {"x LIKE 'a%'", "(LIKE x 'a%')"},
      {"x NOT LIKE 'a%'", "(NOT LIKE x 'a%')"},
      {"x IN (1, 2 + 3, 'z')", "(IN x 1 (+ 2 3) 'z')"},
      {"x NOT IN (1)", "(NOT IN x 1)"},
      {"T.FileName = [My Table].[Path]", "(= T.FileName My Table.Path)"},
      {"'C:\\Data\\Back.Dat'.\"File Name\"", "Back.File Name"},
      {"UPPER(a || b)", "(UPPER (|| a b))"},
      {"lower(a)", "(LOWER a)"},
      {"SUBSTRING(a FROM 2 FOR 3)", "(SUBSTRING a 2 3)"},
      {"SUBSTRING(a FROM 2)", "(SUBSTRING a 2)"},
      {"REPLACE('a' WITH 'b' IN c)", "(REPLACE 'a' 'b' c)"},
      {"POS('a' IN c)", "(POS 'a' c)"},
      {"OCCURS('a' IN c)", "(OCCURS 'a' c)"},
      {"TRIM(BOTH '_' FROM a)", "(TRIM '_' a)"},
      {"EXTRACT(MONTH FROM d)", "(EXTRACT d)"},
      {"CAST(a + 1 AS CHAR(10))", "(CAST (+ a 1) 10)"},
      {"IF(a = 1 THEN b ELSE c + 1)", "(IF (= a 1) b (+ c 1))"},
      {"ABS(-a)", "(ABS (- a))"},
      {"ROUND(a TO 2)", "(ROUND a 2)"},
      {"ROUND(a)", "(ROUND a)"},
      {"Count = 1", "(= Count 1)"},  // an aggregate's name is a column where they are not allowed
      {"a /* comment */ = /**/ 1", "(= a 1)"},
  };
  for (const ShapeCase& c : cases) {
    ExpTree tree = Parse(c.text);
    ASSERT_TRUE(tree) << c.text;
    EXPECT_EQ(Dump(*tree), c.tree) << c.text;
  }
}

TEST(ExprGrammar, OperatorAndFunctionCodes) {
  struct Case {
    const char* text;
    int tokenClass;
    int code;
  } cases[] = {
      {"a = b", kClassBinary, kOpEqual},
      {"a <> b", kClassBinary, kOpNotEqual},
      {"a > b", kClassBinary, kOpGreater},
      {"a < b", kClassBinary, kOpLess},
      {"a >= b", kClassBinary, kOpGreaterEqual},
      {"a <= b", kClassBinary, kOpLessEqual},
      {"NOT a", kClassUnary, kOpNot},
      {"a AND b", kClassBinary, kOpAnd},
      {"a OR b", kClassBinary, kOpOr},
      {"-a", kClassUnary, kOpNegate},
      {"+a", kClassUnary, kOpPlusSign},
      {"a + b", kClassBinary, kOpAdd},
      {"a || b", kClassBinary, kOpAdd},
      {"a - b", kClassBinary, kOpSubtract},
      {"a * b", kClassBinary, kOpMultiply},
      {"a / b", kClassBinary, kOpDivide},
      {"a LIKE 'b'", kClassExtended, kOpLike},
      {"a NOT LIKE 'b'", kClassExtended, kOpNotLike},
      {"a IN (1)", kClassExtended, kOpInList},
      {"a NOT IN (1)", kClassExtended, kOpNotInList},
      {"a BETWEEN 1 AND 2", kClassExtended, kOpBetween},
      {"a NOT BETWEEN 1 AND 2", kClassExtended, kOpNotBetween},
      {"UPPER(a)", kClassFunction, kFnUpper},
      {"LOWER(a)", kClassFunction, kFnLower},
      {"SUBSTRING(a FROM 1)", kClassFunction, kFnSubstring},
      {"REPLACE(a WITH b IN c)", kClassFunction, kFnReplace},
      {"POS(a IN b)", kClassFunction, kFnPos},
      {"OCCURS(a IN b)", kClassFunction, kFnOccurs},
      {"TRIM(LEADING a FROM b)", kClassFunction, kFnTrimLeading},
      {"TRIM(TRAILING a FROM b)", kClassFunction, kFnTrimTrailing},
      {"TRIM(BOTH a FROM b)", kClassFunction, kFnTrimBoth},
      {"CAST(a AS INTEGER)", kClassFunction, kFnCast},
      {"EXTRACT(YEAR FROM a)", kClassFunction, kFnExtractYear},
      {"EXTRACT(MONTH FROM a)", kClassFunction, kFnExtractMonth},
      {"EXTRACT(DAY FROM a)", kClassFunction, kFnExtractDay},
      {"EXTRACT(DAYOFWEEK FROM a)", kClassFunction, kFnExtractDayOfWeek},
      {"EXTRACT(HOUR FROM a)", kClassFunction, kFnExtractHour},
      {"EXTRACT(MINUTE FROM a)", kClassFunction, kFnExtractMinute},
      {"EXTRACT(SECOND FROM a)", kClassFunction, kFnExtractSecond},
      {"IF(a THEN b ELSE c)", kClassFunction, kFnIf},
      {"ABS(a)", kClassFunction, kFnAbs},
      {"ROUND(a)", kClassFunction, kFnRound},
      {"a", kClassColumn, 0},
      {"1", kClassConstant, 0},
  };
  for (const Case& c : cases) {
    ExpTree tree = Parse(c.text);
    EXPECT_EQ(tree->tokenClass, c.tokenClass) << c.text;
    EXPECT_EQ(tree->code, c.code) << c.text;
  }
  const struct {
    const char* text;
    int code;
  } aggregates[] = {{"SUM(a)", kFnSum},
                    {"COUNT(*)", kFnCount},
                    {"MIN(a)", kFnMin},
                    {"MAX(a)", kFnMax},
                    {"AVG(a + 1)", kFnAvg}};
  for (const auto& a : aggregates) {
    ExpTree tree = Parse(a.text, kPermitAggregates);
    EXPECT_EQ(tree->tokenClass, kClassFunction) << a.text;
    EXPECT_EQ(tree->code, a.code) << a.text;
  }
}

TEST(ExprGrammar, Constants) {
  struct Case {
    const char* text;
    int type;
    bool isNull;
  } cases[] = {
      {"'abc'", kFieldString, false},
      {"''", kFieldString, true},
      {"NULL", 0, true},
      {"TRUE", kFieldBoolean, false},
      {"false", kFieldBoolean, false},
      {"#65", kFieldString, false},
      {"2147483647", kFieldInt32, false},
      {"2147483648", kFieldFloat, false},
      {"1.5", kFieldFloat, false},
      {".25E2", kFieldFloat, false},
      {"CURRENT_DATE", kFieldDate, false},
      {"CURRENT_TIME", kFieldTime, false},
      {"CURRENT_TIMESTAMP", kFieldTimestamp, false},
  };
  for (const Case& c : cases) {
    ExpTree tree = Parse(c.text);
    EXPECT_EQ(tree->tokenClass, kClassConstant) << c.text;
    EXPECT_EQ(tree->dataType, c.type) << c.text;
    EXPECT_EQ(tree->isNull, c.isNull) << c.text;
  }
  EXPECT_EQ(Parse("'abc'")->size, 4);
  EXPECT_EQ(Parse("#65")->AsString(), "A");
  EXPECT_EQ(Parse("TRUE")->AsInt16(), -1);
  EXPECT_EQ(Parse("FALSE")->AsInt16(), 0);
  EXPECT_EQ(Parse("2147483647")->AsInt32(), 2147483647);
  EXPECT_DOUBLE_EQ(Parse("2147483648")->AsDouble(), 2147483648.0);
  EXPECT_DOUBLE_EQ(Parse(".25E2")->AsDouble(), 25.0);
}

TEST(ExprGrammar, ParametersAreCollectedInOrderAndDroppedOnFailure) {
  std::vector<TExpToken*> parameters;
  ExpTree tree = Parse("a = ? AND b IN (?, 3)", kPermitParameters | kPermitExtended, &parameters);
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(parameters[0], tree->left->right);
  EXPECT_EQ(parameters[1], tree->right->right);
  EXPECT_TRUE(parameters[0]->isParameter);

  TExpressionParser parser(kErrSql, "", "WHERE clause");
  parser.SetParameterList(&parameters);
  parser.SetText("c = ? AND d = ");
  parser.ReadToken();
  EXPECT_THROW(parser.ParseExpression(kPermitParameters), EZORVADEngineError);
  EXPECT_EQ(parameters.size(), 2u);  // the failed parse took its parameter back
}

TEST(ExprGrammar, FailedParseReturnsEveryNodeToThePool) {
  TExpTokenStack& pool = TExpTokenStack::Instance();
  {
    std::string warm = "a";  // more nodes than the failing parse below takes
    for (int i = 0; i < 100; ++i) warm += "+a";
    Parse(warm);
  }
  const std::size_t before = pool.FreeCount();
  TExpressionParser parser;
  parser.SetText("UPPER(a) = 'x' OR b IN (1, 2, 3) AND SUBSTRING(c FROM )");
  parser.ReadToken();
  EXPECT_THROW(parser.ParseExpression(kPermitExtended), EZORVADEngineError);
  EXPECT_EQ(pool.FreeCount(), before);
}

TEST(ExprGrammar, ThreadsShareTheNodePool) {
  const std::string text = "UPPER(a) = 'x' OR b IN (1, 2, 3) AND NOT c BETWEEN 1 AND 2";
  const std::string expected = Dump(*Parse(text));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        TExpressionParser parser;
        parser.SetText(text);
        parser.ReadToken();
        ExpTree tree = parser.ParseExpression(kPermitExtended);
        if (Dump(*tree) != expected) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(ExprGrammar, EmptyTextGivesNoTree) {
  TExpressionParser parser;
  parser.SetText("   /* nothing */ ");
  parser.ReadToken();
  EXPECT_FALSE(parser.ParseExpression(kPermitExtended));
}

TEST(ExprGrammar, SubSelectGoesThroughTheInstalledParser) {
  TExpressionParser parser;
  parser.SetSubSelectParser([](TExpressionParser& p, TExpToken& node) {
    node.subQuery = &p;  // stands for the statement's query block
    while (!p.IsKind(')')) p.ReadToken();
  });
  parser.SetText("x NOT IN (SELECT y FROM t)");
  parser.ReadToken();
  ExpTree tree = parser.ParseExpression(kPermitExtended | kPermitSubSelects);
  EXPECT_EQ(tree->code, kOpNotInSelect);
  EXPECT_EQ(tree->right->tokenClass, kClassSubSelect);
  EXPECT_EQ(tree->right->subQuery, &parser);
}

TEST(ExprGrammar, HostileNestingIsRefused) {
  const std::string deep = std::string(5000, '(') + "a" + std::string(5000, ')');
  ExpectError([&] { Parse(deep); }, "Expression is nested too deeply in test expression");
  std::string chain = "a";
  for (int i = 0; i < 5000; ++i) chain += "+a";
  ExpectError([&] { Parse(chain); }, "Expression is nested too deeply in test expression");
  const std::string fine = std::string(50, '(') + "a" + std::string(50, ')');
  EXPECT_EQ(Dump(*Parse(fine)), "a");
}

struct MessageCase {
  const char* text;
  int permissions;
  const char* message;  // without the context, which the test appends
};

TEST(ExprGrammar, GrammarMessages) {
  constexpr int kExt = kPermitExtended;
  constexpr int kAgg = kPermitAggregates;
  const MessageCase cases[] = {
      {"a NOT = 1", kExt, "Unknown or unexpected symbol '=' in"},
      {"a IS 1", kExt, "Unknown or unexpected symbol '1' found in"},
      {"a IS NOT 1", kExt, "Unknown or unexpected symbol '1' found in"},
      {"a LIKE 'x'", 0,
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in"},
      {"a IS NULL", 0,
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in"},
      {"a BETWEEN 1 OR 2", kExt,
       "Expected AND operator in BETWEEN operator, instead found 'OR' in"},
      {"a NOT IN 1", kExt, "Expected left parentheses for IN operator, instead found '1' in"},
      {"a IN 1", kExt, "Expected left parentheses after IN operator, instead found '1' in"},
      {"a IN (SELECT b FROM t)", kExt, "Sub-select queries are not allowed in"},
      {"a IN ()", kExt, "You must provide at least one value as an operand of the IN operator  in"},
      {"a IN (1, 2", kExt, "Expected right parentheses after IN operator, instead found '' in"},
      {"a | b", kExt,
       "Second concatenation symbol '|' expected after first concatentation symbol, instead found "
       "'b' in"},
      {"SUM a", kAgg,
       "Left parentheses expectedafter aggregate function 'SUM', instead found 'a' in"},
      {"MAX(a", kAgg,
       "Right parentheses expected after aggregate MAX function argument, instead found '' in"},
      {"SUM(a)", kExt, "Aggregate functions are not allowed in"},
      {"FOO(a)", kExt, "Unknown or unexpected function 'FOO' found in"},
      {"t.(a)", kExt,
       "Symbol or string expression expected after table correlation name separator '.', instead "
       "found '(' in"},
      {"t.*", kExt, "* (all columns) symbol is not allowed in"},
      {"#256", kExt, "Character constants (#) must be within the range of 0 to 255 in"},
      {"12E", kExt, "Constant '12E' is not a valid number  in"},
      {"1.2.3", kExt, "Constant '1.2.3' is not a valid number  in"},
      {"(a + b", kExt, "Right parentheses expected, instead found '' in"},
      {"a = ?", kExt, "Parameters are not allowed in"},
      {"a = )", kExt, "Unknown or unexpected symbol ')' found in"},
      {"*", kExt, "Unknown or unexpected symbol '*' found in"},
      // Functions.
      {"UPPER a", kExt, "Left parentheses expectedafter UPPER keyword, instead found 'a' in"},
      {"UPPER(a b", kExt,
       "Right parentheses expected after UPPER function argument, instead found 'b' in"},
      {"LOWER a", kExt, "Left parentheses expectedafter LOWER keyword, instead found 'a' in"},
      {"LOWER(a", kExt,
       "Right parentheses expected after LOWER function argument, instead found '' in"},
      {"SUBSTRING a", kExt,
       "Left parentheses expected after SUBSTRING keyword, instead found 'a' in"},
      {"SUBSTRING(a, 1)", kExt,
       "FROM keyword expected after first SUBSTRING function argument, instead found ',' in"},
      {"SUBSTRING(a FROM 1 2)", kExt,
       "Right parentheses expected after SUBSTRING function arguments, instead found '2' in"},
      {"REPLACE a", kExt, "Left parentheses expected after REPLACE keyword, instead found 'a' in"},
      {"REPLACE(a, b)", kExt,
       "WITH keyword expected after first REPLACE function argument, instead found ',' in"},
      {"REPLACE(a WITH b, c)", kExt,
       "IN keyword expected after second REPLACE function argument, instead found ',' in"},
      {"REPLACE(a WITH b IN c d)", kExt,
       "Right parentheses expected after REPLACE function arguments, instead found 'd' in"},
      {"POS a", kExt, "Left parentheses expected after POS keyword, instead found 'a' in"},
      {"POS(a, b)", kExt,
       "IN keyword expected after first POS function argument, instead found ',' in"},
      {"POS(a IN b c)", kExt,
       "Right parentheses expected after POS function arguments, instead found 'c' in"},
      {"OCCURS a", kExt, "Left parentheses expected after OCCURS keyword, instead found 'a' in"},
      {"OCCURS(a, b)", kExt,
       "IN keyword expected after first OCCURS function argument, instead found ',' in"},
      {"OCCURS(a IN b c)", kExt,
       "Right parentheses expected after OCCURS function arguments, instead found 'c' in"},
      {"TRIM a", kExt, "Left parentheses expected after TRIM keyword, instead found 'a' in"},
      {"TRIM(EACH ' ' FROM a)", kExt,
       "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found 'EACH' in"},
      {"TRIM(LEADING ' ' OF a)", kExt,
       "FROM keyword expected after second TRIM function argument, instead found 'OF' in"},
      {"TRIM(LEADING ' ' FROM a b)", kExt,
       "Right parentheses expected after TRIM function arguments, instead found 'b' in"},
      {"CAST a", kExt, "Left parentheses expected after CAST keyword, instead found 'a' in"},
      {"CAST(a TO INTEGER)", kExt,
       "AS keyword expected after first CAST function argument, instead found 'TO' in"},
      {"CAST(a AS INTEGER b)", kExt,
       "Right parentheses expected after CAST function arguments, instead found 'b' in"},
      {"EXTRACT a", kExt, "Left parentheses expected after EXTRACT keyword, instead found 'a' in"},
      {"EXTRACT(WEEK FROM a)", kExt,
       "YEAR, MONTH, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT "
       "keyword, instead found 'WEEK' in"},
      {"EXTRACT(YEAR OF a)", kExt,
       "FROM keyword expected after second EXTRACT function argument, instead found 'OF' in"},
      {"EXTRACT(YEAR FROM a b)", kExt,
       "Right parentheses expected after EXTRACT function arguments, instead found 'b' in"},
      {"IF a", kExt, "Left parentheses expectedafter IF keyword, instead found 'a' in"},
      {"IF(a ELSE b)", kExt,
       "THEN keyword expected after first IF function argument, instead found 'ELSE' in"},
      {"IF(a THEN b c)", kExt,
       "ELSE keyword expected after second IF function argument, instead found 'c' in"},
      {"IF(a THEN b ELSE c d)", kExt,
       "Right parentheses expected after IF function arguments, instead found 'd' in"},
      {"ABS a", kExt, "Left parentheses expectedafter ABS keyword, instead found 'a' in"},
      {"ABS(a b)", kExt,
       "Right parentheses expected after ABS function argument, instead found 'b' in"},
      {"ROUND a", kExt, "Left parentheses expectedafter ROUND keyword, instead found 'a' in"},
      {"ROUND(a b)", kExt,
       "Right parentheses expected after ROUND function arguments, instead found 'b' in"},
      // Data types.
      {"CAST(a AS TEXT)", kExt, "SQL data type keyword expected, instead found 'TEXT' in"},
      {"CAST(a AS DECIMAL(10 2))", kExt,
       "Comma expected after first DECIMAL argument, instead found '2' in"},
      {"CAST(a AS DECIMAL(10, 2 3))", kExt,
       "Right parentheses expected after DECIMAL data type arguments, instead found '3' in"},
      {"CAST(a AS NUMERIC(10 2))", kExt,
       "Comma expected after first NUMERIC argument, instead found '2' in"},
      {"CAST(a AS FLOAT(10, 2 3))", kExt,
       "Right parentheses expected after FLOAT data type arguments, instead found '3' in"},
      {"CAST(a AS CHAR 10)", kExt,
       "Left parentheses expected after CHARACTER or CHAR data type, instead found '10' in"},
      {"CAST(a AS CHARACTER(10 x)", kExt,
       "Right parentheses expected after CHARACTER or CHAR data type arguments, instead found 'x' "
       "in"},
      {"CAST(a AS VARCHAR 10)", kExt,
       "Left parentheses expected after VARCHAR data type, instead found '10' in"},
      {"CAST(a AS VARCHAR(10 x)", kExt,
       "Right parentheses expected after VARCHAR data type arguments, instead found 'x' in"},
      {"CAST(a AS BYTES(10 x)", kExt,
       "Right parentheses expected after CHARACTER data type arguments, instead found 'x' in"},
      {"CAST(a AS BLOB 0)", kExt,
       "Left parentheses expected after BLOB data type, instead found '0' in"},
      {"CAST(a AS BLOB(0 2))", kExt,
       "Comma expected after first BLOB argument, instead found '2' in"},
      {"CAST(a AS BLOB(0, 2 3))", kExt,
       "Right parentheses expected after BLOB data type arguments, instead found '3' in"},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectError([&] { Parse(c.text, c.permissions); }, std::string(c.message) + " test expression");
  }
}

TEST(ExprGrammar, FilterMessagesCarryTheTableName) {
  TExpressionParser parser(kErrFilter, "Back", "filter expression");
  parser.SetText("FileName = 'x' AND SUM(a) > 1");
  parser.ReadToken();
  ExpectError([&] { parser.ParseExpression(kPermitExtended); },
              "Aggregate functions are not allowed in filter expression", kErrFilter, "Back");
}

// Parses a data type and checks its arguments as CREATE TABLE does.
ExpTree DataType(const std::string& text) {
  TExpressionParser parser(kErrSql, "", "CREATE TABLE statement");
  parser.SetText(text);
  parser.ReadToken();
  ExpTree node = NewToken();
  parser.ParseDataType(*node, false);
  EXPECT_EQ(parser.TokenKind(), kTokenEnd) << text;
  parser.CheckDataTypeArguments(*node, kErrSql, "Back");
  return node;
}

TEST(ExprGrammar, DataTypesAndTheirSizes) {
  struct Case {
    const char* text;
    int type, subType, size, scale;
  } cases[] = {
      {"SMALLINT", kFieldInt16, 0, 2, 0},
      {"WORD", kFieldUInt16, 0, 2, 0},
      {"INTEGER", kFieldInt32, 0, 4, 0},
      {"int", kFieldInt32, 0, 4, 0},
      {"AUTOINC", kFieldInt32, 29, 4, 0},
      {"DECIMAL", kFieldBcd, 0, 8, 0},
      {"DECIMAL(10, 2)", kFieldBcd, 0, 8, 2},
      {"DECIMAL(10)", kFieldBcd, 0, 8, 0},
      {"NUMERIC(10, 2)", kFieldFloat, 0, 8, 0},
      {"FLOAT", kFieldFloat, 0, 8, 0},
      {"MONEY", kFieldFloat, 21, 8, 0},
      {"CHARACTER(1)", kFieldString, 0, 2, 0},
      {"CHAR(250)", kFieldString, 0, 251, 0},
      {"VARCHAR(20)", kFieldString, 0, 21, 0},
      {"DATE", kFieldDate, 0, 4, 0},
      {"TIME", kFieldTime, 0, 4, 0},
      {"TIMESTAMP", kFieldTimestamp, 0, 8, 0},
      {"BOOLEAN", kFieldBoolean, 0, 2, 0},
      {"BYTES", kFieldBytes, 0, 10, 0},
      {"BYTES(4)", kFieldBytes, 0, 4, 0},
      {"BLOB(0, 1)", kFieldBlob, 22, 8, 0},
      {"BLOB(0, 2)", kFieldBlob, 23, 8, 0},
      {"BLOB(0, 3)", kFieldBlob, 24, 8, 0},
      {"BLOB(0, 5)", kFieldBlob, 26, 8, 0},
      {"BLOB(0, 7)", kFieldBlob, 28, 8, 0},
  };
  for (const Case& c : cases) {
    ExpTree node = DataType(c.text);
    EXPECT_EQ(node->dataType, c.type) << c.text;
    EXPECT_EQ(node->subType, c.subType) << c.text;
    EXPECT_EQ(node->size, c.size) << c.text;
    EXPECT_EQ(node->scale, c.scale) << c.text;
  }
}

TEST(ExprGrammar, DataTypeArgumentChecks) {
  const std::string lengthRange =
      "Length argument must be an integer greater than 0 and less than or equal to 250 in Back";
  const struct {
    const char* text;
    std::string message;
  } cases[] = {
      {"CHAR(0)", lengthRange},
      {"CHAR(251)", lengthRange},
      {"VARCHAR(0)", lengthRange},
      {"BYTES(251)", lengthRange},
      {"CHAR('a')", "Length argument must be an integer in Back"},
      {"BYTES(1.5)", "Length argument must be an integer in Back"},
      {"DECIMAL(10, 5)",
       "Scale argument must be an integer less than or equal to 4 for the BCD data type Back"},
      {"DECIMAL(10, 'x')", "Scale argument must be an integer in Back"},
      {"BLOB(1, 2)", "First BLOB type argument must be an integer with the value of 0 in Back"},
      {"BLOB(0, 'a')", "BLOB type argument must be an integer in Back"},
      {"BLOB(0, 4)", "BLOB type argument must be an integer equal to 1,2,3,5, or 7 in Back"},
      {"BLOB(0, 0)", "BLOB type argument must be an integer equal to 1,2,3,5, or 7 in Back"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectError([&] { DataType(c.text); }, c.message);
  }
}

}  // namespace
