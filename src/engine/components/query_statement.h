// The query component's view of an engine statement: prepare a text (with
// "?" for each parameter), take a parameter record, execute, and give the
// result cursor of a SELECT or the row count of any other statement. The
// statements of the SQL layer (engine_statement.h) are made unless another
// factory is installed (tests install stand-ins).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/components/zorvad_params.h"
#include "engine/sql/sql_row_stream.h"

namespace engine {

class TDataCursor;
class TDataDirectory;

struct TQueryStatementSettings {
  TDataDirectory* directory = nullptr;  // the database's engine directory
  bool requestLive = false;             // a live result instead of a copied one
  int maxRowCount = -1;                 // -1: no limit
};

class TQueryStatementPort {
 public:
  using TProgressEvent = std::function<void(int percentDone, bool& abort)>;

  virtual ~TQueryStatementPort() = default;
  // Parses the engine text; raises the parser's errors.
  virtual void Prepare(const std::string& engineText) = 0;
  virtual void SetMaxRowCount(int maxRowCount) = 0;
  // Takes the parameter values; answers an engine code (0 when bound).
  virtual int BindParams(const TParamRecord& params) = 0;
  virtual void Execute() = 0;
  // After Execute: the result cursor of a SELECT (nullptr for other
  // statements). With `ownedByCaller` set the caller frees it; otherwise it
  // belongs to the statement (a result table) and lives as long as it.
  virtual TDataCursor* ResultCursor(bool& ownedByCaller) = 0;
  // Executes a SELECT whose rows the caller reads once, in order, as they
  // are produced (sql_row_stream.h); null when the statement offers no such
  // stream. The stream ends when the statement runs again or is destroyed.
  virtual std::unique_ptr<TRowStream> OpenRows() { return nullptr; }
  virtual std::int64_t RowCount() const = 0;
  virtual std::uint32_t ExecutionTime() const = 0;  // milliseconds

  TProgressEvent OnProgress;      // while the statement runs
  TProgressEvent OnSaveProgress;  // while it copies result rows
};

using TQueryStatementFactory =
    std::function<std::unique_ptr<TQueryStatementPort>(const TQueryStatementSettings&)>;

// Installs the factory (process-wide) and answers the previous one.
TQueryStatementFactory SetQueryStatementFactory(TQueryStatementFactory factory);
// A new statement from the installed factory, else an engine statement.
std::unique_ptr<TQueryStatementPort> CreateQueryStatement(const TQueryStatementSettings& settings);

}  // namespace engine
