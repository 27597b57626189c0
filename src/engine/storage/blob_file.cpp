// TBlobFile: header, blocks, allocation and the free chain, the block cache and
// write-back. The format is described in blob_file.h; chain walks are in
// blob_file_chain.cpp and the checks in blob_file_check.cpp.
#include "engine/storage/blob_file.h"

#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/data_file_bytes.h"

namespace engine {
namespace bh = blob_header;
namespace kh = block_header;

namespace {
// A long run is encoded and written in pieces of this many bytes, so that
// each piece is still in the processor's cache when the system copies it.
constexpr std::size_t kWritePieceBytes = 256 * 1024;
}  // namespace

TBlobFile::TBlobFile(TDataTable* table, TStorageHost* host) : TFileHandler(table), FHost(host) {}

TBlobFile::~TBlobFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; the file object is released either way.
  }
}

void TBlobFile::SetBlockSize(std::int32_t dataHeaderValue) {
  const std::uint32_t low = static_cast<std::uint32_t>(dataHeaderValue) & 0xFFFF;
  // Sizes below the creator's minimum would leave no room for data; a stored
  // value like that can only come from a damaged header.
  FBlockSize = low == 0 ? kDefaultBlockSize : low;
  if (FBlockSize <= kBlockHeaderSize) FBlockSize = kDefaultBlockSize;
}

std::int32_t TBlobFile::ChangeCounter() const {
  return bytes::GetI32(&FHeader[bh::kChangeCounter]);
}
std::int32_t TBlobFile::FirstFree() const {
  return bytes::GetI32(&FHeader[bh::kFirstFree]);
}
std::int32_t TBlobFile::EndPosition() const {
  return bytes::GetI32(&FHeader[bh::kEnd]);
}
void TBlobFile::SetI32(std::size_t at, std::int32_t v) {
  bytes::PutI32(&FHeader[at], v);
}

bool TBlobFile::IsBlockPosition(std::int64_t position) const {
  return position >= kBlobHeaderSize && position < EndPosition() &&
         (position - kBlobHeaderSize) % FBlockSize == 0;
}

bool TBlobFile::FlushWanted(bool flushToDisk) const {
  return flushToDisk || (FHost != nullptr && FHost->ForceBufferFlush());
}

void TBlobFile::ResetCacheLimits() {
  FReadAheadCount = std::max<std::uint32_t>(1, kReadAheadBytes / FBlockSize);
  FCache.SetCapacity(
      std::max<std::uint32_t>(1, std::min(kCacheBytes / FBlockSize, kMaxCachedBlocks)));
  FReads = FWrites = 0;
}

// ---- Life cycle and header ---------------------------------------------------

void TBlobFile::CreateNew() {
  TFileHandler::CreateNew();
  FUndo.MarkBroken();
  FCache.DropAll();
  FHeader.fill(0);
  FHeader[bh::kFormat] = kFileFormat;
  SetI32(bh::kFirstFree, 0);
  SetI32(bh::kEnd, kBlobHeaderSize);
  FHeader[bh::kModified] = 1;
  ResetCacheLimits();
}

void TBlobFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
    ResetCacheLimits();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  FUndo.MarkBroken();
  FCache.DropAll();
  TFileHandler::Close();
}

void TBlobFile::ReadHeaderBytes(THeader& into) {
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    Read(into.data(), static_cast<std::int32_t>(into.size()));
  }
  if (FEncrypted) Decipher(into.data(), into.size(), kDataKey);
}

void TBlobFile::ReadHeader() {
  ReadHeaderBytes(FHeader);
  FHeader[bh::kModified] = 0;
}

bool TBlobFile::HeaderChanged() {
  // Only the counter is compared (it deciphers on its own, see cipher.h); the
  // whole header is read when it moved.
  static_assert(bh::kChangeCounter == 0, "a counter elsewhere would not decipher alone");
  std::uint8_t counter[kChangeCounterBytes];
  ReadAt(bh::kChangeCounter, counter, kChangeCounterBytes);
  if (FEncrypted) Decipher(counter, sizeof counter, kDataKey);
  if (bytes::GetI32(counter) == ChangeCounter()) return false;
  THeader stored;
  ReadHeaderBytes(stored);
  if (bytes::GetI32(&stored[bh::kChangeCounter]) == ChangeCounter()) return false;
  FHeader = stored;
  return true;
}

