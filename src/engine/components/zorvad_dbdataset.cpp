// Datasets on a database component (see zorvad_dbdataset.h).
#include "engine/components/zorvad_dbdataset.h"

#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_session.h"
#include "engine/database_error.h"

namespace engine {

TZORVADDBDataSet::~TZORVADDBDataSet() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
  FReasons = Bit(TDBReason::drCursor);  // whatever still holds the database lets go
  try {
    ReleaseDatabase(TDBReason::drCursor);
  } catch (...) {  // NOLINT(bugprone-empty-catch)
  }
}

void TZORVADDBDataSet::SetDatabaseName(const std::string& name) {
  if (name == FDatabaseName) return;
  if (FDatabase) RaiseDatabaseError(kMsgDatabaseOpen);
  CheckInactive();
  FDatabaseName = name;
}

void TZORVADDBDataSet::SetSessionName(const std::string& name) {
  if (name == FSessionName) return;
  if (FDatabase) RaiseDatabaseError(kMsgDatabaseOpen);
  CheckInactive();
  FSessionName = name;
}

TZORVADDatabase& TZORVADDBDataSet::AcquireDatabase(TDBReason reason) {
  if (!FDatabase) {
    TZORVADSession& session = Sessions().GetSession(FSessionName);
    // A database of that name in this session, else in the default session;
    // otherwise the session makes a temporary one.
    TZORVADDatabase* found = session.FindDatabase(FDatabaseName);
    if (!found) found = Sessions().DefaultSession().FindDatabase(FDatabaseName);
    TZORVADSession& owner = found ? found->Session() : session;
    TZORVADDatabase& database = owner.OpenDatabase(FDatabaseName, this);
    database.Attach(this);
    FDatabase = &database;
  }
  FReasons |= Bit(reason);
  return *FDatabase;
}

void TZORVADDBDataSet::ReleaseDatabase(TDBReason reason) {
  FReasons &= ~Bit(reason);
  if (FReasons != 0 || !FDatabase) return;
  TZORVADDatabase* database = FDatabase;
  FDatabase = nullptr;
  database->Detach(this);
  database->Session().CloseDatabase(*database);
}

// ---- TZORVADTable -----------------------------------------------------------------------

TZORVADTable::~TZORVADTable() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
}

void TZORVADTable::SetTableName(const std::string& name) {
  CheckInactive();
  FTableName = name;
}

TDataCursor* TZORVADTable::CreateHandle(bool& ownedByDataSet) {
  if (FTableName.empty()) RaiseDatabaseError(kMsgMissingTableName);
  TZORVADDatabase& database = AcquireDatabase(TDBReason::drCursor);
  ownedByDataSet = true;
  try {
    auto cursor = std::make_unique<TDataCursor>(database.Handle(), FTableName);
    TCursorOptions options;
    options.exclusive = Exclusive;
    options.readOnly = ReadOnly;
    options.naturalOrder = NaturalOrder;
    cursor->SetOptions(options);
    // A table whose password the session does not know asks the session's handler.
    TZORVADSession& session = database.Session();
    cursor->OnPassword = [&session](TDataSession&) {
      bool retry = false;
      if (session.OnPassword) session.OnPassword(session, retry);
      return retry;
    };
    cursor->Open();
    return cursor.release();
  } catch (...) {
    ReleaseDatabase(TDBReason::drCursor);
    throw;
  }
}

}  // namespace engine
