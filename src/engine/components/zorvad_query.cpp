// The query component (see zorvad_query.h).
#include "engine/components/zorvad_query.h"

#include "engine/components/sql_param_scan.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_session.h"
#include "engine/database_error.h"

namespace engine {
namespace {

// Shortest engine text that can be a statement.
constexpr std::size_t kMinStatementLength = 2;

}  // namespace

TZORVADQuery::~TZORVADQuery() {
  try {
    Close();
    UnPrepare();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
}

std::string TZORVADQuery::EngineVersion() const {
  return kComponentEngineVersion;
}

std::string TZORVADQuery::SQLText() const {
  std::string text;
  for (std::size_t i = 0; i < FSQL.size(); ++i) {
    if (i > 0) text += '\n';
    text += FSQL[i];
  }
  return text;
}

void TZORVADQuery::SetSQL(const std::vector<std::string>& lines) {
  if (lines == FSQL) return;
  Close();
  UnPrepare();
  FSQL = lines;
  const std::string text = SQLText();
  if (!ParamCheck) {
    FText = text;
    return;
  }
  TParamScan scan = ScanParams(text);
  FText = std::move(scan.engineText);
  TZORVADParams fresh;
  for (const std::string& name : scan.names) fresh.CreateParam(ftUnknown, name, ptUnknown);
  fresh.AssignValues(FParams);
  FParams = std::move(fresh);
}

void TZORVADQuery::SetMaxRowCount(int value) {
  FMaxRowCount = value;
  if (FStatement) FStatement->SetMaxRowCount(value);
}

void TZORVADQuery::Prepare() {
  CheckInactive();
  if (Prepared()) return;
  if (FText.size() < kMinStatementLength) RaiseDatabaseError(kMsgNoSqlStatement);
  TZORVADDatabase& database = AcquireDatabase(TDBReason::drPrepared);
  try {
    TQueryStatementSettings settings;
    settings.directory = database.Handle();
    settings.requestLive = RequestLive;
    settings.maxRowCount = FMaxRowCount;
    FStatement = CreateQueryStatement(settings);
    FStatement->OnProgress = [this](int percent, bool& abort) {
      if (OnQueryProgress) OnQueryProgress(*this, percent, abort);
    };
    FStatement->OnSaveProgress = [this](int percent, bool& abort) {
      if (OnSaveProgress) OnSaveProgress(*this, percent, abort);
    };
    FStatement->Prepare(FText);
  } catch (...) {
    FStatement.reset();
    ReleaseDatabase(TDBReason::drPrepared);
    throw;
  }
}

void TZORVADQuery::UnPrepare() {
  CheckInactive();
  FStatement.reset();
  ReleaseDatabase(TDBReason::drPrepared);
}

void TZORVADQuery::DatabaseDisconnecting() {
  Close();
  UnPrepare();
}

void TZORVADQuery::TakeMasterValues() {
  if (DataSource == nullptr || DataSource->DataSet == nullptr) return;
  TDataSet& master = *DataSource->DataSet;
  if (!master.Active()) return;
  for (int i = 0; i < FParams.Count(); ++i) {
    TZORVADParam& p = FParams[i];
    if (p.Bound()) continue;
    if (TField* field = master.FindField(p.Name())) p.AssignField(*field);
  }
}

void TZORVADQuery::BindParams() {
  const TParamRecord record = BuildParamRecord(FParams);
  CheckErrorCode(FStatement->BindParams(record));
}

void TZORVADQuery::RunStatement(std::unique_ptr<TRowStream>* stream) {
  AcquireDatabase(TDBReason::drExecuting);
  try {
    if (FSQL.empty()) RaiseDatabaseError(kMsgNoSqlStatement);
    if (!Prepared()) Prepare();
    TakeMasterValues();
    if (FParams.Count() > 0) BindParams();
    if (stream != nullptr) {
      *stream = FStatement->OpenRows();
    } else {
      FStatement->Execute();
    }
    FRowsAffected = FStatement->RowCount();
    FExecutionTime = FStatement->ExecutionTime();
  } catch (...) {
    ReleaseDatabase(TDBReason::drExecuting);
    throw;
  }
  ReleaseDatabase(TDBReason::drExecuting);
}

void TZORVADQuery::ExecSQL() {
  CheckInactive();
  RunStatement();
}

std::unique_ptr<TRowStream> TZORVADQuery::OpenRows() {
  CheckInactive();
  std::unique_ptr<TRowStream> stream;
  RunStatement(&stream);
  return stream;
}

TDataCursor* TZORVADQuery::CreateHandle(bool& ownedByDataSet) {
  AcquireDatabase(TDBReason::drCursor);
  try {
    RunStatement();
    bool ownedByCaller = false;
    TDataCursor* cursor = FStatement->ResultCursor(ownedByCaller);
    ownedByDataSet = ownedByCaller;
    return cursor;  // nullptr: "Error creating table handle."
  } catch (...) {
    ReleaseDatabase(TDBReason::drCursor);
    throw;
  }
}

}  // namespace engine
