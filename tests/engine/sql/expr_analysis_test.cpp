// Type analysis: the compatibility table row by row with a refused pair per
// operator, result types, strings that name columns, date strings, the
// condition rewrite, and every analysis message.
#include <gtest/gtest.h>

#include <map>

#include "engine/sql/expr_test_util.h"

namespace {

using namespace engine;
using expr_test::Analyse;
using expr_test::Dump;
using expr_test::ExpectError;
using expr_test::MakeAllTypesTable;
using expr_test::TestTable;

// Operands of each kind: the columns of MakeAllTypesTable and the NULL constant.
const std::vector<std::string> kStrings = {"Str", "Memo"};
const std::vector<std::string> kNumbers = {"Small", "Int", "Real", "Money", "Word"};
const std::vector<std::string> kIntegers = {"Small", "Int", "Word"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct CompatibilityRow {
  std::vector<std::string> operators;
  std::vector<std::string> left;
  std::vector<std::string> right;
};

TEST(ExprAnalysis, EveryRowOfTheCompatibilityTableIsAccepted) {
  const std::vector<std::string> equality = {"=", "<>"};
  const std::vector<std::string> ordering = {"<", ">", "<=", ">="};
  const std::vector<CompatibilityRow> rows = {
      {equality, kStrings, {"NULL", "Str", "Memo"}},
      {equality, {"Bin"}, {"NULL"}},
      {equality, {"Day", "Stamp"}, {"NULL", "Day", "Stamp"}},
      {equality, {"Flag"}, {"NULL", "Flag"}},
      {equality, {"Raw"}, {"NULL", "Raw"}},
      {equality, {"Clock"}, {"NULL", "Clock"}},
      {equality, kNumbers, Join({{"NULL"}, kNumbers})},
      {ordering, kStrings, kStrings},
      {ordering, {"Day", "Stamp"}, {"Day", "Stamp"}},
      {ordering, kNumbers, kNumbers},
      {ordering, {"Clock"}, {"Clock"}},
      {{"AND", "OR"}, {"Flag"}, {"Flag"}},
      {{"+"}, {"Day", "Clock", "Stamp"}, kIntegers},
      {{"+", "||"}, kStrings, kStrings},
      {{"+"}, kIntegers, Join({{"Day", "Clock", "Stamp"}, kNumbers})},
      {{"+"}, {"Real", "Money"}, kNumbers},
      {{"-"}, {"Day"}, Join({{"Day"}, kIntegers})},
      {{"-"}, kNumbers, kNumbers},
      {{"-"}, {"Clock"}, Join({{"Clock"}, kIntegers})},
      {{"-"}, {"Stamp"}, Join({{"Day", "Clock", "Stamp"}, kIntegers})},
      {{"*", "/"}, kNumbers, kNumbers},
  };
  for (const CompatibilityRow& row : rows) {
    for (const std::string& op : row.operators) {
      for (const std::string& l : row.left) {
        for (const std::string& r : row.right) {
          TestTable table = MakeAllTypesTable();
          const std::string text = l + " " + op + " " + r;
          EXPECT_NO_THROW(Analyse(text, &table)) << text;
        }
      }
    }
  }
}

TEST(ExprAnalysis, RefusedPairsPerOperator) {
  const char* cases[] = {
      "Str = Int",   "Bin = Bin",    "Bin = Str",   "Day = Clock", "Flag = Int", "Raw = Str",
      "Int <> Str",  "NULL = Str",   "Str < NULL",  "Flag < Flag", "Raw > Raw",  "Clock <= Day",
      "Int >= Str",  "Int AND Flag", "Flag OR Str", "Str + Int",   "Day + Day",  "Real + Day",
      "Flag + Flag", "Day - Stamp",  "Day - Real",  "Clock - Day", "Word - Str", "Str * Str",
      "Day * Int",   "Int / Day",    "NULL + Int",  "Str || Int",
  };
  for (const char* text : cases) {
    TestTable table = MakeAllTypesTable();
    EXPECT_THROW(Analyse(text, &table), EZORVADEngineError) << text;
  }
}

TEST(ExprAnalysis, ResultTypes) {
  struct Case {
    const char* text;
    int type, subType, size, scale;
  } cases[] = {
      {"Int = 1", kFieldBoolean, 0, 2, 0},
      {"Flag AND Flag", kFieldBoolean, 0, 2, 0},
      {"Str || Str", kFieldString, 0, 41, 0},
      {"Str + 'abc'", kFieldString, 0, 24, 0},
      {"Str + Memo", kFieldBlob, kSubtypeMemo, 8, 0},
      {"Day + Int", kFieldDate, 0, 4, 0},
      {"Int + Day", kFieldDate, 0, 4, 0},
      {"Clock + Small", kFieldTime, 0, 4, 0},
      {"Stamp + Word", kFieldTimestamp, 0, 8, 0},
      {"Small + Word", kFieldInt32, 0, 4, 0},
      {"Int + Real", kFieldFloat, 0, 8, 0},
      {"Money + Int", kFieldBcd, 0, 8, 2},
      {"Money + Real", kFieldFloat, 0, 8, 0},
      {"Day - Day", kFieldInt32, 0, 4, 0},
      {"Day - Int", kFieldDate, 0, 4, 0},
      {"Clock - Clock", kFieldInt32, 0, 4, 0},
      {"Clock - Int", kFieldTime, 0, 4, 0},
      {"Stamp - Day", kFieldInt32, 0, 4, 0},
      {"Stamp - Clock", kFieldInt32, 0, 4, 0},
      {"Stamp - Int", kFieldTimestamp, 0, 8, 0},
      {"Stamp - Stamp", kFieldFloat, 0, 8, 0},
      {"Word - Small", kFieldUInt16, 0, 2, 0},
      {"Small - Word", kFieldInt32, 0, 4, 0},
      {"Int * Small", kFieldInt32, 0, 4, 0},
      {"Money * Int", kFieldBcd, 0, 8, 2},
      {"Real * Int", kFieldFloat, 0, 8, 0},
      {"7 / 2", kFieldFloat, 0, 8, 0},
      {"Int / Real", kFieldFloat, 0, 8, 0},
      {"Money / Int", kFieldBcd, 0, 8, 2},
      {"Int / Money", kFieldBcd, 0, 8, 2},
      {"Money / Real", kFieldFloat, 0, 8, 0},
      {"-Int", kFieldInt32, 0, 4, 0},
      {"-Money", kFieldBcd, 0, 8, 2},
      {"+Word", kFieldUInt16, 0, 2, 0},
      {"NOT Flag", kFieldBoolean, 0, 2, 0},
      {"Str LIKE 'a%'", kFieldBoolean, 0, 2, 0},
      {"Int IN (1, -2)", kFieldBoolean, 0, 2, 0},
      {"UPPER(Str)", kFieldString, 0, 21, 0},
      {"LOWER(Memo)", kFieldBlob, kSubtypeMemo, 8, 0},
      {"SUBSTRING(Str FROM 3 FOR 5)", kFieldString, 0, 6, 0},
      {"SUBSTRING(Str FROM 3)", kFieldString, 0, 19, 0},
      {"REPLACE('a' WITH 'bb' IN Str)", kFieldString, 0, 21, 0},
      {"POS('a' IN Str)", kFieldInt32, 0, 4, 0},
      {"OCCURS('a' IN Memo)", kFieldInt32, 0, 4, 0},
      {"TRIM(BOTH ' ' FROM Str)", kFieldString, 0, 21, 0},
      {"EXTRACT(YEAR FROM Stamp)", kFieldInt32, 0, 4, 0},
      {"CAST(Int AS CHAR(10))", kFieldString, 0, 11, 0},
      {"CAST(Str AS DECIMAL(10, 3))", kFieldBcd, 0, 8, 3},
      {"IF(Flag THEN Int ELSE NULL)", kFieldInt32, 0, 4, 0},
      {"IF(Flag THEN Str ELSE 'abc')", kFieldString, 0, 21, 0},
      {"ABS(Small)", kFieldInt16, 0, 2, 0},
      {"ROUND(Money TO 1)", kFieldFloat, 0, 8, 0},
  };
  for (const Case& c : cases) {
    TestTable table = MakeAllTypesTable();
    ExpTree tree = Analyse(c.text, &table);
    EXPECT_EQ(tree->dataType, c.type) << c.text;
    EXPECT_EQ(tree->subType, c.subType) << c.text;
    EXPECT_EQ(tree->size, c.size) << c.text;
    EXPECT_EQ(tree->scale, c.scale) << c.text;
  }
}

TEST(ExprAnalysis, AggregateResultTypes) {
  struct Case {
    const char* text;
    int type;
  } cases[] = {{"SUM(Money)", kFieldBcd},  {"AVG(Int)", kFieldInt32}, {"MIN(Day)", kFieldDate},
               {"MAX(Clock)", kFieldTime}, {"COUNT(*)", kFieldInt32}, {"COUNT(Str)", kFieldInt32}};
  for (const Case& c : cases) {
    TestTable table = MakeAllTypesTable();
    EXPECT_EQ(Analyse(c.text, &table, false, kPermitAggregates)->dataType, c.type) << c.text;
  }
  TestTable table = MakeAllTypesTable();
  ExpectError([&] { Analyse("SUM(Str)", &table, false, kPermitAggregates); },
              "SUM aggregate function must contain a numeric, date, time, or timestamp "
              "expression in test expression");
}

TEST(ExprAnalysis, StringThatNamesAColumn) {
  struct Case {
    const char* text;
    const char* tree;
  } cases[] = {
      // Both operands are columns: the one written as a string turns back.
      {"FileName = 'Path'", "(= FileName 'Path')"},
      {"'Path' = FileName", "(= 'Path' FileName)"},
      {"'Path' = 'FileName'", "(= Path 'FileName')"},
      // Otherwise the string stays the column it names.
      {"UPPER('Path')", "(UPPER Path)"},
      {"'Path' = 'x'", "(= Path 'x')"},
      {"'path' LIKE 'Str'", "(LIKE path 'Str')"},  // a pattern is always a constant
      {"FileName IN ('Path', 'x')", "(IN FileName 'Path' 'x')"},
      {"Str = 'Nothing'", "(= Str 'Nothing')"},
  };
  for (const Case& c : cases) {
    TestTable table = MakeAllTypesTable();
    EXPECT_EQ(Dump(*Analyse(c.text, &table)), c.tree) << c.text;
  }
  TestTable table = MakeAllTypesTable();
  ExpTree tree = Analyse("UPPER('Path')", &table);
  EXPECT_EQ(tree->left->tokenClass, kClassColumn);
  EXPECT_TRUE(tree->left->writtenAsString);
  EXPECT_EQ(tree->left->fieldNo, 15);
}

TEST(ExprAnalysis, DateStringsTakeTheTypeTheyAreComparedWith) {
  TestTable table = MakeAllTypesTable();
  ExpTree tree = Analyse("Day = '2024-02-28'", &table);
  EXPECT_EQ(tree->right->dataType, kFieldDate);
  EXPECT_EQ(tree->right->AsInt32(), 738944);
  tree = Analyse("'2024-02-28 12:00' < Stamp", &table);
  EXPECT_EQ(tree->left->dataType, kFieldTimestamp);
  EXPECT_DOUBLE_EQ(tree->left->AsDouble(), 738944.0 * 86400000.0 + 12 * 3600000.0);
  tree = Analyse("Clock >= '10:30:15'", &table);
  EXPECT_EQ(tree->right->AsInt32(), (10 * 3600 + 30 * 60 + 15) * 1000);
  tree = Analyse("Day BETWEEN '2024-01-01' AND '2024-12-31'", &table);
  EXPECT_EQ(tree->third->dataType, kFieldDate);
  tree = Analyse("Day = ''", &table);  // '' is NULL of any type
  EXPECT_TRUE(tree->right->isNull);

  const char* refused[] = {"Day = '2024-02-30'", "Day = '2024-02-28 10:00'", "Clock = '25:00'",
                           "Stamp IN ('x')"};
  for (const char* text : refused) {
    const std::string s = text;
    const std::string literal = s.substr(s.find('\'') + 1, s.rfind('\'') - s.find('\'') - 1);
    ExpectError([&] { Analyse(text, &table); },
                "Date, time, or timestamp expression expected, instead found '" + literal +
                    "' in test expression");
  }
}

TEST(ExprAnalysis, ConditionRewritesBooleanOperands) {
  struct Case {
    const char* text;
    const char* tree;
  } cases[] = {
      {"Flag", "(= Flag TRUE)"},
      {"NOT Flag", "(NOT (= Flag TRUE))"},
      {"Flag AND Int = 1", "(AND (= Flag TRUE) (= Int 1))"},
      {"Int = 1 OR Flag", "(OR (= Int 1) (= Flag TRUE))"},
      {"IF(Flag THEN Flag ELSE Flag)", "(= (IF Flag Flag Flag) TRUE)"},
      {"CAST(Int AS BOOLEAN) OR Flag = FALSE", "(OR (= (CAST Int) TRUE) (= Flag FALSE))"},
  };
  for (const Case& c : cases) {
    TestTable table = MakeAllTypesTable();
    ExpTree tree = Analyse(c.text, &table, true);
    EXPECT_EQ(Dump(*tree), c.tree) << c.text;
    EXPECT_EQ(tree->dataType, kFieldBoolean) << c.text;
    EXPECT_EQ(tree->parent, nullptr);
  }
  TestTable table = MakeAllTypesTable();
  EXPECT_EQ(Dump(*Analyse("Flag", &table, false)), "Flag");  // not a condition
}

struct MessageCase {
  const char* text;
  std::string message;  // followed by " in test expression" unless it ends otherwise
};

TEST(ExprAnalysis, AnalysisMessages) {
  const MessageCase cases[] = {
      {"Str = Int", "Type mismatch between column 'Str' and column 'Int'"},
      {"NULL = FileName", "Type mismatch between constant 'NULL' and column 'FileName'"},
      {"(Int + 1) = 'a'", "Type mismatch between expression '+' and constant 'a'"},
      {"UPPER(Str) = 1", "Type mismatch between function 'UPPER' and constant '1'"},
      {"-Str", "Type mismatch between '-' operator and 'Str'"},
      {"-Word", "Type mismatch between '-' operator and 'Word'"},
      {"NOT Int", "Type mismatch between 'NOT' operator and 'Int'"},
      {"Nope = 1", "Invalid column name 'Nope' or table correlation name '' specified"},
      {"UPPER(Int)", "Type mismatch between UPPER function and function argument"},
      {"LOWER(Bin)", "Type mismatch between LOWER function and function argument"},
      {"SUBSTRING(Int FROM 1)",
       "Expression argument of SUBSTRING function must be a string or memo"},
      {"SUBSTRING(Str FROM Int)",
       "FROM argument of SUBSTRING function must be an integer constant"},
      {"SUBSTRING(Str FROM 0)",
       "FROM argument of SUBSTRING function must be an integer constant greater than 0"},
      {"SUBSTRING(Str FROM 1 FOR 'a')",
       "FOR argument of SUBSTRING function must be an integer constant"},
      {"SUBSTRING(Str FROM 1 FOR 0)",
       "FOR argument of SUBSTRING function must be an integer constant greater than 0"},
      {"REPLACE('a' WITH 'b' IN Int)", "IN argument of REPLACE function must be a string or memo"},
      {"REPLACE(Str WITH 'b' IN Str)",
       "Search argument of REPLACE function must be a string constant"},
      {"REPLACE('a' WITH Str IN Str)",
       "WITH argument of REPLACE function must be a string constant"},
      {"POS('a' IN Int)", "Type mismatch between POS function and IN argument"},
      {"POS(Str IN Str)", "Search string argument of POS function must be a string constant"},
      {"OCCURS('a' IN Day)", "Type mismatch between OCCURS function and IN argument"},
      {"OCCURS(Str IN Str)", "Search string argument of OCCURS function must be a string constant"},
      {"TRIM(LEADING 'a' FROM Int)", "FROM argument of TRIM function must be a string or memo"},
      {"TRIM(LEADING 'ab' FROM Str)",
       "Trim character argument of TRIM function must be a single character constant"},
      {"TRIM(LEADING Str FROM Str)",
       "Trim character argument of TRIM function must be a single character constant"},
      {"EXTRACT(YEAR FROM Int)",
       "FROM argument of EXTRACT function must be a date, time, or timestamp"},
      {"CAST(Bin AS CHAR(10))", "Type mismatch between column 'Bin' and AS argument"},
      {"CAST(Day AS TIME)", "Type mismatch between column 'Day' and AS argument"},
      {"CAST(Clock AS DATE)", "Type mismatch between column 'Clock' and AS argument"},
      {"CAST(Real AS BOOLEAN)", "Type mismatch between column 'Real' and AS argument"},
      {"CAST(Flag AS INTEGER)", "Type mismatch between column 'Flag' and AS argument"},
      {"CAST(Str AS BLOB(0, 1))", "Type mismatch between column 'Str' and AS argument"},
      {"CAST(Str AS CHAR(0))",
       "Length argument must be an integer greater than 0 and less than or equal to 250"},
      {"IF(Int THEN 1 ELSE 2)", "First expression argument of IF function must be a boolean type"},
      {"IF(Flag THEN 1 ELSE 'a')",
       "Type mismatch between second and third IF expression arguments"},
      {"IF(Flag THEN Small ELSE Int)",
       "Type mismatch between second and third IF expression arguments"},
      {"ABS(Str)", "Expression argument of ABS function must be an integer or floating-point type"},
      {"ROUND(Int)", "Expression argument of ROUND function must be a floating-point type"},
      {"ROUND(Real TO Int)",
       "Decimal places argument of ROUND function must be an integer constant"},
      {"ROUND(Real TO 33)",
       "Decimal places argument of ROUND function must be an integer constant between 0 and 32"},
      {"Int LIKE 'a'", "Type mismatch between LIKE operator and expression 'Int'"},
      {"Str LIKE Path", "Constant expression expected after LIKE operator, instead found 'Path'"},
      {"Str NOT LIKE 1", "Constant expression expected after NOT LIKE operator, instead found '1'"},
      {"Int BETWEEN Small AND 5",
       "Constant expression expected after BETWEEN operator, instead found 'Small'"},
      {"Int NOT BETWEEN 1 AND 'x'",
       "Type mismatch between NOT BETWEEN operator and expression 'x'"},
      {"Int IN (1, 'a')", "Type mismatch between IN operator and expression 'a'"},
      {"Str NOT IN (Path)",
       "Constant expression expected after NOT IN operator, instead found 'Path'"},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.text);
    TestTable table = MakeAllTypesTable();
    ExpectError([&] { Analyse(c.text, &table); }, c.message + " in test expression");
  }
  TestTable table = MakeAllTypesTable();
  ExpectError([&] { Analyse("IF(Flag THEN NULL ELSE NULL)", &table); },
              "At least one of the second and third IF expression arguments in test expression "
              "must be a non-NULL value");
}

// A resolver whose sub-selects have a given number of INTEGER columns.
class SubSelectTable : public TestTable {
 public:
  SubSelectTable(int columns) : TestTable(MakeAllTypesTable()), columns_(columns) {}
  int ResolveSubSelect(TExpToken& node) override {
    node.SetType(kFieldInt32, 0, 4, 0);
    return columns_;
  }

