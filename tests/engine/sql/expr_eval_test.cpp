// Evaluation: NULL rules, LIKE, string collation, arithmetic with its result
// types, date and time arithmetic, every function, CAST, and the evaluation
// of columns without a record.
#include <gtest/gtest.h>

#include "engine/sql/expr_test_util.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"
#include "platform/locale.h"

namespace {

using namespace engine;
using expr_test::Analyse;
using expr_test::ExpectError;
using expr_test::MakeAllTypesTable;
using expr_test::TestTable;

constexpr std::int32_t kFeb28 = 738944;  // 2024-02-28, a Wednesday
constexpr std::int32_t kTenOClock = 10 * 3600 * 1000;
constexpr double kMsPerDayD = 86400000.0;

// The row every evaluation test starts from.
TestTable MakeRow() {
  TestTable t = MakeAllTypesTable();
  t.Value("Str").SetString("abc");
  t.Value("Memo").SetString("memo text");
  t.Value("Day").SetInt32(kFeb28);
  t.Value("Flag").SetBoolean(true);
  t.Value("Small").SetInt16(-3);
  t.Value("Int").SetInt32(7);
  t.Value("Money").SetInt64(12342);  // 12.34
  const std::uint8_t raw[4] = {1, 2, 3, 4};
  t.Value("Raw").SetBytes(raw, 4);
  t.Value("Clock").SetInt32(kTenOClock);
  t.Value("Stamp").SetDouble(kFeb28 * kMsPerDayD + 12 * 3600000.0);
  t.Value("Word").SetUInt16(65535);
  t.Value("Path").SetString("C:\\Data\\");
  // Real and FileName stay NULL.
  return t;
}

// The value as text, "NULL" for NULL, with its type as a prefix.
std::string Show(const TExpToken& v) {
  if (v.isNull) return std::to_string(v.dataType) + ":NULL";
  return std::to_string(v.dataType) + ":" + ValueAsText(v).value_or("?");
}

std::string Eval(const std::string& text, TestTable& table, int permissions = kPermitExtended) {
  ExpTree tree = Analyse(text, &table, false, permissions);
  EvaluationContext context;
  context.reader = &table;
  return Show(*EvaluateExpression(*tree, context));
}

bool Holds(const std::string& text, TestTable& table) {
  ExpTree tree = Analyse(text, &table, true);
  EvaluationContext context;
  context.reader = &table;
  return EvaluateCondition(*tree, context);
}

struct ConditionCase {
  const char* text;
  bool holds;
};

TEST(ExprEval, NullRulesOfComparisons) {
  const ConditionCase cases[] = {
      {"FileName = NULL", true},
      {"FileName IS NULL", true},
      {"FileName = ''", true},
      {"FileName <> ''", false},
      {"FileName IS NOT NULL", false},
      {"Str = ''", false},
      {"Str <> ''", true},
      {"Str <> NULL", true},
      {"Real = NULL", true},
      {"Real <> 1", true},
      {"Real = 1", false},
      {"Real < 1", false},
      {"Real > 1", false},
      {"Real <= Real", false},
      {"Real >= Real", false},
      {"FileName < 'a'", true},  // NULL orders as ''
      {"FileName > 'a'", false},
      {"Real IN (1, 2)", false},
      {"Real NOT IN (1, 2)", true},
      {"FileName IN ('x', '')", true},
      {"Real BETWEEN 1 AND 2", false},
      {"Real NOT BETWEEN 1 AND 2", true},
      {"Real + 1 = NULL", true},
      {"Int = 7 AND Real > 1", false},
      {"Real > 1 OR Int = 7", true},
      {"Int = 7 OR Real > 1", true},
  };
  for (const ConditionCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Holds(c.text, table), c.holds) << c.text;
  }
}

