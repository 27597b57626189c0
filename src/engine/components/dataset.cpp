// The dataset and field model's state rules (see dataset.h).
#include "engine/components/dataset.h"

#include <cstdio>

#include "engine/components/component_messages.h"
#include "engine/components/file_stream.h"
#include "engine/database_error.h"
#include "engine/files/table_names.h"

namespace engine {

// ---- TField -----------------------------------------------------------------------------

TField::TField(TDataSet& dataSet, std::string fieldName, int fieldNo, TFieldKind kind)
    : FDataSet(dataSet), FFieldName(std::move(fieldName)), FFieldNo(fieldNo), FKind(kind) {}

bool TField::IsNull() const {
  return FDataSet.GetFieldNull(*this);
}
std::string TField::AsString() const {
  return FDataSet.GetFieldString(*this);
}
std::int32_t TField::AsInteger() const {
  return static_cast<std::int32_t>(FDataSet.GetFieldInteger(*this));
}
double TField::AsFloat() const {
  return FDataSet.GetFieldFloat(*this);
}
bool TField::AsBoolean() const {
  return FDataSet.GetFieldInteger(*this) != 0;
}

void TField::SetAsString(const std::string& value) {
  FDataSet.CheckFieldWrite(*this);
  FDataSet.SetFieldString(*this, value);
}
void TField::SetAsInteger(std::int32_t value) {
  FDataSet.CheckFieldWrite(*this);
  FDataSet.SetFieldInteger(*this, value);
}
void TField::SetAsFloat(double value) {
  FDataSet.CheckFieldWrite(*this);
  FDataSet.SetFieldFloat(*this, value);
}
void TField::SetAsBoolean(bool value) {
  FDataSet.CheckFieldWrite(*this);
  FDataSet.SetFieldInteger(*this, value ? 1 : 0);
}
void TField::Clear() {
  FDataSet.CheckFieldWrite(*this);
  FDataSet.SetFieldNull(*this);
}

std::int64_t TField::BlobSize() const {
  if (IsNull()) return 0;
  return FDataSet.GetBlobSize(*this);
}

void TField::ReadBlob(std::vector<std::uint8_t>& into) const {
  if (IsNull()) {
    into.clear();
    return;
  }
  FDataSet.GetBlobBytes(*this, into);
}

void TField::SaveToFile(const std::string& path) const {
  // An existing file is written over and cut behind the BLOB, so that its
  // space is reused instead of freed and allocated again. The BLOB is read
  // whole before the file is touched: a damaged one leaves the file as it was.
  std::vector<std::uint8_t> bytes;
  ReadBlob(bytes);
  TFileStream file(path, TFileStream::TMode::fmRewrite);
  if (file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())) !=
          static_cast<std::int64_t>(bytes.size()) ||
      !file.SetEnd()) {
    throw EFCreateError("Cannot write file \"" + path + "\"");
  }
}

void TField::LoadFromFile(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  auto stream = FDataSet.CreateBlobStream(*this, TBlobStreamMode::bmWrite);
  stream->Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// ---- TDataSet: BLOB access through a read stream -------------------------------------------

std::int64_t TDataSet::GetBlobSize(const TField& field) {
  return CreateBlobStream(const_cast<TField&>(field), TBlobStreamMode::bmRead)->Size();
}

void TDataSet::GetBlobBytes(const TField& field, std::vector<std::uint8_t>& into) {
  into = CreateBlobStream(const_cast<TField&>(field), TBlobStreamMode::bmRead)->ReadAll();
}

// ---- TDataSet: life cycle and fields -----------------------------------------------------

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (!value) {
    Close();
    return;
  }
  if (BeforeOpen) BeforeOpen(*this);
  try {
    InternalOpen();
    FState = TDataSetState::dsBrowse;
    ApplyFilters(FFilterText, FFilterOptions, FFiltered, static_cast<bool>(FOnFilterRecord));
    First();
  } catch (...) {
    FState = TDataSetState::dsInactive;
    InternalClose();
    FFields.clear();
    throw;
  }
  if (AfterOpen) AfterOpen(*this);
}

void TDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) InternalCancel();
  FState = TDataSetState::dsInactive;
  FBof = FEof = true;
  InternalClose();
  FFields.clear();
  if (AfterClose) AfterClose(*this);
}

TField& TDataSet::AddField(std::string name, int fieldNo, TFieldKind kind) {
  // A taken name gets "_1", "_2", ... until it is unique.
  std::string unique = name;
  for (int n = 1; FindField(unique) != nullptr; ++n) unique = name + "_" + std::to_string(n);
  FFields.push_back(std::make_unique<TField>(*this, unique, fieldNo, kind));
  return *FFields.back();
}

