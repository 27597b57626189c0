// Conditions and joins: the loops that read their records through key
// probes (sql_rows.h, sql_probe.h).
//
// After the loop order is fixed, a level probes when
//  - a join key "column = outer value" names a column that leads one of its
//    table's indexes: at every outer row the keys become constants and a
//    probe over them and the table's own conditions reads the matching
//    records (when the key range is too large, or no probe fits the values,
//    the keys go into a filter for that row as before);
//  - or it has no join key and its own conditions fix the leading fields of
//    an index whose range holds at most kMaxProbeRecords records: those
//    records are read once per run and visited at every outer row.
// A level without any condition of its own or join key reads its table
// through a snapshot too (ReadWholeTable), in its cursor's index order, so
// that walking it costs one read per 64 KB of records instead of one per
// record.
// An inner table probed more than kSnapshotAfterProbes times in a run, or
// whose first probe's range times the driving table's records reaches its
// own record count, is read into memory whole when it is small enough
// (TTableSnapshot): its probes then search its keys in memory.
// Either way the level's table holds no filter of its own while it probes,
// and its records reach the loop in record-number order, as through a
// filtered cursor.
#include <algorithm>

#include "engine/sql/sql_rows.h"

namespace engine {

namespace {

// Probes of one inner loop after which its table is read into memory.
constexpr std::int64_t kSnapshotAfterProbes = 16;

std::vector<const TExpToken*> Without(const std::vector<const TExpToken*>& parts,
                                      const TExpToken* answered) {
  std::vector<const TExpToken*> rest;
  for (const TExpToken* p : parts)
    if (p != answered) rest.push_back(p);
  return rest;
}

}  // namespace

TProbeIndexes& TRowProducer::IndexesOf(TOpenSource* source) {
  std::unique_ptr<TProbeIndexes>& indexes = FIndexes[source];
  if (!indexes) indexes = std::make_unique<TProbeIndexes>(source->Cursor());
  return *indexes;
}

void TRowProducer::ChooseProbes(std::map<TOpenSource*, ExpTree>& prepared, bool installed) {
  for (Level& level : FLevels) {
    TOpenSource* source = level.source;
    auto own = prepared.find(source);
    const bool hasOwn = own != prepared.end() && own->second;
    const bool keyed = std::any_of(level.keys.begin(), level.keys.end(), [&](const JoinKey& k) {
      const TExpToken& c = *k.comparison;
      const TExpToken& side = k.tableOnLeft ? *c.left : *c.right;
      return c.code == kOpEqual && side.tokenClass == kClassColumn && side.sourceTable == source &&
             IndexesOf(source).Leads(side.fieldNo);
    });
    std::optional<TProbeKey> fixed;
    std::int64_t count = 0;
    if (!keyed && level.keys.empty() && hasOwn) {
      std::vector<const TExpToken*> parts;
      SplitConjuncts(own->second.get(), parts);
      fixed = IndexesOf(source).Choose(parts);
      if (fixed) {
        count = ProbeCount(source->Cursor(), *fixed);
        if (count > kMaxProbeRecords) fixed.reset();
      }
    }
    if (!keyed && !fixed && level.keys.empty() && !hasOwn) {
      level.snapshot = ReadWholeTable(source->Cursor(), level.records);
      if (level.snapshot) {
        level.probing = level.fixed = true;
        continue;
      }
    }
    if (!keyed && !fixed) {
      if (!installed && hasOwn) {
        TFilterOptions options;
        options.countInversion = true;
        source->AddFilter(std::move(own->second), options);
      }
      continue;
    }
    if (installed) source->RemoveFilters();
    level.probing = true;
    if (hasOwn) {
      level.own = std::move(own->second);
      SplitConjuncts(level.own.get(), level.ownParts);
    }
    if (fixed) {
      level.fixed = true;
      TRecordTests tests(source->Cursor(), Without(level.ownParts, fixed->answered));
      ReadProbe(source->Cursor(), *fixed, count, tests, level.records);
    }
  }
}

// The records of a keyed level for the current outer row.
void TRowProducer::ProbeKeys(Level& level) {
  TOpenSource& source = *level.source;
  TDataCursor& cursor = source.Cursor();
  level.records.clear();
  ExpTree keys = KeyTree(level);
  std::vector<const TExpToken*> parts;
  SplitConjuncts(keys.get(), parts);
  parts.insert(parts.end(), level.ownParts.begin(), level.ownParts.end());
  if (std::optional<TProbeKey> probe = IndexesOf(&source).Choose(parts)) {
    std::int64_t count = -1;
    if (!level.snapshot && ++level.probes <= kSnapshotAfterProbes) {
      bool take = level.probes == kSnapshotAfterProbes;
      if (level.probes == 1) {
        // When the probes of this run will likely visit as many records as
        // the table holds, reading it whole at once is the cheaper way.
        count = ProbeCount(cursor, *probe);
        take = count * std::max<std::int64_t>(DrivingCount(), 1) >= cursor.RecordCount();
      }
      if (take) level.snapshot = TTableSnapshot::Take(cursor);
    }
    if (level.snapshot) {
      TRecordTests tests(cursor, Without(parts, probe->answered));
      if (level.snapshot->Read(cursor, *probe, tests, level.records)) return;
      level.snapshot = TTableSnapshot::Take(cursor);  // another writer changed the table
      if (level.snapshot && level.snapshot->Read(cursor, *probe, tests, level.records)) return;
      level.snapshot.reset();
      level.records.clear();
    }
    if (count < 0) count = ProbeCount(cursor, *probe);
    if (count <= kMaxProbeRecords) {
      TRecordTests tests(cursor, Without(parts, probe->answered));
      ReadProbe(cursor, *probe, count, tests, level.records);
      return;
    }
  }
  // The keys as a filter for this row, the table's own conditions tested on
  // what it leaves.
  TRecordTests tests(cursor, level.ownParts);
  TFilterOptions options;
  options.countInversion = false;
  options.ordering = true;
  source.AddFilter(std::move(keys), options);
  TDataCursor::TRecordBuffer record;
  cursor.First();
  while (cursor.Next(&record) == kNavOk)
    if (tests.Passes(record))
      level.records.Add(cursor.CurrentRecordNumber(), record.data(), record.size());
  source.RemoveFilters();
}

std::int64_t TRowProducer::DrivingCount() {
  const Level& driving = FLevels.front();
  if (driving.probing) return static_cast<std::int64_t>(driving.records.size());
  return driving.source->Cursor().RecordCount();
}

}  // namespace engine
