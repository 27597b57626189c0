// TIndexFile: the index file of a table (N.IDX): its header with the index
// descriptors, the per-index page caches, page allocation with per-index free
// lists, and write-back. The file format is described in index_format.h; the
// B-tree algorithms that walk and change the pages are in index_btree.h.
//
// Page cache. Each descriptor slot (0..31) has its own cache: a list of pages
// (in no order) with a recency stamp per page, found by page number through
// a table after a look at the slot's two most recently used pages. On a
// miss one page is read (4096 bytes, deciphered, expanded). A slot keeps 15
// pages outside transactions; with a cache budget from the owner
// (SetCacheBudget) any slot may take more while all slots together hold
// fewer than budget / 4096 pages (TrimCache brings each back to its share of
// the budget, by the pages it holds). When the slot is full the least recently used page that is
// neither changed nor pinned is reused (in a cache of more than 64 pages, the least recently used
// of the next 8 looked at in turn, all of them only when none of those is free); when there is
// none and the table keeps its changes in memory (a transaction, a change in progress: see
// TStorageHost::KeepsChangesInMemory) the capacity grows by 64 or a quarter of the pages held,
// whichever is more; otherwise everything is written back and the search repeats. Idle pages
// wait in a pool (up to 4095).
//
// Change checks. Before a miss is read from the file (unless the session uses
// strict change detection, when the cursor has checked already) the table is
// asked to take its read lock and look for changes by other users
// (TStorageHost::LockForCacheMiss). When that dropped the caches, GetPage
// raises TIndexCachesDropped and the tree operation starts again from the
// root; pages still pinned by the operation are detached from the cache and
// freed when released.
//
// Invariants:
//  - A page handed out by GetPage or AllocatePage is pinned; a pinned page is
//    never reused, written back or dropped from memory until released.
//  - Changed pages reach the file only through WriteBack, in position order,
//    adjacent pages with one write of up to 64 pages (256 KB).
//  - The header copy in memory is exactly the 4096 stored bytes; its byte 3979
//    is the pending-change marker.
//  - A freed page goes to the front of its own index's free list and is reused
//    only by that index.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/files/file_handler.h"
#include "engine/storage/data_file_host.h"
#include "engine/storage/field_defs.h"
#include "engine/storage/index_format.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_page_undo.h"

namespace engine {

// Raised inside the index code when a change check dropped the caches in the
// middle of an operation; the tree operations catch it and start again.
struct TIndexCachesDropped {};

class TIndexFile;

// A pinned page, released when the reference goes.
class TPageRef {
 public:
  TPageRef() = default;
  TPageRef(TIndexFile* file, TPage* page) : FFile(file), FPage(page) {}
  ~TPageRef() { Release(); }
  TPageRef(TPageRef&& other) noexcept : FFile(other.FFile), FPage(other.FPage) {
    other.FPage = nullptr;
  }
  TPageRef& operator=(TPageRef&& other) noexcept;
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;

  TPage* operator->() const { return FPage; }
  TPage& operator*() const { return *FPage; }
  TPage* Get() const { return FPage; }
  explicit operator bool() const { return FPage != nullptr; }
  void Release();

 private:
  TIndexFile* FFile = nullptr;
  TPage* FPage = nullptr;
};

class TIndexFile : public TFileHandler {
 public:
  static constexpr int kInitialCacheCapacity = 15;  // pages per slot outside transactions
  static constexpr int kCacheGrowth = 64;           // pages added per slot in a transaction
  static constexpr int kPoolCapacity = 4095;        // idle pages kept for reuse
  static constexpr int kExactLruPages = 64;         // larger caches sample their eviction victims
  static constexpr int kVictimSample = 8;           // pages looked at per sampled eviction

  // `host` is the owning table's view for its files (data_file_host.h); without
  // one the file behaves as part of an exclusive table outside a transaction.
  explicit TIndexFile(TDataTable* table, TStorageHost* host = nullptr);
  ~TIndexFile() override;

  void SetHost(TStorageHost* host) { FHost = host != nullptr ? host : &FDefaultHost; }
  // Bytes of pages the file keeps cached outside transactions, shared by its
  // slots (see the page cache above); 0 keeps 15 pages per slot.
  void SetCacheBudget(std::size_t bytes) { FCacheBudget = bytes; }
  TStorageHost& Host() const { return *FHost; }
  // Pages and header are enciphered (the data file header says so).
  void SetEncrypted(bool encrypted) { FEncrypted = encrypted; }
  bool Encrypted() const { return FEncrypted; }

  // ---- File ----------------------------------------------------------------
  // Creates the file with a fresh header (format 4, end 4096, "Sys Deleted",
  // marker set); the header reaches the file with WriteHeader.
  void CreateNew() override;
  // Opens the file and reads the header; 8961 for an impossible header.
  void Open() override;
  // Drops every cached page and closes the file.
  void Close() override;

