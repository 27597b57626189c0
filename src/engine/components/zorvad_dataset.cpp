// The dataset over an engine cursor (see zorvad_dataset.h).
#include "engine/components/zorvad_dataset.h"

#include <cstdio>
#include <cstring>

#include "engine/components/component_messages.h"
#include "engine/components/zorvad_blob_stream.h"
#include "engine/database_error.h"
#include "engine/table/data_table_values.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_text.h"

namespace engine {
namespace {

// Digits of a float shown as text: enough to read the same double back.
constexpr int kFloatTextDigits = 15;

int FilterBits(const TFilterOptionSet& options) {
  return (options.foCaseInsensitive ? kFilterOptionCaseInsensitive : 0) |
         (options.foNoPartialCompare ? kFilterOptionNoPartialCompare : 0);
}

}  // namespace

TZORVADDataSet::~TZORVADDataSet() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
}

const TDataCursor::TRecordBuffer& TZORVADDataSet::ActiveBuffer() const {
  return State() == TDataSetState::dsFilter ? FFilterRecord : FRecord;
}

TDataCursor::TRecordBuffer& TZORVADDataSet::ActiveBuffer() {
  return State() == TDataSetState::dsFilter ? FFilterRecord : FRecord;
}

// ---- Opening and closing -----------------------------------------------------------------

void TZORVADDataSet::InternalOpen() {
  bool owned = true;
  TDataCursor* cursor = CreateHandle(owned);
  if (cursor == nullptr) {
    HandleClosed();
    RaiseDatabaseError(kMsgNoTableHandle);
  }
  FCursor = cursor;
  if (owned) FOwnedCursor.reset(cursor);
  const TFieldDefinitions& defs = FCursor->Fields();
  for (std::size_t i = 0; i < defs.size(); ++i) {
    const TFieldDefinition& def = defs[i];
    if (def.NotStored() || def.Hidden()) continue;
    const std::optional<TFieldKind> kind = FieldKindOf(def);
    if (!kind) continue;
    TField& field = AddField(def.Name(), static_cast<int>(i + 1), *kind);
    if (AutoDisplayLabels && !def.Description().empty()) field.SetDisplayLabel(def.Description());
    field.SetReadOnly(FCursor->ReadOnly() || kind->type == ftAutoInc);
  }
  FRecord.assign(FCursor->RecordSize(), 0);
  FRecNo = 0;
}

void TZORVADDataSet::InternalClose() {
  DropFilters();
  if (FCursor) FCursor->Blobs().FreeAll();
  FOwnedCursor.reset();
  FCursor = nullptr;
  FRecord.clear();
  FSaved.clear();
  FRecNo = 0;
  HandleClosed();
}

void TZORVADDataSet::DropFilters() {
  if (FCursor && FCursor->IsOpen()) {
    if (FExprFilter) FCursor->Filters().Remove(FExprFilter);
    if (FRecordFilter) FCursor->Filters().Remove(FRecordFilter);
  }
  FExprFilter = FRecordFilter = nullptr;
  FCompiledText.clear();
  FCompiledOptions = {};
}

// ---- Navigation ---------------------------------------------------------------------------

bool TZORVADDataSet::Fetched(int code) {
  if (code == kNavOk) {
    FRecNo = FCursor->CurrentRecordNumber();
    return true;
  }
  if (code == kErrBeginOfFile || code == kErrEndOfFile || code == kErrNoCurrentRecord) return false;
  CheckErrorCode(code);
  return false;
}

bool TZORVADDataSet::InternalFirst() {
  FCursor->First();
  TDataCursor::TRecordBuffer r;
  if (!Fetched(FCursor->Next(&r))) return false;
  FRecord = std::move(r);
  return true;
}

bool TZORVADDataSet::InternalLast() {
  FCursor->Last();
  TDataCursor::TRecordBuffer r;
  if (!Fetched(FCursor->Prior(&r))) return false;
  FRecord = std::move(r);
  return true;
}

