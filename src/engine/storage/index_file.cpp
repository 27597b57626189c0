// The index file: header, descriptors, page caches, allocation and
// write-back. See index_file.h for the cache rules and index_format.h for the
// bytes.
#include "engine/storage/index_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/index_keys.h"

namespace engine {
namespace {

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::size_t DescriptorOffset(int slot) {
  return kIdxHdrDescriptors + kDescriptorSize * static_cast<std::size_t>(slot);
}

}  // namespace

TPageRef& TPageRef::operator=(TPageRef&& other) noexcept {
  if (this != &other) {
    Release();
    FFile = other.FFile;
    FPage = other.FPage;
    other.FPage = nullptr;
  }
  return *this;
}

void TPageRef::Release() {
  if (FPage != nullptr && FFile != nullptr) FFile->ReleasePage(FPage);
  FPage = nullptr;
}

TIndexFile::TIndexFile(TDataTable* table, TStorageHost* host)
    : TFileHandler(table), FHost(host != nullptr ? host : &FDefaultHost) {
  InitHeader();
}

TIndexFile::~TIndexFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; the file object is released regardless.
  }
}

// ---- File -------------------------------------------------------------------

void TIndexFile::InitHeader() {
  FHeader.fill(0);
  FHeader[kIdxHdrFormat] = kIndexFormat;
  bytes::PutI32(&FHeader[kIdxHdrEndPosition], kIndexHeaderSize);
  TIndexDescriptor system = Descriptor(kSystemSlot);
  system.SetName(kSystemIndexName);
  system.SetKeyLength(kSystemKeyLength);
  FHeader[kIdxHdrModified] = 1;
}

void TIndexFile::CreateNew() {
  DropCache(true);
  TFileHandler::CreateNew();
  InitHeader();
}

void TIndexFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
  } catch (...) {
    Close();
    throw;
  }
}

void TIndexFile::Close() {
  FUndo.MarkBroken();
  for (TSlotCache& cache : FCaches) {
    cache.pages.clear();
    std::vector<TPage*>().swap(cache.byPosition);
    cache.capacity = kInitialCacheCapacity;
    cache.recent[0] = cache.recent[1] = nullptr;
  }
  FPool.clear();
  TFileHandler::Close();
}

// ---- Header -----------------------------------------------------------------

void TIndexFile::CheckHeaderShape() {
  // Slots past 30 are the system index and a spare: a larger count would make
  // them secondary indexes.
  if (SecondaryCount() > kMaxSecondaryIndexes) RaiseEngineError(kErrHeaderCorrupt, TableName());
}

void TIndexFile::ReadHeader() {
  std::array<std::uint8_t, kIndexHeaderSize> stored{};
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    if (Read(stored.data(), kIndexHeaderSize, true) != kIndexHeaderSize) {
      RaiseEngineError(kErrHeaderCorrupt, TableName());
    }
  }
  if (FEncrypted) Decipher(stored.data(), stored.size(), kDataKey);
  FHeader = stored;
  CheckHeaderShape();
}

bool TIndexFile::HeaderChanged() {
  // Only the counter is compared (the cipher's key stream starts afresh with
  // each unit, so the first bytes decipher on their own); the whole header is
  // read when it moved.
  static_assert(kIdxHdrChangeCounter == 0, "a counter elsewhere would not decipher alone");
  std::uint8_t counter[kChangeCounterBytes];
  if (ReadAt(kIdxHdrChangeCounter, counter, kChangeCounterBytes, true) != kChangeCounterBytes) {
    RaiseEngineError(kErrHeaderCorrupt, TableName());
  }
  if (FEncrypted) Decipher(counter, sizeof counter, kDataKey);
  if (bytes::GetI32(counter) == ChangeCounter()) return false;
  std::array<std::uint8_t, kIndexHeaderSize> stored{};
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    if (Read(stored.data(), kIndexHeaderSize, true) != kIndexHeaderSize) {
      RaiseEngineError(kErrHeaderCorrupt, TableName());
    }
  }
  if (FEncrypted) Decipher(stored.data(), stored.size(), kDataKey);
  if (bytes::GetI32(stored.data()) == ChangeCounter()) return false;
  FHeader = stored;
  CheckHeaderShape();
  return true;
}