  // ---- Header --------------------------------------------------------------
  // Reloads the header unconditionally (the marker byte comes from the file).
  void ReadHeader();
  // Reads the stored change counter; when it differs from ours, the stored
  // header replaces ours and the result is true.
  bool HeaderChanged();
  // When forced or marked: counter + 1, write the 4096 bytes, flush when asked
  // (or ForceBufferFlush), tell the table, clear the marker.
  void WriteHeader(bool force, bool flushToDisk);
  // Counter + 1 and marker set without writing (inside a transaction).
  void MarkHeaderChanged();
  bool HeaderModified() const { return FHeader[kIdxHdrModified] != 0; }
  void SetHeaderModified() { FHeader[kIdxHdrModified] = 1; }
  const std::uint8_t* HeaderBytes() const { return FHeader.data(); }

  std::int32_t ChangeCounter() const;
  std::uint8_t Format() const { return FHeader[kIdxHdrFormat]; }
  std::int32_t EndPosition() const;
  int SecondaryCount() const { return FHeader[kIdxHdrSecondaryCount]; }
  std::int32_t RecordCount() const;
  void SetRecordCount(std::int32_t count);
  // One more or one fewer record in use. A count that cannot move (a stored
  // count at the limit of the format, or already 0) is damage: 8961, never a
  // wrapped number.
  void IncRecordCount();
  void DecRecordCount();
  bool NoPrimaryKey() const { return FHeader[kIdxHdrNoPrimaryKey] != 0; }
  void SetNoPrimaryKey(bool value);

  // The descriptor of slot 0..32 (a view into the header copy).
  TIndexDescriptor Descriptor(int slot);
  const TIndexDescriptor Descriptor(int slot) const;
  std::int32_t Root(int slot) const;
  void SetRoot(int slot, std::int32_t position);
  // Counts the changes of each slot's tree made through the tree operations
  // (page contents, allocations, frees, the root), so that a descent kept
  // between a duplicate check and its insert can tell that the tree moved.
  std::uint64_t TreeChanges(int slot) const { return FTreeChanges[static_cast<std::size_t>(slot)]; }
  void CountTreeChange(int slot) { ++FTreeChanges[static_cast<std::size_t>(slot)]; }
  std::int32_t FirstFree(int slot) const;
  void SetFirstFree(int slot, std::int32_t position);
  // The slot of a secondary index by name (trimmed, ignoring case); -1 if none.
  int FindIndex(std::string_view name) const;

  // ---- Index definitions ---------------------------------------------------
  // Defines slot 0: 9993 when it already has a key, 9487 for more than 16
  // fields, 12292 (index "Primary") for a BLOB field, 10023/10026 for bad
  // fields; with no fields the table has no primary key.
  void DefinePrimaryIndex(const TIndexDefinition& definition, const TFieldDefinitions& fields);
  // Adds a secondary index in slot n + 1 (9487, 10010, 10022, 10027, 12292,
  // and 10023/10026 for bad fields). Returns the slot.
  int AddSecondaryIndex(const TIndexDefinition& definition, const TFieldDefinitions& fields);
  // Removes an index: slot 0 sets the no-primary-key byte; a secondary slot is
  // taken out and the later ones move down, the removed descriptor (with its
  // free list and cached pages) landing in the slot that falls free, whose
  // list the next AddSecondaryIndex takes over.
  void RemoveIndex(int slot);
  // Copies the name and field numbers of `source` into a slot (restructuring).
  void SetDescriptorNames(int slot, const TIndexDescriptor& source);

  // Empties the file: truncated at 4096, every tree and free list empty.
  void Empty();

  // ---- Pages ---------------------------------------------------------------
  // The page at `position` of slot `slot`, pinned. `asNew` skips reading a page
  // about to be reinitialised. Position 0 or outside the file: 8965; the end
  // position appends (9479 past the size limit).
  // `cursor` is the cursor on whose behalf a cache miss takes the read lock.
  TPageRef GetPage(int slot, std::int32_t position, bool asNew = false,
                   TDataCursor* cursor = nullptr);
  void ReleasePage(TPage* page);
  // A cleared, pinned, changed page for slot `slot`: its first free page or an
  // appended one.
  TPageRef AllocatePage(int slot, TDataCursor* cursor = nullptr);
  // Puts a page at the front of its index's free list.
  void FreePage(int slot, TPage& page);
  void MarkChanged(TPage& page) { page.Changed = true; }
  // The root page of a slot, or an empty reference.
  TPageRef RootPage(int slot, TDataCursor* cursor = nullptr);
  TPageFormat FormatOf(int slot) const;

