// Execution of a SELECT: rows produced by the conditions and joins, copied as
// result rows (aggregates as their arguments), then folded, grouped, made
// distinct and sorted, and written into the result table (sql_executor.h).
#include <algorithm>

#include "engine/sql/expr_error.h"
#include "engine/sql/sql_executor.h"

namespace engine {

namespace {

constexpr const char* kWhereContext = "WHERE or JOIN clause";
constexpr const char* kWhereNotBoolean = "WHERE or JOIN clause must be a boolean expression";

// Reads the result columns of a merged row for HAVING.
class TRowReader : public ColumnReader {
 public:
  TRowReader(const TResultRow& row) : FRow(row) {}
  void ReadColumn(const TExpToken& column, TExpToken& value) override {
    const TCell& cell = FRow[static_cast<std::size_t>(column.fieldNo) - 1];
    if (cell.isNull) {
      value.SetNull();
    } else {
      value.isNull = false;
      value.value = cell.bytes;
    }
  }

 private:
  const TResultRow& FRow;
};

}  // namespace

// Analyses the conditions with the parameters bound now, runs the
// sub-selects and plans the loops; `probes` as for TRowProducer::Plan.
void TQueryExecutor::PlanRows(bool probes) {
  TQueryBlock& b = *FBlock;
  if (b.where) AnalyseCondition(b.where, kWhereContext, kWhereNotBoolean);
  RunSubSelects();
  if (!FRows) FRows = std::make_unique<TRowProducer>(FSources, FEval);
  FRows->Plan(b.where.get(), !b.noJoinOptimize, probes && !b.withLocks);
}

void TQueryExecutor::RunSelect() {
  TQueryBlock& b = *FBlock;
  // A live result and the counted COUNT(*) read the driving cursor itself,
  // so only the copy may read its tables through key probes; and not WITH
  // LOCKS, whose rows must all be read under the query read locks, which
  // are taken after planning (a probe without join keys reads its records
  // while it plans).
  const bool countCandidate =
      FAggregateOnly && FResult.size() == 1 && FResult[0].countAll && FSources.size() == 1;
  PlanRows(!FLive && !countCandidate);
  if (FLive && FRows->FiltersAnswerAll()) {
    TDataCursor& cursor = FSources.front()->Cursor();
    FRowsAffected = static_cast<std::int32_t>(cursor.RecordCount());
    cursor.First();
    return;
  }
  if (FLive) {
    // Conditions the filters cannot hold (sub-selects) need the copy after all.
    FLive = false;
    CreateResultTable();
  }
  if (CanStream()) {
    CopyStreamedRows();
    return;
  }
  std::vector<TResultRow> rows;
  {
    TQueryReadLocks locks(FSources, b.withLocks);
    const bool countOnly = countCandidate && FRows->FiltersAnswerAll();
    if (countOnly) {
      TResultRow row(1);
      ExpTree count = NewToken();
      count->SetType(kFieldInt32, 0, kSize32, 0);
      count->SetInt32(static_cast<std::int32_t>(FSources.front()->Cursor().RecordCount()));
      row[0] = CellOf(*count);
      rows.push_back(std::move(row));
    } else if (FAggregateOnly) {
      FoldAggregateOnly(rows);
    } else {
      CollectRows(rows);
    }
  }
  if (FGrouped && !FAggregateOnly) {
    Group(rows);
  } else if (b.distinct) {
    RemoveDuplicates(rows);
  }
  if (!FOrderKeys.empty()) SortRows(rows, FOrderKeys, b.orderNoCase);
  WriteResult(rows);
  FRowsAffected = static_cast<std::int32_t>(rows.size());
  FRunResult->First();
}

TResultRow TQueryExecutor::CurrentRow() {
  TResultRow row(FResult.size());
  for (std::size_t i = 0; i < FResult.size(); ++i) {
    const TResultColumn& r = FResult[i];
    const TExpToken& e = *r.expression;
    if (r.plain) {
      ExpTree value = NewToken();
      value->SetType(e.dataType, e.subType, e.size, e.scale);
      FColumns->ReadColumn(e, *value);
      row[i] = CellOf(*value);
    } else if (r.countAll) {
      row[i].isNull = false;
    } else if (r.aggregate != kAggregateNone) {
      ExpTree value = EvaluateExpression(*e.left, FEval);
      row[i] = CellOf(*ConvertedTo(*value, *r.argumentType));
    } else {
      ExpTree value = EvaluateExpression(e, FEval);
      row[i] = CellOf(*ConvertedTo(*value, *r.type));
    }
  }
  return row;
}

void TQueryExecutor::CollectRows(std::vector<TResultRow>& rows,
                                 const std::function<void(TResultRow&&)>& fold) {
  const std::int32_t limit = FBlock->maxRowCount;
  std::size_t copied = 0;
  const std::int64_t total = FRows->DrivingCount();
  std::int64_t step = 0;
  bool abort = false;
  FRows->Run(
      [&] {
        if (limit >= 0 && copied >= static_cast<std::size_t>(limit)) return false;
        ++copied;
        if (fold) {
          fold(CurrentRow());
        } else {
          rows.push_back(CurrentRow());
        }
        return !abort;
      },
      [&] { Progress(++step, total, abort); });
  if (step < total && OnProgress) Progress(total, total, abort);
}

// Every qualifying row is folded into the aggregates as it comes, so one
// row results even when none qualifies.
void TQueryExecutor::FoldAggregateOnly(std::vector<TResultRow>& rows) {
  std::vector<TAggregate> aggregates;
  for (const TResultColumn& r : FResult)
    aggregates.emplace_back(r.aggregate, *r.argumentType, FEval.collation);
  CollectRows(rows, [&](TResultRow&& row) {
    for (std::size_t i = 0; i < FResult.size(); ++i) aggregates[i].Add(row[i]);
  });
  TResultRow one(FResult.size());
  for (std::size_t i = 0; i < FResult.size(); ++i)
    one[i] = CellOf(*aggregates[i].Result(*FResult[i].type));
  rows.clear();
  rows.push_back(std::move(one));
}

void TQueryExecutor::Group(std::vector<TResultRow>& rows) {
  std::vector<TSortKey> keys;
  for (const TSortKey& k : FGroupKeys) keys.push_back({k.column, false});
  SortRows(rows, keys, false);
  std::vector<TResultRow> groups;
  std::size_t start = 0;
  while (start < rows.size()) {
    std::size_t end = start + 1;
    const auto sameGroup = [&](const TResultRow& a, const TResultRow& b) {
      return std::all_of(keys.begin(), keys.end(), [&](const TSortKey& k) {
        return CompareCells(a[k.column], b[k.column], *FResult[k.column].type, FEval.collation) ==
               0;
      });
    };
    while (end < rows.size() && sameGroup(rows[start], rows[end])) ++end;
    TResultRow merged(FResult.size());
    for (std::size_t i = 0; i < FResult.size(); ++i) {
      const TResultColumn& r = FResult[i];
      if (r.aggregate != kAggregateNone) {
        TAggregate a(r.aggregate, *r.argumentType, FEval.collation);
        for (std::size_t k = start; k < end; ++k) a.Add(rows[k][i]);
        merged[i] = CellOf(*a.Result(*r.type));
      } else {
        for (std::size_t k = start; k < end; ++k)
          if (!rows[k][i].isNull) merged[i] = rows[k][i];
      }
    }
    bool keep = true;
    if (FHaving) {
      TRowReader reader(merged);
      EvaluationContext context = FEval;
      context.reader = &reader;
      keep = EvaluateCondition(*FHaving, context);
    }
    if (keep) groups.push_back(std::move(merged));
    start = end;
  }
  rows.swap(groups);
}

void TQueryExecutor::RemoveDuplicates(std::vector<TResultRow>& rows) {
  std::vector<TSortKey> keys;
  for (std::size_t i = 0; i < FResult.size(); ++i) keys.push_back({i, false});
  SortRows(rows, keys, false);
  const auto equal = [&](const TResultRow& a, const TResultRow& b) {
    for (std::size_t i = 0; i < FResult.size(); ++i)
      if (CompareCells(a[i], b[i], *FResult[i].type, FEval.collation) != 0) return false;
    return true;
  };
  rows.erase(std::unique(rows.begin(), rows.end(), equal), rows.end());
}

void TQueryExecutor::SortRows(std::vector<TResultRow>& rows, const std::vector<TSortKey>& keys,
                              bool noCase) {
  std::stable_sort(rows.begin(), rows.end(), [&](const TResultRow& a, const TResultRow& b) {
    for (const TSortKey& k : keys) {
      int c =
          CompareCells(a[k.column], b[k.column], *FResult[k.column].type, FEval.collation, noCase);
      if (k.descending) c = -c;
      if (c != 0) return c < 0;
    }
    return false;
  });
}

void TQueryExecutor::WriteResult(const std::vector<TResultRow>& rows) {
  const TQueryBlock& b = *FBlock;
  const bool hasBlobs = std::any_of(FResult.begin(), FResult.end(), [](const TResultColumn& r) {
    return r.type->dataType == kFieldBlob;
  });
  const bool small =
      rows.size() <= kMemoryResultRows && !hasBlobs && b.intoName.empty() && b.password.empty();
  ChooseRunResult(small);
  WriteRows(*FRunResult, rows);
}

void TQueryExecutor::WriteRows(TDataCursor& out, const std::vector<TResultRow>& rows) {
  out.Filters().RemoveAll();
  out.EmptyTable();
  for (const TResultRow& row : rows) {
    TDataCursor::TRecordBuffer record = out.NewRecord();
    for (std::size_t i = 0; i < FResult.size(); ++i) {
      const auto field = static_cast<std::uint32_t>(i + 1);
      const TCell& cell = row[i];
      if (cell.isNull) {
        out.PutNull(record, field);
        continue;
      }
      ExpTree value = TokenOf(cell, *FResult[i].type);
      StoreValue(out, record, field, *value, " in SELECT statement", false);
    }
    out.Insert(record, false);
  }
}

TDataCursor& TQueryExecutor::ChooseRunResult(bool small) {
  if (small) {
    if (FResultTableFilled) {
      FResultCursor->Filters().RemoveAll();
      FResultCursor->EmptyTable();
      FResultTableFilled = false;
    }
    FRunResult = &MemoryResult();
  } else {
    FRunResult = FResultCursor.get();
    FResultTableFilled = true;
  }
  return *FRunResult;
}

}  // namespace engine
