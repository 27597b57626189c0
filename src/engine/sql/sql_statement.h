// Parsed SQL statements: TQueryStatement (one per prepared statement) and the
// TDataQuery blocks it owns (the statement itself, each sub-select, the SELECT
// of an INSERT ... SELECT), with the lists the parser fills for execution.
//
// What the parser fills, by statement kind:
//   kind            sources  result  targets  values  fields  indexes  names
//   SELECT             x       x                                       INTO name
//   INSERT             x (1)           x        x
//   UPDATE             x (1)           x        x
//   DELETE             x (1)
//   CREATE TABLE                                        x       x      table
//   ALTER TABLE                                         x       x      table
//   DROP TABLE                                                         table
//   CREATE INDEX                                                x      table
//   DROP INDEX                                                         table, index
// Every JOIN ... ON condition is ANDed into the WHERE tree; its nodes carry
// the ON-clause mark and its column-to-column comparisons the join kind
// (TExpToken::onClause, TExpToken::joinKind).
//
// Invariants:
//  - queries[0] is the main block; sub-query blocks follow in the order in
//    which they were created; every block lives as long as its statement, so
//    a sub-select node's `subQuery` points into `queries`;
//  - `parameters` holds every `?` node of the statement's trees in the order
//    written; its pointers live as long as the trees that own them;
//  - names (tables, correlations, columns, indexes) are at most
//    kMaxStatementName characters; expression texts at most
//    kMaxExpressionTextLength.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/expr_parser.h"
#include "engine/storage/data_file.h"  // kDefaultBlobBlockSize
#include "engine/values/expr_token.h"

namespace engine {

class TDataDirectory;
class TDataQuery;

// Statement kinds.
inline constexpr int kStatementNone = 0;
inline constexpr int kStatementSelect = 1;
inline constexpr int kStatementInsert = 2;
inline constexpr int kStatementUpdate = 3;
inline constexpr int kStatementDelete = 4;
inline constexpr int kStatementCreateTable = 5;
inline constexpr int kStatementAlterTable = 6;
inline constexpr int kStatementDropTable = 7;
inline constexpr int kStatementCreateIndex = 8;
inline constexpr int kStatementDropIndex = 9;

// Join kinds of ON-clause comparisons (TExpToken::joinKind); 0 is WHERE.
inline constexpr int kJoinNone = 0;
inline constexpr int kJoinInner = 1;
inline constexpr int kJoinLeft = 2;
inline constexpr int kJoinRight = 3;

// Aggregate kinds of result columns.
inline constexpr int kAggregateNone = 0;
inline constexpr int kAggregateSum = 1;
inline constexpr int kAggregateMin = 2;
inline constexpr int kAggregateMax = 3;
inline constexpr int kAggregateAvg = 4;
inline constexpr int kAggregateCount = 5;

// ORDER BY directions.
inline constexpr int kOrderAscending = 0;
inline constexpr int kOrderDescending = 1;

// Character case of a column definition (CHARCASE).
inline constexpr int kCharCaseNoChange = 0;
inline constexpr int kCharCaseLower = 1;
inline constexpr int kCharCaseUpper = 2;

// Index compression (COMPRESS).
inline constexpr int kIndexCompressNone = 0;
inline constexpr int kIndexCompressDupByte = 1;
inline constexpr int kIndexCompressTrailByte = 2;
inline constexpr int kIndexCompressFull = 3;

inline constexpr std::size_t kMaxStatementName = 255;         // characters of any name
inline constexpr std::size_t kMaxExpressionTextLength = 255;  // characters of an expression text
inline constexpr std::size_t kMaxDefinitionValueText = 255;   // DEFAULT, MIN, MAX, DESCRIPTION

inline constexpr std::uint16_t kDefaultUserMajorVersion = 1;
inline constexpr std::uint16_t kDefaultUserMinorVersion = 0;
inline constexpr std::int32_t kLastAutoIncNotGiven = -1;
inline constexpr int kNoRowLimit = -1;  // MaxRowCount

// A table name as written, taken apart.
struct TTableNameParts {
  std::string tableName;        // the file-name part, extension kept
  std::string directory;        // the path part with its last '\', or kMemoryDirectory
  bool pathGiven = false;       // the text named a directory (colon or backslash)
  std::string correlationName;  // the table name without path and extension
};

// Splits `text` as a table name: with `memory` the file-name part in the
// in-memory directory; a text that is empty or holds a colon or backslash gives
// its file-name part and its path part; any other text is the table name in
// `statementDirectory`. Names are cut to kMaxStatementName.
TTableNameParts SplitTableName(std::string_view text, bool memory,
                               std::string_view statementDirectory);

// One table in FROM, or the target of INSERT, UPDATE or DELETE.
class TSourceTable {
 public:
  std::string tableName;        // file-name part, extension kept
  std::string directory;        // see TTableNameParts
  bool pathGiven = false;       // the directory came from the text
  std::string correlationName;  // given, or the table name without extension
  int ordinal = 0;              // 1 for the block's first table, in reading order
  bool memory = false;          // named with MEMORY

