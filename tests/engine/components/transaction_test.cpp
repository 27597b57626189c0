// Transactions of the database component: the messages of its rules, and a
// start that quietly fails while another process holds a transaction.
#include <gtest/gtest.h>

#include <memory>

#include "common/step_child.h"
#include "engine/components/components_test_util.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_dbdataset.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;
using components_test::MessageOf;
using test_common::StepChild;

// A database Back.Dat on D:\Bk with the catalog table open through it.
struct Catalog {
  TZORVADDatabase db;
  TZORVADTable table;
  Catalog() {
    db.SetDatabaseName("Back.Dat");
    db.SetDirectory("D:\\Bk\\");
    table.SetDatabaseName("Back.Dat");
    table.SetTableName("Back");
  }
  void AddRow(const std::string& name) {
    table.Append();
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("FileTime").SetAsInteger(1);
    table.FieldByName("Path").SetAsString("C:\\");
    table.Post();
  }
};

TEST_F(ComponentsTest, TransactionRules) {
  CreateCatalog();
  Catalog c;
  const std::string noTransaction = "Database Back.Dat has no active transaction.";
  struct Case {
    const char* what;
    std::function<void()> body;
    std::string message;
  };
  const Case cases[] = {
      {"start on a closed database", [&] { c.db.StartTransaction(); },
       "Cannot perform this operation on a closed database."},
      {"commit on a closed database", [&] { c.db.Commit(); },
       "Cannot perform this operation on a closed database."},
      {"commit without a transaction", [&] { c.table.Open(), c.db.Commit(); }, noTransaction},
      {"rollback without a transaction", [&] { c.db.Rollback(); }, noTransaction},
      {"a second start", [&] { c.db.StartTransaction(), c.db.StartTransaction(); },
       "Database Back.Dat already has an active transaction."},
      {"commit", [&] { c.db.Commit(); }, ""},
      {"commit again", [&] { c.db.Commit(); }, noTransaction},
  };
  for (const Case& k : cases) EXPECT_EQ(MessageOf(k.body), k.message) << k.what;

  // Rollback forgets the rows of the transaction.
  c.db.StartTransaction();
  c.AddRow("gone");
  EXPECT_EQ(c.table.RecordCount(), 1);
  c.db.Rollback();
  c.table.Close();
  c.table.Open();
  EXPECT_EQ(c.table.RecordCount(), 0);
}

TEST_F(ComponentsTest, StartUnderAnotherProcessTransactionFailsQuietly) {
  CreateCatalog();
  std::unique_ptr<Catalog> theirs;
  StepChild child([&](int step) -> int {
    if (step == 0) {
      theirs = std::make_unique<Catalog>();
      theirs->table.Open();
      theirs->db.StartTransaction();
      theirs->AddRow("child");
      return theirs->db.InTransaction() ? 1 : 0;
    }
    if (step == 1) {
      theirs->db.Commit();
      return theirs->db.InTransaction() ? 1 : 0;
    }
    return -1;
  });
  ASSERT_EQ(child.Run(0), 1);

  Catalog mine;
  mine.table.Open();
  {
    engine_test::CountingSleep fast;  // the write-lock attempts without waiting
    mine.db.StartTransaction();
  }
  EXPECT_FALSE(mine.db.InTransaction());
  EXPECT_EQ(MessageOf([&] { mine.db.Commit(); }), "Database Back.Dat has no active transaction.");
  EXPECT_EQ(MessageOf([&] { mine.db.Rollback(); }), "Database Back.Dat has no active transaction.");

  ASSERT_EQ(child.Run(1), 0);
  mine.db.StartTransaction();
  EXPECT_TRUE(mine.db.InTransaction());
  mine.AddRow("parent");
  mine.db.Commit();
  EXPECT_EQ(mine.table.RecordCount(), 2);
}

}  // namespace
