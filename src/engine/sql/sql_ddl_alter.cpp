// ALTER TABLE (sql_executor.h): a table rebuilt with a changed structure.
//
// Steps:
//  1. The table is opened exclusively. Every table option the statement did
//     not give is taken from the table: password, language and sort, user
//     versions, description, BLOB block size.
//  2. Working lists start as copies of the table's field definitions and of
//     its index definitions (primary first). Each working field remembers the
//     field it came from (0 for an added one); index definitions name fields
//     by those identities until the new table is laid out.
//  3. The column actions apply in written order: ADD appends a definition or
//     inserts it at AT; REDEFINE finds the column by its current name, moves
//     it to AT, and replaces what the action gives (type, name, description,
//     NOT NULL, CHARCASE, DEFAULT, MIN, MAX); DROP removes it. A dropped
//     column also leaves every index definition; an index left without
//     columns goes (the primary one leaves the table without a primary key).
//  4. The first primary key action counts: ADD (only on a table without a
//     primary key) or REDEFINE replaces the primary index, DROP removes it.
//  5. A new table set is created beside the table under a work name and every
//     record is copied into it, field by field through value conversion, with
//     its auto-increment value and its BLOBs. The last auto-increment value is
//     the table's, or LAST AUTOINC when given.
//  6. The old files become the backup copies N.DBK, N.IBK and N.BBK (earlier
//     ones replaced), or are deleted with NOBACKUP, and the new set takes the
//     table's name.
// Any failure before step 6 deletes the new set and leaves the table as it
// was.
#include <algorithm>

#include "engine/errors.h"
#include "engine/files/table_names.h"
#include "engine/sql/expr_error.h"
#include "engine/sql/sql_ddl.h"
#include "engine/sql/sql_executor.h"
#include "engine/sql/sql_values.h"

namespace engine {

namespace {

constexpr std::size_t kMaxAlterFields = 1023;   // field definitions passed on
constexpr std::size_t kMaxAlterIndexes = 32;    // index definitions passed on
constexpr const char* kWorkPrefix = "_alter_";  // the new set's name while it is filled
constexpr const char* kCopySuffix = " in ALTER TABLE statement";

[[noreturn]] void Fail(const std::string& message) {
  RaiseExpressionError(kErrSql, {}, message);
}

struct TWorkField {
  TFieldDefinition definition;
  int origin = 0;  // the old table's field number; 0 for an added column
  int id = 0;      // identity used by the index definitions below
};

struct TWorkIndex {
  TIndexDefinition definition;  // fieldNumbers hold field identities
};

TIndexDefinition DefinitionOfSlot(TIndexFile& index, int slot) {
  TIndexDefinition d;
  const TIndexDescriptor descriptor = index.Descriptor(slot);
  d.name = descriptor.Name();
  d.descending = descriptor.Descending();
  d.caseInsensitive = descriptor.CaseInsensitive();
  d.unique = descriptor.Unique();
  d.compression = descriptor.Compression();
  for (int i = 0; i < descriptor.FieldCount(); ++i) {
    d.fieldNumbers.push_back(descriptor.FieldNumber(i));
    d.fieldDescending.push_back(descriptor.FieldDescending(i));
  }
  return d;
}

// Adds the session password for the length of the copy when the session does
// not know it yet.
class TSessionPassword {
 public:
  TSessionPassword(TDataSession& session, const std::string& password) : FSession(session) {
    FAdded = !password.empty() && !session.HasPassword(password);
    if (FAdded) {
      session.AddPassword(password);
      FPassword = password;
    }
  }
  ~TSessionPassword() {
    if (FAdded) FSession.RemovePassword(FPassword);
  }
  TSessionPassword(const TSessionPassword&) = delete;
  TSessionPassword& operator=(const TSessionPassword&) = delete;

