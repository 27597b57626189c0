// TDataCursor: one opener's view of a table: a current position, a current
// index (or record-number order), an optional key range, and the operations
// that read, insert, change and delete records. It drives the data, index and
// BLOB files through the shared TDataTable, whose locks, change detection and
// write-back it calls around every operation:
//
//   read operation:   [ReadLock when StrictChangeDetection] -> counter check
//                     -> (re-find the position on a change) -> ... -> ReadUnlock
//   change operation: WriteLock (refreshes) -> counter check -> LockRecord ->
//                     caches changed -> FlushTable (shared) / MarkChanged
//                     (exclusive) -> UnlockRecord -> WriteUnlock
//
// Orders. Index order walks the leaves of the current index (slot 0 primary,
// 1..30 secondary); the position is kept as the current key, so it survives
// changes by others (re-found as that key or the nearest following one).
// Natural order (index 255, or index 0 of a table without a primary key)
// walks record numbers over the bitmap of visible records (bitmap mode); the
// present records come from the system index (every key with status 1 is a
// deleted record).
//
// Filters (sql/filter.h) hide records. While at least one is active the
// cursor is in bitmap mode in index order too: it navigates, counts and
// positions over the visible records in record-number order, and the key
// range only narrows the visible records (its bitmap is scanned from the
// index). Bitmaps are recomputed after opening, after a change of index,
// range or filters, and after changes by others; the cursor's own inserts,
// changes and deletes update the bits of one record:
//
//   visible = present [AND range] [AND every active filter's bitmap]
//
// Keys: for each key field a not-NULL byte and the encoded value (index_keys.h);
// a non-unique index appends the record's auto-increment value. The system
// index key is the status byte and the auto-increment value.
//
// Navigation answers codes instead of raising when it runs off either end:
// 8705 before the first record, 8706 after the last, 8709 with no current
// record; 0 is success. Everything else raises engine errors.
//
// Invariants: a record buffer handed in or out is exactly RecordSize() bytes;
// at most one of Bof()/Eof() is false while a record is current; an empty view
// has both set; in bitmap mode the visible bitmap and count agree with the
// formula above after every public call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/index_btree.h"
#include "engine/storage/index_keys.h"
#include "engine/storage/records_bitmap.h"
#include "engine/table/blob_buffer.h"
#include "engine/table/data_table.h"

namespace engine {

class TDataDirectory;
class TFilterList;

inline constexpr int kNaturalOrder = 255;      // index number of record-number order
inline constexpr int kSystemIndexNumber = 31;  // internal use
inline constexpr int kRangeKeySize = 524;      // bytes of a range key as the callers give it
inline constexpr int kNavOk = 0;

struct TCursorOptions {
  bool exclusive = false;
  bool readOnly = false;
  bool inMemory = false;
  bool naturalOrder = false;
  bool temporary = false;    // a temporary result table
  bool dropOnClose = false;  // delete the table set at close
  bool maintenance = false;  // open without positioning and checks
};

// What CreateTable makes.
struct TTableDefinition {
  std::uint16_t languageId = 0;
  std::uint16_t sortId = 0;
  TFieldDefinitions fields;               // numbered 1..F in order
  std::vector<TIndexDefinition> indexes;  // primary first; may be empty
  bool noPrimaryKey = false;
  std::int32_t blobBlockSize = 512;
  std::string description;
  std::int16_t userMajor = 1;
  std::int16_t userMinor = 0;
  std::string password;
  bool encrypted = false;
  bool overwrite = false;
};

class TDataCursor {
 public:
  using TRecordBuffer = std::vector<std::uint8_t>;

  TDataCursor(TDataDirectory* directory, std::string name);
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- Options and life cycle --------------------------------------------------------
  void SetName(const std::string& name);  // 10031 while open
  void SetOptions(const TCursorOptions& options);
  const std::string& Name() const { return FName; }
  bool IsOpen() const { return FOpen; }
  bool ReadOnly() const { return FOptions.readOnly || FReadOnlyAttr; }
  bool Exclusive() const { return FOptions.exclusive; }
  // Asked for the password of an encrypted table the session does not know;
  // it adds the password to the session and returns true, or gives up.
  std::function<bool(TDataSession&)> OnPassword;
  // Keep the auto-increment values the caller puts into records.
  bool AutoIncrementMode = false;

