// TIndexTree: the B-tree of one index slot of an index file: search, insert
// with page split, delete with merge and redistribution, counting by key, and
// walking the leaves.
//
// Shape. Leaves (type 2, or 3 for a root that is the only page) hold the keys
// with their record numbers in key order; internal pages (type 1, or 0 for the
// root) hold one entry per child: the child's first key, its position and the
// number of leaf entries below it. Every page is linked to its neighbours on
// the same level. An internal entry's key is always its child's first key, so
// a change of a page's first key is written into its parent, recursively.
//
// Insert. Descend choosing the last entry whose key is <= the new key (the
// first entry when the key is smaller than all), adding 1 to each entry
// passed; insert into the leaf. A page that overflows (more entries than its
// capacity, or compressed entries over 4083 bytes) splits: a new page takes the
// last floor(n/2) entries and is linked after it; a split root gets a new type
// 0 root with two entries, any other split adds an entry to the parent, which
// may split in turn.
//
// Delete. Descend the same way to the key, subtract 1 along the path, remove
// it. A compressed leaf is dealt with only when it became empty (unlinked and
// freed, its parent entry removed). Any other page underflows below
// floor(capacity/2) entries: it is merged into its partner (the previous page,
// or the next one when it is its parent's first entry) when both fit in one
// page, otherwise the two share their entries so that the partner keeps
// ceil(total/2). An empty root leaf is freed (root 0); a type 0 root left with
// one entry is replaced by its child.
//
// Example (the backup catalog, L = 509, 7 entries per page): the first key
// makes a type 3 page; the eighth splits it into two type 2 pages of 4 and 4
// under a new type 0 root whose entries count 4 and 4.
//
// Positions are 1-based ordinals in key order; counting by key descends from
// the root summing the counts of internal entries, without visiting leaves.
//
// Invariants after every operation: keys strictly ascending under the layout's
// order across each level; every internal count equals the leaf entries below;
// level links consistent; uncompressed non-root pages at least half full; the
// header root names a page of type 0 or 3 (or is 0 for an empty tree).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/storage/index_file.h"
#include "engine/storage/index_keys.h"

namespace engine {

// A place in a tree: a leaf page and an entry in it (1-based).
struct TIndexPosition {
  std::int32_t page = 0;
  int entry = 0;
  bool Valid() const { return page != 0 && entry > 0; }
};

class TIndexTree {
 public:
  // `cursor` is the cursor on whose behalf cache misses take the read lock.
  // The tree refers to `layout`, which must outlive it (a cursor builds one
  // tree per index operation, so copying the layout would cost every insert).
  TIndexTree(TIndexFile& file, int slot, const TKeyLayout& layout, TDataCursor* cursor = nullptr);

  int Slot() const { return FSlot; }
  const TKeyLayout& Layout() const { return FLayout; }
  bool Empty() const { return FFile.Root(FSlot) == 0; }

  // ---- Changes ---------------------------------------------------------------
  // Inserts a key (KeyLength() bytes) with its record number. Duplicates are
  // the caller's to refuse (Find first).
  void Insert(const std::uint8_t* key, std::int32_t recordNumber);
  // Removes the entry with this key; when `recordNumber` is not 0 it must
  // belong to that record. False (nothing changed) when there is none.
  bool Delete(const std::uint8_t* key, std::int32_t recordNumber = 0);

  // The duplicate check before a key goes into a unique index: whether the
  // tree holds a key equal to the whole `key` (KeyLength() bytes), and its
  // record number. It descends as Insert does, choosing the last entry whose
  // key is <= the key, so an equal key can only be in the leaf it reaches.
  // When the key is absent the descent is kept, its pages pinned, and the
  // next Insert of the same key bytes on this tree object starts from it
  // instead of descending again (checked still to be the current path).
  bool FindForInsert(const std::uint8_t* key, std::int32_t* recordNumber = nullptr);

  // The duplicate check made before a record's key goes into a unique index:
  // an equal key that belongs to another record raises 9729 naming the index
  // (its name, or "Primary" for slot 0). Nothing for a non-unique index.
  void CheckUnique(const std::uint8_t* key, std::int32_t recordNumber);

  // ---- Lookups ---------------------------------------------------------------
  // The first entry whose first `length` key bytes equal the key's.
  bool Find(const std::uint8_t* key, int length, std::int32_t* recordNumber = nullptr,
            TIndexPosition* at = nullptr);
  // Number of keys in the tree (from the root's counts).
  std::int64_t Count();
  // Number of keys ordered before the key (over `length` bytes), and up to it.
  std::int64_t KeysBefore(const std::uint8_t* key, int length);
  std::int64_t KeysUpTo(const std::uint8_t* key, int length);
  // Number of keys between two keys, both ends included.
  std::int64_t KeysBetween(const std::uint8_t* low, const std::uint8_t* high, int length);