 private:
  TDataSession& FSession;
  std::string FPassword;
  bool FAdded = false;
};

class TAlterPlan {
 public:
  TAlterPlan(const TDataQuery& q, TDataCursor& old) : FQuery(q) {
    TDataTable& table = *old.Table();
    TDataFile& data = table.DataFile();
    FDefinition.languageId =
        q.languageGiven ? q.languageId : static_cast<std::uint16_t>(data.LanguageId());
    FDefinition.sortId = q.languageGiven ? q.sortId : static_cast<std::uint16_t>(data.SortId());
    FDefinition.description = q.descriptionGiven ? q.description : data.Description();
    FDefinition.blobBlockSize = q.blobBlockSizeGiven ? q.blobBlockSize : data.BlobBlockSize();
    if (FDefinition.blobBlockSize == 0) FDefinition.blobBlockSize = kDefaultBlobBlockSize;
    FDefinition.userMajor =
        static_cast<std::int16_t>(q.userMajorVersionGiven ? q.userMajorVersion : data.UserMajor());
    FDefinition.userMinor =
        static_cast<std::int16_t>(q.userMinorVersionGiven ? q.userMinorVersion : data.UserMinor());
    FDefinition.encrypted = q.passwordGiven ? q.encrypted : data.Encrypted();
    FDefinition.password = q.passwordGiven ? q.password : data.Password();
    if (!FDefinition.encrypted) FDefinition.password.clear();
    const TFieldDefinitions& fields = old.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const int number = static_cast<int>(i + 1);
      FFields.push_back({fields[i], number, number});
    }
    FNextId = static_cast<int>(fields.size()) + 1;
    TIndexFile& index = table.IndexFile();
    FHadPrimaryKey = !index.NoPrimaryKey();
    FIndexes.push_back(
        {FHadPrimaryKey ? DefinitionOfSlot(index, kPrimarySlot) : TIndexDefinition{}});
    for (int slot = 1; slot <= index.SecondaryCount(); ++slot)
      FIndexes.push_back({DefinitionOfSlot(index, slot)});
  }

  void ApplyColumnActions() {
    for (const TCreateField& action : FQuery.createFields) {
      if (action.add) {
        Add(action);
      } else if (action.redefine) {
        Redefine(action);
      } else if (action.drop) {
        Drop(action);
      }
    }
  }

  void ApplyPrimaryKeyAction() {
    for (const TCreateIndex& action : FQuery.createIndexes) {
      if (!action.primaryKey) continue;
      if (action.drop) {
        FIndexes.front().definition = TIndexDefinition{};
      } else {
        if (action.add && FHadPrimaryKey)
          Fail("Cannot REDEFINE the primary key using the ADD keyword");
        FIndexes.front().definition =
            IndexDefinitionOf(action, [&](const std::string& column) { return IdOf(column); });
      }
      return;  // only the first primary key action counts
    }
  }

  // The definition of the new table: fields numbered in their new order and
  // index fields mapped from identities to those numbers.
  TTableDefinition Finish() {
    TTableDefinition d = FDefinition;
    for (std::size_t i = 0; i < FFields.size() && i < kMaxAlterFields; ++i) {
      TFieldDefinition f = FFields[i].definition;
      f.SetNumber(static_cast<std::int16_t>(i + 1));
      d.fields.push_back(f);
    }
    for (std::size_t i = 0; i < FIndexes.size() && i < kMaxAlterIndexes + 1; ++i) {
      TIndexDefinition index = FIndexes[i].definition;
      for (std::int16_t& number : index.fieldNumbers)
        number = static_cast<std::int16_t>(PositionOf(number));
      d.indexes.push_back(index);
    }
    d.noPrimaryKey = d.indexes.empty() || d.indexes.front().fieldNumbers.empty();
    return d;
  }

  // For each new field (1-based), the old field it is copied from (0: none).
  std::vector<int> Origins() const {
    std::vector<int> origins;
    for (const TWorkField& f : FFields) origins.push_back(f.origin);
    return origins;
  }

