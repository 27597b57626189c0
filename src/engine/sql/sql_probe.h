// Key probes: the records of one source table that an equality on the
// leading fields of one of its indexes selects, read by positioning the
// table's cursor in that index instead of building a filter bitmap over the
// whole table. A key lookup then costs a descent of the B-tree and the
// records it finds, whatever the table's size.
//
// Which conditions probe (the conjuncts of a table's prepared condition):
//  - the first field: a comparison "column = constant" that a filter would
//    answer from the same index (an ascending index whose first field is
//    the column, for a string column one that is case-sensitive; a constant
//    of the column's type that the key holds whole; not NULL, no '*'
//    prefix). Its records are exactly the ones the filter's key range gives,
//    so that comparison is not evaluated again;
//  - further fields, in key order: "column = constant" on integer and date
//    columns, and on string columns of a case-sensitive index under
//    language 0 with a non-empty constant, whose key bytes are equal exactly
//    when the values are. They only narrow the range; they are evaluated
//    again like every other conjunct.
// The number of keys in the range bounds the walk (counted from the inner
// pages), except when every field of a unique index is fixed.
// The remaining conjuncts are evaluated on each record found, as a filter
// evaluates what its index cannot answer. The records come out in record-
// number order, the order in which a filtered cursor visits them, so a
// probe changes how records are found, never which or in what order.
//
// A probe holds its records in memory; a key range holding more than
// kMaxProbeRecords records is left to a filter.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/sql/expr_eval.h"
#include "engine/sql/filter_bitmap.h"
#include "engine/storage/index_keys.h"
#include "engine/storage/records_bitmap.h"
#include "engine/table/data_cursor.h"
#include "engine/values/expr_token.h"

namespace engine {

inline constexpr std::int64_t kMaxProbeRecords = 4096;  // records held in memory per probe

struct TProbeKey {
  int slot = 0;  // index slot of the cursor's table
  const TKeyLayout* layout = nullptr;
  std::vector<std::uint8_t> key;        // key prefix: null flag and value bytes per field
  int length = 0;                       // bytes of `key` that must match
  const TExpToken* answered = nullptr;  // the first field's comparison, answered by the key
  bool single = false;                  // every field of a unique index fixed: one record at most
};

// The records a probe found, without an allocation per record: each is
// either copied into the list's own buffer or, when it lies in a table
// snapshot that outlives the list's use, referred to where it lies.
class TProbeRecords {
 public:
  std::size_t size() const { return FEntries.size(); }
  bool empty() const { return FEntries.empty(); }
  void clear() {
    FEntries.clear();
    FBytes.clear();
  }
  void Truncate(std::size_t n);
  void Add(std::int32_t number, const std::uint8_t* record, std::size_t size);
  void AddShared(std::int32_t number, const std::uint8_t* record);
  std::int32_t Number(std::size_t i) const { return FEntries[i].number; }
  const std::uint8_t* Record(std::size_t i) const {
    const TEntry& e = FEntries[i];
    return e.shared != nullptr ? e.shared : FBytes.data() + e.offset;
  }
  // Orders the entries from `first` on by record number.
  void SortByNumber(std::size_t first);

 private:
  struct TEntry {
    std::int32_t number;
    const std::uint8_t* shared;
    std::size_t offset;
  };
  std::vector<TEntry> FEntries;
  std::vector<std::uint8_t> FBytes;
};

// The indexes of one table that probes may use, with their key layouts.
class TProbeIndexes {
 public:
  explicit TProbeIndexes(TDataCursor& cursor);

  // The index whose leading fields the most equalities among `conjuncts`
  // (prepared comparisons over this table) fix; the first such index on a
  // tie. None when no conjunct fixes an index's first field.
  std::optional<TProbeKey> Choose(const std::vector<const TExpToken*>& conjuncts) const;
  // Whether field `field` (1-based) leads an index a probe may use.
  bool Leads(int field) const;

 private:
  const TExpToken* FieldEquality(const std::vector<const TExpToken*>& conjuncts,
                                 const TKeyField& field, bool first, bool caseInsensitive,
                                 bool languageZero) const;

