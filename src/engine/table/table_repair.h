// Table-set repair: rebuilds a damaged table set (N.DAT, N.IDX, N.BLB) from
// the records that are still sound, keeping the damaged files beside it.
//
// How it works:
//  1. The table-set checker runs first; a sound set is left alone unless the
//     caller forces a rebuild.
//  2. The data file's header and field definitions must verify (the record
//     layout comes from them); when they do not, nothing can be read safely
//     and the repair is refused without touching anything.
//  3. The index definitions are salvaged from the index header one by one: a
//     descriptor whose name, key fields or key length do not fit the field
//     definitions is left out (reported); roots, free lists, counts and the
//     end position are never taken over.
//  4. Every whole record slot the data file physically holds is read directly
//     (records past the header's record count included, a partial record at a
//     cut end reported). A record in use is kept only when its status byte is
//     0 or 1, every field slot is sound (see table_repair_record.cpp) and
//     every BLOB chain walks cleanly: block positions inside the BLOB file,
//     every block stamped with the record's BLOB id, no loop, no block shared
//     with a chain already kept, full blocks but the last, and the bytes found
//     equal to the length the first block records.
//  5. The kept records are inserted, with their own auto-increment values,
//     into a fresh table set "<N>~RPR" created in the same directory with the
//     same definitions; inserting builds every index, the BLOB chains and the
//     header counts anew and leaves both free chains empty. A record refused
//     there (a duplicate key, a validity rule) is dropped and reported.
//  6. The damaged files are renamed to "<file>.damaged" (for example
//     BACK.DAT.damaged; ".damaged2", ".damaged3", ... when an earlier copy is
//     in the way), and the rebuilt files take the original names.
//
// The repair opens the data file exclusively while it reads, so no other
// program may have the table open. Tables living in memory are not repaired.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// One record the repair left out: its number in the damaged data file and why.
struct TRepairDrop {
  std::int64_t record = 0;
  std::string reason;
};

struct TTableRepairReport {
  std::vector<std::string> problems;  // what the checker found before the repair
  bool repaired = false;              // the table set was rebuilt and replaced
  std::string refusal;                // why the repair did not run (empty otherwise)
  std::int64_t keptRecords = 0;
  std::int64_t deletedSlots = 0;           // slots marked deleted (not rows, not dropped)
  std::vector<TRepairDrop> dropped;        // records in use that were not kept
  std::vector<std::string> notes;          // structure lost or changed (indexes, cut ends)
  std::vector<std::string> damagedCopies;  // where the damaged files went
  // Every line above in a readable form, for logs and the command line.
  std::string Describe() const;
};

struct TTableRepairOptions {
  // Rebuild even when the checker finds nothing.
  bool force = false;
};

// Repairs the table set named by its data file or table name (".DAT" is
// added when no extension is given), a Windows path. Engine errors that stop
// the repair half-way (a file that cannot be created or renamed) propagate;
// the damaged originals are never removed before the rebuilt set is complete.
TTableRepairReport RepairTableSet(const std::string& dataFileName,
                                  const TTableRepairOptions& options = {});

}  // namespace engine
