// The session list, sessions with their settings and naming rules, database
// components with their naming rules, connection and resolution by name.
#include <gtest/gtest.h>

#include <memory>

#include "engine/components/components_test_util.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_dbdataset.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;
using components_test::MessageOf;
using components_test::Msg;

TEST_F(ComponentsTest, DefaultSessionIsCreatedFirstAndFoundByNameOrEmptyName) {
  TZORVADSession& d = Sessions().DefaultSession();
  EXPECT_EQ(d.SessionName(), "Default");
  EXPECT_EQ(Sessions().FindSession(""), &d);
  EXPECT_EQ(Sessions().FindSession("DEFAULT"), &d);
  EXPECT_EQ(Sessions().FindSession("other"), nullptr);
  EXPECT_EQ(MessageOf([] { Sessions().GetSession("other"); }), "Session name other is not valid.");
  EXPECT_FALSE(d.KeepConnections());  // made at run time
  EXPECT_EQ(d.LockRetryCount(), 15);
  EXPECT_EQ(d.LockWaitTime(), 100);
  EXPECT_EQ(d.EngineVersion(), "2.12");
  // Activation binds the engine's own default session.
  d.Open();
  EXPECT_EQ(&d.EngineSession(), &engine::DefaultSession());
}

TEST_F(ComponentsTest, SessionNamingRules) {
  TComponent form;
  TZORVADSession a(&form);
  a.SetName("Sess");
  a.SetSessionName("First");
  TZORVADSession b;
  struct Case {
    const char* what;
    std::function<void()> body;
    std::string message;
  };
  const Case cases[] = {
      {"same name ignoring case", [&] { b.SetSessionName("FIRST"); },
       "Session name FIRST already exists."},
      {"activation without a name", [&] { b.Open(); }, "Session name is missing."},
      {"a second session in the owner of an automatic one",
       [&] {
         TZORVADSession c(&form);
         c.SetName("Other");
         a.SetAutoSessionName(true);
       },
       "The active auto-session can be the only active session."},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf(c.body), c.message) << c.what;

  a.SetAutoSessionName(true);
  EXPECT_EQ(a.SessionName(), "Sess_1");
  EXPECT_EQ(MessageOf([&] { a.SetSessionName("x"); }),
            "Cannot perform this operation on the active auto-session.");
  TComponent form2;
  TZORVADSession c(&form2);
  c.SetName("Sess");
  c.SetAutoSessionName(true);
  EXPECT_EQ(c.SessionName(), "Sess_2");
  a.SetAutoSessionName(false);  // gives its number back
  TComponent form3;
  TZORVADSession d(&form3);
  d.SetName("Z");
  d.SetAutoSessionName(true);
  EXPECT_EQ(d.SessionName(), "Z_1");

  b.SetSessionName("Second");
  b.Open();
  EXPECT_EQ(MessageOf([&] { b.SetSessionName("Third"); }),
            "Cannot perform this operation on an active session.");
  EXPECT_EQ(MessageOf([&] { b.SetAutoSessionName(true); }),
            "Cannot perform this operation on an active session.");
}

TEST_F(ComponentsTest, AutomaticSessionNamesTheDatabasesAndDatasetsOfItsOwner) {
  TComponent form;
  TZORVADDatabase db(&form);
  TZORVADTable table(&form);
  TZORVADSession s(&form);
  s.SetName("S");
  s.SetAutoSessionName(true);
  EXPECT_EQ(db.SessionName(), "S_1");
  EXPECT_EQ(table.SessionName(), "S_1");
}

