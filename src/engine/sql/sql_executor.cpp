// TQueryExecutor: life cycle, parameter binding, the shared analysis helpers,
// progress and sub-selects (sql_executor.h).
#include "engine/sql/sql_executor.h"

#include <cmath>
#include <cstring>

#include "engine/sql/expr_error.h"
#include "engine/storage/data_file.h"
#include "engine/values/format_settings.h"
#include "platform/system.h"

namespace engine {

namespace {

constexpr double kMsPerSecondF = 1000.0;
constexpr std::size_t kBlobLengthBytes = 4;  // parameter slot: length, then a pointer

}  // namespace

TQueryExecutor::TQueryExecutor(TDataDirectory* directory, std::unique_ptr<TQueryBlock> block,
                               std::vector<TExpToken*> parameters)
    : FDirectory(directory),
      FOwnedBlock(std::move(block)),
      FBlock(FOwnedBlock.get()),
      FParameters(std::move(parameters)) {}

TQueryExecutor::TQueryExecutor(TDataDirectory* directory, TQueryBlock& block)
    : FDirectory(directory), FBlock(&block) {}

TQueryExecutor::~TQueryExecutor() {
  EndStream();
  FRows.reset();
  FSubResults.clear();
  FInsertSelect.reset();
  if (FResultCursor) {
    try {
      FResultCursor->Close();
    } catch (...) {
      // Closing a temporary result table only deletes its files.
    }
    FResultCursor.reset();
  }
  if (FResultDirectory != nullptr) FDirectory->Session()->CloseDirectory(FResultDirectory);
  if (FMemoryResult) {
    try {
      FMemoryResult->Close();
    } catch (...) {
      // Closing an in-memory result only drops it.
    }
    FMemoryResult.reset();
  }
  if (FMemoryDirectory != nullptr) FDirectory->Session()->CloseDirectory(FMemoryDirectory);
  FSources.clear();
}

void TQueryExecutor::Prepare() {
  if (FPrepared) return;
  FColumns = std::make_unique<TSourceColumns>(FSources);
  FColumns->SubSelects = [this](TExpToken& node) { return ResolveSubSelect(node); };
  FEval.reader = FColumns.get();
  FEval.subQueries = this;
  FEval.errorCode = kErrSql;
  switch (FBlock->kind) {
    case TQueryKind::Select:
      PrepareSelect();
      break;
    case TQueryKind::Insert:
    case TQueryKind::Update:
    case TQueryKind::Delete:
      PrepareModify();
      break;
    case TQueryKind::CreateTable:
    case TQueryKind::DropTable:
    case TQueryKind::AlterTable:
    case TQueryKind::CreateIndex:
    case TQueryKind::DropIndex:
      break;
    default:
      RaiseExpressionError(kErrSql, {}, "Internal error: no statement to prepare");
  }
  FPrepared = true;
}

void TQueryExecutor::OpenSources(bool readOnly) {
  int ordinal = 0;
  for (const TQuerySource& s : FBlock->sources)
    FSources.push_back(
        std::make_unique<TOpenSource>(*FDirectory->Session(), FDirectory, s, ++ordinal, readOnly));
  if (!FSources.empty() && !FBlock->languageGiven) {
    TDataFile& data = FSources.front()->Cursor().Table()->DataFile();
    FBlock->languageId = static_cast<std::uint16_t>(data.LanguageId());
    FBlock->sortId = static_cast<std::uint16_t>(data.SortId());
  }
  FEval.collation.languageId = FBlock->languageId;
  FEval.collation.sortId = FBlock->sortId;
}

// ---- Parameters ----------------------------------------------------------------------------

void TQueryExecutor::SetParameter(std::size_t i, const TExpToken& value) {
  EndStream();
  if (i >= FParameters.size()) RaiseExpressionError(kErrSql, {}, "Internal parameter error");
  TExpToken& p = *FParameters[i];
  p.SetType(value.dataType, value.subType, value.size, value.scale);
  p.isNull = value.isNull;
  p.value = value.value;
  if (value.isNull) p.value.clear();
}

void TQueryExecutor::BindParameters(const TFieldDefinitions& definitions,
                                    const std::vector<std::uint8_t>& record) {
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const TFieldDefinition& d = definitions[i];
    ExpTree value = NewToken();
    const std::size_t at = d.Offset();
    if (at >= record.size()) RaiseExpressionError(kErrSql, {}, "Internal parameter error");
    const bool present = record[at] != 0;
    if (d.Type() == kFieldBlob) {
      std::uint32_t length = 0;
      const std::uint8_t* data = nullptr;
      if (at + 1 + kBlobLengthBytes + sizeof(data) > record.size())
        RaiseExpressionError(kErrSql, {}, "Internal parameter error");
      std::memcpy(&length, record.data() + at + 1, kBlobLengthBytes);
      std::memcpy(&data, record.data() + at + 1 + kBlobLengthBytes, sizeof(data));
      value->SetType(kFieldBlob, d.Subtype(), static_cast<int>(length), 0);
      if (present && data != nullptr) value->SetBytes(data, length);
    } else {
      const std::size_t size = StorageSizeOf(d.Type(), d.Size());
      if (at + 1 + size > record.size())
        RaiseExpressionError(kErrSql, {}, "Internal parameter error");
      value->SetType(d.Type(), d.Subtype(), static_cast<int>(size),
                     d.Type() == kFieldBcd ? d.Scale() : 0);
      value->value.assign(record.begin() + static_cast<std::ptrdiff_t>(at + 1),
                          record.begin() + static_cast<std::ptrdiff_t>(at + 1 + size));
      if (d.Type() == kFieldString) value->value.push_back(0);
    }
    value->isNull = !present;
    SetParameter(i, *value);
  }
}

