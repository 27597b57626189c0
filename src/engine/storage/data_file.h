// TDataFile: the data file of a table (extension .DAT) with its header, field
// definitions, fixed-size records and the record cache.
//
// File layout (all integers little-endian):
//
//   offset            length          content
//   0                 127             header (never enciphered)
//   127               768 * F         field definitions 1..F (field_defs.h),
//                                     enciphered as one unit when encrypted
//   127 + 768 * F     R * (N - 1)     records 1..N-1 (R record size, N next
//                                     record number), each enciphered alone
//
// Record n starts at 127 + 768 * F + (n - 1) * R; the file has no other
// content and no gaps.
//
// Header (127 bytes):
//
//   off type    meaning
//     0 int32   change counter, raised by every header write
//     4 int32   BLOB block size (0 means 512)
//     8 uint8   format, always 4
//     9 int32   first free record (head of the chain of deleted records; 0 = none)
//    13 int32   next record number (starts at 1)
//    17 int32   last auto-increment value handed out
//    21 uint16  record size R
//    23 uint16  field count F (at most 1024)
//    25 int16   BLOB field count (at most 64)
//    27 float64 last write time: local days since 1899-12-30 minus 693594.0
//    35 51      description, counted string, scrambled when encrypted
//    86 uint8   encrypted
//    87 16      password, counted string, scrambled; empty when not encrypted
//   103 int16   LanguageID (0 = plain byte order)
//   105 int16   SortID
//   107 int16   user major version
//   109 int16   user minor version
//   111 uint8   modified marker: the in-memory "header has pending changes" flag
//               is this byte, so a header copied in by HeaderChanged carries the
//               writer's marker with it
//   112 int32   last BLOB id handed out
//   116 int64   engine version 21200 (2.12 with four decimals)
//   124 3       reserved, zero
//
// Worked example (the backup catalog, five fields, R = 530): bytes 4..7 are
// 00 02 00 00, byte 8 is 04, 13..16 are 01 00 00 00 in a new file, 21..22 are
// 12 02, 23..24 are 05 00, 25..26 are 01 00 and 116..123 are D0 52 00 .. 00.
// The definitions lie at 127, 895, 1663, 2431 and 3199 and record 1 at 3967.
//
// Record layout and the free chain: byte 0 is the status (0 in use, 1
// deleted), bytes 1..4 the record's own number (in use) or the next deleted
// record (deleted; 0 ends the chain), bytes 5..8 the auto-increment value, then
// the field slots (field_defs.h). Deleted records are reused last-deleted-first
// by inserts, but only when the table has a primary key of its own; a table
// without one keeps rows in record-number order and always appends.
//
// Counters: the last auto-increment value (17) and the last BLOB id (112) are
// raised by one per value handed out; from 2147483647 they restart at 0 first,
// so the next value is 1.
//
// Cache rules (see record_cache.h): GetRecord tries the cache, and on a miss
// first lets the table check for changes by other users (unless it holds the
// read lock for the whole operation anyway), then reads up to 65535 bytes of
// consecutive records with one read. The cache holds at most
// min(131070 / R, 8191) records (BaseCacheCapacity) and writes changed records
// back when it needs a slot, unless the table keeps its changes in memory (a
// transaction, a change in progress: TStorageHost::KeepsChangesInMemory);
// then changed records must stay, so it grows by 255 records at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/file_handler.h"
#include "engine/storage/change_undo.h"
#include "engine/storage/data_file_host.h"
#include "engine/storage/field_defs.h"
#include "engine/storage/record_cache.h"

