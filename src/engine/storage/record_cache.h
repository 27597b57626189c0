// The caches of records (data file) and blocks (BLOB file): a list sorted by
// record number or block position, a recency chain, and a pool of idle
// entries.
//
// Both files cache the same way, so one template serves both:
//  * lookup tries the four most recently used entries first, then a search
//    of the sorted list; a hit moves the entry to the front of the recency
//    chain;
//  * a pinned entry (pin count > 0) is in use by a cursor: it is never reused
//    for another key, refreshed from disk or returned to the pool by trimming;
//  * a changed entry holds data not yet written to the file: it is never
//    reused for another key or refreshed (dropping the cache discards it,
//    which is how a rollback forgets changes).
// The sorted list is an ordered map from key to entry, so that caching and
// evicting an entry costs O(log n) wherever its key lies (random lookups evict
// and insert in the middle); keys beyond the last one are appended with a hint
// in O(1) (appended records and blocks, ascending read-ahead).
// Invariants: every cached entry is in the sorted list exactly once and in the
// recency chain exactly once; keys in the sorted list are strictly ascending;
// Count() may exceed Capacity() only while the owner lets the cache grow;
// every entry from the oldest up to `busyNewest_` (the *busy prefix* of the
// recency chain) is changed or pinned, so the search for a reusable entry
// starts just after it.
//
// Owners change `changed` and `pins` directly; whenever an entry may have
// become reusable (changed flag cleared, pin count lowered) they call
// NoteMaybeReusable, which forgets the busy prefix. Making an entry changed or
// pinned needs no call.
//
// Entry requirements: a member `std::int32_t key`, `bool changed`,
// `std::uint16_t pins`, `Entry* newer`, `Entry* older`, `std::uint64_t
// undoMark` (change_undo.h), and `void Clear()` which resets changed flag,
// pin count and undo mark and leaves no content defined (records are zeroed;
// a block only forgets its used bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace engine {

template <class Entry>
class TEntryCache {
 public:
  static constexpr std::size_t kRecentProbes = 4;  // MRU entries tried before the search

  explicit TEntryCache(std::size_t poolCapacity) : poolCapacity_(poolCapacity) {}
  TEntryCache(const TEntryCache&) = delete;
  TEntryCache& operator=(const TEntryCache&) = delete;

  std::size_t Count() const { return sorted_.size(); }
  std::size_t Capacity() const { return capacity_; }
  void SetCapacity(std::size_t capacity) { capacity_ = capacity; }
  std::size_t PoolCount() const { return pool_.size(); }

  // The cached entry with `key`, moved to the front of the recency chain; null
  // when not cached.
  Entry* Find(std::int32_t key) {
    Entry* e = newest_;
    for (std::size_t i = 0; i < kRecentProbes && e != nullptr; ++i, e = e->older) {
      if (e->key == key) {
        Touch(e);
        return e;
      }
    }
    auto it = sorted_.find(key);
    if (it == sorted_.end()) return nullptr;
    Touch(it->second.get());
    return it->second.get();
  }

  bool Contains(std::int32_t key) const { return sorted_.count(key) != 0; }

  // The cached entry with `key` without touching the recency chain; null
  // when not cached.
  Entry* Lookup(std::int32_t key) const {
    auto it = sorted_.find(key);
    return it == sorted_.end() ? nullptr : it->second.get();
  }

  // A cleared entry from the pool, or a new one. Not yet cached.
  std::unique_ptr<Entry> Take() {
    std::unique_ptr<Entry> e;
    if (!pool_.empty()) {
      e = std::move(pool_.back());
      pool_.pop_back();
    } else {
      e = std::make_unique<Entry>();
    }
    e->Clear();
    return e;
  }

  // A cleared entry for a new key, not yet cached: below capacity a pooled or
  // new entry; at capacity the least recently used reusable entry, taken out
  // of the cache. When every entry is changed or pinned: with `mayGrow` (a
  // transaction keeps its changes in memory until commit) the capacity grows
  // by `growth`; otherwise `writeBack` runs once and the search repeats, and
  // `fail`, which must throw, is called when that freed nothing either.
  template <class WriteBack, class Fail>
  std::unique_ptr<Entry> TakeSlot(bool mayGrow, std::size_t growth, WriteBack writeBack,
                                  Fail fail) {
    for (bool wroteBack = false;;) {
      if (Count() < capacity_) return Take();
      if (Entry* victim = Reusable()) {
        std::unique_ptr<Entry> e = Remove(victim);
        e->Clear();
        return e;
      }
      if (mayGrow) {
        capacity_ += growth;
        continue;
      }
      if (wroteBack) fail();
      writeBack();
      wroteBack = true;
    }
  }

  // Returns an uncached entry to the pool (freed when the pool is full).
  void Give(std::unique_ptr<Entry> e) {
    if (pool_.size() < poolCapacity_) pool_.push_back(std::move(e));
  }

  // Caches `e` (its key must not be cached yet) at the front of the chain.
  Entry* Insert(std::unique_ptr<Entry> e) {
    Entry* raw = e.get();
    const std::int32_t key = raw->key;
    // The hint makes appending after the last key O(1).
    const auto hint = sorted_.empty() || std::prev(sorted_.end())->first < key
                          ? sorted_.end()
                          : sorted_.lower_bound(key);
    sorted_.emplace_hint(hint, key, std::move(e));
    LinkFront(raw);
    return raw;
  }

