// TPage: one index page in memory, with its entries expanded to fixed slots,
// and the conversion between that form and the stored 4096-byte page.
//
// Stored entry formats (L = key length; integers little-endian):
//   page                 mode            entry
//   internal (types 0,1) any             key (L) + int32 child position +
//                                        int32 leaf entries below the child
//   leaf (types 2,3)     0 none          key (L) + int32 record number
//   leaf                 1 duplicate     uint16 d + key[d..L-1] + int32 record
//   leaf                 2 trailing      uint16 t + key[0..L-t-1] + int32 record
//   leaf                 3 full          uint8 d + uint8 t + key[d..L-t-1] + int32
// d = leading bytes equal to the previous entry's key (0 in the first entry;
// at most 255 in mode 3). t = trailing zero bytes of the key (in mode 3 counted
// over the bytes after the first d, at most 255). In a non-unique index the last
// 4 key bytes are the auto-increment suffix, which is never dropped: t counts
// the zeros before it and the 4 suffix bytes follow the stored middle bytes
// (in mode 3 only when L - d >= 5; otherwise t is counted over the whole rest).
// Decompression restores the first d bytes from the previous key, zero-fills
// the t trailing bytes and puts the suffix back.
//
// Example (mode 3, unique, L = 8): after key 41 42 43 00 00 00 00 00, the key
// 41 42 44 45 00 00 00 00 is stored as 02 04 44 45 + record number: two bytes
// shared, four zero bytes dropped, 8 bytes instead of 12.
//
// A compressed leaf's page header records the bytes its entries use (offset
// 11); it may hold as many entries as fit in the 4083-byte entry area. Pages of
// other kinds hold at most LeafCapacity(L) or InternalCapacity(L) entries.
//
// In memory each entry is a fixed slot: key (L), int32 value (record number or
// child position), int32 count (internal pages). Entry numbers are 1-based.
//
// Invariants: Expand accepts only a page whose every length and offset lies
// inside the entry area and whose entry count fits its kind (else 8965);
// Serialize of an expanded page gives back the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/storage/index_format.h"

namespace engine {

class TKeyLayout;
class TPageUndo;

// The settings of the index a page belongs to.
struct TPageFormat {
  int keyLength = 0;
  bool unique = true;
  std::uint8_t compression = kCompressNone;
};

// The processor's cache line.
inline constexpr std::size_t kCacheLineBytes = 64;

// Aligned to a cache line: a descent through a large tree meets most pages
// cold, and the fields it reads first (position, pin count, type, entries)
// then come in with one or two adjacent lines.
class alignas(kCacheLineBytes) TPage {
 public:
  // ---- Identity and state (managed by TIndexFile) --------------------------
  std::int32_t Position = 0;  // byte offset in the file
  int Slot = 0;               // descriptor slot of its index
  bool Changed = false;
  int PinCount = 0;
  bool Detached = false;      // dropped from the cache while pinned
  std::uint64_t LastUse = 0;  // recency stamp
  std::int32_t Parent = 0;    // parent position recorded during a descent
  int Current = 0;            // entry cursors (1-based), used by searches
  int Current2 = 0;
  // The undo log of the running change when it logs this page's entries
  // (index_page_undo.h): set for a page that held changes when the change
  // first pinned it, with the change's mark.
  TPageUndo* Undo = nullptr;
  std::uint64_t UndoMark = 0;

  // ---- Stored header fields ---------------------------------------------------
  std::uint8_t Type = kPageRootLeaf;
  std::int32_t Prev = 0;
  std::int32_t Next = 0;
  bool Free = false;

  // Empties the page and sets its index settings.
  void Reset(std::int32_t position, int slot, const TPageFormat& format);
  const TPageFormat& Format() const { return FFormat; }
  int KeyLength() const { return FFormat.keyLength; }

  // Reads a stored page (already deciphered). Raises 8965 naming `tableName`
  // when any stored length or count is impossible.
  void Expand(const std::uint8_t* stored, std::string_view tableName);
  // Writes the stored form (4096 bytes).
  void Serialize(std::uint8_t* out) const;

