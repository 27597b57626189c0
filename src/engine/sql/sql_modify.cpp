// INSERT, UPDATE and DELETE, their own transaction and commit interval
// (sql_executor.h).
//
// Own transaction: when the target's directory is not in a transaction,
// INSERT ... SELECT, UPDATE and DELETE start one, commit (without ending it)
// after every interval-th changed row, commit at the end and roll back on any
// error. The interval is COMMIT INTERVAL when given, else
// min(262140 / record size, 8191), which bounds an own transaction to about
// 256 KB of record data. In the caller's transaction the statement commits
// every interval-th row only when COMMIT INTERVAL was given, and never ends it.
#include <algorithm>

#include "engine/files/table_names.h"
#include "engine/sql/expr_error.h"
#include "engine/sql/expr_type_rules.h"
#include "engine/sql/sql_executor.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"

namespace engine {

namespace {

constexpr std::int32_t kCommitBytes = 262140;  // record bytes per default interval
constexpr std::int32_t kMaxCommitRows = 8191;  // rows per default interval
constexpr const char* kUpdateValues = "update values";

[[noreturn]] void Fail(const std::string& message) {
  RaiseExpressionError(kErrSql, {}, message);
}

bool ContainsParameter(const TExpToken& node) {
  if (node.isParameter) return true;
  for (const TExpToken* child : {node.left, node.right, node.third, node.next})
    if (child != nullptr && ContainsParameter(*child)) return true;
  return false;
}

class TOwnTransaction {
 public:
  TOwnTransaction(TDataDirectory& directory, TDataCursor& target, std::int32_t given)
      : FDirectory(directory), FTarget(target), FGiven(given > 0) {
    if (!directory.InTransaction()) {
      directory.StartTransaction();
      if (!directory.InTransaction()) RaiseEngineError(kErrLockFailed, target.Name());
      FOwn = true;
    }
    const auto size = static_cast<std::int32_t>(std::max<std::uint32_t>(1, target.RecordSize()));
    FInterval = FGiven ? given : std::min(kCommitBytes / size, kMaxCommitRows);
    FInterval = std::max(FInterval, 1);
  }
  ~TOwnTransaction() {
    if (FOwn && !FDone) {
      try {
        FDirectory.Rollback();
      } catch (...) {
        // The error that brought us here is the one to report.
      }
    }
  }
  TOwnTransaction(const TOwnTransaction&) = delete;
  TOwnTransaction& operator=(const TOwnTransaction&) = delete;

  // After each changed row; `counted` rows so far. Answers whether the rows
  // affected so far count as done (committed, or in the caller's transaction).
  bool RowDone(std::int32_t counted) {
    if ((FOwn || FGiven) && counted % FInterval == 0) {
      FTarget.Table()->Commit(false);
      return true;
    }
    return !FOwn;
  }
  void Finish() {
    if (FOwn) FDirectory.Commit();
    FDone = true;
  }

