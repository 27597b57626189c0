// A cursor's open BLOBs: loading a chain into a buffer, the buffer operations,
// and storing modified buffers when the record is posted. See blob_buffer.h
// for the codes and blob_file.h for the chain format.
#include "engine/table/blob_buffer.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/errors.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"

namespace engine {
namespace {

constexpr std::size_t kSlotFlag = 0;      // null flag: 1 = value present
constexpr std::size_t kSlotPosition = 1;  // int32 first block, or -handle while open
constexpr std::size_t kSlotId = 5;        // int32 BLOB id
constexpr std::size_t kSlotSize = 9;
constexpr std::uint64_t kMaxBlobLength = INT32_MAX;  // bytes; the total is an int32

// Records the code of an engine error raised inside and answers it.
template <class F>
int AnswerCode(F&& body) {
  try {
    body();
    return 0;
  } catch (const EZORVADEngineError& e) {
    return e.ErrorCode();
  }
}

}  // namespace

int TBlobBufferSet::OpenCount() const {
  return static_cast<int>(
      std::count_if(buffers_.begin(), buffers_.end(), [](const auto& b) { return b != nullptr; }));
}

void TBlobBufferSet::FreeAll() {
  for (auto& b : buffers_) b.reset();
}

const TBlobBuffer* TBlobBufferSet::Find(std::int32_t handle) const {
  if (handle < 1 || handle > kMaxOpenBlobs) return nullptr;
  return buffers_[static_cast<std::size_t>(handle - 1)].get();
}

int TBlobBufferSet::SlotOffset(const TFieldDefinitions& fields, std::uint32_t field,
                               std::size_t recordSize) const {
  if (field < 1 || field > fields.size()) return -kErrInvalidBlobField;
  const TFieldDefinition& f = fields[field - 1];
  if (f.Type() != kFieldBlob || f.Offset() + kSlotSize > recordSize) return -kErrInvalidBlobField;
  return f.Offset();
}

int TBlobBufferSet::CheckedSlotOffset(const TFieldDefinitions& fields, std::uint32_t field,
                                      std::size_t recordSize) const {
  const int offset = SlotOffset(fields, field, recordSize);
  if (offset < 0) {
    const std::string name =
        field >= 1 && field <= fields.size() ? fields[field - 1].Name() : std::string();
    RaiseEngineError(kErrInvalidBlobField, tableName_, name);
  }
  return offset;
}

TBlobBuffer* TBlobBufferSet::FromSlot(const std::uint8_t* slot) const {
  const std::int32_t position = bytes::GetI32(slot + kSlotPosition);
  if (position >= 0 || position < -kMaxOpenBlobs) return nullptr;
  return buffers_[static_cast<std::size_t>(-position - 1)].get();
}

int TBlobBufferSet::Locate(const TFieldDefinitions& fields, std::uint32_t field,
                           const std::uint8_t* record, std::size_t recordSize,
                           TBlobBuffer*& buffer) const {
  const int offset = SlotOffset(fields, field, recordSize);
  if (offset < 0) {
    const std::string name =
        field >= 1 && field <= fields.size() ? fields[field - 1].Name() : std::string();
    return AnswerCode([&] { RaiseEngineError(kErrInvalidBlobField, tableName_, name); });
  }
  buffer = FromSlot(record + offset);
  if (buffer == nullptr || buffer->field != field) {
    return AnswerCode([&] { RaiseEngineError(kErrInvalidBlobHandle, tableName_); });
  }
  return 0;
}

int TBlobBufferSet::Open(TDataCursor* cursor, TBlobFile* file, const TFieldDefinitions& fields,
                         std::uint32_t field, std::uint8_t* record, std::size_t recordSize,
                         int openerMark) {
  return AnswerCode([&] {
    const int offset = CheckedSlotOffset(fields, field, recordSize);
    std::uint8_t* slot = record + offset;
    const std::int32_t position = bytes::GetI32(slot + kSlotPosition);
    if (position < 0) {
      TBlobBuffer* existing = FromSlot(slot);
      if (existing == nullptr || existing->field != field)
        RaiseEngineError(kErrInvalidBlobOffset, tableName_);
      return;  // already open through this cursor: reuse it
    }
    auto free = std::find(buffers_.begin(), buffers_.end(), nullptr);
    if (free == buffers_.end()) RaiseEngineError(kErrTooManyBlobs, tableName_);
    auto buffer = std::make_unique<TBlobBuffer>();
    buffer->handle = static_cast<std::int32_t>(free - buffers_.begin()) + 1;
    buffer->field = field;
    buffer->firstPosition = position;
    buffer->blobId = bytes::GetI32(slot + kSlotId);
    buffer->recordNumber = bytes::GetI32(record + kRecordLinkOffset);
    buffer->openerMark = openerMark;
    if (position != 0) {
      if (file == nullptr) RaiseEngineError(kErrBlobBufferCorrupt, tableName_);
      const int code = Load(cursor, *file, *buffer);
      if (code != 0) RaiseErrorCode(code);
    }
    bytes::PutI32(slot + kSlotPosition, -buffer->handle);
    *free = std::move(buffer);
  });
}

int TBlobBufferSet::Load(TDataCursor* cursor, TBlobFile& file, TBlobBuffer& buffer) {
  // Copies the chain's bytes into the buffer's content.
  class ContentSink : public TBlobSink {
   public:
    ContentSink(std::vector<std::uint8_t>& content, const std::string& table)
        : content_(content), table_(table) {}
    void Begin(std::uint32_t length) override {
      WithinMemory(table_, [&] { content_.resize(length); });
      at_ = 0;
    }
    void Take(const std::uint8_t* data, std::uint32_t count) override {
      std::memcpy(content_.data() + at_, data, count);
      at_ += count;
    }

   private:
    std::vector<std::uint8_t>& content_;
    const std::string& table_;
    std::size_t at_ = 0;
  } sink(buffer.content, tableName_);
  return AnswerCode([&] {
    file.ReadChain(cursor, buffer.firstPosition, buffer.blobId, tableName_, sink);
    buffer.modified = false;
  });
}

int TBlobBufferSet::ReadWhole(TDataCursor* cursor, TBlobFile* file, const TFieldDefinitions& fields,
                              std::uint32_t field, const std::uint8_t* record,
                              std::size_t recordSize, TBlobSink& sink) {
  return AnswerCode([&] {
    const int offset = CheckedSlotOffset(fields, field, recordSize);
    const std::uint8_t* slot = record + offset;
    const std::int32_t position = bytes::GetI32(slot + kSlotPosition);
    if (position < 0) {
      // Open in this record buffer: its bytes, changed or not, are the value.
      const TBlobBuffer* open = FromSlot(slot);
      if (open == nullptr || open->field != field)
        RaiseEngineError(kErrInvalidBlobOffset, tableName_);
      sink.Begin(static_cast<std::uint32_t>(open->content.size()));
      if (!open->content.empty())
        sink.Take(open->content.data(), static_cast<std::uint32_t>(open->content.size()));
      return;
    }
    if (position == 0) {
      sink.Begin(0);
      return;
    }
    if (file == nullptr) RaiseEngineError(kErrBlobBufferCorrupt, tableName_);
    file->ReadChain(cursor, position, bytes::GetI32(slot + kSlotId), tableName_, sink);
  });
}

int TBlobBufferSet::Read(const TFieldDefinitions& fields, std::uint32_t field,
                         const std::uint8_t* record, std::size_t recordSize, std::uint32_t offset,
                         std::uint32_t count, std::uint8_t* destination, std::uint32_t& done) {
  done = 0;
  TBlobBuffer* buffer = nullptr;
  if (const int code = Locate(fields, field, record, recordSize, buffer)) return code;
  const std::size_t length = buffer->content.size();
  const std::size_t from = std::min<std::size_t>(offset, length);
  done = static_cast<std::uint32_t>(std::min<std::size_t>(count, length - from));
  if (done != 0) std::memcpy(destination, buffer->content.data() + from, done);
  if (static_cast<std::uint64_t>(offset) + count > length)
    return AnswerCode([&] { RaiseEngineError(kErrBlobEndPremature, tableName_); });
  return 0;
}

int TBlobBufferSet::Write(const TFieldDefinitions& fields, std::uint32_t field,
                          std::uint8_t* record, std::size_t recordSize, std::uint32_t offset,
                          std::uint32_t count, const std::uint8_t* source) {
  TBlobBuffer* buffer = nullptr;
  if (const int code = Locate(fields, field, record, recordSize, buffer)) return code;
  const std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
  if (end > kMaxBlobLength)
    return AnswerCode([&] { RaiseEngineError(kErrInvalidBlobLength, tableName_); });
  if (end > buffer->content.size() && offset == buffer->content.size()) {
    // Appending (the usual way a BLOB is filled): copy in without zero-filling first.
    WithinMemory(tableName_,
                 [&] { buffer->content.insert(buffer->content.end(), source, source + count); });
    buffer->modified = true;
  } else {
    if (end > buffer->content.size()) {
      WithinMemory(tableName_, [&] { buffer->content.resize(end, 0); });
      buffer->modified = true;
    }
    if (count != 0) std::memcpy(buffer->content.data() + offset, source, count);
  }
  record[fields[field - 1].Offset() + kSlotFlag] = 1;
  return 0;
}

int TBlobBufferSet::Truncate(const TFieldDefinitions& fields, std::uint32_t field,
                             std::uint8_t* record, std::size_t recordSize, std::uint32_t length) {
  TBlobBuffer* buffer = nullptr;
  if (const int code = Locate(fields, field, record, recordSize, buffer)) return code;
  if (length > kMaxBlobLength)
    return AnswerCode([&] { RaiseEngineError(kErrInvalidBlobLength, tableName_); });
  if (length != buffer->content.size()) {
    WithinMemory(tableName_, [&] { buffer->content.resize(length, 0); });
    buffer->modified = true;
  }
  return 0;
}

int TBlobBufferSet::Size(const TFieldDefinitions& fields, std::uint32_t field,
                         const std::uint8_t* record, std::size_t recordSize, std::uint32_t& size) {
  size = 0;
  TBlobBuffer* buffer = nullptr;
  if (const int code = Locate(fields, field, record, recordSize, buffer)) return code;
  size = static_cast<std::uint32_t>(buffer->content.size());
  return 0;
}

bool TBlobBufferSet::Holds(const TFieldDefinitions& fields, std::uint32_t field,
                           const std::uint8_t* record, std::size_t recordSize) const {
  const int offset = SlotOffset(fields, field, recordSize);
  if (offset < 0) return false;
  const TBlobBuffer* buffer = FromSlot(record + offset);
  return buffer != nullptr && buffer->field == field;
}

int TBlobBufferSet::StoredSize(TDataCursor* cursor, TBlobFile* file,
                               const TFieldDefinitions& fields, std::uint32_t field,
                               const std::uint8_t* record, std::size_t recordSize,
                               std::uint32_t& size) {
  size = 0;
  return AnswerCode([&] {
    const int offset = CheckedSlotOffset(fields, field, recordSize);
    const std::uint8_t* slot = record + offset;
    const std::int32_t position = bytes::GetI32(slot + kSlotPosition);
    if (position < 0) {
      const TBlobBuffer* existing = FromSlot(slot);
      if (existing == nullptr || existing->field != field)
        RaiseEngineError(kErrInvalidBlobOffset, tableName_);
      size = static_cast<std::uint32_t>(existing->content.size());
      return;
    }
    if (position == 0) return;
    if (file == nullptr) RaiseEngineError(kErrBlobBufferCorrupt, tableName_);
    const std::int32_t blobId = bytes::GetI32(slot + kSlotId);
    for (;;) {  // repeated when a cache miss found changes by another user
      TBlock* block = file->GetBlock(cursor, position, 1, false);
      if (block == nullptr) continue;
      struct Unpin {
        TBlobFile& file;
        TBlock* block;
        ~Unpin() { file.ReleaseBlock(block); }
      } unpin{*file, block};
      if (block->blobId != blobId) RaiseEngineError(kErrRecordChanged, tableName_);
      // The same bound as loading puts on a damaged total.
      const std::int64_t blocks = (file->EndPosition() - kBlobHeaderSize) / file->BlockSize();
      if (block->total < 0 || block->total > blocks * file->DataSize())
        RaiseEngineError(kErrBlobBufferCorrupt, tableName_);
      size = static_cast<std::uint32_t>(block->total);
      return;
    }
  });
}

int TBlobBufferSet::Close(const TFieldDefinitions& fields, std::uint32_t field,
                          std::uint8_t* record, std::size_t recordSize, int closerMark) {
  TBlobBuffer* buffer = nullptr;
  if (const int code = Locate(fields, field, record, recordSize, buffer)) return code;
  if (buffer->openerMark != closerMark) return 0;
  bytes::PutI32(record + fields[field - 1].Offset() + kSlotPosition, buffer->firstPosition);
  buffers_[static_cast<std::size_t>(buffer->handle - 1)].reset();
  return 0;
}

// ---- Storing at post ---------------------------------------------------------

void TBlobBufferSet::Store(TDataCursor* cursor, TDataFile& data, TBlobFile& file,
                           const TFieldDefinitions& fields, std::uint8_t* record,
                           std::size_t recordSize) {
  std::vector<TBlobBuffer*> modified;
  for (auto& b : buffers_) {
    if (b != nullptr && b->modified) modified.push_back(b.get());
  }
  for (TBlobBuffer* b : modified) {
    if (b->recordNumber != modified.front()->recordNumber)
      RaiseEngineError(kErrBlobBufferCorrupt, tableName_);
  }
  // Every modified buffer gets its new id first, then the chains are written.
  // A store that raises leaves the buffers and the record's ids as they were:
  // the table forgets the blocks it changed, so a buffer must not keep a
  // first position or id that only the failed store gave it.
  const auto slotOf = [&](const TBlobBuffer* b) -> std::uint8_t* {
    if (b->field >= 1 && b->field <= fields.size() &&
        fields[b->field - 1].Offset() + kSlotSize <= recordSize)
      return record + fields[b->field - 1].Offset();
    return nullptr;
  };
  std::vector<std::int32_t> oldIds;
  std::vector<std::int32_t> oldFirst;
  for (TBlobBuffer* b : modified) {
    oldIds.push_back(b->blobId);
    oldFirst.push_back(b->firstPosition);
  }
  try {
    for (TBlobBuffer* b : modified) {
      b->blobId = data.NextBlobId();
      if (std::uint8_t* slot = slotOf(b)) bytes::PutI32(slot + kSlotId, b->blobId);
    }
    for (std::size_t i = 0; i < modified.size(); ++i)
      StoreOne(cursor, file, *modified[i], oldIds[i], modified[i]->blobId);
  } catch (...) {
    for (std::size_t i = 0; i < modified.size(); ++i) {
      modified[i]->blobId = oldIds[i];
      modified[i]->firstPosition = oldFirst[i];
      if (std::uint8_t* slot = slotOf(modified[i])) bytes::PutI32(slot + kSlotId, oldIds[i]);
    }
    throw;
  }
  for (TBlobBuffer* b : modified) b->modified = false;

  // Put the first positions back into every slot that refers to a buffer, and
  // free those buffers: the record no longer names them.
  for (std::uint32_t field = 1; field <= fields.size(); ++field) {
    const int offset = SlotOffset(fields, field, recordSize);
    if (offset < 0) continue;
    TBlobBuffer* b = FromSlot(record + offset);
    if (b == nullptr) continue;
    bytes::PutI32(record + offset + kSlotPosition, b->firstPosition);
    bytes::PutI32(record + offset + kSlotId, b->blobId);
    buffers_[static_cast<std::size_t>(b->handle - 1)].reset();
  }
}

void TBlobBufferSet::StoreOne(TDataCursor* cursor, TBlobFile& file, TBlobBuffer& buffer,
                              std::int32_t oldId, std::int32_t newId) {
  const std::string& table = tableName_;
  const std::size_t length = buffer.content.size();
  if (length == 0) {
    if (buffer.firstPosition != 0)
      file.FreeChain(cursor, false, false, buffer.recordNumber, oldId, buffer.firstPosition);
    buffer.firstPosition = 0;
    return;
  }
  const std::uint32_t dataSize = file.DataSize();
  auto fetch = [&](std::int32_t position, std::int32_t count) {
    for (;;) {
      TBlock* b = file.GetBlock(cursor, position, count, count > 1);
      if (b != nullptr) return b;
    }
  };
  auto allocate = [&] {
    for (;;) {
      TBlock* b = file.AllocateBlock(cursor);
      if (b != nullptr) return b;
    }
  };

  std::int64_t oldTotal = 0;
  TBlock* current;
  if (buffer.firstPosition != 0) {
    current = fetch(buffer.firstPosition, 1);
    oldTotal = current->total;
  } else {
    current = allocate();
    buffer.firstPosition = current->key;
  }
  current->previous = 0;
  current->blobId = newId;
  current->total = static_cast<std::int32_t>(length);
  current->changed = true;

  std::size_t written = 0;
  std::int64_t oldPassed = dataSize;  // bytes of the old BLOB covered by the chain so far
  std::unordered_set<std::int32_t> walked{current->key};
  try {
    for (;;) {
      const std::uint32_t chunk =
          static_cast<std::uint32_t>(std::min<std::size_t>(dataSize, length - written));
      file.WriteBlockData(current, 0, chunk, buffer.content.data() + written);
      written += chunk;
      if (written >= length) break;
      TBlock* next;
      const bool reused = current->next != 0;
      if (reused) {
        // Reuse the old chain in place. Its blocks must be blocks of the file
        // and still carry the old id; anything else would overwrite another
        // BLOB's data.
        const std::int32_t position = current->next;
        if (!file.IsBlockPosition(position) || walked.count(position) != 0)
          RaiseEngineError(kErrBlobBufferCorrupt, table);
        const std::int64_t ahead = std::max<std::int64_t>(
            1, (oldTotal - oldPassed + dataSize - 1) / static_cast<std::int64_t>(dataSize));
        next = fetch(position, static_cast<std::int32_t>(std::min<std::int64_t>(ahead, INT32_MAX)));
        if (next->blobId != oldId) {
          file.ReleaseBlock(next);
          RaiseEngineError(kErrBlobBufferCorrupt, table);
        }
        oldPassed += dataSize;
      } else {
        next = allocate();
      }
      // Only blocks of the old chain are remembered: once the old chain ends,
      // every further block is newly allocated and the old chain is never
      // walked again.
      if (reused) walked.insert(next->key);
      next->previous = current->key;
      next->blobId = newId;
      next->total = 0;
      next->changed = true;
      current->next = next->key;
      current->changed = true;
      file.ReleaseBlock(current);
      current = next;
    }
    if (current->next != 0) {
      // The old chain was longer: free the rest, taking its blocks whatever id
      // they carry (as a chain walk that adopts them). The walk stops at a
      // position that is not a block, or that it or the new chain already
      // holds, so that a damaged tail can never free a block of the new chain
      // or make the free chain circular.
      std::vector<std::int32_t> rest;
      for (std::int32_t p = current->next; p != 0;) {
        if (!file.IsBlockPosition(p) || !walked.insert(p).second) break;
        rest.push_back(p);
        TBlock* block = fetch(p, 1);
        p = block->next;
        file.ReleaseBlock(block);
      }
      for (std::int32_t p : rest) {
        TBlock* block = fetch(p, 1);
        block->blobId = newId;
        file.FreeBlock(block);
        file.ReleaseBlock(block);
      }
      current->next = 0;
      current->changed = true;
    }
  } catch (...) {
    file.ReleaseBlock(current);
    throw;
  }
  file.ReleaseBlock(current);
  if (written != length) RaiseEngineError(kErrBlobEndPremature, table);
}

}  // namespace engine