bool TZORVADDataSet::InternalNext() {
  TDataCursor::TRecordBuffer r;
  if (Fetched(FCursor->Next(&r))) {
    FRecord = std::move(r);
    return true;
  }
  FCursor->Prior();  // back onto the last record, which stays current
  return false;
}

bool TZORVADDataSet::InternalPrior() {
  TDataCursor::TRecordBuffer r;
  if (Fetched(FCursor->Prior(&r))) {
    FRecord = std::move(r);
    return true;
  }
  FCursor->Next();  // back onto the first record
  return false;
}

std::int64_t TZORVADDataSet::InternalRecordCount() {
  return FCursor->RecordCount();
}

bool TZORVADDataSet::InternalGotoBookmark(TBookmark bookmark) {
  const std::int32_t previous = FRecNo;
  for (const std::int32_t wanted : {bookmark, previous}) {
    FCursor->First();
    TDataCursor::TRecordBuffer r;
    while (FCursor->Next(&r) == kNavOk) {
      if (FCursor->CurrentRecordNumber() != wanted) continue;
      FRecord = std::move(r);
      FRecNo = wanted;
      return wanted == bookmark;
    }
  }
  return false;
}

// ---- Editing ------------------------------------------------------------------------------

void TZORVADDataSet::InternalEdit() {
  TDataCursor::TRecordBuffer fresh;
  CheckErrorCode(FCursor->ReadCurrent(&fresh, true, &FRecord));
  FRecord = std::move(fresh);
}

void TZORVADDataSet::InternalInsert() {
  FSaved = FRecord;
  FRecord = CopyOnAppend && !IsEmpty() ? FCursor->CopyRecord() : FCursor->NewRecord();
}

void TZORVADDataSet::InternalPost() {
  if (State() == TDataSetState::dsEdit) {
    FCursor->Modify(FRecord);
  } else {
    FCursor->Insert(FRecord);
  }
}

void TZORVADDataSet::DiscardBlobChanges() {
  const TFieldDefinitions& defs = FCursor->Fields();
  for (std::uint32_t i = 1; i <= defs.size(); ++i) {
    if (defs[i - 1].Type() != kFieldBlob) continue;
    // 10030 for a field whose BLOB is not open: nothing to discard.
    FCursor->Blobs().Close(defs, i, FRecord.data(), FRecord.size());
  }
}

void TZORVADDataSet::InternalCancel() {
  DiscardBlobChanges();
  if (State() == TDataSetState::dsEdit) {
    FCursor->UnlockRecord();
    TDataCursor::TRecordBuffer r;
    if (Fetched(FCursor->ReadCurrent(&r))) FRecord = std::move(r);
  } else {
    FRecord = std::move(FSaved);
    FSaved.clear();
  }
}

void TZORVADDataSet::InternalDelete() {
  FCursor->Delete(FRecord);
}

bool TZORVADDataSet::InternalRefresh() {
  // After a delete the cursor stands on the record after the deleted one, or
  // at the end when it was the last: then the new last one becomes current.
  TDataCursor::TRecordBuffer r;
  if (Fetched(FCursor->ReadCurrent(&r)) || Fetched(FCursor->Next(&r)) ||
      Fetched(FCursor->Prior(&r))) {
    FRecord = std::move(r);
    return true;
  }
  return false;
}

// ---- Filters ------------------------------------------------------------------------------

bool TZORVADDataSet::RecordFilterAccepts(const std::vector<std::uint8_t>& record, std::int32_t) {
  if (!OnFilterRecord()) return true;
  const TDataSetState saved = State();
  FFilterRecord = record;
  SetState(TDataSetState::dsFilter);
  bool accept = true;
  try {
    OnFilterRecord()(*this, accept);
  } catch (...) {
    SetState(saved);
    throw;
  }
  SetState(saved);
  return accept;
}

