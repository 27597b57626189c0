// TZORVADDatabase: one directory of tables as a component. It connects by
// opening an engine directory (TDataDirectory) through its session's engine
// session, is found by datasets through its DatabaseName, and carries the
// transactions over the open tables of its directory.
//
// Naming rules (DatabaseName):
//  * a name is empty, or belongs to a temporary database, or contains no path
//    character (':' or '\', the second byte of a double-byte character never
//    counting) and begins with A-Z, a-z, '_' or a byte 0x81..0xFE; anything
//    else is "Database name %s is not valid." (so 2002.dat is refused);
//  * names are unique in a session, ignoring case, unless both databases are
//    shared (HandleShared);
//  * a temporary database whose name holds a path character uses the name as
//    its directory; any other uses Directory ("" = the session's default).
// Invariants: connected exactly when it holds an engine directory; the
// reference count counts the datasets that opened it through the session and
// is 0 while disconnected; Directory, DatabaseName and SessionName change only
// while disconnected.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/components/component.h"

namespace engine {

class TDataDirectory;
class TZORVADSession;
class TZORVADDBDataSet;

// True when `name` holds ':' or '\' outside double-byte characters.
bool HasPathCharacter(const std::string& name);

class TZORVADDatabase : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TZORVADDatabase& sender)>;

  // Owned by a session, the database belongs to it; otherwise to the default
  // session until SessionName is set.
  explicit TZORVADDatabase(TComponent* owner = nullptr);
  // Disconnects first.
  ~TZORVADDatabase() override;

  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) {}  // read-only

  bool Connected() const noexcept { return FDirectory != nullptr; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const noexcept { return FDirectoryName; }
  void SetDirectory(const std::string& directory);
  const std::string& SessionName() const noexcept { return FSessionName; }
  void SetSessionName(const std::string& name);
  bool HandleShared() const noexcept { return FHandleShared; }
  void SetHandleShared(bool value);
  bool KeepConnection() const noexcept { return FKeepConnection; }
  void SetKeepConnection(bool value);
  bool Temporary() const noexcept { return FTemporary; }

  TNotifyEvent BeforeConnect;

  TZORVADSession& Session() const { return *FSession; }
  // The engine directory (connected databases only).
  TDataDirectory* Handle() const noexcept { return FDirectory; }
  int RefCount() const noexcept { return FRefCount; }
  int DataSetCount() const noexcept { return static_cast<int>(FDataSets.size()); }

  // ---- Transactions --------------------------------------------------------------
  // Starting under another process's write lock raises nothing: the database
  // is then simply not in a transaction.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

 private:
  friend class TZORVADSession;
  friend class TZORVADDBDataSet;
  void Connect();
  void Disconnect();
  void CheckInactive() const;
  void CheckConnected() const;
  void MoveToSession(TZORVADSession& session);
  void Attach(TZORVADDBDataSet* dataSet) { FDataSets.push_back(dataSet); }
  void Detach(TZORVADDBDataSet* dataSet);

  TZORVADSession* FSession = nullptr;
  std::string FDatabaseName;
  std::string FDirectoryName;
  std::string FSessionName;
  bool FHandleShared = false;
  bool FKeepConnection = true;
  bool FTemporary = false;
  bool FBorrowed = false;
  bool FDestroying = false;
  bool FDisconnecting = false;  // closing its datasets
  TDataDirectory* FDirectory = nullptr;
  int FRefCount = 0;
  std::vector<TZORVADDBDataSet*> FDataSets;
};

}  // namespace engine
