// TBlobFile::ReadChain: reading a whole BLOB, and the walk window it shares
// with the chain diagnosis (blob_file_check.cpp).
//
// Taking every block of a long BLOB into the block cache costs a cache slot, a
// lookup and a decode per block, and the cache holds only 255 blocks of 512
// bytes, so a BLOB of megabytes passes through it many times over. A walk
// reads the file into a window of its own instead and leaves the cache as it
// found it:
//   1. The chain's first block gives the BLOB's total length. A cached one
//      wins; otherwise the first window is read from it, before the length
//      is known: kFirstReadBytes, enough for a small BLOB whole, so that a
//      BLOB of a few blocks costs one read (the read runs the change check
//      of a cache miss, as below).
//   2. For each further block: a cached block wins (a transaction keeps its
//      changes in the cache, and blocks appended in it may lie beyond the
//      file's end; an unchanged cached block equals the file's copy). A block
//      inside the window is taken from it. Otherwise the table first checks
//      for changes by other users, as a cache miss does (skipped under
//      StrictChangeDetection), and the window is read anew from that block:
//      as many blocks as the BLOB still needs, at most kChainReadBytes and not
//      past the end position. A chain written in one go lies in consecutive
//      blocks, so it comes with one read per window. After a window of which
//      the walk used only u blocks, the next one holds at most 2u: a chain
//      scattered over reused blocks costs a small read per jump, not a
//      window's worth. The first window, read before the length was known,
//      says nothing about the chain and sets no such limit.
//   3. Each block's header is checked as loading a BLOB buffer checks it (id,
//      used count, next position; loops once at the end), and its data area
//      goes to the sink straight from the window.
// A short read is accepted under the same rule as the cache's read-ahead:
// only for a table that keeps changes in memory (exclusive, in a transaction
// or during a change) and has written; a block that neither the read nor the
// cache supplies is then 8963.
// Invariants: the cache's content and order are not touched; the window's cached-block list is only
// used within one walk, during which nothing changes the cache.
#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file_bytes.h"