TField& TDataSet::Fields(int index) const {
  return *FFields.at(static_cast<std::size_t>(index));
}

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& f : FFields) {
    if (SameText(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (!f) RaiseDatabaseError(kMsgFieldNotFound, name);
  return *f;
}

void TDataSet::CheckActive() const {
  if (!Active()) RaiseDatabaseError(kMsgDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (Active()) RaiseDatabaseError(kMsgDataSetOpen);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) Post();
}

void TDataSet::CheckFieldWrite(const TField& field) const {
  if (FState != TDataSetState::dsEdit && FState != TDataSetState::dsInsert &&
      FState != TDataSetState::dsSetKey) {
    RaiseDatabaseError(kMsgNotEditing);
  }
  if (field.ReadOnly()) RaiseDatabaseError(kMsgFieldReadOnly, field.FieldName());
  if (FState == TDataSetState::dsSetKey && !field.IsIndexField())
    RaiseDatabaseError(kMsgFieldNotIndexed, field.FieldName());
}

// ---- Navigation ---------------------------------------------------------------------------

void TDataSet::SetEnds(bool found, bool bof, bool eof) {
  FBof = !found || bof;
  FEof = !found || eof;
}

void TDataSet::First() {
  CheckBrowseMode();
  SetEnds(InternalFirst(), true, false);
}

void TDataSet::Last() {
  CheckBrowseMode();
  SetEnds(InternalLast(), false, true);
}

void TDataSet::Next() {
  CheckBrowseMode();
  if (FEof) return;
  if (InternalNext()) {
    FBof = false;
  } else {
    FEof = true;
  }
}

void TDataSet::Prior() {
  CheckBrowseMode();
  if (FBof) return;
  if (InternalPrior()) {
    FEof = false;
  } else {
    FBof = true;
  }
}

int TDataSet::MoveBy(int distance) {
  int moved = 0;
  for (; distance > 0 && !FEof; --distance) {
    Next();
    if (!FEof) ++moved;
  }
  for (; distance < 0 && !FBof; ++distance) {
    Prior();
    if (!FBof) --moved;
  }
  return moved;
}

std::int64_t TDataSet::RecordCount() {
  CheckActive();
  return InternalRecordCount();
}

TBookmark TDataSet::GetBookmark() const {
  if (!Active() || IsEmpty()) return 0;
  return InternalBookmark();
}

void TDataSet::GotoBookmark(TBookmark bookmark) {
  CheckBrowseMode();
  if (bookmark == 0) return;
  if (!InternalGotoBookmark(bookmark)) RaiseDatabaseError(kMsgNoRecord);
  FBof = FEof = false;
}

// ---- Editing ------------------------------------------------------------------------------

void TDataSet::Edit() {
  CheckActive();
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) return;
  if (IsEmpty()) {
    Insert();
    return;
  }
  InternalEdit();
  FState = TDataSetState::dsEdit;
}

void TDataSet::Insert() {
  CheckBrowseMode();
  InternalInsert();
  FState = TDataSetState::dsInsert;
  if (OnNewRecord) OnNewRecord(*this);
}

void TDataSet::Post() {
  CheckActive();
  if (FState != TDataSetState::dsEdit && FState != TDataSetState::dsInsert)
    RaiseDatabaseError(kMsgNotEditing);
  if (BeforePost) BeforePost(*this);
  InternalPost();
  FState = TDataSetState::dsBrowse;
  SetEnds(InternalRefresh(), false, false);
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  if (FState != TDataSetState::dsEdit && FState != TDataSetState::dsInsert) return;
  InternalCancel();  // the record before the edit or insert is current again
  FState = TDataSetState::dsBrowse;
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) RaiseDatabaseError(kMsgNoRecord);
  if (FState == TDataSetState::dsEdit) Cancel();
  InternalDelete();
  SetEnds(InternalRefresh(), false, false);
}

// ---- Filters ------------------------------------------------------------------------------

void TDataSet::SetFilter(const std::string& text) {
  if (Active()) {
    CheckBrowseMode();
    if (text != FFilterText)
      ApplyFilters(text, FFilterOptions, FFiltered, static_cast<bool>(FOnFilterRecord));
  }
  FFilterText = text;
  if (Active() && FFiltered) First();
}

void TDataSet::SetFilterOptions(const TFilterOptionSet& options) {
  if (Active()) {
    CheckBrowseMode();
    if (!(options == FFilterOptions))
      ApplyFilters(FFilterText, options, FFiltered, static_cast<bool>(FOnFilterRecord));
  }
  FFilterOptions = options;
  if (Active() && FFiltered) First();
}

void TDataSet::SetFiltered(bool value) {
  if (Active()) {
    CheckBrowseMode();
    if (value != FFiltered)
      ApplyFilters(FFilterText, FFilterOptions, value, static_cast<bool>(FOnFilterRecord));
  }
  FFiltered = value;
  if (Active()) First();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  const bool had = static_cast<bool>(FOnFilterRecord);
  FOnFilterRecord = std::move(handler);
  const bool has = static_cast<bool>(FOnFilterRecord);
  if (Active() && had != has) {
    CheckBrowseMode();
    ApplyFilters(FFilterText, FFilterOptions, FFiltered, has);
    if (FFiltered) First();
  }
}

}  // namespace engine