namespace engine {

class TDataCursor;
class TRecordsBitmap;

inline constexpr std::uint32_t kDataHeaderSize = 127;  // bytes
inline constexpr std::uint8_t kFileFormat = 4;         // format byte of all three table files
inline constexpr std::int64_t kEngineVersion = 21200;  // 2.12 with four decimals
inline constexpr std::uint32_t kMaxFieldCount = 1024;
inline constexpr std::int16_t kMaxBlobFields = 64;
inline constexpr std::uint32_t kMaxRecordSize = 65535;       // bytes
inline constexpr std::int32_t kMaxRecordNumber = 100000000;  // an append may not pass it
inline constexpr std::int64_t kMaxDataBytes = 2000000000;    // N * R may not exceed it
inline constexpr std::uint32_t kReadAheadBytes = 65535;      // largest single record read
inline constexpr std::uint32_t kCacheBytes = 131070;         // cache bound outside transactions
inline constexpr std::uint32_t kMaxCachedRecords = 8191;
inline constexpr std::uint32_t kCacheGrowth = 255;          // entries added inside a transaction
inline constexpr std::int32_t kCounterMax = 2147483647;     // counters wrap after this
inline constexpr std::size_t kMaxTablePasswordLength = 15;  // characters stored in the header
inline constexpr double kWriteTimeBias = 693594.0;          // days subtracted from the write time
inline constexpr std::int32_t kDefaultBlobBlockSize = 512;  // bytes, when the header holds 0

// Directions of a read-ahead.
inline constexpr int kReadForward = 1;
inline constexpr int kReadBackward = -1;

// Header byte offsets.
namespace data_header {
inline constexpr std::size_t kChangeCounter = 0, kBlobBlockSize = 4, kFormat = 8, kFirstFree = 9,
                             kNextRecord = 13, kLastAutoInc = 17, kRecordSize = 21,
                             kFieldCount = 23, kBlobFieldCount = 25, kLastWriteTime = 27,
                             kDescription = 35, kEncrypted = 86, kPassword = 87, kLanguageId = 103,
                             kSortId = 105, kUserMajor = 107, kUserMinor = 109, kModified = 111,
                             kLastBlobId = 112, kEngineVersionAt = 116;
inline constexpr std::size_t kDescriptionArea = 51, kPasswordArea = 16;
}  // namespace data_header

// The values a creator supplies for a new data file.
struct TDataFileSpec {
  TFieldDefinitions fields;  // already laid out (LayOutDefinitions)
  std::int16_t languageId = 0;
  std::int16_t sortId = 0;
  std::int16_t userMajor = 0;
  std::int16_t userMinor = 0;
  std::string description;
  std::string password;
  bool encrypted = false;
  std::int32_t blobBlockSize = 0;  // 0 stores 0, which means 512
};

// One finding of a consistency check: the engine code it would raise and what
// was found.
struct TCheckFinding {
  int code = 0;
  std::string text;
};

// What a walk over every record found (TDataFile::DiagnoseRecords).
struct TRecordCensus {
  std::int64_t live = 0;     // records in use
  std::int64_t deleted = 0;  // records marked deleted
  std::vector<TCheckFinding> findings;
};

// Records named one by one in a finding list before the rest are summed up.
inline constexpr int kMaxListedRecords = 20;

class TDataFile : public TFileHandler {
 public:
  using THeader = std::array<std::uint8_t, kDataHeaderSize>;

  // `host` (the owning table, or a TSimpleStorageHost) must outlive the file.
  TDataFile(TDataTable* table, TStorageHost* host);
  ~TDataFile() override;

  // ---- Life cycle --------------------------------------------------------------
  // Fills the header and definitions from `plan` and creates the file; the
  // header and definitions reach the disk with the first write-back
  // (WriteHeader + WriteDefinitions). Raises 9498 for a 65th BLOB field and 9477
  // for a record size above 65535.
  void CreateDataFile(const TDataFileSpec& plan);
  void Open() override;
  void Close() override;

  // ---- Header ------------------------------------------------------------------
  void ReadHeader();  // unconditional reload; clears the modified marker
  bool HeaderChanged();
  void WriteHeader(bool force, bool flushToDisk);
  void MarkHeaderChanged();
  void ReadDefinitions();
  void WriteDefinitions();
  // Cuts the file after the definitions and resets the counters.
  void Empty();
  const THeader& Header() const { return FHeader; }
  bool HeaderModified() const { return FHeader[data_header::kModified] != 0; }

  std::int32_t ChangeCounter() const;
  std::int32_t BlobBlockSize() const;  // as stored (0 means 512)
  std::uint8_t Format() const { return FHeader[data_header::kFormat]; }
  std::int32_t FirstFree() const;
  std::int32_t NextRecord() const;
  std::int32_t LastAutoIncrement() const;
  std::uint32_t RecordSize() const;
  std::uint32_t FieldCount() const;
  std::int16_t BlobFieldCount() const;
  double LastWriteTime() const;
  bool Encrypted() const { return FHeader[data_header::kEncrypted] != 0; }
  std::string Description() const;
  std::string Password() const;
  std::int16_t LanguageId() const;
  std::int16_t SortId() const;
  std::int16_t UserMajor() const;
  std::int16_t UserMinor() const;
  std::int32_t LastBlobId() const;
  std::int64_t EngineVersion() const;
  // Next record number - 1: every record slot, deleted ones included.
  std::int32_t RecordCount() const { return NextRecord() - 1; }

