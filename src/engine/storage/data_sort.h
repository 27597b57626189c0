// The physical sort of a data file (TDataFile::Sort), for the SQL executor's
// result tables: ORDER BY, DISTINCT (dropping duplicates) and GROUP BY
// (combining records of equal keys, then filtering groups); and for the sort
// of a whole table (TDataCursor::SortTable), which runs it inside one
// journaled rewrite together with the rebuild of the indexes, so that a crash
// leaves the table as before or as after.
//
// Sort keys. Each record's key is built like an index key (index_keys.h) over
// the sort fields: per field its null-flag byte and its order-preserving value
// encoding, with descending fields inverted under language 0 and reversed in
// the comparison otherwise; strings compare through the table's collation.
// The record's auto-increment value follows as a signed 32-bit key, so equal
// sort values keep their creation order. "Equal keys" (duplicates, groups)
// means equal over the sort fields, without that suffix.
//
// Two ways:
//  * every record cached: the records are sorted in memory and rewritten from
//    record 1;
//  * otherwise runs of min(8191, 2097120 / R) records are read from the file,
//    sorted and written to temporary run files (named from the first five
//    digits of the thread id, a counter and ".TMP", the first free name, in the
//    directory for temporary files; created exclusively, deleted when the sort
//    ends, also on failure); the runs are then merged into the data file.
// Deleted records are left out. Afterwards records 1..count are the sorted
// rows, the free chain is empty, the next record number is count + 1 and the
// file ends after the last record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/data_file.h"
#include "engine/storage/index_keys.h"

namespace engine {

inline constexpr std::uint32_t kMaxRunRecords = 8191;
inline constexpr std::uint32_t kRunBytes = 2097120;  // bytes of records per run

// Builds and compares the sort keys of one sort.
class TSortKeys {
 public:
  TSortKeys(const TDataFile& file, const TDataFile::SortOptions& options);
  std::vector<std::uint8_t> Build(const std::uint8_t* record) const;
  // Total order (with the auto-increment suffix).
  int Compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const;
  // Equal over the sort fields (without the suffix).
  bool SameGroup(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const;

 private:
  TKeyLayout layout_;
  std::uint32_t recordSize_;
};

}  // namespace engine