  // ---- Walking ---------------------------------------------------------------
  bool First(TIndexPosition& at);
  bool Last(TIndexPosition& at);
  bool Next(TIndexPosition& at);
  bool Prior(TIndexPosition& at);
  // The first key >= key, and the last key <= key (over `length` bytes).
  bool SeekAtLeast(const std::uint8_t* key, int length, TIndexPosition& at);
  bool SeekAtMost(const std::uint8_t* key, int length, TIndexPosition& at);
  // The entry at a 1-based ordinal, found through the internal counts.
  bool SeekOrdinal(std::int64_t ordinal, TIndexPosition& at);
  // The ordinal of the entry at a position (keys before it + 1).
  std::int64_t OrdinalOf(const TIndexPosition& at);
  // Key and record number at a position.
  void ReadEntry(const TIndexPosition& at, std::uint8_t* key, std::int32_t* recordNumber);
  std::int32_t RecordAt(const TIndexPosition& at);
  // Calls `each` with the record number of every key in [low, high] (over
  // `length` bytes), in key order.
  void ScanRange(const std::uint8_t* low, const std::uint8_t* high, int length,
                 const std::function<void(std::int32_t)>& each);
  // Calls `each` with the record numbers of up to `count` entries in key
  // order, starting at the 1-based ordinal `from`.
  void ScanOrdinals(std::int64_t from, std::int64_t count,
                    const std::function<void(std::int32_t)>& each);
  // Read-ahead: how many records with consecutive numbers start at the entry,
  // going forward (direction > 0: n, n+1, ...) or backward (n, n-1, ...) in
  // the same leaf, the entry itself included.
  int ConsecutiveRecords(const TIndexPosition& at, int direction);

 private:
  struct TStep {
    TPageRef page;
    int entry = 0;  // the entry of `page` whose child is the next step
  };
  using TPath = std::vector<TStep>;

  // Repeats an operation whose page reads found changes by other users.
  template <typename F>
  auto Restartable(F&& operation) -> decltype(operation());
  // Visits leaf entries in key order, from the entry `seek` finds, while
  // `visit(key, recordNumber)` answers true; leaves are walked holding each
  // page once. When another writer drops the caches the walk resumes after
  // the last key visited.
  template <typename Seek, typename Visit>
  void WalkLeaves(Seek&& seek, Visit&& visit);

  static bool Reaches(const TPath& path, std::int32_t position);
  TPageRef Page(std::int32_t position);
  TPageRef Root();
  void CheckChild(const TPage& parent, const TPage& child) const;
  void InsertOnce(const std::uint8_t* key, std::int32_t recordNumber);
  // From `page` (the root) down to the leaf where the key goes, choosing the
  // last entry whose key is <= the key; the pages passed are added to `path`.
  void DescendForInsert(const std::uint8_t* key, TPath& path, TPageRef& page);
  // Hands over the descent kept by FindForInsert for this key when its pages
  // are still the tree's current path to the leaf; drops it in any case.
  bool TakeKeptDescent(const std::uint8_t* key, TPath& path, TPageRef& leaf);
  bool DeleteOnce(const std::uint8_t* key, std::int32_t recordNumber);
  void SplitUpward(TPath& path, TPageRef page);
  void Rebalance(TPath& path, TPageRef page);
  // Writes `page`'s first key into its parent entry at path[depth], and further
  // up while that entry is its page's first.
  void PropagateFirstKey(TPath& path, std::size_t depth, const TPage& page);
  void MarkChanged(TPage& page) {
    page.Changed = true;
    FFile.CountTreeChange(FSlot);
  }
  // Descends for counting: `strict` counts keys < key, otherwise keys <= key.
  std::int64_t CountTo(const std::uint8_t* key, int length, bool strict);

  TIndexFile& FFile;
  int FSlot;
  const TKeyLayout& FLayout;
  TDataCursor* FCursor;
  int FKeyLength;
  // The descent kept by FindForInsert: its path, leaf and key.
  TPath FKeptPath;
  TPageRef FKeptLeaf;
  std::array<std::uint8_t, kMaxKeyLength> FKeptKey{};  // its first FKeyLength bytes
  std::uint64_t FKeptChanges = 0;                      // the slot's change count when it was kept
};

}  // namespace engine
