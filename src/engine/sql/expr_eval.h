// Evaluation of analysed expression trees against one record at a time.
//
// Each call produces a new node (from the pool) holding the value, its type
// and its NULL flag; the caller owns it (ExpTree). The rules:
//  - = is true for two NULLs and false for one; <> the reverse. <, >, <=, >=
//    with a NULL operand are false, except that strings and memos order a NULL
//    as the empty string ('' is the NULL string constant).
//  - AND evaluates its right operand first and the left only when the right
//    is true; OR evaluates the left only when the right is false. A NULL
//    operand counts as false there.
//  - Arithmetic with a NULL operand is NULL, except string concatenation,
//    which reads NULL as empty (two NULLs give NULL); division by zero is
//    NULL; a DATE or TIMESTAMP result outside the years 1..9999 is NULL.
//    INTEGER, SMALLINT and WORD results never wrap: a sum, difference,
//    product, sign or ABS whose exact value lies outside its type comes back
//    as a FLOAT holding that value (exact up to 2^53), so 2147483647 + 1 > 0
//    and a WORD 0 - 2 is -2; callers that store such a result into a column
//    of the integer type convert it and find it does not fit. TIME
//    arithmetic wraps around midnight. DATE - DATE and TIMESTAMP - DATE count
//    days; TIME - TIME and TIMESTAMP - TIME count milliseconds (of the time of
//    day); TIMESTAMP - TIMESTAMP is a FLOAT number of days.
//  - LIKE with a NULL operand is false (NOT LIKE true); % matches any run, _
//    one character, others match under the collation's character comparison.
//  - Strings compare under the context's collation (collation.h).
//  - A CAST whose conversion fails is NULL; SUBSTRING from beyond the end is
//    the empty string; EXTRACT of NULL is 0; POS and OCCURS of an empty search
//    string are 0.
//  - Aggregates pass their argument's value through (COUNT(*) gives 1); the
//    statement layer accumulates them.
// Evaluation does not hold the format lock (the column reader may take table
// locks); a CAST takes it, with the settings of the context's collation
// language, only around its conversion.
#pragma once

#include <string>

#include "engine/errors.h"
#include "engine/values/collation.h"
#include "engine/values/expr_token.h"

namespace engine {

// Reads column values of the current record.
class ColumnReader {
 public:
  virtual ~ColumnReader() = default;
  // Fills `value`'s value buffer and NULL flag for the column node `column`
  // (field number, source table); `value` already carries the column's type.
  // A BLOB column is read whole.
  virtual void ReadColumn(const TExpToken& column, TExpToken& value) = 0;
};

// Answers IN with a sub-select: whether the sub-query has a row whose column
// equals `value` (under the rules of =).
class SubQueryEvaluator {
 public:
  virtual ~SubQueryEvaluator() = default;
  virtual bool SubSelectContains(const TExpToken& subSelect, const TExpToken& value) = 0;
};

struct EvaluationContext {
  ColumnReader* reader = nullptr;  // none: columns written as strings give that string
  SubQueryEvaluator* subQueries = nullptr;
  Collation collation;
  int errorCode = kErrSql;  // for "Internal error: Column ...", or kErrFilter
  std::string tableName;
};

ExpTree EvaluateExpression(const TExpToken& tree, const EvaluationContext& context);

// True when the tree evaluates to a BOOLEAN true (false for false or NULL).
bool EvaluateCondition(const TExpToken& tree, const EvaluationContext& context);

// The LIKE match of `text` against `pattern`.
bool MatchesLike(std::string_view text, std::string_view pattern, const Collation& collation);

}  // namespace engine
