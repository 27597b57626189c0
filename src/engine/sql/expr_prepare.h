// Preparing an analysed condition for filtering record by record: a copy of
// the tree in which string comparisons become prepared string comparisons
// (partial and case-insensitive matching) and constants are converted once.
//
//  1. A comparison = or <> whose right operand is a string constant becomes a
//     prepared string comparison (class 3) when the constant ends with '*'
//     (and is not empty) or when the filter ignores case. It ignores case as
//     the filter does; its partial length is the constant's length minus one
//     when the constant ends with '*' and partial compare is on (the '*' is
//     then removed), else 0 (a '*' then stays part of the value).
//     FileName = 'abc*' thus matches every FileName that begins with abc; a
//     lone '*' leaves the empty string (not NULL), which no stored name
//     equals.
//  2. Any other comparison whose right operand is a constant (possibly
//     signed) gets that operand evaluated once and, unless it is NULL or a
//     string, converted to the left operand's type, size and scale, so that
//     records compare without conversion. A conversion that would change the
//     value (Int = 7.5 must not become Int = 8) is not made: the evaluated
//     constant stays as it is. The constants of IN and NOT IN lists and the
//     bounds of BETWEEN and NOT BETWEEN are converted the same way, each on
//     its own (Small IN (1, NULL) keeps its NULL), so that an index of the
//     column's type can answer them.
//  3. Every other node is copied with its operands prepared the same way.
#pragma once

#include "engine/values/collation.h"
#include "engine/values/expr_token.h"

namespace engine {

struct PrepareOptions {
  bool caseInsensitive = false;
  bool partialCompare = true;
  Collation collation;  // language of the format settings for conversions
};

ExpTree PrepareExpression(const TExpToken& tree, const PrepareOptions& options);

}  // namespace engine