 private:
  int columns_;
};

ExpTree AnalyseSubSelect(const std::string& text, SubSelectTable& table) {
  TExpressionParser parser(kErrSql, "", "test expression");
  parser.SetSubSelectParser([](TExpressionParser& p, TExpToken&) {
    while (!p.IsKind(')')) p.ReadToken();
  });
  parser.SetText(text);
  parser.ReadToken();
  ExpTree tree = parser.ParseExpression(kPermitExtended | kPermitSubSelects);
  AnalysisContext context;
  context.contextName = "test expression";
  context.resolver = &table;
  AnalyseExpression(context, tree);
  return tree;
}

TEST(ExprAnalysis, InWithSubSelect) {
  SubSelectTable one(1);
  EXPECT_EQ(AnalyseSubSelect("Int IN (SELECT x FROM t)", one)->dataType, kFieldBoolean);
  ExpectError([&] { AnalyseSubSelect("Str NOT IN (SELECT x FROM t)", one); },
              "Type mismatch between NOT IN operator and expression 'Str' in test expression");
  SubSelectTable two(2);
  ExpectError([&] { AnalyseSubSelect("Int IN (SELECT x, y FROM t)", two); },
              "More than 1 column for sub-select  specified in test expression");
}

TEST(ExprAnalysis, FieldListResolverMatchesNamesIgnoringCase) {
  TFieldDefinitions fields(5);
  const struct {
    const char* name;
    std::uint8_t type, subType, size;
  } defs[] = {{"FileName", kFieldString, 0, 250},
              {"FileTime", kFieldInt32, 0, 0},
              {"isZip", kFieldString, 0, 1},
              {"Path", kFieldString, 0, 250},
              {"File", kFieldBlob, kSubtypeBinary, 0}};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].SetName(defs[i].name);
    fields[i].SetType(defs[i].type);
    fields[i].SetSubtype(defs[i].subType);
    fields[i].SetSize(defs[i].size);
  }
  FieldListResolver resolver(fields, "Back");
  AnalysisContext context;
  context.errorCode = kErrFilter;
  context.tableName = "Back";
  context.contextName = "filter expression";
  context.condition = true;
  context.resolver = &resolver;

  ExpTree tree = expr_test::Parse("filename = \"a.txt\" AND Back.PATH = \"C:\\\" AND isZip = 'N'");
  AnalyseExpression(context, tree);
  const TExpToken& fileName = *tree->left->left->left;
  EXPECT_EQ(fileName.fieldNo, 1);
  EXPECT_EQ(fileName.size, 251);
  EXPECT_EQ(tree->left->right->left->fieldNo, 4);
  EXPECT_EQ(tree->right->left->size, 2);

  ExpTree other = expr_test::Parse("Other.Path = 'x'");
  ExpectError([&] { AnalyseExpression(context, other); },
              "Invalid column name 'Path' or table correlation name 'Other' specified in filter "
              "expression",
              kErrFilter, "Back");
  ExpTree blob = expr_test::Parse("File = 'x'");
  ExpectError([&] { AnalyseExpression(context, blob); },
              "Type mismatch between column 'File' and constant 'x' in filter expression",
              kErrFilter, "Back");
}

}  // namespace
