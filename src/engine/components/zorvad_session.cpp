// The session list and the session component (see zorvad_session.h).
#include "engine/components/zorvad_session.h"

#include <algorithm>

#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_dbdataset.h"
#include "engine/database_error.h"
#include "engine/engine.h"
#include "engine/files/table_names.h"
#include "engine/table/data_session.h"

namespace engine {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

std::unique_ptr<TZORVADSessionList>& ListSlot() {
  static std::unique_ptr<TZORVADSessionList> list;
  return list;
}

// "%s_%d" with the component's name and the number plus 1.
std::string AutoName(const std::string& componentName, int number) {
  return componentName + "_" + std::to_string(number + 1);
}

}  // namespace

// ---- The list -------------------------------------------------------------------------

TZORVADSessionList& Sessions() {
  static std::mutex creation;
  std::lock_guard<std::mutex> guard(creation);
  auto& list = ListSlot();
  if (!list) {
    StartEngine();
    list = std::make_unique<TZORVADSessionList>();
    list->FOwnedDefault = std::make_unique<TZORVADSession>();  // the first one: the default
    list->FOwnedDefault->SetSessionName(kDefaultSessionName);
  }
  return *list;
}

void FreeSessions() {
  auto& list = ListSlot();
  if (list) list->FOwnedDefault.reset();
  list.reset();
}

TZORVADSession* TZORVADSessionList::FindSession(const std::string& name) {
  std::lock_guard<std::mutex> guard(FListMutex);
  if (name.empty()) return FDefault;
  for (TZORVADSession* s : FSessions) {
    if (SameText(s->SessionName(), name)) return s;
  }
  return nullptr;
}

TZORVADSession& TZORVADSessionList::GetSession(const std::string& name) {
  TZORVADSession* s = FindSession(name);
  if (!s) RaiseDatabaseError(kMsgInvalidSessionName, name);
  return *s;
}

int TZORVADSessionList::Count() {
  std::lock_guard<std::mutex> guard(FListMutex);
  return static_cast<int>(FSessions.size());
}

TZORVADSession* TZORVADSessionList::Sessions(int index) {
  std::lock_guard<std::mutex> guard(FListMutex);
  return FSessions.at(static_cast<std::size_t>(index));
}

void TZORVADSessionList::Add(TZORVADSession* session) {
  std::lock_guard<std::mutex> guard(FListMutex);
  if (FSessions.empty()) {
    FDefault = session;
    session->FIsDefault = true;
  }
  FSessions.push_back(session);
}

void TZORVADSessionList::Remove(TZORVADSession* session) {
  std::lock_guard<std::mutex> guard(FListMutex);
  std::erase(FSessions, session);
  if (FDefault == session) FDefault = nullptr;
}

int TZORVADSessionList::TakeAutoNumber() {
  std::lock_guard<std::mutex> guard(FListMutex);
  auto free = std::find(FAutoNumbers.begin(), FAutoNumbers.end(), false);
  if (free != FAutoNumbers.end()) {
    *free = true;
    return static_cast<int>(free - FAutoNumbers.begin());
  }
  FAutoNumbers.push_back(true);
  return static_cast<int>(FAutoNumbers.size()) - 1;
}

void TZORVADSessionList::ReturnAutoNumber(int number) {
  std::lock_guard<std::mutex> guard(FListMutex);
  if (number >= 0 && static_cast<std::size_t>(number) < FAutoNumbers.size())
    FAutoNumbers[static_cast<std::size_t>(number)] = false;
}

// ---- The session ------------------------------------------------------------------------

TZORVADSession::TZORVADSession(TComponent* owner)
    : TComponent(owner),
      FLockRetryCount(kDefaultLockRetryCount),
      FLockWaitTime(kDefaultLockWaitTimeMs),
      FLanguageID(0) {
  // The list exists already while it creates its default session.
  TZORVADSessionList& list = ListSlot() ? *ListSlot() : Sessions();
  FLanguageID = engine::DefaultSession().LanguageID;
  list.Add(this);
}