void TBlobFile::WriteHeader(bool force, bool flushToDisk) {
  if (!force && !HeaderModified()) return;
  SetI32(bh::kChangeCounter, ChangeCounter() + 1);
  THeader image = FHeader;
  if (FEncrypted) Encipher(image.data(), image.size(), kDataKey);
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    Write(image.data(), static_cast<std::int32_t>(image.size()));
  }
  if (FlushWanted(flushToDisk)) Flush();
  if (FHost != nullptr) FHost->NoteWrite();
  FHeader[bh::kModified] = 0;
}

void TBlobFile::MarkHeaderChanged() {
  SetI32(bh::kChangeCounter, ChangeCounter() + 1);
  FHeader[bh::kModified] = 1;
  if (FHost != nullptr) FHost->NoteWrite();
}

void TBlobFile::Empty() {
  {
    TFileAccess access(*this);
    Seek(kBlobHeaderSize, kSeekFromStart);
    Write(nullptr, 0);
  }
  if (FlushWanted(false)) Flush();
  FUndo.MarkBroken();
  FCache.DropAll();
  FHeader[bh::kFormat] = kFileFormat;
  SetI32(bh::kEnd, kBlobHeaderSize);
  SetI32(bh::kFirstFree, 0);
  FHeader[bh::kModified] = 1;
}

// ---- Blocks ------------------------------------------------------------------

void TBlobFile::DecodeBlock(TBlock* block, const std::uint8_t* stored) {
  std::array<std::uint8_t, kBlockHeaderSize> head;
  std::memcpy(head.data(), stored, head.size());
  std::memcpy(block->data.data(), stored + kBlockHeaderSize, DataSize());
  if (FEncrypted) {
    Decipher(head.data(), head.size(), kDataKey);
    Decipher(block->data.data(), DataSize(), kDataKey);
  }
  block->previous = bytes::GetI32(&head[kh::kPrevious]);
  block->next = bytes::GetI32(&head[kh::kNext]);
  block->used = bytes::GetU16(&head[kh::kUsed]);
  block->blobId = bytes::GetI32(&head[kh::kBlobId]);
  block->total = bytes::GetI32(&head[kh::kTotal]);
}

void TBlobFile::EncodeBlock(const TBlock* block, std::uint8_t* target) const {
  bytes::PutI32(target + kh::kPrevious, block->previous);
  bytes::PutI32(target + kh::kNext, block->next);
  bytes::PutU16(target + kh::kUsed, block->used);
  bytes::PutI32(target + kh::kBlobId, block->blobId);
  bytes::PutI32(target + kh::kTotal, block->total);
  // Only the used bytes are defined (see TBlock); the rest of the area is zero.
  const std::uint32_t used = std::min<std::uint32_t>(block->used, DataSize());
  std::memcpy(target + kBlockHeaderSize, block->data.data(), used);
  std::memset(target + kBlockHeaderSize + used, 0, DataSize() - used);
  if (FEncrypted) {
    Encipher(target, kBlockHeaderSize, kDataKey);
    Encipher(target + kBlockHeaderSize, DataSize(), kDataKey);
  }
}

// A cleared block for a new cache slot (record_cache.h has the rules); its
// data area is sized, not zeroed.
std::unique_ptr<TBlock> TBlobFile::TakeSlot() {
  auto block = FCache.TakeSlot(
      FHost != nullptr && FHost->KeepsChangesInMemory(), kCacheGrowth, [&] { WriteBack(false); },
      [&] { RaiseEngineError(kErrBlobBufferCorrupt, FileName()); });
  if (block->data.size() != DataSize()) block->data.resize(DataSize());
  return block;
}

TBlock* TBlobFile::AppendBlock() {
  const std::int32_t end = EndPosition();
  if (end >= kBlobAppendLimit) RaiseEngineError(kErrTableFull, FileName());
  auto slot = TakeSlot();
  slot->key = end;
  slot->pins = 1;
  // The block belongs to the file from now on; it is written back even if
  // nothing is put into it, so the file never ends before the end position.
  slot->changed = true;
  TBlock* block = FCache.Insert(std::move(slot));
  FUndo.Note(block, false);
  SetI32(bh::kEnd, end + static_cast<std::int32_t>(FBlockSize));
  FHeader[bh::kModified] = 1;
  return block;
}

