// TDataFile: header, definitions, records, the record cache and write-back.
// The file format and the cache rules are described in data_file.h; the
// consistency check is in data_file_check.cpp and the physical sort in
// data_sort.cpp.
#include "engine/storage/data_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/data_file_bytes.h"
#include "platform/dos_time.h"

namespace engine {
namespace h = data_header;

namespace {

// Bytes of the definitions area an older writer (engine version 0) enciphered:
// the area's length modulo this.
constexpr std::size_t kOldWriterCipherSpan = 65536;

// Bytes of records per write of a long run (see WriteBack).
constexpr std::size_t kWritePieceBytes = 256 * 1024;

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince18991230(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t unixDays = era * 146097 + doe - 719468;
  constexpr std::int64_t kUnixEpochFrom18991230 = 25569;  // days 1899-12-30 .. 1970-01-01
  return unixDays + kUnixEpochFrom18991230;
}

// The local date and time now as days since 1899-12-30 (time as the fraction).
double LocalNowAsDays() {
  const auto parts = platform::UnpackDosDateTime(platform::DosDateTimeFromUnix(std::time(nullptr)));
  const double dayFraction = (parts.hour * 3600.0 + parts.minute * 60.0 + parts.second) / 86400.0;
  return static_cast<double>(DaysSince18991230(parts.year, parts.month, parts.day)) + dayFraction;
}

std::string CountedFrom(const std::uint8_t* area, std::size_t areaSize) {
  const std::size_t length = std::min<std::size_t>(area[0], areaSize - 1);
  return std::string(reinterpret_cast<const char*>(area + 1), length);
}

void CountedTo(std::uint8_t* area, std::size_t areaSize, std::string_view text) {
  const std::size_t length = std::min(text.size(), areaSize - 1);
  std::fill_n(area, areaSize, std::uint8_t{0});
  area[0] = static_cast<std::uint8_t>(length);
  std::memcpy(area + 1, text.data(), length);
}

}  // namespace

TDataFile::TDataFile(TDataTable* table, TStorageHost* host) : TFileHandler(table), FHost(host) {}

TDataFile::~TDataFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; the file object is released either way.
  }
}

// ---- Header fields -----------------------------------------------------------

std::int32_t TDataFile::ChangeCounter() const {
  return bytes::GetI32(&FHeader[h::kChangeCounter]);
}
std::int32_t TDataFile::BlobBlockSize() const {
  return bytes::GetI32(&FHeader[h::kBlobBlockSize]);
}
std::int32_t TDataFile::FirstFree() const {
  return bytes::GetI32(&FHeader[h::kFirstFree]);
}
std::int32_t TDataFile::NextRecord() const {
  return bytes::GetI32(&FHeader[h::kNextRecord]);
}
std::int32_t TDataFile::LastAutoIncrement() const {
  return bytes::GetI32(&FHeader[h::kLastAutoInc]);
}
std::uint32_t TDataFile::RecordSize() const {
  return bytes::GetU16(&FHeader[h::kRecordSize]);
}
std::uint32_t TDataFile::FieldCount() const {
  return bytes::GetU16(&FHeader[h::kFieldCount]);
}
std::int16_t TDataFile::BlobFieldCount() const {
  return bytes::GetI16(&FHeader[h::kBlobFieldCount]);
}
double TDataFile::LastWriteTime() const {
  return bytes::GetF64(&FHeader[h::kLastWriteTime]);
}
std::int16_t TDataFile::LanguageId() const {
  return bytes::GetI16(&FHeader[h::kLanguageId]);
}
std::int16_t TDataFile::SortId() const {
  return bytes::GetI16(&FHeader[h::kSortId]);
}
std::int16_t TDataFile::UserMajor() const {
  return bytes::GetI16(&FHeader[h::kUserMajor]);
}
std::int16_t TDataFile::UserMinor() const {
  return bytes::GetI16(&FHeader[h::kUserMinor]);
}
std::int32_t TDataFile::LastBlobId() const {
  return bytes::GetI32(&FHeader[h::kLastBlobId]);
}
std::int64_t TDataFile::EngineVersion() const {
  return bytes::GetI64(&FHeader[h::kEngineVersionAt]);
}

