// Building the record bitmap of one filter condition over a cursor's table:
// optimisation levels of the nodes, index key ranges scanned into bitmaps,
// and record-by-record evaluation where no index serves (filter.h shows the
// recursion).
//
// Index use. A comparison of a column with a constant is answered from an
// ascending index whose first key field is that column (for a string column
// with the comparison's case sensitivity; for other columns any), when the
// constant has the column's type (preparing converts the constants of
// comparisons, IN lists and BETWEEN bounds to it whenever that keeps their
// value; an IN list may hold NULL, which finds the NULL keys). UPPER(column) is answered from a
// case-insensitive index (for =, <>, IN and NOT IN with upper-case constants,
// or in a case-insensitive comparison). The constant is put into a scratch record
// and the index's own key builder encodes it, so the key bytes follow the
// table's collation and case folding exactly. With P = the null-flag byte
// and the value bytes of the first key field, the ranges are (inclusive; the
// cursor completes short keys with the lowest or highest bytes):
//
//   =  c      [P(c), P(c)]            <> c   domain minus (= c)
//   <= c      [lowest, P(c)]          >= c   [P(c), highest]
//   <  c      (<= c) minus (= c)      >  c   (>= c) minus (= c)
//   prefix s  [N(s), N(s)] with N = the null flag and the first |s| bytes
//
// The lowest keys are the NULL keys (null flag 0). Strings order NULL as the
// empty string, so their ranges keep them; for other types the NULL keys are
// removed from <= and < (a NULL is never ordered there).
//
// Count inversion: with the flag set and a table of language 0, a key range
// holding more than half of the table's live records (counted from the
// internal pages) is answered by scanning the keys outside it and inverting.
//
// Invariants: every bitmap this code answers is a subset of the domain it
// was given; a record read that finds the table's caches dropped throws
// TFilterRestart, and the caller starts again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/sql/expr_eval.h"
#include "engine/storage/index_keys.h"
#include "engine/storage/records_bitmap.h"
#include "engine/table/data_cursor.h"
#include "engine/values/collation.h"
#include "engine/values/expr_token.h"

namespace engine {

struct TFilterRestart {};

// A record procedure for level-0 evaluation; null for expression filters.
using TRecordTest = std::function<bool(const std::vector<std::uint8_t>& record, std::int32_t n)>;

class TFilterBitmapBuilder {
 public:
  static constexpr int kLevelNone = 0;
  static constexpr int kLevelPartial = 1;
  static constexpr int kLevelFull = 2;

  explicit TFilterBitmapBuilder(TDataCursor& cursor);

  void SetCountInversion(bool on) { FCountInversion = on; }
  // The present records of the table (optional): a key range scanned
  // directly lies within them and needs no intersection with them.
  void SetPresentRecords(const TRecordsBitmap* present) { FPresentRecords = present; }
  // The number of records in the last bitmap Apply answered, when it is known
  // without counting (a single index range scanned directly); else -1.
  std::int64_t ResultCount() const { return FResultCount; }
  // Computes and stores the level of every node; answers the root's.
  int ComputeLevel(TExpToken& node);
  // The records of `domain` that satisfy the tree.
  std::unique_ptr<TRecordsBitmap> Apply(const TExpToken& node, const TRecordsBitmap& domain);
  // The records of `domain` that `test` accepts, each read once.
  std::unique_ptr<TRecordsBitmap> ApplyRecordTest(const TRecordTest& test,
                                                  const TRecordsBitmap& domain);
  bool Evaluate(const TExpToken& tree, const std::vector<std::uint8_t>& record);
  // Reads record n; throws TFilterRestart when the caches were dropped.
  void ReadRecord(std::int32_t n, std::vector<std::uint8_t>& into);
  const Collation& TableCollation() const { return FCollation; }
  std::int32_t ReadAhead() const;

 private:
  struct IndexChoice {
    int slot = -1;
    const TKeyLayout* layout = nullptr;
  };
  IndexChoice ChooseIndex(const TExpToken& column, bool caseInsensitive) const;
  const TExpToken* IndexedColumn(const TExpToken& node, bool& caseInsensitive) const;
  bool ConstantFits(const TExpToken& column, const TExpToken& constant) const;
  int ComparisonLevel(const TExpToken& node) const;
  // Key prefix of `constant` (or NULL) in the chosen index; `chars` > 0 keeps
  // only the null flag and that many value bytes.
  std::vector<std::uint8_t> KeyPrefix(const IndexChoice& index, const TExpToken& column,
                                      const TExpToken* constant, int chars);
  std::unique_ptr<TRecordsBitmap> Scan(int slot, const std::vector<std::uint8_t>& low,
                                       const std::vector<std::uint8_t>& high);
  std::unique_ptr<TRecordsBitmap> Equal(const IndexChoice& index, const TExpToken& column,
                                        const TExpToken* constant);
  std::unique_ptr<TRecordsBitmap> IndexedNode(const TExpToken& node, const TRecordsBitmap& domain);
  std::unique_ptr<TRecordsBitmap> Evaluated(const TExpToken& node, const TRecordsBitmap& domain);
  std::unique_ptr<TRecordsBitmap> NewBitmap();

  TDataCursor& FCursor;
  bool FCountInversion = false;
  const TRecordsBitmap* FPresentRecords = nullptr;
  int FInvertedScans = 0;           // scans answered by inverting the keys outside
  std::int64_t FLastScanKeys = -1;  // keys met by the last direct scan
  std::int64_t FResultCount = -1;
  Collation FCollation;
  std::vector<std::pair<int, TKeyLayout>> FIndexes;  // slot, layout (ascending ones)
};

// Column values of a record buffer of a cursor's table.
class TRecordColumnReader : public ColumnReader {
 public:
  explicit TRecordColumnReader(TDataCursor& cursor) : FCursor(cursor) {}
  void SetRecord(const std::vector<std::uint8_t>* record) { FRecord = record; }
  void ReadColumn(const TExpToken& column, TExpToken& value) override;

 private:
  TDataCursor& FCursor;
  const std::vector<std::uint8_t>* FRecord = nullptr;
};

}  // namespace engine
