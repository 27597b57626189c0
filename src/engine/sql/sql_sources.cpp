// Source tables of a query block: opening them, resolving and reading their
// columns (sql_sources.h).
#include "engine/sql/sql_sources.h"

#include <algorithm>

#include "engine/files/table_names.h"

namespace engine {

namespace {

constexpr const char* kMemoryDirectoryName = "MEMORY";

}  // namespace

TOpenSource::TOpenSource(TDataSession& session, TDataDirectory* statementDirectory,
                         const TQuerySource& source, int ordinal, bool readOnly)
    : FSession(session),
      FCorrelation(source.correlationName),
      FOrdinal(ordinal),
      FJoinType(source.joinType) {
  if (source.memory) {
    FDirectory = session.OpenDirectory(kMemoryDirectoryName, "");
    FOwnDirectory = true;
  } else if (!source.directory.empty()) {
    FDirectory = session.OpenDirectory("", source.directory);
    FOwnDirectory = true;
  } else {
    FDirectory = statementDirectory;
  }
  try {
    FCursor = std::make_unique<TDataCursor>(FDirectory, source.tableName);
    TCursorOptions options;
    options.readOnly = readOnly;
    options.inMemory = source.memory;
    FCursor->SetOptions(options);
    FCursor->Open();
    FBuffer.assign(FCursor->RecordSize(), 0);
  } catch (...) {
    FCursor.reset();
    if (FOwnDirectory) session.CloseDirectory(FDirectory);
    throw;
  }
}

TOpenSource::~TOpenSource() {
  try {
    RemoveFilters();
  } catch (...) {
    // The cursor is closed below; its filters go with it.
  }
  FCursor.reset();
  if (FOwnDirectory) FSession.CloseDirectory(FDirectory);
}

void TOpenSource::SetNullRow(bool on) {
  FNullRow = on;
  if (on) std::fill(FBuffer.begin(), FBuffer.end(), 0);
}

TFilterHandle TOpenSource::AddFilter(ExpTree prepared, const TFilterOptions& options) {
  TFilterHandle handle = FCursor->Filters().AddTree(std::move(prepared), options);
  FFilters.push_back(handle);
  FCursor->Filters().Activate(handle);
  return handle;
}

void TOpenSource::RemoveFilters() {
  if (FFilters.empty() || !FCursor || !FCursor->IsOpen()) return;
  std::vector<TFilterHandle> filters;
  filters.swap(FFilters);
  for (TFilterHandle f : filters) FCursor->Filters().Remove(f);
}

TQueryReadLocks::TQueryReadLocks(TSourceList& sources, bool on) {
  if (!on) return;
  try {
    for (auto& s : sources) {
      s->Cursor().QueryReadLock();
      FLocked.push_back(&s->Cursor());
    }
  } catch (...) {
    Release();  // the locks taken before the failing one
    throw;
  }
}

TQueryReadLocks::~TQueryReadLocks() {
  Release();
}

void TQueryReadLocks::Release() {
  std::vector<TDataCursor*> locked;
  locked.swap(FLocked);
  for (TDataCursor* c : locked) {
    try {
      c->QueryReadUnlock();
    } catch (...) {
      // The lock goes with the cursor at the latest.
    }
  }
}

// ---- Columns -------------------------------------------------------------------------------

void SetTypeFromField(TExpToken& node, const TFieldDefinition& field) {
  int size = static_cast<int>(StorageSizeOf(field.Type(), field.Size()));
  if (field.Type() == kFieldBlob) size = kSize64;
  node.SetType(field.Type(), field.Subtype(), size, field.Type() == kFieldBcd ? field.Scale() : 0);
}

TOpenSource* TSourceColumns::FindSource(const std::string& correlation) const {
  for (const auto& s : FSources)
    if (SameText(s->CorrelationName(), correlation)) return s.get();
  return nullptr;
}

bool TSourceColumns::Lookup(const std::string& correlation, const std::string& column,
                            TOpenSource*& source, std::uint32_t& field) const {
  source = nullptr;
  field = 0;
  const bool wholeTable = column.empty() || column == "*";
  if (!correlation.empty()) {
    source = FindSource(correlation);
    if (source == nullptr) return false;
    if (wholeTable) return true;
    field = source->Cursor().FieldNumber(column);
    return field != 0;
  }
  if (wholeTable) {
    if (FSources.empty()) return false;
    source = FSources.front().get();
    return true;
  }
  for (const auto& s : FSources) {
    field = s->Cursor().FieldNumber(column);
    if (field != 0) {
      source = s.get();
      return true;
    }
  }
  return false;
}

bool TSourceColumns::ResolveColumn(TExpToken& node) {
  TOpenSource* source = nullptr;
  std::uint32_t field = 0;
  if (!Lookup(node.correlationName, node.columnName, source, field)) return false;
  // COUNT(c.*) reads the table's first column, only to have one.
  if (field == 0 && node.columnName == "*" && source->Cursor().FieldCount() > 0) field = 1;
  if (field == 0) return false;
  node.fieldNo = static_cast<int>(field);
  node.sourceTable = source;
  SetTypeFromField(node, source->Cursor().Fields()[field - 1]);
  return true;
}

void TSourceColumns::ReadColumn(const TExpToken& column, TExpToken& value) {
  auto* source = static_cast<TOpenSource*>(column.sourceTable);
  const auto field = static_cast<std::uint32_t>(column.fieldNo);
  TDataCursor& cursor = source->Cursor();
  TDataCursor::TRecordBuffer& record = source->Buffer();
  if (source->NullRow() || cursor.IsNull(record, field)) {
    value.SetNull();
    return;
  }
  value.isNull = false;
  if (cursor.Fields()[field - 1].Type() == kFieldBlob) {
    value.value = cursor.GetBlob(record, field);
    if (value.IsMemo()) value.value.push_back(0);
    return;
  }
  value.value = cursor.GetField(record, field);
}

// ---- Tree walks ----------------------------------------------------------------------------

void CollectSources(const TExpToken& node, std::vector<TOpenSource*>& into) {
  if (node.tokenClass == kClassColumn && node.sourceTable != nullptr) {
    auto* s = static_cast<TOpenSource*>(node.sourceTable);
    if (std::find(into.begin(), into.end(), s) == into.end()) into.push_back(s);
  }
  for (const TExpToken* child : {node.left, node.right, node.third, node.next})
    if (child != nullptr) CollectSources(*child, into);
}

bool ContainsSubSelect(const TExpToken& node) {
  if (node.tokenClass == kClassSubSelect || node.code == kOpInSelect || node.code == kOpNotInSelect)
    return true;
  for (const TExpToken* child : {node.left, node.right, node.third, node.next})
    if (child != nullptr && ContainsSubSelect(*child)) return true;
  return false;
}

bool ContainsAggregate(const TExpToken& node) {
  if (node.tokenClass == kClassFunction && IsAggregateCode(node.code)) return true;
  for (const TExpToken* child : {node.left, node.right, node.third, node.next})
    if (child != nullptr && ContainsAggregate(*child)) return true;
  return false;
}

}  // namespace engine