std::string TDataFile::Description() const {
  std::array<std::uint8_t, h::kDescriptionArea> area;
  std::memcpy(area.data(), &FHeader[h::kDescription], area.size());
  if (Encrypted()) Decipher(area.data(), area.size(), kHeaderKey);
  return CountedFrom(area.data(), area.size());
}

std::string TDataFile::Password() const {
  std::array<std::uint8_t, h::kPasswordArea> area;
  std::memcpy(area.data(), &FHeader[h::kPassword], area.size());
  if (Encrypted()) Decipher(area.data(), area.size(), kHeaderKey);
  return CountedFrom(area.data(), area.size());
}

void TDataFile::SetI32(std::size_t at, std::int32_t v) {
  bytes::PutI32(&FHeader[at], v);
}

std::int32_t TDataFile::BumpCounter(std::size_t at) {
  std::int32_t value = bytes::GetI32(&FHeader[at]);
  if (value == kCounterMax) value = 0;  // wrap: the next value handed out is 1
  ++value;
  SetI32(at, value);
  FHeader[h::kModified] = 1;
  return value;
}

std::int32_t TDataFile::NextAutoIncrement() {
  return BumpCounter(h::kLastAutoInc);
}
std::int32_t TDataFile::NextBlobId() {
  return BumpCounter(h::kLastBlobId);
}

void TDataFile::SetLastAutoIncrement(std::int32_t value) {
  SetI32(h::kLastAutoInc, value);
  FHeader[h::kModified] = 1;
}

void TDataFile::SetHeaderProperties(std::string_view password, std::string_view description,
                                    std::int16_t userMinor, std::int16_t userMajor,
                                    std::int32_t lastAutoIncrement) {
  CountedTo(&FHeader[h::kPassword], h::kPasswordArea, Encrypted() ? password : std::string_view{});
  CountedTo(&FHeader[h::kDescription], h::kDescriptionArea, description);
  if (Encrypted()) {
    Scramble(h::kPassword, h::kPasswordArea, true);
    Scramble(h::kDescription, h::kDescriptionArea, true);
  }
  bytes::PutI16(&FHeader[h::kUserMinor], userMinor);
  bytes::PutI16(&FHeader[h::kUserMajor], userMajor);
  SetI32(h::kLastAutoInc, lastAutoIncrement);
  FHeader[h::kModified] = 1;
}

void TDataFile::Scramble(std::size_t at, std::size_t length, bool encipher) {
  if (encipher)
    Encipher(&FHeader[at], length, kHeaderKey);
  else
    Decipher(&FHeader[at], length, kHeaderKey);
}

// ---- Creation, open, close ---------------------------------------------------

void TDataFile::CreateDataFile(const TDataFileSpec& plan) {
  const std::string& table = FileName();
  if (plan.fields.size() > kMaxFieldCount) RaiseEngineError(kErrFieldLimits, table);
  FHeader.fill(0);
  bytes::PutI16(&FHeader[h::kLanguageId], plan.languageId);
  bytes::PutI16(&FHeader[h::kSortId], plan.sortId);
  bytes::PutI16(&FHeader[h::kUserMajor], plan.userMajor);
  bytes::PutI16(&FHeader[h::kUserMinor], plan.userMinor);
  FHeader[h::kEncrypted] = plan.encrypted ? 1 : 0;
  if (plan.encrypted) {
    CountedTo(&FHeader[h::kPassword], h::kPasswordArea,
              std::string_view(plan.password).substr(0, kMaxTablePasswordLength));
    CountedTo(&FHeader[h::kDescription], h::kDescriptionArea, plan.description);
    Scramble(h::kPassword, h::kPasswordArea, true);
    Scramble(h::kDescription, h::kDescriptionArea, true);
  } else {
    CountedTo(&FHeader[h::kDescription], h::kDescriptionArea, plan.description);
  }
  bytes::PutU16(&FHeader[h::kFieldCount], static_cast<std::uint16_t>(plan.fields.size()));
  SetI32(h::kBlobBlockSize, plan.blobBlockSize);

  std::int16_t blobFields = 0;
  std::uint32_t recordSize = kFirstSlotOffset;
  for (const TFieldDefinition& f : plan.fields) {
    if (f.Type() == kFieldBlob && ++blobFields > kMaxBlobFields)
      RaiseEngineError(kErrBlobDefinition, table);
    if (f.HasSlot()) recordSize += StorageSizeOf(f.Type(), f.Size()) + 1u;
  }
  if (recordSize > kMaxRecordSize) RaiseEngineError(kErrRecordSizeExceeded, table);
  bytes::PutI16(&FHeader[h::kBlobFieldCount], blobFields);
  bytes::PutU16(&FHeader[h::kRecordSize], static_cast<std::uint16_t>(recordSize));
  FHeader[h::kFormat] = kFileFormat;
  SetI32(h::kFirstFree, 0);
  SetI32(h::kNextRecord, 1);
  SetI32(h::kLastAutoInc, 0);
  SetI32(h::kChangeCounter, 0);
  FHeader[h::kModified] = 1;

  TFileHandler::CreateNew();  // closes first, which clears the definitions
  FDefinitions = plan.fields;
  FDefinitionsChanged = true;
  ResetCacheLimits();
}

