// Turning a filter's single comparison around so that the column is on the
// left.
#include <gtest/gtest.h>

#include "engine/sql/expr_rewrite.h"
#include "expr_test_util.h"

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