  // ---- execution state (preparation, conditions and joins) ----
};

// One column of a SELECT list.
class TResultField {
 public:
  TSourceTable* sourceTable = nullptr;  // of a plain column, once resolved
  std::string columnName;               // plain column, or the argument of an aggregate over one
  std::string correlationName;
  std::string resultName;  // the alias, else the column name, else named at preparation
  bool aliasGiven = false;
  ExpTree expression;          // the whole column as parsed
  bool isExpression = false;   // expression column, or aggregate over an expression
  std::string expressionText;  // as written, without CR and LF (expressions only)
  int aggregate = kAggregateNone;

  // ---- filled by preparation ----
  int position = 0;  // 1-based in the result
  int resultType = 0;
  int resultSubType = 0;
  int resultSize = 0;
  int resultScale = 0;
};

// One target column (INSERT column list, UPDATE SET target).
class TUpdateField {
 public:
  std::string columnName;  // "*" for INSERT without a column list
  std::string correlationName;
  ExpTree expression;  // the column reference (none for "*")
};

// One value (INSERT VALUES, UPDATE SET value).
class TUpdateValue {
 public:
  ExpTree expression;
  std::string expressionText;  // as written, without CR and LF
};

// One GROUP BY item: a column by name, or a 1-based column number.
class TGroupByField {
 public:
  std::string columnName;  // empty when given by number
  std::string correlationName;
  int columnNumber = 0;  // 0 when given by name
};

// One ORDER BY item.
class TOrderByField {
 public:
  std::string columnName;  // empty when given by number
  std::string correlationName;
  int columnNumber = 0;  // 0 when given by name
  int direction = kOrderAscending;
};

// One column definition (CREATE TABLE, ALTER TABLE ADD or REDEFINE or DROP).
class TCreateField {
 public:
  std::string name;          // the column; for REDEFINE with two names the new one
  std::string previousName;  // REDEFINE with two names: the current name
  int fieldNo = 0;
  bool dataTypeGiven = false;  // REDEFINE may leave the type as it is
  int dataType = 0;            // field type code
  int subType = 0;
  int size = 0;  // declared size: characters or bytes of CHAR, VARCHAR, BYTES; else 0
  int scale = 0;
  std::string description;
  bool required = false;  // NOT NULL
  int charCase = kCharCaseNoChange;
  std::string minimum;
  std::string maximum;
  std::string defaultValue;
  int atPosition = 0;  // AT n; 0 when not given
  bool add = false;
  bool redefine = false;
  bool drop = false;
  bool descriptionGiven = false;
  bool requiredGiven = false;
  bool defaultGiven = false;
  bool minimumGiven = false;
  bool maximumGiven = false;
  bool charCaseGiven = false;
  bool atGiven = false;
};

// One index definition (primary key clause, CREATE INDEX, ALTER TABLE).
class TCreateIndex {
 public:
  std::string name;                  // empty for a primary key clause
  std::string constraintName;        // CONSTRAINT name of a primary key clause
  std::vector<std::string> columns;  // index columns in key order
  bool unique = false;
  int descending = kOrderAscending;
  bool caseInsensitive = false;  // NOCASE
  int compression = kIndexCompressNone;
  bool add = false;
  bool redefine = false;
  bool drop = false;
  bool primaryKey = false;  // a primary key clause (CREATE TABLE, ALTER TABLE)
};

// One query block.
class TDataQuery {
 public:
  TDataQuery();
  ~TDataQuery();
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Sets every parsed attribute back to its default; RequestLive and
  // MaxRowCount keep their values.
  void ResetParsed();

