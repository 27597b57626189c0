// The executor's view of one query block: what a parsed statement says, in
// the form the executor reads (sql_executor.h). The statement parser's
// objects are turned into these by an adapter; tests build them by hand.
//
// A block is a SELECT, INSERT, UPDATE or DELETE (or a data definition
// statement that names one table). Expression trees are owned by the block;
// parameter tokens are nodes of those trees, listed in the order written, so
// that parameter i of a binding fills parameters[i].
//
// Invariants:
//  - an INSERT has targets (or the single target "*") and either values
//    parallel to them or a SELECT block in `select`;
//  - an UPDATE has targets and values of equal count;
//  - every source's correlation name differs (ignoring case) from the
//    others of its block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/sql_statement.h"
#include "engine/table/data_cursor.h"
#include "engine/values/expr_token.h"

namespace engine {

enum class TQueryKind {
  None,
  Select,
  Insert,
  Update,
  Delete,
  CreateTable,
  DropTable,
  AlterTable,
  CreateIndex,
  DropIndex
};

// How a source joins the sources before it.
inline constexpr int kSourcePlain = 0;  // the first table, after a comma, or an inner join
inline constexpr int kSourceOuter = 2;  // the NULL-extended side of a LEFT or RIGHT JOIN

inline constexpr int kMaxResultColumns = 1024;

struct TQuerySource {
  std::string tableName;        // file-name part
  std::string directory;        // path part ending in '\'; empty: the statement's directory
  std::string correlationName;  // compared ignoring case
  bool memory = false;          // in the in-memory directory
  int joinType = kSourcePlain;
};

struct TQueryColumn {
  ExpTree expression;  // a column reference, an aggregate or any expression
  std::string alias;   // empty: none given
  std::string text;    // the expression as written
};

struct TQueryTarget {
  std::string columnName;  // "*": every column of the table (INSERT)
  std::string correlationName;
};

struct TQueryValue {
  ExpTree expression;
  std::string text;
};

struct TQueryOrderItem {
  std::string columnName;  // empty when given by number
  std::string correlationName;
  int number = 0;  // 1-based result column, 0 when given by name
  bool descending = false;
};

struct TQueryBlock {
  TQueryKind kind = TQueryKind::None;
  bool distinct = false;
  std::vector<TQuerySource> sources;
  std::vector<TQueryColumn> columns;
  std::vector<TQueryTarget> targets;
  std::vector<TQueryValue> values;
  ExpTree where;  // WHERE with every JOIN ON condition ANDed in
  ExpTree having;
  std::vector<TQueryOrderItem> groupBy;
  bool groupByGiven = false;
  std::vector<TQueryOrderItem> orderBy;
  bool orderNoCase = false;
  bool withLocks = false;
  bool noJoinOptimize = false;
  bool noAutoInc = false;
  std::string intoName;  // SELECT ... INTO
  bool intoMemory = false;
  std::int32_t commitInterval = 0;  // 0: not given
  bool requestLive = false;
  std::int32_t maxRowCount = -1;
  bool languageGiven = false;
  std::uint16_t languageId = 0, sortId = 0;
  std::string password;  // ENCRYPTED WITH
  // INSERT ... SELECT: the SELECT block.
  std::unique_ptr<TQueryBlock> select;
  // The blocks of IN ( SELECT ... ) in this block's trees; each sub-select
  // node's subQuery points to one of them.
  std::vector<std::unique_ptr<TQueryBlock>> subSelects;
  // CREATE TABLE: the table (first source) and its definition.
  TTableDefinition definition;
  // ALTER TABLE, CREATE INDEX, DROP INDEX: the parsed statement, whose column
  // and index lists and table options the execution reads (it lives as long
  // as the prepared statement).
  const TDataQuery* ddl = nullptr;
};

}  // namespace engine