void TIndexFile::WriteHeader(bool force, bool flushToDisk) {
  if (!force && !HeaderModified()) return;
  bytes::PutI32(&FHeader[kIdxHdrChangeCounter], ChangeCounter() + 1);
  std::array<std::uint8_t, kIndexHeaderSize> stored = FHeader;
  if (FEncrypted) Encipher(stored.data(), stored.size(), kDataKey);
  {
    TFileAccess access(*this);
    Seek(0, kSeekFromStart);
    Write(stored.data(), kIndexHeaderSize);
  }
  if (flushToDisk || FHost->ForceBufferFlush()) Flush();
  FHost->NoteWrite();
  FHeader[kIdxHdrModified] = 0;
}

void TIndexFile::MarkHeaderChanged() {
  bytes::PutI32(&FHeader[kIdxHdrChangeCounter], ChangeCounter() + 1);
  FHeader[kIdxHdrModified] = 1;
  FHost->NoteWrite();
}

std::int32_t TIndexFile::ChangeCounter() const {
  return bytes::GetI32(&FHeader[kIdxHdrChangeCounter]);
}
std::int32_t TIndexFile::EndPosition() const {
  return bytes::GetI32(&FHeader[kIdxHdrEndPosition]);
}
std::int32_t TIndexFile::RecordCount() const {
  return bytes::GetI32(&FHeader[kIdxHdrRecordCount]);
}
void TIndexFile::IncRecordCount() {
  const std::int32_t count = RecordCount();
  if (count < 0 || count >= kMaxRecordNumber) RaiseEngineError(kErrHeaderCorrupt, TableName());
  SetRecordCount(count + 1);
}
void TIndexFile::DecRecordCount() {
  const std::int32_t count = RecordCount();
  if (count <= 0 || count > kMaxRecordNumber) RaiseEngineError(kErrHeaderCorrupt, TableName());
  SetRecordCount(count - 1);
}
void TIndexFile::SetRecordCount(std::int32_t count) {
  bytes::PutI32(&FHeader[kIdxHdrRecordCount], count);
  SetHeaderModified();
}
void TIndexFile::SetNoPrimaryKey(bool value) {
  FHeader[kIdxHdrNoPrimaryKey] = value ? 1 : 0;
  SetHeaderModified();
}

TIndexDescriptor TIndexFile::Descriptor(int slot) {
  return TIndexDescriptor(&FHeader[DescriptorOffset(slot)]);
}
const TIndexDescriptor TIndexFile::Descriptor(int slot) const {
  return TIndexDescriptor(const_cast<std::uint8_t*>(&FHeader[DescriptorOffset(slot)]));
}
std::int32_t TIndexFile::Root(int slot) const {
  return Descriptor(slot).Root();
}
void TIndexFile::SetRoot(int slot, std::int32_t position) {
  CountTreeChange(slot);
  Descriptor(slot).SetRoot(position);
  SetHeaderModified();
}
std::int32_t TIndexFile::FirstFree(int slot) const {
  return Descriptor(slot).FirstFree();
}
void TIndexFile::SetFirstFree(int slot, std::int32_t position) {
  Descriptor(slot).SetFirstFree(position);
  SetHeaderModified();
}

int TIndexFile::FindIndex(std::string_view name) const {
  const std::string wanted = Trimmed(name);
  for (int slot = 1; slot <= SecondaryCount(); ++slot) {
    if (SameNameIgnoringCase(Trimmed(Descriptor(slot).Name()), wanted)) return slot;
  }
  return -1;
}

TPageFormat TIndexFile::FormatOf(int slot) const {
  const TIndexDescriptor descriptor = Descriptor(slot);
  TPageFormat format;
  format.keyLength = descriptor.KeyLength();
  format.unique = slot == kSystemSlot || slot == kPrimarySlot || descriptor.Unique();
  format.compression = slot == kSystemSlot ? kCompressNone : descriptor.Compression();
  if (format.compression > kCompressFull) format.compression = kCompressNone;
  return format;
}

