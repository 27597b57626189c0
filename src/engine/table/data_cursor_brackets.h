// The brackets a cursor puts around each operation (see data_cursor.h): a
// read bracket takes the read lock when the session asks for strict change
// detection and compares the change counters; a write bracket takes the write
// lock. Both re-find the cursor's position when the table changed, and undo
// their lock on every path.
#pragma once

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

class TCursorWrite {
 public:
  explicit TCursorWrite(TDataCursor& cursor) : FCursor(cursor) {
    FLocked = cursor.FTable->WriteLock();
    if (cursor.CountersChanged()) cursor.Resync();
  }
  ~TCursorWrite() noexcept(false) {
    if (!FLocked) return;
    if (std::uncaught_exceptions() > 0) {
      try {
        FCursor.FTable->WriteUnlock();
      } catch (...) {
      }
    } else {
      FCursor.FTable->WriteUnlock();
    }
  }
  TCursorWrite(const TCursorWrite&) = delete;
  TCursorWrite& operator=(const TCursorWrite&) = delete;

 private:
  TDataCursor& FCursor;
  bool FLocked = false;
};

}  // namespace engine
