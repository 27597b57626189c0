// TDataCursor::CreateTable: every check a new table set must pass, then the
// table object writes the three files.
//
// Checks, in order, each raising its code with the table name:
//   10253 the cursor is not exclusive        11013 the cursor is read-only
//   10015 an encrypted table's password is not 1..15 characters (trimmed)
//   15878 a LanguageID/SortID pair that is not an installed locale
//    9492 more than 1024 fields              9487 more than 32 secondary indexes
//    9498 a BLOB block size below 64
//   10038/10000/10006 field definitions (names, types, sizes, value texts
//                     read under the formats of the table's language)
//   10022/10027 secondary index names (bad start, repeated)
//   10023/12292/10026 index fields (unknown, BLOB, key size over 524)
//   13060 the table exists and overwriting was not asked for
// The primary index loses its name and is made unique. Its key length is the
// sum of (storage size + 1) over its fields: the backup catalog's FileName
// CHAR(250), FileTime INTEGER, Path CHAR(250) give 252 + 5 + 252 = 509.
#include "engine/errors.h"
#include "engine/storage/blob_file.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/data_table_values.h"
#include "platform/locale.h"

namespace engine {
namespace {

constexpr std::size_t kMaxSecondaryDefinitions = 32;  // more are refused before the file's 30
constexpr std::size_t kMaxTablePassword = 15;         // characters of a table password

// Adds a password to the session for the length of a creation.
class TTemporaryPassword {
 public:
  TTemporaryPassword(TDataSession* session, const std::string& password)
      : FSession(session), FPassword(password) {
    FAdded = session != nullptr && !password.empty() && !session->HasPassword(password);
    if (FAdded) session->AddPassword(password);
  }
  ~TTemporaryPassword() {
    if (FAdded) FSession->RemovePassword(FPassword);
  }
  TTemporaryPassword(const TTemporaryPassword&) = delete;
  TTemporaryPassword& operator=(const TTemporaryPassword&) = delete;

 private:
  TDataSession* FSession;
  std::string FPassword;
  bool FAdded = false;
};

}  // namespace

void TDataCursor::CreateTable(const TTableDefinition& definition) {
  CheckClosed();
  if (!FOptions.exclusive) RaiseEngineError(kErrExclusiveNeeded, FName);
  if (FOptions.readOnly) RaiseEngineError(kErrAccessDenied, FName);
  const std::string password = Trim(definition.password);
  TTemporaryPassword scoped(FDirectory->Session(), definition.encrypted ? password : std::string());
  if (definition.encrypted && (password.empty() || password.size() > kMaxTablePassword))
    RaiseEngineError(kErrInvalidPassword, FName);
  if (definition.languageId != 0) {
    const platform::Lcid lcid = static_cast<platform::Lcid>(definition.languageId) |
                                (static_cast<platform::Lcid>(definition.sortId) << 16);
    if (!platform::IsValidLocale(lcid)) RaiseEngineError(kErrLanguageDriver, FName);
  }
  if (definition.fields.size() > kMaxFieldCount) RaiseEngineError(kErrFieldLimits, FName);
  const std::size_t secondaries = definition.indexes.empty() ? 0 : definition.indexes.size() - 1;
  if (secondaries > kMaxSecondaryDefinitions) RaiseEngineError(kErrIndexLimits, FName);
  if (definition.blobBlockSize < static_cast<std::int32_t>(kMinBlockSize))
    RaiseEngineError(kErrBlobDefinition, FName);

  TTableCreateSpec plan;
  plan.data.fields = definition.fields;
  for (std::size_t i = 0; i < plan.data.fields.size(); ++i)
    if (plan.data.fields[i].Number() == 0)
      plan.data.fields[i].SetNumber(static_cast<std::int16_t>(i + 1));
  // Value texts read under the formats of the table's own language, as the
  // open check reads them again.
  LayOutDefinitions(plan.data.fields, FName,
                    ValueTextCheckFor(definition.languageId, definition.sortId));
  plan.data.languageId = static_cast<std::int16_t>(definition.languageId);
  plan.data.sortId = static_cast<std::int16_t>(definition.sortId);
  plan.data.userMajor = definition.userMajor;
  plan.data.userMinor = definition.userMinor;
  plan.data.description = definition.description;
  plan.data.password = definition.encrypted ? password : std::string();
  plan.data.encrypted = definition.encrypted;
  plan.data.blobBlockSize = definition.blobBlockSize;

  plan.indexes = definition.indexes;
  if (plan.indexes.empty()) plan.indexes.emplace_back();
  TIndexDefinition& primary = plan.indexes.front();
  primary.name.clear();
  primary.unique = true;
  if (definition.noPrimaryKey) primary.fieldNumbers.clear();
  for (std::size_t i = 0; i < plan.indexes.size(); ++i) {
    TIndexDefinition& index = plan.indexes[i];
    // Field lists end at the first 0.
    for (std::size_t k = 0; k < index.fieldNumbers.size(); ++k) {
      if (index.fieldNumbers[k] == 0) {
        index.fieldNumbers.resize(k);
        break;
      }
    }
    if (i == 0) {
      KeyLengthFor(index, plan.data.fields, FName, "Primary", index.fieldNumbers.empty());
      continue;
    }
    index.name = Trim(index.name);
    if (!IsValidNameStart(index.name))
      RaiseEngineError(kErrInvalidIndexName, FName, {}, {}, index.name);
    for (std::size_t j = 1; j < i; ++j) {
      if (SameText(plan.indexes[j].name, index.name))
        RaiseEngineError(kErrIndexExists, FName, {}, {}, index.name);
    }
    KeyLengthFor(index, plan.data.fields, FName, index.name, false);
  }
  if (!definition.overwrite && FDirectory->TableExists(FName, FOptions.inMemory))
    RaiseEngineError(kErrTableExists, FName);

  TTableOptions options;
  options.inMemory = FOptions.inMemory;
  options.exclusive = true;
  options.temporary = false;
  FDirectory->CreateTable(FName, options, [&](TDataTable& table) { table.CreateTableFiles(plan); });
}

}  // namespace engine