  int statementKind = kStatementNone;
  bool isSubQuery = false;

  // Set by the query component before the parse.
  bool RequestLive = false;
  int MaxRowCount = kNoRowLimit;

  std::vector<std::unique_ptr<TSourceTable>> sourceTables;  // FROM order; RIGHT JOIN at front
  std::vector<TResultField> resultFields;
  std::vector<TUpdateField> targetFields;
  std::vector<TUpdateValue> values;  // UPDATE: parallel to targetFields
  std::vector<TCreateField> createFields;
  std::vector<TCreateIndex> createIndexes;
  std::vector<TOrderByField> orderBy;
  std::vector<TGroupByField> groupBy;
  ExpTree where;   // WHERE and every JOIN ON condition, ANDed
  ExpTree having;  // HAVING

  // Clause flags.
  bool distinct = false;
  bool hasGroupBy = false;
  bool hasHaving = false;
  bool hasOrderBy = false;
  bool orderByNoCase = false;
  bool severalTables = false;  // a comma or a join in FROM
  bool hasWhere = false;
  bool withLocks = false;
  bool noJoinOptimize = false;
  bool noAutoInc = false;
  bool hasComputedColumns = false;
  bool hasAvg = false;
  bool insertFromSelect = false;
  bool inMemoryResult = false;  // MEMORY on INTO or on the DDL statement's table

  std::string resultTableName;  // SELECT ... INTO, or the table of a DDL statement
  std::string indexName;        // DROP INDEX

  // Table options; for ALTER TABLE each given-flag says the statement named it.
  std::uint16_t languageId = 0;
  bool languageGiven = false;
  std::uint16_t sortId = 0;
  bool sortGiven = false;
  std::string password;
  bool encrypted = false;  // ENCRYPTED WITH a non-empty password
  bool passwordGiven = false;
  std::string description;
  bool descriptionGiven = false;
  std::uint16_t blobBlockSize = kDefaultBlobBlockSize;
  bool blobBlockSizeGiven = false;
  std::uint16_t userMajorVersion = kDefaultUserMajorVersion;
  bool userMajorVersionGiven = false;
  std::uint16_t userMinorVersion = kDefaultUserMinorVersion;
  bool userMinorVersionGiven = false;
  std::int32_t lastAutoInc = kLastAutoIncNotGiven;
  bool lastAutoIncGiven = false;
  std::int32_t commitInterval = 0;
  bool commitIntervalGiven = false;
  bool noBackup = false;

  // ---- execution state ----
};

// One prepared statement.
class TQueryStatement {
 public:
  // `directory` is where table names without a path are looked up (may be
  // null for a statement that is only parsed).
  explicit TQueryStatement(TDataDirectory* directory);
  ~TQueryStatement();
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  TDataDirectory* Directory() const noexcept { return directory_; }
  // The directory's path ("" without a directory).
  std::string DirectoryPath() const;
  TDataQuery& MainQuery() { return *queries.front(); }
  const TDataQuery& MainQuery() const { return *queries.front(); }
  TExpressionParser& Parser() { return parser_; }

  // Parses one statement into the main block (error 11949 on any fault; the
  // statement is then unusable). Returns the offset of the first token not
  // read. Preparation (opening tables, resolving names) is a separate step.
  std::size_t Parse(std::string_view text);

  std::vector<std::unique_ptr<TDataQuery>> queries;  // main block first
  std::vector<TExpToken*> parameters;                // every ?, in the order written

  // ---- execution state ----

 private:
  TDataDirectory* directory_;
  TExpressionParser parser_;
};

}  // namespace engine