TZORVADSession::~TZORVADSession() {
  try {
    Deactivate();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
  }
  FTemporaries.clear();
  for (TZORVADDatabase* d : FDatabases) d->FSession = nullptr;
  if (FAutoNumber >= 0 && ListSlot()) ListSlot()->ReturnAutoNumber(FAutoNumber);
  if (ListSlot()) ListSlot()->Remove(this);
}

void TZORVADSession::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void TZORVADSession::Activate() {
  Guard guard(Sessions().Lock());
  if (Active()) return;
  if (OnStartup) OnStartup(*this);
  if (FSessionName.empty()) RaiseDatabaseError(kMsgSessionNameMissing);
  if (!FIsDefault) Sessions().DefaultSession().Activate();
  if (FIsDefault) {
    FEngineSession = &engine::DefaultSession();
  } else {
    FOwnSession = std::make_unique<TDataSession>();
    FEngineSession = FOwnSession.get();
  }
  try {
    ApplySettings();
  } catch (...) {
    Deactivate();
    throw;
  }
}

void TZORVADSession::Deactivate() {
  Guard guard(Sessions().Lock());
  if (!Active()) return;
  // Temporary databases go; the others are disconnected.
  while (!FTemporaries.empty()) FreeTemporary(FTemporaries.back().get());
  for (TZORVADDatabase* d : std::vector<TZORVADDatabase*>(FDatabases)) d->Close();
  FEngineSession = nullptr;
  FOwnSession.reset();
}

void TZORVADSession::ApplySettings() {
  if (!FEngineSession) return;
  TDataSession& s = *FEngineSession;
  s.SetPrivateDir(FPrivateDir);
  s.StrictChangeDetection = FStrictChangeDetection;
  s.ForceBufferFlush = FForceBufferFlush;
  s.LockRetryCount = FLockRetryCount;
  s.LockWaitTime = FLockWaitTime;
  s.LanguageID = FLanguageID;
  s.SortID = FSortID;
}

TDataSession& TZORVADSession::EngineSession() {
  Activate();
  return *FEngineSession;
}

void TZORVADSession::SetSessionName(const std::string& name) {
  if (AutoSessionName() && !FAssigningAutoName) RaiseDatabaseError(kMsgAutoSessionActive);
  if (Active()) RaiseDatabaseError(kMsgSessionActive);
  if (!name.empty()) {
    TZORVADSession* other = ListSlot()->FindSession(name);
    if (other && other != this) RaiseDatabaseError(kMsgDuplicateSessionName, name);
  }
  FSessionName = name;
}

void TZORVADSession::SetAutoSessionName(bool value) {
  if (value == AutoSessionName()) return;
  if (Active()) RaiseDatabaseError(kMsgSessionActive);
  if (!value) {
    ListSlot()->ReturnAutoNumber(FAutoNumber);
    FAutoNumber = -1;
    return;
  }
  // The automatic session is the only session of its owner.
  if (TComponent* owner = Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TZORVADSession*>(owner->Components(i));
      if (other && other != this) RaiseDatabaseError(kMsgAutoSessionOnly);
    }
  }
  const int number = ListSlot()->TakeAutoNumber();
  FAutoNumber = number;
  FAssigningAutoName = true;
  try {
    SetSessionName(AutoName(Name(), number));
  } catch (...) {
    FAssigningAutoName = false;
    ListSlot()->ReturnAutoNumber(number);
    FAutoNumber = -1;
    throw;
  }
  FAssigningAutoName = false;
  if (TComponent* owner = Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      if (auto* d = dynamic_cast<TZORVADDatabase*>(owner->Components(i))) {
        d->SetSessionName(FSessionName);
      } else if (auto* ds = dynamic_cast<TZORVADDBDataSet*>(owner->Components(i))) {
        ds->SetSessionName(FSessionName);
      }
    }
  }
}

