// TStatementParser: the recursive-descent grammar of SQL statements around
// the expression grammar, filling the blocks of a TQueryStatement.
//
// Files:
//   statement_parser.cpp         dispatch, shared pieces (names, integer
//                                arguments, LANGUAGE/SORT, ENCRYPTED WITH)
//   statement_parser_select.cpp  SELECT (also sub-selects and INSERT ... SELECT)
//   statement_parser_update.cpp  INSERT, UPDATE, DELETE
//   statement_parser_ddl.cpp     CREATE TABLE, CREATE INDEX, ALTER TABLE,
//                                DROP TABLE, DROP INDEX
//
// Conventions:
//  - there are no reserved words: a keyword is a symbol token compared
//    ignoring case, recognised only where the grammar looks for it; strings
//    and bracketed names are never keywords;
//  - a statement message that ends with an opening quote is completed with
//    the current token's text and a closing quote (FailAtToken); messages of
//    the expression grammar end with " in " and the context name instead;
//  - every expression is parsed under a context name, which returns to
//    "SQL statement" afterwards;
//  - like the expression grammar, each Parse... starts at the current token
//    and returns with the first token after what it read as current.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/sql/sql_statement.h"

namespace engine {

inline constexpr std::string_view kContextStatement = "SQL statement";

// Expression permissions of each clause.
inline constexpr int kPermitResultColumn = kPermitAggregates | kPermitAllColumns | kPermitExtended;
inline constexpr int kPermitJoinCondition = kPermitExtended | kPermitParameters;
inline constexpr int kPermitWhere = kPermitExtended | kPermitParameters | kPermitSubSelects;
inline constexpr int kPermitHaving = kPermitAggregates;
inline constexpr int kPermitValue = kPermitParameters;

class TStatementParser {
 public:
  explicit TStatementParser(TQueryStatement& statement);

  // Parses the whole text (already set on the parser, first token read) into
  // the main block; returns the offset of the first token not read.
  std::size_t ParseStatement();

  // A SELECT at the current token into `query`; a sub-select stops after its
  // last clause, any other SELECT checks the end of the statement.
  void ParseSelect(TDataQuery& query, bool insertSelect);

 private:
  // Statement kinds (statement_parser_update.cpp, statement_parser_ddl.cpp).
  void ParseInsert(TDataQuery& query);
  void ParseUpdate(TDataQuery& query);
  void ParseDelete(TDataQuery& query);
  void ParseCreateTable(TDataQuery& query);
  void ParseCreateIndex(TDataQuery& query);
  void ParseAlterTable(TDataQuery& query);
  void ParseAlterAction(TDataQuery& query);
  void ParseDropTable(TDataQuery& query);
  void ParseDropIndex(TDataQuery& query);

  // SELECT pieces (statement_parser_select.cpp).
  void ParseResultColumn(TDataQuery& query);
  void ParseSourceTable(TDataQuery& query, bool insertSelect);
  void ParseJoin(TDataQuery& query, int joinKind);
  void ParseColumnItems(TDataQuery& query, bool orderBy);

  // DDL pieces (statement_parser_ddl.cpp).
  void ParseColumnDefinition(TCreateField& field, std::string_view tableName, bool typeRequired,
                             bool withPosition);
  void ParseColumnAttributes(TCreateField& field, bool withPosition);
  void ParseDataTypeInto(TCreateField& field, std::string_view tableName);
  bool AtPrimaryKeyClause() const;
  void ParsePrimaryKeyClause(TCreateIndex& index);
  void ParseIndexColumns(TCreateIndex& index);
  void ParseCompress(TCreateIndex& index);
  void ParseTableOptions(TDataQuery& query);
  std::string ValueToken();

  // Shared pieces (statement_parser.cpp).
  TDataQuery& NewSubQuery();
  void InstallSubSelectParser();
  bool IsKeyword(std::string_view keyword) const { return p_.IsKeyword(keyword); }
  bool IsAnyKeyword(std::initializer_list<std::string_view> keywords) const;
  bool IsKind(int kind) const { return p_.TokenKind() == kind; }
  bool AtName() const;           // a symbol or a string
  bool AtNameOrBracket() const;  // a symbol, bracketed name or string
  bool AtEnd() const { return IsKind(kTokenEnd); }
  void Next() { p_.ReadToken(); }
  // Skips `keyword` when it is current; answers whether it was.
  bool Accept(std::string_view keyword);
  void Expect(std::string_view keyword, std::string_view message);
  void ExpectChar(char c, std::string_view message);
  [[noreturn]] void Fail(std::string_view message) const;
  // `prefix`, the current token's text and "'".
  [[noreturn]] void FailAtToken(std::string_view prefix) const;
  // The current name token (symbol or string), read past; else fails.
  std::string ReadName(std::string_view message);
  // A table name with an optional MEMORY before it, as a new source table.
  TSourceTable& ReadSourceTable(TDataQuery& query, std::string_view message);
  // The DDL target: optional MEMORY and a name into the result table name.
  void ReadResultTable(TDataQuery& query);
  // The correlation name after AS (AS is current).
  std::string ReadAsName();
  void CheckDuplicateCorrelation(const TDataQuery& query, const TSourceTable& table) const;
  // An expression under `context`; null at the end of the text.
  ExpTree Expression(int permissions, std::string_view context);
  // One term (a primary with an optional sign) under `context`.
  ExpTree Term(int permissions, std::string_view context);
  // One column reference under `context` (a string names a column), or
  // `emptyMessage` at the end of the text.
  ExpTree ColumnReference(std::string_view context, std::string_view emptyMessage);
  // An integer argument: the value of an integer constant (with its sign),
  // 0 for any other term.
  std::int64_t IntegerArgument(std::string_view context, std::string_view emptyMessage);
  void ParseCommitInterval(TDataQuery& query);
  void ParseLanguage(TDataQuery& query);
  void ParseEncrypted(TDataQuery& query);
  void ExpectEnd(std::string_view kindName);

  TQueryStatement& statement_;
  TExpressionParser& p_;
};

// A string constant where a column is expected names the column; other
// nodes stay as they are.
void StringToColumn(TExpToken& node);

// The name a column reference stands for: its column name, or for anything
// else the expression's text.
std::string ColumnNameOf(const TExpToken& node);

}  // namespace engine