void TZORVADDataSet::ApplyFilters(const std::string& text, const TFilterOptionSet& options,
                                  bool filtered, bool recordFilter) {
  TFilterList& list = FCursor->Filters();
  const bool compiled = FExprFilter != nullptr || FCompiledText.empty();
  if (text != FCompiledText || !(options == FCompiledOptions) || !compiled) {
    // Compiled first, so that a text that does not compile changes nothing.
    TFilterHandle fresh =
        text.empty() ? nullptr : list.AddText(text, TFilterOptions::FromBits(FilterBits(options)));
    if (FExprFilter) list.Remove(FExprFilter);
    FExprFilter = fresh;
    FCompiledText = text;
    FCompiledOptions = options;
  }
  if (recordFilter && !FRecordFilter) {
    TFilterOptions o;
    o.ordering = true;
    FRecordFilter = list.AddProcedure(
        [](void* self, const std::vector<std::uint8_t>& record, std::int32_t n) {
          return static_cast<TZORVADDataSet*>(self)->RecordFilterAccepts(record, n);
        },
        this, o);
  } else if (!recordFilter && FRecordFilter) {
    list.Remove(FRecordFilter);
    FRecordFilter = nullptr;
  }
  for (TFilterHandle h : {FExprFilter, FRecordFilter}) {
    if (h == nullptr) continue;
    if (filtered && !h->Active()) list.Activate(h);
    if (!filtered && h->Active()) list.Deactivate(h);
  }
}

// ---- Field values -------------------------------------------------------------------------

bool TZORVADDataSet::GetFieldNull(const TField& field) const {
  CheckActive();
  return FCursor->IsNull(ActiveBuffer(), static_cast<std::uint32_t>(field.FieldNo()));
}

std::string TZORVADDataSet::GetFieldString(const TField& field) const {
  CheckActive();
  const auto no = static_cast<std::uint32_t>(field.FieldNo());
  const TDataCursor::TRecordBuffer& r = ActiveBuffer();
  if (FCursor->IsNull(r, no)) return {};
  const FormatSettings& formats = CurrentFormatSettings();
  switch (field.DataType()) {
    case ftString:
      return FCursor->GetString(r, no);
    case ftBoolean:
      return FCursor->GetInteger(r, no) != 0 ? "True" : "False";
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      char text[64];
      std::snprintf(text, sizeof text, "%.*g", kFloatTextDigits, FCursor->GetDouble(r, no));
      return text;
    }
    case ftDate:
      return FormatDate(static_cast<std::int32_t>(FCursor->GetInteger(r, no)), formats);
    case ftTime:
      return FormatTime(static_cast<std::int32_t>(FCursor->GetInteger(r, no)), formats);
    case ftDateTime:
      return FormatTimestamp(FCursor->GetDouble(r, no), formats);
    default:
      break;
  }
  if (field.IsBlob()) {
    // A BLOB changed in the buffer is read from its open buffer, and left open.
    std::vector<std::uint8_t> bytes;
    const_cast<TZORVADDataSet*>(this)->GetBlobBytes(field, bytes);
    return {bytes.begin(), bytes.end()};
  }
  if (field.DataType() == ftBytes || field.DataType() == ftVarBytes) {
    const std::vector<std::uint8_t> bytes = FCursor->GetField(r, no);
    return {bytes.begin(), bytes.end()};
  }
  return std::to_string(FCursor->GetInteger(r, no));
}

std::int64_t TZORVADDataSet::GetFieldInteger(const TField& field) const {
  CheckActive();
  return FCursor->GetInteger(ActiveBuffer(), static_cast<std::uint32_t>(field.FieldNo()));
}

double TZORVADDataSet::GetFieldFloat(const TField& field) const {
  CheckActive();
  return FCursor->GetDouble(ActiveBuffer(), static_cast<std::uint32_t>(field.FieldNo()));
}