void TDataFile::ResetCacheLimits() {
  const std::uint32_t r = RecordSize();
  FReadAheadCount = r == 0 ? 1 : std::max<std::uint32_t>(1, kReadAheadBytes / r);
  FCache.SetCapacity(BaseCacheCapacity());
  FReads = FWrites = 0;
}

void TDataFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
    // Every record holds at least its status, link and auto-increment bytes;
    // records are read into buffers of this size.
    if (FieldCount() > kMaxFieldCount || RecordSize() < kFirstSlotOffset)
      RaiseEngineError(kErrHeaderCorrupt, FileName());
    ReadDefinitions();
    ResetCacheLimits();
  } catch (...) {
    FDefinitions.clear();
    TFileHandler::Close();
    throw;
  }
}

void TDataFile::Close() {
  FDefinitions.clear();
  FUndo.MarkBroken();
  FCache.DropAll();
  TFileHandler::Close();
}

void TDataFile::ReadHeaderBytes(THeader& into) {
  TFileAccess access(*this);
  Seek(0, kSeekFromStart);
  Read(into.data(), static_cast<std::int32_t>(into.size()));
}

void TDataFile::ReadHeader() {
  ReadHeaderBytes(FHeader);
  FHeader[h::kModified] = 0;
}

bool TDataFile::HeaderChanged() {
  // Only the counter is compared; the whole header is read when it moved.
  std::uint8_t counter[kChangeCounterBytes];
  ReadAt(h::kChangeCounter, counter, kChangeCounterBytes);
  if (bytes::GetI32(counter) == ChangeCounter()) return false;
  THeader stored;
  ReadHeaderBytes(stored);
  // The record layout never changes after creation: a stored header that
  // says otherwise is damaged, and the cached records keep their size.
  if (bytes::GetU16(&stored[h::kRecordSize]) != RecordSize() ||
      bytes::GetU16(&stored[h::kFieldCount]) != FieldCount())
    RaiseEngineError(kErrHeaderCorrupt, FileName());
  FHeader = stored;  // the stored modified marker comes with it
  return true;
}

bool TDataFile::ShortReadExplained() const {
  return FHost == nullptr ||
         ((FHost->IsExclusive() || FHost->KeepsChangesInMemory()) && FHost->HasWritten());
}

bool TDataFile::FlushWanted(bool flushToDisk) const {
  return flushToDisk || (FHost != nullptr && FHost->ForceBufferFlush());
}

void TDataFile::WriteHeader(bool force, bool flushToDisk) {
  if (!force && !HeaderModified()) return;
  SetI32(h::kChangeCounter, ChangeCounter() + 1);
  bytes::PutI64(&FHeader[h::kEngineVersionAt], kEngineVersion);
  bytes::PutF64(&FHeader[h::kLastWriteTime], LocalNowAsDays() - kWriteTimeBias);
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    Write(FHeader.data(), static_cast<std::int32_t>(FHeader.size()));
  }
  if (FlushWanted(flushToDisk)) Flush();
  if (FHost != nullptr) FHost->NoteWrite();
  FHeader[h::kModified] = 0;
}

