// The database component (see zorvad_database.h).
#include "engine/components/zorvad_database.h"

#include <mutex>

#include "engine/components/zorvad_dbdataset.h"
#include "engine/components/zorvad_session.h"
#include "engine/database_error.h"
#include "engine/files/table_names.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace engine {
namespace {

// Lead bytes of double-byte characters: the byte after one never counts as
// a path character.
constexpr unsigned char kLeadByteFirst = 0x81;
constexpr unsigned char kLeadByteLast = 0xFE;

bool IsLeadByte(unsigned char c) {
  return c >= kLeadByteFirst && c <= kLeadByteLast;
}

bool IsValidDatabaseNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || IsLeadByte(c);
}

}  // namespace

bool HasPathCharacter(const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c)) {
      ++i;  // the trail byte
      continue;
    }
    if (c == ':' || c == '\\') return true;
  }
  return false;
}

TZORVADDatabase::TZORVADDatabase(TComponent* owner) : TComponent(owner) {
  auto* session = dynamic_cast<TZORVADSession*>(owner);
  FSession = session ? session : &Sessions().DefaultSession();
  FSessionName = FSession->SessionName();
  FSession->AddDatabase(this);
}

TZORVADDatabase::~TZORVADDatabase() {
  FDestroying = true;
  try {
    Disconnect();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
  if (FSession) FSession->RemoveDatabase(this);
}

std::string TZORVADDatabase::EngineVersion() const {
  return kComponentEngineVersion;
}

void TZORVADDatabase::SetConnected(bool value) {
  if (value) {
    Connect();
  } else {
    Disconnect();
  }
}

void TZORVADDatabase::CheckInactive() const {
  if (Connected()) RaiseDatabaseError(kMsgDatabaseOpen);
}

void TZORVADDatabase::CheckConnected() const {
  if (!Connected()) RaiseDatabaseError(kMsgDatabaseClosed);
}

void TZORVADDatabase::MoveToSession(TZORVADSession& session) {
  if (FSession == &session) return;
  if (FSession) FSession->RemoveDatabase(this);
  FSession = &session;
  FSession->AddDatabase(this);
}

void TZORVADDatabase::Connect() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (FDatabaseName.empty() && !FTemporary) RaiseDatabaseError(kMsgDatabaseNameMissing);
  TZORVADSession& session = Sessions().GetSession(FSessionName);
  MoveToSession(session);
  std::lock_guard<std::recursive_mutex> guard(Sessions().Lock());
  TDataSession& engineSession = session.EngineSession();
  if (FHandleShared) {
    for (TZORVADDatabase* other : session.FDatabases) {
      if (other != this && other->Connected() && other->HandleShared() &&
          other->DatabaseName() == FDatabaseName) {
        FDirectory = other->FDirectory;
        FBorrowed = true;
        return;
      }
    }
  }
  const bool pathName = HasPathCharacter(FDatabaseName);
  const std::string path = FTemporary && pathName ? FDatabaseName : FDirectoryName;
  FDirectory = engineSession.OpenDirectory(pathName ? std::string() : FDatabaseName, path);
  FBorrowed = false;
}

void TZORVADDatabase::Disconnect() {
  if (!Connected()) return;
  FDisconnecting = true;
  try {
    for (TZORVADDBDataSet* d : std::vector<TZORVADDBDataSet*>(FDataSets))
      d->DatabaseDisconnecting();
  } catch (...) {
    FDisconnecting = false;
    throw;
  }
  FDisconnecting = false;
  TDataDirectory* directory = FDirectory;
  FDirectory = nullptr;
  FRefCount = 0;
  if (!FBorrowed && FSession && FSession->Active())
    FSession->EngineSession().CloseDirectory(directory);
  FBorrowed = false;
}

void TZORVADDatabase::Detach(TZORVADDBDataSet* dataSet) {
  std::erase(FDataSets, dataSet);
}

void TZORVADDatabase::SetDatabaseName(const std::string& name) {
  if (name == FDatabaseName) return;
  CheckInactive();
  if (!name.empty() && !FTemporary &&
      (HasPathCharacter(name) || !IsValidDatabaseNameStart(static_cast<unsigned char>(name[0])))) {
    RaiseDatabaseError(kMsgInvalidDatabaseName, name);
  }
  if (!name.empty() && FSession) {
    TZORVADDatabase* other = nullptr;
    for (TZORVADDatabase* d : FSession->FDatabases) {
      if (d != this && SameText(d->DatabaseName(), name)) other = d;
    }
    if (other && !(other->HandleShared() && FHandleShared)) {
      if (other->Temporary() && other->RefCount() == 0 && other->DataSetCount() == 0) {
        FSession->FreeTemporary(other);
      } else {
        RaiseDatabaseError(kMsgDuplicateDatabaseName, name);
      }
    }
  }
  FDatabaseName = name;
}

void TZORVADDatabase::SetDirectory(const std::string& directory) {
  if (directory == FDirectoryName) return;
  CheckInactive();
  FDirectoryName = directory;
}

void TZORVADDatabase::SetSessionName(const std::string& name) {
  if (name == FSessionName) return;
  CheckInactive();
  FSessionName = name;
}

void TZORVADDatabase::SetHandleShared(bool value) {
  if (value == FHandleShared) return;
  CheckInactive();
  FHandleShared = value;
}

void TZORVADDatabase::SetKeepConnection(bool value) {
  FKeepConnection = value;
  if (!value && Connected() && FRefCount == 0 && FDataSets.empty()) Disconnect();
}

// ---- Transactions ---------------------------------------------------------------------

bool TZORVADDatabase::InTransaction() const {
  return FDirectory && FDirectory->InTransaction();
}

void TZORVADDatabase::StartTransaction() {
  CheckConnected();
  if (FDirectory->InTransaction()) RaiseDatabaseError(kMsgTransactionActive, FDatabaseName);
  FDirectory->StartTransaction();  // stays out of transaction when a table cannot start
}

void TZORVADDatabase::Commit() {
  CheckConnected();
  if (!FDirectory->InTransaction()) RaiseDatabaseError(kMsgNoTransaction, FDatabaseName);
  FDirectory->Commit();
}

void TZORVADDatabase::Rollback() {
  CheckConnected();
  if (!FDirectory->InTransaction()) RaiseDatabaseError(kMsgNoTransaction, FDatabaseName);
  FDirectory->Rollback();
}

}  // namespace engine