  TDataCursor& FCursor;
  std::vector<std::pair<int, TKeyLayout>> FIndexes;  // slot, layout (ascending ones)
};

// The number of keys in the probe's range (from the index's inner pages).
std::int64_t ProbeCount(TDataCursor& cursor, const TProbeKey& probe);

// Conditions tested on records of one table as a filter tests them (the
// table's collation, filter errors).
class TRecordTests {
 public:
  TRecordTests(TDataCursor& cursor, std::vector<const TExpToken*> tests);
  bool Passes(const TDataCursor::TRecordBuffer& record);
  // The same for a record of the table's record size anywhere in memory.
  bool Passes(const std::uint8_t* record, std::size_t size);

 private:
  std::vector<const TExpToken*> FTests;
  TRecordColumnReader FReader;
  EvaluationContext FContext;
  TDataCursor::TRecordBuffer FRecord;
};

// Appends to `out`, in record-number order, the records of the probe's range
// (`count` keys, from ProbeCount) that pass `tests`. The cursor, which must
// hold no active filter, is left in the probe's index.
void ReadProbe(TDataCursor& cursor, const TProbeKey& probe, std::int64_t count, TRecordTests& tests,
               TProbeRecords& out);

// The records of an inner table held in memory for the probes of one run,
// so that a probe's records, which lie anywhere in the data file, cost no
// read of their own: the table is read once in record-number order. The
// first probe through an index also builds that index's keys from the held
// records, in the order of the index's leaves (read once), so each probe is
// a binary search in memory: no index page is read and no
// record is copied (the probe's list refers to the held records). What
// keeps this true between processes: every probe first compares the
// table's change counters with those the snapshot was taken under, as a
// cursor's read does (under the table's read lock when it is shared, which
// re-reads the counters another process may have moved) and its record
// count, and a snapshot whose table changed is not used (the caller takes
// it again). A record another cursor of this process changes in place
// between two probes of one run is seen at the next run.
// Taken only for tables of at most kMaxSnapshotRecords records and
// kMaxSnapshotBytes.
class TTableSnapshot {
 public:
  static constexpr std::int32_t kMaxSnapshotRecords = 262144;
  static constexpr std::int64_t kMaxSnapshotBytes = 16 << 20;

  // Null when the table is too large or another writer interrupted the read.
  static std::unique_ptr<TTableSnapshot> Take(TDataCursor& cursor);
  // Appends the records of the probe's range that pass `tests`, in
  // record-number order, as references into the snapshot; false (nothing
  // appended) when the table changed since the snapshot was taken.
  bool Read(TDataCursor& cursor, const TProbeKey& probe, TRecordTests& tests, TProbeRecords& out);
  // Appends every record in the order of the cursor's index (its keys walked
  // from the lowest to the highest); false (nothing appended) when the table
  // changed since the snapshot was taken.
  bool ReadInIndexOrder(TDataCursor& cursor, TProbeRecords& out);

 private:
  bool BuildKeys(TDataCursor& cursor, const TProbeKey& probe);

  std::uint32_t FRecordSize = 0;
  // The table's record count when taken: a cursor of this process that adds
  // or deletes records moves it at once, before the counters on disk move.
  std::int32_t FRecordCount = 0;
  std::vector<std::uint32_t> FSlot;  // per record number: 1 + its place in FBytes, 0 absent
  std::vector<std::uint8_t> FBytes;
  std::int32_t FCounters[3] = {0, 0, 0};
  // The keys of one index over the held records: FKeyLength bytes each in
  // FKeys, in index order, record number i of them in FKeyNumbers[i].
  int FKeySlot = -1;
  int FKeyLength = 0;
  std::vector<std::uint8_t> FKeys;
  std::vector<std::int32_t> FKeyNumbers;
  std::vector<std::int32_t> FFound;
};

// The records a cursor without filters or range walks, in its order, read
// through a snapshot, which `out` refers to and which is returned (keep it
// while `out` is read); null when the cursor is in record-number order, the
// table is too large for a snapshot, or another writer changed it meanwhile.
std::unique_ptr<TTableSnapshot> ReadWholeTable(TDataCursor& cursor, TProbeRecords& out);

}  // namespace engine