void TDataFile::MarkHeaderChanged() {
  SetI32(h::kChangeCounter, ChangeCounter() + 1);
  FHeader[h::kModified] = 1;
  if (FHost != nullptr) FHost->NoteWrite();
}

// ---- Definitions -------------------------------------------------------------

void TDataFile::CipherDefinitions(bool encipher) {
  if (!Encrypted() || FDefinitions.empty()) return;
  // The definitions are enciphered as one unit. A file from an older writer
  // (engine version 0) enciphered only the first (F * 768) mod 65536 bytes;
  // this writer always enciphers the whole area (see WriteDefinitions).
  std::vector<std::uint8_t> area(FDefinitions.size() * kFieldDefinitionSize);
  for (std::size_t i = 0; i < FDefinitions.size(); ++i)
    std::memcpy(&area[i * kFieldDefinitionSize], FDefinitions[i].Bytes(), kFieldDefinitionSize);
  std::size_t unit = area.size();
  if (!encipher && EngineVersion() == 0) unit %= kOldWriterCipherSpan;
  if (encipher)
    Encipher(area.data(), unit, kDataKey);
  else
    Decipher(area.data(), unit, kDataKey);
  for (std::size_t i = 0; i < FDefinitions.size(); ++i)
    std::memcpy(FDefinitions[i].Bytes(), &area[i * kFieldDefinitionSize], kFieldDefinitionSize);
}

void TDataFile::ReadDefinitions() {
  const std::uint32_t count = FieldCount();
  FDefinitions.assign(count, TFieldDefinition{});
  std::vector<std::uint8_t> area(static_cast<std::size_t>(count) * kFieldDefinitionSize);
  if (!area.empty()) {
    TFileAccess access(*this);
    Seek(kDataHeaderSize, kSeekFromStart);
    Read(area.data(), static_cast<std::int32_t>(area.size()));
  }
  for (std::uint32_t i = 0; i < count; ++i)
    std::memcpy(FDefinitions[i].Bytes(), &area[i * kFieldDefinitionSize], kFieldDefinitionSize);
  CipherDefinitions(false);
  FDefinitionsChanged = false;
}

void TDataFile::WriteDefinitions() {
  if (!FDefinitionsChanged) return;
  CipherDefinitions(true);
  std::vector<std::uint8_t> area(FDefinitions.size() * kFieldDefinitionSize);
  for (std::size_t i = 0; i < FDefinitions.size(); ++i)
    std::memcpy(&area[i * kFieldDefinitionSize], FDefinitions[i].Bytes(), kFieldDefinitionSize);
  CipherDefinitions(false);
  if (!area.empty()) {
    TFileAccess access(*this);
    Seek(kDataHeaderSize, kSeekFromStart);
    Write(area.data(), static_cast<std::int32_t>(area.size()));
  }
  if (FlushWanted(false)) Flush();
  FDefinitionsChanged = false;
  // The area now follows this writer's rule; a header that still names the
  // older writer would make the next reader decipher only part of it.
  if (Encrypted() && EngineVersion() != kEngineVersion) WriteHeader(true, false);
}

const TFieldDefinition& TDataFile::GetDefinition(std::uint32_t i) const {
  if (i < 1 || i > FDefinitions.size()) RaiseEngineError(kErrInvalidField, FileName());
  return FDefinitions[i - 1];
}

std::uint32_t TDataFile::FindDefinition(std::string_view name) const {
  auto equalNoCase = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::toupper(static_cast<unsigned char>(x)) ==
                    std::toupper(static_cast<unsigned char>(y));
           });
  };
  for (std::size_t i = 0; i < FDefinitions.size(); ++i) {
    if (equalNoCase(FDefinitions[i].Name(), name)) return static_cast<std::uint32_t>(i + 1);
  }
  return 0;
}

void TDataFile::SetDefinitionProperties(std::uint32_t i, const TFieldDefinition& source) {
  if (i < 1 || i > FDefinitions.size()) RaiseEngineError(kErrInvalidField, FileName());
  TFieldDefinition& d = FDefinitions[i - 1];
  d.SetNumber(source.Number());
  d.SetName(source.Name());
  d.SetSubtype(source.Subtype());
  d.SetDescription(source.Description());
  d.SetRequired(source.Required());
  d.SetMinimum(source.Minimum());
  d.SetMaximum(source.Maximum());
  d.SetDefault(source.Default());
  FDefinitionsChanged = true;
}

