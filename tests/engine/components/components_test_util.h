// Helpers of the component tests: a fresh session list for each test, drive
// D: on a temporary directory with the folder D:\Bk, tables created there
// through a cursor, and the message of the database error a call raises.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "engine/components/zorvad_session.h"
#include "engine/database_error.h"
#include "engine/engine.h"
#include "engine/table/table_test_util.h"

namespace components_test {

// The message of the EDatabaseError (engine or component) that `body`
// raises; "" when it raises none.
inline std::string MessageOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const engine::EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

// A component message with its name filled in.
inline std::string Msg(const char* text, const std::string& name = {}) {
  return engine::FormatDatabaseMessage(text, name);
}

class ComponentsTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    engine::FreeSessions();
    engine::StopEngine();
    std::filesystem::create_directory(Host("Bk"));
  }
  void TearDown() override {
    engine::FreeSessions();
    engine::StopEngine();
    DriveDTest::TearDown();
  }
  // Creates table `name` in D:\Bk through a session of its own.
  void CreateTable(const std::string& name, const engine::TTableDefinition& definition) {
    engine::TDataSession session;
    engine::TDataCursor c(session.OpenDirectory("", "D:\\Bk"), name);
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    c.CreateTable(definition);
  }
  void CreateCatalog(const std::string& name = "Back") {
    CreateTable(name, table_test::CatalogDefinition());
  }
};

}  // namespace components_test