  void Open();
  void Close(bool drop = false);

  // ---- Table-level operations (closed cursor) ---------------------------------------
  void CreateTable(const TTableDefinition& definition);
  void DeleteTable();
  void RenameTable(const std::string& newName);
  // Open, exclusive, writable cursor.
  void EmptyTable();
  // Index definitions of an open, exclusive, writable cursor
  // (data_cursor_indexes.cpp). AddIndex adds a secondary index and fills it
  // from the records in use; a repeated key in a unique index raises 9729 and
  // leaves the table as it was. DeleteIndex removes an index by name (""
  // or "PRIMARY", any case, for the primary index; 10022 for an unknown
  // name) and puts its pages on the index's free list. Both leave the cursor
  // at the beginning of its index, or of the primary (natural) order when
  // its index went.
  int AddIndex(const TIndexDefinition& definition);
  void DeleteIndex(const std::string& name);
  // Rewrites the records of an open, exclusive, writable cursor in the order
  // of `fields` (every definition in order when empty; strings ignoring case
  // when asked), deleted records left out, and rebuilds every index over the
  // new record numbers (data_cursor_sort.cpp). One journaled rewrite: a crash
  // or a failure leaves the table as it was or wholly sorted. Refused inside
  // a transaction (10031). Returns the number of rows; the cursor stands at
  // the beginning of its index.
  std::int32_t SortTable(const std::vector<TDataFile::SortField>& fields,
                         bool caseInsensitive = false);

  // ---- Structure ------------------------------------------------------------------------
  TDataTable* Table() const { return FTable; }
  std::uint32_t RecordSize() const { return FRecordSize; }
  std::uint32_t FieldCount() const { return static_cast<std::uint32_t>(FFields.size()); }
  const TFieldDefinitions& Fields() const { return FFields; }
  // 1-based field number by name (ignoring case); 0 when none.
  std::uint32_t FieldNumber(const std::string& name) const;

  // ---- Record buffers and fields (data_cursor_fields.cpp) ---------------------------
  // A zeroed buffer with every default value filled in.
  TRecordBuffer NewRecord();
  bool IsNull(const TRecordBuffer& record, std::uint32_t field) const;
  // The slot's stored bytes (storage form); empty when NULL.
  std::vector<std::uint8_t> GetField(const TRecordBuffer& record, std::uint32_t field) const;
  // Stores `size` bytes in the storage form (cut to the storage size).
  void PutField(TRecordBuffer& record, std::uint32_t field, const void* data, std::size_t size);
  void PutNull(TRecordBuffer& record, std::uint32_t field);
  // Typed helpers over GetField/PutField.
  void PutString(TRecordBuffer& record, std::uint32_t field, std::string_view text);
  std::string GetString(const TRecordBuffer& record, std::uint32_t field) const;
  void PutInteger(TRecordBuffer& record, std::uint32_t field, std::int64_t value);
  std::int64_t GetInteger(const TRecordBuffer& record, std::uint32_t field) const;
  void PutDouble(TRecordBuffer& record, std::uint32_t field, double value);
  double GetDouble(const TRecordBuffer& record, std::uint32_t field) const;
  // BLOB fields: replaces the whole value; reads it whole.
  void PutBlob(TRecordBuffer& record, std::uint32_t field, const void* data, std::size_t size);
  std::vector<std::uint8_t> GetBlob(TRecordBuffer& record, std::uint32_t field);
  // Closes every BLOB buffer that `record`'s slots name, dropping changes not
  // yet stored: for a caller that gives up a record whose insert or edit
  // failed (the buffers would otherwise stay open until the cursor closes).
  void DiscardBlobs(TRecordBuffer& record);
  // The BLOB buffers of this cursor (the codes of blob_buffer.h).
  TBlobBufferSet& Blobs() { return FBlobs; }

