// The SELECT grammar, for statements, sub-selects and INSERT ... SELECT.
//
//   SELECT [ALL] [DISTINCT] column [[AS] alias] {, ...}
//     [INTO [MEMORY] name]
//     FROM [MEMORY] table [[AS] correlation] {join} {, table ... {join}}
//     [WHERE condition] [GROUP BY item {, item}] [HAVING condition]
//     [ORDER BY item [ASC|ASCENDING|DESC|DESCENDING] {, ...} [NOCASE]]
//     [WITH LOCKS] [LANGUAGE name [SORT name]] [ENCRYPTED WITH password]
//     [NOJOINOPTIMIZE]
//   join := ([INNER] JOIN | LEFT [OUTER] JOIN | RIGHT [OUTER] JOIN)
//           [MEMORY] table [[AS] correlation] ON condition
//   item := column | correlation.column | column number
//
// Each ON condition is marked (every node through NOT, AND and OR down to
// each predicate) and ANDed into the WHERE tree, its column-to-column
// comparisons carrying the join kind; a RIGHT JOIN's table goes to the front
// of the source tables. The clauses after FROM come only in this order.
#include <charconv>
#include <limits>
#include <vector>

#include "engine/files/table_names.h"
#include "engine/sql/statement_parser.h"

namespace engine {

namespace {

// Symbols that end a source table instead of naming its correlation.
// LANGUAGE, NOJOINOPTIMIZE and FULL are among them so that these clauses are
// not silently read as a correlation name.
constexpr std::string_view kSourceTableStops[] = {
    "LEFT",   "RIGHT", "INNER",     "JOIN",     "WHERE",          "ORDER", "GROUP",
    "HAVING", "WITH",  "ENCRYPTED", "LANGUAGE", "NOJOINOPTIMIZE", "FULL"};
// Further stops in the SELECT of an INSERT ... SELECT.
constexpr std::string_view kInsertSelectStops[] = {"NOAUTOINC", "COMMIT"};

struct AggregateKind {
  int code;
  int kind;
};
constexpr AggregateKind kAggregateKinds[] = {
    {kFnSum, kAggregateSum}, {kFnMin, kAggregateMin},     {kFnMax, kAggregateMax},
    {kFnAvg, kAggregateAvg}, {kFnCount, kAggregateCount},
};

// Whether any node of the tree (IN lists included) satisfies `test`. Walks
// with its own stack: lists can be long.
template <typename Test>
bool AnyNode(const TExpToken* root, Test test) {
  std::vector<const TExpToken*> pending;
  if (root) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (test(*node)) return true;
    for (const TExpToken* child : {node->left, node->right, node->third, node->next}) {
      if (child) pending.push_back(child);
    }
  }
  return false;
}

bool ContainsColumn(const TExpToken* node) {
  return AnyNode(node, [](const TExpToken& n) { return n.tokenClass == kClassColumn; });
}

bool ContainsAggregate(const TExpToken* node) {
  return AnyNode(node, [](const TExpToken& n) {
    return n.tokenClass == kClassFunction && IsAggregateCode(n.code);
  });
}

bool IsLogical(const TExpToken& node) {
  return (node.tokenClass == kClassBinary && (node.code == kOpAnd || node.code == kOpOr)) ||
         (node.tokenClass == kClassUnary && node.code == kOpNot);
}

// Marks an ON condition: every node through NOT, AND and OR down to each
// predicate, and each comparison of two column-bearing operands gets the
// join kind.
void MarkOnClause(TExpToken& node, int joinKind) {
  node.onClause = true;
  if (IsLogical(node)) {
    if (node.left) MarkOnClause(*node.left, joinKind);
    if (node.right) MarkOnClause(*node.right, joinKind);
    return;
  }
  if (node.tokenClass == kClassBinary && IsComparisonCode(node.code) && ContainsColumn(node.left) &&
      ContainsColumn(node.right)) {
    node.joinKind = joinKind;
  }
}

void AndInto(ExpTree& where, ExpTree condition) {
  if (!where) {
    where = std::move(condition);
    return;
  }
  ExpTree node = NewToken();
  node->tokenClass = kClassBinary;
  node->code = kOpAnd;
  node->text = "AND";
  where->parent = node.get();
  condition->parent = node.get();
  node->left = where.release();
  node->right = condition.release();
  where = std::move(node);
}

std::string CorrelationOf(std::string_view text) {
  return SplitTableName(text, false, {}).correlationName;
}

int ColumnNumber(const std::string& digits) {
  std::int64_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return static_cast<int>(std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void TStatementParser::ParseSelect(TDataQuery& query, bool insertSelect) {
  query.statementKind = kStatementSelect;
  Next();  // SELECT
  Accept("ALL");
  query.distinct = Accept("DISTINCT");
  for (;;) {
    ParseResultColumn(query);
    if (!IsKind(',')) break;
    Next();
  }
  if (Accept("INTO")) {
    if (Accept("MEMORY")) {
      query.inMemoryResult = true;
      query.resultTableName =
          ReadName("Result table name expected in INTO MEMORY clause, instead found '");
    } else {
      query.resultTableName =
          ReadName("Result table name expected in INTO clause, instead found '");
    }
    query.RequestLive = false;
  }
  Expect("FROM", "FROM keyword expected, instead found '");
  for (;;) {
    ParseSourceTable(query, insertSelect);
    if (!IsKind(',')) break;
    query.severalTables = true;
    Next();
  }
  if (Accept("WHERE")) {
    ExpTree condition = Expression(kPermitWhere, "WHERE or JOIN clause");
    if (!condition) Fail("WHERE or JOIN clause is empty");
    AndInto(query.where, std::move(condition));
    query.hasWhere = true;
  }
  if (Accept("GROUP")) {
    Expect("BY", "BY keyword expected after GROUP keyword, instead found '");
    ParseColumnItems(query, false);
    query.hasGroupBy = true;
  }
  if (Accept("HAVING")) {
    query.having = Expression(kPermitHaving, "HAVING clause");
    if (!query.having) Fail("HAVING clause is empty");
    query.hasHaving = true;
  }
  if (Accept("ORDER")) {
    Expect("BY", "BY keyword expected after ORDER keyword, instead found '");
    ParseColumnItems(query, true);
    query.orderByNoCase = Accept("NOCASE");
    query.hasOrderBy = true;
  }
  if (Accept("WITH")) {
    Expect("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    query.withLocks = true;
  }
  ParseLanguage(query);
  ParseEncrypted(query);
  query.noJoinOptimize = Accept("NOJOINOPTIMIZE");
  if (!query.isSubQuery) ExpectEnd("SELECT");
}

void TStatementParser::ParseResultColumn(TDataQuery& query) {
  TResultField field;
  field.expression = Expression(kPermitResultColumn, "source column expression");
  if (!field.expression) Fail("Source column expression is empty");
  const std::string text = p_.ExpressionText().substr(0, kMaxExpressionTextLength);

  std::string alias;
  bool aliasGiven = false;
  if (IsKeyword("AS")) {
    Next();
    if (!AtNameOrBracket()) {
      FailAtToken("Symbol or string expected after AS keyword, instead found '");
    }
    aliasGiven = true;
  } else if (AtNameOrBracket() && !IsKeyword("INTO") && !IsKeyword("FROM")) {
    aliasGiven = true;
  }
  if (aliasGiven) {
    alias = p_.TokenText();
    Next();
    if (IsKind('.')) {
      Next();
      if (!AtNameOrBracket()) {
        FailAtToken("Symbol or string expected after table correlation name, instead found '");
      }
      alias = p_.TokenText();
      Next();
    }
  }

  const TExpToken& root = *field.expression;
  if (root.tokenClass == kClassColumn) {
    field.columnName = root.columnName;
    field.correlationName = root.correlationName;
    field.resultName = root.columnName;
  } else if (root.tokenClass == kClassFunction && IsAggregateCode(root.code)) {
    for (const AggregateKind& a : kAggregateKinds) {
      if (a.code == root.code) field.aggregate = a.kind;
    }
    if (ContainsAggregate(root.left)) Fail("Aggregate functions cannot be nested");
    if (root.left != nullptr && root.left->tokenClass == kClassColumn) {
      field.columnName = root.left->columnName;
      field.correlationName = root.left->correlationName;
    } else {
      field.isExpression = true;
      field.expressionText = text;
      query.hasComputedColumns = true;
    }
    if (field.aggregate == kAggregateAvg) query.hasAvg = true;
  } else {
    if (ContainsAggregate(&root)) Fail("Aggregate functions cannot be used within expressions");
    field.isExpression = true;
    field.expressionText = text;
    query.hasComputedColumns = true;
  }
  if (aliasGiven) {
    field.aliasGiven = true;
    field.resultName = alias.substr(0, kMaxStatementName);
  }
  query.resultFields.push_back(std::move(field));
}

void TStatementParser::ParseSourceTable(TDataQuery& query, bool insertSelect) {
  TSourceTable& table =
      ReadSourceTable(query, "Table name expected after FROM keyword, instead found '");
  if (IsKeyword("AS")) {
    table.correlationName = ReadAsName();
  } else if (AtName()) {
    bool stop = false;
    for (std::string_view k : kSourceTableStops) stop = stop || IsKeyword(k);
    if (insertSelect) {
      for (std::string_view k : kInsertSelectStops) stop = stop || IsKeyword(k);
    }
    if (!stop) {
      table.correlationName = p_.TokenText().substr(0, kMaxStatementName);
      Next();
    }
  }
  CheckDuplicateCorrelation(query, table);
  for (;;) {
    int kind = kJoinNone;
    if (Accept("JOIN")) {
      kind = kJoinInner;
    } else if (Accept("INNER")) {
      Expect("JOIN", "JOIN keyword expected after INNER keyword, instead found '");
      kind = kJoinInner;
    } else if (Accept("LEFT")) {
      Accept("OUTER");
      Expect("JOIN", "JOIN keyword expected after LEFT or OUTER keyword, instead found '");
      kind = kJoinLeft;
    } else if (Accept("RIGHT")) {
      Accept("OUTER");
      Expect("JOIN", "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
      kind = kJoinRight;
    } else if (IsKeyword("FULL")) {
      Fail("Full outer joins are currently not supported in ZORVAD SQL SELECT statements");
    } else {
      return;
    }
    ParseJoin(query, kind);
  }
}

void TStatementParser::ParseJoin(TDataQuery& query, int joinKind) {
  TSourceTable& table =
      ReadSourceTable(query, "Table name expected after JOIN keyword, instead found '");
  if (IsKeyword("AS")) {
    table.correlationName = ReadAsName();
  } else if (AtName() && !IsKeyword("ON")) {
    table.correlationName = p_.TokenText().substr(0, kMaxStatementName);
    Next();
  }
  CheckDuplicateCorrelation(query, table);
  if (joinKind == kJoinRight) {
    auto& tables = query.sourceTables;
    std::rotate(tables.begin(), tables.end() - 1, tables.end());
  }
  Expect("ON", "ON keyword expected in JOIN clause, instead found '");
  ExpTree condition = Expression(kPermitJoinCondition, "WHERE or JOIN clause");
  if (!condition) Fail("WHERE or JOIN clause is empty");
  MarkOnClause(*condition, joinKind);
  AndInto(query.where, std::move(condition));
  query.severalTables = true;
  query.hasWhere = true;
}

void TStatementParser::ParseColumnItems(TDataQuery& query, bool orderBy) {
  const std::string_view message =
      orderBy ? "Column name or column number expected in ORDER BY clause, instead found '"
              : "Column name or column number expected in GROUP BY clause, instead found '";
  for (;;) {
    std::string column;
    std::string correlation;
    int number = 0;
    if (AtNameOrBracket()) {
      column = p_.TokenText();
      Next();
      if (IsKind('.')) {
        Next();
        if (!AtNameOrBracket()) FailAtToken(message);
        correlation = CorrelationOf(column);
        column = p_.TokenText();
        Next();
      }
    } else if (IsKind(kTokenInteger)) {
      number = ColumnNumber(p_.TokenText());
      Next();
    } else {
      FailAtToken(message);
    }
    column = column.substr(0, kMaxStatementName);
    if (orderBy) {
      TOrderByField item{column, correlation, number, kOrderAscending};
      if (Accept("ASC") || Accept("ASCENDING")) {
        item.direction = kOrderAscending;
      } else if (Accept("DESC") || Accept("DESCENDING")) {
        item.direction = kOrderDescending;
      }
      query.orderBy.push_back(std::move(item));
    } else {
      query.groupBy.push_back(TGroupByField{column, correlation, number});
    }
    if (!IsKind(',')) return;
    Next();
  }
}

}  // namespace engine