  std::int32_t NextAutoIncrement();
  std::int32_t NextBlobId();
  void SetLastAutoIncrement(std::int32_t value);
  void SetHeaderProperties(std::string_view password, std::string_view description,
                           std::int16_t userMinor, std::int16_t userMajor,
                           std::int32_t lastAutoIncrement);

  // ---- Definitions (1-based) ---------------------------------------------------
  const TFieldDefinition& GetDefinition(std::uint32_t i) const;
  const TFieldDefinitions& Definitions() const { return FDefinitions; }
  // 1-based number of the field named `name` (ignoring case), 0 when none.
  std::uint32_t FindDefinition(std::string_view name) const;
  void SetDefinitionProperties(std::uint32_t i, const TFieldDefinition& source);
  bool DefinitionsChanged() const { return FDefinitionsChanged; }

  // ---- Records -----------------------------------------------------------------
  // Record n, pinned. n == NextRecord() appends (9479 when full); an appended
  // record is zero but for its number and counts as changed, so that the file
  // always grows with the next record number. Returns null
  // when the change check of a cache miss dropped the caches: the caller
  // repeats its operation. `suppliedCount` > 0 is the read-ahead the cursor
  // asks for. 8962 when n is not a record of the file or cannot be cached.
  TRecord* GetRecord(TDataCursor* cursor, std::int32_t n, int direction = kReadForward,
                     bool useReadAhead = true, std::int32_t suppliedCount = 0);
  void ReleaseRecord(TRecord* record);
  // Marks a record's content as changed (to be written back).
  void MarkRecordChanged(TRecord* record);
  // Where the next insert goes: the first free record when the table has a
  // primary key of its own and the chain is not empty, else NextRecord().
  std::int32_t InsertPosition() const;
  // The record at InsertPosition(), pinned, with the free chain advanced past
  // it; null when the caches were dropped (repeat). A chain head that is not a
  // deleted record of the file (damage) is dropped and the record appended,
  // so a live row is never handed out.
  TRecord* AllocateRecord(TDataCursor* cursor);
  // InsertPosition(), refused with 8961 when the header's first free record
  // is not a record of the file (the insert would lock and reuse a slot that
  // does not exist).
  std::int32_t CheckedInsertPosition() const;
  // Marks a record deleted and links it into the free chain.
  void FreeRecord(TRecord* record);
  // Whether the table has a primary key of its own (the index file knows);
  // decides whether deleted records are reused.
  void SetHasPrimaryKey(bool value) { FHasPrimaryKey = value; }
  bool HasPrimaryKey() const { return FHasPrimaryKey; }

  // ---- Sequential scan (data_file_scan.cpp) ---------------------------------------
  // Receives record n's current content (RecordSize() bytes, deciphered, valid
  // only during the call).
  using TRecordVisitor = std::function<void(std::int32_t n, const std::uint8_t* record)>;
  // Visits the records whose bits are set in `which`, in ascending order, each
  // once, without taking them into the cache: consecutive records are read in
  // runs of up to 65535 bytes, and a record the cache holds is taken from
  // there (a changed record's unwritten content wins over the file's). Bits
  // past RecordCount() are ignored. Before each read from the file the table
  // checks for changes by other users, as a cache miss does; returns false
  // when that check dropped the caches (the caller starts again), true when
  // every record was visited. 9217 for a short read that the table's state
  // does not explain, 8962 for a record neither in the file nor cached.
  bool ScanRecords(TDataCursor* cursor, const TRecordsBitmap& which, const TRecordVisitor& visit);

  // ---- Cache -------------------------------------------------------------------
  void WriteBack(bool flushToDisk);
  void DropCache();
  void TrimCache();
  std::size_t CachedCount() const { return FCache.Count(); }
  std::size_t CacheCapacity() const { return FCache.Capacity(); }
  // The capacity the cache is trimmed back to: min(131070 / R, 8191).
  std::size_t BaseCacheCapacity() const;
  bool IsCached(std::int32_t n) const;
  std::uint32_t ReadAheadCount() const { return FReadAheadCount; }
  std::uint64_t ReadCount() const { return FReads; }
  std::uint64_t WriteCount() const { return FWrites; }