  // ---- Navigation (read operations) ----------------------------------------------------
  void First();  // before the first record
  void Last();   // after the last record
  int Next(TRecordBuffer* record = nullptr);
  int Prior(TRecordBuffer* record = nullptr);
  int MoveBy(int steps);
  // The current record; with `lock` it is locked first and, unless the cursor
  // is exclusive, compared with `callerCopy` (8708 when it differs).
  int ReadCurrent(TRecordBuffer* record, bool lock = false,
                  const TRecordBuffer* callerCopy = nullptr);
  std::int64_t RecordCount();
  std::int64_t RecordPosition();
  int SetRecordPosition(std::int64_t position);
  bool Bof() const { return FBof; }
  bool Eof() const { return FEof; }
  std::int32_t CurrentRecordNumber() const { return FRecNo; }
  // Moves to the first record whose key over the first `length` bytes is at
  // least `key` (the key search); true when its key equals `key` there.
  bool FindKey(const std::vector<std::uint8_t>& key, int length);

  // ---- Index and range (read operations) -------------------------------------------------
  void SelectIndex(int number);
  void SelectIndex(const std::string& name);  // "" selects the primary index
  int CurrentIndex() const { return FIndex; }
  bool NaturalOrder() const;
  int KeyLength() const;
  // The key of the current index built from a record.
  std::vector<std::uint8_t> BuildKey(const TRecordBuffer& record) const;
  std::vector<std::uint8_t> BuildKey(const TRecordBuffer& record, int index) const;
  // Keys shorter than the key length are completed (low end with the lowest
  // values, high end with the highest).
  void SetRange(const std::vector<std::uint8_t>& start, const std::vector<std::uint8_t>& end);
  // Drops the range; the current record stays current when it is still visible.
  void CancelRange();
  bool RangeActive() const { return FRangeActive; }
  // Sets the bit of every record whose key in index `index` lies in [low, high];
  // answers the number of keys met (each names another record).
  std::int64_t ScanRangeToBitmap(int index, const std::vector<std::uint8_t>& low,
                                 const std::vector<std::uint8_t>& high, TRecordsBitmap& bitmap);
  // The number of keys of index `index` in [low, high], from the counts of
  // the internal pages (no leaf is visited).
  std::int64_t CountRange(int index, const std::vector<std::uint8_t>& low,
                          const std::vector<std::uint8_t>& high);
  // Sets the bit of every record whose key lies outside [low, high] (the keys
  // below and above it).
  void ScanOutsideRangeToBitmap(int index, const std::vector<std::uint8_t>& low,
                                const std::vector<std::uint8_t>& high, TRecordsBitmap& bitmap);

  // ---- Filters ----------------------------------------------------------------------------
  // The cursor's filter list (open cursor). Activating, deactivating, removing
  // or replacing a filter recomputes the visible records at once; the current
  // record stays current when it is still visible.
  TFilterList& Filters();
  // Bitmap mode: natural order, or any filter active.
  bool BitmapMode() const;

  // ---- Changes (data_cursor_edit.cpp) -----------------------------------------------------
  void Insert(TRecordBuffer& record, bool reposition = true);
  void Modify(TRecordBuffer& record, bool unlock = true, bool reposition = true);
  void Delete(const TRecordBuffer& callerCopy, bool reposition = true);
  // A new buffer holding the current record's values, BLOBs copied into new
  // BLOB buffers (8709 without a current record).
  TRecordBuffer CopyRecord();
  void LockRecord(std::int32_t n = 0);  // 0: the current record
  void UnlockRecord(std::int32_t n = 0);
  // The query read lock of an SQL statement that reads with locks
  // (data_cursor_locks.cpp): the table's own pair of reader slots, held until
  // QueryReadUnlock, so that no other process writes the table in between;
  // every read operation meanwhile goes without a lock of its own. The
  // position is re-found when the table changed. Nothing is taken where no
  // lock is needed (exclusive or read-only-attribute tables, or the lock is
  // already held), but the change check still runs. True when this call
  // took the lock (and the caller is the one to release it).
  bool QueryReadLock();
  void QueryReadUnlock();

 private:
  friend class TCursorRead;
  friend class TCursorWrite;
  friend class TFilterList;
  TDataFile& Data() const { return FTable->DataFile(); }
  TIndexFile& Index() const { return FTable->IndexFile(); }
  void CheckClosed() const;
  void CheckOpen() const;
  void LoadStructure();
  void BuildLayouts();
  const TKeyLayout& LayoutOf(int slot) const { return FLayouts[static_cast<std::size_t>(slot)]; }
  TIndexTree Tree(int slot) { return TIndexTree(Index(), slot, LayoutOf(slot), this); }
  int Slot() const { return FIndex == kNaturalOrder ? kPrimarySlot : FIndex; }
  std::vector<int> KeySlots() const;  // primary (when it has a key) and the secondaries

