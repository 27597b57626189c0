// Rewrites for filtering: turning a single comparison around so that the
// column is on the left, and preparing string comparisons and constants.
#include <gtest/gtest.h>

#include "engine/sql/expr_prepare.h"
#include "engine/sql/expr_rewrite.h"
#include "engine/sql/expr_test_util.h"

namespace {

using namespace engine;
using expr_test::Analyse;
using expr_test::Dump;
using expr_test::MakeAllTypesTable;
using expr_test::TestTable;

TEST(ExprRewrite, SingleComparisonWithTheColumnOnTheRightTurnsAround) {
  const struct {
    const char* text;
    const char* tree;
    int code;
  } cases[] = {
      {"5 < Int", "(> Int 5)", kOpGreater},
      {"5 > Int", "(< Int 5)", kOpLess},
      {"5 <= Int", "(>= Int 5)", kOpGreaterEqual},
      {"5 >= Int", "(<= Int 5)", kOpLessEqual},
      {"'x' = Str", "(= Str 'x')", kOpEqual},
      {"'x' <> UPPER(Str)", "(<> (UPPER Str) 'x')", kOpNotEqual},
      {"NOT 5 < Int", "(NOT (> Int 5))", kOpNot},
      {"Int = 5", "(= Int 5)", kOpEqual},                            // already in order
      {"1 = 1", "(= 1 1)", kOpEqual},                                // no column
      {"Small < Int", "(< Small Int)", kOpLess},                     // columns on both sides
      {"1 < Int AND 2 > Int", "(AND (< 1 Int) (> 2 Int))", kOpAnd},  // inside AND
      {"Int IN (1, 2)", "(IN Int 1 2)", kOpInList},
  };
  for (const auto& c : cases) {
    TestTable table = MakeAllTypesTable();
    ExpTree tree = Analyse(c.text, &table, true);
    TurnComparisonAround(*tree);
    EXPECT_EQ(Dump(*tree), c.tree) << c.text;
    EXPECT_EQ(tree->code, c.code) << c.text;
  }
}

}  // namespace

namespace {

using namespace engine;
using engine::PrepareExpression;
using engine::PrepareOptions;
using expr_test::Analyse;
using expr_test::MakeAllTypesTable;
using expr_test::TestTable;

struct Row {
  const char* fileName;  // nullptr for NULL
  int number;
  bool holds;
};

// Prepares `text` under `options` and evaluates it against each row.
void ExpectPrepared(const char* text, const PrepareOptions& options,
                    std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    TestTable table = MakeAllTypesTable();
    ExpTree analysed = Analyse(text, &table, true);
    ExpTree prepared = PrepareExpression(*analysed, options);
    if (row.fileName) {
      table.Value("FileName").SetString(row.fileName);
    } else {
      table.SetNull("FileName");
    }
    table.Value("Int").SetInt32(row.number);
    table.Value("Small").SetInt16(static_cast<std::int16_t>(row.number));
    table.Value("Money").SetInt64(row.number * 1000 + 2);  // number.00
    EvaluationContext context;
    context.reader = &table;
    EXPECT_EQ(EvaluateCondition(*prepared, context), row.holds)
        << text << " with " << (row.fileName ? row.fileName : "NULL") << ", " << row.number;
  }
}

TEST(ExprPrepare, StringComparisonsBecomePartialOrCaseInsensitive) {
  PrepareOptions plain;
  PrepareOptions noPartial;
  noPartial.partialCompare = false;
  PrepareOptions ignoreCase;
  ignoreCase.caseInsensitive = true;

  TestTable table = MakeAllTypesTable();
  ExpTree prepared = PrepareExpression(*Analyse("FileName = 'abc*'", &table, true), plain);
  EXPECT_EQ(prepared->tokenClass, kClassStringCompare);
  EXPECT_EQ(prepared->partialLength, 3);
  EXPECT_EQ(prepared->right->AsString(), "abc");
  prepared = PrepareExpression(*Analyse("FileName = 'abc'", &table, true), plain);
  EXPECT_EQ(prepared->tokenClass, kClassBinary);  // nothing to prepare

  ExpectPrepared("FileName = 'abc*'", plain,
                 {{"abcdef", 0, true},
                  {"abc", 0, true},
                  {"abxdef", 0, false},
                  {"ab", 0, false},
                  {nullptr, 0, false}});
  ExpectPrepared("FileName <> 'abc*'", plain,
                 {{"abcdef", 0, false}, {"ab", 0, true}, {nullptr, 0, true}});
  ExpectPrepared("FileName = 'abc*'", noPartial, {{"abc*", 0, true}, {"abcdef", 0, false}});
  ExpectPrepared("FileName = 'ABC'", ignoreCase,
                 {{"abc", 0, true}, {"Abc", 0, true}, {"abd", 0, false}, {"abcd", 0, false}});
  ExpectPrepared("FileName = ''", ignoreCase, {{nullptr, 0, true}, {"a", 0, false}});
  ExpectPrepared("Int = 1 AND UPPER(FileName) <> 'AB*'", plain,
                 {{"abc", 1, false}, {"xbc", 1, true}, {"xbc", 2, false}});
}

TEST(ExprPrepare, ConstantsAreConvertedOnlyWhenTheValueStays) {
  PrepareOptions options;
  TestTable table = MakeAllTypesTable();
  ExpTree prepared = PrepareExpression(*Analyse("Small = 3", &table, true), options);
  EXPECT_EQ(prepared->right->dataType, kFieldInt16);
  EXPECT_EQ(prepared->right->AsInt16(), 3);
  prepared = PrepareExpression(*Analyse("Money = 12.5", &table, true), options);
  EXPECT_EQ(prepared->right->dataType, kFieldBcd);
  EXPECT_EQ(prepared->right->AsInt64(), 12502);
  prepared = PrepareExpression(*Analyse("Int = -3", &table, true), options);
  EXPECT_EQ(prepared->right->tokenClass, kClassConstant);
  EXPECT_EQ(prepared->right->AsInt32(), -3);
  prepared = PrepareExpression(*Analyse("Int = 7.5", &table, true), options);
  EXPECT_EQ(prepared->right->dataType, kFieldFloat);  // 8 would change the comparison

  ExpectPrepared("Int = 7.5", options, {{"a", 7, false}, {"a", 8, false}});
  ExpectPrepared("Int > 7.5", options, {{"a", 7, false}, {"a", 8, true}});
  ExpectPrepared("Small <= 3.0", options, {{"a", 3, true}, {"a", 4, false}});
  ExpectPrepared("NOT Money < 2", options, {{"a", 1, false}, {"a", 2, true}});
  ExpectPrepared("Int IN (1, 2) OR Int = 3000000000.0", options, {{"a", 2, true}, {"a", 5, false}});
}

}  // namespace
