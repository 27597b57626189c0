// The archive directory as a sorted list of entries.
//
// TSortedZip keeps TZipHeaderInfo objects in the order of its sort mode and
// finds an entry by binary search. The list that holds an archive's
// directory owns its entries and sorts them by physical position (`ByNone`:
// disk, then local header offset), with the error policy so that two
// entries claiming one local header are detected. Views in other orders are
// second, non-owning lists over the same objects, with the accept policy.
//
// Duplicates policy on an equal key: kIgnore does not add the item (the caller
// keeps it), kAccept inserts it before the first equal item, kError raises
// EListError "Duplicate Object index".
//
// Invariant: the items are in non-decreasing order under Compare.
#pragma once

#include <cstdint>
#include <vector>

#include "zip/zip_records.h"

namespace zip {

enum class TZipSortMode {
  ByName = 0,
  ByFileName = 1,
  ByDirectoryName = 2,
  ByDate = 3,
  ByCompressedSize = 4,
  ByUnCompressedSize = 5,
  ByRate = 6,
  ByNone = 7,
};

enum class TDupPolicy { kIgnore = 0, kAccept = 1, kError = 2 };

class TSortedZip {
 public:
  explicit TSortedZip(TDupPolicy policy, bool ownsObjects = true,
                      TZipSortMode mode = TZipSortMode::ByNone);
  ~TSortedZip();
  TSortedZip(const TSortedZip&) = delete;
  TSortedZip& operator=(const TSortedZip&) = delete;

  // Re-sorts the items in the new mode.
  void SetSortMode(TZipSortMode mode);
  TZipSortMode SortMode() const { return mode_; }

  // Sorted insert; returns the position, or -1 when the ignore policy refused
  // the item (the caller keeps it). With an owning list the list takes the item
  // except when -1 is returned or EListError is raised.
  int Add(TZipHeaderInfo* item);
  // Binary search for `key`; `index` is where it is or would be inserted.
  bool Find(const TZipHeaderInfo& key, int& index) const;
  int IndexOf(const TZipHeaderInfo* item) const;

  int Count() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" outside 0..Count()-1.
  TZipHeaderInfo* Item(int index) const;
  TZipHeaderInfo* First() const { return Item(0); }
  TZipHeaderInfo* Last() const { return Item(Count() - 1); }
  // The item before (previous) or after an item; nullptr at either end.
  // EListError "tObject TZipHeaderInfo not in item list" for a stranger.
  TZipHeaderInfo* Neighbour(const TZipHeaderInfo* item, bool next) const;
  // Always raises EListError "Cannot <Put> an Object in a sorted list!".
  void Put(int index, TZipHeaderInfo* item);
  // Removes an item (freeing it when owned).
  void Delete(int index);
  // Removes an item and hands it to the caller.
  TZipHeaderInfo* Extract(int index);
  void Clear();
  bool OwnsObjects() const { return owns_; }
  void SetOwnsObjects(bool owns) { owns_ = owns; }
  TDupPolicy Policy() const { return policy_; }

  // < 0 when x sorts before y in this list's mode.
  int Compare(const TZipHeaderInfo& x, const TZipHeaderInfo& y) const;

 private:
  void CheckIndex(int index) const;

  std::vector<TZipHeaderInfo*> items_;
  TDupPolicy policy_;
  bool owns_;
  TZipSortMode mode_;
};

}  // namespace zip
