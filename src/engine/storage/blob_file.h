// TBlobFile: the BLOB file of a table (extension .BLB): a 512-byte header and
// equal-sized blocks; each BLOB is a doubly linked chain of blocks.
//
// S is the table's BLOB block size: the low 16 bits of the data header's
// field at offset 4, 512 when that is 0. A block's data area holds S - 18
// bytes (494 for S = 512). All integers are little-endian.
//
//   offset          length  content
//   0               512     header (enciphered as one unit when encrypted)
//   512 + k * S     S       block k; its position is its byte offset
//
// Header:
//   off type   meaning
//    0  int32  change counter, raised by every header write
//    4  4      reserved, zero
//    8  uint8  format, always 4
//    9  int32  first free block position (0 = none)
//   13  int32  end position: where the next appended block goes (512 when empty)
//   17  uint8  modified marker (the in-memory pending-change flag is this byte)
//   18  494    reserved, zero
//
// Block (its 18-byte header and its data area are enciphered as two units):
//   off type   meaning
//    0  int32  previous block of the chain (0 in a first block)
//    4  int32  next block (0 in the last); in a free block the next free block
//    8  uint16 bytes used in this block's data area
//   10  int32  id of the BLOB owning the block
//   14  int32  total BLOB length in bytes (first block only; 0 in the others)
//   18  S-18   data
//
// A record's BLOB slot is 9 bytes: null flag, int32 first block position (0
// for an empty BLOB; while a cursor has the BLOB open, minus the buffer's
// handle, in memory only), int32 BLOB id. Every store gives the BLOB a new id
// and stamps it on every block of the chain, so a reader whose record slot
// names another id than the first block knows that the BLOB was replaced.
//
// Worked example: a 1,000-byte BLOB stored in an empty file with S = 512 takes
// ceil(1000 / 494) = 3 blocks. Block 512: previous 0, next 1024, used 494,
// id i, total 1000. Block 1024: previous 512, next 1536, used 494, id i,
// total 0. Block 1536: previous 1024, next 0, used 12, id i, total 0. The end
// position becomes 2048 and the record slot holds 1, 512, i.
//
// Free chain: FreeBlock pushes a block on the front (its next := the old
// first free) and AllocateBlock pops the front, so blocks are reused
// last-freed-first; only when none is free is a block appended. Freeing a
// chain frees its blocks in chain order, so its last block is reused first.
//
// The block cache follows the record cache's rules (record_cache.h,
// data_file.h) with positions for record numbers: at most min(131070 / S,
// 32767) blocks outside a transaction, growing by 255 inside one. Write-back
// writes each run of adjacent changed blocks after one seek, in pieces of
// 256 KB that are still in the processor's cache when the system copies them
// (a 10 MB commit would otherwise be copied from memory long evicted).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/files/file_handler.h"
#include "engine/storage/change_undo.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_host.h"
#include "engine/storage/record_cache.h"

namespace engine {

class TDataCursor;

inline constexpr std::uint32_t kBlobHeaderSize = 512;    // bytes; also the first block position
inline constexpr std::uint32_t kBlockHeaderSize = 18;    // bytes before a block's data
inline constexpr std::uint32_t kDefaultBlockSize = 512;  // S when the data header holds 0
inline constexpr std::uint32_t kMinBlockSize = 64;       // smallest S a creator may ask for
inline constexpr std::int64_t kBlobAppendLimit = 2000000001;  // an append needs E below this
inline constexpr std::uint32_t kMaxCachedBlocks = 32767;
inline constexpr std::size_t kBlockPoolCapacity = 4095;  // idle TBlock objects kept

namespace blob_header {
inline constexpr std::size_t kChangeCounter = 0, kFormat = 8, kFirstFree = 9, kEnd = 13,
                             kModified = 17;
}
namespace block_header {
inline constexpr std::size_t kPrevious = 0, kNext = 4, kUsed = 8, kBlobId = 10, kTotal = 14;
}

// One cached block; the header values are kept decoded. Only the first
// `used` bytes of `data` are defined: a cleared block is not zero-filled
// (its data is nearly always overwritten whole at once), and write-back
// stores zeros after the used bytes.
struct TBlock {
  std::int32_t key = 0;  // the block position
  bool changed = false;
  std::uint16_t pins = 0;
  TBlock* newer = nullptr;
  TBlock* older = nullptr;
  std::int32_t previous = 0;
  std::int32_t next = 0;
  std::uint16_t used = 0;
  std::int32_t blobId = 0;
  std::int32_t total = 0;
  std::uint64_t undoMark = 0;      // the change that noted it last (change_undo.h)
  std::vector<std::uint8_t> data;  // S - 18 bytes

