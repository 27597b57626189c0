// The grammars of INSERT, UPDATE and DELETE.
//
//   INSERT INTO [MEMORY] table [correlation] [( column {, column} )]
//     ( VALUES ( value {, value} ) | select )
//     [NOAUTOINC] [COMMIT INTERVAL n]
//   UPDATE [MEMORY] table [[AS] correlation] SET column = value {, ...}
//     [WHERE condition] [NOAUTOINC] [COMMIT INTERVAL n]
//   DELETE FROM [MEMORY] table [[AS] correlation] [WHERE condition]
//     [NOJOINOPTIMIZE] [COMMIT INTERVAL n]
//
// The table is the block's one source table. INSERT without a column list
// has the single target column "*" (every column of the table, in order).
// All three ask for a live cursor on their table (RequestLive).
#include "engine/sql/statement_parser.h"

namespace engine {

namespace {

constexpr std::string_view kDeleteCorrelationStops[] = {"WHERE", "NOJOINOPTIMIZE", "COMMIT"};

}  // namespace

void TStatementParser::ParseInsert(TDataQuery& query) {
  query.statementKind = kStatementInsert;
  query.RequestLive = true;
  Next();  // INSERT
  Expect("INTO", "INTO keyword expected, instead found '");
  if (!AtName()) FailAtToken("Table name expected after INTO clause, instead found '");
  TSourceTable& table =
      ReadSourceTable(query, "Table name expected after INTO keyword, instead found '");
  // No AS form here: any other name is the correlation name.
  if (AtName() && !IsKeyword("VALUES") && !IsKeyword("SELECT")) {
    table.correlationName = p_.TokenText().substr(0, kMaxStatementName);
    Next();
  }

  if (IsKind('(')) {
    Next();
    for (;;) {
      TUpdateField target;
      target.expression = Expression(0, "table column");
      if (!target.expression) Fail("Table column name is empty");
      StringToColumn(*target.expression);
      target.columnName = ColumnNameOf(*target.expression);
      target.correlationName = target.expression->correlationName;
      if (target.columnName.empty()) Fail("Table column name is empty");
      query.targetFields.push_back(std::move(target));
      if (!IsKind(',')) break;
      Next();
    }
    ExpectChar(')', "Right parentheses expected after list of table columns, instead found '");
  } else {
    TUpdateField all;
    all.columnName = "*";
    all.expression = NewToken();
    all.expression->tokenClass = kClassColumn;
    all.expression->text = "*";
    all.expression->columnName = "*";
    query.targetFields.push_back(std::move(all));
  }

  if (Accept("VALUES")) {
    ExpectChar('(', "Left parentheses expected after VALUES keyword, instead found '");
    for (;;) {
      TUpdateValue value;
      value.expression = Expression(kPermitValue, "value expression");
      if (!value.expression) Fail("Value expression is empty");
      value.expressionText = p_.ExpressionText().substr(0, kMaxExpressionTextLength);
      query.values.push_back(std::move(value));
      if (!IsKind(',')) break;
      Next();
    }
    ExpectChar(')', "Right parentheses expected after list of values, instead found '");
  } else if (IsKeyword("SELECT")) {
    query.insertFromSelect = true;
    ParseSelect(NewSubQuery(), true);
  } else {
    FailAtToken("VALUES or SELECT  keyword expected, instead found '");
  }
  query.noAutoInc = Accept("NOAUTOINC");
  ParseCommitInterval(query);
  ExpectEnd("INSERT");
}

void TStatementParser::ParseUpdate(TDataQuery& query) {
  query.statementKind = kStatementUpdate;
  query.RequestLive = true;
  Next();  // UPDATE
  if (!AtName()) FailAtToken("Table name expected, instead found '");
  TSourceTable& table = ReadSourceTable(query, "Table name expected, instead found '");
  if (IsKeyword("AS")) {
    table.correlationName = ReadAsName();
  } else if (AtName() && !IsKeyword("SET")) {
    table.correlationName = p_.TokenText().substr(0, kMaxStatementName);
    Next();
  }
  Expect("SET", "SET keyword expected, instead found '");
  for (;;) {
    TUpdateField target;
    target.expression = ColumnReference("table column", "Table column name is empty");
    target.columnName = ColumnNameOf(*target.expression);
    target.correlationName = target.expression->correlationName;
    ExpectChar('=', "Assignment (=) operator expected after column name, instead found '");
    TUpdateValue value;
    value.expression = Expression(kPermitValue, "value expression");
    if (!value.expression) Fail("Value expression is empty");
    value.expressionText = p_.ExpressionText().substr(0, kMaxExpressionTextLength);
    query.targetFields.push_back(std::move(target));
    query.values.push_back(std::move(value));
    if (!IsKind(',')) break;
    Next();
  }
  if (Accept("WHERE")) {
    query.where = Expression(kPermitWhere, "WHERE or JOIN clause");
    if (!query.where) Fail("WHERE or JOIN clause is empty");
    query.hasWhere = true;
  }
  query.noAutoInc = Accept("NOAUTOINC");
  ParseCommitInterval(query);
  ExpectEnd("UPDATE");
}

void TStatementParser::ParseDelete(TDataQuery& query) {
  query.statementKind = kStatementDelete;
  query.RequestLive = true;
  Next();  // DELETE
  Expect("FROM", "FROM keyword expected, instead found '");
  if (!AtName()) FailAtToken("Table name expected, instead found '");
  TSourceTable& table = ReadSourceTable(query, "Table name expected, instead found '");
  if (IsKeyword("AS")) {
    table.correlationName = ReadAsName();
  } else if (AtName()) {
    bool stop = false;
    for (std::string_view k : kDeleteCorrelationStops) stop = stop || IsKeyword(k);
    if (!stop) {
      table.correlationName = p_.TokenText().substr(0, kMaxStatementName);
      Next();
    }
  }
  if (Accept("WHERE")) {
    query.where = Expression(kPermitWhere, "WHERE or JOIN clause");
    if (!query.where) Fail("WHERE or JOIN clause is empty");
    query.hasWhere = true;
  }
  query.noJoinOptimize = Accept("NOJOINOPTIMIZE");
  ParseCommitInterval(query);
  ExpectEnd("DELETE");
}

}  // namespace engine
