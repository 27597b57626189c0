// Key probes (sql_probe.h): choosing the index and reading its range.
#include "engine/sql/sql_probe.h"

#include <algorithm>

#include "engine/storage/data_file.h"
#include "engine/storage/index_btree.h"
#include "engine/storage/index_file.h"

namespace engine {

namespace {

// Types whose key bytes are equal exactly when the values are equal.
bool ExactKeyType(std::uint8_t type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldUInt16 ||
         type == kFieldUInt32 || type == kFieldDate;
}

// Whether the table's change counters are still `counters`, checked as a
// cursor's read checks them: under the table's read lock, which re-reads
// what another process may have changed, when the table is shared.
bool Unchanged(TDataCursor& cursor, const std::int32_t counters[3]) {
  TDataTable& table = *cursor.Table();
  const bool locked = table.StrictChangeDetection() && table.ReadLock();
  std::int32_t now[3];
  table.ChangeCounters(now);
  if (locked) table.ReadUnlock();
  return std::equal(now, now + 3, counters);
}

}  // namespace

TProbeIndexes::TProbeIndexes(TDataCursor& cursor) : FCursor(cursor) {
  TDataFile& data = cursor.Table()->DataFile();
  const auto language = static_cast<std::uint16_t>(data.LanguageId());
  const auto sort = static_cast<std::uint16_t>(data.SortId());
  TIndexFile& index = cursor.Table()->IndexFile();
  for (int slot = kPrimarySlot; slot <= index.SecondaryCount(); ++slot) {
    try {
      TKeyLayout layout =
          TKeyLayout::ForDescriptor(index.Descriptor(slot), slot, cursor.Fields(), language, sort);
      if (layout.KeyLength() == 0 || layout.Fields().empty() || layout.Descending() ||
          layout.Fields()[0].descending || layout.Fields()[0].autoIncrement)
        continue;
      FIndexes.emplace_back(slot, std::move(layout));
    } catch (const EZORVADEngineError&) {
      // A slot without a usable key (no primary key): no index there.
    }
  }
}

bool TProbeIndexes::Leads(int field) const {
  const TFieldDefinitions& fields = FCursor.Fields();
  if (field < 1 || static_cast<std::size_t>(field) > fields.size()) return false;
  const std::uint16_t offset = fields[static_cast<std::size_t>(field - 1)].Offset();
  return std::any_of(FIndexes.begin(), FIndexes.end(), [&](const auto& index) {
    return index.second.Fields()[0].recordOffset == offset;
  });
}

// The conjunct "column = constant" whose column is `field` and whose
// constant the key holds whole, or null.
const TExpToken* TProbeIndexes::FieldEquality(const std::vector<const TExpToken*>& conjuncts,
                                              const TKeyField& field, bool first,
                                              bool caseInsensitive, bool languageZero) const {
  if (field.autoIncrement || field.descending) return nullptr;
  // Under language 0 a case-sensitive string key holds the characters as they
  // are, so a non-empty string is equal exactly when its key bytes are.
  const bool exactString = field.type == kFieldString && languageZero && !caseInsensitive;
  if (!first && !ExactKeyType(field.type) && !exactString) return nullptr;
  if (field.type == kFieldString && caseInsensitive) return nullptr;
  const TFieldDefinitions& fields = FCursor.Fields();
  for (const TExpToken* c : conjuncts) {
    if (c->tokenClass != kClassBinary || c->code != kOpEqual) continue;
    const TExpToken* column = c->left;
    const TExpToken* constant = c->right;
    if (column == nullptr || column->tokenClass != kClassColumn || column->fieldNo < 1 ||
        static_cast<std::size_t>(column->fieldNo) > fields.size())
      continue;
    const TFieldDefinition& f = fields[static_cast<std::size_t>(column->fieldNo - 1)];
    if (!f.HasSlot() || f.Type() == kFieldBlob || f.Offset() != field.recordOffset) continue;
    if (constant == nullptr || constant->tokenClass != kClassConstant || constant->isParameter ||
        constant->isNull || constant->dataType != column->dataType)
      continue;
    if (f.Type() == kFieldString && constant->AsString().size() >= f.StorageSize()) continue;
    if (!first && f.Type() == kFieldString && constant->AsString().empty()) continue;
    return c;
  }
  return nullptr;
}

std::optional<TProbeKey> TProbeIndexes::Choose(
    const std::vector<const TExpToken*>& conjuncts) const {
  std::optional<TProbeKey> best;
  std::size_t bestFields = 0;
  for (const auto& [slot, layout] : FIndexes) {
    std::vector<const TExpToken*> fixed;
    for (const TKeyField& field : layout.Fields()) {
      const TExpToken* c = FieldEquality(conjuncts, field, fixed.empty(), layout.CaseInsensitive(),
                                         layout.LanguageId() == 0);
      if (c == nullptr) break;
      fixed.push_back(c);
    }
    if (fixed.size() <= bestFields) continue;
    bestFields = fixed.size();
    TDataCursor::TRecordBuffer scratch = FCursor.NewRecord();
    int length = 0;
    for (std::size_t i = 0; i < fixed.size(); ++i) {
      const TExpToken& constant = *fixed[i]->right;
      FCursor.PutField(scratch, static_cast<std::uint32_t>(fixed[i]->left->fieldNo),
                       constant.value.data(), constant.value.size());
      length += 1 + layout.Fields()[i].storageSize;
    }
    TProbeKey probe;
    probe.slot = slot;
    probe.layout = &layout;
    probe.key = layout.BuildKey(scratch.data(), scratch.size());
    probe.length = std::min(length, layout.KeyLength());
    probe.key.resize(static_cast<std::size_t>(probe.length));
    probe.answered = fixed.front();
    probe.single = layout.Unique() && fixed.size() == layout.Fields().size();
    best = std::move(probe);
  }
  return best;
}

std::int64_t ProbeCount(TDataCursor& cursor, const TProbeKey& probe) {
  if (probe.single) return 1;  // at most: the key is whole and unique
  return cursor.CountRange(probe.slot, probe.key, probe.key);
}

TRecordTests::TRecordTests(TDataCursor& cursor, std::vector<const TExpToken*> tests)
    : FTests(std::move(tests)), FReader(cursor) {
  FContext.reader = &FReader;
  TDataFile& data = cursor.Table()->DataFile();
  FContext.collation.languageId = static_cast<std::uint16_t>(data.LanguageId());
  FContext.collation.sortId = static_cast<std::uint16_t>(data.SortId());
  FContext.errorCode = kErrFilter;
  FContext.tableName = cursor.Name();
}

bool TRecordTests::Passes(const TDataCursor::TRecordBuffer& record) {
  FReader.SetRecord(&record);
  return std::all_of(FTests.begin(), FTests.end(),
                     [&](const TExpToken* t) { return EvaluateCondition(*t, FContext); });
}

bool TRecordTests::Passes(const std::uint8_t* record, std::size_t size) {
  if (FTests.empty()) return true;
  FRecord.assign(record, record + size);
  return Passes(FRecord);
}

// ---- Probe records ---------------------------------------------------------------------------

void TProbeRecords::Truncate(std::size_t n) {
  // Owned bytes past the remaining entries are left unreferenced.
  if (n < FEntries.size()) FEntries.resize(n);
}

void TProbeRecords::Add(std::int32_t number, const std::uint8_t* record, std::size_t size) {
  FEntries.push_back({number, nullptr, FBytes.size()});
  FBytes.insert(FBytes.end(), record, record + size);
}

void TProbeRecords::AddShared(std::int32_t number, const std::uint8_t* record) {
  FEntries.push_back({number, record, 0});
}

void TProbeRecords::SortByNumber(std::size_t first) {
  std::sort(FEntries.begin() + static_cast<std::ptrdiff_t>(first), FEntries.end(),
            [](const TEntry& a, const TEntry& b) { return a.number < b.number; });
}

void ReadProbe(TDataCursor& cursor, const TProbeKey& probe, std::int64_t count, TRecordTests& tests,
               TProbeRecords& out) {
  if (count <= 0) return;
  if (cursor.CurrentIndex() != probe.slot) cursor.SelectIndex(probe.slot);
  if (!cursor.FindKey(probe.key, probe.length)) return;
  const std::size_t first = out.size();
  TDataCursor::TRecordBuffer record;
  int code = cursor.ReadCurrent(&record);
  std::vector<std::uint8_t> key(static_cast<std::size_t>(probe.layout->KeyLength()));
  for (std::int64_t met = 0; code == kNavOk && met < count; ++met) {
    probe.layout->BuildKey(record.data(), record.size(), key.data());
    if (probe.layout->Compare(key.data(), probe.key.data(), probe.length) != 0) break;
    if (tests.Passes(record)) out.Add(cursor.CurrentRecordNumber(), record.data(), record.size());
    if (met + 1 < count) code = cursor.Next(&record);
  }
  out.SortByNumber(first);
}

std::unique_ptr<TTableSnapshot> TTableSnapshot::Take(TDataCursor& cursor) {
  TDataFile& data = cursor.Table()->DataFile();
  const std::int32_t records = data.RecordCount();
  const std::uint32_t size = cursor.RecordSize();
  if (records > kMaxSnapshotRecords ||
      static_cast<std::int64_t>(records) * size > kMaxSnapshotBytes || size == 0)
    return nullptr;
  auto snapshot = std::make_unique<TTableSnapshot>();
  snapshot->FRecordSize = size;
  snapshot->FRecordCount = records;
  cursor.Table()->ChangeCounters(snapshot->FCounters);
  // Every record is read; its status byte tells whether it is in use.
  TRecordsBitmap all(static_cast<std::uint32_t>(std::max(records, 0)));
  all.SetAll();
  snapshot->FSlot.assign(static_cast<std::size_t>(records) + 1, 0);
  snapshot->FBytes.reserve(static_cast<std::size_t>(records) * size);
  bool complete = false;
  try {
    complete = data.ScanRecords(&cursor, all, [&](std::int32_t n, const std::uint8_t* record) {
      if (record[kRecordStatusOffset] != kRecordInUse) return;
      snapshot->FBytes.insert(snapshot->FBytes.end(), record, record + size);
      snapshot->FSlot[static_cast<std::size_t>(n)] =
          static_cast<std::uint32_t>(snapshot->FBytes.size() / size);
    });
  } catch (...) {
    cursor.Table()->EndOperation();
    throw;
  }
  cursor.Table()->EndOperation();
  std::int32_t now[3];
  cursor.Table()->ChangeCounters(now);
  if (!complete || !std::equal(now, now + 3, snapshot->FCounters)) return nullptr;
  return snapshot;
}

// The keys of the probe's index over the held records, in index order: the
// index's leaves give the record numbers in that order, the held records
// their keys. False when the index names a record the snapshot lacks.
bool TTableSnapshot::BuildKeys(TDataCursor& cursor, const TProbeKey& probe) {
  const TKeyLayout& layout = *probe.layout;
  FKeySlot = -1;
  FKeyLength = layout.KeyLength();
  const auto length = static_cast<std::size_t>(FKeyLength);
  const std::size_t records = FBytes.size() / FRecordSize;
  FKeys.resize(records * length);
  FKeyNumbers.clear();
  FKeyNumbers.reserve(records);
  std::vector<std::uint8_t> low(length), high(length);
  layout.LowestKey(low.data());
  layout.HighestKey(high.data());
  bool missing = false;
  TIndexTree tree(cursor.Table()->IndexFile(), probe.slot, layout, &cursor);
  try {
    tree.ScanRange(low.data(), high.data(), FKeyLength, [&](std::int32_t n) {
      const std::uint32_t at = n > 0 && static_cast<std::size_t>(n) < FSlot.size()
                                   ? FSlot[static_cast<std::size_t>(n)]
                                   : 0;
      if (at == 0 || FKeyNumbers.size() == records) {
        missing = true;
        return;
      }
      layout.BuildKey(FBytes.data() + static_cast<std::size_t>(at - 1) * FRecordSize, FRecordSize,
                      FKeys.data() + FKeyNumbers.size() * length);
      FKeyNumbers.push_back(n);
    });
  } catch (...) {
    cursor.Table()->EndOperation();
    throw;
  }
  cursor.Table()->EndOperation();
  if (missing) return false;
  FKeySlot = probe.slot;
  return true;
}

bool TTableSnapshot::Read(TDataCursor& cursor, const TProbeKey& probe, TRecordTests& tests,
                          TProbeRecords& out) {
  if (FKeySlot != probe.slot && !BuildKeys(cursor, probe)) return false;
  if (!Unchanged(cursor, FCounters) || cursor.Table()->DataFile().RecordCount() != FRecordCount)
    return false;
  const TKeyLayout& layout = *probe.layout;
  const auto length = static_cast<std::size_t>(FKeyLength);
  // The first key whose prefix is not below the probe's, by binary search.
  std::size_t low = 0, high = FKeyNumbers.size();
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    if (layout.Compare(FKeys.data() + mid * length, probe.key.data(), probe.length) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  FFound.clear();
  for (std::size_t i = low; i < FKeyNumbers.size(); ++i) {
    if (layout.Compare(FKeys.data() + i * length, probe.key.data(), probe.length) != 0) break;
    FFound.push_back(FKeyNumbers[i]);
  }
  std::sort(FFound.begin(), FFound.end());
  for (const std::int32_t n : FFound) {
    const std::uint8_t* bytes =
        FBytes.data() +
        static_cast<std::size_t>(FSlot[static_cast<std::size_t>(n)] - 1) * FRecordSize;
    if (tests.Passes(bytes, FRecordSize)) out.AddShared(n, bytes);
  }
  return true;
}

bool TTableSnapshot::ReadInIndexOrder(TDataCursor& cursor, TProbeRecords& out) {
  const int slot = cursor.CurrentIndex();
  TDataFile& data = cursor.Table()->DataFile();
  TIndexFile& index = cursor.Table()->IndexFile();
  const TKeyLayout layout = TKeyLayout::ForDescriptor(index.Descriptor(slot), slot, cursor.Fields(),
                                                      static_cast<std::uint16_t>(data.LanguageId()),
                                                      static_cast<std::uint16_t>(data.SortId()));
  std::vector<std::uint8_t> low(static_cast<std::size_t>(layout.KeyLength()));
  std::vector<std::uint8_t> high(low.size());
  layout.LowestKey(low.data());
  layout.HighestKey(high.data());
  const std::size_t first = out.size();
  bool missing = false;
  TIndexTree tree(index, slot, layout, &cursor);
  try {
    tree.ScanRange(low.data(), high.data(), layout.KeyLength(), [&](std::int32_t n) {
      const std::uint32_t at = n > 0 && static_cast<std::size_t>(n) < FSlot.size()
                                   ? FSlot[static_cast<std::size_t>(n)]
                                   : 0;
      if (at == 0) {
        missing = true;
        return;
      }
      out.AddShared(n, FBytes.data() + static_cast<std::size_t>(at - 1) * FRecordSize);
    });
  } catch (...) {
    cursor.Table()->EndOperation();
    throw;
  }
  cursor.Table()->EndOperation();
  std::int32_t now[3];
  cursor.Table()->ChangeCounters(now);
  if (missing || !std::equal(now, now + 3, FCounters)) {
    out.Truncate(first);
    return false;
  }
  return true;
}

std::unique_ptr<TTableSnapshot> ReadWholeTable(TDataCursor& cursor, TProbeRecords& out) {
  if (cursor.NaturalOrder() || cursor.BitmapMode() || cursor.RangeActive() ||
      cursor.CurrentIndex() == kSystemIndexNumber)
    return nullptr;
  std::unique_ptr<TTableSnapshot> snapshot = TTableSnapshot::Take(cursor);
  if (!snapshot || !snapshot->ReadInIndexOrder(cursor, out)) return nullptr;
  return snapshot;
}

}  // namespace engine
