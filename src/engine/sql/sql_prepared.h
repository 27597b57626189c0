// TPreparedStatement: one SQL text parsed by the statement parser, its blocks
// turned into the executor's query blocks (sql_block.h) and prepared, ready
// to be executed any number of times with new parameter values.
//
// The parsed statement stays alive beside the executor: its parameter list
// and the parser own nothing the executor needs, but the parameter nodes
// themselves now belong to the block's trees, which the executor owns.
#pragma once

#include <memory>
#include <string_view>

#include "engine/sql/sql_executor.h"
#include "engine/sql/sql_statement.h"

namespace engine {

struct TStatementOptions {
  bool requestLive = false;
  int maxRowCount = kNoRowLimit;
};

class TPreparedStatement {
 public:
  // Parses and prepares `text`; raises the parser's or the preparation's
  // engine error.
  TPreparedStatement(TDataDirectory* directory, std::string_view text,
                     const TStatementOptions& options = {});
  ~TPreparedStatement();
  TPreparedStatement(const TPreparedStatement&) = delete;
  TPreparedStatement& operator=(const TPreparedStatement&) = delete;

  TQueryExecutor& Executor() { return *FExecutor; }
  TQueryKind Kind() const { return FExecutor->Kind(); }
  bool IsDataDefinition() const {
    return Kind() == TQueryKind::CreateTable || Kind() == TQueryKind::DropTable;
  }

 private:
  std::unique_ptr<TQueryStatement> FParsed;
  std::unique_ptr<TQueryExecutor> FExecutor;
};

// The executor's block for one parsed block; takes the block's trees (and
// those of its sub-query blocks) over.
std::unique_ptr<TQueryBlock> BlockFromQuery(TQueryStatement& statement, TDataQuery& query);

}  // namespace engine
