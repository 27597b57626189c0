// From parsed statements to query blocks (sql_prepared.h).
#include "engine/sql/sql_prepared.h"

#include "engine/files/table_names.h"
#include "engine/sql/expr_error.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace engine {

namespace {

TQueryKind KindOf(int statementKind) {
  switch (statementKind) {
    case kStatementSelect:
      return TQueryKind::Select;
    case kStatementInsert:
      return TQueryKind::Insert;
    case kStatementUpdate:
      return TQueryKind::Update;
    case kStatementDelete:
      return TQueryKind::Delete;
    case kStatementCreateTable:
      return TQueryKind::CreateTable;
    case kStatementDropTable:
      return TQueryKind::DropTable;
    case kStatementAlterTable:
      return TQueryKind::AlterTable;
    case kStatementCreateIndex:
      return TQueryKind::CreateIndex;
    case kStatementDropIndex:
      return TQueryKind::DropIndex;
    default:
      RaiseExpressionError(kErrSql, {}, "Internal error: no statement to prepare");
  }
}

TQuerySource SourceOf(const std::string& tableName, const std::string& directory, bool pathGiven,
                      const std::string& correlation, bool memory) {
  TQuerySource s;
  s.tableName = tableName;
  s.correlationName = correlation;
  s.memory = memory || SameText(directory, kMemoryDirectory);
  if (pathGiven && !s.memory) s.directory = directory;
  return s;
}

// Gives every sub-select node of `tree` its own block, kept in `block`.
void AdoptSubSelects(TQueryStatement& statement, TExpToken* tree, TQueryBlock& block) {
  if (tree == nullptr) return;
  if (tree->tokenClass == kClassSubSelect && tree->subQuery != nullptr) {
    auto* query = static_cast<TDataQuery*>(tree->subQuery);
    block.subSelects.push_back(BlockFromQuery(statement, *query));
    tree->subQuery = block.subSelects.back().get();
  }
  for (TExpToken* child : {tree->left, tree->right, tree->third, tree->next})
    AdoptSubSelects(statement, child, block);
}

TTableDefinition DefinitionOf(const TDataQuery& q, const std::string& tableName,
                              const TDataSession* session) {
  TTableDefinition d;
  d.languageId = q.languageId;
  d.sortId = q.sortId;
  if (!q.languageGiven && session != nullptr) {
    d.languageId = session->LanguageID;
    d.sortId = session->SortID;
  }
  d.blobBlockSize = q.blobBlockSize;
  d.description = q.description;
  d.userMajor = static_cast<std::int16_t>(q.userMajorVersion);
  d.userMinor = static_cast<std::int16_t>(q.userMinorVersion);
  d.encrypted = q.encrypted;
  d.password = q.password;
  for (const TCreateField& c : q.createFields) {
    TFieldDefinition& f = AppendField(d.fields, c.name, static_cast<std::uint8_t>(c.dataType),
                                      static_cast<std::uint8_t>(c.size));
    f.SetSubtype(static_cast<std::uint8_t>(c.subType));
    f.SetScale(static_cast<std::uint8_t>(c.scale));
    f.SetRequired(c.required);
    f.SetCharCase(static_cast<std::uint8_t>(c.charCase));
    f.SetMinimum(c.minimum);
    f.SetMaximum(c.maximum);
    f.SetDefault(c.defaultValue);
    f.SetDescription(c.description);
  }
  for (const TCreateIndex& c : q.createIndexes) {
    TIndexDefinition index;
    index.name = c.name;
    index.unique = c.unique;
    index.descending = c.descending == kOrderDescending;
    index.caseInsensitive = c.caseInsensitive;
    index.compression = static_cast<std::uint8_t>(c.compression);
    for (const std::string& column : c.columns) {
      std::int16_t number = 0;
      for (std::size_t i = 0; i < d.fields.size(); ++i)
        if (SameText(d.fields[i].Name(), column)) number = static_cast<std::int16_t>(i + 1);
      if (number == 0) RaiseEngineError(kErrInvalidIndexField, tableName, column);
      index.fieldNumbers.push_back(number);
    }
    if (c.primaryKey) {
      d.indexes.insert(d.indexes.begin(), index);
    } else {
      if (d.indexes.empty()) d.indexes.emplace_back();
      d.indexes.push_back(index);
    }
  }
  return d;
}

}  // namespace

