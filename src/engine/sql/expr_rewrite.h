// Rewrites of analysed expression trees that the filters and the query
// conditions share.
//
// TurnComparisonAround: when a tree, below any NOT and signs, is a single
// comparison (= <> < > <= >=) whose left operand holds no column reference
// and whose right operand holds one, the operands are swapped and the
// operator mirrored (< with >, <= with >=; = and <> stay), so that the column
// is on the left where the index and the prepared comparisons look for it:
// 5 < Int becomes Int > 5. Comparisons inside AND and OR are left as written.
#pragma once

#include "engine/values/expr_token.h"

namespace engine {

// True when the tree holds a column reference anywhere.
bool ContainsColumn(const TExpToken& node);

// Returns whether the comparison was turned around.
bool TurnComparisonAround(TExpToken& root);

}  // namespace engine
