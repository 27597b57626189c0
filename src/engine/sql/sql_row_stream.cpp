// A SELECT's rows one at a time (sql_row_stream.h) and the executor's side
// of opening them (sql_executor.h).
#include "engine/sql/sql_row_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/sql/sql_executor.h"
#include "platform/system.h"

namespace engine {

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr const char* kSelectSuffix = " in SELECT statement";
constexpr std::uint8_t kCaseAsWritten = 0;  // a string field's case: as written

// The bytes of a field's slot after its has-value byte, as the record holds them.
std::span<const std::uint8_t> SlotBytes(const TDataCursor::TRecordBuffer& record,
                                        const TFieldDefinition& f) {
  if (f.IsAutoIncrement()) return {record.data() + kRecordAutoIncOffset, sizeof(std::int32_t)};
  const std::uint8_t* slot = record.data() + f.Offset();
  if (slot[0] == 0) return {};
  return {slot + 1, f.StorageSize()};
}

}  // namespace

// ---- Executor ------------------------------------------------------------------------------

bool TQueryExecutor::CanStream() {
  Prepare();
  const TQueryBlock& b = *FBlock;
  return b.kind == TQueryKind::Select && !FLive && !FGrouped && !b.distinct && FOrderKeys.empty() &&
         b.intoName.empty() && FResultCursor != nullptr;
}

std::unique_ptr<TRowStream> TQueryExecutor::OpenRows() {
  EndStream();
  if (!CanStream()) {
    Execute();
    return std::unique_ptr<TRowStream>(new TRowStream(*this, false));
  }
  FRowsAffected = 0;
  const std::uint32_t start = platform::GetTickCount();
  PlanRows(true);
  std::unique_ptr<TRowStream> stream(new TRowStream(*this, true));
  stream->FStart = start;
  return stream;
}

void TQueryExecutor::CopyStreamedRows() {
  std::vector<std::size_t> blobColumns;
  for (std::size_t i = 0; i < FResult.size(); ++i)
    if (FResult[i].type->dataType == kFieldBlob) blobColumns.push_back(i);
  std::vector<std::uint8_t> records;
  std::vector<ExpTree> blobs;  // per row, one per BLOB column
  std::size_t count = 0;
  std::size_t size = 0;
  {
    TRowStream rows(*this, true);
    size = rows.FRecord.size();
    while (rows.Next()) {
      records.insert(records.end(), rows.FRecord.begin(), rows.FRecord.end());
      for (const std::size_t c : blobColumns) blobs.push_back(std::move(rows.FBlobs[c]));
      ++count;
    }
  }
  const bool small = count <= kMemoryResultRows && blobColumns.empty() && FBlock->password.empty();
  ChooseRunResult(small);
  TDataCursor& out = *FRunResult;
  out.Filters().RemoveAll();
  out.EmptyTable();
  TDataCursor::TRecordBuffer record(size);
  for (std::size_t r = 0; r < count; ++r) {
    std::copy_n(records.data() + r * size, size, record.data());
    for (std::size_t k = 0; k < blobColumns.size(); ++k)
      StoreValue(out, record, static_cast<std::uint32_t>(blobColumns[k] + 1),
                 *blobs[r * blobColumns.size() + k], kSelectSuffix, false);
    out.Insert(record, false);
  }
  FRowsAffected = static_cast<std::int32_t>(count);
  out.First();
}

// ---- Stream --------------------------------------------------------------------------------

TRowStream::TRowStream(TQueryExecutor& executor, bool streamed)
    : FExecutor(&executor), FStreamed(streamed) {
  if (!streamed) {
    TDataCursor* result =
        executor.FLive ? &executor.FSources.front()->Cursor() : executor.FRunResult;
    FLayout = result;
    if (result != nullptr) {
      for (const TFieldDefinition& f : result->Fields()) FNames.push_back(f.Name());
      FRecord.assign(result->RecordSize(), 0);
      result->First();
    } else {
      FEnded = true;
    }
    executor.FStream = this;
    return;
  }
  FLayout = executor.FResultCursor.get();
  FRecord = FLayout->NewRecord();
  FBlobs.resize(executor.FResult.size());
  for (std::size_t i = 0; i < executor.FResult.size(); ++i) {
    const TQueryExecutor::TResultColumn& r = executor.FResult[i];
    const TFieldDefinition& out = FLayout->Fields()[i];
    FNames.push_back(r.name);
    TColumnPlan plan;
    if (r.type->dataType == kFieldBlob) {
      plan.kind = TColumnKind::Blob;
    } else if (r.plain) {
      const TFieldDefinition& in = r.source->Cursor().Fields()[r.field - 1];
      const bool same = in.HasSlot() && !out.IsAutoIncrement() && in.Type() == out.Type() &&
                        in.StorageSize() == out.StorageSize();
      // Booleans are stored as 0 or 1 and strings in their field's case:
      // those of another writer may need the storing.
      const bool string = in.Type() == kFieldString && in.CharCase() == out.CharCase() &&
                          out.CharCase() == kCaseAsWritten && in.Size() < in.StorageSize();
      if (same && (string || (in.Type() != kFieldString && in.Type() != kFieldBoolean))) {
        plan.kind = string ? TColumnKind::CopyString : TColumnKind::Copy;
        plan.characters = in.Size();
        plan.source = r.source;
        plan.from = in.Offset();
        plan.to = out.Offset();
        plan.length = 1u + in.StorageSize();
      }
    }
    FPlans.push_back(plan);
  }
  const TQueryBlock& b = *executor.FBlock;
  FLimit = b.maxRowCount;
  FLocks = std::make_unique<TQueryReadLocks>(executor.FSources, b.withLocks);
  FTotal = executor.FRows->DrivingCount();
  executor.FStream = this;
  executor.FRows->Start([this] { FExecutor->Progress(++FStep, FTotal, FAbort); });
}