std::unique_ptr<TQueryBlock> BlockFromQuery(TQueryStatement& statement, TDataQuery& q) {
  auto b = std::make_unique<TQueryBlock>();
  b->kind = KindOf(q.statementKind);
  if (b->kind == TQueryKind::CreateTable || b->kind == TQueryKind::DropTable ||
      b->kind == TQueryKind::AlterTable || b->kind == TQueryKind::CreateIndex ||
      b->kind == TQueryKind::DropIndex) {
    const TTableNameParts parts =
        SplitTableName(q.resultTableName, q.inMemoryResult, statement.DirectoryPath());
    b->sources.push_back(SourceOf(parts.tableName, parts.directory, parts.pathGiven,
                                  parts.correlationName, q.inMemoryResult));
    if (b->kind == TQueryKind::CreateTable)
      b->definition = DefinitionOf(
          q, parts.tableName,
          statement.Directory() != nullptr ? statement.Directory()->Session() : nullptr);
    b->ddl = &q;
    return b;
  }
  for (const auto& s : q.sourceTables)
    b->sources.push_back(
        SourceOf(s->tableName, s->directory, s->pathGiven, s->correlationName, s->memory));
  b->distinct = q.distinct;
  for (TResultField& f : q.resultFields) {
    TQueryColumn c;
    c.expression = std::move(f.expression);
    if (f.aliasGiven) c.alias = f.resultName;
    c.text = f.expressionText;
    b->columns.push_back(std::move(c));
  }
  for (TUpdateField& f : q.targetFields) b->targets.push_back({f.columnName, f.correlationName});
  for (TUpdateValue& v : q.values) b->values.push_back({std::move(v.expression), v.expressionText});
  b->where = std::move(q.where);
  b->having = std::move(q.having);
  for (const TGroupByField& g : q.groupBy)
    b->groupBy.push_back({g.columnName, g.correlationName, g.columnNumber, false});
  b->groupByGiven = q.hasGroupBy;
  for (const TOrderByField& o : q.orderBy)
    b->orderBy.push_back(
        {o.columnName, o.correlationName, o.columnNumber, o.direction == kOrderDescending});
  b->orderNoCase = q.orderByNoCase;
  b->withLocks = q.withLocks;
  b->noJoinOptimize = q.noJoinOptimize;
  b->noAutoInc = q.noAutoInc;
  if (b->kind == TQueryKind::Select) b->intoName = q.resultTableName;
  b->intoMemory = q.inMemoryResult;
  b->commitInterval = q.commitIntervalGiven ? q.commitInterval : 0;
  b->requestLive = q.RequestLive;
  b->maxRowCount = q.MaxRowCount;
  b->languageGiven = q.languageGiven;
  b->languageId = q.languageId;
  b->sortId = q.sortId;
  if (q.encrypted) b->password = q.password;
  if (q.insertFromSelect) {
    for (auto& other : statement.queries) {
      if (other.get() != &q && other->isSubQuery && other->statementKind == kStatementSelect) {
        b->select = BlockFromQuery(statement, *other);
        break;
      }
    }
  }
  AdoptSubSelects(statement, b->where.get(), *b);
  AdoptSubSelects(statement, b->having.get(), *b);
  for (TQueryValue& v : b->values) AdoptSubSelects(statement, v.expression.get(), *b);
  return b;
}

TPreparedStatement::TPreparedStatement(TDataDirectory* directory, std::string_view text,
                                       const TStatementOptions& options)
    : FParsed(std::make_unique<TQueryStatement>(directory)) {
  FParsed->MainQuery().RequestLive = options.requestLive;
  FParsed->MainQuery().MaxRowCount = options.maxRowCount;
  FParsed->Parse(text);
  FExecutor = std::make_unique<TQueryExecutor>(
      directory, BlockFromQuery(*FParsed, FParsed->MainQuery()), FParsed->parameters);
  FExecutor->Prepare();
}

TPreparedStatement::~TPreparedStatement() {
  FExecutor.reset();
  FParsed.reset();
}

}  // namespace engine