namespace engine {
namespace kh = block_header;

namespace {
// The largest read of a walk (bytes): large enough that a read costs little
// beside the copying, small enough that the window stays in the processor's
// cache while its data areas are handed on.
constexpr std::size_t kChainReadBytes = 256 * 1024;
// The first window of a walk, read before the BLOB's length is known: a
// page's worth beside a small BLOB costs nothing next to a second read.
constexpr std::size_t kFirstReadBytes = 8 * 1024;
}  // namespace

void TBlobFile::ResetWindow() {
  FWindowFirst = 0;
  FWindowBlocks = 0;
  FWindowComplete = 0;
  FWindowUsed = 0;
  FWindowProbe = false;
  FWindowCached.clear();
}

void TBlobFile::RecollectWindowCache() {
  FWindowCached.clear();
  if (FWindowBlocks == 0) return;
  const std::int32_t last =
      FWindowFirst + (FWindowBlocks - 1) * static_cast<std::int32_t>(FBlockSize);
  FCache.ForEachInRange(FWindowFirst, last,
                        [&](const TBlock& block) { FWindowCached.push_back(&block); });
}

bool TBlobFile::ReadWindow(TDataCursor* cursor, std::int32_t position, std::int64_t ahead) {
  // A walk that left the last window after using few of its blocks follows
  // a scattered chain: read at most twice as many this time, so that a chain
  // jumping between distant blocks is not read a whole window per block.
  const std::int64_t lastUsed = FWindowBlocks > 0 && !FWindowProbe ? FWindowUsed : -1;
  ResetWindow();
  if (FHost != nullptr && !FHost->StrictChangeDetection() && FHost->LockForCacheMiss(cursor))
    return false;
  const std::int64_t inFile = (EndPosition() - static_cast<std::int64_t>(position)) / FBlockSize;
  const std::int64_t most =
      static_cast<std::int64_t>(std::max<std::size_t>(1, kChainReadBytes / FBlockSize));
  const std::int64_t grown = lastUsed < 0 ? most : 2 * std::max<std::int64_t>(lastUsed, 1);
  const std::int64_t k = std::max<std::int64_t>(1, std::min({ahead, inFile, most, grown}));
  const std::size_t want = static_cast<std::size_t>(k) * FBlockSize;
  if (FWindow.size() < want) FWindow.resize(want);
  std::int32_t got;
  {
    TFileAccess access(*this);
    Seek(position, kSeekFromStart);
    got = Read(FWindow.data(), static_cast<std::int32_t>(want), true);
  }
  ++FReads;
  if (static_cast<std::size_t>(std::max(got, 0)) < want) {
    const bool mayBeShort =
        FHost == nullptr ||
        ((FHost->IsExclusive() || FHost->KeepsChangesInMemory()) && FHost->HasWritten());
    if (!mayBeShort) RaiseEngineError(kErrReadFailed, FileName());
  }
  FWindowFirst = position;
  FWindowBlocks = static_cast<std::int32_t>(k);
  FWindowComplete = std::max(got, 0) / static_cast<std::int32_t>(FBlockSize);
  if (FEncrypted) FWindowPlain.assign(static_cast<std::size_t>(k), 0);
  RecollectWindowCache();
  return true;
}

bool TBlobFile::ViewBlock(TDataCursor* cursor, std::int32_t position, std::int64_t ahead,
                          TBlockView& view) {
  const auto inWindow = [&] {
    return FWindowBlocks > 0 && position >= FWindowFirst &&
           (position - FWindowFirst) / static_cast<std::int32_t>(FBlockSize) < FWindowBlocks;
  };
  const TBlock* cached = nullptr;
  if (inWindow()) {
    if (!FWindowCached.empty()) {
      const auto at =
          std::lower_bound(FWindowCached.begin(), FWindowCached.end(), position,
                           [](const TBlock* block, std::int32_t key) { return block->key < key; });
      if (at != FWindowCached.end() && (*at)->key == position) cached = *at;
    }
  } else {
    FCache.ForEachInRange(position, position, [&](const TBlock& block) { cached = &block; });
    if (cached == nullptr && !ReadWindow(cursor, position, ahead)) return false;
  }
  if (cached != nullptr) {
    view.next = cached->next;
    view.used = cached->used;
    view.blobId = cached->blobId;
    view.total = cached->total;
    view.data = cached->data.data();
    return true;
  }
  const std::size_t index =
      static_cast<std::size_t>((position - FWindowFirst) / static_cast<std::int32_t>(FBlockSize));
  // Neither read (a short read) nor cached: the file lacks the block.
  if (index >= static_cast<std::size_t>(FWindowComplete))
    RaiseEngineError(kErrBlobBufferCorrupt, FileName());
  std::uint8_t* stored = &FWindow[index * FBlockSize];
  ++FWindowUsed;
  if (FEncrypted && FWindowPlain[index] == 0) {
    Decipher(stored, kBlockHeaderSize, kDataKey);
    Decipher(stored + kBlockHeaderSize, DataSize(), kDataKey);
    FWindowPlain[index] = 1;
  }
  view.next = bytes::GetI32(stored + kh::kNext);
  view.used = bytes::GetU16(stored + kh::kUsed);
  view.blobId = bytes::GetI32(stored + kh::kBlobId);
  view.total = bytes::GetI32(stored + kh::kTotal);
  view.data = stored + kBlockHeaderSize;
  return true;
}

void TBlobFile::ReadChain(TDataCursor* cursor, std::int32_t firstPosition, std::int32_t blobId,
                          const std::string& table, TBlobSink& sink) {
  struct Forget {  // the window's cached-block list must not outlive the walk
    TBlobFile& file;
    ~Forget() { file.ResetWindow(); }
  } forget{*this};
  // Repeated when the change check found changes by another user.
  while (!ReadChainOnce(cursor, firstPosition, blobId, table, sink)) {
  }
}

bool TBlobFile::ReadChainOnce(TDataCursor* cursor, std::int32_t firstPosition, std::int32_t blobId,
                              const std::string& table, TBlobSink& sink) {
  ResetWindow();
  const std::uint32_t dataSize = DataSize();
  std::uint32_t length = 0, copied = 0, ask = 0, got = 0;
  std::int32_t next = 0;
  TBlockView view;
  {
    // A position that is no block of the file goes through the cache, which
    // raises for it as for any block.
    TBlock* first = nullptr;
    if (IsBlockPosition(firstPosition)) {
      const std::int64_t probe =
          static_cast<std::int64_t>(std::max<std::size_t>(1, kFirstReadBytes / FBlockSize));
      if (!ViewBlock(cursor, firstPosition, probe, view)) return false;
      FWindowProbe = FWindowBlocks > 0;
    } else {
      first = GetBlock(cursor, firstPosition, 1, false);
      if (first == nullptr) return false;
      view.next = first->next;
      view.used = first->used;
      view.blobId = first->blobId;
      view.total = first->total;
      view.data = first->data.data();
    }
    struct Unpin {
      TBlobFile& file;
      TBlock* block;
      ~Unpin() {
        if (block != nullptr) file.ReleaseBlock(block);
      }
    } unpin{*this, first};
    if (view.blobId != blobId) RaiseEngineError(kErrRecordChanged, table);
    // The stored total may be damaged: it can never exceed what the file's
    // blocks can hold.
    const std::int64_t blocks = (EndPosition() - kBlobHeaderSize) / BlockSize();
    if (view.total < 0 || view.total > blocks * dataSize)
      RaiseEngineError(kErrBlobBufferCorrupt, table);
    length = static_cast<std::uint32_t>(view.total);
    sink.Begin(length);
    ask = std::min(dataSize, length);
    // `used` comes from the file: a count beyond the data area is damage.
    if (view.used > dataSize) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
    got = std::min<std::uint32_t>(ask, view.used);
    if (got != 0) sink.Take(view.data, got);
    copied = got;
    next = view.next;
  }
  // The positions walked, to find a chain that runs into itself: only a chain
  // that steps back somewhere can, so they are sorted and compared once at
  // the end, and only then.
  FWalked.clear();
  FWalked.push_back(firstPosition);
  bool steppedBack = false;
  while (got == ask && next != 0 && copied != length) {
    if (!IsBlockPosition(next)) RaiseEngineError(kErrBlobBufferCorrupt, table);
    if (next <= FWalked.back()) steppedBack = true;
    FWalked.push_back(next);
    const std::int64_t ahead =
        (static_cast<std::int64_t>(length) - copied + dataSize - 1) / dataSize;
    if (!ViewBlock(cursor, next, ahead, view)) return false;
    if (view.blobId != blobId) RaiseEngineError(kErrRecordChanged, table);
    if (view.used > dataSize) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
    ask = std::min(dataSize, length - copied);
    got = std::min<std::uint32_t>(ask, view.used);
    if (got != 0) sink.Take(view.data, got);
    copied += got;
    next = view.next;
  }
  if (steppedBack) {
    std::sort(FWalked.begin(), FWalked.end());
    if (std::adjacent_find(FWalked.begin(), FWalked.end()) != FWalked.end())
      RaiseEngineError(kErrBlobBufferCorrupt, table);
  }
  if (copied != length) RaiseEngineError(kErrBlobEndPremature, table);
  return true;
}

}  // namespace engine
