// TDataCursor: opening and closing, change checks, navigation, index
// selection and ranges (see data_cursor.h).
#include "engine/table/data_cursor.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/errors.h"
// The one tie upward out of the table folder: a cursor keeps a list of
// filters (sql/filter.h) that restrict its visible records, and the filters in
// turn walk and read records through the cursor.
#include "engine/sql/filter.h"
#include "engine/storage/index_check.h"
#include "engine/table/data_cursor_brackets.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/data_table_values.h"

namespace engine {
namespace {

constexpr int kFetchAttempts = 4;  // a fetch that keeps finding dropped caches gives up

}  // namespace

TDataCursor::TDataCursor(TDataDirectory* directory, std::string name)
    : FDirectory(directory), FName(TableFileName("", name, kDataFileExt)) {
  FBlobs.SetTableName(FName);
}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (...) {
    // Closing in a destructor: the table's handles go with the table object.
  }
}

void TDataCursor::CheckClosed() const {
  if (FOpen) RaiseEngineError(kErrTableInUse, FName);
}

void TDataCursor::CheckOpen() const {
  if (!FOpen) RaiseEngineError(kErrNoCurrentRecord, FName);
}

void TDataCursor::SetName(const std::string& name) {
  CheckClosed();
  FName = TableFileName("", name, kDataFileExt);
  FBlobs.SetTableName(FName);
}

void TDataCursor::SetOptions(const TCursorOptions& options) {
  CheckClosed();
  FOptions = options;
}

std::uint32_t TDataCursor::FieldNumber(const std::string& name) const {
  for (std::size_t i = 0; i < FFields.size(); ++i) {
    if (SameText(FFields[i].Name(), Trim(name))) return static_cast<std::uint32_t>(i + 1);
  }
  return 0;
}

// ---- Open and close ---------------------------------------------------------------

