// Emptying a table set so that a crash at any instant leaves either the old
// rows or the empty table, never a mix.
//
// Why not the commit journal
// --------------------------
// Emptying cuts the data, index and BLOB files back to their headers. A
// rollback journal would have to hold every byte that is cut off (the whole
// table), and the files cannot be cut after the new headers are written
// either: a data file longer than its header says is damaged. So emptying is
// made to roll forward instead of back.
//
// The intent file N.EMP
// ---------------------
// Beside N.DAT (spelled like the commit journal, N.JNL, after the data file as
// it is on disk) lies, while a table is being emptied, the file N.EMP:
//   offset size  meaning
//        0    8  magic "ORVEMP01"
// Its presence alone is what counts: once its directory entry exists, the
// table is to be emptied, whatever its contents (a kill right after it was
// created leaves it short, and emptying is still what was asked for).
//
// The steps, each made durable before the next:
//  1. N.EMP is created, written and flushed (with its directory entry).
//  2. Each file is cut back to its header (the data file keeps its field
//     definitions), its cache dropped and its header set to the empty table.
//  3. The three headers are written and the files flushed.
//  4. N.EMP is deleted (durably). The emptying has ended.
// Whoever opens the table and finds N.EMP (after rolling back a hot journal,
// which the emptying never leaves behind itself) does steps 2 to 4 again
// under the write ranges: steps 2 and 3 only read the headers' definitions,
// which emptying leaves alone, so they come out the same however far the
// interrupted run got, and a crash during the recovery is mended by the next.
// A table whose files carry the read-only attribute cannot be finished: its
// opening fails with 11013 saying so.
//
// A refused write or flush (a full disk) in step 1 removes N.EMP and leaves
// the table as it was. One in steps 2 to 4 cannot go back: steps 2 to 4 are
// tried once more, and when that fails too the error is raised with N.EMP
// left behind. From then on the table refuses changes in this process: each
// change, and each write-back (also the one at the close), first runs steps
// 2 to 4 again and raises when they still fail. So nothing this process
// writes can be emptied away by the next opener, who finishes the emptying
// when it finds N.EMP.
#pragma once

#include <string>

#include "engine/files/commit_journal.h"

namespace engine {

class TDataTable;

inline constexpr char kEmptyIntentExt[] = ".EMP";

// N.EMP beside the journal location `journal` of the same set.
TJournalLocation EmptyIntentLocation(const TJournalLocation& journal);
bool EmptyIntentPresent(const TJournalLocation& journal);
// Step 1.
void WriteEmptyIntent(const TJournalLocation& journal);
// Step 4.
void RemoveEmptyIntent(const TJournalLocation& journal);
// Step 2 on the open files of `table`.
void CutTableFilesToHeaders(TDataTable& table);
// Step 3: writes the headers straight to the files and flushes them.
void WriteEmptyHeaders(TDataTable& table);

}  // namespace engine