// ---- Index definitions ------------------------------------------------------------

namespace {

void FillDescriptor(TIndexDescriptor descriptor, const TIndexDefinition& definition,
                    std::string_view name, int keyLength, bool unique) {
  std::memset(descriptor.Bytes(), 0, kDescriptorSize);
  descriptor.SetName(name);
  descriptor.SetKeyLength(static_cast<std::int16_t>(keyLength));
  std::uint8_t* bytes = descriptor.Bytes();
  bytes[kDescDescending] = definition.descending ? 1 : 0;
  bytes[kDescCaseInsensitive] = definition.caseInsensitive ? 1 : 0;
  bytes[kDescUnique] = unique ? 1 : 0;
  bytes[kDescCompression] = definition.compression <= kCompressFull ? definition.compression : 0;
  bytes[kDescFieldCount] = static_cast<std::uint8_t>(definition.fieldNumbers.size());
  for (std::size_t i = 0; i < definition.fieldNumbers.size(); ++i) {
    const bool descending = i < definition.fieldDescending.size() && definition.fieldDescending[i];
    bytes[kDescFieldDescending + i] = descending ? 1 : 0;
    descriptor.SetFieldNumber(static_cast<int>(i), definition.fieldNumbers[i]);
  }
}

}  // namespace

void TIndexFile::DefinePrimaryIndex(const TIndexDefinition& definition,
                                    const TFieldDefinitions& fields) {
  if (Descriptor(kPrimarySlot).KeyLength() != 0) {
    RaiseEngineError(kErrPrimaryIndexExists, TableName());
  }
  if (definition.fieldNumbers.size() > static_cast<std::size_t>(kMaxKeyFields)) {
    RaiseEngineError(kErrIndexLimits, TableName());
  }
  if (definition.fieldNumbers.empty()) {
    std::memset(Descriptor(kPrimarySlot).Bytes(), 0, kDescriptorSize);
    SetNoPrimaryKey(true);
    return;
  }
  TIndexDefinition primary = definition;
  primary.unique = true;
  const int keyLength = KeyLengthFor(primary, fields, TableName(), "Primary", false);
  FillDescriptor(Descriptor(kPrimarySlot), primary, "", keyLength, true);
  FHeader[kIdxHdrNoPrimaryKey] = 0;
  SetHeaderModified();
}

int TIndexFile::AddSecondaryIndex(const TIndexDefinition& definition,
                                  const TFieldDefinitions& fields) {
  if (SecondaryCount() >= kMaxSecondaryIndexes ||
      definition.fieldNumbers.size() > static_cast<std::size_t>(kMaxKeyFields)) {
    RaiseEngineError(kErrIndexLimits, TableName());
  }
  const std::string name = Trimmed(definition.name);
  if (name.empty()) RaiseEngineError(kErrIndexNameMissing, TableName());
  if (!IsValidNameStart(name) || name.size() > static_cast<std::size_t>(kMaxIndexNameLength)) {
    RaiseEngineError(kErrInvalidIndexName, TableName(), {}, {}, name);
  }
  if (FindIndex(name) >= 0) RaiseEngineError(kErrIndexExists, TableName(), {}, {}, name);
  const int keyLength = KeyLengthFor(definition, fields, TableName(), name, false);
  const int slot = SecondaryCount() + 1;
  // A removed index leaves its descriptor here with its pages on its free
  // list (RemoveIndex); the new index takes that list over. Anything else
  // cached under the slot is stale and goes, and so does its list.
  const TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  bool onlyFreePages = true;
  for (const auto& page : cache.pages) onlyFreePages = onlyFreePages && page->Free;
  std::int32_t firstFree = FirstFree(slot);
  if (!onlyFreePages || firstFree < kIndexHeaderSize || firstFree >= EndPosition()) {
    DropSlot(slot);
    firstFree = 0;
  }
  FillDescriptor(Descriptor(slot), definition, name, keyLength, definition.unique);
  SetFirstFree(slot, firstFree);
  FHeader[kIdxHdrSecondaryCount] = static_cast<std::uint8_t>(slot);
  SetHeaderModified();
  return slot;
}