 private:
  int Find(const std::string& name) const {
    for (std::size_t i = 0; i < FFields.size(); ++i)
      if (SameText(FFields[i].definition.Name(), name)) return static_cast<int>(i);
    return -1;
  }
  int FindOrFail(const std::string& name) const {
    const int at = Find(name);
    if (at < 0) Fail("Column " + name + " not found");
    return at;
  }
  int IdOf(const std::string& name) const {
    const int at = Find(name);
    return at < 0 ? 0 : FFields[static_cast<std::size_t>(at)].id;
  }
  int PositionOf(int id) const {
    for (std::size_t i = 0; i < FFields.size(); ++i)
      if (FFields[i].id == id) return static_cast<int>(i + 1);
    return 0;
  }
  std::size_t AtPosition(const TCreateField& action) const {
    const auto count = static_cast<int>(FFields.size());
    if (action.atPosition < 1 || action.atPosition > count)
      Fail("AT column position must be between 1 and " + std::to_string(count));
    return static_cast<std::size_t>(action.atPosition - 1);
  }

  static void SetType(TFieldDefinition& f, const TCreateField& action) {
    f.SetType(static_cast<std::uint8_t>(action.dataType));
    f.SetSubtype(static_cast<std::uint8_t>(action.subType));
    f.SetSize(static_cast<std::uint8_t>(action.size));
    f.SetScale(static_cast<std::uint8_t>(action.scale));
  }
  static void SetAttributes(TFieldDefinition& f, const TCreateField& action, bool all) {
    if (all || action.descriptionGiven) f.SetDescription(action.description);
    if (all || action.requiredGiven) f.SetRequired(action.required);
    if (all || action.charCaseGiven) f.SetCharCase(static_cast<std::uint8_t>(action.charCase));
    if (all || action.defaultGiven) f.SetDefault(action.defaultValue);
    if (all || action.minimumGiven) f.SetMinimum(action.minimum);
    if (all || action.maximumGiven) f.SetMaximum(action.maximum);
  }

  void Add(const TCreateField& action) {
    TFieldDefinitions one;
    TFieldDefinition& f = AppendField(one, action.name, static_cast<std::uint8_t>(action.dataType),
                                      static_cast<std::uint8_t>(action.size));
    SetType(f, action);
    SetAttributes(f, action, true);
    TWorkField work{f, 0, FNextId++};
    if (action.atGiven) {
      FFields.insert(FFields.begin() + static_cast<std::ptrdiff_t>(AtPosition(action)), work);
    } else {
      FFields.push_back(work);
    }
  }

  void Redefine(const TCreateField& action) {
    const bool renamed = !action.previousName.empty();
    auto at = static_cast<std::size_t>(FindOrFail(renamed ? action.previousName : action.name));
    if (action.atGiven) {
      const std::size_t to = AtPosition(action);
      TWorkField moved = FFields[at];
      FFields.erase(FFields.begin() + static_cast<std::ptrdiff_t>(at));
      FFields.insert(FFields.begin() + static_cast<std::ptrdiff_t>(to), moved);
      at = to;
    }
    TFieldDefinition& f = FFields[at].definition;
    if (action.dataTypeGiven) SetType(f, action);
    if (renamed) f.SetName(action.name);
    SetAttributes(f, action, false);
  }

  void Drop(const TCreateField& action) {
    const auto at = static_cast<std::size_t>(FindOrFail(action.name));
    const int id = FFields[at].id;
    FFields.erase(FFields.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t i = 0; i < FIndexes.size(); ++i) {
      TIndexDefinition& index = FIndexes[i].definition;
      for (std::size_t k = 0; k < index.fieldNumbers.size(); ++k) {
        if (index.fieldNumbers[k] != id) continue;
        index.fieldNumbers.erase(index.fieldNumbers.begin() + static_cast<std::ptrdiff_t>(k));
        if (k < index.fieldDescending.size())
          index.fieldDescending.erase(index.fieldDescending.begin() +
                                      static_cast<std::ptrdiff_t>(k));
        break;
      }
    }
    // Secondary indexes left without a column go; the primary stays empty.
    FIndexes.erase(
        std::remove_if(FIndexes.begin() + 1, FIndexes.end(),
                       [](const TWorkIndex& w) { return w.definition.fieldNumbers.empty(); }),
        FIndexes.end());
  }

