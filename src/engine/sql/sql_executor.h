// TQueryExecutor: prepares one query block (sql_block.h) once and executes it
// any number of times, each time with the parameter values bound last.
//
// Life cycle: Prepare opens the source tables (read-only for a SELECT that
// does not ask for a live result), resolves every name, checks the values of
// INSERT and UPDATE and, for a SELECT, creates its result table. Execute
// removes what an earlier run installed on the source cursors, analyses the
// conditions with the parameters as they are bound now, produces the rows
// (sql_rows.h) and:
//   SELECT  copies them into the result table (in PrivateDir, or the INTO
//           table), then removes duplicates (DISTINCT), merges groups (GROUP
//           BY, HAVING) and sorts (ORDER BY); the result cursor is returned.
//           A small result (kMemoryResultRows) without BLOBs goes into an
//           in-memory table instead, so that a key lookup writes no file;
//   INSERT  appends one record (VALUES) or one per row of its SELECT;
//   UPDATE, DELETE  change or delete every qualifying record.
// INSERT ... SELECT, UPDATE and DELETE run in a transaction of their own when
// the directory is not in one, committing every CommitInterval rows.
//
// Result tables are made of one field per result column, named by its result
// name; aggregates are computed in memory over the rows copied, so the
// result holds no helper fields.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/sql_block.h"
#include "engine/sql/sql_row_stream.h"
#include "engine/sql/sql_rows.h"
#include "engine/sql/sql_sources.h"
#include "engine/sql/sql_values.h"

namespace engine {

// Results of at most this many rows (without BLOBs) are kept in memory.
inline constexpr std::size_t kMemoryResultRows = 256;

// Progress of a row loop: step (1-based), percent, and a flag that stops the
// loop after the current row when set.
using TProgressHook = std::function<void(std::int64_t step, int percent, bool& abort)>;

class TQueryExecutor : private SubQueryEvaluator {
  friend class TRowStream;

 public:
  // `parameters`: the parameter nodes of `block`'s trees in the order written.
  TQueryExecutor(TDataDirectory* directory, std::unique_ptr<TQueryBlock> block,
                 std::vector<TExpToken*> parameters = {});
  // A sub-query block owned by its statement.
  TQueryExecutor(TDataDirectory* directory, TQueryBlock& block);
  ~TQueryExecutor() override;
  TQueryExecutor(const TQueryExecutor&) = delete;
  TQueryExecutor& operator=(const TQueryExecutor&) = delete;

  void Prepare();
  // Binds parameters from a parameter record: one definition per parameter
  // (type, subtype, size, scale, slot offset); each slot is a has-value byte
  // then the value bytes, for a BLOB a 32-bit length and a pointer to the data.
  void BindParameters(const TFieldDefinitions& definitions,
                      const std::vector<std::uint8_t>& record);
  // Binds parameter i to a copy of `value` (type, size, scale, NULL flag, bytes).
  void SetParameter(std::size_t i, const TExpToken& value);
  std::size_t ParameterCount() const { return FParameters.size(); }

  // The result cursor for a SELECT (owned by the executor; for a live result
  // the source table's own cursor, whose changes change the table), else null.
  TDataCursor* Execute();
  // Executes a SELECT for a caller that reads its rows once, in order
  // (sql_row_stream.h): the rows are produced as the stream is read when
  // CanStream(), else the statement is executed and the stream reads its
  // result. At most one stream is open per executor.
  std::unique_ptr<TRowStream> OpenRows();
  // Whether OpenRows produces the rows as they are read: a prepared SELECT
  // without DISTINCT, GROUP BY, aggregates, ORDER BY, INTO or a live result.
  bool CanStream();

  TQueryKind Kind() const { return FBlock->kind; }
  // The result columns of a prepared SELECT: count and type.
  std::size_t ResultColumnCount() const { return FResult.size(); }
  const TExpToken& ResultType(std::size_t i) const { return *FResult[i].type; }
  std::int32_t RowsAffected() const { return FRowsAffected; }
  double ExecutionTime() const { return FExecutionTime; }
  TProgressHook OnProgress;

 private:
  struct TResultColumn {
    ExpTree expression;  // analysed
    int aggregate = kAggregateNone;
    bool plain = false;  // a single column reference
    TOpenSource* source = nullptr;
    std::uint32_t field = 0;
    std::string name;
    ExpTree type;          // a node carrying the result type
    ExpTree argumentType;  // an aggregate's argument type
    bool countAll = false;
  };
  struct TSubResult {
    const void* block;
    std::unique_ptr<TQueryExecutor> executor;
    std::vector<ExpTree> values;
  };
  struct TSortKey {
    std::size_t column;
    bool descending;
  };

