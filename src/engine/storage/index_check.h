// Consistency checks of an index file.
//
// CheckIndexFileOnOpen is the check made when a table is opened: the header
// and descriptors only, raising 12035 for a wrong format and 8961 for any
// impossible descriptor.
//
// CheckIndexTrees is the deep check used by the table-set checker and by the
// tests: it walks every B-tree page by page and reports what it finds instead
// of raising. For each tree (slots 0..n and the system index) it verifies:
//  - page types: the root 0 or 3, other internal pages 1, other leaves 2, every
//    leaf at the same depth, no page reached twice;
//  - order: keys strictly ascending under the index's collation within each
//    page and across the leaves, each internal entry's key equal to its
//    child's first key;
//  - counts: each internal entry's count equals the leaf entries below it;
//    the keys of slot 0..n equal the header's record count (when asked);
//  - fill: uncompressed non-root pages hold at least half their capacity,
//    compressed leaves at least one entry and at most 4083 stored bytes, an
//    internal root at least two entries;
//  - links: each level's pages linked in order, the ends linked to 0;
//  - free lists: each index's free pages are free, inside the file, not part
//    of any tree and not on two lists.
// Pages that no tree or free list reaches (left by a removed index) are only
// counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/field_defs.h"
#include "engine/storage/index_file.h"

namespace engine {

// Raises 12035 when the format is not 4, and 8961 when a descriptor of slot 0
// or a secondary slot is impossible: a bad or repeated secondary name, a named
// primary index, a primary key that is not unique, more than 16 key fields, a
// field number that names no field or a BLOB field, a key size outside 1..524
// (0 only for a table without a primary key) or a key length that does not
// match the fields, a root or free-list position outside the file.
void CheckIndexFileOnOpen(const TIndexFile& file, const TFieldDefinitions& fields);

struct TIndexProblem {
  int slot = 0;
  std::int32_t page = 0;  // 0 when the problem is not about one page
  std::string text;
};

struct TIndexTreeStats {
  int slot = 0;
  std::int64_t keys = 0;
  int pages = 0;
  int depth = 0;  // levels; 0 for an empty tree
  int freePages = 0;
};

struct TIndexCheckReport {
  std::vector<TIndexProblem> problems;
  std::vector<TIndexTreeStats> trees;
  std::int64_t unreferencedPages = 0;
  bool Ok() const { return problems.empty(); }
  // All problems, one per line, for messages and test failures.
  std::string Describe() const;
};

struct TIndexCheckOptions {
  std::uint16_t languageId = 0;
  std::uint16_t sortId = 0;
  // Compare the key count of slots 0..n with the header's records in use.
  bool compareRecordCount = true;
};

TIndexCheckReport CheckIndexTrees(TIndexFile& file, const TFieldDefinitions& fields,
                                  const TIndexCheckOptions& options = {});

}  // namespace engine
