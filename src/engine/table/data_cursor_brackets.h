// The brackets a cursor puts around each operation (see data_cursor.h): a
// read bracket takes the read lock when the session asks for strict change
// detection and compares the change counters; a write bracket takes the write
// lock. Both re-find the cursor's position when the table changed, and undo
// their lock on every path.
#pragma once

#include <exception>

#include "engine/table/data_cursor.h"

namespace engine {

class TCursorRead {
 public:
  explicit TCursorRead(TDataCursor& cursor) : FCursor(cursor) {
    TDataTable& table = *cursor.FTable;
    bool changed = false;
    if (table.StrictChangeDetection()) {
      FLocked = table.ReadLock();
      changed = cursor.CountersChanged();
    } else if (!cursor.FOptions.exclusive && !cursor.FReadOnlyAttr) {
      changed = cursor.CountersChanged();
    }
    if (changed) cursor.Resync();
  }
  ~TCursorRead() {
    try {
      if (FLocked) FCursor.FTable->ReadUnlock();
      FCursor.FTable->EndOperation();
    } catch (...) {
      // The handles keep nothing locked beyond the table's close.
    }
  }
  TCursorRead(const TCursorRead&) = delete;
  TCursorRead& operator=(const TCursorRead&) = delete;

 private:
  TDataCursor& FCursor;
  bool FLocked = false;
};

// The write bracket is also the table's change bracket (BeginChange,
// EndChange): the caches keep the operation's changes until its journaled
// write-back, and the end of an operation that raised forgets them.
class TCursorWrite {
 public:
  explicit TCursorWrite(TDataCursor& cursor)
      : FCursor(cursor), FUncaught(std::uncaught_exceptions()) {
    FLocked = cursor.FTable->WriteLock();
    try {
      if (cursor.CountersChanged()) cursor.Resync();
      cursor.FTable->BeginChange();
    } catch (...) {
      Unlock(true);
      throw;
    }
  }
  ~TCursorWrite() noexcept(false) {
    const bool failing = std::uncaught_exceptions() > FUncaught;
    if (failing) {
      try {
        FCursor.FTable->EndChange(true);
      } catch (...) {
        // The operation's own error is the one reported.
      }
      Unlock(true);
      return;
    }
    try {
      FCursor.FTable->EndChange(false);
    } catch (...) {
      Unlock(true);
      throw;
    }
    Unlock(false);
  }
  TCursorWrite(const TCursorWrite&) = delete;
  TCursorWrite& operator=(const TCursorWrite&) = delete;

 private:
  void Unlock(bool quietly) {
    if (!FLocked) return;
    FLocked = false;
    if (!quietly) {
      FCursor.FTable->WriteUnlock();
      return;
    }
    try {
      FCursor.FTable->WriteUnlock();
    } catch (...) {
    }
  }

  TDataCursor& FCursor;
  int FUncaught;
  bool FLocked = false;
};

}  // namespace engine