void TIndexFile::RemoveIndex(int slot) {
  if (slot == kPrimarySlot) {
    SetNoPrimaryKey(true);
    return;
  }
  const int count = SecondaryCount();
  if (slot < 1 || slot > count) return;
  // The later secondary descriptors (and their caches) move down by one; the
  // removed descriptor is kept, with its free list and its cached pages, in
  // the slot that falls free, where the next added index takes the list over.
  // The system index in slot 31 never moves.
  // Pages that change slots can no longer be found where a change noted them.
  if (slot < count) FUndo.MarkBroken();
  std::array<std::uint8_t, kDescriptorSize> removed{};
  std::memcpy(removed.data(), &FHeader[DescriptorOffset(slot)], kDescriptorSize);
  TSlotCache removedCache = std::move(FCaches[static_cast<std::size_t>(slot)]);
  FCaches[static_cast<std::size_t>(slot)] = TSlotCache{};
  for (int s = slot; s < count; ++s) {
    std::memcpy(&FHeader[DescriptorOffset(s)], &FHeader[DescriptorOffset(s + 1)], kDescriptorSize);
    FCaches[static_cast<std::size_t>(s)] = std::move(FCaches[static_cast<std::size_t>(s + 1)]);
    FCaches[static_cast<std::size_t>(s + 1)] = TSlotCache{};
    for (auto& page : FCaches[static_cast<std::size_t>(s)].pages) page->Slot = s;
  }
  FCaches[static_cast<std::size_t>(count)] = std::move(removedCache);
  for (auto& page : FCaches[static_cast<std::size_t>(count)].pages) page->Slot = count;
  std::memcpy(&FHeader[DescriptorOffset(count)], removed.data(), kDescriptorSize);
  FHeader[kIdxHdrSecondaryCount] = static_cast<std::uint8_t>(count - 1);
  SetHeaderModified();
}

void TIndexFile::SetDescriptorNames(int slot, const TIndexDescriptor& source) {
  TIndexDescriptor target = Descriptor(slot);
  target.SetName(source.Name());
  for (int i = 0; i < kMaxKeyFields; ++i) target.SetFieldNumber(i, source.FieldNumber(i));
  SetHeaderModified();
}

void TIndexFile::Empty() {
  for (int slot = 0; slot < kTreeSlots; ++slot) DropSlot(slot);
  {
    TFileAccess access(*this);
    Seek(kIndexHeaderSize, kSeekFromStart);
    Write(nullptr, 0);
  }
  if (FHost->ForceBufferFlush()) Flush();
  FHeader[kIdxHdrFormat] = kIndexFormat;
  bytes::PutI32(&FHeader[kIdxHdrEndPosition], kIndexHeaderSize);
  bytes::PutI32(&FHeader[kIdxHdrRecordCount], 0);
  for (int slot = 0; slot < kTreeSlots; ++slot) {
    Descriptor(slot).SetRoot(0);
    Descriptor(slot).SetFirstFree(0);
  }
  SetHeaderModified();
}

// ---- Page cache ------------------------------------------------------------------

std::vector<int> TIndexFile::ActiveSlots(bool withSystemIndex) const {
  std::vector<int> slots;
  for (int slot = 0; slot <= SecondaryCount(); ++slot) slots.push_back(slot);
  // Freed pages of removed indexes wait under the slots beyond the last one
  // until they are written.
  for (int slot = SecondaryCount() + 1; slot < kSystemSlot; ++slot) {
    if (!FCaches[static_cast<std::size_t>(slot)].pages.empty()) slots.push_back(slot);
  }
  if (withSystemIndex) slots.push_back(kSystemSlot);
  return slots;
}

void TIndexFile::Touch(int slot, TPage* page) {
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  page->LastUse = ++FUseClock;
  if (cache.recent[0] != page) {
    cache.recent[1] = cache.recent[0];
    cache.recent[0] = page;
  }
}

TPage* TIndexFile::FindCached(int slot, std::int32_t position) {
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  for (TPage* recent : cache.recent) {
    if (recent != nullptr && recent->Position == position) return recent;
  }
  TPage* page = cache.Find(position);
  // A page met again after a while is usually cold: its lines are asked for
  // together rather than one after another as the search reaches them.
  if (page != nullptr) page->PrefetchObject();
  return page;
}

