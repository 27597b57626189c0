// TRowStream: the rows of a SELECT handed to the caller one at a time, in
// the order and with the names, types and values the result table of the
// same execution would hold (sql_executor.h).
//
// A SELECT without DISTINCT, GROUP BY, aggregates, ORDER BY, INTO or a live
// result is streamed: each Next runs the nested loops (sql_rows.h) until
// the next qualifying row and builds it, so no row is copied anywhere but
// into the stream's one row record, and a caller that stops early pays
// only for the rows it took. Any other SELECT is executed whole and the
// stream walks its result table.
//
// The row record of a streamed row has the result table's layout (one slot
// per column: a has-value byte and the value's bytes; see data_cursor.h), so
// a plain column of the same type as its source field is one copy of the
// field's slot out of the source's record buffer (a string one when it
// holds the text as storing it would write it: not empty, no trailing
// blank, zero-padded). BLOB columns, which a
// record can hold only through a BLOB file, are kept as value nodes beside
// it. Expression columns are evaluated and stored as the result table
// stores them.
//
// What a stream relies on between processes: the source tables are read
// through their cursors and the probes of sql_probe.h exactly as a
// materialised run reads them (each record read and each probe checks the
// table's change counters as it always does); only the copying of the
// result is gone. Rows are read while the caller takes them, so a change
// another process commits meanwhile is seen or not as a cursor walking the
// table would see it; WITH LOCKS holds the query read locks from the first
// row to the end of the stream.
//
// Life: the stream belongs to its executor's current execution. It ends at
// its last row, when destroyed, or when the executor executes again, opens
// another stream, is given new parameters or is destroyed; an ended stream
// answers false to Next and holds no locks, filters or NULL rows.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/sql/sql_sources.h"
#include "engine/table/data_cursor.h"
#include "engine/values/expr_token.h"

namespace engine {

class TQueryExecutor;

class TRowStream {
 public:
  ~TRowStream();
  TRowStream(const TRowStream&) = delete;
  TRowStream& operator=(const TRowStream&) = delete;

  // Moves to the next row; false at the end (the stream has then ended).
  bool Next();

  std::size_t ColumnCount() const { return FNames.size(); }
  const std::string& ColumnName(std::size_t i) const { return FNames.at(i); }
  // Of the current row.
  bool IsNull(std::size_t i) const;
  // Column i of the current row as a value node of the column's type.
  ExpTree Value(std::size_t i);
  // Column i's bytes in the current row without a copy: a field's stored
  // bytes (a string zero-padded to its size), a BLOB's data; empty for NULL.
  // Valid until the next call of Next.
  std::span<const std::uint8_t> Bytes(std::size_t i);
  // Rows handed out so far.
  std::int64_t RowCount() const { return FRows; }
  // Whether the rows are produced as they are taken (not from a result table).
  bool Streamed() const { return FStreamed; }

 private:
  friend class TQueryExecutor;

  enum class TColumnKind { Copy, CopyString, Store, Blob };
  struct TColumnPlan {
    TColumnKind kind = TColumnKind::Store;
    TOpenSource* source = nullptr;  // Copy, CopyString: slot offsets and size
    std::size_t from = 0, to = 0, length = 0;
    std::size_t characters = 0;  // CopyString: the field's size in characters
  };

  // Streamed rows of `executor`, whose rows are planned already.
  TRowStream(TQueryExecutor& executor, bool streamed);
  // Ends the stream: the loops stop, locks are released, the executor's row
  // count and time are set.
  void End();
  void BuildRow();
  void StoreColumn(std::size_t i);
  // Copies a string slot when it holds what storing its text would write.
  bool CopyString(const TColumnPlan& plan, std::uint8_t* record);
  std::span<const std::uint8_t> FieldBytes(TDataCursor& layout, std::uint32_t field);

  TQueryExecutor* FExecutor;
  bool FStreamed;
  bool FEnded = false;
  std::vector<std::string> FNames;
  std::vector<TColumnPlan> FPlans;
  TDataCursor* FLayout = nullptr;  // the result table: layout of FRecord
  TDataCursor::TRecordBuffer FRecord;
  std::vector<ExpTree> FBlobs;  // per column: the BLOB value of the current row
  std::unique_ptr<TQueryReadLocks> FLocks;
  std::int64_t FRows = 0;
  std::int64_t FLimit = -1;
  std::int64_t FStep = 0, FTotal = 0;
  bool FAbort = false;
  std::uint32_t FStart = 0;
  std::vector<std::uint8_t> FBlobCache;
};

}  // namespace engine