// Every setting reaches the engine session: at activation when set before,
// at once when set while active.
TEST_F(ComponentsTest, SessionSettingsArePassedToTheEngineSession) {
  struct Setting {
    const char* name;
    std::function<void(TZORVADSession&)> set;
    std::function<bool(const TDataSession&)> reached;
  };
  const Setting settings[] = {
      {"LockRetryCount", [](auto& s) { s.SetLockRetryCount(3); },
       [](const auto& e) { return e.LockRetryCount == 3; }},
      {"LockWaitTime", [](auto& s) { s.SetLockWaitTime(7); },
       [](const auto& e) { return e.LockWaitTime == 7; }},
      {"ForceBufferFlush", [](auto& s) { s.SetForceBufferFlush(true); },
       [](const auto& e) { return e.ForceBufferFlush; }},
      {"StrictChangeDetection", [](auto& s) { s.SetStrictChangeDetection(true); },
       [](const auto& e) { return e.StrictChangeDetection; }},
      {"LanguageID", [](auto& s) { s.SetLanguageID(0x404); },
       [](const auto& e) { return e.LanguageID == 0x404; }},
      {"SortID", [](auto& s) { s.SetSortID(2); }, [](const auto& e) { return e.SortID == 2; }},
      {"PrivateDir", [](auto& s) { s.SetPrivateDir("D:\\Bk"); },
       [](const auto& e) { return e.PrivateDir() == "D:\\Bk\\"; }},
  };
  for (const Setting& setting : settings) {
    for (const bool activeFirst : {false, true}) {
      TZORVADSession s;
      s.SetSessionName(std::string("S") + setting.name + (activeFirst ? "1" : "0"));
      if (activeFirst) s.Open();
      setting.set(s);
      if (!activeFirst) {
        EXPECT_FALSE(s.Active()) << setting.name << ": kept for later";
      }
      EXPECT_TRUE(setting.reached(s.EngineSession())) << setting.name << " active " << activeFirst;
      EXPECT_NE(&s.EngineSession(), &engine::DefaultSession()) << "a session of its own";
    }
  }
}

TEST_F(ComponentsTest, DatabaseNamingRules) {
  struct Case {
    std::string name;
    bool temporary;
    bool valid;
  };
  const Case cases[] = {
      {"Back.Dat", false, true},
      {"_x", false, true},
      {"\xA4\xA4.dat", false, true},  // begins with a Big5 lead byte
      {"2002.dat", false, false},
      {".dat", false, false},
      {"D:\\Bk\\Back.Dat", false, false},
      {"a:b", false, false},
      {"a\\b", false, false},
      {"D:\\Bk\\Back.Dat", true, true},
      {"\xA5\\x", false, true},  // the backslash is the second byte of a character
  };
  for (const Case& c : cases) {
    TZORVADDatabase db;
    if (c.temporary) {
      // Only a session makes temporary databases; it does so for path names.
      TZORVADDatabase& t = Sessions().DefaultSession().OpenDatabase(c.name);
      EXPECT_TRUE(t.Temporary());
      EXPECT_EQ(t.DatabaseName(), c.name);
      Sessions().DefaultSession().CloseDatabase(t);
      continue;
    }
    const std::string message = MessageOf([&] { db.SetDatabaseName(c.name); });
    EXPECT_EQ(message, c.valid ? "" : "Database name " + c.name + " is not valid.") << c.name;
  }
  TZORVADDatabase a, b;
  a.SetDatabaseName("Back.Dat");
  EXPECT_EQ(MessageOf([&] { b.SetDatabaseName("BACK.DAT"); }),
            "Database name BACK.DAT already exists.");
  a.SetHandleShared(true);
  b.SetHandleShared(true);
  EXPECT_EQ(MessageOf([&] { b.SetDatabaseName("BACK.DAT"); }), "");

  // An unused temporary database of that name makes way; a used one does not.
  TZORVADSession& session = Sessions().DefaultSession();
  session.SetKeepConnections(true);
  TZORVADDatabase& kept = session.OpenDatabase("Tmp");
  session.CloseDatabase(kept);
  ASSERT_EQ(session.FindDatabase("Tmp"), &kept) << "kept by KeepConnections";
  TZORVADDatabase c;
  c.SetDatabaseName("TMP");
  EXPECT_EQ(session.FindDatabase("Tmp"), &c);
  TZORVADDatabase& used = session.OpenDatabase("Used");
  TZORVADDatabase d;
  EXPECT_EQ(MessageOf([&] { d.SetDatabaseName("used"); }), "Database name used already exists.");
  session.CloseDatabase(used);
}

TEST_F(ComponentsTest, ConnectedDatabaseRefusesChangesAndConnectNeedsAName) {
  TZORVADDatabase db;
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Database name is missing.");
  db.SetSessionName("Nobody");
  db.SetDatabaseName("Back.Dat");
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Session name Nobody is not valid.");
  EXPECT_FALSE(db.Connected());
  db.SetSessionName("Default");
  db.SetDirectory("D:\\Bk\\");
  int before = 0;
  db.BeforeConnect = [&](TZORVADDatabase&) { ++before; };
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(before, 1);
  EXPECT_EQ(db.Handle()->Path(), "D:\\Bk\\");
  const std::string open = "Cannot perform this operation on an open database.";
  EXPECT_EQ(MessageOf([&] { db.SetDirectory("D:\\Other\\"); }), open);
  EXPECT_EQ(MessageOf([&] { db.SetDatabaseName("Other"); }), open);
  EXPECT_EQ(MessageOf([&] { db.SetSessionName("Other"); }), open);
  EXPECT_EQ(MessageOf([&] { db.SetDatabaseName("Back.Dat"); }), "") << "unchanged: nothing";
  db.Close();
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(MessageOf([&] { db.SetDirectory("D:\\Other\\"); }), "");
}