void TDataFile::Empty() {
  {
    TFileAccess access(*this);
    Seek(kDataHeaderSize + DefinitionsBytes(), kSeekFromStart);
    Write(nullptr, 0);
  }
  if (FlushWanted(false)) Flush();
  FUndo.MarkBroken();
  FCache.DropAll();
  SetI32(h::kChangeCounter, 0);
  SetI32(h::kFirstFree, 0);
  SetI32(h::kNextRecord, 1);
  SetI32(h::kLastAutoInc, 0);
  FHeader[h::kModified] = 1;
}

// ---- Records -----------------------------------------------------------------

std::int64_t TDataFile::RecordPosition(std::int32_t n) const {
  return static_cast<std::int64_t>(kDataHeaderSize) + DefinitionsBytes() +
         static_cast<std::int64_t>(n - 1) * RecordSize();
}

bool TDataFile::IsCached(std::int32_t n) const {
  return FCache.Contains(n);
}

// A cleared record for a new cache slot (record_cache.h has the rules); its
// buffer, zeroed by clearing, is only reallocated when its size is not R.
std::unique_ptr<TRecord> TDataFile::TakeSlot() {
  auto record = FCache.TakeSlot(
      FHost != nullptr && FHost->KeepsChangesInMemory(), kCacheGrowth, [&] { WriteBack(false); },
      [&] { RaiseEngineError(kErrRecordBufferCorrupt, FileName()); });
  if (record->buffer.size() != RecordSize()) record->buffer.assign(RecordSize(), 0);
  return record;
}

TRecord* TDataFile::AppendRecord() {
  const std::int32_t n = NextRecord();
  if (static_cast<std::int64_t>(n) + 1 > kMaxRecordNumber ||
      static_cast<std::int64_t>(n) * RecordSize() > kMaxDataBytes)
    RaiseEngineError(kErrTableFull, FileName());
  auto slot = TakeSlot();
  slot->key = n;
  bytes::PutI32(slot->Data() + kRecordLinkOffset, n);
  slot->pins = 1;
  // A new record is part of the file from now on (the file length must match
  // the next record number), so it is written back even if nothing is put in.
  slot->changed = true;
  TRecord* record = FCache.Insert(std::move(slot));
  FUndo.Note(record, false);
  SetI32(h::kNextRecord, n + 1);
  FHeader[h::kModified] = 1;
  return record;
}

TRecord* TDataFile::GetRecord(TDataCursor* cursor, std::int32_t n, int direction, bool useReadAhead,
                              std::int32_t suppliedCount) {
  if (n < 1 || n > NextRecord()) RaiseEngineError(kErrRecordBufferCorrupt, FileName());
  FUndo.Request(FileName());
  if (n == NextRecord()) return AppendRecord();
  if (TRecord* record = FCache.Find(n)) {
    ++record->pins;
    FUndo.Note(record, record->changed);
    return record;
  }
  if (FHost != nullptr && !FHost->StrictChangeDetection() && FHost->LockForCacheMiss(cursor))
    return nullptr;  // caches were emptied: the caller repeats its operation
  return LoadRecords(cursor, n, direction, useReadAhead, suppliedCount);
}