  // Change checks and re-finding (data_cursor.cpp).
  bool CountersChanged();
  void TakeCounters();
  void Resync();
  void ResetRange();
  // Full keys of index `index` for a range given by (possibly short) keys.
  struct TKeyRange {
    std::vector<std::uint8_t> low, high;
    int length = 0;
    bool empty = false;  // low above high
  };
  // Checks `index` and completes short keys (low end lowest, high end highest).
  TKeyRange RangeKeys(int index, const std::vector<std::uint8_t>& low,
                      const std::vector<std::uint8_t>& high) const;
  void SizeBitmapFor(TRecordsBitmap& bitmap);
  void ComputeRange();
  void ComputeBitmaps();
  void ComputeRangeBitmap();
  void ComputeVisible();
  // After the filter list changed (called by the list).
  void FiltersChanged();
  // Bitmap upkeep after this cursor wrote or deleted record n.
  void BitmapsAfterWrite(std::int32_t n, const TRecordBuffer& record);
  void BitmapsAfterDelete(std::int32_t n);
  const TRecordsBitmap& Visible() const;
  std::int64_t ViewCount() const;  // RecordCount without the read bracket
  std::uint32_t VisibleCount() const;
  bool FiltersActive() const;
  void FindAgain();
  // Record access.
  void FetchRecord(std::int32_t n, TRecordBuffer& into);
  void LoadCurrent();
  bool StepIndex(bool forward);
  bool StepBitmap(bool forward);
  bool InRange(const std::uint8_t* key) const;
  void SetCurrentFromIndex(TIndexTree& tree, const TIndexPosition& at);
  int Fetch(bool forward, TRecordBuffer* record);
  void Rebuild();
  void CheckStructureChange() const;
  void FreeTreePages(int slot);
  void AfterIndexesChanged(int index);
  // Every tree emptied and filled again from records 1 .. `records`, all in
  // use (after a physical sort).
  void RebuildIndexes(std::int32_t records);
  void CheckConsistencyOnOpen();
  void CheckPassword();
  void AfterInsertOrModify(std::int32_t n, const TRecordBuffer& record, bool reposition);
  void WriteBack();

  // Record rules (data_cursor_fields.cpp).
  void ApplyDefaults(TRecordBuffer& record);
  void CheckValidity(const TRecordBuffer& record);
  void CheckRecordSize(const TRecordBuffer& record) const;
  std::size_t SlotOf(std::uint32_t field) const;

  TDataDirectory* FDirectory;
  TDataTable* FTable = nullptr;
  std::string FName;
  TCursorOptions FOptions;
  bool FOpen = false;
  bool FReadOnlyAttr = false;
  TFieldDefinitions FFields;
  std::uint32_t FRecordSize = 0;
  std::uint16_t FLanguageId = 0;
  std::uint16_t FSortId = 0;
  bool FHasAutoIncField = false;
  bool FHasValidity = false;
  bool FHasDefaults = false;
  std::vector<TKeyLayout> FLayouts;  // per slot 0..31
  TRecordBuffer FRecord;             // the record at the cursor
  int FIndex = 0;
  std::vector<std::uint8_t> FKey;  // the current key (index order)
  std::int32_t FRecNo = 0;         // the current record number
  bool FBof = true;
  bool FEof = true;
  bool FRangeActive = false;
  std::vector<std::uint8_t> FRangeStart, FRangeEnd;
  std::int64_t FRangeFirst = 1, FRangeLast = 0;
  TRecordsBitmap FPresent;
  TRecordsBitmap FRangeBits;  // records whose key lies in the range (index order)
  TRecordsBitmap FVisible;    // without active filters; with them the list keeps it
  std::uint32_t FVisibleCount = 0;
  bool FBitmapsValid = false;    // present and range bits follow the table
  bool FQueryLockTaken = false;  // this cursor took the table's query read lock
  std::unique_ptr<TFilterList> FFilters;
  std::int32_t FSeen[3] = {0, 0, 0};
  TBlobBufferSet FBlobs;
};

}  // namespace engine