  // Removes `e` from the cache and hands it back to the caller.
  std::unique_ptr<Entry> Remove(Entry* e) {
    auto it = sorted_.find(e->key);
    std::unique_ptr<Entry> owned = std::move(it->second);
    sorted_.erase(it);
    Unlink(e);
    return owned;
  }

  // The least recently used entry that is neither changed nor pinned; null
  // when every entry is changed or pinned. The walk skips the busy prefix and
  // extends it past every busy entry it meets, so a cache full of changed
  // entries (a long transaction) costs only the entries added since the last
  // search.
  Entry* Reusable() {
    for (Entry* e = busyNewest_ != nullptr ? busyNewest_->newer : oldest_; e != nullptr;
         e = e->newer) {
      if (!e->changed && e->pins == 0) return e;
      busyNewest_ = e;
    }
    return nullptr;
  }

  // Called after `e`'s changed flag was cleared or its pin count lowered.
  void NoteMaybeReusable(const Entry* e) {
    if (!e->changed && e->pins == 0) busyNewest_ = nullptr;
  }

  // Re-keys a cached entry (removed and inserted again in order).
  void Rekey(Entry* e, std::int32_t key) {
    std::unique_ptr<Entry> owned = Remove(e);
    owned->key = key;
    Insert(std::move(owned));
  }

  using TSortedList = std::map<std::int32_t, std::unique_ptr<Entry>>;

  // The cached entries in key order, for range-for: each element is a
  // const std::unique_ptr<Entry>&. (A plain iterator over the map's values;
  // the standard library's views do not build with every compiler we use.)
  class TSortedView {
   public:
    class iterator {
     public:
      explicit iterator(typename TSortedList::const_iterator at) : at_(at) {}
      const std::unique_ptr<Entry>& operator*() const { return at_->second; }
      iterator& operator++() {
        ++at_;
        return *this;
      }
      bool operator!=(const iterator& other) const { return at_ != other.at_; }

     private:
      typename TSortedList::const_iterator at_;
    };
    explicit TSortedView(const TSortedList& list) : list_(list) {}
    iterator begin() const { return iterator(list_.begin()); }
    iterator end() const { return iterator(list_.end()); }

   private:
    const TSortedList& list_;
  };
  TSortedView Sorted() const { return TSortedView(sorted_); }

  // Calls visit(const Entry&) for each cached entry whose key lies in
  // [low, high], in key order, leaving the recency chain alone. `visit` must
  // not change the cache.
  template <class Visit>
  void ForEachInRange(std::int32_t low, std::int32_t high, Visit visit) const {
    for (auto it = sorted_.lower_bound(low); it != sorted_.end() && it->first <= high; ++it)
      visit(static_cast<const Entry&>(*it->second));
  }

  // Returns every cached entry to the pool.
  void DropAll() {
    while (!sorted_.empty()) {
      auto last = std::prev(sorted_.end());
      std::unique_ptr<Entry> e = std::move(last->second);
      sorted_.erase(last);
      Unlink(e.get());
      Give(std::move(e));
    }
    busyNewest_ = nullptr;
  }

  // Returns unchanged, unpinned entries from the high end of the key order
  // until at most `limit` remain (or none that may go is left).
  void TrimTo(std::size_t limit) {
    auto it = sorted_.end();
    while (it != sorted_.begin() && sorted_.size() > limit) {
      --it;
      Entry* e = it->second.get();
      if (e->changed || e->pins != 0) continue;
      std::unique_ptr<Entry> owned = std::move(it->second);
      it = sorted_.erase(it);  // the next higher key: --it above steps past it
      Unlink(e);
      Give(std::move(owned));
    }
  }

  void Touch(Entry* e) {
    if (newest_ == e) return;
    Unlink(e);
    LinkFront(e);
  }

 private:
  void LinkFront(Entry* e) {
    e->older = newest_;
    e->newer = nullptr;
    if (newest_ != nullptr) newest_->newer = e;
    newest_ = e;
    if (oldest_ == nullptr) oldest_ = e;
  }
  void Unlink(Entry* e) {
    if (e == busyNewest_) busyNewest_ = e->older;  // the prefix stays contiguous
    if (e->newer != nullptr)
      e->newer->older = e->older;
    else
      newest_ = e->older;
    if (e->older != nullptr)
      e->older->newer = e->newer;
    else
      oldest_ = e->newer;
    e->newer = e->older = nullptr;
  }

  TSortedList sorted_;
  std::vector<std::unique_ptr<Entry>> pool_;
  std::size_t poolCapacity_;
  std::size_t capacity_ = 0;
  Entry* newest_ = nullptr;
  Entry* oldest_ = nullptr;
  Entry* busyNewest_ = nullptr;  // newest entry of the busy prefix; null: empty prefix
};

// One cached record of a data file.
struct TRecord {
  std::int32_t key = 0;  // the record number
  bool changed = false;
  std::uint16_t pins = 0;
  TRecord* newer = nullptr;
  TRecord* older = nullptr;
  std::uint64_t undoMark = 0;        // the change that noted it last (change_undo.h)
  std::vector<std::uint8_t> buffer;  // R bytes

  std::int32_t Number() const { return key; }
  std::uint8_t* Data() { return buffer.data(); }
  const std::uint8_t* Data() const { return buffer.data(); }
  void Clear() {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    changed = false;
    pins = 0;
    undoMark = 0;
  }
  // Takes `other`'s content (what a change may alter), not its identity.
  void CopyContentFrom(const TRecord& other) { buffer = other.buffer; }
};

inline constexpr std::size_t kRecordPoolCapacity = 16383;  // idle TRecord objects kept

}  // namespace engine