  std::int32_t Position() const { return key; }
  // Takes `other`'s content (what a change may alter), not its identity.
  void CopyContentFrom(const TBlock& other) {
    previous = other.previous;
    next = other.next;
    used = other.used;
    blobId = other.blobId;
    total = other.total;
    if (data.size() < other.data.size()) data.resize(other.data.size());
    const std::size_t defined = std::min<std::size_t>(other.used, other.data.size());
    std::copy_n(other.data.begin(), defined, data.begin());
  }
  // Zeroes the header values; no data is used any more.
  void ClearContent() {
    previous = next = blobId = total = 0;
    used = 0;
  }
  void Clear() {
    ClearContent();
    changed = false;
    pins = 0;
    undoMark = 0;
  }
};

// Receives the bytes of one BLOB in order (TBlobFile::ReadChain).
class TBlobSink {
 public:
  virtual ~TBlobSink() = default;
  // The BLOB's length, before any of its bytes. Called again when the read
  // starts over because another user changed the table: the bytes taken
  // before are void then.
  virtual void Begin(std::uint32_t length) = 0;
  // The next `count` bytes; `data` is valid only during the call.
  virtual void Take(const std::uint8_t* data, std::uint32_t count) = 0;
};

// Where a repair writes its report lines (one finding per line). A chain walk
// given a log is "in a repair": it reports faults instead of raising.
class TRepairLog {
 public:
  virtual ~TRepairLog() = default;
  virtual void Report(const std::string& line) = 0;
};

class TBlobFile : public TFileHandler {
 public:
  using THeader = std::array<std::uint8_t, kBlobHeaderSize>;

  TBlobFile(TDataTable* table, TStorageHost* host);
  ~TBlobFile() override;

  // S from the data header's block-size field (low 16 bits; 0 means 512).
  // Must be set before Open or CreateNew.
  void SetBlockSize(std::int32_t dataHeaderValue);
  std::uint32_t BlockSize() const { return FBlockSize; }
  std::uint32_t DataSize() const { return FBlockSize - kBlockHeaderSize; }
  void SetEncrypted(bool value) { FEncrypted = value; }
  bool Encrypted() const { return FEncrypted; }

  void CreateNew() override;
  void Open() override;
  void Close() override;

  // ---- Header ------------------------------------------------------------------
  void ReadHeader();
  bool HeaderChanged();
  void WriteHeader(bool force, bool flushToDisk);
  void MarkHeaderChanged();
  void Empty();
  const THeader& Header() const { return FHeader; }
  std::int32_t ChangeCounter() const;
  std::uint8_t Format() const { return FHeader[blob_header::kFormat]; }
  std::int32_t FirstFree() const;
  std::int32_t EndPosition() const;
  bool HeaderModified() const { return FHeader[blob_header::kModified] != 0; }

