// Type analysis of expression trees: resolves column names, checks operand
// types against the compatibility table of each operator, derives every
// node's data type, subtype, size and scale, and rewrites what a condition
// needs (expr_analysis.cpp describes the rules).
//
// Invariants after a successful analysis:
//  - every column reference is resolved (field number, source table, type);
//  - every node carries its result type; comparisons and predicates are
//    BOOLEAN; an untyped NULL constant keeps type 0;
//  - string constants compared with DATE, TIME or TIMESTAMP values hold the
//    converted value of that type;
//  - in a condition, a BOOLEAN column, IF or CAST directly under NOT, AND, OR
//    or at the root has become "operand = TRUE".
// A failed analysis raises an engine error with the caller's code and leaves
// the tree as far as it was typed; the caller frees it. Like the parse, the
// analysis reads date and time strings under the current format settings, so
// callers run both inside a FormatSettingsScope of the session's language.
#pragma once

#include <string>

#include "engine/errors.h"
#include "engine/storage/field_defs.h"
#include "engine/values/expr_token.h"

namespace engine {

// Resolves column references for the analysis. An implementation fills in
// the node's fieldNo, sourceTable, dataType, subType, size and scale from the
// column named by columnName (and correlationName, when not empty) and leaves
// every other member alone.
class ColumnResolver {
 public:
  virtual ~ColumnResolver() = default;
  // False when there is no such column.
  virtual bool ResolveColumn(TExpToken& node) = 0;
  // The number of result columns of a sub-select node; with exactly one, the
  // node takes that column's type. The statement layer overrides this.
  virtual int ResolveSubSelect(TExpToken& node);
};

// Resolves names against a table's field definitions, ignoring case. A
// correlation name, when given, must equal `tableName` ignoring case.
class FieldListResolver : public ColumnResolver {
 public:
  FieldListResolver(const TFieldDefinitions& fields, std::string tableName = {})
      : fields_(fields), tableName_(std::move(tableName)) {}
  bool ResolveColumn(TExpToken& node) override;

 private:
  const TFieldDefinitions& fields_;
  std::string tableName_;
};

struct AnalysisContext {
  int errorCode = kErrSql;  // or kErrFilter (10051) for filters
  std::string tableName;    // named by 10051 messages
  std::string contextName;  // ends every message: " in " + contextName
  bool condition = false;   // WHERE, JOIN, HAVING and filter conditions
  ColumnResolver* resolver = nullptr;
};

// Analyses `tree` in place; the root may be replaced (condition rewrite).
void AnalyseExpression(const AnalysisContext& context, ExpTree& tree);

}  // namespace engine