  bool IsLeaf() const { return Type == kPageLeaf || Type == kPageRootLeaf; }
  bool IsRoot() const { return Type == kPageRoot || Type == kPageRootLeaf; }
  bool IsCompressedLeaf() const { return IsLeaf() && FFormat.compression != kCompressNone; }
  int Count() const { return FCount; }
  // Entry capacity of an uncompressed page of this kind.
  int Capacity() const;
  // Bytes the entries take in their stored form.
  int StoredBytes() const;
  // Whether the entries no longer fit the page.
  bool Overflows() const;

  const std::uint8_t* Key(int i) const { return Slot_(i); }
  std::uint8_t* MutableKey(int i) {
    DropSummary();
    return SlotForChange(i);
  }
  std::int32_t Value(int i) const {
    if (FSummaryValid) {
      CheckEntry(i);
      return FSummaryValues[static_cast<std::size_t>(i - 1)];
    }
    return StoredValue(i);
  }
  std::int32_t EntryCount(int i) const {
    if (FSummaryValid) {
      CheckEntry(i);
      return FSummaryCounts[static_cast<std::size_t>(i - 1)];
    }
    return StoredEntryCount(i);
  }
  void SetKey(int i, const std::uint8_t* key);
  void SetValue(int i, std::int32_t value);
  void SetEntryCount(int i, std::int32_t count);

  // Inserts an entry after entry `after` (0 = at the front).
  void InsertEntry(int after, const std::uint8_t* key, std::int32_t value, std::int32_t count);
  void RemoveEntry(int i);
  // Removes entries first..Count() and appends them to `out` in order.
  void TakeTail(int first, TPage& out);
  // Moves all of `from`'s entries to this page's front (prepend) or back.
  void Prepend(TPage& from);
  void Append(TPage& from);
  void ClearEntries();

  // Leaf entries below this page: its count (leaf) or the sum of its entry counts.
  std::int64_t LeafEntries() const;

  // Binary search under `layout`, over `length` key bytes: the last entry whose
  // key is <= key (0 when every key is larger), kept in Current. When `equal`
  // is given it tells whether that entry's key equals the search key.
  int SearchForInsert(const TKeyLayout& layout, const std::uint8_t* key, int length,
                      bool* equal = nullptr);
  // The same, but at least 1 when the page has entries; `found` tells whether
  // that entry's key equals the search key.
  int Search(const TKeyLayout& layout, const std::uint8_t* key, int length, bool& found);
  // The last entry whose key is < key (0 when none).
  int SearchBefore(const TKeyLayout& layout, const std::uint8_t* key, int length);

  // Asks for every cache line of this object at once, before a search reads
  // it (a descent meets most pages cold).
  void PrefetchObject() const {
    const auto* at = reinterpret_cast<const char*>(this);
    for (std::size_t line = 0; line < sizeof(TPage); line += kCacheLineBytes) {
      __builtin_prefetch(at + line);
    }
  }

  // Asks for the line of entry i's count (1..Count()), to be written soon.
  void PrefetchEntryCount(int i) const {
    if (i >= 1 && i <= FCount) {
      __builtin_prefetch(FEntries.data() + static_cast<std::size_t>(i - 1) * Stride() +
                             static_cast<std::size_t>(FFormat.keyLength) + 4,
                         1);
    }
  }

  // ---- Search summary (index_page_search.cpp) ----------------------------------
  // A page of at most kSummaryEntries entries keeps, beside its header, the
  // length P of the prefix all its keys share, the first bytes of that prefix,
  // each key's 8 bytes after it (big-endian, so that they order as the bytes)
  // and each entry's value and count. A full-key search under a byte order then reads
  // these few adjacent lines instead of several whole keys, and reads a key
  // only where two of those 8-byte slices tie. The summary is kept through
  // single inserts and removals and rebuilt at the next search after any
  // other change.
  static constexpr int kSummaryEntries = 16;
  static constexpr int kSummaryPrefixBytes = 64;
  static constexpr int kSliceBytes = 8;
  bool HasSummary() const { return FSummaryValid; }
  int SummaryPrefixLength() const { return FSummaryPrefix; }
  // Rebuilds the summary when it is missing and the page has 1..16 entries.
  void EnsureSummary();
  // Compares the summary with the entries (tests and checks): false when any
  // part of a valid summary disagrees with them.
  bool SummaryMatchesEntries() const;