  // ---- Blocks ------------------------------------------------------------------
  // The block at `position`, pinned; position == EndPosition() appends (9479
  // past 2,000,000,000 bytes). `count` is how many blocks the caller will read
  // from here on (read-ahead). Null when the miss check dropped the caches.
  // 8963 for a position that is not a block of the file.
  TBlock* GetBlock(TDataCursor* cursor, std::int32_t position, std::int32_t count = 1,
                   bool useReadAhead = false);
  void ReleaseBlock(TBlock* block);
  void MarkBlockChanged(TBlock* block) { block->changed = true; }
  // A cleared, pinned block from the free chain or appended; null when the
  // caches were dropped.
  TBlock* AllocateBlock(TDataCursor* cursor);
  void FreeBlock(TBlock* block);
  // Copies min(count, used) bytes from the block's data at `offset`; 10029
  // when count exceeds S - 18. Returns the bytes copied.
  std::uint32_t ReadBlockData(const TBlock* block, std::uint32_t offset, std::uint32_t count,
                              std::uint8_t* destination);
  // Writes `count` bytes at `offset`, sets used := offset + count and marks the
  // block changed; 10029 when the bytes do not fit the data area.
  void WriteBlockData(TBlock* block, std::uint32_t offset, std::uint32_t count,
                      const std::uint8_t* source);

  // ---- Whole BLOBs (blob_file_read.cpp) ------------------------------------------
  // Reads the BLOB whose chain starts at `firstPosition` (not 0) and carries
  // `blobId` into `sink`, without taking its blocks into the cache: runs of
  // consecutive blocks come with one read, and each block's data area goes to
  // the sink from the read buffer. Cached blocks win over the file (a
  // transaction keeps its changes there). Raises as loading a BLOB buffer
  // does, naming `table`: 8708 when a block carries another id, 8963 for a
  // damaged total, used count, position or loop, 8711 when the chain ends
  // before the length; 9217 for a short read outside a writing exclusive or
  // transaction-locked table. The sink must not use this file.
  void ReadChain(TDataCursor* cursor, std::int32_t firstPosition, std::int32_t blobId,
                 const std::string& table, TBlobSink& sink);

  // ---- Chains (blob_file_chain.cpp) ----------------------------------------------
  // Walks the chain from `firstPosition` expecting `blobId` and frees its
  // blocks (unless verifyOnly). With `adopt`, blocks of another id are
  // re-stamped instead of refused. Outside a repair (repair == null) a broken
  // chain raises 8963; in a repair it is reported to `repair` and, unless
  // verifyOnly, cut at the fault. `firstPosition` becomes 0 when the chain was
  // freed or its first block cut off.
  void FreeChain(TDataCursor* cursor, bool verifyOnly, bool adopt, std::int32_t recordNumber,
                 std::int32_t blobId, std::int32_t& firstPosition, TRepairLog* repair = nullptr);
  // FreeChain with verifyOnly: walks and reports without changing anything.
  void CheckChain(TDataCursor* cursor, std::int32_t recordNumber, std::int32_t blobId,
                  std::int32_t firstPosition, TRepairLog* repair);

  // ---- Cache -------------------------------------------------------------------
  void WriteBack(bool flushToDisk);
  void DropCache();
  void TrimCache();
  std::size_t CachedCount() const { return FCache.Count(); }
  std::size_t CacheCapacity() const { return FCache.Capacity(); }
  std::uint32_t ReadAheadCount() const { return FReadAheadCount; }
  std::uint64_t ReadCount() const { return FReads; }
  std::uint64_t WriteCount() const { return FWrites; }

  // ---- Undo of one change (change_undo.h) -----------------------------------------
  // As for the data file (data_file.h): the blocks a change pins and the
  // header are put back by RollBackUndo (false: not whole, drop the cache).
  void BeginUndo();
  void EndUndo() { FUndo.End(); }
  bool RollBackUndo();
  using TMarks = TWriteBackMarks<THeader>;
  TMarks MarksBeforeWriteBack() const;
  bool RestoreMarks(const TMarks& marks);

  // ---- Checks (blob_file_check.cpp) ------------------------------------------------
  // The open-time header check: 12035 for a wrong format, 8961 otherwise.
  void CheckConsistency();
  std::vector<TCheckFinding> Diagnose();
  // Walks, without changing anything, the free chain and the BLOB chain of every
  // BLOB field of every record in use of `data`: positions, ids, loops, and
  // used bytes against each BLOB's total length.
  std::vector<TCheckFinding> DiagnoseChains(TDataFile& data, TDataCursor* cursor = nullptr);