// ---- Settings ----------------------------------------------------------------------------

#define ORV_SESSION_SETTER(Name, Type, Member) \
  void TZORVADSession::Set##Name(Type value) { \
    Guard guard(Sessions().Lock());            \
    Member = value;                            \
    ApplySettings();                           \
  }
ORV_SESSION_SETTER(ForceBufferFlush, bool, FForceBufferFlush)
ORV_SESSION_SETTER(LockRetryCount, std::uint8_t, FLockRetryCount)
ORV_SESSION_SETTER(LockWaitTime, std::uint16_t, FLockWaitTime)
ORV_SESSION_SETTER(PrivateDir, const std::string&, FPrivateDir)
ORV_SESSION_SETTER(StrictChangeDetection, bool, FStrictChangeDetection)
ORV_SESSION_SETTER(LanguageID, std::uint16_t, FLanguageID)
ORV_SESSION_SETTER(SortID, std::uint16_t, FSortID)
#undef ORV_SESSION_SETTER

// ---- Databases ---------------------------------------------------------------------------

void TZORVADSession::AddDatabase(TZORVADDatabase* database) {
  FDatabases.push_back(database);
}

void TZORVADSession::RemoveDatabase(TZORVADDatabase* database) {
  std::erase(FDatabases, database);
}

TZORVADDatabase* TZORVADSession::FindDatabase(const std::string& name) const {
  for (TZORVADDatabase* d : FDatabases) {
    if (SameText(d->DatabaseName(), name)) return d;
  }
  return nullptr;
}

TZORVADDatabase& TZORVADSession::OpenDatabase(const std::string& name, TComponent* requester) {
  Guard guard(Sessions().Lock());
  TZORVADDatabase* found = nullptr;
  for (TZORVADDatabase* d : FDatabases) {
    if (!SameText(d->DatabaseName(), name)) continue;
    const bool preferred =
        d->HandleShared() && requester != nullptr && d->Owner() == requester->Owner();
    if (preferred || found == nullptr) found = d;
    if (preferred) break;
  }
  if (found == nullptr) {
    auto temporary = std::make_unique<TZORVADDatabase>(this);
    temporary->FTemporary = true;
    temporary->SetDatabaseName(name);
    temporary->SetKeepConnection(FKeepConnections);
    found = temporary.get();
    FTemporaries.push_back(std::move(temporary));
    try {
      found->Open();
    } catch (...) {
      FreeTemporary(found);
      throw;
    }
  } else {
    found->Open();
  }
  ++found->FRefCount;
  return *found;
}

void TZORVADSession::CloseDatabase(TZORVADDatabase& database) {
  Guard guard(Sessions().Lock());
  if (database.FRefCount > 0) --database.FRefCount;
  if (database.FRefCount > 0 || database.KeepConnection() || database.FDisconnecting) return;
  if (database.Temporary()) {
    if (!database.FDestroying) FreeTemporary(&database);
  } else {
    database.Close();
  }
}

void TZORVADSession::FreeTemporary(TZORVADDatabase* database) {
  auto it = std::find_if(FTemporaries.begin(), FTemporaries.end(),
                         [database](const auto& owned) { return owned.get() == database; });
  if (it == FTemporaries.end()) return;
  std::unique_ptr<TZORVADDatabase> owned = std::move(*it);
  FTemporaries.erase(it);
  owned.reset();  // disconnects and leaves the session's list
}

void TZORVADSession::AddPassword(const std::string& password) {
  Guard guard(Sessions().Lock());
  EngineSession().AddPassword(password);
}

void TZORVADSession::RemovePassword(const std::string& password) {
  Guard guard(Sessions().Lock());
  EngineSession().RemovePassword(password);
}

void TZORVADSession::RemoveAllPasswords() {
  Guard guard(Sessions().Lock());
  EngineSession().RemoveAllPasswords();
}

}  // namespace engine