void TIndexFile::ToPool(std::unique_ptr<TPage> page) {
  if (FPool.size() < static_cast<std::size_t>(kPoolCapacity)) FPool.push_back(std::move(page));
}

std::size_t TIndexFile::TotalCachedPages() const {
  std::size_t total = 0;
  for (const TSlotCache& cache : FCaches) total += cache.pages.size();
  return total;
}

int TIndexFile::Capacity(int slot) const {
  const TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  if (FCacheBudget == 0 || TotalCachedPages() >= FCacheBudget / kIndexPageSize)
    return cache.capacity;
  return std::max(cache.capacity, static_cast<int>(cache.pages.size()) + 1);
}

int TIndexFile::LargestCapacity() const {
  const bool underBudget = FCacheBudget != 0 && TotalCachedPages() < FCacheBudget / kIndexPageSize;
  int largest = 0;
  for (int slot = 0; slot < kTreeSlots; ++slot) {
    const TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
    int capacity = cache.capacity;
    if (underBudget) capacity = std::max(capacity, static_cast<int>(cache.pages.size()) + 1);
    largest = std::max(largest, capacity);
  }
  return largest;
}

std::vector<std::unique_ptr<TPage>>::iterator TIndexFile::Victim(TSlotCache& cache) {
  const auto reusable = [](const TPage& page) { return !page.Changed && page.PinCount == 0; };
  const std::size_t n = cache.pages.size();
  auto victim = cache.pages.end();
  const auto consider = [&](std::size_t i) {
    const TPage& page = *cache.pages[i];
    if (!reusable(page)) return;
    if (victim == cache.pages.end() || page.LastUse < (*victim)->LastUse)
      victim = cache.pages.begin() + static_cast<std::ptrdiff_t>(i);
  };
  if (n > static_cast<std::size_t>(kExactLruPages)) {
    // A large cache: the oldest of a window that moves round the list keeps
    // an eviction O(1) while still passing over recently used pages.
    if (cache.hand >= n) cache.hand = 0;
    for (int k = 0; k < kVictimSample; ++k)
      consider((cache.hand + static_cast<std::size_t>(k)) % n);
    cache.hand = (cache.hand + kVictimSample) % n;
    if (victim != cache.pages.end()) return victim;
  }
  for (std::size_t i = 0; i < n; ++i) consider(i);
  return victim;
}

std::unique_ptr<TPage> TIndexFile::TakeCacheSlot(int slot) {
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  bool wroteBack = false;
  for (;;) {
    const int capacity = std::max(Capacity(slot), static_cast<int>(cache.pages.size()));
    if (static_cast<int>(cache.pages.size()) < capacity) {
      if (!FPool.empty()) {
        std::unique_ptr<TPage> page = std::move(FPool.back());
        FPool.pop_back();
        return page;
      }
      return std::make_unique<TPage>();
    }
    // Reuse the least recently used page that is neither changed nor pinned.
    auto victim = Victim(cache);
    if (victim != cache.pages.end()) {
      // The list is in no order: the last entry fills the gap.
      std::unique_ptr<TPage> page = std::move(*victim);
      *victim = std::move(cache.pages.back());
      cache.pages.pop_back();
      cache.Erase(page->Position);
      for (TPage*& recent : cache.recent) {
        if (recent == page.get()) recent = nullptr;
      }
      return page;
    }
    if (FHost->KeepsChangesInMemory()) {
      // Changed pages stay until the set is written back; growing by a share
      // of the pages held keeps the searches for a victim few in a long run.
      cache.capacity = capacity + std::max(kCacheGrowth, capacity / 4);
    } else if (!wroteBack) {
      WriteBack(false);
      wroteBack = true;
    } else {
      RaiseEngineError(kErrIndexPageCorrupt, TableName());  // every page is pinned
    }
  }
}