TEST_F(ComponentsTest, DatasetsFindTheirDatabaseByNameOrGetATemporaryOne) {
  CreateCatalog();
  TZORVADDatabase db;
  db.SetDatabaseName("Back.Dat");
  db.SetDirectory("D:\\Bk\\");
  db.SetKeepConnection(false);
  {
    TZORVADTable t;
    t.SetDatabaseName("back.dat");  // names compare ignoring case
    t.SetTableName("Back");
    t.Open();
    EXPECT_EQ(t.Database(), &db);
    EXPECT_EQ(db.RefCount(), 1);
    EXPECT_EQ(MessageOf([&] { t.SetDatabaseName("x"); }),
              "Cannot perform this operation on an open database.");
    t.Close();
    EXPECT_FALSE(db.Connected()) << "released without KeepConnection";
  }
  {
    // No component of that name: a temporary database on the path itself.
    TZORVADTable t;
    t.SetDatabaseName("D:\\Bk\\Back.Dat");
    t.SetTableName("D:\\Bk\\Back");
    t.Open();
    ASSERT_NE(t.Database(), nullptr);
    EXPECT_TRUE(t.Database()->Temporary());
    EXPECT_EQ(t.Database()->Handle()->Path(), "D:\\Bk\\Back.Dat\\");
    EXPECT_EQ(Sessions().DefaultSession().DatabaseCount(), 2);
    t.Close();
    EXPECT_EQ(Sessions().DefaultSession().DatabaseCount(), 1) << "the temporary one is freed";
  }
  {
    // Without KeepConnection an unused database goes at once.
    db.SetKeepConnection(true);
    db.Open();
    db.SetKeepConnection(false);
    EXPECT_FALSE(db.Connected());
  }
  {
    // A database kept connected is disconnected by hand, closing its datasets.
    db.SetKeepConnection(true);
    TZORVADTable t;
    t.SetDatabaseName("Back.Dat");
    t.SetTableName("Back");
    t.Open();
    db.Close();
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.Database(), nullptr);
  }
  TZORVADTable missing;
  missing.SetDatabaseName("Back.Dat");
  EXPECT_EQ(MessageOf([&] { missing.Open(); }), "Missing table name.");
}

TEST_F(ComponentsTest, SharedDatabasesBorrowOneEngineDirectory) {
  TZORVADDatabase a, b;
  for (TZORVADDatabase* d : {&a, &b}) {
    d->SetHandleShared(true);
    d->SetDatabaseName("Bk");
  }
  a.SetDirectory("D:\\Bk");
  a.Open();
  b.Open();
  EXPECT_EQ(b.Handle(), a.Handle());
  b.Close();
  EXPECT_TRUE(a.Connected()) << "the borrower only forgets the directory";
  EXPECT_EQ(a.Handle()->RefCount(), 1);
}

TEST_F(ComponentsTest, SessionIsAskedForTheTablePassword) {
  auto definition = table_test::NumberedDefinition(false);
  definition.password = "secret";
  definition.encrypted = true;
  CreateTable("Locked", definition);
  TZORVADSession& session = Sessions().DefaultSession();
  int asked = 0;
  session.OnPassword = [&](TZORVADSession& s, bool& retry) {
    ++asked;
    if (asked == 1) s.AddPassword("secret");
    retry = asked == 1;
  };
  TZORVADTable t;
  t.SetDatabaseName("D:\\Bk");
  t.SetTableName("Locked");
  t.Open();
  EXPECT_EQ(asked, 1);
  t.Close();
  session.RemoveAllPasswords();
  EXPECT_EQ(engine_test::EngineCodeOf([&] { t.Open(); }), kErrPasswordRequired);
  EXPECT_EQ(asked, 2);
}

TEST_F(ComponentsTest, DeactivatingASessionFreesItsTemporaryDatabases) {
  TZORVADSession s;
  s.SetSessionName("S");
  TZORVADDatabase& t = s.OpenDatabase("D:\\Bk");
  EXPECT_TRUE(t.Connected());
  EXPECT_EQ(s.DatabaseCount(), 1);
  s.Close();
  EXPECT_EQ(s.DatabaseCount(), 0);
}

}  // namespace
