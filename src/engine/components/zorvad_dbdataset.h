// TZORVADDBDataSet: a dataset that reaches its tables through a database
// component found by name (DatabaseName, in the session named SessionName),
// and TZORVADTable, the dataset of one table opened by name.
//
// The database is held for a set of reasons (an open cursor, a prepared
// statement, a statement being executed): taken from the session when the
// first reason appears (which connects it, or creates a temporary database
// for a name no component carries) and given back when the last goes.
// DatabaseName and SessionName change only while no reason holds it.
#pragma once

#include <string>

#include "engine/components/zorvad_dataset.h"

namespace engine {

class TZORVADDatabase;
class TZORVADSession;

enum class TDBReason { drCursor, drPrepared, drExecuting };

class TZORVADDBDataSet : public TZORVADDataSet {
 public:
  explicit TZORVADDBDataSet(TComponent* owner = nullptr) : TZORVADDataSet(owner) {}
  ~TZORVADDBDataSet() override;

  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const noexcept { return FSessionName; }
  void SetSessionName(const std::string& name);
  // The database while some reason holds it, else nullptr.
  TZORVADDatabase* Database() const noexcept { return FDatabase; }
  bool Holds(TDBReason reason) const noexcept { return (FReasons & Bit(reason)) != 0; }

  // Takes the database for `reason` (resolving and connecting it on the first).
  TZORVADDatabase& AcquireDatabase(TDBReason reason);
  void ReleaseDatabase(TDBReason reason);

 protected:
  friend class TZORVADDatabase;
  // The database is disconnecting: let go of everything that uses it.
  virtual void DatabaseDisconnecting() { Close(); }
  void HandleClosed() override { ReleaseDatabase(TDBReason::drCursor); }

 private:
  static unsigned Bit(TDBReason reason) { return 1u << static_cast<unsigned>(reason); }

  std::string FDatabaseName;
  std::string FSessionName;
  TZORVADDatabase* FDatabase = nullptr;
  unsigned FReasons = 0;
};

class TZORVADTable : public TZORVADDBDataSet {
 public:
  explicit TZORVADTable(TComponent* owner = nullptr) : TZORVADDBDataSet(owner) {}
  ~TZORVADTable() override;

  const std::string& TableName() const noexcept { return FTableName; }
  void SetTableName(const std::string& name);
  bool Exclusive = false;
  bool ReadOnly = false;
  // Opens the table in record-number order (the order the records were
  // written, deleted slots skipped) instead of its primary index's.
  bool NaturalOrder = false;

 protected:
  TDataCursor* CreateHandle(bool& ownedByDataSet) override;

 private:
  std::string FTableName;
};

}  // namespace engine
