// TDataTable: changing operations outside a transaction (rule 14 in
// table_locks.cpp) and an emptying left unfinished by refused writes
// (table_empty.h).
//
// Why a change keeps everything in memory
// ---------------------------------------
// An insert changes a record, index pages in every index (a split allocates
// pages and rewrites its parent), BLOB blocks and the three headers. When a
// cache filled in the middle of that, it used to write its own file back on
// the spot, outside the journal: a crash there left half an insert on disk (a
// split written without its parent, a record without its index entries). Now
// the caches grow during a change instead, and the change reaches the files
// only through the journaled write-back of the whole set at its end (rule 9):
//   shared table     the cursor's FlushTable writes it back, then the
//                    outermost EndChange trims caches that grew;
//   exclusive table  changes stay in the caches across operations (they are
//                    written at flush or close); a full cache never writes
//                    one file back, and the outermost EndChange of a change
//                    after which a cache holds more than 32 times its usual
//                    capacity (kDefaultExclusiveGrowth: some 4 MB of
//                    records, 2 MB of pages per index, 4 MB of BLOB blocks)
//                    writes the whole set back, so the files only ever hold
//                    the table as it was between two operations;
//   transaction      unchanged: the commit writes everything back.
// A shared table's cache grows by at most what one operation changes; an
// exclusive table's to that bound plus one operation. Both are trimmed back
// after the write-back. Letting an exclusive table's caches grow that far
// spreads the cost of journaling over many operations: the pages changed
// most often are journaled and written once per write-back instead of once
// per cacheful.
//
// A shared table's change that raises leaves in the caches whatever it had
// changed so far; since the table was written back whole after the previous
// change, the outermost EndChange drops the caches and rereads the headers,
// which forgets the half change, as a rollback does.
//
// An exclusive table cannot do that: its caches also hold the earlier
// operations' changes, not yet written. So its outermost BeginChange starts
// an undo in each file (data_file.h, index_page_undo.h, change_undo.h):
// every record, page and block the change pins is noted the first time, with
// its content when it held changes already, and the three headers are
// copied. A change that raises is taken back from those notes: entries that
// held changes get their content back, the others are dropped (the files
// hold them), and the headers, with their counts, free-chain heads and file
// ends, are put back, which forgets appended records, pages and blocks. Memory
// then holds exactly the table after the last operation that succeeded, and
// nothing of the failed one is ever written. A write-back during a change
// (building an index writes the set back) restarts the undo from there, as
// the files then hold what came before. A failed write-back at the end of a
// change leaves memory with every change (rule 15 in table_locks.cpp), and
// the change, whose error is raised, is then taken back too. Where an undo
// cannot be whole (a cache was dropped or an index moved slots during the
// change) the caches are dropped and the headers read again, as for a shared
// table.
#include <algorithm>
#include <atomic>

#include "engine/errors.h"
#include "engine/storage/blob_file.h"
#include "engine/table/data_table.h"
#include "engine/table/table_empty.h"

namespace engine {

namespace {

// How many times its usual capacity a cache of an exclusive table may grow
// to before the end of a change writes the set back: kDefaultExclusiveGrowth
// unless set otherwise (tests make it small to reach the write-back soon).
std::atomic<std::size_t> gExclusiveGrowth{TDataTable::kDefaultExclusiveGrowth};

}  // namespace

std::size_t TDataTable::SetExclusiveGrowth(std::size_t factor) {
  return gExclusiveGrowth.exchange(std::max<std::size_t>(1, factor));
}

bool TDataTable::CachesGrown(std::size_t factor) const {
  if (FDataFile->CacheCapacity() > factor * FDataFile->BaseCacheCapacity()) return true;
  const auto pages = factor * static_cast<std::size_t>(TIndexFile::kInitialCacheCapacity);
  if (static_cast<std::size_t>(FIndexFile->LargestCapacity()) > pages) return true;
  if (HasBlobs()) {
    const std::size_t base = std::max<std::uint32_t>(
        1, std::min(kCacheBytes / FBlobFile->BlockSize(), kMaxCachedBlocks));
    if (FBlobFile->CacheCapacity() > factor * base) return true;
  }
  return false;
}

void TDataTable::BeginChange() {
  if (FOpen && !FReadOnly) FinishUnfinishedEmptying();
  if (++FChangeDepth == 1 && FExclusive && FOpen && !FReadOnly && !FInTransaction) BeginUndo();
}

void TDataTable::EndChange(bool failed) {
  if (FChangeDepth == 0 || --FChangeDepth > 0) return;
  if (!FOpen || FReadOnly || FInTransaction) {
    EndUndo();
    return;
  }
  if (failed) {
    if (FUndoing) {
      RollBackChange();
    } else if (!FExclusive) {
      DiscardCaches(true, true);
    }
    return;
  }
  if (CachesGrown(FExclusive ? gExclusiveGrowth.load() : 1)) {
    try {
      FlushTable(true, false, false, false, false);
    } catch (...) {
      // The write-back kept every change in memory; this one raises, so it
      // goes again.
      if (FUndoing) {
        try {
          RollBackChange();
        } catch (...) {
          // The write-back's error is the one reported.
        }
      }
      throw;
    }
  }
  EndUndo();
}

// ---- Undo of one change ----------------------------------------------------------------

void TDataTable::BeginUndo() {
  FDataFile->BeginUndo();
  FIndexFile->BeginUndo();
  if (HasBlobs()) FBlobFile->BeginUndo();
  FUndoing = true;
}

void TDataTable::EndUndo() noexcept {
  if (!FUndoing) return;
  FUndoing = false;
  FDataFile->EndUndo();
  FIndexFile->EndUndo();
  if (FBlobFile) FBlobFile->EndUndo();
}

void TDataTable::RollBackChange() {
  FUndoing = false;
  bool whole = FDataFile->RollBackUndo();
  whole = FIndexFile->RollBackUndo() && whole;
  if (HasBlobs()) whole = FBlobFile->RollBackUndo() && whole;
  FDataFile->SetHasPrimaryKey(!FIndexFile->NoPrimaryKey());
  if (!whole) DiscardCaches(true, true);
}

// ---- Emptying left unfinished ---------------------------------------------------------

void TDataTable::FinishEmptying() {
  CutTableFilesToHeaders(*this);
  WriteEmptyHeaders(*this);
  if (Journaled()) RemoveEmptyIntent(FJournal);
  FEmptyingUnfinished = false;
}

void TDataTable::FinishUnfinishedEmptying() {
  if (FEmptyingUnfinished) FinishEmptying();
}

}  // namespace engine
