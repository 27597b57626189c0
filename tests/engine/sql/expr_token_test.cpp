// Token nodes and their pool: reset on reuse, large value buffers given
// back, fixed-size values read safely, deep copies of trees.
#include <gtest/gtest.h>

#include "engine/sql/expr_test_util.h"

namespace {

using namespace engine;
using expr_test::Dump;
using expr_test::Parse;

TEST(ExprToken, PooledNodesComeBackEmptyWithASmallBuffer) {
  TExpTokenStack& pool = TExpTokenStack::Instance();
  TExpToken* node = pool.Take();
  node->text = "x";
  node->tokenClass = kClassColumn;
  node->isNull = true;
  node->SetString(std::string(1000, 'a'));
  pool.Give(node);
  TExpToken* again = pool.Take();  // the pool hands out its most recent node
  EXPECT_EQ(again, node);
  EXPECT_TRUE(again->text.empty());
  EXPECT_EQ(again->tokenClass, 0);
  EXPECT_FALSE(again->isNull);
  EXPECT_TRUE(again->value.empty());
  EXPECT_GE(again->value.capacity(), kInitialValueCapacity);
  EXPECT_LT(again->value.capacity(), 1000u);
  pool.Give(again);
}

TEST(ExprToken, ShortValuesReadAsZeroBytes) {
  ExpTree node = NewToken();
  const std::uint8_t one[1] = {0x7F};
  node->SetBytes(one, 1);
  EXPECT_EQ(node->AsInt32(), 0x7F);
  EXPECT_EQ(node->AsInt64(), 0x7F);  // the missing bytes read as zeros
  node->SetString("ab");
  EXPECT_EQ(node->AsString(), "ab");
  EXPECT_EQ(node->value.size(), 3u);  // the terminator is stored
}

TEST(ExprToken, CopyTreeIsDeepWithItsOwnParents) {
  ExpTree original = Parse("UPPER(a) = 'x' OR b IN (1, 2, 3)");
  ExpTree copy = CopyTree(*original);
  EXPECT_EQ(Dump(*copy), Dump(*original));
  EXPECT_NE(copy->left, original->left);
  EXPECT_EQ(copy->left->parent, copy.get());
  const TExpToken& in = *copy->right;
  for (const TExpToken* item = in.right; item; item = item->next) {
    EXPECT_EQ(item->parent, &in);
  }
  original.reset();
  EXPECT_EQ(Dump(*copy), "(OR (= (UPPER a) 'x') (IN b 1 2 3))");
}

}  // namespace