  // True when `position` is a block position of this file below the end.
  bool IsBlockPosition(std::int64_t position) const;

 private:
  void SetI32(std::size_t at, std::int32_t v);
  bool FlushWanted(bool flushToDisk) const;
  void ResetCacheLimits();
  std::unique_ptr<TBlock> TakeSlot();
  TBlock* AppendBlock();
  TBlock* LoadBlocks(std::int32_t position, std::int32_t count, bool useReadAhead);
  void DecodeBlock(TBlock* block, const std::uint8_t* stored);
  void EncodeBlock(const TBlock* block, std::uint8_t* target) const;
  void ReadHeaderBytes(THeader& into);
  void FlushRun(std::vector<TBlock*>& run, bool flushToDisk);

  // A block as a chain walk sees it: the decoded header and the data area
  // (S - 18 bytes, valid until the walk reads again).
  struct TBlockView {
    std::int32_t next = 0;
    std::uint16_t used = 0;
    std::int32_t blobId = 0;
    std::int32_t total = 0;
    const std::uint8_t* data = nullptr;
  };
  // The walk window (blob_file_read.cpp): blocks read with one read and kept
  // outside the cache for the length of one walk. Reset starts a walk;
  // RecollectWindowCache notes again which of its blocks the cache holds.
  void ResetWindow();
  void RecollectWindowCache();
  // The block at `position` (a block position of the file) from the cache,
  // the window, or a new window of up to `ahead` blocks; false when the
  // change check before a read dropped the caches.
  bool ViewBlock(TDataCursor* cursor, std::int32_t position, std::int64_t ahead, TBlockView& view);
  bool ReadWindow(TDataCursor* cursor, std::int32_t position, std::int64_t ahead);
  bool ReadChainOnce(TDataCursor* cursor, std::int32_t firstPosition, std::int32_t blobId,
                     const std::string& table, TBlobSink& sink);
  bool DiagnoseChainsOnce(TDataFile& data, TDataCursor* cursor,
                          std::vector<TCheckFinding>& findings);

  TStorageHost* FHost;
  THeader FHeader{};
  std::uint32_t FBlockSize = kDefaultBlockSize;
  bool FEncrypted = false;
  std::vector<std::uint8_t> FReadBuffer;
  std::vector<std::uint8_t> FWriteBuffer;
  std::uint32_t FReadAheadCount = 1;
  TEntryCache<TBlock> FCache{kBlockPoolCapacity};
  TEntryUndo<TBlock> FUndo;
  THeader FUndoHeader{};  // the header at BeginUndo
  std::uint64_t FReads = 0;
  std::uint64_t FWrites = 0;
  // The walk window: FWindowBlocks blocks from FWindowFirst were asked for,
  // the first FWindowComplete came back; FWindowPlain marks the deciphered
  // ones of an encrypted file; FWindowCached the cached blocks in its range.
  std::vector<std::uint8_t> FWindow;
  std::int32_t FWindowFirst = 0;
  std::int32_t FWindowBlocks = 0;
  std::int32_t FWindowComplete = 0;
  std::int32_t FWindowUsed = 0;  // blocks the walk took from the window's bytes
  bool FWindowProbe = false;     // the window was read for a chain's first block
  std::vector<std::uint8_t> FWindowPlain;
  std::vector<const TBlock*> FWindowCached;
  std::vector<std::int32_t> FWalked;  // positions of the chain being read
};

// Checks the data file `dataFileName` and, when its table has BLOB fields, the
// BLOB file `blobFileName`, without changing either: the data file's open-time
// checks, the BLOB header check, the free chain and every BLOB chain. Both
// files are opened shared and read-only for the check and closed again; a
// file that cannot be opened or read is a finding too. Returns the findings
// in file order; empty when both files are sound.
std::vector<TCheckFinding> DiagnoseTableFiles(const std::string& dataFileName,
                                              const std::string& blobFileName,
                                              bool inMemory = false,
                                              TValueTextCheckMaker valueTexts = nullptr);

}  // namespace engine
