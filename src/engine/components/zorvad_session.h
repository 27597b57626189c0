// The session components: TZORVADSessionList, the process-wide list of
// sessions, and TZORVADSession, which wraps one engine session (TDataSession)
// with its settings and owns the temporary databases it makes on demand.
//
// Invariants:
//  * the list is created on first use, after the engine has started, with the
//    session "Default" as its first member; that session is the default one,
//    used whenever a component names no session, and it wraps the engine's
//    own default engine session; every other session creates its own;
//  * session names are unique ignoring case;
//  * a session is active exactly when it holds an engine session; every
//    setting goes to the engine session at once when active, and is kept for
//    the next activation otherwise;
//  * activation, deactivation, opening databases for datasets and the
//    settings are serialized by the list's process-wide lock (recursive, so
//    nested uses count).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/components/component.h"

namespace engine {

class TDataSession;
class TZORVADDatabase;
class TZORVADSession;

inline constexpr char kDefaultSessionName[] = "Default";
inline constexpr char kComponentEngineVersion[] = "2.12";

class TZORVADSessionList {
 public:
  TZORVADSessionList() = default;
  TZORVADSessionList(const TZORVADSessionList&) = delete;
  TZORVADSessionList& operator=(const TZORVADSessionList&) = delete;

  // The session of that name (ignoring case), or nullptr; "" gives the default.
  TZORVADSession* FindSession(const std::string& name);
  // The same; "Session name %s is not valid." when there is none.
  TZORVADSession& GetSession(const std::string& name);
  TZORVADSession& DefaultSession() { return *FDefault; }
  int Count();
  TZORVADSession* Sessions(int index);
  // The process-wide lock of session operations.
  std::recursive_mutex& Lock() { return FLock; }

 private:
  friend class TZORVADSession;
  friend TZORVADSessionList& Sessions();
  friend void FreeSessions();
  void Add(TZORVADSession* session);
  void Remove(TZORVADSession* session);
  int TakeAutoNumber();
  void ReturnAutoNumber(int number);

  std::recursive_mutex FLock;
  std::mutex FListMutex;
  std::vector<TZORVADSession*> FSessions;
  std::vector<bool> FAutoNumbers;  // numbers in use by automatically named sessions
  TZORVADSession* FDefault = nullptr;
  std::unique_ptr<TZORVADSession> FOwnedDefault;
};

// The list, created (with the engine and the "Default" session) on first use.
TZORVADSessionList& Sessions();
// Frees the default session and the list (at shutdown; the next use starts over).
void FreeSessions();

class TZORVADSession : public TComponent {
 public:
  // Asked for a table's password: the handler adds passwords and sets
  // `retry` to try again.
  using TPasswordEvent = std::function<void(TZORVADSession& sender, bool& retry)>;
  using TNotifyEvent = std::function<void(TZORVADSession& sender)>;

  explicit TZORVADSession(TComponent* owner = nullptr);
  ~TZORVADSession() override;

  std::string EngineVersion() const { return kComponentEngineVersion; }
  void SetEngineVersion(const std::string&) {}  // read-only

  bool Active() const noexcept { return FEngineSession != nullptr; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool AutoSessionName() const noexcept { return FAutoNumber >= 0; }
  void SetAutoSessionName(bool value);
  const std::string& SessionName() const noexcept { return FSessionName; }
  void SetSessionName(const std::string& name);

  bool ForceBufferFlush() const noexcept { return FForceBufferFlush; }
  void SetForceBufferFlush(bool value);
  bool KeepConnections() const noexcept { return FKeepConnections; }
  void SetKeepConnections(bool value) { FKeepConnections = value; }
  std::uint8_t LockRetryCount() const noexcept { return FLockRetryCount; }
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const noexcept { return FLockWaitTime; }
  void SetLockWaitTime(std::uint16_t value);
  const std::string& PrivateDir() const noexcept { return FPrivateDir; }
  void SetPrivateDir(const std::string& value);
  bool StrictChangeDetection() const noexcept { return FStrictChangeDetection; }
  void SetStrictChangeDetection(bool value);
  std::uint16_t LanguageID() const noexcept { return FLanguageID; }
  void SetLanguageID(std::uint16_t value);
  std::uint16_t SortID() const noexcept { return FSortID; }
  void SetSortID(std::uint16_t value);

  TNotifyEvent OnStartup;
  TPasswordEvent OnPassword;

  // The engine session, activating the session on demand.
  TDataSession& EngineSession();

  // ---- Databases ---------------------------------------------------------------
  int DatabaseCount() const noexcept { return static_cast<int>(FDatabases.size()); }
  TZORVADDatabase* Databases(int index) const {
    return FDatabases.at(static_cast<std::size_t>(index));
  }
  // The database of that DatabaseName (ignoring case), or nullptr.
  TZORVADDatabase* FindDatabase(const std::string& name) const;
  // Finds (or creates as a temporary database) the database of that name,
  // connects it and raises its reference count.
  TZORVADDatabase& OpenDatabase(const std::string& name, TComponent* requester = nullptr);
  // Lowers the reference count; an unused database without KeepConnection is
  // freed (temporary) or disconnected.
  void CloseDatabase(TZORVADDatabase& database);

  // ---- Passwords (handed to the engine session) ---------------------------------
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();

 private:
  friend class TZORVADDatabase;
  friend class TZORVADSessionList;
  void Activate();
  void Deactivate();
  void ApplySettings();
  void AddDatabase(TZORVADDatabase* database);
  void RemoveDatabase(TZORVADDatabase* database);
  // Frees a temporary database this session owns.
  void FreeTemporary(TZORVADDatabase* database);

  std::string FSessionName;
  bool FForceBufferFlush = false;
  bool FKeepConnections = false;
  std::uint8_t FLockRetryCount;
  std::uint16_t FLockWaitTime;
  std::string FPrivateDir;
  bool FStrictChangeDetection = false;
  std::uint16_t FLanguageID = 0;
  std::uint16_t FSortID = 0;
  int FAutoNumber = -1;  // the automatic-name number, -1 when none
  bool FAssigningAutoName = false;
  bool FIsDefault = false;
  TDataSession* FEngineSession = nullptr;
  std::unique_ptr<TDataSession> FOwnSession;
  std::vector<TZORVADDatabase*> FDatabases;
  std::vector<std::unique_ptr<TZORVADDatabase>> FTemporaries;
};

}  // namespace engine