void TDataCursor::Open() {
  if (FOpen) return;
  TTableOptions options;
  options.inMemory = FOptions.inMemory;
  options.exclusive = FOptions.exclusive;
  options.readOnly = FOptions.readOnly;
  options.temporary = FOptions.temporary;
  FTable = FDirectory->OpenTable(FName, options);
  FOpen = true;
  try {
    FReadOnlyAttr = FTable->ReadOnlyAttrFound();
    if (!FOptions.maintenance) CheckConsistencyOnOpen();
    CheckPassword();
    LoadStructure();
    ResetRange();
    FFilters = std::make_unique<TFilterList>(*this, true);
    if (FOptions.maintenance) return;
    if (FTable->NeedsRepair()) Rebuild();
    FIndex = (FOptions.naturalOrder || Index().NoPrimaryKey()) ? kNaturalOrder : kPrimarySlot;
    ResetRange();
    FKey.assign(static_cast<std::size_t>(std::max(KeyLength(), 1)), 0);
    TakeCounters();
    ComputeRange();
    ComputeBitmaps();
    First();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::CheckConsistencyOnOpen() {
  const bool alone =
      FTable->OpenCount() == 1 && (!FTable->InTransaction() || !FTable->HasWritten());
  if (!alone) return;
  const bool locked = FTable->ReadLock();
  try {
    Data().CheckConsistency(&ValueTextCheckFor);
    if (!FTable->NeedsRepair()) CheckIndexFileOnOpen(Index(), Data().Definitions());
    if (FTable->HasBlobs()) FTable->BlobFile().CheckConsistency();
  } catch (...) {
    if (locked) FTable->ReadUnlock();
    throw;
  }
  if (locked) FTable->ReadUnlock();
}

void TDataCursor::CheckPassword() {
  if (!Data().Encrypted()) return;
  TDataSession* session = FTable->Session();
  const std::string password = Data().Password();
  for (;;) {
    if (session != nullptr && session->HasPassword(password)) return;
    if (session == nullptr || !OnPassword || !OnPassword(*session))
      RaiseEngineError(kErrPasswordRequired, FName);
  }
}

void TDataCursor::LoadStructure() {
  FFields = Data().Definitions();
  FRecordSize = Data().RecordSize();
  FLanguageId = static_cast<std::uint16_t>(Data().LanguageId());
  FSortId = static_cast<std::uint16_t>(Data().SortId());
  FHasAutoIncField = FHasValidity = FHasDefaults = false;
  for (const TFieldDefinition& f : FFields) {
    FHasAutoIncField = FHasAutoIncField || f.IsAutoIncrement();
    FHasValidity = FHasValidity || f.Required() || !f.Minimum().empty() || !f.Maximum().empty();
    FHasDefaults = FHasDefaults || !f.Default().empty();
  }
  FRecord.assign(FRecordSize, 0);
  BuildLayouts();
}

void TDataCursor::BuildLayouts() {
  FLayouts.assign(kTreeSlots, TKeyLayout());
  const int last = Index().SecondaryCount();
  for (int slot = 0; slot <= last; ++slot) {
    if (slot == kPrimarySlot && Index().NoPrimaryKey()) continue;
    FLayouts[static_cast<std::size_t>(slot)] = TKeyLayout::ForDescriptor(
        Index().Descriptor(slot), slot, FFields, FLanguageId, FSortId, FName);
  }
  FLayouts[kSystemSlot] = TKeyLayout::SystemIndex();
}

void TDataCursor::Close(bool drop) {
  if (!FOpen) return;
  if (FQueryLockTaken) {
    // A statement that failed between taking and giving back the query read
    // lock: the table object may stay open for other cursors.
    FQueryLockTaken = false;
    try {
      FTable->QueryReadUnlock();
    } catch (const EDatabaseError&) {
      // The handles give up their locks when the table closes at last.
    }
  }
  FBlobs.FreeAll();
  FFilters.reset();  // gives its bitmaps back without recomputing
  FPresent.SetSize(0);
  FRangeBits.SetSize(0);
  FVisible.SetSize(0);
  FVisibleCount = 0;
  FBitmapsValid = false;
  FRangeStart.clear();
  FRangeEnd.clear();
  FRecord.clear();
  FFields.clear();
  FLayouts.clear();
  TDataTable* table = FTable;
  FTable = nullptr;
  FOpen = false;
  FDirectory->CloseTable(table, drop || FOptions.dropOnClose);
  if ((drop || FOptions.dropOnClose) &&
      FDirectory->FindTable(FName, FOptions.inMemory) == nullptr &&
      FDirectory->TableExists(FName, FOptions.inMemory)) {
    FDirectory->DeleteTable(FName, FOptions.inMemory);
  }
}

// ---- Table-level operations -------------------------------------------------------

void TDataCursor::DeleteTable() {
  CheckClosed();
  FDirectory->DeleteTable(FName, FOptions.inMemory);
}

void TDataCursor::RenameTable(const std::string& newName) {
  CheckClosed();
  FDirectory->RenameTable(FName, newName, false, FOptions.inMemory);
}

void TDataCursor::EmptyTable() {
  CheckOpen();
  if (ReadOnly()) RaiseEngineError(kErrAccessDenied, FName);
  if (!FOptions.exclusive) RaiseEngineError(kErrExclusiveNeeded, FName);
  FTable->EmptyTable();
  TakeCounters();
  ComputeRange();
  ComputeBitmaps();
  First();
}

// ---- Change checks ----------------------------------------------------------------

bool TDataCursor::CountersChanged() {
  std::int32_t now[3];
  FTable->ChangeCounters(now);
  if (std::equal(now, now + 3, FSeen)) return false;
  std::copy(now, now + 3, FSeen);
  return true;
}

void TDataCursor::TakeCounters() {
  FTable->ChangeCounters(FSeen);
}

void TDataCursor::Resync() {
  ComputeRange();
  ComputeBitmaps();
  FindAgain();
}

void TDataCursor::FindAgain() {
  if (FBof || FEof) {
    if (FBof && FEof) First();
    return;
  }
  if (BitmapMode()) {
    const std::int32_t count = Data().RecordCount();
    FRecNo = std::clamp<std::int32_t>(FRecNo, 1, std::max(count, 1));
    if (!Visible().Test(FRecNo)) {
      const std::uint32_t next = Visible().FindNext(FRecNo);
      if (next == 0) {
        Last();
        return;
      }
      FRecNo = static_cast<std::int32_t>(next);
    }
    LoadCurrent();
    return;
  }
  TIndexTree tree = Tree(Slot());
  TIndexPosition at;
  const int length = KeyLength();
  if (!tree.SeekAtLeast(FKey.data(), length, at)) {
    Last();
    return;
  }
  SetCurrentFromIndex(tree, at);
  if (!InRange(FKey.data())) {
    Last();
    return;
  }
  LoadCurrent();
}

// ---- Positions, range and bitmaps ---------------------------------------------------

bool TDataCursor::NaturalOrder() const {
  return FIndex == kNaturalOrder || (FIndex == kPrimarySlot && Index().NoPrimaryKey());
}

int TDataCursor::KeyLength() const {
  if (NaturalOrder()) return 0;
  return LayoutOf(Slot()).KeyLength();
}

void TDataCursor::CancelRange() {
  const bool wasActive = FRangeActive;
  ResetRange();
  if (!FOpen || !wasActive) return;
  TCursorRead bracket(*this);
  ComputeRange();
  ComputeBitmaps();
  FindAgain();
}

void TDataCursor::ResetRange() {
  FRangeActive = false;
  FRangeStart.assign(kMaxKeyLength, 0x00);
  FRangeEnd.assign(kMaxKeyLength, 0xFF);
  // The ends of the whole index in its own order: in a descending index the
  // all-zero key comes last, not first.
  if (FOpen && FTable != nullptr && !FLayouts.empty() && !NaturalOrder()) {
    const TKeyLayout& layout = LayoutOf(Slot());
    layout.LowestKey(FRangeStart.data());
    layout.HighestKey(FRangeEnd.data());
  }
  FRangeFirst = 1;
  FRangeLast = FOpen && FTable != nullptr ? Index().RecordCount() : 0;
}

void TDataCursor::SetRange(const std::vector<std::uint8_t>& start,
                           const std::vector<std::uint8_t>& end) {
  CheckOpen();
  if (NaturalOrder()) return;
  TCursorRead bracket(*this);
  const TKeyLayout& layout = LayoutOf(Slot());
  const int length = layout.KeyLength();
  FRangeStart.assign(kMaxKeyLength, 0);
  FRangeEnd.assign(kMaxKeyLength, 0xFF);
  const int startBytes = std::min<int>(length, static_cast<int>(start.size()));
  const int endBytes = std::min<int>(length, static_cast<int>(end.size()));
  std::copy_n(start.begin(), startBytes, FRangeStart.begin());
  std::copy_n(end.begin(), endBytes, FRangeEnd.begin());
  if (startBytes < length) layout.CompleteKey(FRangeStart.data(), startBytes, false);
  if (endBytes < length) layout.CompleteKey(FRangeEnd.data(), endBytes, true);
  FRangeActive = true;
  ComputeRange();
  ComputeBitmaps();
  First();
}

bool TDataCursor::InRange(const std::uint8_t* key) const {
  if (!FRangeActive) return true;
  const TKeyLayout& layout = LayoutOf(Slot());
  return layout.Compare(key, FRangeStart.data()) >= 0 && layout.Compare(key, FRangeEnd.data()) <= 0;
}

void TDataCursor::ComputeRange() {
  if (!FRangeActive || NaturalOrder()) {
    FRangeFirst = 1;
    FRangeLast = Index().RecordCount();
    return;
  }
  const TKeyLayout& layout = LayoutOf(Slot());
  if (layout.Compare(FRangeStart.data(), FRangeEnd.data()) > 0) {
    FRangeFirst = 0;
    FRangeLast = 0;
    return;
  }
  TIndexTree tree = Tree(Slot());
  FRangeFirst = 1 + tree.KeysBefore(FRangeStart.data(), layout.KeyLength());
  FRangeLast = tree.KeysUpTo(FRangeEnd.data(), layout.KeyLength());
}

bool TDataCursor::FiltersActive() const {
  return FFilters != nullptr && FFilters->AnyActive();
}

bool TDataCursor::BitmapMode() const {
  return NaturalOrder() || FiltersActive();
}

const TRecordsBitmap& TDataCursor::Visible() const {
  return FiltersActive() ? FFilters->Visible() : FVisible;
}

std::uint32_t TDataCursor::VisibleCount() const {
  return FiltersActive() ? FFilters->VisibleCount() : FVisibleCount;
}

// Present records, range records and visible records; positions (ComputeRange)
// must be current.
void TDataCursor::ComputeBitmaps() {
  if (!BitmapMode()) {
    FBitmapsValid = false;
    return;
  }
  const std::int32_t count = std::max(Data().RecordCount(), 0);
  FPresent.SetSize(static_cast<std::uint32_t>(count));
  FPresent.ClearAll();
  if (count > 0) {
    // Every key of the system index with status 1 is a deleted record.
    std::uint8_t low[kSystemKeyLength] = {kRecordDeleted, 0, 0, 0, 0};
    std::uint8_t high[kSystemKeyLength] = {kRecordDeleted, 0xFF, 0xFF, 0xFF, 0xFF};
    Tree(kSystemSlot).ScanRange(low, high, kSystemKeyLength, [&](std::int32_t n) {
      FPresent.Set(n);
    });
    FPresent.Not();
  }
  if (FRangeActive && !NaturalOrder()) ComputeRangeBitmap();
  FBitmapsValid = true;
  ComputeVisible();
}

// The records whose key lies in the range, walked by ordinal positions. When
// the table's language is 0 and the range holds more than half of the live
// records, the keys outside it are fewer: those are walked and the result
// inverted.
void TDataCursor::ComputeRangeBitmap() {
  FRangeBits.SetSize(FPresent.Size());
  FRangeBits.ClearAll();
  if (FRangeFirst <= 0 || FRangeLast < FRangeFirst) return;
  TIndexTree tree = Tree(Slot());
  const auto set = [&](std::int32_t n) { FRangeBits.Set(n); };
  const std::int64_t inside = FRangeLast - FRangeFirst + 1;
  const std::int64_t live = Index().RecordCount();
  if (FLanguageId == 0 && inside > live - inside) {
    tree.ScanOrdinals(1, FRangeFirst - 1, set);
    tree.ScanOrdinals(FRangeLast + 1, std::numeric_limits<std::int64_t>::max(), set);
    FRangeBits.Not();
    FRangeBits.And(FPresent);
  } else {
    tree.ScanOrdinals(FRangeFirst, inside, set);
  }
}

void TDataCursor::ComputeVisible() {
  const bool range = FRangeActive && !NaturalOrder();
  if (FiltersActive()) {
    FFilters->Recompute(&FPresent, range ? &FRangeBits : nullptr);
    return;
  }
  FVisible.Assign(FPresent);
  if (range) FVisible.And(FRangeBits);
  FVisibleCount = FVisible.Count();
}

TFilterList& TDataCursor::Filters() {
  CheckOpen();
  if (!FFilters) FFilters = std::make_unique<TFilterList>(*this, true);
  return *FFilters;
}

void TDataCursor::FiltersChanged() {
  CheckOpen();
  TCursorRead bracket(*this);
  if (!BitmapMode()) {
    // The last filter went off in index order: back to walking keys.
    FBitmapsValid = false;
    if (!FBof && !FEof) FKey = LayoutOf(Slot()).BuildKey(FRecord.data(), FRecordSize);
    FindAgain();
    return;
  }
  if (FBitmapsValid) {
    ComputeVisible();
  } else {
    ComputeRange();
    ComputeBitmaps();
  }
  FindAgain();
}

void TDataCursor::BitmapsAfterWrite(std::int32_t n, const TRecordBuffer& record) {
  if (!BitmapMode()) {
    FBitmapsValid = false;
    return;
  }
  if (!FBitmapsValid || n < 1) {
    ComputeBitmaps();
    return;
  }
  const auto size = static_cast<std::uint32_t>(std::max(Data().RecordCount(), n));
  if (FPresent.Size() < size) FPresent.SetSize(size);
  FPresent.Set(n);
  bool inRange = true;
  if (FRangeActive && !NaturalOrder()) {
    const std::vector<std::uint8_t> key = LayoutOf(Slot()).BuildKey(record.data(), FRecordSize);
    inRange = InRange(key.data());
    if (FRangeBits.Size() < size) FRangeBits.SetSize(size);
    FRangeBits.Put(n, inRange);
  }
  if (FiltersActive()) {
    FFilters->RecordChanged(n, record, inRange);
    return;
  }
  if (FVisible.Size() < size) FVisible.SetSize(size);
  const bool was = FVisible.Test(n);
  FVisible.Put(n, inRange);
  if (inRange && !was) ++FVisibleCount;
  if (!inRange && was) --FVisibleCount;
}

void TDataCursor::BitmapsAfterDelete(std::int32_t n) {
  if (!BitmapMode()) {
    FBitmapsValid = false;
    return;
  }
  if (!FBitmapsValid) {
    ComputeBitmaps();
    return;
  }
  FPresent.Clear(n);
  FRangeBits.Clear(n);
  if (FiltersActive()) {
    FFilters->RecordDeleted(n);
    return;
  }
  if (FVisible.Test(n)) --FVisibleCount;
  FVisible.Clear(n);
}

TDataCursor::TKeyRange TDataCursor::RangeKeys(int index, const std::vector<std::uint8_t>& low,
                                              const std::vector<std::uint8_t>& high) const {
  if (index < 0 || index >= kTreeSlots || LayoutOf(index).KeyLength() == 0)
    RaiseEngineError(kErrInvalidIndexName, FName, {}, {}, std::to_string(index));
  const TKeyLayout& layout = LayoutOf(index);
  const int length = layout.KeyLength();
  TKeyRange range;
  range.length = length;
  range.low.assign(static_cast<std::size_t>(length), 0);
  range.high.assign(static_cast<std::size_t>(length), 0xFF);
  const int lowBytes = std::min<int>(length, static_cast<int>(low.size()));
  const int highBytes = std::min<int>(length, static_cast<int>(high.size()));
  std::copy_n(low.begin(), lowBytes, range.low.begin());
  std::copy_n(high.begin(), highBytes, range.high.begin());
  if (lowBytes < length) layout.CompleteKey(range.low.data(), lowBytes, false);
  if (highBytes < length) layout.CompleteKey(range.high.data(), highBytes, true);
  range.empty = layout.Compare(range.low.data(), range.high.data()) > 0;
  return range;
}

void TDataCursor::SizeBitmapFor(TRecordsBitmap& bitmap) {
  const auto count = static_cast<std::uint32_t>(std::max(Data().RecordCount(), 0));
  if (bitmap.Size() < count) bitmap.SetSize(count);
}

std::int64_t TDataCursor::ScanRangeToBitmap(int index, const std::vector<std::uint8_t>& low,
                                            const std::vector<std::uint8_t>& high,
                                            TRecordsBitmap& bitmap) {
  CheckOpen();
  TCursorRead bracket(*this);
  const TKeyRange range = RangeKeys(index, low, high);
  SizeBitmapFor(bitmap);
  std::int64_t keys = 0;
  Tree(index).ScanRange(range.low.data(), range.high.data(), range.length, [&](std::int32_t n) {
    bitmap.Set(n);
    ++keys;
  });
  return keys;
}

std::int64_t TDataCursor::CountRange(int index, const std::vector<std::uint8_t>& low,
                                     const std::vector<std::uint8_t>& high) {
  CheckOpen();
  TCursorRead bracket(*this);
  const TKeyRange range = RangeKeys(index, low, high);
  if (range.empty) return 0;
  TIndexTree tree = Tree(index);
  return std::max<std::int64_t>(0, tree.KeysUpTo(range.high.data(), range.length) -
                                       tree.KeysBefore(range.low.data(), range.length));
}

void TDataCursor::ScanOutsideRangeToBitmap(int index, const std::vector<std::uint8_t>& low,
                                           const std::vector<std::uint8_t>& high,
                                           TRecordsBitmap& bitmap) {
  CheckOpen();
  TCursorRead bracket(*this);
  const TKeyRange range = RangeKeys(index, low, high);
  SizeBitmapFor(bitmap);
  const auto set = [&](std::int32_t n) { bitmap.Set(n); };
  constexpr std::int64_t kToTheEnd = std::numeric_limits<std::int64_t>::max();
  TIndexTree tree = Tree(index);
  if (range.empty) {  // every key lies outside
    tree.ScanOrdinals(1, kToTheEnd, set);
    return;
  }
  tree.ScanOrdinals(1, tree.KeysBefore(range.low.data(), range.length), set);
  tree.ScanOrdinals(tree.KeysUpTo(range.high.data(), range.length) + 1, kToTheEnd, set);
}

// ---- Index selection ----------------------------------------------------------------

void TDataCursor::SelectIndex(int number) {
  CheckOpen();
  const bool valid = number == kNaturalOrder || number == kSystemIndexNumber ||
                     (number >= 0 && number <= Index().SecondaryCount());
  if (!valid) RaiseEngineError(kErrInvalidIndexName, FName, {}, {}, std::to_string(number));
  if (number == FIndex) return;
  TCursorRead bracket(*this);
  const bool hadRecord = !FBof && !FEof;
  FIndex = number;
  ResetRange();
  FKey.assign(static_cast<std::size_t>(std::max(KeyLength(), 1)), 0);
  ComputeRange();
  ComputeBitmaps();
  if (!hadRecord) {
    First();
    return;
  }
  if (!NaturalOrder()) FKey = LayoutOf(Slot()).BuildKey(FRecord.data(), FRecordSize);
  FindAgain();
}

void TDataCursor::SelectIndex(const std::string& name) {
  CheckOpen();
  const std::string trimmed = Trim(name);
  if (trimmed.empty()) {
    SelectIndex(kPrimarySlot);
    return;
  }
  const int slot = Index().FindIndex(trimmed);
  if (slot < 0) RaiseEngineError(kErrInvalidIndexName, FName, {}, {}, trimmed);
  SelectIndex(slot);
}

std::vector<std::uint8_t> TDataCursor::BuildKey(const TRecordBuffer& record) const {
  return BuildKey(record, Slot());
}

std::vector<std::uint8_t> TDataCursor::BuildKey(const TRecordBuffer& record, int index) const {
  CheckRecordSize(record);
  return LayoutOf(index).BuildKey(record.data(), FRecordSize);
}

// ---- Records --------------------------------------------------------------------------

void TDataCursor::FetchRecord(std::int32_t n, TRecordBuffer& into) {
  for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
    // Read-ahead pays off when walking record numbers; a key lookup lands on
    // one record anywhere in the file and reads just that one.
    TRecord* record = Data().GetRecord(this, n, kReadForward, BitmapMode());
    if (record == nullptr) continue;  // caches dropped by a change check: again
    into.assign(record->Data(), record->Data() + FRecordSize);
    Data().ReleaseRecord(record);
    return;
  }
  RaiseEngineError(kErrRecordBufferCorrupt, FName);
}

void TDataCursor::LoadCurrent() {
  if (FBof || FEof || FRecNo < 1) {
    std::fill(FRecord.begin(), FRecord.end(), 0);
    return;
  }
  FetchRecord(FRecNo, FRecord);
}

void TDataCursor::SetCurrentFromIndex(TIndexTree& tree, const TIndexPosition& at) {
  FKey.resize(static_cast<std::size_t>(tree.Layout().KeyLength()));
  tree.ReadEntry(at, FKey.data(), &FRecNo);
  FBof = FEof = false;
}

// ---- Navigation -----------------------------------------------------------------------

void TDataCursor::First() {
  CheckOpen();
  FBof = true;
  FEof = ViewCount() == 0;
  FRecNo = 0;
  if (!NaturalOrder()) std::copy_n(FRangeStart.begin(), FKey.size(), FKey.begin());
  std::fill(FRecord.begin(), FRecord.end(), 0);
}

void TDataCursor::Last() {
  CheckOpen();
  FEof = true;
  FBof = ViewCount() == 0;
  FRecNo = Data().RecordCount() + 1;
  if (!NaturalOrder()) std::copy_n(FRangeEnd.begin(), FKey.size(), FKey.begin());
  std::fill(FRecord.begin(), FRecord.end(), 0);
}

bool TDataCursor::StepBitmap(bool forward) {
  std::uint32_t n = 0;
  if (forward) {
    n = Visible().FindNext(FBof ? 0 : FRecNo);
  } else {
    n = Visible().FindPrior(FEof ? static_cast<std::int64_t>(Visible().Size()) + 1 : FRecNo);
  }
  if (n == 0) return false;
  FRecNo = static_cast<std::int32_t>(n);
  FBof = FEof = false;
  return true;
}

bool TDataCursor::StepIndex(bool forward) {
  TIndexTree tree = Tree(Slot());
  const int length = tree.Layout().KeyLength();
  const TKeyLayout& layout = tree.Layout();
  TIndexPosition at;
  if (forward) {
    if (FBof) {
      if (!tree.SeekAtLeast(FRangeStart.data(), length, at)) return false;
    } else {
      if (!tree.SeekAtLeast(FKey.data(), length, at)) return false;
      std::vector<std::uint8_t> key(static_cast<std::size_t>(length));
      tree.ReadEntry(at, key.data(), nullptr);
      if (layout.Compare(key.data(), FKey.data()) == 0 && !tree.Next(at)) return false;
    }
  } else {
    if (FEof) {
      if (!tree.SeekAtMost(FRangeEnd.data(), length, at)) return false;
    } else {
      if (!tree.SeekAtMost(FKey.data(), length, at)) return false;
      std::vector<std::uint8_t> key(static_cast<std::size_t>(length));
      tree.ReadEntry(at, key.data(), nullptr);
      if (layout.Compare(key.data(), FKey.data()) == 0 && !tree.Prior(at)) return false;
    }
  }
  std::vector<std::uint8_t> key(static_cast<std::size_t>(length));
  std::int32_t n = 0;
  tree.ReadEntry(at, key.data(), &n);
  if (!InRange(key.data())) return false;
  FKey = key;
  FRecNo = n;
  FBof = FEof = false;
  return true;
}

int TDataCursor::Fetch(bool forward, TRecordBuffer* record) {
  CheckOpen();
  TCursorRead bracket(*this);
  const bool moved = BitmapMode() ? StepBitmap(forward) : StepIndex(forward);
  if (!moved) {
    if (forward) {
      Last();
    } else {
      First();
    }
    if (record != nullptr) record->assign(FRecordSize, 0);
    return forward ? kErrEndOfFile : kErrBeginOfFile;
  }
  LoadCurrent();
  if (record != nullptr) *record = FRecord;
  return kNavOk;
}

int TDataCursor::Next(TRecordBuffer* record) {
  return Fetch(true, record);
}
int TDataCursor::Prior(TRecordBuffer* record) {
  return Fetch(false, record);
}

int TDataCursor::MoveBy(int steps) {
  CheckOpen();
  if (steps == 0) return kNavOk;
  TCursorRead bracket(*this);
  const bool forward = steps > 0;
  int remaining = forward ? steps : -steps;
  if (BitmapMode()) {
    const TRecordsBitmap& visible = Visible();
    const std::uint32_t n =
        forward ? visible.FindNext(FBof ? 0 : FRecNo, static_cast<std::uint32_t>(remaining))
                : visible.FindPrior(FEof ? static_cast<std::int64_t>(visible.Size()) + 1 : FRecNo,
                                    static_cast<std::uint32_t>(remaining));
    if (n == 0) {
      forward ? Last() : First();
      return forward ? kErrEndOfFile : kErrBeginOfFile;
    }
    FRecNo = static_cast<std::int32_t>(n);
    FBof = FEof = false;
  } else {
    while (remaining-- > 0) {
      if (!StepIndex(forward)) {
        forward ? Last() : First();
        return forward ? kErrEndOfFile : kErrBeginOfFile;
      }
    }
  }
  LoadCurrent();
  return kNavOk;
}

int TDataCursor::ReadCurrent(TRecordBuffer* record, bool lock, const TRecordBuffer* callerCopy) {
  CheckOpen();
  if (lock && !FBof && !FEof) {
    LockRecord(FRecNo);
    TCursorRead bracket(*this);
    LoadCurrent();
    if (!FOptions.exclusive && callerCopy != nullptr && *callerCopy != FRecord) {
      UnlockRecord(FRecNo);
      RaiseEngineError(kErrRecordChanged, FName);
    }
  }
  TCursorRead bracket(*this);
  int code = kNavOk;
  if (FBof && FEof) {
    code = kErrNoCurrentRecord;
  } else if (FBof) {
    code = kErrBeginOfFile;
  } else if (FEof) {
    code = kErrEndOfFile;
  }
  if (code != kNavOk) {
    if (record != nullptr) record->assign(FRecordSize, 0);
    return code;
  }
  LoadCurrent();
  if (FRecord[kRecordStatusOffset] != kRecordInUse) {
    // Where a record was deleted without repositioning: nothing is current.
    std::fill(FRecord.begin(), FRecord.end(), 0);
    if (record != nullptr) record->assign(FRecordSize, 0);
    return kErrNoCurrentRecord;
  }
  if (record != nullptr) *record = FRecord;
  return kNavOk;
}

std::int64_t TDataCursor::RecordCount() {
  CheckOpen();
  TCursorRead bracket(*this);
  return ViewCount();
}

std::int64_t TDataCursor::ViewCount() const {
  if (BitmapMode()) return VisibleCount();
  if (FRangeFirst <= 0 || FRangeLast <= 0) return 0;
  return std::max<std::int64_t>(0, FRangeLast - FRangeFirst + 1);
}

std::int64_t TDataCursor::RecordPosition() {
  CheckOpen();
  TCursorRead bracket(*this);
  if (FBof || FEof) return 0;
  if (BitmapMode()) return Visible().CountBefore(FRecNo) + 1;
  TIndexTree tree = Tree(Slot());
  return tree.KeysBefore(FKey.data(), tree.Layout().KeyLength()) + 1 - FRangeFirst + 1;
}

int TDataCursor::SetRecordPosition(std::int64_t position) {
  CheckOpen();
  TCursorRead bracket(*this);
  const std::int64_t count = ViewCount();
  if (position < 1 || position > count) return position < 1 ? kErrBeginOfFile : kErrEndOfFile;
  if (BitmapMode()) {
    FRecNo = static_cast<std::int32_t>(Visible().FindNext(0, static_cast<std::uint32_t>(position)));
    FBof = FEof = false;
  } else {
    TIndexTree tree = Tree(Slot());
    TIndexPosition at;
    if (!tree.SeekOrdinal(FRangeFirst + position - 1, at)) return kErrEndOfFile;
    SetCurrentFromIndex(tree, at);
  }
  LoadCurrent();
  return kNavOk;
}

bool TDataCursor::FindKey(const std::vector<std::uint8_t>& key, int length) {
  CheckOpen();
  if (NaturalOrder()) RaiseEngineError(kErrInvalidIndexName, FName);
  TCursorRead bracket(*this);
  TIndexTree tree = Tree(Slot());
  const int full = tree.Layout().KeyLength();
  length = std::clamp(length, 0, std::min(full, static_cast<int>(key.size())));
  std::vector<std::uint8_t> probe(static_cast<std::size_t>(full), 0);
  std::copy_n(key.begin(), length, probe.begin());
  tree.Layout().CompleteKey(probe.data(), length, false);
  TIndexPosition at;
  if (!tree.SeekAtLeast(probe.data(), full, at)) {
    Last();
    return false;
  }
  SetCurrentFromIndex(tree, at);
  // Under filters the first visible record from there on.
  while (BitmapMode() && InRange(FKey.data()) && !Visible().Test(FRecNo)) {
    if (!tree.Next(at)) {
      Last();
      return false;
    }
    SetCurrentFromIndex(tree, at);
  }
  if (!InRange(FKey.data())) {
    Last();
    return false;
  }
  LoadCurrent();
  return tree.Layout().Compare(FKey.data(), key.data(), length) == 0;
}

// ---- Rebuild after a recreated index file -------------------------------------------

void TDataCursor::Rebuild() {
  TCursorWrite bracket(*this);
  Index().SetNoPrimaryKey(true);
  Data().SetHasPrimaryKey(false);
  BuildLayouts();
  TIndexTree system = Tree(kSystemSlot);
  const std::int32_t count = Data().RecordCount();
  TRecordBuffer record;
  std::int32_t live = 0;
  for (std::int32_t n = 1; n <= count; ++n) {
    FetchRecord(n, record);
    if (record[kRecordStatusOffset] == kRecordInUse) ++live;
    system.Insert(LayoutOf(kSystemSlot).BuildKey(record.data(), FRecordSize).data(), n);
  }
  Index().SetRecordCount(live);
  FTable->FlushTable(false, true, false, false, true);
  FTable->ClearNeedsRepair();
  TakeCounters();
}

}  // namespace engine