 private:
  friend class TPageUndo;
  std::size_t Stride() const { return static_cast<std::size_t>(FFormat.keyLength) + 8; }
  // Pages of wide keys hold few entries, and only those are prefetched whole:
  // in a page of many narrow keys a search touches a small part of them.
  static constexpr int kPrefetchedKeys = 16;
  void PrefetchKeys() const;
  // Tell the undo log (when there is one) what is about to change.
  void BeforeEntryChange(int i) {
    if (Undo != nullptr) LogEntryChange(i);
  }
  void BeforeWholeChange() {
    if (Undo != nullptr) LogWholeChange();
  }
  void LogEntryChange(int i);
  void LogWholeChange();
  std::uint8_t* SlotForChange(int i) {
    BeforeEntryChange(i);
    return Slot_(i);
  }
  // Entry i's slot; an entry number outside 1..Count() (a corrupt link or
  // count) raises 8965 instead of touching memory outside the page.
  std::uint8_t* Slot_(int i) {
    CheckEntry(i);
    return FEntries.data() + static_cast<std::size_t>(i - 1) * Stride();
  }
  const std::uint8_t* Slot_(int i) const {
    CheckEntry(i);
    return FEntries.data() + static_cast<std::size_t>(i - 1) * Stride();
  }
  void CheckEntry(int i) const;
  std::int32_t StoredValue(int i) const;
  std::int32_t StoredEntryCount(int i) const;
  void DropSummary() { FSummaryValid = false; }
  // A key's bytes P..P+7 under the current summary prefix.
  std::uint64_t SliceOf(const std::uint8_t* key) const;
  // The summary after entry `i` (1-based) was inserted, changed or removed.
  void SummaryInserted(int i);
  void SummaryKeyChanged(int i);
  void SummaryRemoved(int i);
  // Whether `key` begins with the summary's prefix (read from the summary,
  // and past its copied bytes from entry `other`).
  int ComparePrefix(const std::uint8_t* key, int other) const;
  // The full-key search under a byte order (descending when `reversed`):
  // the last entry whose key is <= key (strict: < key), and whether it is
  // equal. Needs a valid summary.
  int SummarySearch(const std::uint8_t* key, bool reversed, bool strict, bool* equal) const;
  // The generic search over the keys themselves.
  int KeySearch(const TKeyLayout& layout, const std::uint8_t* key, int length, bool strict,
                bool* equal) const;
  bool UsesSummary(const TKeyLayout& layout, int length);
  // Stored size of entry i given its predecessor's key (nullptr for the first).
  int EntryStoredSize(const std::uint8_t* prev, const std::uint8_t* key) const;

  TPageFormat FFormat;
  int FCount = 0;
  std::vector<std::uint8_t> FEntries;  // FCount slots of Stride() bytes
  // Sum of the compressed entry sizes (compressed indexes), kept up to date by
  // single inserts and removals; -1 when it must be recomputed.
  mutable int FPacked = -1;
  int PackedBytes() const;
  // Change of the packed sum when `key` goes between `prev` and `next` (either
  // may be nullptr).
  int PackedDelta(const std::uint8_t* prev, const std::uint8_t* key,
                  const std::uint8_t* next) const;

  bool FSummaryValid = false;
  int FSummaryPrefix = 0;  // P: bytes every key of the page shares
  std::uint64_t FSummarySlices[kSummaryEntries] = {};
  std::int32_t FSummaryValues[kSummaryEntries] = {};
  std::int32_t FSummaryCounts[kSummaryEntries] = {};
  std::uint8_t FSummaryPrefixBytes[kSummaryPrefixBytes] = {};
};

}  // namespace engine