TRowStream::~TRowStream() {
  End();
}

void TRowStream::End() {
  if (FExecutor == nullptr) return;
  TQueryExecutor& executor = *FExecutor;
  FExecutor = nullptr;
  executor.FStream = nullptr;
  FEnded = true;
  if (!FStreamed) return;
  try {
    executor.FRows->Stop();
    FLocks.reset();
    bool abort = false;
    if (FStep < FTotal && executor.OnProgress) executor.Progress(FTotal, FTotal, abort);
  } catch (...) {
    // Ending never fails: what could not be released goes with the cursors.
  }
  executor.FRowsAffected = static_cast<std::int32_t>(FRows);
  const std::uint32_t end = platform::GetTickCount();
  executor.FExecutionTime = end >= FStart ? static_cast<double>(end - FStart) / kMsPerSecond : 0.0;
}

bool TRowStream::Next() {
  if (FEnded) return false;
  if (!FStreamed) {
    if (FLayout->Next(&FRecord) == kNavOk) {
      ++FRows;
      return true;
    }
    End();
    return false;
  }
  TQueryExecutor& executor = *FExecutor;
  const bool more = !FAbort && (FLimit < 0 || FRows < FLimit) && executor.FRows->Step();
  if (!more) {
    End();
    return false;
  }
  BuildRow();
  ++FRows;
  return true;
}

// One result row from the sources' current records, stored as the result
// table would store it.
void TRowStream::BuildRow() {
  std::uint8_t* record = FRecord.data();
  for (std::size_t i = 0; i < FPlans.size(); ++i) {
    const TColumnPlan& plan = FPlans[i];
    if (plan.kind == TColumnKind::Copy) {
      // A NULL-extended source's buffer is all zeros: the slot copies as NULL.
      std::memcpy(record + plan.to, plan.source->Buffer().data() + plan.from, plan.length);
      continue;
    }
    if (plan.kind == TColumnKind::CopyString && CopyString(plan, record)) continue;
    StoreColumn(i);
  }
}

bool TRowStream::CopyString(const TColumnPlan& plan, std::uint8_t* record) {
  const std::uint8_t* in = plan.source->Buffer().data() + plan.from;
  std::uint8_t* out = record + plan.to;
  if (in[0] == 0) {
    std::memset(out, 0, plan.length);
    return true;
  }
  const void* zero = std::memchr(in + 1, 0, plan.characters);
  if (zero == nullptr) return false;
  const auto length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - in - 1);
  if (length == 0 || in[length] == ' ') return false;
  std::memcpy(out, in, 1 + length);
  std::memset(out + 1 + length, 0, plan.length - 1 - length);
  return true;
}

void TRowStream::StoreColumn(std::size_t i) {
  TQueryExecutor& executor = *FExecutor;
  const TQueryExecutor::TResultColumn& r = executor.FResult[i];
  const TExpToken& e = *r.expression;
  ExpTree value;
  if (r.plain) {
    value = NewToken();
    value->tokenClass = kClassConstant;
    value->SetType(e.dataType, e.subType, e.size, e.scale);
    executor.FColumns->ReadColumn(e, *value);
  } else {
    value = ConvertedTo(*EvaluateExpression(e, executor.FEval), *r.type);
  }
  if (FPlans[i].kind == TColumnKind::Blob) {
    FBlobs[i] = std::move(value);
    return;
  }
  StoreValue(*FLayout, FRecord, static_cast<std::uint32_t>(i + 1), *value, kSelectSuffix, false);
}

bool TRowStream::IsNull(std::size_t i) const {
  if (FStreamed && FPlans.at(i).kind == TColumnKind::Blob) return !FBlobs[i] || FBlobs[i]->isNull;
  return FLayout->IsNull(FRecord, static_cast<std::uint32_t>(i + 1));
}

ExpTree TRowStream::Value(std::size_t i) {
  if (FStreamed && FPlans.at(i).kind == TColumnKind::Blob) {
    ExpTree copy = NewToken();
    const TExpToken& v = *FBlobs[i];
    copy->tokenClass = kClassConstant;
    copy->SetType(v.dataType, v.subType, v.size, v.scale);
    copy->isNull = v.isNull;
    copy->value = v.value;
    return copy;
  }
  return ReadFieldValue(*FLayout, FRecord, static_cast<std::uint32_t>(i + 1));
}

std::span<const std::uint8_t> TRowStream::Bytes(std::size_t i) {
  if (FStreamed && FPlans.at(i).kind == TColumnKind::Blob) {
    const TExpToken& v = *FBlobs[i];
    if (v.isNull) return {};
    return {v.value.data(), v.value.size()};
  }
  return FieldBytes(*FLayout, static_cast<std::uint32_t>(i + 1));
}

std::span<const std::uint8_t> TRowStream::FieldBytes(TDataCursor& layout, std::uint32_t field) {
  const TFieldDefinition& f = layout.Fields().at(field - 1);
  if (f.Type() != kFieldBlob) return SlotBytes(FRecord, f);
  if (layout.IsNull(FRecord, field)) return {};
  FBlobCache = layout.GetBlob(FRecord, field);
  return {FBlobCache.data(), FBlobCache.size()};
}

}  // namespace engine