 private:
  TDataDirectory& FDirectory;
  TDataCursor& FTarget;
  bool FGiven;
  bool FOwn = false;
  bool FDone = false;
  std::int32_t FInterval = 1;
};

}  // namespace

void TQueryExecutor::PrepareModify() {
  TQueryBlock& b = *FBlock;
  OpenSources(false);
  TDataCursor& target = Target().Cursor();
  if (b.kind == TQueryKind::Insert && b.select) {
    FInsertSelect = std::make_unique<TQueryExecutor>(FDirectory, *b.select);
    FInsertSelect->Prepare();
  }
  if (b.kind == TQueryKind::Delete) return;
  const bool all = b.kind == TQueryKind::Insert &&
                   (b.targets.empty() || (b.targets.size() == 1 && b.targets[0].columnName == "*"));
  if (all) {
    for (std::uint32_t f = 1; f <= target.FieldCount(); ++f) FTargetFields.push_back(f);
  } else {
    for (const TQueryTarget& t : b.targets) {
      std::uint32_t field = 0;
      if (t.columnName != "*" &&
          (t.correlationName.empty() || SameText(t.correlationName, Target().CorrelationName())))
        field = target.FieldNumber(t.columnName);
      if (field == 0)
        Fail("Invalid column name '" + t.columnName + "'" + " or table correlation name " + "'" +
             t.correlationName + "'" + " specified in table columns");
      FTargetFields.push_back(field);
    }
  }
  const std::size_t values = FInsertSelect ? FInsertSelect->ResultColumnCount() : b.values.size();
  if (values != FTargetFields.size())
    Fail("The number of values must match the number of table columns");
  if (FInsertSelect) return;
  for (std::size_t i = 0; i < b.values.size(); ++i) {
    ExpTree& v = b.values[i].expression;
    if (ContainsParameter(*v)) continue;
    Analyse(v, kUpdateValues, false);
    TExpToken& value = *v;
    const TFieldDefinition& f = target.Fields()[FTargetFields[i] - 1];
    if (value.tokenClass != kClassConstant || value.isNull || value.dataType == f.Type()) continue;
    ExpTree column = NewToken();
    column->tokenClass = kClassColumn;
    SetTypeFromField(*column, f);
    if (IsDateTimeType(f.Type()) && value.dataType == kFieldString) {
      ExpTree converted = NewToken();
      SetTypeFromField(*converted, f);
      bool ok;
      {
        FormatSettingsScope scope(FBlock->languageId, FBlock->sortId);
        ok = ConvertValue(value, *converted);
      }
      if (!ok)
        Fail("Date, time, or timestamp expression expected, instead found '" + value.text + "'" +
             " in update values");
      value.SetType(converted->dataType, converted->subType, converted->size, converted->scale);
      value.value = converted->value;
    } else if (!OperandsCompatible(OperatorGroup::kEquality, *column, value)) {
      Fail(std::string("Type mismatch between ") + "column" + " " + "'" + f.Name() + "'" + " and " +
           "constant" + " " + "'" + value.text + "'" + " in update values");
    }
  }
}

void TQueryExecutor::AnalyseValues() {
  for (TQueryValue& v : FBlock->values)
    if (ContainsParameter(*v.expression)) Analyse(v.expression, kUpdateValues, false);
}

void TQueryExecutor::RunInsertValues() {
  AnalyseValues();
  TDataCursor& target = Target().Cursor();
  target.AutoIncrementMode = FBlock->noAutoInc;
  EvaluationContext noRecord = FEval;
  noRecord.reader = nullptr;
  TDataCursor::TRecordBuffer record = target.NewRecord();
  try {
    for (std::size_t i = 0; i < FTargetFields.size(); ++i) {
      ExpTree value = EvaluateExpression(*FBlock->values[i].expression, noRecord);
      StoreValue(target, record, FTargetFields[i], *value, " in INSERT statement", false);
    }
    target.Insert(record, false);
  } catch (...) {
    target.DiscardBlobs(record);  // the record is given up
    throw;
  }
  FRowsAffected = 1;
}

void TQueryExecutor::RunInsertSelect() {
  TDataCursor& target = Target().Cursor();
  target.AutoIncrementMode = FBlock->noAutoInc;
  TDataCursor* rows = FInsertSelect->Execute();
  TOwnTransaction transaction(*Target().Directory(), target, FBlock->commitInterval);
  TDataCursor::TRecordBuffer from(rows->RecordSize());
  std::int32_t count = 0;
  const std::int64_t total = rows->RecordCount();
  bool abort = false;
  rows->First();
  while (!abort && rows->Next(&from) == kNavOk) {
    Progress(count + 1, total, abort);
    TDataCursor::TRecordBuffer record = target.NewRecord();
    try {
      for (std::size_t i = 0; i < FTargetFields.size(); ++i) {
        ExpTree value = ReadFieldValue(*rows, from, static_cast<std::uint32_t>(i + 1));
        StoreValue(target, record, FTargetFields[i], *value, " in INSERT statement", false);
      }
      target.Insert(record, false);
    } catch (...) {
      target.DiscardBlobs(record);  // the record is given up
      throw;
    }
    ++count;
    if (transaction.RowDone(count)) FRowsAffected = count;
  }
  transaction.Finish();
  FRowsAffected = count;
}

void TQueryExecutor::RunUpdateOrDelete() {
  TQueryBlock& b = *FBlock;
  const bool update = b.kind == TQueryKind::Update;
  TDataCursor& target = Target().Cursor();
  target.AutoIncrementMode = b.noAutoInc;
  if (update) AnalyseValues();
  if (b.where)
    AnalyseCondition(b.where, "WHERE or JOIN clause",
                     "WHERE or JOIN clause must be a boolean expression");
  RunSubSelects();
  // Record-number order: a record whose key changes is not met again.
  target.SelectIndex(kNaturalOrder);
  if (!FRows) FRows = std::make_unique<TRowProducer>(FSources, FEval);
  FRows->Plan(b.where.get(), false);
  TOwnTransaction transaction(*Target().Directory(), target, b.commitInterval);
  const std::int64_t total = target.RecordCount();
  std::int64_t step = 0;
  std::int32_t count = 0;
  bool abort = false;
  TDataCursor::TRecordBuffer& record = Target().Buffer();
  FRows->Run(
      [&] {
        if (update) {
          target.ReadCurrent(&record, true);
          try {
            for (std::size_t i = 0; i < FTargetFields.size(); ++i) {
              ExpTree value = EvaluateExpression(*b.values[i].expression, FEval);
              StoreValue(target, record, FTargetFields[i], *value, " in UPDATE statement", true);
            }
            target.Modify(record, true, false);
          } catch (...) {
            target.DiscardBlobs(record);  // the changed record is given up
            try {
              target.UnlockRecord();
            } catch (...) {
              // Already released by the failed change.
            }
            throw;
          }
        } else {
          target.Delete(record, false);
        }
        ++count;
        if (transaction.RowDone(count)) FRowsAffected = count;
        return !abort;
      },
      [&] { Progress(++step, total, abort); });
  transaction.Finish();
  FRowsAffected = count;
  if (step < total && OnProgress) Progress(total, total, abort);
}

}  // namespace engine