TRecord* TDataFile::LoadRecords(TDataCursor*, std::int32_t n, int direction, bool useReadAhead,
                                std::int32_t suppliedCount) {
  const std::uint32_t r = RecordSize();
  if (r == 0) RaiseEngineError(kErrRecordBufferCorrupt, FileName());
  const bool forward = direction >= 0;
  const std::int64_t available = forward ? static_cast<std::int64_t>(NextRecord()) - n : n;
  std::int64_t k = 1;
  if (useReadAhead) k = suppliedCount > 0 ? suppliedCount : FReadAheadCount;
  // Never read more than the file holds, nor more than half the cache, so that
  // loading the block cannot evict the records it just loaded.
  k = std::clamp<std::int64_t>(
      std::min<std::int64_t>({k, available, static_cast<std::int64_t>(FCache.Capacity() / 2)}), 1,
      kMaxRecordNumber);
  const std::int32_t first = forward ? n : static_cast<std::int32_t>(n - k + 1);
  const std::size_t want = static_cast<std::size_t>(k) * r;
  if (FReadBuffer.size() < want) FReadBuffer.resize(want);

  std::int32_t got;
  {
    TFileAccess access(*this);
    Seek(RecordPosition(first), kSeekFromStart);
    got = Read(FReadBuffer.data(), static_cast<std::int32_t>(want), true);
  }
  ++FReads;
  // The file ended before the records asked for: the header counts records
  // the file lacks. Harmless only for records the cache holds (appended and
  // not yet written: an exclusive table keeps them between operations);
  // any other missing record means a damaged or foreign-changed file.
  const std::int32_t complete = std::max(got, 0) / static_cast<std::int32_t>(r);
  if (static_cast<std::size_t>(got) < want && !ShortReadExplained()) {
    for (std::int64_t i = complete; i < k; ++i) {
      if (FCache.Find(first + static_cast<std::int32_t>(i)) == nullptr)
        RaiseEngineError(kErrReadFailed, FileName());
    }
  }

  auto fill = [&](std::int32_t index) {
    const std::int32_t number = first + index;
    const std::uint8_t* source = &FReadBuffer[static_cast<std::size_t>(index) * r];
    TRecord* record = FCache.Find(number);
    if (record != nullptr) {
      if (record->changed || record->pins != 0) return;  // the cached copy is newer
    } else {
      auto slot = TakeSlot();
      slot->key = number;
      record = FCache.Insert(std::move(slot));
    }
    std::memcpy(record->Data(), source, r);
    if (Encrypted()) Decipher(record->Data(), r, kDataKey);
    if (record->Data()[kRecordStatusOffset] == kRecordInUse)
      bytes::PutI32(record->Data() + kRecordLinkOffset, number);
  };
  // The requested record is filled last so that it ends up most recently used.
  const std::int32_t requested = n - first;
  for (std::int32_t i = 0; i < complete; ++i) {
    if (i != requested) fill(i);
  }
  if (requested < complete) fill(requested);

  TRecord* record = FCache.Find(n);
  if (record == nullptr || record->key != n) RaiseEngineError(kErrRecordBufferCorrupt, FileName());
  ++record->pins;
  FUndo.Note(record, record->changed);
  return record;
}

void TDataFile::ReleaseRecord(TRecord* record) {
  if (record != nullptr && record->pins > 0) {
    --record->pins;
    FCache.NoteMaybeReusable(record);
  }
}

void TDataFile::MarkRecordChanged(TRecord* record) {
  record->changed = true;
}

std::int32_t TDataFile::InsertPosition() const {
  if (FHasPrimaryKey && FirstFree() != 0) return FirstFree();
  return NextRecord();
}

TRecord* TDataFile::AllocateRecord(TDataCursor* cursor) {
  std::int32_t n = InsertPosition();
  if (n != NextRecord() && (n < 1 || n > NextRecord())) {
    // A first-free pointer outside the file: forget the chain and append.
    SetI32(h::kFirstFree, 0);
    n = NextRecord();
  }
  const bool reuse = n != NextRecord();
  TRecord* record = GetRecord(cursor, n, kReadForward, false);
  if (record == nullptr || !reuse) return record;
  std::int32_t link = 0;
  if (record->Data()[kRecordStatusOffset] == kRecordDeleted) {
    link = bytes::GetI32(record->Data() + kRecordLinkOffset);
    if (link == n) link = 0;  // a chain linked to itself would hand n out again
  } else {
    // The chain points at a record in use: reusing it would overwrite a live
    // row. Drop the chain and append instead.
    ReleaseRecord(record);
    SetI32(h::kFirstFree, 0);
    FHeader[h::kModified] = 1;
    return GetRecord(cursor, NextRecord(), kReadForward, false);
  }
  SetI32(h::kFirstFree, link);
  FHeader[h::kModified] = 1;
  return record;
}

