// Conditions and joins: how the WHERE tree of a block (with its JOIN ON
// conditions ANDed in) is taken apart over the source tables, and how the
// rows of the block are produced by nested loops.
//
// Planning, at every run (the tree is analysed by the caller first):
//  1. The tree is split at its top-level ANDs into conjuncts; an OR or NOT
//     stays whole, so no comparison is taken out from under them.
//  2. The conjuncts that refer to one table T are ANDed into one filter on
//     T's cursor (prepared with partial matching, so FileName = 'abc*'
//     matches by prefix): index key ranges restrict what T's loop reads, and
//     the parts no index answers are evaluated only on what the others left. Exception:
//     a WHERE conjunct (not from an ON clause) on the NULL-extended side of
//     an outer join is tested on the finished row, since it must see the
//     NULLs of an unmatched row; and a part of an outer join's ON condition
//     that does not name the NULL-extended table is tested at that table's
//     loop, where it decides which records match (an unmatched row still
//     comes out NULL-extended). Conjuncts holding sub-selects are tested
//     record by record at their table's loop.
//  3. Loop order: FROM order when the block has outer joins or NOJOINOPTIMIZE;
//     otherwise, when join conditions exist, the table with the fewest
//     visible records drives when it has fewer than the first table, and the
//     others follow connected to what is already in the loop, smallest
//     first.
//  4. A conjunct over several tables belongs to the loop of its innermost
//     table. A comparison whose one side refers only to that table and whose
//     other side only to outer tables is a join key: for every outer row the
//     other side is evaluated to a constant and "column op constant" is
//     installed as a filter on the inner cursor, so that an index on the
//     joined column reads a key range. Other conjuncts are tested on each
//     candidate record of that loop.
//
// Producing rows: loop i walks the visible records of its table; a record
// whose loop tests hold goes on to loop i+1; a full row is produced when the
// row tests hold. A NULL-extended table whose loop found no record yields one
// row with every column NULL. The loops keep their place between rows, so a
// caller may take the rows one at a time (Start, Step) and stop anywhere.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/sql/expr_eval.h"
#include "engine/sql/sql_probe.h"
#include "engine/sql/sql_sources.h"

namespace engine {

class TRowProducer {
 public:
  TRowProducer(TSourceList& sources, const EvaluationContext& evaluation)
      : FSources(sources), FEval(evaluation) {}

  // Removes the filters of an earlier run and plans this one over `where`
  // (analysed; may be null). With `probes`, tables may be read through key
  // probes (sql_probe.h) instead of filters; only for a caller that reads
  // the rows from the sources' buffers, never from their cursors.
  void Plan(const TExpToken* where, bool optimiseOrder, bool probes = false);
  // Calls `row` for every qualifying row; it answers false to stop.
  // `drivingMoved` is called whenever the driving table reaches a new record.
  void Run(const std::function<bool()>& row, const std::function<void()>& drivingMoved = {});
  // The same loops one row at a time: Start, then Step until it answers
  // false; each true leaves the row's records in the sources' buffers.
  // Stop (also done by the last Step) clears the NULL-extended rows.
  void Start(const std::function<void()>& drivingMoved = {});
  bool Step();
  void Stop();

  TOpenSource& Driving() { return *FLevels.front().source; }
  // The number of records the driving loop visits (before its loop tests).
  std::int64_t DrivingCount();
  // True when the driving cursor's visible records are exactly the rows.
  bool FiltersAnswerAll() const;

 private:
  struct JoinKey {
    const TExpToken* comparison;
    bool tableOnLeft;
  };
  struct Level {
    TOpenSource* source = nullptr;
    std::vector<JoinKey> keys;
    std::vector<const TExpToken*> checks;
    TFilterHandle keyFilter = nullptr;
    // A probing level reads its records through key probes; its cursor holds
    // no filter of its own, and its own conditions (`own`, prepared as a
    // filter's) are tested on the records a probe finds.
    bool probing = false;
    ExpTree own;
    std::vector<const TExpToken*> ownParts;
    bool fixed = false;  // no join key: the same records at every visit
    TProbeRecords records;
    std::int64_t probes = 0;  // of this run
    std::unique_ptr<TTableSnapshot> snapshot;
    // Where a run stands in this loop: the next probed record, whether a
    // record matched at this visit, whether its NULL-extended row was given.
    std::size_t next = 0;
    bool matched = false;
    bool nullGiven = false;
  };

  void Order(const std::vector<const TExpToken*>& multi, bool optimiseOrder);
  int LevelOf(const TOpenSource* source) const;
  void PlaceMultiTable(const TExpToken* conjunct);
  ExpTree KeyTree(const Level& level) const;
  void InstallKeys(Level& level);
  void ChooseProbes(std::map<TOpenSource*, ExpTree>& prepared, bool installed);
  void ProbeKeys(Level& level);
  TProbeIndexes& IndexesOf(TOpenSource* source);
  bool Passes(const std::vector<const TExpToken*>& tests) const;
  // Loop i begins a visit for the current records of the loops before it.
  void Enter(std::size_t i);
  // Loop i moves to its next record whose loop tests hold, or to its
  // NULL-extended row; false when the visit is over.
  bool Advance(std::size_t i);

  TSourceList& FSources;
  const EvaluationContext& FEval;
  std::vector<Level> FLevels;
  std::vector<const TExpToken*> FRowTests;
  std::function<void()> FDrivingMoved;
  std::size_t FDepth = 0;  // the innermost loop entered
  bool FRunning = false;
  std::map<TOpenSource*, std::unique_ptr<TProbeIndexes>> FIndexes;  // rebuilt at each plan
};

// The conjuncts of a tree split at its top-level ANDs.
void SplitConjuncts(const TExpToken* node, std::vector<const TExpToken*>& into);

}  // namespace engine