void TZORVADDataSet::SetFieldString(const TField& field, const std::string& value) {
  const auto no = static_cast<std::uint32_t>(field.FieldNo());
  if (field.DataType() == ftString) {
    FCursor->PutString(FRecord, no, value);
    return;
  }
  if (field.IsBlob()) {
    FCursor->PutBlob(FRecord, no, value.data(), value.size());
    return;
  }
  if (value.empty()) {
    FCursor->PutNull(FRecord, no);
    return;
  }
  const TFieldDefinition& def = FCursor->Fields().at(no - 1);
  const auto stored = FieldValueFromText(def, value, TValueTextUse::kBound, CurrentLocalDateTime());
  if (!stored)
    throw EDatabaseError("'" + value + "' is not a valid value for field '" + field.FieldName() +
                         "'");
  FCursor->PutField(FRecord, no, stored->data(), stored->size());
}

void TZORVADDataSet::SetFieldInteger(const TField& field, std::int64_t value) {
  FCursor->PutInteger(FRecord, static_cast<std::uint32_t>(field.FieldNo()), value);
}

void TZORVADDataSet::SetFieldFloat(const TField& field, double value) {
  FCursor->PutDouble(FRecord, static_cast<std::uint32_t>(field.FieldNo()), value);
}

void TZORVADDataSet::SetFieldNull(const TField& field) {
  const auto no = static_cast<std::uint32_t>(field.FieldNo());
  if (field.IsBlob()) {
    // A BLOB open in this buffer goes first, its changes dropped.
    FCursor->Blobs().Close(FCursor->Fields(), no, FRecord.data(), FRecord.size());
  }
  FCursor->PutNull(FRecord, no);
}

std::unique_ptr<TStream> TZORVADDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  CheckActive();
  return std::make_unique<TZORVADBlobStream>(*this, field, mode);
}

std::int64_t TZORVADDataSet::BlobSize(const TField& field) {
  CheckActive();
  TDataCursor& cursor = *FCursor;
  if (!cursor.Table()->HasBlobs())
    RaiseEngineError(kErrInvalidBlobField, cursor.Name(), field.FieldName());
  auto& record = ActiveBuffer();
  std::uint32_t size = 0;
  const int code = cursor.Blobs().StoredSize(&cursor, &cursor.Table()->BlobFile(), cursor.Fields(),
                                             static_cast<std::uint32_t>(field.FieldNo()),
                                             record.data(), record.size(), size);
  if (code != 0) RaiseEngineError(code, cursor.Name(), field.FieldName());
  return size;
}

void TZORVADDataSet::GetBlobBytes(const TField& field, std::vector<std::uint8_t>& into) {
  CheckActive();
  TDataCursor& cursor = *FCursor;
  if (!cursor.Table()->HasBlobs())
    RaiseEngineError(kErrInvalidBlobField, cursor.Name(), field.FieldName());
  // Copies the BLOB into `into`; `into` keeps its capacity.
  class VectorSink : public TBlobSink {
   public:
    VectorSink(std::vector<std::uint8_t>& into, const std::string& table)
        : into_(into), table_(table) {}
    void Begin(std::uint32_t length) override {
      WithinMemory(table_, [&] { into_.resize(length); });
      at_ = 0;
    }
    void Take(const std::uint8_t* data, std::uint32_t count) override {
      std::memcpy(into_.data() + at_, data, count);
      at_ += count;
    }

   private:
    std::vector<std::uint8_t>& into_;
    const std::string& table_;
    std::size_t at_ = 0;
  } sink(into, cursor.Name());
  auto& record = ActiveBuffer();
  const int code = cursor.Blobs().ReadWhole(&cursor, &cursor.Table()->BlobFile(), cursor.Fields(),
                                            static_cast<std::uint32_t>(field.FieldNo()),
                                            record.data(), record.size(), sink);
  if (code != 0) RaiseEngineError(code, cursor.Name(), field.FieldName());
}

}  // namespace engine
