// Filters of a table cursor: conditions that hide the records which do not
// satisfy them, and the record bitmaps that say which records are visible.
//
// A filter is an expression filter (a prepared expression tree, usually from
// a filter text) or a procedure filter (a caller's record procedure). Each
// active filter keeps a bitmap of the records that pass it; the list keeps
// the present records (not deleted), the optional range records of its
// cursor, and the visible records:
//
//   visible = present [AND range] AND bitmap of every active filter
//
// Building a filter's bitmap (TFilterList::Recompute and activation):
//   domain := present [AND range] [AND the bitmaps of the active filters
//             before it, for an ordering filter whose level is not 2]
//   result := Apply(tree, domain), where Apply answers a subset of its domain:
//     level 0 node      - every record of the domain is read and evaluated;
//     comparison, IN,
//     BETWEEN (level 2) - index key ranges scanned into a bitmap, AND domain
//                         (<> NOT IN and NOT BETWEEN: domain AND NOT range);
//     NOT               - domain AND NOT Apply(operand, domain);
//     AND               - Apply(second, Apply(first, domain)), the operand
//                         with the better level first, so that what no index
//                         answers is evaluated only on records still possible;
//     OR                - Apply(left, domain) OR Apply(right, domain).
// Optimisation levels (stored in each node): 2 when an index answers the
// node alone, 1 for an AND with one answered operand, 0 otherwise.
//
// Invariants:
//  * at most kMaxFilters filters per list (9482 past it); an unknown handle
//    raises 10050;
//  * every active filter's bitmap is a subset of the present records, and the
//    visible bitmap and count always agree with the formula above after every
//    public call;
//  * a record read that finds the caches dropped by another writer restarts
//    the whole computation (at most kMaxRestarts times).
//
// A cursor's own list (TDataCursor::Filters) is attached to it: every change
// of the list goes through the cursor, which hands over its present and
// range records and takes the visible records for its navigation and counts.
// A list made directly on a cursor is detached: it reads the present records
// itself and leaves the cursor's navigation alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/records_bitmap.h"
#include "engine/table/data_cursor.h"
#include "engine/values/expr_token.h"

namespace engine {

// A procedure filter answers whether record `n` (its R bytes) passes.
using TRecordFilterProc =
    std::function<bool(void* userData, const std::vector<std::uint8_t>& record, std::int32_t n)>;

// The component's filter option bits.
inline constexpr int kFilterOptionCaseInsensitive = 1;
inline constexpr int kFilterOptionNoPartialCompare = 2;

struct TFilterOptions {
  bool caseInsensitive = false;
  bool noPartialCompare = false;
  bool countInversion = true;  // component filters and pushed-down conditions
  bool ordering = false;       // procedure, join and sub-select filters

  static TFilterOptions FromBits(int bits) {
    TFilterOptions o;
    o.caseInsensitive = (bits & kFilterOptionCaseInsensitive) != 0;
    o.noPartialCompare = (bits & kFilterOptionNoPartialCompare) != 0;
    return o;
  }
};

enum class TFilterKind { Expression, Procedure };

class TFilter {
 public:
  TFilterKind Kind() const { return FKind; }
  bool Active() const { return FActive; }
  int OptimisationLevel() const { return FLevel; }
  bool Ordering() const { return FOptions.ordering; }
  const TRecordsBitmap& Bitmap() const { return *FBitmap; }
  const TExpToken* Tree() const { return FTree.get(); }

 private:
  friend class TFilterList;
  TFilterKind FKind = TFilterKind::Expression;
  ExpTree FTree;  // the prepared tree (expression filters)
  TRecordFilterProc FProc;
  void* FUserData = nullptr;
  TFilterOptions FOptions;
  std::unique_ptr<TRecordsBitmap> FBitmap;  // from the pool
  bool FActive = false;
  int FLevel = 0;
  std::int64_t FCount = -1;  // set bits of the bitmap when known at its build, else -1
};

using TFilterHandle = TFilter*;

class TFilterList {
 public:
  static constexpr std::size_t kMaxFilters = 64;
  static constexpr int kMaxRestarts = 8;

  explicit TFilterList(TDataCursor& cursor, bool attached = false);
  ~TFilterList();
  TFilterList(const TFilterList&) = delete;
  TFilterList& operator=(const TFilterList&) = delete;

  // ---- Adding (the new filter is inactive) --------------------------------------
  // Parses, analyses, turns a lone comparison around and prepares `text`;
  // every error is 10051 and leaves the list as it was.
  TFilterHandle AddText(const std::string& text, const TFilterOptions& options);
  // A tree the caller analysed and prepared; the filter owns it.
  TFilterHandle AddTree(ExpTree prepared, const TFilterOptions& options);
  TFilterHandle AddProcedure(TRecordFilterProc proc, void* userData, TFilterOptions options);

  // ---- Life cycle ------------------------------------------------------------------
  // A filter whose bitmap cannot be built (its error is raised) stays inactive.
  void Activate(TFilterHandle filter);
  void ActivateAll();
  void Deactivate(TFilterHandle filter);
  void DeactivateAll();
  void Remove(TFilterHandle filter);
  void RemoveAll();
  // Only for an active filter: new tree (owned), new level and bitmaps.
  void ReplaceExpression(TFilterHandle filter, ExpTree prepared);

  // ---- Record upkeep (the cursor calls these after its own changes) ----------
  void RecordChanged(std::int32_t n, const std::vector<std::uint8_t>& record);
  // The same with the record's range bit as the cursor computed it.
  void RecordChanged(std::int32_t n, const std::vector<std::uint8_t>& record, bool inRange);
  void RecordDeleted(std::int32_t n);

  // ---- Visible records ---------------------------------------------------------------
  // Takes the cursor's present records (null: reads them from the table's
  // system index) and range records (null: no range), and rebuilds every
  // active filter. Activation and removal reuse the present records, which
  // the upkeep calls keep current.
  void Recompute(const TRecordsBitmap* present = nullptr, const TRecordsBitmap* range = nullptr);
  const TRecordsBitmap& Visible() const { return *FVisible; }
  std::uint32_t VisibleCount() const { return FVisibleCount; }
  std::size_t Size() const { return FFilters.size(); }
  bool AnyActive() const;

  // Whether the expression filter's tree passes one record (evaluated, no index).
  bool Passes(const TFilter& filter, const std::vector<std::uint8_t>& record, std::int32_t n);

 private:
  TFilter& Find(TFilterHandle filter);
  TFilterHandle Insert(std::unique_ptr<TFilter> filter);
  void LoadPresent();
  void BuildFilter(TFilter& filter);
  void BuildVisible();
  void RecomputeActive();
  void Changed();  // after a life-cycle change
  void ActivateOrUndo(const std::vector<TFilter*>& activated);
  void WithRestarts(const std::function<void()>& work);

  TDataCursor& FCursor;
  std::vector<std::unique_ptr<TFilter>> FFilters;
  bool FAttached;
  std::unique_ptr<TRecordsBitmap> FPresent;  // present [AND range], unless the cursor's serves
  std::unique_ptr<TRecordsBitmap> FRange;    // empty unless a range is active
  // The records a filter starts from: FPresent, or the cursor's present
  // records while it has no range (an attached list, no copy).
  const TRecordsBitmap* FDomain = nullptr;
  bool FRangeActive = false;
  bool FPresentLoaded = false;
  std::unique_ptr<TRecordsBitmap> FVisible;
  std::uint32_t FVisibleCount = 0;
};

}  // namespace engine
