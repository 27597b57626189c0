// Helpers of the table and cursor tests: the backup catalog's definition and
// a session with a directory on drive D:.
#pragma once

#include <memory>
#include <string>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine_test_util.h"

namespace table_test {

// FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), Path CHAR(250), File
// BLOB; primary key (FileName, FileTime, Path).
inline engine::TTableDefinition CatalogDefinition() {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "FileName", engine::kFieldString, 250);
  engine::AppendField(d.fields, "FileTime", engine::kFieldInt32);
  engine::AppendField(d.fields, "isZip", engine::kFieldString, 1);
  engine::AppendField(d.fields, "Path", engine::kFieldString, 250);
  engine::AppendField(d.fields, "File", engine::kFieldBlob).SetSubtype(engine::kSubtypeBinary);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1, 2, 4};
  d.indexes.push_back(primary);
  return d;
}

enum CatalogField : std::uint32_t { kFileName = 1, kFileTime, kIsZip, kPath, kFile };

// Opens a fresh session's directory D:\Db.
class TableTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    std::filesystem::create_directory(Host("Db"));
    session_ = std::make_unique<engine::TDataSession>();
    dir_ = session_->OpenDirectory("", "D:\\Db");
  }
  void TearDown() override {
    session_.reset();
    DriveDTest::TearDown();
  }
  // Creates the table set `name` (closed afterwards).
  void CreateTable(const std::string& name, const engine::TTableDefinition& definition) {
    engine::TDataCursor c(dir_, name);
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    c.CreateTable(definition);
  }
  void CreateCatalog(const std::string& name = "Back") { CreateTable(name, CatalogDefinition()); }
  std::unique_ptr<engine::TDataCursor> OpenCursor(const std::string& name = "Back",
                                                  bool exclusive = false) {
    auto c = std::make_unique<engine::TDataCursor>(dir_, name);
    engine::TCursorOptions o;
    o.exclusive = exclusive;
    c->SetOptions(o);
    c->Open();
    return c;
  }
  // Inserts one catalog row.
  static void AddRow(engine::TDataCursor& c, const std::string& name, std::int32_t time,
                     const std::string& path, const std::string& content) {
    auto r = c.NewRecord();
    c.PutString(r, kFileName, name);
    c.PutInteger(r, kFileTime, time);
    c.PutString(r, kIsZip, "N");
    c.PutString(r, kPath, path);
    c.PutBlob(r, kFile, content.data(), content.size());
    c.Insert(r);
  }

  std::unique_ptr<engine::TDataSession> session_;
  engine::TDataDirectory* dir_ = nullptr;
};

}  // namespace table_test
