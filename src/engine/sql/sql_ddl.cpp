// CREATE TABLE, DROP TABLE, CREATE INDEX and DROP INDEX (sql_executor.h);
// ALTER TABLE is sql_ddl_alter.cpp.
//
// Each works through a cursor of its own on the named table, in the
// statement's directory, the directory of a path, or the in-memory directory
// with MEMORY. CREATE INDEX and DROP INDEX open the table exclusively, change
// its index list through the cursor (which fills a new index from the records
// and gives a removed one's pages back) and close it again. The index name
// "PRIMARY" (any case) names the primary index.
#include "engine/sql/sql_ddl.h"

#include "engine/files/table_names.h"
#include "engine/sql/sql_executor.h"

namespace engine {

TDdlDirectory::TDdlDirectory(TDataDirectory* statement, const TQuerySource& source)
    : FSession(*statement->Session()) {
  if (source.memory) {
    FDirectory = FSession.OpenDirectory("MEMORY", "");
    FOwn = true;
  } else if (!source.directory.empty()) {
    FDirectory = FSession.OpenDirectory("", source.directory);
    FOwn = true;
  } else {
    FDirectory = statement;
  }
}

TDdlDirectory::~TDdlDirectory() {
  if (FOwn) FSession.CloseDirectory(FDirectory);
}

TCursorOptions ExclusiveOptions(const TQuerySource& source) {
  TCursorOptions options;
  options.exclusive = true;
  options.inMemory = source.memory;
  return options;
}

void TQueryExecutor::RunCreateTable() {
  const TQuerySource& source = FBlock->sources.at(0);
  TDdlDirectory directory(FDirectory, source);
  TDataCursor cursor(directory.Get(), source.tableName);
  cursor.SetOptions(ExclusiveOptions(source));
  cursor.CreateTable(FBlock->definition);
}

void TQueryExecutor::RunDropTable() {
  const TQuerySource& source = FBlock->sources.at(0);
  TDdlDirectory directory(FDirectory, source);
  TDataCursor cursor(directory.Get(), source.tableName);
  TCursorOptions options;
  options.inMemory = source.memory;
  cursor.SetOptions(options);
  cursor.DeleteTable();
}

void TQueryExecutor::RunCreateIndex() {
  const TQuerySource& source = FBlock->sources.at(0);
  TDdlDirectory directory(FDirectory, source);
  TDataCursor cursor(directory.Get(), source.tableName);
  cursor.SetOptions(ExclusiveOptions(source));
  cursor.Open();
  for (const TCreateIndex& parsed : FBlock->ddl->createIndexes) {
    cursor.AddIndex(IndexDefinitionOf(
        parsed, [&](const std::string& column) { return cursor.FieldNumber(column); }));
  }
  cursor.Close();
}

void TQueryExecutor::RunDropIndex() {
  const TQuerySource& source = FBlock->sources.at(0);
  TDdlDirectory directory(FDirectory, source);
  TDataCursor cursor(directory.Get(), source.tableName);
  cursor.SetOptions(ExclusiveOptions(source));
  cursor.Open();
  cursor.DeleteIndex(FBlock->ddl->indexName);
  cursor.Close();
}

}  // namespace engine
