// TZORVADQuery: SQL text with named parameters as a dataset. The text's
// ":name" parameters become "?" in the text handed to the engine (the scan of
// sql_param_scan.h) and are bound by position from Params; the statement is
// prepared on the database's engine directory and either executed (ExecSQL)
// or opened, its result cursor becoming the dataset's cursor.
//
// States: inactive and unprepared at creation; Prepare makes it prepared;
// Open makes it active (and prepared); Close keeps it prepared; UnPrepare,
// a new SQL text or destruction end the preparation. A failed preparation
// leaves it unprepared; a failed execution leaves it inactive and prepared.
// The database is held while prepared and while executing (and, as for any
// dataset, while open).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/query_statement.h"
#include "engine/components/zorvad_dbdataset.h"
#include "engine/components/zorvad_params.h"

namespace engine {

class TZORVADQuery : public TZORVADDBDataSet {
 public:
  using TProgressEvent = std::function<void(TZORVADQuery& sender, int percentDone, bool& abort)>;
  using TScriptErrorEvent =
      std::function<void(TZORVADQuery& sender, const std::exception& error, bool& ignore)>;

  explicit TZORVADQuery(TComponent* owner = nullptr) : TZORVADDBDataSet(owner) {}
  ~TZORVADQuery() override;

  // ---- Text and parameters ---------------------------------------------------------
  const std::vector<std::string>& SQL() const noexcept { return FSQL; }
  void SetSQL(const std::vector<std::string>& lines);
  void SetSQLText(const std::string& text) { SetSQL({text}); }
  // The lines joined by line feeds.
  std::string SQLText() const;
  std::vector<std::string> SQLScript;  // kept, never run
  // The text as passed to the engine (parameters replaced by "?").
  const std::string& Text() const noexcept { return FText; }
  TZORVADParams& Params() noexcept { return FParams; }
  TZORVADParam& ParamByName(const std::string& name) { return FParams.ParamByName(name); }
  bool ParamCheck = true;

  // ---- Statement settings --------------------------------------------------------------
  bool RequestLive = false;
  int MaxRowCount() const noexcept { return FMaxRowCount; }
  void SetMaxRowCount(int value);
  TDataSource* DataSource = nullptr;  // master whose current record supplies parameters
  std::string EngineVersion() const;

  TProgressEvent OnQueryProgress;
  TProgressEvent OnSaveProgress;
  TScriptErrorEvent OnScriptError;

  // ---- Preparation and execution ---------------------------------------------------------
  bool Prepared() const noexcept { return FStatement != nullptr; }
  void SetPrepared(bool value) { value ? Prepare() : UnPrepare(); }
  void Prepare();
  void UnPrepare();
  // Runs a statement that returns no rows.
  void ExecSQL();
  // Runs a SELECT for a caller that reads its rows once, in order, without
  // opening the dataset: the rows are produced as the stream is read. Null
  // when the statement offers no stream. The stream ends when the query
  // runs again, is unprepared or destroyed.
  std::unique_ptr<TRowStream> OpenRows();
  // Of the last execution.
  std::int64_t RowsAffected() const noexcept { return FRowsAffected; }
  std::uint32_t ExecutionTime() const noexcept { return FExecutionTime; }

 protected:
  TDataCursor* CreateHandle(bool& ownedByDataSet) override;
  void DatabaseDisconnecting() override;

 private:
  // Binds the parameters and executes, or opens the rows into `stream`.
  void RunStatement(std::unique_ptr<TRowStream>* stream = nullptr);
  void TakeMasterValues();
  void BindParams();

  std::vector<std::string> FSQL;
  std::string FText;
  TZORVADParams FParams;
  int FMaxRowCount = -1;
  std::unique_ptr<TQueryStatementPort> FStatement;
  std::int64_t FRowsAffected = 0;
  std::uint32_t FExecutionTime = 0;
};

}  // namespace engine
