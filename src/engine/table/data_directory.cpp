// TDataDirectory: the tables of one directory and their transactions.
#include "engine/table/data_directory.h"

#include <cstdlib>

#include "engine/errors.h"
#include "engine/files/file_list.h"
#include "platform/system.h"

namespace engine {
namespace {

// Digits of the thread id that start a temporary table name.
constexpr std::size_t kTempNameIdDigits = 5;

std::string TableKey(const std::string& name) {
  return TableFileName("", name, kDataFileExt);
}

}  // namespace

TDataDirectory::TDataDirectory(TDataSession* session, std::string name, std::string path,
                               std::string universalPath)
    : FSession(session),
      FName(std::move(name)),
      FPath(std::move(path)),
      FUniversalPath(std::move(universalPath)),
      FMemory(SameText(Trim(FName), kMemoryDirectory)) {}

TDataDirectory::~TDataDirectory() {
  if (FInTransaction) {
    for (auto& table : FTables) {
      try {
        table->Rollback();
      } catch (const EDatabaseError&) {
        // The table object and its handles go next, and with them its locks.
      }
    }
    FInTransaction = false;
  }
  FTables.clear();
}

TDataTable* TDataDirectory::FindTable(const std::string& name, bool inMemory) const {
  const std::string key = TableKey(name);
  for (const auto& table : FTables) {
    if (table->InMemory() == inMemory && SameText(table->Name(), key)) return table.get();
  }
  return nullptr;
}

void TDataDirectory::RemoveTable(TDataTable* table) {
  for (auto it = FTables.begin(); it != FTables.end(); ++it) {
    if (it->get() == table) {
      FTables.erase(it);
      return;
    }
  }
}

void TDataDirectory::FreeIfUnused(TDataTable* table) {
  if (table->OpenCount() == 0 && !table->InTransaction()) RemoveTable(table);
}

void TDataDirectory::FreeUnusedTables() {
  std::erase_if(FTables, [](const std::unique_ptr<TDataTable>& table) {
    return table->OpenCount() == 0 && !table->InTransaction();
  });
}

TDataTable* TDataDirectory::OpenTable(const std::string& name, const TTableOptions& options) {
  const bool inMemory = TableInMemory(options);
  if (BaseName(name).empty()) RaiseEngineError(kErrInvalidPath, name);
  TDataTable* table = FindTable(name, inMemory);
  if (table != nullptr && table->OpenCount() > 0) {
    if (table->Exclusive() || options.exclusive) RaiseEngineError(kErrAccessDenied, table->Name());
    table->OpenTable();
    return table;
  }
  std::unique_ptr<TDataTable> created;
  if (table == nullptr) {
    created = std::make_unique<TDataTable>(this, name, inMemory);
    table = created.get();
  }
  table->SetOptions(options);
  try {
    table->OpenTable();
  } catch (...) {
    if (!created) FreeIfUnused(table);
    throw;
  }
  try {
    if (FInTransaction) table->StartTransaction();
  } catch (...) {
    table->CloseTable();
    if (!created) FreeIfUnused(table);
    throw;
  }
  if (created) FTables.push_back(std::move(created));
  return table;
}

void TDataDirectory::CreateTable(const std::string& name, const TTableOptions& options,
                                 const std::function<void(TDataTable&)>& createFiles) {
  const bool inMemory = TableInMemory(options);
  if (BaseName(name).empty()) RaiseEngineError(kErrInvalidPath, name);
  TDataTable* table = FindTable(name, inMemory);
  if (table != nullptr && (table->OpenCount() > 0 || table->InTransaction())) {
    RaiseEngineError(kErrAccessDenied, table->Name());
  }
  std::unique_ptr<TDataTable> created;
  if (table == nullptr) {
    created = std::make_unique<TDataTable>(this, name, inMemory);
    table = created.get();
  }
  table->SetOptions(options);
  if (createFiles) {
    createFiles(*table);
  } else {
    table->CreateTableFiles(false);
  }
  if (!created) FreeIfUnused(table);
}

void TDataDirectory::CloseTable(TDataTable* table, bool withDiscard) {
  if (table == nullptr) return;
  table->CloseTable(withDiscard);
  FreeIfUnused(table);
}

void TDataDirectory::ForgetClosedTable(const std::string& name, bool inMemory) {
  if (TDataTable* table = FindTable(name, inMemory)) {
    if (table->OpenCount() > 0 || table->InTransaction()) {
      RaiseEngineError(kErrAccessDenied, table->Name());
    }
    RemoveTable(table);
  }
}

void TDataDirectory::RenameTable(const std::string& name, const std::string& newName, bool backup) {
  RenameTable(name, newName, backup, FMemory);
}

void TDataDirectory::RenameTable(const std::string& name, const std::string& newName, bool backup,
                                 bool inMemory) {
  if (BaseName(name).empty()) RaiseEngineError(kErrInvalidPath, name);
  inMemory = inMemory || FMemory;
  ForgetClosedTable(name, inMemory);
  TDataTable table(this, name, inMemory);
  table.RenameTableFiles(newName, backup);
}

void TDataDirectory::DeleteTable(const std::string& name) {
  DeleteTable(name, FMemory);
}

void TDataDirectory::DeleteTable(const std::string& name, bool inMemory) {
  if (BaseName(name).empty()) RaiseEngineError(kErrInvalidPath, name);
  inMemory = inMemory || FMemory;
  ForgetClosedTable(name, inMemory);
  TDataTable table(this, name, inMemory);
  table.DeleteTableFiles();
}

bool TDataDirectory::TableExists(const std::string& name) const {
  return TableExists(name, FMemory);
}

bool TDataDirectory::TableExists(const std::string& name, bool inMemory) const {
  inMemory = inMemory || FMemory;
  if (FindTable(name, inMemory) != nullptr) return true;
  const std::string key = TableKey(name);
  const std::string file = (inMemory || HasPathChars(key)) ? key : FPath + key;
  return TFileList::Instance().HasFile(file, inMemory);
}

std::string TDataDirectory::TempTableName() const {
  const auto id = static_cast<std::int32_t>(platform::GetCurrentThreadId());
  const std::string digits = std::to_string(std::llabs(static_cast<long long>(id)));
  const std::string prefix = digits.substr(0, std::min(digits.size(), kTempNameIdDigits));
  for (std::uint64_t n = 0;; ++n) {
    std::string name = prefix + std::to_string(n) + kDataFileExt;
    if (!TableExists(name)) return name;
  }
}

void TDataDirectory::StartTransaction() {
  if (FInTransaction) return;
  bool failed = false;
  for (auto& table : FTables) {
    try {
      table->StartTransaction();
    } catch (const EDatabaseError&) {
      failed = true;
      break;
    }
  }
  if (failed) {
    for (auto& table : FTables) {
      try {
        table->Rollback();
      } catch (const EDatabaseError&) {
        // The table is out of its transaction either way.
      }
    }
    FreeUnusedTables();
    return;
  }
  FInTransaction = true;
}

void TDataDirectory::Commit() {
  if (!FInTransaction) return;
  // A failed commit leaves the directory in its transaction, so that the
  // caller's rollback still reaches the tables that did not commit.
  for (auto& table : FTables) table->Commit(true);
  FInTransaction = false;
  FreeUnusedTables();
}

void TDataDirectory::Rollback() {
  if (!FInTransaction) return;
  std::exception_ptr first;
  for (auto& table : FTables) {
    try {
      table->Rollback();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  FInTransaction = false;
  FreeUnusedTables();
  if (first) std::rethrow_exception(first);
}

}  // namespace engine