// ---- Execution -----------------------------------------------------------------------------

TDataCursor* TQueryExecutor::Execute() {
  EndStream();
  Prepare();
  const std::uint32_t start = platform::GetTickCount();
  FRowsAffected = 0;
  TDataCursor* result = nullptr;
  switch (FBlock->kind) {
    case TQueryKind::Select:
      RunSelect();
      result = FLive ? &FSources.front()->Cursor() : FRunResult;
      break;
    case TQueryKind::Insert:
      if (FBlock->select) {
        RunInsertSelect();
      } else {
        RunInsertValues();
      }
      break;
    case TQueryKind::Update:
    case TQueryKind::Delete:
      RunUpdateOrDelete();
      break;
    case TQueryKind::CreateTable:
      RunCreateTable();
      break;
    case TQueryKind::DropTable:
      RunDropTable();
      break;
    case TQueryKind::AlterTable:
      RunAlterTable();
      break;
    case TQueryKind::CreateIndex:
      RunCreateIndex();
      break;
    case TQueryKind::DropIndex:
      RunDropIndex();
      break;
    default:
      break;
  }
  const std::uint32_t end = platform::GetTickCount();
  FExecutionTime = end >= start ? static_cast<double>(end - start) / kMsPerSecondF : 0.0;
  return result;
}

void TQueryExecutor::Analyse(ExpTree& tree, const char* contextName, bool condition) {
  FormatSettingsScope scope(FBlock->languageId, FBlock->sortId);
  AnalysisContext context;
  context.errorCode = kErrSql;
  context.contextName = contextName;
  context.condition = condition;
  context.resolver = FColumns.get();
  AnalyseExpression(context, tree);
}

void TQueryExecutor::AnalyseCondition(ExpTree& tree, const char* contextName,
                                      const char* notBoolean) {
  Analyse(tree, contextName, true);
  if (tree->dataType != kFieldBoolean) RaiseExpressionError(kErrSql, {}, notBoolean);
}

void TQueryExecutor::Progress(std::int64_t step, std::int64_t total, bool& abort) {
  if (!OnProgress) return;
  const int percent = total <= 0 ? 100
                                 : static_cast<int>(std::lround(static_cast<double>(step) * 100.0 /
                                                                static_cast<double>(total)));
  OnProgress(step, percent, abort);
}

// ---- Sub-selects ---------------------------------------------------------------------------

TQueryExecutor::TSubResult& TQueryExecutor::SubResult(const void* block) {
  for (TSubResult& r : FSubResults)
    if (r.block == block) return r;
  TSubResult r;
  r.block = block;
  auto* sub = static_cast<TQueryBlock*>(const_cast<void*>(block));
  r.executor = std::make_unique<TQueryExecutor>(FDirectory, *sub);
  r.executor->Prepare();
  FSubResults.push_back(std::move(r));
  return FSubResults.back();
}

int TQueryExecutor::ResolveSubSelect(TExpToken& node) {
  if (node.subQuery == nullptr) return 0;
  TSubResult& r = SubResult(node.subQuery);
  const std::size_t n = r.executor->ResultColumnCount();
  if (n == 1) {
    const TExpToken& t = r.executor->ResultType(0);
    node.SetType(t.dataType, t.subType, t.size, t.scale);
  }
  return static_cast<int>(n);
}

void TQueryExecutor::RunSubSelects() {
  for (TSubResult& r : FSubResults) {
    r.values.clear();
    TDataCursor* cursor = r.executor->Execute();
    if (cursor == nullptr) continue;
    TDataCursor::TRecordBuffer record(cursor->RecordSize());
    cursor->First();
    while (cursor->Next(&record) == kNavOk) r.values.push_back(ReadFieldValue(*cursor, record, 1));
  }
}

bool TQueryExecutor::SubSelectContains(const TExpToken& subSelect, const TExpToken& value) {
  for (const TSubResult& r : FSubResults) {
    if (r.block != subSelect.subQuery) continue;
    for (const ExpTree& v : r.values) {
      // The rules of =: two NULLs are equal.
      if (value.isNull || v->isNull) {
        if (value.isNull && v->isNull) return true;
        continue;
      }
      if (CompareValues(value, *v, FEval.collation) == 0) return true;
    }
  }
  return false;
}

}  // namespace engine