TEST(ExprEval, ComparisonsAndPredicates) {
  const ConditionCase cases[] = {
      {"Str = 'abc'", true},
      {"Str < 'abcd'", true},
      {"Str > 'ab'", true},
      {"Str >= 'abd'", false},
      {"'ABC' = Str", false},
      {"Str || 'x' = 'abcx'", true},
      {"Memo = 'memo text'", true},
      {"Memo > Str", true},
      {"Int = 7.0", true},
      {"Small < Int", true},
      {"Word > Int", true},
      {"Money = 12.34", true},
      {"Money > 12.335", true},
      {"Int IN (1, 7)", true},
      {"Int NOT IN (1, 7)", false},
      {"Int IN (1, -7)", false},
      {"Small IN (-3)", true},
      {"Int BETWEEN 1 AND 7", true},
      {"Int BETWEEN 8 AND 9", false},
      {"Int NOT BETWEEN 8 AND 9", true},
      {"Day = '2024-02-28'", true},
      {"Day BETWEEN '2024-01-01' AND '2024-12-31'", true},
      {"Stamp > Day", true},
      {"Day < Stamp", true},
      {"Day = CAST(Stamp AS DATE)", true},
      {"Clock < '10:00:01'", true},
      {"Clock = '10:00'", true},
      {"Flag", true},
      {"NOT Flag", false},
      {"Flag = TRUE", true},
      {"Raw = Raw", true},
      {"Flag AND NOT Int = 8", true},
  };
  for (const ConditionCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Holds(c.text, table), c.holds) << c.text;
  }
  TestTable table = MakeRow();
  table.SetNull("Flag");
  EXPECT_FALSE(Holds("Flag", table));
  EXPECT_TRUE(Holds("NOT Flag", table));  // NOT (Flag = TRUE), and NULL = TRUE is false
}

TEST(ExprEval, LikeMatchesLeftToRight) {
  const struct {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"abc", "a%", true},    {"abc", "_b_", true},    {"abc", "abc%%", false},
      {"abc", "abc%", true},  {"abc", "%c", true},     {"abc", "%b%", true},
      {"abc", "a_", false},   {"abc", "%", true},      {"abc", "%%", true},
      {"abc", "A%", false},   {"abc", "a%%c", true},   {"abc", "abc_", false},
      {"abc", "ab", false},   {"abc", "abcd", false},  {"aXbXc", "a%b%c", true},
      {"abcbc", "%bc", true}, {"abcbd", "%bc", false}, {"a%c", "a%c", true},
      {"", "%", true},        {"", "%%", false},       {"", "_", false},
  };
  const Collation bytewise;
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesLike(c.text, c.pattern, bytewise), c.match) << c.text << " " << c.pattern;
  }
  TestTable table = MakeRow();
  EXPECT_TRUE(Holds("Str LIKE 'a%'", table));
  EXPECT_FALSE(Holds("Str NOT LIKE 'a%'", table));
  EXPECT_FALSE(Holds("FileName LIKE 'a%'", table));
  EXPECT_TRUE(Holds("FileName NOT LIKE 'a%'", table));
  EXPECT_FALSE(Holds("Str LIKE ''", table));  // '' is NULL
  EXPECT_TRUE(Holds("Memo LIKE '%text'", table));
}

TEST(ExprEval, CollationOfLanguageZero) {
  const Collation bytewise;
  EXPECT_LT(bytewise.Compare("abc", "abcd"), 0);
  EXPECT_GT(bytewise.Compare("abd", "abcd"), 0);
  EXPECT_LT(bytewise.Compare("Z", "a"), 0);
  EXPECT_GT(bytewise.Compare("\xA4", "z"), 0);  // bytes compare unsigned
  EXPECT_NE(bytewise.Compare("abc", "ABC"), 0);
  EXPECT_EQ(bytewise.Compare("abc", "ABC", true), 0);
  EXPECT_EQ(bytewise.Upper("a\xA4z"), "A\xA4Z");  // only ASCII letters change
  EXPECT_EQ(bytewise.Lower("A\xA4Z"), "a\xA4z");
}

TEST(ExprEval, CollationOfALocale) {
  const Collation english{platform::kLangEnglishUsa, 0};
  EXPECT_LT(english.Compare("a", "B"), 0);  // bytewise 'a' sorts after 'B'
  EXPECT_EQ(english.Compare("abc", "ABC", true), 0);
  EXPECT_EQ(english.Upper("abc"), "ABC");
}