  // ---- Undo of one change (change_undo.h) -----------------------------------------
  // BeginUndo copies the header and starts noting the records the change
  // pins; EndUndo forgets the notes (the change is kept); RollBackUndo puts
  // the records and the header back as they were at BeginUndo and answers
  // false when that could not be done whole (the caller then drops the cache
  // and reads the header again).
  void BeginUndo();
  void EndUndo() { FUndo.End(); }
  bool RollBackUndo();
  // The header, the definitions flag and the changed records before a
  // write-back; RestoreMarks after a failed one marks them changed again and
  // puts the header back (false when a record is no longer cached).
  struct TMarks : TWriteBackMarks<THeader> {
    bool definitionsChanged = false;
  };
  TMarks MarksBeforeWriteBack() const;
  bool RestoreMarks(const TMarks& marks);

  // ---- Checks ------------------------------------------------------------------
  // The open-time consistency check; raises the first finding's code (12035
  // wrong format, 15878 missing locale, otherwise 8961).
  // `valueTexts` reads value texts in the table's own formats; without it they
  // are read as DefaultValueTextConverts reads them.
  void CheckConsistency(TValueTextCheckMaker valueTexts = nullptr);
  // Every finding of the same checks, without raising (for the table-set checker).
  std::vector<TCheckFinding> Diagnose(TValueTextCheckMaker valueTexts = nullptr);
  // Walks every record and the free chain (see data_file_check.cpp); for the
  // table-set checker and repair. Nothing is changed.
  TRecordCensus DiagnoseRecords(bool hasPrimaryKey, TDataCursor* cursor = nullptr);

  // ---- Physical sort (data_sort.cpp) --------------------------------------------
  struct SortField {
    std::uint32_t field = 0;  // 1-based definition number
    bool descending = false;
  };
  struct SortOptions {
    // Fields to sort on, in order; empty means every definition in order, each
    // with its own descending flag (definition offset 253).
    std::vector<SortField> fields;
    // Strings compare ignoring case (upper-cased under the table's locale).
    bool caseInsensitive = false;
    bool dropDuplicates = false;
    // Grouping: called for a record whose key equals the previous kept
    // record's; it may fold `next` into `kept` and returns true when `next`
    // is thereby consumed (not written).
    std::function<bool(std::uint8_t* kept, const std::uint8_t* next)> combine;
    // Called for each record about to be written; false drops it.
    std::function<bool(std::uint8_t* record)> accept;
    // Records per run when the table does not fit in the cache; 0 means
    // min(8191, 2097120 / R). Tests set small values to force run files.
    std::uint32_t runRecords = 0;
  };
  // Sorts the records in place (in memory when all are cached, otherwise with
  // sorted run files and a merge). Deleted records are left out. Afterwards
  // the records are 1..count, the free chain is empty and the file is cut
  // after the last record. Returns the number of records written.
  std::int32_t Sort(const SortOptions& options);

  TStorageHost* Host() const { return FHost; }
  std::int64_t RecordPosition(std::int32_t n) const;

 private:
  friend class TDataSorter;
  std::uint32_t DefinitionsBytes() const { return FieldCount() * kFieldDefinitionSize; }
  void SetI32(std::size_t at, std::int32_t v);
  std::int32_t BumpCounter(std::size_t at);
  bool FlushWanted(bool flushToDisk) const;
  // Whether a read ending before the requested records is expected: records
  // appended in the caches but not yet written lie beyond the file's end,
  // which can only be when no one else can have changed the file.
  bool ShortReadExplained() const;
  void ResetCacheLimits();
  TRecord* AppendRecord();
  std::unique_ptr<TRecord> TakeSlot();
  TRecord* LoadRecords(TDataCursor* cursor, std::int32_t n, int direction, bool useReadAhead,
                       std::int32_t suppliedCount);
  void Scramble(std::size_t at, std::size_t length, bool encipher);
  void CipherDefinitions(bool encipher);
  void FlushRun(std::vector<TRecord*>& run, bool flushToDisk);
  void ReadHeaderBytes(THeader& into);

  TStorageHost* FHost;
  THeader FHeader{};
  TFieldDefinitions FDefinitions;
  bool FDefinitionsChanged = false;
  bool FHasPrimaryKey = true;
  std::vector<std::uint8_t> FReadBuffer;
  std::vector<std::uint8_t> FWriteBuffer;
  std::uint32_t FReadAheadCount = 1;
  TEntryCache<TRecord> FCache{kRecordPoolCapacity};
  TEntryUndo<TRecord> FUndo;
  THeader FUndoHeader{};           // the header at BeginUndo
  bool FUndoHasPrimaryKey = true;  // FHasPrimaryKey at BeginUndo
  std::uint64_t FReads = 0;
  std::uint64_t FWrites = 0;
};

}  // namespace engine
