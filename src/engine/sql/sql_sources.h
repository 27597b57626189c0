// The source tables of a query block while it is prepared and executed: the
// directory and cursor of each table, the record buffer that holds its
// current record, and the resolver and reader through which expressions
// name and read their columns.
//
// Column references resolve as the statement language says:
//  1. with a correlation name: that table; "*" or an empty name is the table
//     itself, otherwise its field of that name (ignoring case);
//  2. without one: the first table in list order with a field of that name;
//  3. "*" alone: the first table.
// A resolved node carries the TOpenSource in sourceTable and the 1-based
// field number in fieldNo. A source whose row is NULL-extended (an outer
// join without a match) reads NULL for every column.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/expr_analysis.h"
#include "engine/sql/expr_eval.h"
#include "engine/sql/filter.h"
#include "engine/sql/sql_block.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace engine {

class TOpenSource {
 public:
  // Opens the directory and the table. `readOnly` unless the statement
  // changes rows.
  TOpenSource(TDataSession& session, TDataDirectory* statementDirectory, const TQuerySource& source,
              int ordinal, bool readOnly);
  ~TOpenSource();
  TOpenSource(const TOpenSource&) = delete;
  TOpenSource& operator=(const TOpenSource&) = delete;

  TDataCursor& Cursor() { return *FCursor; }
  TDataDirectory* Directory() const { return FDirectory; }
  const std::string& CorrelationName() const { return FCorrelation; }
  int Ordinal() const { return FOrdinal; }
  int JoinType() const { return FJoinType; }
  void SetJoinType(int type) { FJoinType = type; }
  TDataCursor::TRecordBuffer& Buffer() { return FBuffer; }
  bool NullRow() const { return FNullRow; }
  void SetNullRow(bool on);

  // Filters this source's statement installed, removed at the next run.
  TFilterHandle AddFilter(ExpTree prepared, const TFilterOptions& options);
  void RemoveFilters();

 private:
  TDataSession& FSession;
  TDataDirectory* FDirectory = nullptr;
  bool FOwnDirectory = false;
  std::unique_ptr<TDataCursor> FCursor;
  std::string FCorrelation;
  int FOrdinal;
  int FJoinType;
  TDataCursor::TRecordBuffer FBuffer;
  bool FNullRow = false;
  std::vector<TFilterHandle> FFilters;
};

using TSourceList = std::vector<std::unique_ptr<TOpenSource>>;

// Holds the query read lock of every source while the rows of a SELECT
// WITH LOCKS are read (when `on`).
class TQueryReadLocks {
 public:
  TQueryReadLocks(TSourceList& sources, bool on);
  ~TQueryReadLocks();
  TQueryReadLocks(const TQueryReadLocks&) = delete;
  TQueryReadLocks& operator=(const TQueryReadLocks&) = delete;

 private:
  void Release();
  std::vector<TDataCursor*> FLocked;
};

// Resolves and reads columns against the sources of one block.
class TSourceColumns : public ColumnResolver, public ColumnReader {
 public:
  explicit TSourceColumns(const TSourceList& sources) : FSources(sources) {}
  // Answers the column count of a sub-select node and types it.
  std::function<int(TExpToken&)> SubSelects;
  // The source named by `correlation` (ignoring case), or null.
  TOpenSource* FindSource(const std::string& correlation) const;
  // The source and field number of a reference; false when unresolved.
  bool Lookup(const std::string& correlation, const std::string& column, TOpenSource*& source,
              std::uint32_t& field) const;
  bool ResolveColumn(TExpToken& node) override;
  int ResolveSubSelect(TExpToken& node) override { return SubSelects ? SubSelects(node) : 0; }
  void ReadColumn(const TExpToken& column, TExpToken& value) override;

 private:
  const TSourceList& FSources;
};

// Sets a node's type from a field definition (BLOB values are 8 bytes).
void SetTypeFromField(TExpToken& node, const TFieldDefinition& field);

// The sources a tree refers to, by their column references.
void CollectSources(const TExpToken& node, std::vector<TOpenSource*>& into);
bool ContainsSubSelect(const TExpToken& node);
bool ContainsAggregate(const TExpToken& node);

}  // namespace engine
