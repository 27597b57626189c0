// TDataCursor::AddIndex and DeleteIndex: secondary indexes added to and
// indexes removed from a table that already holds records.
//
// Adding. The descriptor goes into the next secondary slot (TIndexFile::
// AddSecondaryIndex checks name, fields and key size). The keys of every
// record in use are built and sorted in index order first; for a unique index
// two equal neighbours mean a repeated key: the descriptor is taken out again
// and 9729 names the index, so nothing of the table has changed. Otherwise the
// keys go into the new tree in order, each with its record number.
//
// Removing. Every page of the index's tree (found level by level from the
// root through the internal entries) is put on the index's own free list and
// the root cleared. A secondary descriptor then leaves its slot
// (TIndexFile::RemoveIndex), keeping that free list in the slot that falls
// free, so the next index added reuses the pages. The primary index keeps its
// slot with the free list but loses its fields, and the table no longer has a
// primary key: it is in natural order and appends every insert.
//
// Both write the table back at once (also an exclusive one), as a rebuild
// does, and leave the cursor at the beginning.
#include <algorithm>
#include <numeric>

#include "engine/errors.h"
#include "engine/files/table_names.h"
#include "engine/storage/index_btree.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_cursor_brackets.h"

namespace engine {

namespace {

constexpr const char* kPrimaryIndexName = "PRIMARY";  // DROP INDEX t.PRIMARY, any case

}  // namespace

void TDataCursor::CheckStructureChange() const {
  CheckOpen();
  if (ReadOnly()) RaiseEngineError(kErrAccessDenied, FName);
  if (!FOptions.exclusive) RaiseEngineError(kErrExclusiveNeeded, FName);
}

int TDataCursor::AddIndex(const TIndexDefinition& definition) {
  CheckStructureChange();
  const int previous = FIndex;
  int slot = 0;
  FTable->WritePendingChanges();
  {
    TCursorWrite bracket(*this);
    slot = Index().AddSecondaryIndex(definition, FFields);
    try {
      BuildLayouts();
      const TKeyLayout& layout = LayoutOf(slot);
      const auto length = static_cast<std::size_t>(layout.KeyLength());
      // Every key of the records in use, then their order.
      std::vector<std::uint8_t> keys;
      std::vector<std::int32_t> records;
      TRecordBuffer record;
      const std::int32_t count = Data().RecordCount();
      for (std::int32_t n = 1; n <= count; ++n) {
        FetchRecord(n, record);
        if (record[kRecordStatusOffset] != kRecordInUse) continue;
        const std::size_t at = keys.size();
        keys.resize(at + length);
        layout.BuildKey(record.data(), FRecordSize, keys.data() + at);
        records.push_back(n);
      }
      const auto keyOf = [&](std::size_t i) { return keys.data() + i * length; };
      std::vector<std::size_t> order(records.size());
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return layout.Compare(keyOf(a), keyOf(b)) < 0;
      });
      if (layout.Unique()) {
        for (std::size_t i = 1; i < order.size(); ++i) {
          if (layout.Compare(keyOf(order[i - 1]), keyOf(order[i])) == 0)
            RaiseEngineError(kErrDuplicateKey, FName, {}, {}, Index().Descriptor(slot).Name());
        }
      }
      TIndexTree tree = Tree(slot);
      for (std::size_t i : order) tree.Insert(keyOf(i), records[i]);
    } catch (...) {
      // Pages the tree took so far go back to its free list with the slot.
      try {
        FreeTreePages(slot);
        Index().RemoveIndex(slot);
        BuildLayouts();
      } catch (...) {
        // The first error is the one to report.
      }
      throw;
    }
    FTable->FlushTable(false, true, false, false, true);
  }
  AfterIndexesChanged(previous);
  return slot;
}

void TDataCursor::DeleteIndex(const std::string& name) {
  CheckStructureChange();
  const std::string trimmed = Trim(name);
  int slot = kPrimarySlot;
  if (!trimmed.empty() && !SameText(trimmed, kPrimaryIndexName)) {
    slot = Index().FindIndex(trimmed);
    if (slot < 0) RaiseEngineError(kErrInvalidIndexName, FName, {}, {}, trimmed);
  } else if (Index().NoPrimaryKey()) {
    RaiseEngineError(kErrInvalidIndexName, FName, {}, {},
                     trimmed.empty() ? std::string(kPrimaryIndexName) : trimmed);
  }
  int keep = FIndex;
  if (keep == slot)
    keep = kPrimarySlot;
  else if (keep != kNaturalOrder && keep != kSystemIndexNumber && keep > slot && slot != 0)
    --keep;
  FTable->WritePendingChanges();
  {
    TCursorWrite bracket(*this);
    FreeTreePages(slot);
    if (slot == kPrimarySlot) {
      // The slot keeps its free list for the file's checks and reuse.
      TIndexDescriptor primary = Index().Descriptor(kPrimarySlot);
      const std::int32_t firstFree = Index().FirstFree(kPrimarySlot);
      std::fill(primary.Bytes(), primary.Bytes() + kDescriptorSize, std::uint8_t{0});
      Index().SetFirstFree(kPrimarySlot, firstFree);
      Index().RemoveIndex(kPrimarySlot);
      Data().SetHasPrimaryKey(false);
    } else {
      Index().RemoveIndex(slot);
    }
    BuildLayouts();
    FTable->FlushTable(false, true, false, false, true);
  }
  AfterIndexesChanged(keep);
}

// Puts every page of the tree in `slot` on the slot's free list; the root
// becomes 0. Pages are collected level by level before any is freed.
void TDataCursor::FreeTreePages(int slot) {
  std::vector<std::int32_t> pages;
  std::vector<std::int32_t> level;
  if (Index().Root(slot) != 0) level.push_back(Index().Root(slot));
  const std::int32_t end = Index().EndPosition();
  while (!level.empty()) {
    std::vector<std::int32_t> below;
    for (std::int32_t position : level) {
      if (std::find(pages.begin(), pages.end(), position) != pages.end())
        RaiseEngineError(kErrIndexPageCorrupt, FName);
      pages.push_back(position);
      TPageRef page = Index().GetPage(slot, position, false, this);
      if (page->IsLeaf()) continue;
      for (int i = 1; i <= page->Count(); ++i) {
        const std::int32_t child = page->Value(i);
        if (child < kIndexHeaderSize || child >= end) RaiseEngineError(kErrIndexPageCorrupt, FName);
        below.push_back(child);
      }
    }
    level = std::move(below);
  }
  for (std::int32_t position : pages) {
    TPageRef page = Index().GetPage(slot, position, true, this);
    Index().FreePage(slot, *page);
  }
  Index().SetRoot(slot, 0);
}

// The cursor's view after the index list changed: `index` selected (the
// primary order when the table no longer has a primary key), no range, the
// bitmaps recomputed, standing at the beginning.
void TDataCursor::AfterIndexesChanged(int index) {
  if (index != kNaturalOrder && index != kSystemIndexNumber && index > Index().SecondaryCount())
    index = kPrimarySlot;
  if (index == kPrimarySlot && Index().NoPrimaryKey()) index = kNaturalOrder;
  FIndex = index;
  ResetRange();
  FKey.assign(static_cast<std::size_t>(std::max(KeyLength(), 1)), 0);
  TakeCounters();
  ComputeRange();
  ComputeBitmaps();
  First();
}

}  // namespace engine