TEST(ExprEval, PreparedStringComparison) {
  struct Case {
    const char* value;  // nullptr for NULL
    int code;
    int partial;
    bool caseInsensitive;
    const char* constant;  // nullptr for NULL
    bool holds;
  } cases[] = {
      {"abcdef", kOpEqual, 3, false, "abc", true},
      {"abxdef", kOpEqual, 3, false, "abc", false},
      {"ab", kOpEqual, 3, false, "abc", false},
      {"ABCdef", kOpEqual, 3, true, "abc", true},
      {"ABC", kOpEqual, 0, true, "abc", true},
      {"ABC", kOpEqual, 0, false, "abc", false},
      {"ABC", kOpNotEqual, 0, true, "abc", false},
      {nullptr, kOpEqual, 0, false, nullptr, true},
      {nullptr, kOpEqual, 0, false, "abc", false},
      {nullptr, kOpNotEqual, 0, false, "abc", true},
      {nullptr, kOpNotEqual, 0, false, nullptr, false},
  };
  for (const Case& c : cases) {
    TestTable table = MakeRow();
    if (c.value) {
      table.Value("Str").SetString(c.value);
    } else {
      table.SetNull("Str");
    }
    ExpTree tree =
        Analyse(std::string("Str ") + (c.code == kOpEqual ? "=" : "<>") + " 'x'", &table, true);
    tree->tokenClass = kClassStringCompare;
    tree->partialLength = c.partial;
    tree->caseInsensitive = c.caseInsensitive;
    if (c.constant) {
      tree->right->SetString(c.constant);
    } else {
      tree->right->SetNull();
    }
    EvaluationContext context;
    context.reader = &table;
    EXPECT_EQ(EvaluateCondition(*tree, context), c.holds)
        << (c.value ? c.value : "NULL") << " " << c.code << " " << c.partial;
  }
}

struct ValueCase {
  const char* text;
  std::string value;  // "type:text"
};

TEST(ExprEval, ArithmeticValuesAndTypes) {
  const ValueCase cases[] = {
      {"7 / 2", "7:3.5"},
      {"7 * 2", "6:14"},
      {"Int / 0", "7:NULL"},
      {"Real + 1", "7:NULL"},
      {"Int - Small", "6:10"},
      {"Small * Small", "6:9"},
      {"Word + 1", "6:65536"},
      {"Word - 1", "12:65534"},
      // Past the range of the type: the exact value, as a FLOAT.
      {"2147483647 + 1", "7:2147483648"},
      {"0 - 2147483647 - 2", "7:-2147483649"},
      {"Word - 65536", "7:-1"},
      {"65536 * 65536", "7:4294967296"},
      {"-Small", "5:3"},
      {"-Int + 0.5", "7:-6.5"},
      {"Money + 1", "8:13.34"},
      {"Money * 2", "8:24.68"},
      {"Money / 3", "8:4.11"},
      {"Money / 0", "8:NULL"},
      {"-Money", "8:-12.34"},
      {"Money - 0.005", "7:12.335"},
      {"Str || 'x'", "1:abcx"},
      {"FileName || 'x'", "1:x"},
      {"'x' + FileName", "1:x"},
      {"FileName || FileName", "1:NULL"},
      {"Memo + '!'", "3:memo text!"},
  };
  for (const ValueCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Eval(c.text, table), c.value) << c.text;
  }
}

TEST(ExprEval, DateAndTimeArithmetic) {
  const ValueCase cases[] = {
      {"Day - '2024-01-01'", "6:58"},
      {"Day + 1", "2:2024-02-29"},
      {"1 + Day", "2:2024-02-29"},
      {"Day - 59", "2:2023-12-31"},
      {"Day - Day", "6:0"},
      {"CAST('0001-01-01' AS DATE) - 1", "2:NULL"},  // before the first date
      {"Clock + 1000", "10:10:00:01"},
      {"Clock - Clock", "6:0"},
      {"Clock - 36000001", "10:23:59:59"},  // around midnight
      {"Stamp + 1", "11:2024-02-29 12:00:00"},
      {"Stamp - 1", "11:2024-02-27 12:00:00"},
      {"Stamp - Day", "6:0"},
      {"Stamp - Clock", "6:7200000"},
      {"Stamp - CAST('2024-02-27' AS TIMESTAMP)", "7:1.5"},
  };
  for (const ValueCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Eval(c.text, table), c.value) << c.text;
  }
}