  // ---- Write-back and caches ------------------------------------------------
  void WriteBack(bool flushToDisk);
  // Drops the cached pages of slots 0..n (and 31 when asked), changes lost.
  void DropCache(bool withSystemIndex);
  // Returns pages beyond the first 15 (or the slot's share of the budget) of
  // each slot to the pool.
  void TrimCache(bool withSystemIndex);
  int CachedPages(int slot) const { return static_cast<int>(FCaches[slot].pages.size()); }
  // The pages slot `slot` may hold before it reuses one.
  int Capacity(int slot) const;
  int CacheCapacity(int slot) const { return Capacity(slot); }
  // The largest Capacity of the tree slots, counting the cached pages once
  // (a change's end asks this after every row).
  int LargestCapacity() const;

  // ---- Undo of one change (index_page_undo.h) -----------------------------------
  // As for the data file (data_file.h): the pages a change pins and the header
  // are put back by RollBackUndo (false: not whole, drop the caches).
  void BeginUndo();
  void EndUndo() { FUndo.End(); }
  bool RollBackUndo();
  // The header and the changed pages (slot, position) before a write-back;
  // RestoreMarks after a failed one marks them changed again and puts the
  // header back (false when a page is no longer cached).
  struct TMarks {
    std::array<std::uint8_t, kIndexHeaderSize> header{};
    std::vector<std::pair<int, std::int32_t>> changed;
  };
  TMarks MarksBeforeWriteBack() const;
  bool RestoreMarks(const TMarks& marks);

  // Counters.
  std::uint64_t PageReads() const { return FPageReads; }
  std::uint64_t PageWrites() const { return FPageWrites; }

 private:
  struct TSlotCache {
    std::vector<std::unique_ptr<TPage>> pages;  // in no order
    // The same pages by page number ((position - 4096) / 4096): a transaction
    // keeps thousands of them, and a key lookup finds each level's page with
    // one access. 8 bytes per page of the file up to the last one cached.
    std::vector<TPage*> byPosition;
    TPage* Find(std::int32_t position) const {
      const std::size_t i = PageNumber(position);
      return i < byPosition.size() ? byPosition[i] : nullptr;
    }
    void Set(std::int32_t position, TPage* page) {
      const std::size_t i = PageNumber(position);
      if (i >= byPosition.size()) byPosition.resize(i + 1, nullptr);
      byPosition[i] = page;
    }
    void Erase(std::int32_t position) {
      const std::size_t i = PageNumber(position);
      if (i < byPosition.size()) byPosition[i] = nullptr;
    }
    static std::size_t PageNumber(std::int32_t position) {
      return static_cast<std::size_t>(position - kIndexHeaderSize) /
             static_cast<std::size_t>(kIndexPageSize);
    }
    int capacity = kInitialCacheCapacity;
    TPage* recent[2] = {nullptr, nullptr};  // most recently used first
    std::size_t hand = 0;                   // where the next sampled eviction looks
  };

  std::string TableName() const { return FileName(); }
  void InitHeader();
  void CheckHeaderShape();
  // Pages cached over all slots.
  std::size_t TotalCachedPages() const;
  TPage* FindCached(int slot, std::int32_t position);
  // The least recently used page of the slot's cache that is neither changed
  // nor pinned (sampled in large caches), or end().
  std::vector<std::unique_ptr<TPage>>::iterator Victim(TSlotCache& cache);
  void Touch(int slot, TPage* page);
  // A page object for a new cache entry of `slot` (may write back or grow).
  std::unique_ptr<TPage> TakeCacheSlot(int slot);
  void InsertCached(int slot, std::unique_ptr<TPage> page);
  void ToPool(std::unique_ptr<TPage> page);
  void DropSlot(int slot);
  // Drops one unpinned cached page; false when it is pinned.
  bool DropCachedPage(int slot, std::int32_t position);
  void ReadPage(TPage& page);
  bool AcceptsShortRead() const {
    return (FHost->IsExclusive() || FHost->KeepsChangesInMemory()) && FHost->HasWritten();
  }
  std::vector<int> ActiveSlots(bool withSystemIndex) const;

  TSimpleStorageHost FDefaultHost;
  TStorageHost* FHost;
  bool FEncrypted = false;
  std::size_t FCacheBudget = 0;
  std::array<std::uint8_t, kIndexHeaderSize> FHeader{};
  std::array<TSlotCache, kTreeSlots> FCaches;
  std::array<std::uint64_t, kTreeSlots> FTreeChanges{};
  std::vector<std::unique_ptr<TPage>> FPool;
  std::vector<std::unique_ptr<TPage>> FDetached;  // dropped while pinned
  TPageUndo FUndo;
  std::array<std::uint8_t, kIndexHeaderSize> FUndoHeader{};  // the header at BeginUndo
  std::vector<std::uint8_t> FReadBuffer;
  std::vector<std::uint8_t> FWriteBuffer;
  std::uint64_t FUseClock = 0;
  std::uint64_t FPageReads = 0;
  std::uint64_t FPageWrites = 0;
};

}  // namespace engine
