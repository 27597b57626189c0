// Table names taken apart (directory, table name, default correlation name),
// and a statement's plain table names landing in its own directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine/engine_test_util.h"
#include "engine/sql/statement_test_util.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace {

using namespace engine;

TEST(SqlStatement, SplitTableName) {
  struct Case {
    const char* text;
    bool memory;
    const char* tableName;
    const char* directory;
    bool pathGiven;
    const char* correlation;
  } cases[] = {
      {"C:\\Backup\\Back.dat", false, "Back.dat", "C:\\Backup\\", true, "Back"},
      {"Back.dat", false, "Back.dat", "D:\\db\\", false, "Back"},
      {"Back", false, "Back", "D:\\db\\", false, "Back"},
      {"C:Back.dat", false, "Back.dat", "C:", true, "Back"},
      {"\\\\server\\share\\t", false, "t", "\\\\server\\share\\", true, "t"},
      {"", false, "", "", true, ""},
      {"a.b.c", false, "a.b.c", "D:\\db\\", false, "a.b"},
      // Only a dot after the last backslash starts an extension.
      {"C:\\dir.x\\t", false, "t", "C:\\dir.x\\", true, "t"},
      {".hidden", false, ".hidden", "D:\\db\\", false, ""},
      // Host paths work as Windows paths do.
      {"/srv/db/t.dat", false, "t.dat", "/srv/db/", true, "t"},
      {"C:\\x\\m.dat", true, "m.dat", "MEMORY", false, "m"},
      {"m", true, "m", "MEMORY", false, "m"},
  };
  for (const Case& c : cases) {
    const TTableNameParts parts = SplitTableName(c.text, c.memory, "D:\\db\\");
    EXPECT_EQ(parts.tableName, c.tableName) << c.text;
    EXPECT_EQ(parts.directory, c.directory) << c.text;
    EXPECT_EQ(parts.pathGiven, c.pathGiven) << c.text;
    EXPECT_EQ(parts.correlationName, c.correlation) << c.text;
  }
  const std::string longName(300, 'n');
  EXPECT_EQ(SplitTableName(longName, false, "").tableName.size(), kMaxStatementName);
}

class SqlStatementDirectory : public engine_test::DriveDTest {};

TEST_F(SqlStatementDirectory, PlainNamesLieInTheStatementsDirectory) {
  std::filesystem::create_directories(Host("Db"));
  TDataSession session;
  TDataDirectory* directory = session.OpenDirectory("", "D:\\Db");
  TQueryStatement statement(directory);
  statement.Parse("SELECT * FROM t, 'C:\\x\\u.dat', MEMORY m");
  const auto& tables = statement.MainQuery().sourceTables;
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0]->directory, directory->Path());
  EXPECT_FALSE(tables[0]->pathGiven);
  EXPECT_EQ(tables[1]->directory, "C:\\x\\");
  EXPECT_EQ(tables[2]->directory, "MEMORY");
  EXPECT_TRUE(tables[2]->memory);
  session.CloseDirectory(directory);
}

}  // namespace