void TIndexFile::InsertCached(int slot, std::unique_ptr<TPage> page) {
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  TPage* const added = page.get();
  cache.Set(added->Position, added);
  try {
    cache.pages.push_back(std::move(page));
  } catch (...) {
    cache.Erase(added->Position);
    throw;
  }
}

void TIndexFile::ReadPage(TPage& page) {
  FReadBuffer.resize(static_cast<std::size_t>(kIndexPageSize));
  std::int32_t got;
  {
    TFileAccess access(*this);
    Seek(page.Position, kSeekFromStart);
    got = Read(FReadBuffer.data(), kIndexPageSize, true);
  }
  if (got != kIndexPageSize && !AcceptsShortRead()) {
    RaiseEngineError(kErrReadFailed, TableName());
  }
  // A short read (a page not yet written out) reads as zeros past its end.
  const auto read = static_cast<std::size_t>(std::clamp(got, 0, kIndexPageSize));
  std::fill(FReadBuffer.begin() + static_cast<std::ptrdiff_t>(read), FReadBuffer.end(), 0);
  if (FEncrypted) Decipher(FReadBuffer.data(), FReadBuffer.size(), kDataKey);
  page.Expand(FReadBuffer.data(), TableName());
  ++FPageReads;
}

TPageRef TIndexFile::GetPage(int slot, std::int32_t position, bool asNew, TDataCursor* cursor) {
  const std::int32_t end = EndPosition();
  if (position < kIndexHeaderSize || (position - kIndexHeaderSize) % kIndexPageSize != 0 ||
      position > end || slot < 0 || slot >= kTreeSlots) {
    RaiseEngineError(kErrIndexPageCorrupt, TableName());
  }
  FUndo.Request(FileName());
  if (TPage* cached = FindCached(slot, position)) {
    ++cached->PinCount;
    Touch(slot, cached);
    FUndo.Note(*cached, cached->Changed);
    return TPageRef(this, cached);
  }
  const TPageFormat format = FormatOf(slot);
  if (format.keyLength <= 0 || format.keyLength > kMaxKeyLength) {
    RaiseEngineError(kErrIndexPageCorrupt, TableName());
  }
  const bool append = position == end;
  if (append && end > kIndexMaxEndPosition) RaiseEngineError(kErrTableFull, TableName());
  if (!append && !asNew && !FHost->StrictChangeDetection() && FHost->LockForCacheMiss(cursor)) {
    throw TIndexCachesDropped{};
  }
  std::unique_ptr<TPage> page = TakeCacheSlot(slot);
  page->Undo = nullptr;  // a new page for this position: nothing of it to log
  page->UndoMark = 0;
  page->Reset(position, slot, format);
  if (append) {
    bytes::PutI32(&FHeader[kIdxHdrEndPosition], end + kIndexPageSize);
    SetHeaderModified();
    page->Changed = true;
  } else if (!asNew) {
    try {
      ReadPage(*page);
    } catch (...) {
      ToPool(std::move(page));
      throw;
    }
  }
  TPage* result = page.get();
  result->PinCount = 1;
  InsertCached(slot, std::move(page));
  Touch(slot, result);
  FUndo.Note(*result, false);
  return TPageRef(this, result);
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page == nullptr || page->PinCount <= 0) return;
  if (--page->PinCount > 0 || !page->Detached) return;
  auto it = std::find_if(FDetached.begin(), FDetached.end(),
                         [page](const std::unique_ptr<TPage>& p) { return p.get() == page; });
  if (it != FDetached.end()) {
    std::unique_ptr<TPage> owned = std::move(*it);
    FDetached.erase(it);
    owned->Detached = false;
    ToPool(std::move(owned));
  }
}

TPageRef TIndexFile::AllocatePage(int slot, TDataCursor* cursor) {
  const std::int32_t firstFree = FirstFree(slot);
  TPageRef page;
  if (firstFree != 0) {
    page = GetPage(slot, firstFree, false, cursor);
    if (!page->Free) RaiseEngineError(kErrIndexPageCorrupt, TableName());
    const std::int32_t next = page->Next;
    if (next != 0 && (next < kIndexHeaderSize || next >= EndPosition())) {
      RaiseEngineError(kErrIndexPageCorrupt, TableName());
    }
    SetFirstFree(slot, next);
  } else {
    page = GetPage(slot, EndPosition(), true, cursor);
  }
  const std::int32_t position = page->Position;
  const int pins = page->PinCount;
  page->Reset(position, slot, FormatOf(slot));
  page->PinCount = pins;
  page->Type = kPageLeaf;
  page->Changed = true;
  CountTreeChange(slot);
  Touch(slot, page.Get());
  return page;
}

