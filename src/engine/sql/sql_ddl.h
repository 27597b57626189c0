// Shared pieces of the data definition statements (sql_ddl.cpp,
// sql_ddl_alter.cpp): the directory a statement's table lives in, and the
// cursor options and index definitions they build.
#pragma once

#include <string>

#include "engine/sql/sql_block.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace engine {

inline constexpr std::size_t kMaxDdlIndexName = 30;  // characters of an index name kept

// The directory of a data definition statement's table, opened for the call:
// the in-memory directory with MEMORY, the directory of a path, else the
// statement's own.
class TDdlDirectory {
 public:
  TDdlDirectory(TDataDirectory* statement, const TQuerySource& source);
  ~TDdlDirectory();
  TDdlDirectory(const TDdlDirectory&) = delete;
  TDdlDirectory& operator=(const TDdlDirectory&) = delete;
  TDataDirectory* Get() const { return FDirectory; }

 private:
  TDataSession& FSession;
  TDataDirectory* FDirectory = nullptr;
  bool FOwn = false;
};

// Options of a cursor that changes a table's structure.
TCursorOptions ExclusiveOptions(const TQuerySource& source);

// An index definition from a parsed one (name cut to 30 characters); each
// column is looked up by `fieldOf`, which answers 0 for an unknown name.
template <typename FieldOf>
TIndexDefinition IndexDefinitionOf(const TCreateIndex& parsed, FieldOf&& fieldOf) {
  TIndexDefinition index;
  index.name = parsed.name.substr(0, kMaxDdlIndexName);
  index.unique = parsed.unique;
  index.descending = parsed.descending == kOrderDescending;
  index.caseInsensitive = parsed.caseInsensitive;
  index.compression = static_cast<std::uint8_t>(parsed.compression);
  for (const std::string& column : parsed.columns)
    index.fieldNumbers.push_back(static_cast<std::int16_t>(fieldOf(column)));
  return index;
}

}  // namespace engine
