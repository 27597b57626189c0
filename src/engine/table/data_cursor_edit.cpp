// TDataCursor: insert, modify, delete, copying records and record locks.
//
// Every change follows the table's edit bracket: WriteLock -> LockRecord ->
// changes in the caches (record, index entries, system index, BLOB chains,
// header counters) -> FlushTable (shared) or MarkChanged (exclusive) ->
// UnlockRecord -> WriteUnlock. Duplicate keys are refused before anything is
// changed, so a refused insert or modify leaves the table as it was.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/errors.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_cursor_brackets.h"

namespace engine {
namespace {

std::int32_t AutoIncOf(const std::vector<std::uint8_t>& record) {
  std::int32_t v;
  std::memcpy(&v, record.data() + kRecordAutoIncOffset, sizeof v);
  return v;
}
void SetAutoInc(std::vector<std::uint8_t>& record, std::int32_t value) {
  std::memcpy(record.data() + kRecordAutoIncOffset, &value, sizeof value);
}

// Gives up a record lock on a failure path, where the first error is the one
// to report.
void UnlockQuietly(TDataTable& table, std::int32_t n) {
  try {
    table.UnlockRecord(n);
  } catch (...) {
  }
}

}  // namespace

std::vector<int> TDataCursor::KeySlots() const {
  std::vector<int> slots;
  if (!Index().NoPrimaryKey()) slots.push_back(kPrimarySlot);
  for (int s = 1; s <= Index().SecondaryCount(); ++s) slots.push_back(s);
  return slots;
}

namespace {
std::string IndexNameOf(TIndexFile& index, int slot) {
  const std::string name = index.Descriptor(slot).Name();
  return name.empty() ? std::string("Primary") : name;
}
}  // namespace

// Shared cursors write their changes back at once (inside a transaction this
// only marks them); an exclusive cursor marks them for the close.
void TDataCursor::WriteBack() {
  if (FOptions.exclusive) {
    FTable->MarkChanged(true, true, true);
  } else {
    FTable->FlushTable(false, true, false, true, true);
  }
}

void TDataCursor::AfterInsertOrModify(std::int32_t n, const TRecordBuffer& record,
                                      bool reposition) {
  TakeCounters();
  ComputeRange();
  BitmapsAfterWrite(n, record);
  if (!reposition) return;
  if (BitmapMode()) {
    if (Visible().Test(n)) {
      FRecNo = n;
      FBof = FEof = false;
    }
  } else {
    const std::vector<std::uint8_t> key = LayoutOf(Slot()).BuildKey(record.data(), FRecordSize);
    if (InRange(key.data())) {
      FKey = key;
      FRecNo = n;
      FBof = FEof = false;
    }
  }
  LoadCurrent();
}

void TDataCursor::Insert(TRecordBuffer& record, bool reposition) {
  CheckOpen();
  CheckRecordSize(record);
  if (ReadOnly()) RaiseEngineError(kErrAccessDenied, FName);
  TCursorWrite bracket(*this);
  TDataFile& data = Data();
  TIndexFile& index = Index();
  const std::int32_t n = data.CheckedInsertPosition();
  FTable->LockNewRecord(n);
  try {
    CheckValidity(record);
    if (!AutoIncrementMode) {
      const std::int32_t last = data.LastAutoIncrement();
      SetAutoInc(record, last >= kCounterMax ? 1 : last + 1);
    }
    record[kRecordStatusOffset] = kRecordInUse;
    const std::vector<int> slots = KeySlots();
    // The keys of all indexes, one after another in one buffer.
    std::vector<std::size_t> keyAt;
    std::vector<std::uint8_t> keyBytes;
    keyAt.reserve(slots.size());
    std::size_t keysLength = 0;
    for (const int slot : slots) {
      keyAt.push_back(keysLength);
      keysLength += static_cast<std::size_t>(LayoutOf(slot).KeyLength());
    }
    keyBytes.resize(keysLength);
    const auto keyOf = [&](std::size_t i) { return keyBytes.data() + keyAt[i]; };
    // One tree object per index: a unique index's duplicate check keeps its
    // descent for the insert below.
    std::vector<TIndexTree> trees;
    trees.reserve(slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const int slot = slots[i];
      const TKeyLayout& layout = LayoutOf(slot);
      layout.BuildKey(record.data(), FRecordSize, keyOf(i));
      trees.push_back(Tree(slot));
      if (layout.Unique() && trees.back().FindForInsert(keyOf(i))) {
        RaiseEngineError(kErrDuplicateKey, FName, {}, {}, IndexNameOf(index, slot));
      }
    }
    // Allocate the record first: it may find a stale free chain and append.
    TRecord* target = nullptr;
    for (int attempt = 0; attempt < 4 && target == nullptr; ++attempt) {
      target = data.AllocateRecord(this);
    }
    if (target == nullptr) RaiseEngineError(kErrRecordBufferCorrupt, FName);
    const std::int32_t got = target->Number();
    const bool reused = target->Data()[kRecordStatusOffset] == kRecordDeleted;
    std::vector<std::uint8_t> oldSystemKey;
    if (reused) {
      TRecordBuffer old(target->Data(), target->Data() + FRecordSize);
      oldSystemKey = LayoutOf(kSystemSlot).BuildKey(old.data(), FRecordSize);
    }
    try {
      if (got != n) {
        // Another record than the one locked (a broken free chain was dropped).
        FTable->LockRecord(got);
      }
      for (std::size_t i = 0; i < slots.size(); ++i) trees[i].Insert(keyOf(i), got);
      TIndexTree system = Tree(kSystemSlot);
      if (reused) system.Delete(oldSystemKey.data(), got);
      if (AutoIncrementMode) {
        data.SetLastAutoIncrement(std::max(data.LastAutoIncrement(), AutoIncOf(record)));
      } else {
        data.NextAutoIncrement();
      }
      std::array<std::uint8_t, kMaxKeyLength> systemKey{};
      const TKeyLayout& systemLayout = LayoutOf(kSystemSlot);
      if (systemLayout.KeyLength() > kMaxKeyLength) RaiseEngineError(kErrIndexPageCorrupt, FName);
      systemLayout.BuildKey(record.data(), FRecordSize, systemKey.data());
      system.Insert(systemKey.data(), got);
      index.IncRecordCount();
      if (FTable->HasBlobs()) {
        FBlobs.Store(this, data, FTable->BlobFile(), FFields, record.data(), FRecordSize);
      }
      std::memcpy(target->Data(), record.data(), FRecordSize);
      bytes::PutI32(target->Data() + kRecordLinkOffset, got);
      data.MarkRecordChanged(target);
      data.ReleaseRecord(target);
      target = nullptr;
    } catch (...) {
      if (target != nullptr) data.ReleaseRecord(target);
      if (got != n) FTable->UnlockRecord(got);
      throw;
    }
    WriteBack();
    if (got != n) FTable->UnlockRecord(got);
    AfterInsertOrModify(got, record, reposition);
  } catch (...) {
    UnlockQuietly(*FTable, n);
    throw;
  }
  FTable->UnlockRecord(n);
}

void TDataCursor::Modify(TRecordBuffer& record, bool unlock, bool reposition) {
  CheckOpen();
  CheckRecordSize(record);
  if (ReadOnly()) RaiseEngineError(kErrAccessDenied, FName);
  TCursorWrite bracket(*this);
  if (FBof || FEof) RaiseEngineError(kErrNoCurrentRecord, FName);
  const std::int32_t n = FRecNo;
  TDataFile& data = Data();
  const bool lockedHere = !FTable->RecordLockedByCursor(n);
  if (lockedHere) FTable->LockRecord(n);
  try {
    TRecordBuffer old;
    FetchRecord(n, old);
    if (old[kRecordStatusOffset] != kRecordInUse) RaiseEngineError(kErrRecordChanged, FName);
    CheckValidity(record);
    if (AutoIncrementMode) {
      data.SetLastAutoIncrement(std::max(data.LastAutoIncrement(), AutoIncOf(record)));
    } else {
      SetAutoInc(record, AutoIncOf(old));
    }
    record[kRecordStatusOffset] = kRecordInUse;
    std::vector<int> slots = KeySlots();
    if (AutoIncrementMode) slots.push_back(kSystemSlot);
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> changes;
    std::vector<int> changedSlots;
    for (const int slot : slots) {
      const TKeyLayout& layout = LayoutOf(slot);
      auto before = layout.BuildKey(old.data(), FRecordSize);
      auto after = layout.BuildKey(record.data(), FRecordSize);
      if (layout.Compare(before.data(), after.data()) == 0 && before == after) continue;
      if (layout.Unique() && Tree(slot).Find(after.data(), layout.KeyLength())) {
        RaiseEngineError(kErrDuplicateKey, FName, {}, {}, IndexNameOf(Index(), slot));
      }
      changes.emplace_back(std::move(before), std::move(after));
      changedSlots.push_back(slot);
    }
    for (std::size_t i = 0; i < changedSlots.size(); ++i) {
      TIndexTree tree = Tree(changedSlots[i]);
      if (!tree.Delete(changes[i].first.data(), n)) RaiseEngineError(kErrIndexPageCorrupt, FName);
      tree.Insert(changes[i].second.data(), n);
    }
    if (FTable->HasBlobs()) {
      FBlobs.Store(this, data, FTable->BlobFile(), FFields, record.data(), FRecordSize);
    }
    TRecord* target = nullptr;
    for (int attempt = 0; attempt < 4 && target == nullptr; ++attempt) {
      target = data.GetRecord(this, n, kReadForward, false);
    }
    if (target == nullptr) RaiseEngineError(kErrRecordBufferCorrupt, FName);
    std::memcpy(target->Data(), record.data(), FRecordSize);
    bytes::PutI32(target->Data() + kRecordLinkOffset, n);
    data.MarkRecordChanged(target);
    data.ReleaseRecord(target);
    WriteBack();
    AfterInsertOrModify(n, record, reposition);
    if (!reposition) {
      FRecNo = n;
      LoadCurrent();
    }
  } catch (...) {
    if (lockedHere) UnlockQuietly(*FTable, n);
    throw;
  }
  if (unlock || lockedHere) FTable->UnlockRecord(n);
}

void TDataCursor::Delete(const TRecordBuffer& callerCopy, bool reposition) {
  CheckOpen();
  if (ReadOnly()) RaiseEngineError(kErrAccessDenied, FName);
  TCursorWrite bracket(*this);
  if (FBof || FEof) RaiseEngineError(kErrNoCurrentRecord, FName);
  const std::int32_t n = FRecNo;
  TDataFile& data = Data();
  TRecordBuffer current;
  FetchRecord(n, current);
  if (current[kRecordStatusOffset] != kRecordInUse) RaiseEngineError(kErrRecordChanged, FName);
  if (!FOptions.exclusive) {
    CheckRecordSize(callerCopy);
    // Slots of open BLOBs hold handles in the caller's copy; compare the rest.
    TRecordBuffer copy = callerCopy;
    for (const TFieldDefinition& f : FFields) {
      if (f.Type() != kFieldBlob || !f.HasSlot()) continue;
      const std::size_t at = f.Offset() + 1u;
      if (at + 8 <= FRecordSize && bytes::GetI32(copy.data() + at) < 0)
        std::memcpy(copy.data() + at, current.data() + at, 8);
    }
    bytes::PutI32(copy.data() + kRecordLinkOffset, n);
    if (copy != current) RaiseEngineError(kErrRecordChanged, FName);
  }
  const bool lockedHere = !FTable->RecordLockedByCursor(n);
  if (lockedHere) FTable->LockRecord(n);
  try {
    for (const int slot : KeySlots()) {
      const auto key = LayoutOf(slot).BuildKey(current.data(), FRecordSize);
      if (!Tree(slot).Delete(key.data(), n)) RaiseEngineError(kErrIndexPageCorrupt, FName);
    }
    TIndexTree system = Tree(kSystemSlot);
    auto liveKey = LayoutOf(kSystemSlot).BuildKey(current.data(), FRecordSize);
    system.Delete(liveKey.data(), n);
    TRecordBuffer gone = current;
    gone[kRecordStatusOffset] = kRecordDeleted;
    system.Insert(LayoutOf(kSystemSlot).BuildKey(gone.data(), FRecordSize).data(), n);
    Index().DecRecordCount();
    TRecord* target = nullptr;
    for (int attempt = 0; attempt < 4 && target == nullptr; ++attempt) {
      target = data.GetRecord(this, n, kReadForward, false);
    }
    if (target == nullptr) RaiseEngineError(kErrRecordBufferCorrupt, FName);
    // The record stays pinned only while this operation runs.
    try {
      if (FTable->HasBlobs()) {
        for (const TFieldDefinition& f : FFields) {
          if (f.Type() != kFieldBlob || !f.HasSlot()) continue;
          std::uint8_t* slot = target->Data() + f.Offset();
          std::int32_t first = bytes::GetI32(slot + 1);
          const std::int32_t id = bytes::GetI32(slot + 5);
          if (first > 0) {
            FTable->BlobFile().FreeChain(this, false, false, n, id, first);
            bytes::PutI32(slot + 1, 0);
          }
        }
      }
    } catch (...) {
      data.ReleaseRecord(target);
      throw;
    }
    data.FreeRecord(target);
    data.MarkRecordChanged(target);
    data.ReleaseRecord(target);
    WriteBack();
  } catch (...) {
    if (lockedHere) UnlockQuietly(*FTable, n);
    throw;
  }
  TakeCounters();
  ComputeRange();
  BitmapsAfterDelete(n);
  FTable->UnlockRecord(n);
  std::fill(FRecord.begin(), FRecord.end(), 0);
  if (!reposition) {
    // The cursor stays where the record was, on nothing: reading the current
    // record answers that there is none, and the next and prior fetches
    // deliver its neighbours (the key and record number still order it).
    return;
  }
  // The record after the deleted one becomes current; after the last one the
  // cursor stands at the end.
  if (ViewCount() == 0) {
    First();
  } else if (BitmapMode()) {
    const std::uint32_t next = Visible().FindNext(n);
    if (next == 0) {
      Last();
    } else {
      FRecNo = static_cast<std::int32_t>(next);
      LoadCurrent();
    }
  } else {
    TIndexTree tree = Tree(Slot());
    TIndexPosition at;
    if (!tree.SeekAtLeast(FKey.data(), KeyLength(), at)) {
      Last();
    } else {
      SetCurrentFromIndex(tree, at);
      if (InRange(FKey.data())) {
        LoadCurrent();
      } else {
        Last();
      }
    }
  }
}

TDataCursor::TRecordBuffer TDataCursor::CopyRecord() {
  CheckOpen();
  TCursorRead bracket(*this);
  if (FBof || FEof) RaiseEngineError(kErrNoCurrentRecord, FName);
  LoadCurrent();
  TRecordBuffer copy(FRecordSize, 0);
  TRecordBuffer source = FRecord;
  for (std::uint32_t i = 1; i <= FieldCount(); ++i) {
    const TFieldDefinition& f = FFields[i - 1];
    if (!f.HasSlot() || IsNull(source, i)) continue;
    if (f.Type() == kFieldBlob) {
      const std::vector<std::uint8_t> content = GetBlob(source, i);
      PutBlob(copy, i, content.data(), content.size());
    } else {
      const std::size_t at = f.Offset();
      std::memcpy(copy.data() + at, source.data() + at, f.StorageSize() + 1u);
    }
  }
  return copy;
}

void TDataCursor::LockRecord(std::int32_t n) {
  CheckOpen();
  if (n == 0) {
    if (FBof || FEof) RaiseEngineError(kErrNoCurrentRecord, FName);
    n = FRecNo;
  }
  const bool changed = FTable->LockRecord(n);
  if (changed | CountersChanged()) Resync();
}

void TDataCursor::UnlockRecord(std::int32_t n) {
  CheckOpen();
  if (n == 0) n = FRecNo;
  FTable->UnlockRecord(n);
}

}  // namespace engine