void TIndexFile::FreePage(int slot, TPage& page) {
  page.ClearEntries();
  page.Free = true;
  page.Type = kPageRoot;
  page.Prev = 0;
  page.Next = FirstFree(slot);
  page.Changed = true;
  CountTreeChange(slot);
  SetFirstFree(slot, page.Position);
}

TPageRef TIndexFile::RootPage(int slot, TDataCursor* cursor) {
  const std::int32_t root = Root(slot);
  if (root == 0) return TPageRef();
  return GetPage(slot, root, false, cursor);
}

// ---- Write-back --------------------------------------------------------------------

namespace {
constexpr std::size_t kWritePiecePages = 64;  // 256 KB per write
}  // namespace

void TIndexFile::WriteBack(bool flushToDisk) {
  std::vector<TPage*> dirty;
  for (int slot : ActiveSlots(true)) {
    for (auto& page : FCaches[static_cast<std::size_t>(slot)].pages) {
      if (page->Changed && page->PinCount == 0) dirty.push_back(page.get());
    }
  }
  if (dirty.empty()) {
    if (flushToDisk) Flush();
    return;
  }
  std::sort(dirty.begin(), dirty.end(),
            [](const TPage* a, const TPage* b) { return a->Position < b->Position; });
  std::size_t first = 0;
  while (first < dirty.size()) {
    // A run of adjacent pages goes out with one write, in pieces written
    // while they are still in the processor's cache.
    std::size_t last = first;
    while (last + 1 < dirty.size() && last + 1 - first < kWritePiecePages &&
           dirty[last + 1]->Position == dirty[last]->Position + kIndexPageSize) {
      ++last;
    }
    const std::size_t runPages = last - first + 1;
    FWriteBuffer.assign(runPages * static_cast<std::size_t>(kIndexPageSize), 0);
    for (std::size_t i = 0; i < runPages; ++i) {
      std::uint8_t* out = FWriteBuffer.data() + i * static_cast<std::size_t>(kIndexPageSize);
      dirty[first + i]->Serialize(out);
      if (FEncrypted) Encipher(out, static_cast<std::size_t>(kIndexPageSize), kDataKey);
    }
    {
      TFileAccess access(*this);
      Seek(dirty[first]->Position, kSeekFromStart);
      Write(FWriteBuffer.data(), static_cast<std::int32_t>(FWriteBuffer.size()));
    }
    for (std::size_t i = first; i <= last; ++i) dirty[i]->Changed = false;
    FPageWrites += runPages;
    first = last + 1;
  }
  if (flushToDisk || FHost->ForceBufferFlush()) Flush();
  FHost->NoteWrite();
}

void TIndexFile::DropSlot(int slot) {
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  CountTreeChange(slot);
  if (!cache.pages.empty()) FUndo.MarkBroken();
  for (auto& page : cache.pages) {
    if (page->PinCount > 0) {
      page->Detached = true;
      FDetached.push_back(std::move(page));
    } else {
      ToPool(std::move(page));
    }
  }
  cache.pages.clear();
  std::vector<TPage*>().swap(cache.byPosition);
  cache.recent[0] = cache.recent[1] = nullptr;
  cache.capacity = kInitialCacheCapacity;
}

void TIndexFile::DropCache(bool withSystemIndex) {
  for (int slot = 0; slot < kTreeSlots; ++slot) {
    if (slot == kSystemSlot && !withSystemIndex) continue;
    DropSlot(slot);
  }
}