  // Preparation (sql_select_prepare.cpp).
  void OpenSources(bool readOnly);
  void PrepareSelect();
  void MarkOuterJoins(const TExpToken* node);
  void AddResultColumn(ExpTree expression, const std::string& alias, const std::string& text);
  void NameResultColumns(const std::vector<std::string>& aliases);
  std::vector<TSortKey> BindItems(const std::vector<TQueryOrderItem>& items, const char* clause);
  void PrepareHaving();
  void CreateResultTable();
  TTableDefinition ResultDefinition() const;
  TDataCursor& MemoryResult();
  // Makes the in-memory table (small results) or the result table on disk
  // this run's result, emptying the disk table a larger earlier run filled.
  TDataCursor& ChooseRunResult(bool small);
  bool LiveResultPossible() const;
  // Execution of SELECT (sql_select_run.cpp).
  void PlanRows(bool probes);
  void RunSelect();
  // The rows of a statement that could stream, built as for a stream and
  // stored into the result table record by record (sql_row_stream.cpp).
  void CopyStreamedRows();
  // Copies the qualifying rows into `rows`, or hands each to `fold`.
  void CollectRows(std::vector<TResultRow>& rows,
                   const std::function<void(TResultRow&&)>& fold = {});
  TResultRow CurrentRow();
  void RemoveDuplicates(std::vector<TResultRow>& rows);
  void FoldAggregateOnly(std::vector<TResultRow>& rows);
  void Group(std::vector<TResultRow>& rows);
  void SortRows(std::vector<TResultRow>& rows, const std::vector<TSortKey>& keys, bool noCase);
  void WriteResult(const std::vector<TResultRow>& rows);
  void WriteRows(TDataCursor& out, const std::vector<TResultRow>& rows);
  // INSERT, UPDATE, DELETE (sql_modify.cpp).
  void PrepareModify();
  void AnalyseValues();
  void RunInsertValues();
  void RunInsertSelect();
  void RunUpdateOrDelete();
  // Data definition (sql_ddl.cpp, sql_ddl_alter.cpp).
  void RunCreateTable();
  void RunDropTable();
  void RunCreateIndex();
  void RunDropIndex();
  void RunAlterTable();

  // Shared helpers (sql_executor.cpp).
  void AnalyseCondition(ExpTree& tree, const char* contextName, const char* notBoolean);
  void Analyse(ExpTree& tree, const char* contextName, bool condition);
  EvaluationContext& Evaluation() { return FEval; }
  void Progress(std::int64_t step, std::int64_t total, bool& abort);
  bool SubSelectContains(const TExpToken& subSelect, const TExpToken& value) override;
  TSubResult& SubResult(const void* block);
  int ResolveSubSelect(TExpToken& node);
  void RunSubSelects();
  TOpenSource& Target() { return *FSources.front(); }

  TDataDirectory* FDirectory;
  std::unique_ptr<TQueryBlock> FOwnedBlock;
  TQueryBlock* FBlock;
  std::vector<TExpToken*> FParameters;
  bool FPrepared = false;

  TSourceList FSources;
  std::unique_ptr<TSourceColumns> FColumns;
  EvaluationContext FEval;
  std::unique_ptr<TRowProducer> FRows;

  // SELECT.
  std::vector<TResultColumn> FResult;
  bool FAggregateOnly = false;
  bool FGrouped = false;
  std::vector<TSortKey> FOrderKeys, FGroupKeys;
  bool FLive = false;  // the result is the source table's own cursor
  ExpTree FHaving;     // aggregates and columns rewritten to read result columns
  TDataDirectory* FResultDirectory = nullptr;
  std::unique_ptr<TDataCursor> FResultCursor;
  // A result of at most kMemoryResultRows rows without BLOBs, INTO or
  // password is written into an in-memory table instead, made at its first
  // use: a key lookup then writes no file. FResult*Cursor* stays the table
  // that preparation made; the run's result is FRunResult.
  TDataDirectory* FMemoryDirectory = nullptr;
  std::unique_ptr<TDataCursor> FMemoryResult;
  TDataCursor* FRunResult = nullptr;
  bool FResultTableFilled = false;  // the table on disk holds rows of a run
  // INSERT, UPDATE.
  std::vector<std::uint32_t> FTargetFields;
  std::unique_ptr<TQueryExecutor> FInsertSelect;
  // Sub-selects of IN, run once per execution.
  std::vector<TSubResult> FSubResults;

  std::int32_t FRowsAffected = 0;
  double FExecutionTime = 0;
  TRowStream* FStream = nullptr;  // the open stream, ended before anything else runs
  void EndStream() {
    if (FStream != nullptr) FStream->End();
  }
};

}  // namespace engine
