// TReadWalk: one read lock for a walk over many records of a cursor.
//
// A cursor that is not under strict change detection checks the table for
// changes by other processes at every cache miss: it takes a reader slot of
// the index and BLOB files, looks for a hot journal and reads the three
// change counters, and gives the slots back at the end of the operation. A
// walk that reads every record (and its BLOB) pays that for nearly every
// record. A walk holds the cursor's query read lock instead (rule 3 of
// table_locks.cpp): the slots are taken, the journal looked for and the
// counters compared once, when the walk starts, and every read of the walk
// goes without a lock or check of its own. No other process can change the
// table meanwhile (a writer needs the index write range, which covers every
// reader slot), so the walk reads the table as of one moment.
//
// Writers of other processes wait while the walk holds the lock; a writer
// gives up after about 25 seconds (lock_map.h, rule 1). So that a long walk
// does not turn a waiting writer away, the walk lets writers in between two
// records (LetWritersIn): once the lock has been held for `hold`, and another
// opener holds the data file's write-lock byte (which every writer and every
// transaction takes before the index range), the walk gives its slots up for
// kWriterGapMs, long enough for a writer retrying every 3 ms to get the
// ranges, and takes them again. Taking them waits for the writer to finish,
// runs the change check and re-finds the cursor's position (the current key,
// or the nearest following one), as any read would after a change. The walk
// then reads the table as of the new moment.
//
// Where no lock is needed (an exclusive table, read-only files, the table's
// own transaction or write lock, or a query read lock already held) nothing
// is taken and each read checks for changes as it does without a walk.
//
// While a walk holds the lock this process must not change the table: the
// write lock's index range covers the walk's own slot and would be refused.
#pragma once

#include <chrono>
#include <cstdint>

namespace engine {

class TDataCursor;

class TReadWalk {
 public:
  // How long the lock is held before waiting writers are looked for.
  static constexpr std::chrono::milliseconds kDefaultHold{200};
  // How long the slots stay free when a writer waits (a few of its retries).
  static constexpr std::uint32_t kWriterGapMs = 10;

  // Takes the cursor's query read lock (10249 when it stays refused).
  explicit TReadWalk(TDataCursor& cursor, std::chrono::milliseconds hold = kDefaultHold);
  // Gives back a lock the walk took; a failed release is not raised (the
  // slots go with the table's handles at the latest).
  ~TReadWalk();
  TReadWalk(const TReadWalk&) = delete;
  TReadWalk& operator=(const TReadWalk&) = delete;

  // Between two records: lets a waiting writer in as described above. True
  // when it did (the table may have changed: counts taken before are stale).
  bool LetWritersIn();
  // Whether the walk holds the lock itself.
  bool Holding() const noexcept { return FTaken; }

 private:
  TDataCursor& FCursor;
  std::chrono::milliseconds FHold;
  std::chrono::steady_clock::time_point FSince;
  bool FTaken = false;
};

}  // namespace engine