void TIndexFile::TrimCache(bool withSystemIndex) {
  // Without a budget each slot keeps its first 15 pages in position order;
  // with one, each keeps its share of the budget (by the pages it holds), the
  // most recently used first: the upper levels of the trees in use.
  const std::size_t total = TotalCachedPages();
  const std::size_t budgetPages = FCacheBudget / kIndexPageSize;
  for (int slot : ActiveSlots(withSystemIndex)) {
    TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
    cache.capacity = kInitialCacheCapacity;
    cache.hand = 0;
    std::size_t keep = kInitialCacheCapacity;
    if (FCacheBudget != 0) {
      if (total <= budgetPages) continue;
      keep = std::max(keep, budgetPages * cache.pages.size() / total);
    }
    if (cache.pages.size() <= keep) continue;
    std::uint64_t oldestKept = 0;
    if (FCacheBudget == 0) {
      std::sort(cache.pages.begin(), cache.pages.end(),
                [](const std::unique_ptr<TPage>& a, const std::unique_ptr<TPage>& b) {
                  return a->Position < b->Position;
                });
    } else {
      std::vector<std::uint64_t> uses;
      uses.reserve(cache.pages.size());
      for (const auto& page : cache.pages) uses.push_back(page->LastUse);
      const auto nth = uses.end() - static_cast<std::ptrdiff_t>(keep);
      std::nth_element(uses.begin(), nth, uses.end());
      oldestKept = *nth;
    }
    std::vector<std::unique_ptr<TPage>> kept;
    for (std::size_t i = 0; i < cache.pages.size(); ++i) {
      auto& page = cache.pages[i];
      const bool beyond = FCacheBudget != 0 ? page->LastUse < oldestKept : i >= keep;
      if (beyond && !page->Changed && page->PinCount == 0) {
        for (TPage*& recent : cache.recent) {
          if (recent == page.get()) recent = nullptr;
        }
        cache.Erase(page->Position);
        ToPool(std::move(page));
      } else {
        kept.push_back(std::move(page));
      }
    }
    cache.pages = std::move(kept);
  }
}

// ---- Undo of one change ----------------------------------------------------------

void TIndexFile::BeginUndo() {
  FUndoHeader = FHeader;
  FUndo.Begin();
}

bool TIndexFile::DropCachedPage(int slot, std::int32_t position) {
  if (slot < 0 || slot >= kTreeSlots) return false;
  TSlotCache& cache = FCaches[static_cast<std::size_t>(slot)];
  TPage* page = cache.Find(position);
  if (page == nullptr) return true;
  if (page->PinCount != 0) return false;
  const auto it = std::find_if(cache.pages.begin(), cache.pages.end(),
                               [page](const std::unique_ptr<TPage>& p) { return p.get() == page; });
  if (it == cache.pages.end()) return false;
  std::unique_ptr<TPage> owned = std::move(*it);
  *it = std::move(cache.pages.back());
  cache.pages.pop_back();
  cache.Erase(position);
  for (TPage*& recent : cache.recent) {
    if (recent == page) recent = nullptr;
  }
  ToPool(std::move(owned));
  return true;
}

bool TIndexFile::RollBackUndo() {
  const bool whole = FUndo.RollBack(
      [this](int slot, std::int32_t position) { return DropCachedPage(slot, position); });
  FHeader = FUndoHeader;
  // Pages went back to older contents: a descent kept for an insert must not
  // be trusted any more.
  for (int slot = 0; slot < kTreeSlots; ++slot) CountTreeChange(slot);
  return whole;
}

TIndexFile::TMarks TIndexFile::MarksBeforeWriteBack() const {
  TMarks marks;
  marks.header = FHeader;
  for (int slot = 0; slot < kTreeSlots; ++slot) {
    for (const auto& page : FCaches[static_cast<std::size_t>(slot)].pages) {
      if (page->Changed) marks.changed.emplace_back(slot, page->Position);
    }
  }
  return marks;
}

bool TIndexFile::RestoreMarks(const TMarks& marks) {
  FHeader = marks.header;
  bool whole = true;
  for (const auto& [slot, position] : marks.changed) {
    if (TPage* page = FCaches[static_cast<std::size_t>(slot)].Find(position)) {
      page->Changed = true;
    } else {
      whole = false;
    }
  }
  return whole;
}

}  // namespace engine