void TDataFile::FreeRecord(TRecord* record) {
  // Freeing a deleted record again would link it to itself and hand it out
  // twice; it is already in the chain.
  if (record->Data()[kRecordStatusOffset] == kRecordDeleted) return;
  const std::int32_t link = InsertPosition() == NextRecord() ? 0 : FirstFree();
  record->Data()[kRecordStatusOffset] = kRecordDeleted;
  bytes::PutI32(record->Data() + kRecordLinkOffset, link);
  SetI32(h::kFirstFree, record->key);
  record->changed = true;
  FHeader[h::kModified] = 1;
}

// ---- Write-back and trimming -------------------------------------------------

void TDataFile::FlushRun(std::vector<TRecord*>& run, bool flushToDisk) {
  const std::uint32_t r = RecordSize();
  const std::size_t total = run.size() * r;
  if (FWriteBuffer.size() < total) FWriteBuffer.resize(total);
  for (std::size_t i = 0; i < run.size(); ++i) {
    std::uint8_t* target = &FWriteBuffer[i * r];
    std::memcpy(target, run[i]->Data(), r);
    if (target[kRecordStatusOffset] == kRecordInUse)
      bytes::PutI32(target + kRecordLinkOffset, run[i]->key);
    if (Encrypted()) Encipher(target, r, kDataKey);
  }
  {
    TFileAccess access(*this);
    Seek(RecordPosition(run.front()->key), kSeekFromStart);
    Write(FWriteBuffer.data(), static_cast<std::int32_t>(total));
  }
  ++FWrites;
  // Only written records are clean: after a failed write they stay changed
  // and go out with the next write-back.
  for (TRecord* record : run) {
    record->changed = false;
    FCache.NoteMaybeReusable(record);
  }
  if (FlushWanted(flushToDisk)) Flush();
  if (FHost != nullptr) FHost->NoteWrite();
  run.clear();
}

void TDataFile::WriteBack(bool flushToDisk) {
  // A run of adjacent records goes out in pieces of about 256 KB, each
  // written while it is still in the processor's cache; the file is flushed
  // (when asked) after the last piece of each run, as for a run in one write.
  const std::size_t pieceRecords =
      std::max<std::size_t>(1, kWritePieceBytes / std::max<std::uint32_t>(1, RecordSize()));
  std::vector<TRecord*> run;
  for (const auto& entry : FCache.Sorted()) {
    TRecord* record = entry.get();
    if (!record->changed || record->pins != 0) continue;
    if (!run.empty() && run.back()->key + 1 != record->key) FlushRun(run, flushToDisk);
    if (run.size() >= pieceRecords) FlushRun(run, false);
    run.push_back(record);
  }
  if (!run.empty()) FlushRun(run, flushToDisk);
}

void TDataFile::DropCache() {
  FUndo.MarkBroken();
  FCache.DropAll();
}

// ---- Undo of one change ----------------------------------------------------------

void TDataFile::BeginUndo() {
  FUndoHeader = FHeader;
  FUndoHasPrimaryKey = FHasPrimaryKey;
  FUndo.Begin();
}

bool TDataFile::RollBackUndo() {
  const bool whole = FUndo.RollBack(FCache);
  FHeader = FUndoHeader;
  FHasPrimaryKey = FUndoHasPrimaryKey;
  return whole;
}

TDataFile::TMarks TDataFile::MarksBeforeWriteBack() const {
  TMarks marks;
  marks.header = FHeader;
  marks.definitionsChanged = FDefinitionsChanged;
  for (const auto& entry : FCache.Sorted()) {
    if (entry->changed) marks.changed.push_back(entry->key);
  }
  return marks;
}

bool TDataFile::RestoreMarks(const TMarks& marks) {
  FHeader = marks.header;
  FDefinitionsChanged = marks.definitionsChanged;
  bool whole = true;
  for (const std::int32_t key : marks.changed) {
    if (TRecord* record = FCache.Lookup(key)) {
      record->changed = true;
    } else {
      whole = false;
    }
  }
  return whole;
}

std::size_t TDataFile::BaseCacheCapacity() const {
  const std::uint32_t r = RecordSize();
  return r == 0 ? kMaxCachedRecords
                : std::max<std::uint32_t>(1, std::min(kCacheBytes / r, kMaxCachedRecords));
}

void TDataFile::TrimCache() {
  const std::size_t limit = BaseCacheCapacity();
  FCache.TrimTo(limit);
  FCache.SetCapacity(limit);
}

}  // namespace engine
