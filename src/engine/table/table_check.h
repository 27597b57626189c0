// The table-set checker: looks at a whole table set (N.DAT, N.IDX, N.BLB)
// without changing it and reports everything it finds.
//
// What is checked:
//  * the data file: header (format, locale, field definitions, record size,
//    BLOB field count, file length against the next record number), every
//    record's status byte and field slots (table_repair_record.h), and the
//    free chain of deleted records;
//  * the index file: header and descriptors, then every B-tree walked page by
//    page (types, key order, counts in internal entries, fill, level links,
//    free lists); the keys of the primary and each secondary index are
//    compared with the records in use counted in the data file, and the
//    system index with every record slot;
//  * the BLOB file (when the table has BLOB fields): header, the free chain
//    and every BLOB chain of every record in use (positions, ids, loops,
//    length).
// Files are opened shared and read-only. Usable from tests and from the
// tablecheck program.
//
// A commit cut short by a crash leaves its rollback journal (N.JNL) beside
// the set, and an emptying its intent file (N.EMP); every opener rolls the
// set back from the one and finishes the other before reading. The checker
// and the repair do the same first (RecoverInterruptedCommit), so that they
// judge the set every other opener will see, not the half-written one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct TTableCheckReport {
  std::vector<std::string> findings;  // one line per problem
  std::int64_t recordSlots = 0;       // data file records, deleted ones included
  std::int64_t liveRecords = 0;       // records in use
  std::vector<std::string> notes;     // what was looked at (counts per index)
  bool Ok() const { return findings.empty(); }
  std::string Describe() const;
};

// `dataFileName` names the table set by its data file or by the table name
// (".DAT" is added when no extension is given). A Windows path.
TTableCheckReport CheckTableSet(const std::string& dataFileName, bool inMemory = false);

// Rolls the set back from the journal of an interrupted commit and finishes
// an interrupted emptying, when there is one, by opening the table as any
// opener would. True when a non-empty journal or an intent file was found (an empty journal is
// removed by the same opening when no one holds it). A set that cannot be opened is left to the
// check that follows.
bool RecoverInterruptedCommit(const std::string& dataFileName);

}  // namespace engine
