// TDataCursor: the query read lock (see data_cursor.h).
//
// An SQL statement that reads with locks takes the query read lock on each
// of its source tables before it copies their rows and releases it afterwards
// (on failure too). While the table object holds it, the ordinary read lock
// (strict change detection, cache misses, record locks) is skipped, so the
// statement reads the table under one lock; a writer of another process needs
// the index write range, which covers every reader slot, and waits.
//
// Change check: taking the lock refreshes the table object (drops whatever
// another process changed). Whether it was taken or not, the cursor then
// compares the table's change counters with those it saw last, and on a
// difference recomputes its range, bitmaps and position (the current key, or
// the nearest following one; the record number in record-number order).
#include "engine/table/data_cursor.h"

#include "engine/errors.h"

namespace engine {

bool TDataCursor::QueryReadLock() {
  CheckOpen();
  const bool taken = FTable->QueryReadLock();
  FQueryLockTaken = FQueryLockTaken || taken;
  try {
    if (CountersChanged()) Resync();
  } catch (...) {
    // The caller only releases a lock it was given.
    if (taken) {
      FQueryLockTaken = false;
      try {
        FTable->QueryReadUnlock();
      } catch (const EDatabaseError&) {
        // The first error is the one reported.
      }
    }
    throw;
  }
  return taken;
}

void TDataCursor::QueryReadUnlock() {
  // A closed cursor no longer has a table; closing the table's last opener
  // released its locks.
  if (!FOpen) return;
  FQueryLockTaken = false;
  FTable->QueryReadUnlock();
}

}  // namespace engine
