// Helpers of the table and cursor tests: the backup catalog's definition and
// a session with a directory on drive D:.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/engine_test_util.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

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

// A small numbered table: Id INTEGER (primary key), Num INTEGER (with the
// secondary index ByNum when asked), Name CHAR(8).
enum NumberedField : std::uint32_t { kId = 1, kNum, kName };

inline engine::TTableDefinition NumberedDefinition(bool indexOnNum) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Num", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 8);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {kId};
  d.indexes = {primary};
  if (indexOnNum) {
    engine::TIndexDefinition byNum;
    byNum.name = "ByNum";
    byNum.fieldNumbers = {kNum};
    d.indexes.push_back(byNum);
  }
  return d;
}

// Inserts Id, Num and the Name "n<Id>".
inline void AddNumbered(engine::TDataCursor& c, int id, int num) {
  auto r = c.NewRecord();
  c.PutInteger(r, kId, id);
  c.PutInteger(r, kNum, num);
  c.PutString(r, kName, "n" + std::to_string(id));
  c.Insert(r);
}

// The key bytes of one INTEGER key field: the not-NULL flag, then the value
// with its sign bit flipped, big-endian.
inline std::vector<std::uint8_t> IntKey(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
  return {1, static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
          static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

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