TBlock* TBlobFile::GetBlock(TDataCursor* cursor, std::int32_t position, std::int32_t count,
                            bool useReadAhead) {
  FUndo.Request(FileName());
  if (position == EndPosition()) return AppendBlock();
  if (!IsBlockPosition(position)) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
  if (TBlock* block = FCache.Find(position)) {
    ++block->pins;
    FUndo.Note(block, block->changed);
    return block;
  }
  if (FHost != nullptr && !FHost->StrictChangeDetection() && FHost->LockForCacheMiss(cursor))
    return nullptr;
  return LoadBlocks(position, count, useReadAhead);
}

TBlock* TBlobFile::LoadBlocks(std::int32_t position, std::int32_t count, bool useReadAhead) {
  const std::int64_t remainingInFile =
      (EndPosition() - static_cast<std::int64_t>(position)) / FBlockSize;
  std::int64_t k = 1;
  if (useReadAhead) {
    k = std::min<std::int64_t>({FReadAheadCount, std::max<std::int32_t>(count, 1), remainingInFile,
                                static_cast<std::int64_t>(FCache.Capacity() / 2)});
  }
  k = std::max<std::int64_t>(k, 1);
  const std::size_t want = static_cast<std::size_t>(k) * FBlockSize;
  if (FReadBuffer.size() < want) FReadBuffer.resize(want);
  std::int32_t got;
  {
    TFileAccess access(*this);
    Seek(position, kSeekFromStart);
    got = Read(FReadBuffer.data(), static_cast<std::int32_t>(want), true);
  }
  ++FReads;
  if (static_cast<std::size_t>(got) < want) {
    const bool mayBeShort =
        FHost == nullptr ||
        ((FHost->IsExclusive() || FHost->KeepsChangesInMemory()) && FHost->HasWritten());
    if (!mayBeShort) RaiseEngineError(kErrReadFailed, FileName());
  }
  const std::int32_t complete = got / static_cast<std::int32_t>(FBlockSize);
  auto fill = [&](std::int32_t index) {
    const std::int32_t at = position + index * static_cast<std::int32_t>(FBlockSize);
    TBlock* block = FCache.Find(at);
    if (block != nullptr) {
      if (block->changed || block->pins != 0) return;
    } else {
      auto slot = TakeSlot();
      slot->key = at;
      block = FCache.Insert(std::move(slot));
    }
    DecodeBlock(block, &FReadBuffer[static_cast<std::size_t>(index) * FBlockSize]);
  };
  for (std::int32_t i = complete - 1; i >= 0; --i) fill(i);  // the requested block last

  TBlock* block = FCache.Find(position);
  if (block == nullptr) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
  ++block->pins;
  FUndo.Note(block, block->changed);
  return block;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (block != nullptr && block->pins > 0) {
    --block->pins;
    FCache.NoteMaybeReusable(block);
  }
}

TBlock* TBlobFile::AllocateBlock(TDataCursor* cursor) {
  std::int32_t position = FirstFree();
  if (position != 0 && !IsBlockPosition(position)) {
    // A damaged free-chain head: forget the chain rather than hand out a
    // position that is not a block.
    SetI32(bh::kFirstFree, 0);
    FHeader[bh::kModified] = 1;
    position = 0;
  }
  const bool reuse = position != 0;
  TBlock* block = GetBlock(cursor, reuse ? position : EndPosition(), 1, false);
  if (block == nullptr) return nullptr;
  if (reuse) {
    const std::int32_t next = block->next;
    SetI32(bh::kFirstFree, next == 0 || IsBlockPosition(next) ? next : 0);
    FHeader[bh::kModified] = 1;
  }
  block->ClearContent();
  return block;
}

void TBlobFile::FreeBlock(TBlock* block) {
  if (block->key == FirstFree()) return;  // already the head: never link a block to itself
  block->next = FirstFree();
  SetI32(bh::kFirstFree, block->key);
  block->changed = true;
  FHeader[bh::kModified] = 1;
}