TEST(ExprEval, Functions) {
  const ValueCase cases[] = {
      {"UPPER(Str)", "1:ABC"},
      {"LOWER('AbC')", "1:abc"},
      {"UPPER(FileName)", "1:NULL"},
      {"UPPER(Memo)", "3:MEMO TEXT"},
      {"SUBSTRING(Str FROM 2)", "1:bc"},
      {"SUBSTRING(Str FROM 2 FOR 1)", "1:b"},
      {"SUBSTRING(Str FROM 3 FOR 10)", "1:c"},
      {"SUBSTRING(Str FROM 10)", "1:"},
      {"SUBSTRING(FileName FROM 1)", "1:NULL"},
      {"REPLACE('b' WITH 'xx' IN Str)", "1:axxc"},
      {"REPLACE('a' WITH '' IN 'banana')", "1:bnn"},
      {"REPLACE('' WITH 'x' IN Str)", "1:abc"},
      {"POS('c' IN Str)", "6:3"},
      {"POS('z' IN Str)", "6:0"},
      {"POS('' IN Str)", "6:0"},
      {"OCCURS('a' IN 'banana')", "6:3"},
      {"OCCURS('aa' IN 'aaaa')", "6:2"},
      {"TRIM(LEADING '_' FROM '__a__')", "1:a__"},
      {"TRIM(TRAILING '_' FROM '__a__')", "1:__a"},
      {"TRIM(BOTH '_' FROM '__a__')", "1:a"},
      {"TRIM(BOTH ' ' FROM FileName)", "1:NULL"},
      {"EXTRACT(YEAR FROM Day)", "6:2024"},
      {"EXTRACT(MONTH FROM Day)", "6:2"},
      {"EXTRACT(DAY FROM Day)", "6:28"},
      {"EXTRACT(DAYOFWEEK FROM Day)", "6:4"},
      {"EXTRACT(DAYOFWEEK FROM (Day + 4))", "6:1"},  // Sunday is 1
      {"EXTRACT(HOUR FROM Stamp)", "6:12"},
      {"EXTRACT(MINUTE FROM (Clock + 90000))", "6:1"},
      {"EXTRACT(SECOND FROM (Clock + 90000))", "6:30"},
      {"EXTRACT(YEAR FROM Clock)", "6:0"},
      {"EXTRACT(YEAR FROM CAST(FileName AS DATE))", "6:0"},
      {"IF(Int = 7 THEN 'yes' ELSE 'no')", "1:yes"},
      {"IF(Real > 1 THEN 1 ELSE 2)", "6:2"},
      {"IF(Flag THEN NULL ELSE 2)", "6:NULL"},
      {"ABS(Small)", "5:3"},
      {"ABS(-2.5)", "7:2.5"},
      {"ABS(-Money)", "8:12.34"},
      {"ROUND(2.5)", "7:3"},
      {"ROUND(-2.5)", "7:-3"},
      {"ROUND(Money TO 1)", "7:12.3"},
      {"ROUND(1234.5678 TO 2)", "7:1234.57"},
      {"ROUND(2.345 TO 2)", "7:2.35"},  // decided on the decimal form
  };
  for (const ValueCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Eval(c.text, table), c.value) << c.text;
  }
  TestTable table = MakeRow();
  EXPECT_EQ(Eval("SUM(Int)", table, kPermitAggregates), "6:7");  // passed through
  EXPECT_EQ(Eval("COUNT(*)", table, kPermitAggregates), "6:1");
}

