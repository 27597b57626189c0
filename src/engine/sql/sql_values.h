// Values of statement execution: reading a field into a value node, storing
// a value into a field with the statement's conversions, ordering values for
// sorts, DISTINCT and GROUP BY, and folding aggregates.
//
// Ordering: NULL first, then by type: strings under the collation (optionally
// ignoring case), numbers by value (BCD decoded), dates, times and timestamps
// by their stored number, bytes and BLOBs byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/sql_block.h"
#include "engine/table/data_cursor.h"
#include "engine/values/collation.h"
#include "engine/values/expr_token.h"

namespace engine {

// A value node of the field's type, read from `record` (a BLOB whole).
ExpTree ReadFieldValue(TDataCursor& cursor, TDataCursor::TRecordBuffer& record,
                       std::uint32_t field);

// Stores `value` into `field` of `record`: NULL, a BLOB's bytes, or the value
// converted to the field's type (strings cut to the field's length). A value
// that does not convert raises "Type mismatch between column <name> and
// constant value <text>" followed by `statementSuffix`.
void StoreValue(TDataCursor& cursor, TDataCursor::TRecordBuffer& record, std::uint32_t field,
                const TExpToken& value, std::string_view statementSuffix, bool truncateBlob);

int CompareValues(const TExpToken& a, const TExpToken& b, const Collation& collation,
                  bool caseInsensitive = false);

// A value of a known column type, kept compactly: its bytes as in a value
// node (strings zero-terminated).
struct TCell {
  std::vector<std::uint8_t> bytes;
  bool isNull = true;
};
TCell CellOf(const TExpToken& value);
// A value node of `type`'s type holding the cell.
ExpTree TokenOf(const TCell& cell, const TExpToken& type);
// Orders two cells of one type (`type` carries it).
int CompareCells(const TCell& a, const TCell& b, const TExpToken& type, const Collation& collation,
                 bool caseInsensitive = false);

// One result row: a cell per result column.
using TResultRow = std::vector<TCell>;

// Accumulates one aggregate over the non-NULL values it is given, all of
// the type `argumentType` carries.
class TAggregate {
 public:
  TAggregate(int kind, const TExpToken& argumentType, const Collation& collation);
  void Add(const TCell& value);
  // The aggregate's value in the type of `resultType` (a node with the type set).
  ExpTree Result(const TExpToken& resultType) const;

 private:
  int FKind;
  const TExpToken& FType;
  Collation FCollation;
  std::int64_t FCount = 0;
  double FSum = 0;
  ExpTree FScratch;
  TCell FBest;  // MIN, MAX
};

// A node of the given type holding `value` converted to it, or NULL when it
// does not convert.
ExpTree ConvertedTo(const TExpToken& value, const TExpToken& type);

}  // namespace engine
