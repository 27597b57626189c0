// Helpers of the statement parser tests (see statement_test_util.h).
#include "engine/sql/statement_test_util.h"

#include <vector>

namespace statement_test {

using namespace engine;
using expr_test::Dump;

namespace {

std::string Qualified(const std::string& correlation, const std::string& column) {
  return correlation.empty() ? column : correlation + "." + column;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

constexpr const char* kAggregateNames[] = {"", "SUM", "MIN", "MAX", "AVG", "COUNT"};

std::string Column(const TResultField& f) {
  std::string out;
  if (f.aggregate != kAggregateNone) {
    out = kAggregateNames[f.aggregate];
    out += f.isExpression ? "{" + f.expressionText + "}"
                          : "(" + Qualified(f.correlationName, f.columnName) + ")";
  } else if (f.isExpression) {
    out = "{" + f.expressionText + "}";
  } else {
    out = Qualified(f.correlationName, f.columnName);
  }
  if (f.aliasGiven) out += " AS " + f.resultName;
  return out;
}

std::string Item(const std::string& correlation, const std::string& column, int number) {
  return number != 0 ? std::to_string(number) : Qualified(correlation, column);
}

}  // namespace

std::string Describe(const TDataQuery& q) {
  std::vector<std::string> parts;
  std::vector<std::string> items;
  for (const TResultField& f : q.resultFields) items.push_back(Column(f));
  if (!items.empty()) parts.push_back("cols: " + Join(items));
  if (!q.resultTableName.empty() && q.statementKind == kStatementSelect) {
    parts.push_back(std::string("into: ") + (q.inMemoryResult ? "MEMORY " : "") +
                    q.resultTableName);
  }
  items.clear();
  for (const auto& t : q.sourceTables) {
    items.push_back(t->tableName + "@" + t->directory + " AS " + t->correlationName + " #" +
                    std::to_string(t->ordinal) + (t->memory ? " MEMORY" : ""));
  }
  if (!items.empty()) parts.push_back("from: " + Join(items));
  if (q.where) parts.push_back("where: " + Dump(*q.where));
  items.clear();
  for (const TGroupByField& g : q.groupBy) {
    items.push_back(Item(g.correlationName, g.columnName, g.columnNumber));
  }
  if (!items.empty()) parts.push_back("group: " + Join(items));
  if (q.having) parts.push_back("having: " + Dump(*q.having));
  items.clear();
  for (const TOrderByField& o : q.orderBy) {
    items.push_back(Item(o.correlationName, o.columnName, o.columnNumber) +
                    (o.direction == kOrderDescending ? " DESC" : ""));
  }
  if (!items.empty()) parts.push_back("order: " + Join(items));
  items.clear();
  for (const TUpdateField& t : q.targetFields) {
    items.push_back(Qualified(t.correlationName, t.columnName));
  }
  if (!items.empty()) parts.push_back("targets: " + Join(items));
  items.clear();
  for (const TUpdateValue& v : q.values) items.push_back(Dump(*v.expression));
  if (!items.empty()) parts.push_back("values: " + Join(items));

  const std::pair<bool, const char*> flags[] = {
      {q.distinct, "distinct"},
      {q.severalTables, "several"},
      {q.hasWhere, "where"},
      {q.hasGroupBy, "group"},
      {q.hasHaving, "having"},
      {q.hasOrderBy, "order"},
      {q.orderByNoCase, "nocase"},
      {q.withLocks, "locks"},
      {q.noJoinOptimize, "nojoinoptimize"},
      {q.noAutoInc, "noautoinc"},
      {q.hasComputedColumns, "computed"},
      {q.hasAvg, "avg"},
      {q.insertFromSelect, "insertselect"},
      {q.RequestLive, "live"},
      {q.encrypted, "encrypted"},
      {q.commitIntervalGiven, "commit"},
  };
  items.clear();
  for (const auto& [on, name] : flags) {
    if (on) items.push_back(name);
  }
  if (!items.empty()) parts.push_back("flags: " + Join(items));
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : "; ") + part;
  return out;
}

}  // namespace statement_test
