// BLOB streams on a dataset's record buffer (see zorvad_blob_stream.h).
#include "engine/components/zorvad_blob_stream.h"

#include "engine/components/component_messages.h"
#include "engine/components/zorvad_dataset.h"
#include "engine/database_error.h"

namespace engine {

TZORVADBlobStream::TZORVADBlobStream(TZORVADDataSet& dataSet, TField& field, TBlobStreamMode mode)
    : FDataSet(dataSet), FField(field), FFieldNo(static_cast<std::uint32_t>(field.FieldNo())) {
  TDataCursor& cursor = *dataSet.Handle();
  const bool writing = mode != TBlobStreamMode::bmRead;
  if (writing) {
    if (field.ReadOnly()) RaiseDatabaseError(kMsgFieldReadOnly, field.FieldName());
    if (dataSet.State() != TDataSetState::dsEdit && dataSet.State() != TDataSetState::dsInsert)
      RaiseDatabaseError(kMsgNotEditing);
  }
  if (!cursor.Table()->HasBlobs()) Raise(kErrInvalidBlobField);
  auto& record = dataSet.ActiveBuffer();
  const bool alreadyOpen =
      cursor.Blobs().Holds(cursor.Fields(), FFieldNo, record.data(), record.size());
  if (!alreadyOpen) {
    const int code = cursor.Blobs().Open(&cursor, &cursor.Table()->BlobFile(), cursor.Fields(),
                                         FFieldNo, record.data(), record.size());
    if (code != 0) Raise(code);
    FOpened = true;
  }
  if (mode == TBlobStreamMode::bmWrite) {
    const int code =
        cursor.Blobs().Truncate(cursor.Fields(), FFieldNo, record.data(), record.size(), 0);
    if (code != 0) Raise(code);
    FWritten = true;
  }
}

TZORVADBlobStream::~TZORVADBlobStream() {
  if (FWritten || !FOpened || !FDataSet.Handle()) return;
  auto& record = FDataSet.ActiveBuffer();
  FDataSet.Handle()->Blobs().Close(FDataSet.Handle()->Fields(), FFieldNo, record.data(),
                                   record.size());
}

void TZORVADBlobStream::Raise(int code) const {
  RaiseEngineError(code, FDataSet.Handle()->Name(), FField.FieldName());
}

std::int64_t TZORVADBlobStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  TDataCursor& cursor = *FDataSet.Handle();
  auto& record = FDataSet.ActiveBuffer();
  std::uint32_t done = 0;
  const int code =
      cursor.Blobs().Read(cursor.Fields(), FFieldNo, record.data(), record.size(),
                          static_cast<std::uint32_t>(FPosition), static_cast<std::uint32_t>(count),
                          static_cast<std::uint8_t*>(buffer), done);
  if (code == kErrInvalidBlobOffset) return 0;
  if (code != 0 && code != kErrBlobEndPremature) Raise(code);
  FPosition += done;
  return done;
}

std::int64_t TZORVADBlobStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  TDataCursor& cursor = *FDataSet.Handle();
  auto& record = FDataSet.ActiveBuffer();
  const int code =
      cursor.Blobs().Write(cursor.Fields(), FFieldNo, record.data(), record.size(),
                           static_cast<std::uint32_t>(FPosition), static_cast<std::uint32_t>(count),
                           static_cast<const std::uint8_t*>(buffer));
  if (code != 0) Raise(code);
  FPosition += count;
  FWritten = true;
  return count;
}

std::int64_t TZORVADBlobStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                            : origin == TSeekOrigin::soCurrent ? FPosition
                                                               : Size();
  FPosition = base + offset;
  return FPosition;
}

std::int64_t TZORVADBlobStream::Size() {
  TDataCursor& cursor = *FDataSet.Handle();
  auto& record = FDataSet.ActiveBuffer();
  std::uint32_t size = 0;
  const int code =
      cursor.Blobs().Size(cursor.Fields(), FFieldNo, record.data(), record.size(), size);
  if (code != 0) Raise(code);
  return size;
}

}  // namespace engine
