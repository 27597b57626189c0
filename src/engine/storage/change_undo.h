// TEntryUndo: what one change did to a cache of records or blocks, so that a
// change that fails halfway can be taken back in memory.
//
// An exclusive table keeps the changes of many operations in its caches and
// writes them back together later. When one operation raises halfway (a
// damaged chain met, a full table, a failed read, no memory), the caches hold
// the earlier operations' changes, never written, together with part of the
// failed one: dropping the caches would lose the earlier ones, keeping them
// would write half an operation with the next write-back. So while an
// operation runs, each cache notes every entry the first time the operation
// pins it (an entry is changed only while pinned, so this covers all the
// operation changed):
//   changed before  a copy of its content, put back on failure (the entry
//                   stays changed: it still holds earlier unwritten changes);
//   clean before    its key only: the file holds its content, so on failure
//                   the entry is dropped and read again when next needed;
//   appended        its key only, dropped like a clean one: the file header,
//                   copied whole by the owner at the start and put back on
//                   failure, no longer counts it.
// Each entry carries the mark of the operation that noted it last, so only
// its first pin in an operation is noted, and reading an entry costs one
// compare. The copies are kept in a pool reused by later operations, so an
// operation allocates nothing once the pool has grown to its needs.
//
// The undo is lost ("broken") when the cache is dropped while an operation
// runs (the owner then falls back to reading everything again from the
// files).
//
// Tests make an operation fail at any point through ChangeFaultAt: while an
// undo runs, every request for a record, page or block is counted, and the
// n-th raises 9217 as a failed read would, before the entry is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/record_cache.h"

namespace engine {

// Test hook: the `n`-th request for an entry made by this thread while an
// undo runs raises 9217 (0: never). Restarts the count.
void ChangeFaultAt(std::uint64_t n);
// Requests counted since the last ChangeFaultAt.
std::uint64_t ChangeFaultCount();
// Counts one request; raises when it is the chosen one.
void CountChangeRequest(const std::string& fileName);

template <class Entry>
class TEntryUndo {
 public:
  bool Active() const { return active_; }
  bool Broken() const { return broken_; }

  // Starts noting the entries of a new operation.
  void Begin() {
    notes_.clear();
    used_ = 0;
    ++mark_;
    active_ = true;
    broken_ = false;
  }
  // Forgets the notes: the operation is over.
  void End() {
    notes_.clear();
    used_ = 0;
    active_ = false;
    broken_ = false;
  }
  void MarkBroken() {
    if (active_) broken_ = true;
  }
  // Called before an entry is looked up for a pin (see ChangeFaultAt).
  void Request(const std::string& fileName) const {
    if (active_) CountChangeRequest(fileName);
  }

  // Called with every entry pinned; `wasChanged` is whether the entry held
  // changes before the operation touched it (false for an appended one).
  void Note(Entry* e, bool wasChanged) {
    if (!active_ || e->undoMark == mark_) return;
    e->undoMark = mark_;
    TNote note{e->key, wasChanged, 0};
    if (wasChanged) {
      if (used_ == saved_.size()) saved_.push_back(std::make_unique<Entry>());
      saved_[used_]->CopyContentFrom(*e);
      note.saved = used_++;
    }
    notes_.push_back(note);
  }

  // Puts `cache` back as it was at Begin, then ends. False when that could
  // not be done whole (the undo was broken, an entry that held changes is
  // gone, or an entry to drop is still pinned).
  bool RollBack(TEntryCache<Entry>& cache) {
    bool whole = !broken_;
    for (auto it = notes_.rbegin(); whole && it != notes_.rend(); ++it) {
      Entry* e = cache.Lookup(it->key);
      if (it->wasChanged) {
        if (e == nullptr) {
          whole = false;
          break;
        }
        e->CopyContentFrom(*saved_[it->saved]);
        e->changed = true;
      } else if (e != nullptr) {
        if (e->pins != 0) {
          whole = false;
          break;
        }
        cache.Give(cache.Remove(e));
      }
    }
    End();
    return whole;
  }

 private:
  struct TNote {
    std::int32_t key;
    bool wasChanged;
    std::size_t saved;  // index into saved_ when wasChanged
  };

  bool active_ = false;
  bool broken_ = false;
  std::uint64_t mark_ = 0;  // the running operation's mark; entries start at 0
  std::vector<TNote> notes_;
  std::vector<std::unique_ptr<Entry>> saved_;  // pool of copies, the first used_ in use
  std::size_t used_ = 0;
};

// The changed entries of a cache and its file's header, taken before a
// write-back: when the write-back fails and the files are rolled back, the
// entries are marked changed again and the header put back, so memory still
// holds every change and a later write-back writes them.
template <class Header>
struct TWriteBackMarks {
  Header header{};
  std::vector<std::int32_t> changed;  // keys of the changed entries
};

}  // namespace engine
