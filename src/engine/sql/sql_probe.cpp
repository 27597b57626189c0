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

void ReadProbe(TDataCursor& cursor, const TProbeKey& probe, std::int64_t count, TRecordTests& tests,
               std::vector<TProbeRecord>& out) {
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
    if (tests.Passes(record)) out.push_back({cursor.CurrentRecordNumber(), record});
    if (met + 1 < count) code = cursor.Next(&record);
  }
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
            [](const TProbeRecord& a, const TProbeRecord& b) { return a.number < b.number; });
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

bool TTableSnapshot::Read(TDataCursor& cursor, const TProbeKey& probe, TRecordTests& tests,
                          std::vector<TProbeRecord>& out) {
  FRange.ClearAll();
  cursor.ScanRangeToBitmap(probe.slot, probe.key, probe.key, FRange);
  std::int32_t now[3];
  cursor.Table()->ChangeCounters(now);
  if (!std::equal(now, now + 3, FCounters)) return false;
  const std::size_t first = out.size();
  for (std::uint32_t n = FRange.FindNext(0); n != 0; n = FRange.FindNext(n)) {
    const std::uint32_t slot = n < FSlot.size() ? FSlot[n] : 0;
    if (slot == 0) {
      out.resize(first);  // a record the snapshot does not hold: the table changed
      return false;
    }
    const std::uint8_t* bytes = FBytes.data() + static_cast<std::size_t>(slot - 1) * FRecordSize;
    FRecord.assign(bytes, bytes + FRecordSize);
    if (tests.Passes(FRecord)) out.push_back({static_cast<std::int32_t>(n), FRecord});
  }
  return true;
}

bool TTableSnapshot::ReadInIndexOrder(TDataCursor& cursor, std::vector<TProbeRecord>& out) {
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
      const std::uint8_t* bytes = FBytes.data() + static_cast<std::size_t>(at - 1) * FRecordSize;
      out.push_back({n, TDataCursor::TRecordBuffer(bytes, bytes + FRecordSize)});
    });
  } catch (...) {
    cursor.Table()->EndOperation();
    throw;
  }
  cursor.Table()->EndOperation();
  std::int32_t now[3];
  cursor.Table()->ChangeCounters(now);
  if (missing || !std::equal(now, now + 3, FCounters)) {
    out.resize(first);
    return false;
  }
  return true;
}

bool ReadWholeTable(TDataCursor& cursor, std::vector<TProbeRecord>& out) {
  if (cursor.NaturalOrder() || cursor.BitmapMode() || cursor.RangeActive() ||
      cursor.CurrentIndex() == kSystemIndexNumber)
    return false;
  std::unique_ptr<TTableSnapshot> snapshot = TTableSnapshot::Take(cursor);
  return snapshot && snapshot->ReadInIndexOrder(cursor, out);
}

}  // namespace engine