  const TDataQuery& FQuery;
  TTableDefinition FDefinition;
  std::vector<TWorkField> FFields;
  std::vector<TWorkIndex> FIndexes;
  int FNextId = 1;
  bool FHadPrimaryKey = false;
};

// A name for the new set that no table of the directory carries.
std::string WorkName(TDataDirectory& directory, const std::string& table, bool inMemory) {
  std::string base = kWorkPrefix + BaseName(table);
  std::string name = base;
  for (int n = 2; directory.TableExists(name, inMemory); ++n) name = base + std::to_string(n);
  return name;
}

// Copies every record of `from` into `to`, with its auto-increment value.
void CopyRecords(TDataCursor& from, TDataCursor& to, const std::vector<int>& origins) {
  from.SelectIndex(kNaturalOrder);
  from.First();
  to.AutoIncrementMode = true;
  TDataCursor::TRecordBuffer source(from.RecordSize());
  while (from.Next(&source) == kNavOk) {
    TDataCursor::TRecordBuffer record = to.NewRecord();
    std::copy_n(source.begin() + kRecordAutoIncOffset, sizeof(std::int32_t),
                record.begin() + kRecordAutoIncOffset);
    for (std::size_t i = 0; i < origins.size(); ++i) {
      if (origins[i] == 0) continue;
      ExpTree value = ReadFieldValue(from, source, static_cast<std::uint32_t>(origins[i]));
      StoreValue(to, record, static_cast<std::uint32_t>(i + 1), *value, kCopySuffix, false);
    }
    to.Insert(record, false);
  }
}

}  // namespace

void TQueryExecutor::RunAlterTable() {
  const TDataQuery& q = *FBlock->ddl;
  const TQuerySource& source = FBlock->sources.at(0);
  TDdlDirectory ddlDirectory(FDirectory, source);
  TDataDirectory& directory = *ddlDirectory.Get();
  TDataCursor old(&directory, source.tableName);
  old.SetOptions(ExclusiveOptions(source));
  old.Open();

  TAlterPlan plan(q, old);
  plan.ApplyColumnActions();
  plan.ApplyPrimaryKeyAction();
  const TTableDefinition definition = plan.Finish();
  const std::int32_t lastAutoInc =
      q.lastAutoIncGiven ? q.lastAutoInc : old.Table()->DataFile().LastAutoIncrement();

  const std::string work = WorkName(directory, source.tableName, source.memory);
  TDataCursor fresh(&directory, work);
  fresh.SetOptions(ExclusiveOptions(source));
  fresh.CreateTable(definition);
  try {
    TSessionPassword password(*directory.Session(), definition.password);
    fresh.Open();
    CopyRecords(old, fresh, plan.Origins());
    fresh.Table()->DataFile().SetLastAutoIncrement(lastAutoInc);
    fresh.Table()->FlushTable(false, true, false, false, false);
    fresh.Close();
  } catch (...) {
    try {
      fresh.Close();
      directory.DeleteTable(work, source.memory);
    } catch (...) {
      // The error that stopped the copy is the one to report.
    }
    throw;
  }
  old.Close();
  if (q.noBackup) {
    directory.DeleteTable(source.tableName, source.memory);
  } else {
    directory.RenameTable(source.tableName, source.tableName, true, source.memory);
  }
  directory.RenameTable(work, source.tableName, false, source.memory);
}

}  // namespace engine
