// Conditions and joins: planning the loops and producing rows (sql_rows.h).
#include "engine/sql/sql_rows.h"

#include <algorithm>
#include <map>

#include "engine/sql/expr_prepare.h"
#include "engine/sql/expr_rewrite.h"

namespace engine {

namespace {

int MirroredComparison(int code) {
  switch (code) {
    case kOpLess:
      return kOpGreater;
    case kOpGreater:
      return kOpLess;
    case kOpLessEqual:
      return kOpGreaterEqual;
    case kOpGreaterEqual:
      return kOpLessEqual;
    default:
      return code;
  }
}

void Attach(TExpToken& parent, TExpToken*& slot, ExpTree child) {
  slot = child.release();
  slot->parent = &parent;
}

ExpTree NewBooleanOperator(int tokenClass, int code, const char* text) {
  ExpTree node = NewToken();
  node->tokenClass = tokenClass;
  node->code = code;
  node->text = text;
  node->SetType(kFieldBoolean, 0, kSize16, 0);
  return node;
}

bool IsSubsetOfLevels(const std::vector<TOpenSource*>& sources,
                      const std::function<int(const TOpenSource*)>& levelOf, int below) {
  if (sources.empty()) return false;
  return std::all_of(sources.begin(), sources.end(),
                     [&](const TOpenSource* s) { return levelOf(s) < below; });
}

}  // namespace

void SplitConjuncts(const TExpToken* node, std::vector<const TExpToken*>& into) {
  if (node == nullptr) return;
  if (node->tokenClass == kClassBinary && node->code == kOpAnd) {
    SplitConjuncts(node->left, into);
    SplitConjuncts(node->right, into);
    return;
  }
  into.push_back(node);
}

namespace {

// The NULL-extended table of an outer join's ON condition: the later table
// of its LEFT or RIGHT JOIN comparisons.
TOpenSource* OuterTableOf(const TExpToken& node) {
  TOpenSource* outer = nullptr;
  if (node.tokenClass == kClassBinary && IsComparisonCode(node.code) &&
      (node.joinKind == kJoinLeft || node.joinKind == kJoinRight)) {
    std::vector<TOpenSource*> refs;
    CollectSources(node, refs);
    for (TOpenSource* s : refs)
      if (s->JoinType() == kSourceOuter && (outer == nullptr || s->Ordinal() > outer->Ordinal()))
        outer = s;
    return outer;
  }
  for (const TExpToken* child : {node.left, node.right, node.third}) {
    if (child == nullptr) continue;
    TOpenSource* s = OuterTableOf(*child);
    if (s != nullptr && (outer == nullptr || s->Ordinal() > outer->Ordinal())) outer = s;
  }
  return outer;
}

// The conjuncts of the WHERE tree, each with the NULL-extended table of the
// outer join whose ON condition it comes from (or none). The parser ANDs each
// ON condition, whose nodes carry the ON mark, into the tree with unmarked
// ANDs.
void CollectConjuncts(const TExpToken* node,
                      std::vector<std::pair<const TExpToken*, TOpenSource*>>& into) {
  if (node == nullptr) return;
  if (node->tokenClass == kClassBinary && node->code == kOpAnd && !node->onClause) {
    CollectConjuncts(node->left, into);
    CollectConjuncts(node->right, into);
    return;
  }
  TOpenSource* outer = node->onClause ? OuterTableOf(*node) : nullptr;
  std::vector<const TExpToken*> parts;
  SplitConjuncts(node, parts);
  for (const TExpToken* p : parts) into.emplace_back(p, outer);
}

}  // namespace

void TRowProducer::Plan(const TExpToken* where, bool optimiseOrder, bool probes) {
  for (auto& s : FSources) s->RemoveFilters();
  FLevels.clear();
  FRowTests.clear();
  FIndexes.clear();
  std::vector<std::pair<const TExpToken*, TOpenSource*>> conjuncts;
  CollectConjuncts(where, conjuncts);

  // Pass 1: single-table conjuncts become filters of their table.
  std::vector<const TExpToken*> multi, constant, loopTests;
  std::vector<TOpenSource*> loopTestSources;
  std::map<TOpenSource*, ExpTree> filterTrees;
  for (const auto& [c, outer] : conjuncts) {
    std::vector<TOpenSource*> refs;
    CollectSources(*c, refs);
    // A part of an outer join's ON condition that does not name the
    // NULL-extended table decides only whether its records match.
    if (outer != nullptr && std::find(refs.begin(), refs.end(), outer) == refs.end()) {
      loopTests.push_back(c);
      loopTestSources.push_back(outer);
      continue;
    }
    if (refs.size() > 1) {
      multi.push_back(c);
      continue;
    }
    if (refs.empty()) {
      constant.push_back(c);
      continue;
    }
    TOpenSource* table = refs.front();
    if (table->JoinType() == kSourceOuter && !c->onClause) {
      FRowTests.push_back(c);
    } else if (ContainsSubSelect(*c)) {
      loopTests.push_back(c);
      loopTestSources.push_back(table);
    } else {
      ExpTree copy = CopyTree(*c);
      TurnComparisonAround(*copy);
      ExpTree& combined = filterTrees[table];
      if (!combined) {
        combined = std::move(copy);
      } else {
        ExpTree both = NewBooleanOperator(kClassBinary, kOpAnd, "AND");
        Attach(*both, both->left, std::move(combined));
        Attach(*both, both->right, std::move(copy));
        combined = std::move(both);
      }
    }
  }
  // One filter per table holds all its parts, so that the parts an index
  // answers narrow the records on which the others are evaluated. A single
  // table that may be probed gets its filter only when no probe serves; with
  // several tables every filter is installed first, since the loop order
  // depends on the visible counts.
  std::map<TOpenSource*, ExpTree> prepared;
  for (auto& [table, tree] : filterTrees) {
    PrepareOptions prepare;
    prepare.partialCompare = true;
    prepare.collation = FEval.collation;
    prepared[table] = PrepareExpression(*tree, prepare);
  }
  const bool installFirst = !probes || FSources.size() > 1;
  if (installFirst) {
    for (auto& [table, tree] : prepared) {
      TFilterOptions options;
      options.countInversion = true;
      table->AddFilter(probes ? CopyTree(*tree) : std::move(tree), options);
    }
  }

  Order(multi, optimiseOrder);
  FLevels.front().checks = constant;
  for (std::size_t i = 0; i < loopTests.size(); ++i)
    FLevels[static_cast<std::size_t>(LevelOf(loopTestSources[i]))].checks.push_back(loopTests[i]);
  for (const TExpToken* c : multi) PlaceMultiTable(c);
  if (probes) ChooseProbes(prepared, installFirst);
}

void TRowProducer::Order(const std::vector<const TExpToken*>& multi, bool optimiseOrder) {
  std::vector<TOpenSource*> order;
  for (auto& s : FSources) order.push_back(s.get());
  const bool outer = std::any_of(order.begin(), order.end(), [](const TOpenSource* s) {
    return s->JoinType() == kSourceOuter;
  });
  if (optimiseOrder && !outer && !multi.empty() && order.size() > 1) {
    std::vector<std::int64_t> counts;
    for (TOpenSource* s : order) counts.push_back(s->Cursor().RecordCount());
    std::vector<std::vector<TOpenSource*>> refs;
    for (const TExpToken* c : multi) {
      refs.emplace_back();
      CollectSources(*c, refs.back());
    }
    std::vector<TOpenSource*> chosen;
    std::vector<bool> taken(order.size(), false);
    auto take = [&](std::size_t i) {
      taken[i] = true;
      chosen.push_back(order[i]);
    };
    std::size_t driver = 0;
    for (std::size_t i = 1; i < order.size(); ++i)
      if (counts[i] < counts[driver]) driver = i;
    take(driver);
    while (chosen.size() < order.size()) {
      std::size_t best = order.size();
      for (std::size_t i = 0; i < order.size(); ++i) {
        if (taken[i]) continue;
        const bool connected = std::any_of(refs.begin(), refs.end(), [&](const auto& r) {
          return std::find(r.begin(), r.end(), order[i]) != r.end() &&
                 std::any_of(r.begin(), r.end(), [&](const TOpenSource* s) {
                   return std::find(chosen.begin(), chosen.end(), s) != chosen.end();
                 });
        });
        if (connected && (best == order.size() || counts[i] < counts[best])) best = i;
      }
      if (best == order.size())
        best =
            static_cast<std::size_t>(std::find(taken.begin(), taken.end(), false) - taken.begin());
      take(best);
    }
    order = chosen;
  }
  for (TOpenSource* s : order) {
    Level level;
    level.source = s;
    FLevels.push_back(std::move(level));
  }
}

int TRowProducer::LevelOf(const TOpenSource* source) const {
  for (std::size_t i = 0; i < FLevels.size(); ++i)
    if (FLevels[i].source == source) return static_cast<int>(i);
  return -1;
}

void TRowProducer::PlaceMultiTable(const TExpToken* conjunct) {
  std::vector<TOpenSource*> refs;
  CollectSources(*conjunct, refs);
  int inner = 0;
  bool touchesOuter = false;
  for (const TOpenSource* s : refs) {
    inner = std::max(inner, LevelOf(s));
    touchesOuter = touchesOuter || s->JoinType() == kSourceOuter;
  }
  if (touchesOuter && !conjunct->onClause) {
    FRowTests.push_back(conjunct);
    return;
  }
  Level& level = FLevels[static_cast<std::size_t>(inner)];
  const auto levelOf = [this](const TOpenSource* s) { return LevelOf(s); };
  if (conjunct->tokenClass == kClassBinary && IsComparisonCode(conjunct->code) &&
      !ContainsSubSelect(*conjunct)) {
    std::vector<TOpenSource*> left, right;
    CollectSources(*conjunct->left, left);
    CollectSources(*conjunct->right, right);
    const bool leftIsTable = left.size() == 1 && left.front() == level.source;
    const bool rightIsTable = right.size() == 1 && right.front() == level.source;
    if (leftIsTable && IsSubsetOfLevels(right, levelOf, inner)) {
      level.keys.push_back({conjunct, true});
      return;
    }
    if (rightIsTable && IsSubsetOfLevels(left, levelOf, inner)) {
      level.keys.push_back({conjunct, false});
      return;
    }
  }
  level.checks.push_back(conjunct);
}

ExpTree TRowProducer::KeyTree(const Level& level) const {
  ExpTree combined;
  for (const JoinKey& key : level.keys) {
    const TExpToken& c = *key.comparison;
    const TExpToken& tableSide = key.tableOnLeft ? *c.left : *c.right;
    const TExpToken& otherSide = key.tableOnLeft ? *c.right : *c.left;
    ExpTree value = EvaluateExpression(otherSide, FEval);
    value->tokenClass = kClassConstant;
    value->left = value->right = value->third = value->next = nullptr;
    ExpTree comparison = NewBooleanOperator(
        kClassBinary, key.tableOnLeft ? c.code : MirroredComparison(c.code), c.text.c_str());
    Attach(*comparison, comparison->left, CopyTree(tableSide));
    Attach(*comparison, comparison->right, std::move(value));
    if (!combined) {
      combined = std::move(comparison);
    } else {
      ExpTree both = NewBooleanOperator(kClassBinary, kOpAnd, "AND");
      Attach(*both, both->left, std::move(combined));
      Attach(*both, both->right, std::move(comparison));
      combined = std::move(both);
    }
  }
  PrepareOptions prepare;
  prepare.partialCompare = false;
  prepare.collation = FEval.collation;
  return PrepareExpression(*combined, prepare);
}

void TRowProducer::InstallKeys(Level& level) {
  ExpTree prepared = KeyTree(level);
  if (level.keyFilter == nullptr) {
    TFilterOptions options;
    options.countInversion = false;
    options.ordering = true;
    level.keyFilter = level.source->AddFilter(std::move(prepared), options);
  } else {
    level.source->Cursor().Filters().ReplaceExpression(level.keyFilter, std::move(prepared));
  }
}

bool TRowProducer::Passes(const std::vector<const TExpToken*>& tests) const {
  return std::all_of(tests.begin(), tests.end(),
                     [this](const TExpToken* t) { return EvaluateCondition(*t, FEval); });
}

bool TRowProducer::FiltersAnswerAll() const {
  return FLevels.size() == 1 && !FLevels.front().probing && FLevels.front().checks.empty() &&
         FLevels.front().keys.empty() && FRowTests.empty();
}

void TRowProducer::Run(const std::function<bool()>& row,
                       const std::function<void()>& drivingMoved) {
  Start(drivingMoved);
  while (Step()) {
    if (!row()) break;
  }
  Stop();
}

void TRowProducer::Start(const std::function<void()>& drivingMoved) {
  FDrivingMoved = drivingMoved;
  for (Level& level : FLevels) level.keyFilter = nullptr;
  FDepth = 0;
  FRunning = true;
  Enter(0);
}

bool TRowProducer::Step() {
  if (!FRunning) return false;
  std::size_t i = FDepth;
  for (;;) {
    if (Advance(i)) {
      if (i + 1 < FLevels.size()) {
        Enter(++i);
        continue;
      }
      if (!Passes(FRowTests)) continue;
      FDepth = i;
      return true;
    }
    if (i == 0) break;
    --i;
  }
  Stop();
  return false;
}

void TRowProducer::Stop() {
  FRunning = false;
  for (auto& s : FSources) s->SetNullRow(false);
}

void TRowProducer::Enter(std::size_t i) {
  Level& level = FLevels[i];
  level.source->SetNullRow(false);
  level.next = 0;
  level.matched = level.nullGiven = false;
  if (level.probing) {
    if (!level.fixed) ProbeKeys(level);
    return;
  }
  if (!level.keys.empty()) InstallKeys(level);
  level.source->Cursor().First();
}

bool TRowProducer::Advance(std::size_t i) {
  Level& level = FLevels[i];
  TOpenSource& source = *level.source;
  if (level.nullGiven) {
    source.SetNullRow(false);
    return false;
  }
  for (;;) {
    if (level.probing) {
      if (level.next == level.records.size()) break;
      std::copy_n(level.records.Record(level.next++), source.Buffer().size(),
                  source.Buffer().data());
    } else if (source.Cursor().Next(&source.Buffer()) != kNavOk) {
      break;
    }
    if (i == 0 && FDrivingMoved) FDrivingMoved();
    if (!Passes(level.checks)) continue;
    level.matched = true;
    return true;
  }
  if (!level.matched && source.JoinType() == kSourceOuter) {
    source.SetNullRow(true);
    level.nullGiven = true;
    return true;
  }
  return false;
}

}  // namespace engine
