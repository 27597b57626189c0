// The statement objects: construction, defaults and table-name splitting.
// The grammar that fills them lives in statement_parser*.cpp.
#include "engine/sql/sql_statement.h"

#include "engine/errors.h"
#include "engine/files/table_names.h"
#include "engine/table/data_directory.h"

namespace engine {

namespace {

std::string Cut(std::string_view text) {
  return std::string(text.substr(0, kMaxStatementName));
}

bool HasColonOrBackslash(std::string_view text) {
  return HasPathChars(text);  // '\', ':' and the host's '/'
}

}  // namespace

TTableNameParts SplitTableName(std::string_view text, bool memory,
                               std::string_view statementDirectory) {
  TTableNameParts parts;
  if (memory) {
    parts.tableName = Cut(ExtractFileName(text));
    parts.directory = kMemoryDirectory;
  } else if (text.empty() || HasColonOrBackslash(text)) {
    parts.tableName = Cut(ExtractFileName(text));
    parts.directory = Cut(ExtractFilePath(text));
    parts.pathGiven = true;
  } else {
    parts.tableName = Cut(text);
    parts.directory = statementDirectory;
  }
  const std::string_view file = ExtractFileName(text);
  const std::string_view extension = ExtractFileExt(file);
  parts.correlationName = Cut(file.substr(0, file.size() - extension.size()));
  return parts;
}

TDataQuery::TDataQuery() = default;
TDataQuery::~TDataQuery() = default;

void TDataQuery::ResetParsed() {
  const bool requestLive = RequestLive;
  const int maxRowCount = MaxRowCount;
  statementKind = kStatementNone;
  isSubQuery = false;
  sourceTables.clear();
  resultFields.clear();
  targetFields.clear();
  values.clear();
  createFields.clear();
  createIndexes.clear();
  orderBy.clear();
  groupBy.clear();
  where.reset();
  having.reset();
  distinct = hasGroupBy = hasHaving = hasOrderBy = orderByNoCase = false;
  severalTables = hasWhere = withLocks = noJoinOptimize = noAutoInc = false;
  hasComputedColumns = hasAvg = insertFromSelect = inMemoryResult = false;
  resultTableName.clear();
  indexName.clear();
  languageId = sortId = 0;
  languageGiven = sortGiven = false;
  password.clear();
  encrypted = passwordGiven = false;
  description.clear();
  descriptionGiven = false;
  blobBlockSize = kDefaultBlobBlockSize;
  blobBlockSizeGiven = false;
  userMajorVersion = kDefaultUserMajorVersion;
  userMinorVersion = kDefaultUserMinorVersion;
  userMajorVersionGiven = userMinorVersionGiven = false;
  lastAutoInc = kLastAutoIncNotGiven;
  lastAutoIncGiven = false;
  commitInterval = 0;
  commitIntervalGiven = false;
  noBackup = false;
  RequestLive = requestLive;
  MaxRowCount = maxRowCount;
}

TQueryStatement::TQueryStatement(TDataDirectory* directory)
    : directory_(directory), parser_(kErrSql, {}, "SQL statement") {
  parser_.owner = this;
  parser_.SetParameterList(&parameters);
  queries.push_back(std::make_unique<TDataQuery>());
}

TQueryStatement::~TQueryStatement() {
  // Sub-query blocks first: the main block's trees point into them.
  while (queries.size() > 1) queries.pop_back();
}

std::string TQueryStatement::DirectoryPath() const {
  return directory_ ? directory_->Path() : std::string();
}

}  // namespace engine