TEST(ExprEval, Casts) {
  const ValueCase cases[] = {
      {"CAST('12' AS INTEGER)", "6:12"},
      {"CAST(' 12 ' AS SMALLINT)", "5:12"},
      {"CAST('x' AS INTEGER)", "6:NULL"},  // a failed conversion is NULL
      {"CAST('70000' AS SMALLINT)", "5:NULL"},
      {"CAST('-1' AS WORD)", "12:NULL"},
      {"CAST(Int AS CHAR(1))", "1:7"},
      {"CAST('abcdef' AS CHAR(3))", "1:abc"},
      {"CAST(Day AS CHAR(10))", "1:2024-02-28"},
      {"CAST(Day AS VARCHAR(4))", "1:2024"},
      {"CAST(Flag AS CHAR(5))", "1:TRUE"},
      {"CAST(Money AS CHAR(10))", "1:12.34"},
      {"CAST(-Money AS CHAR(10))", "1:-12.34"},
      {"CAST(2.5 AS CHAR(10))", "1:2.5"},
      {"CAST('2024-02-30' AS DATE)", "2:NULL"},
      {"CAST('2024-02-29' AS DATE)", "2:2024-02-29"},
      {"CAST(Stamp AS DATE)", "2:2024-02-28"},
      {"CAST(Stamp AS TIME)", "10:12:00:00"},
      {"CAST(Day AS TIMESTAMP)", "11:2024-02-28"},
      {"CAST(Clock AS TIMESTAMP) - CAST(Clock AS TIMESTAMP)", "7:0"},
      {"CAST('2024-02-28 10:30:15' AS TIMESTAMP)", "11:2024-02-28 10:30:15"},
      {"CAST('10:30 PM' AS TIME)", "10:22:30:00"},
      {"CAST(Money AS INTEGER)", "6:12"},
      {"CAST(2.5 AS INTEGER)", "6:3"},
      {"CAST(3000000000.0 AS INTEGER)", "6:NULL"},
      {"CAST(Real AS INTEGER)", "6:NULL"},
      {"CAST('true' AS BOOLEAN)", "4:TRUE"},
      {"CAST('maybe' AS BOOLEAN)", "4:NULL"},
      {"CAST(Small AS BOOLEAN)", "4:TRUE"},
      {"CAST(Flag AS SMALLINT)", "5:1"},
      {"CAST('1.239' AS DECIMAL(10, 2))", "8:1.24"},
      {"CAST('-0.5' AS DECIMAL(10, 0))", "8:-1"},
      {"CAST(Int AS FLOAT)", "7:7"},
      {"CAST('1e3' AS FLOAT)", "7:1000"},
      {"CAST(Int AS BYTES(4))", "9:\x07"},
      {"CAST(Raw AS INTEGER)", "6:67305985"},  // the bytes 01 02 03 04
      {"CAST(Memo AS BLOB(0, 1))", "3:memo text"},
      {"CAST(NULL AS INTEGER)", "6:NULL"},
  };
  for (const ValueCase& c : cases) {
    TestTable table = MakeRow();
    EXPECT_EQ(Eval(c.text, table), c.value) << c.text;
  }
}

TEST(ExprEval, ColumnsWithoutARecord) {
  TestTable table = MakeAllTypesTable();
  EvaluationContext context;  // no reader
  ExpTree upper = Analyse("UPPER('Path')", &table);
  EXPECT_EQ(Show(*EvaluateExpression(*upper, context)), "1:PATH");  // the string as written
  ExpTree column = Analyse("UPPER(Str)", &table);
  ExpectError([&] { EvaluateExpression(*column, context); },
              "Internal error: Column 'Str' specified illegally");
  context.errorCode = kErrFilter;
  context.tableName = "Back";
  ExpectError([&] { EvaluateExpression(*column, context); },
              "Internal error: Column 'Str' specified illegally", kErrFilter, "Back");
}

TEST(ExprEval, ResultNodesGoBackToThePool) {
  TestTable table = MakeRow();
  ExpTree tree = Analyse("UPPER(Str || 'x') = 'ABCX' AND Int IN (1, 2, 7)", &table, true);
  EvaluationContext context;
  context.reader = &table;
  EXPECT_TRUE(EvaluateCondition(*tree, context));
  const std::size_t free = TExpTokenStack::Instance().FreeCount();
  for (int i = 0; i < 100; ++i) EvaluateCondition(*tree, context);
  EXPECT_EQ(TExpTokenStack::Instance().FreeCount(), free);
}

}  // namespace
