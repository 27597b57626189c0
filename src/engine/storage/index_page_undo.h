// TPageUndo: what one change did to the cached pages of an index file, so
// that a change that fails halfway can be taken back in memory (the same
// rules as for records and blocks, change_undo.h).
//
// Every page a change pins is noted the first time:
//   clean before (or appended)  its slot and position only: on failure the
//                               page is dropped, the file holds its content;
//   changed before              its header fields (type, neighbours, free
//                               flag), and from then on every change of its
//                               entries is logged before it is made.
// Copying every changed page at its first pin would cost more than the
// change itself: the root and the leaf an insert goes through are nearly
// always pages changed by earlier operations. So a page changed before is
// logged by entry instead (the page itself calls the log from its mutators):
//   kEntry     the bytes of one entry before SetKey, SetValue, SetEntryCount
//              or MutableKey change it;
//   kInserted  where InsertEntry put an entry (undone by removing it);
//   kRemoved   the bytes of an entry RemoveEntry takes out (put back);
//   kWhole     the page's entries and header fields, before a change of many
//              entries at once (a split, a merge, clearing, resetting); the
//              page is not logged further in this change, since restoring
//              the copy undoes all that follows.
// RollBack replays the log backwards, then puts back each changed page's
// header fields and drops the clean pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/index_page.h"

namespace engine {

class TPageUndo {
 public:
  bool Active() const { return active_; }
  bool Broken() const { return broken_; }

  void Begin();
  void End();
  void MarkBroken() {
    if (active_) broken_ = true;
  }
  // Called before a page is looked up for a pin (change_undo.h, ChangeFaultAt).
  void Request(const std::string& fileName) const;

  // Called with every page pinned; `wasChanged` is whether the page held
  // changes before this change touched it (false for an appended one).
  void Note(TPage& page, bool wasChanged);

  // Whether `page`'s changes are logged (it was changed before this change).
  bool Logs(const TPage& page) const {
    return active_ && page.Undo == this && page.UndoMark == mark_;
  }
  // The log entries the page's mutators write (only when Logs(page)).
  void EntryWillChange(const TPage& page, int i);
  void EntryInserted(const TPage& page, int i);
  void EntryWillGo(const TPage& page, int i);
  void PageWillChange(TPage& page);

  // Puts every noted page back as it was at Begin (`drop(slot, position)`
  // removes a clean page from the cache and answers false when it cannot),
  // then ends. False when that could not be done whole.
  template <class Drop>
  bool RollBack(Drop drop) {
    bool whole = !broken_ && Replay();
    for (const TNote& note : notes_) {
      if (!whole) break;
      if (note.wasChanged) {
        RestoreHeaderFields(note);
      } else {
        whole = drop(note.slot, note.position);
      }
    }
    End();
    return whole;
  }

 private:
  enum class TOpKind : std::uint8_t { kEntry, kInserted, kRemoved, kWhole };
  struct TOp {
    TPage* page;
    TOpKind kind;
    int index;           // entry number (kEntry, kInserted, kRemoved)
    std::size_t at;      // bytes in FBytes (kEntry, kRemoved, kWhole)
    std::size_t length;  // bytes
    TPageFormat format;  // kWhole
    int count;           // kWhole: entries
    std::uint8_t type;   // kWhole: header fields
    std::int32_t prev, next, position;
    int slot;
    bool free;
  };
  struct TNote {
    TPage* page;
    int slot;
    std::int32_t position;
    bool wasChanged;
    std::uint8_t type;
    std::int32_t prev, next;
    bool free;
  };

  std::size_t Keep(const std::uint8_t* bytes, std::size_t length);
  // Undoes the log backwards; false when an entry it names is not there.
  bool Replay();
  void RestoreHeaderFields(const TNote& note);

  bool active_ = false;
  bool broken_ = false;
  std::uint64_t mark_ = 0;
  std::vector<TNote> notes_;
  std::vector<TOp> ops_;
  std::vector<std::uint8_t> bytes_;  // entry bytes and page copies of ops_
};

}  // namespace engine