std::uint32_t TBlobFile::ReadBlockData(const TBlock* block, std::uint32_t offset,
                                       std::uint32_t count, std::uint8_t* destination) {
  if (count > DataSize() || offset > DataSize())
    RaiseEngineError(kErrInvalidBlobLength, FileName());
  // `used` comes from the file: a count beyond the data area is damage (the
  // writer never stores one), so the block's bytes cannot be trusted.
  if (block->used > DataSize()) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
  const std::uint32_t available = block->used > offset ? block->used - offset : 0;
  const std::uint32_t n = std::min(count, available);
  std::memcpy(destination, block->data.data() + offset, n);
  return n;
}

void TBlobFile::WriteBlockData(TBlock* block, std::uint32_t offset, std::uint32_t count,
                               const std::uint8_t* source) {
  if (count > DataSize() || offset > DataSize() - count)
    RaiseEngineError(kErrInvalidBlobLength, FileName());
  // A gap after the used bytes reads as zeros, as in a cleared block.
  const std::uint32_t used = std::min<std::uint32_t>(block->used, DataSize());
  if (offset > used) std::memset(block->data.data() + used, 0, offset - used);
  std::memcpy(block->data.data() + offset, source, count);
  block->used = static_cast<std::uint16_t>(offset + count);
  block->changed = true;
}

// ---- Write-back --------------------------------------------------------------

void TBlobFile::FlushRun(std::vector<TBlock*>& run, bool flushToDisk) {
  const std::size_t perPiece = std::max<std::size_t>(1, kWritePieceBytes / FBlockSize);
  const std::size_t bufferBytes = std::min(run.size(), perPiece) * FBlockSize;
  if (FWriteBuffer.size() < bufferBytes) FWriteBuffer.resize(bufferBytes);
  {
    TFileAccess access(*this);
    Seek(run.front()->key, kSeekFromStart);
    for (std::size_t from = 0; from < run.size(); from += perPiece) {
      const std::size_t count = std::min(perPiece, run.size() - from);
      for (std::size_t i = 0; i < count; ++i)
        EncodeBlock(run[from + i], &FWriteBuffer[i * FBlockSize]);
      Write(FWriteBuffer.data(), static_cast<std::int32_t>(count * FBlockSize));
      ++FWrites;
      // Only a written block is clean: after a failed write the rest stay
      // changed and go out with the next write-back.
      for (std::size_t i = 0; i < count; ++i) {
        run[from + i]->changed = false;
        FCache.NoteMaybeReusable(run[from + i]);
      }
    }
  }
  if (FlushWanted(flushToDisk)) Flush();
  if (FHost != nullptr) FHost->NoteWrite();
  run.clear();
}

void TBlobFile::WriteBack(bool flushToDisk) {
  std::vector<TBlock*> run;
  for (const auto& entry : FCache.Sorted()) {
    TBlock* block = entry.get();
    if (!block->changed || block->pins != 0) continue;
    if (!run.empty() && run.back()->key + static_cast<std::int32_t>(FBlockSize) != block->key)
      FlushRun(run, flushToDisk);
    run.push_back(block);
  }
  if (!run.empty()) FlushRun(run, flushToDisk);
}

void TBlobFile::DropCache() {
  FUndo.MarkBroken();
  FCache.DropAll();
}

// ---- Undo of one change ----------------------------------------------------------

void TBlobFile::BeginUndo() {
  FUndoHeader = FHeader;
  FUndo.Begin();
}

bool TBlobFile::RollBackUndo() {
  const bool whole = FUndo.RollBack(FCache);
  FHeader = FUndoHeader;
  return whole;
}

TBlobFile::TMarks TBlobFile::MarksBeforeWriteBack() const {
  TMarks marks;
  marks.header = FHeader;
  for (const auto& entry : FCache.Sorted()) {
    if (entry->changed) marks.changed.push_back(entry->key);
  }
  return marks;
}

bool TBlobFile::RestoreMarks(const TMarks& marks) {
  FHeader = marks.header;
  bool whole = true;
  for (const std::int32_t key : marks.changed) {
    if (TBlock* block = FCache.Lookup(key)) {
      block->changed = true;
    } else {
      whole = false;
    }
  }
  return whole;
}

void TBlobFile::TrimCache() {
  const std::size_t limit =
      std::max<std::uint32_t>(1, std::min(kCacheBytes / FBlockSize, kMaxCachedBlocks));
  FCache.TrimTo(limit);
  FCache.SetCapacity(limit);
}

}  // namespace engine
