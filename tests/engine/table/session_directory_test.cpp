// Engine start and stop, sessions, directories and the directory's table and
// transaction operations, on real directories below D:.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/engine.h"
#include "engine/engine_test_util.h"
#include "engine/files/file_list.h"
#include "engine/files/lock_map.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace {

using engine::TDataDirectory;
using engine::TDataSession;
using engine::TDataTable;
using engine::TTableOptions;
using engine_test::CountingSleep;
using engine_test::EngineCodeOf;
using platform_test::Child;

TEST(Engine, DefaultSessionOnlyWhileStarted) {
  engine::StopEngine();
  try {
    engine::DefaultSession();
    FAIL();
  } catch (const engine::EZORVADEngineError& e) {
    EXPECT_EQ(e.Message(), "ZORVAD Engine Error # 10758 Engine not initialized");
  }
  engine::StartEngine();
  TDataSession* first = &engine::DefaultSession();
  engine::StartEngine();  // a second start does nothing
  EXPECT_EQ(&engine::DefaultSession(), first);
  EXPECT_TRUE(engine::EngineStarted());
  engine::StopEngine();
  EXPECT_FALSE(engine::EngineStarted());
  EXPECT_EQ(EngineCodeOf([] { engine::DefaultSession(); }), engine::kErrEngineNotInitialized);
}

class SessionTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    std::filesystem::create_directory(Host("Bk"));
    ASSERT_TRUE(platform::SetCurrentDirectory("D:\\"));
  }
  // Creates an empty table set N.DAT / N.IDX in `dir`.
  static void MakeTable(TDataDirectory* dir, const std::string& name) {
    dir->CreateTable(name, TTableOptions{});
  }
};

TEST_F(SessionTest, SettingsDefaultsPrivateDirAndPasswords) {
  TDataSession session;
  EXPECT_EQ(session.DefaultDirectory(), "D:\\");
  EXPECT_EQ(session.LockRetryCount, 15);
  EXPECT_EQ(session.LockWaitTime, 100);
  EXPECT_FALSE(session.ForceBufferFlush);
  EXPECT_FALSE(session.StrictChangeDetection);
  EXPECT_EQ(session.SortID, 0);
  // UTF-8 is a multi-byte code page: new tables collate bytewise (language 0).
  EXPECT_EQ(session.LanguageID, 0);
  EXPECT_EQ(session.PrivateDir(), "");
  EXPECT_EQ(session.TempDirectory(), "D:\\");
  session.SetPrivateDir("  D:\\Tmp ");
  EXPECT_EQ(session.PrivateDir(), "D:\\Tmp\\");
  EXPECT_EQ(session.TempDirectory(), "D:\\Tmp\\");

  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("");
  EXPECT_TRUE(session.HasPassword("Secret"));
  EXPECT_FALSE(session.HasPassword("secret"));
  EXPECT_FALSE(session.HasPassword(""));
  session.AddPassword("other");
  session.RemovePassword("SECRET");
  EXPECT_TRUE(session.HasPassword("Secret"));
  session.RemovePassword("Secret");
  EXPECT_FALSE(session.HasPassword("Secret"));
  session.RemoveAllPasswords();
  EXPECT_FALSE(session.HasPassword("other"));
}

TEST_F(SessionTest, SpellingsOfOneDirectoryResolveToOneObject) {
  platform::SetShare("\\\\srv\\pub", d_.path());
  const struct {
    const char* first;
    const char* second;
  } cases[] = {
      {"D:\\Bk", "d:\\bK\\"},            // case and trailing backslash
      {"D:\\Bk\\", "\\\\srv\\pub\\Bk"},  // mapped drive and network path
      {"D:\\Missing", "d:\\MISSING\\"},  // no universal name: the path as given
      {"", "D:\\"},                      // empty: the default directory
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " / " + c.second);
    TDataSession session;
    TDataDirectory* a = session.OpenDirectory("", c.first);
    TDataDirectory* b = session.OpenDirectory("", c.second);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->RefCount(), 2);
    EXPECT_EQ(session.DirectoryCount(), 1);
    EXPECT_EQ(a->Path().back(), '\\');
    EXPECT_EQ(session.CloseDirectory(a), 0);
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(session.CloseDirectory(b), 0);
    EXPECT_EQ(session.DirectoryCount(), 0);
    EXPECT_EQ(session.CloseDirectory(a), -engine::kErrAccessDenied);  // already freed
  }
  TDataSession session;
  TDataDirectory* one = session.OpenDirectory("", "D:\\Bk");
  TDataDirectory* other = session.OpenDirectory("", "D:\\");
  EXPECT_NE(one, other);
  TDataDirectory* memory = session.OpenDirectory("memory", "D:\\Bk");
  EXPECT_TRUE(memory->IsMemory());
  EXPECT_EQ(memory->Path(), "");
  EXPECT_EQ(session.OpenDirectory("MEMORY", ""), memory);
  EXPECT_EQ(memory->RefCount(), 2);
  TDataSession stranger;
  EXPECT_EQ(stranger.CloseDirectory(one), -engine::kErrAccessDenied);
}

TEST_F(SessionTest, TablesAreSharedExclusiveUseIsRefused) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  MakeTable(dir, "Back");
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Back.DAT")));
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Back.IDX")));
  EXPECT_EQ(dir->TableCount(), 0);  // a created table waits to be opened

  TDataTable* t = dir->OpenTable("Back", TTableOptions{});
  EXPECT_EQ(t->Name(), "Back.DAT");
  EXPECT_EQ(dir->OpenTable("back.dat", TTableOptions{}), t);
  EXPECT_EQ(t->OpenCount(), 2);
  TTableOptions exclusive;
  exclusive.exclusive = true;
  EXPECT_EQ(EngineCodeOf([&] { dir->OpenTable("BACK", exclusive); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { MakeTable(dir, "Back"); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { dir->DeleteTable("Back"); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { dir->RenameTable("Back", "Front", false); }),
            engine::kErrAccessDenied);
  dir->CloseTable(t);
  dir->CloseTable(t);
  EXPECT_EQ(dir->TableCount(), 0);  // freed with its last opener

  TDataTable* sole = dir->OpenTable("Back", exclusive);
  EXPECT_EQ(EngineCodeOf([&] { dir->OpenTable("Back", TTableOptions{}); }),
            engine::kErrAccessDenied);
  dir->CloseTable(sole);

  EXPECT_EQ(EngineCodeOf([&] { MakeTable(dir, ".DAT"); }), engine::kErrInvalidPath);
  EXPECT_EQ(EngineCodeOf([&] { dir->OpenTable("Nothing", TTableOptions{}); }),
            engine::kErrInvalidPath);
  EXPECT_EQ(dir->TableCount(), 0);
}

TEST_F(SessionTest, RenameDeleteAndBackupNames) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  MakeTable(dir, "Back");
  dir->RenameTable("Back", "Front", false);
  EXPECT_FALSE(std::filesystem::exists(Host("Bk/Back.DAT")));
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Front.DAT")));
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Front.IDX")));

  // With the backup option an older backup is replaced.
  MakeTable(dir, "Old");
  dir->RenameTable("Old", "Front", true);
  dir->RenameTable("Front", "Front", true);
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Front.DBK")));
  EXPECT_TRUE(std::filesystem::exists(Host("Bk/Front.IBK")));
  EXPECT_FALSE(std::filesystem::exists(Host("Bk/Front.DAT")));

  MakeTable(dir, "Gone");
  dir->DeleteTable("Gone.dat");
  EXPECT_FALSE(std::filesystem::exists(Host("Bk/Gone.DAT")));
  EXPECT_FALSE(std::filesystem::exists(Host("Bk/Gone.IDX")));
  EXPECT_EQ(EngineCodeOf([&] { dir->DeleteTable("Gone"); }), engine::kErrInvalidPath);
}

TEST_F(SessionTest, InMemoryTablesAndTableExists) {
  TDataSession session;
  TDataDirectory* memory = session.OpenDirectory("MEMORY", "");
  TDataDirectory* disk = session.OpenDirectory("", "D:\\Bk");
  MakeTable(memory, "Result");
  EXPECT_TRUE(memory->TableExists("result.tmp"));  // extension replaced by .DAT
  EXPECT_FALSE(disk->TableExists("Result"));
  EXPECT_FALSE(std::filesystem::exists(Host("Bk/Result.DAT")));
  TDataTable* t = memory->OpenTable("Result", TTableOptions{});
  EXPECT_TRUE(t->InMemory());
  EXPECT_TRUE(t->DataFile().InMemory());
  memory->CloseTable(t);
  // The in-memory files stay until the table is deleted.
  EXPECT_TRUE(memory->TableExists("Result"));
  memory->DeleteTable("Result");
  EXPECT_FALSE(memory->TableExists("Result"));

  std::filesystem::create_directory(Host("Bk"));
  platform_test::WriteHostFile(Host("Bk/OnDisk.DAT"), "");
  EXPECT_TRUE(disk->TableExists("ondisk"));
}

TEST_F(SessionTest, TempTableNameSkipsExistingNames) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  const auto id = static_cast<std::int32_t>(platform::GetCurrentThreadId());
  const std::string digits = std::to_string(std::llabs(static_cast<long long>(id)));
  const std::string prefix = digits.substr(0, 5);
  EXPECT_EQ(dir->TempTableName(), prefix + "0.DAT");
  platform_test::WriteHostFile(Host("Bk/" + prefix + "0.DAT"), "");  // on disk
  MakeTable(dir, prefix + "1");
  TDataTable* known = dir->OpenTable(prefix + "1", TTableOptions{});  // known to the directory
  std::filesystem::remove(Host("Bk/" + prefix + "1.DAT"));
  EXPECT_EQ(dir->TempTableName(), prefix + "2.DAT");
  dir->CloseTable(known);
}

TEST_F(SessionTest, TransactionsOverAllTables) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  MakeTable(dir, "A");
  MakeTable(dir, "B");
  MakeTable(dir, "C");
  TDataTable* a = dir->OpenTable("A", TTableOptions{});
  TDataTable* b = dir->OpenTable("B", TTableOptions{});
  dir->StartTransaction();
  ASSERT_TRUE(dir->InTransaction());
  EXPECT_TRUE(a->HoldsTransactionLock());
  EXPECT_TRUE(b->HoldsTransactionLock());
  TDataTable* c = dir->OpenTable("C", TTableOptions{});  // joins the running transaction
  EXPECT_TRUE(c->InTransaction());
  dir->CloseTable(c);  // kept until the transaction ends
  EXPECT_EQ(dir->TableCount(), 3);
  dir->Commit();
  EXPECT_FALSE(dir->InTransaction());
  EXPECT_FALSE(a->InTransaction());
  EXPECT_EQ(dir->TableCount(), 2);
  // The write byte is free again: this handle can take it.
  EXPECT_TRUE(engine::TakeTableWriteLock(a->DataFile()));
  EXPECT_TRUE(engine::ReleaseTableWriteLock(a->DataFile()));

  dir->StartTransaction();
  dir->Rollback();
  EXPECT_FALSE(dir->InTransaction());
  EXPECT_FALSE(b->HoldsTransactionLock());
  dir->Commit();  // no transaction: nothing happens
  dir->CloseTable(a);
  dir->CloseTable(b);
}

TEST_F(SessionTest, StartTransactionFailsQuietlyWhileAnotherProcessHoldsATable) {
  CountingSleep sleep;
  {
    TDataSession maker;
    TDataDirectory* dir = maker.OpenDirectory("", "D:\\Bk");
    MakeTable(dir, "A");
    MakeTable(dir, "B");
  }
  // Another process holds B's write byte, as its own transaction would. It
  // forks before this process opens anything.
  Child other([] {
    auto* otherSession = new TDataSession;  // kept until the child exits
    TDataDirectory* dir = otherSession->OpenDirectory("", "D:\\Bk");
    TDataTable* b = dir->OpenTable("B", TTableOptions{});
    dir->StartTransaction();
    return b->HoldsTransactionLock() ? 1 : 0;
  });
  ASSERT_EQ(other.Report(), 1);

  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  TDataTable* a = dir->OpenTable("A", TTableOptions{});
  TDataTable* b = dir->OpenTable("B", TTableOptions{});
  EXPECT_NO_THROW(dir->StartTransaction());
  EXPECT_FALSE(dir->InTransaction());
  EXPECT_EQ(sleep.sleeps.size(), 8192u);  // the full bound of attempts on B
  for (TDataTable* t : {a, b}) {
    EXPECT_FALSE(t->InTransaction());
    EXPECT_FALSE(t->HoldsTransactionLock());
  }
  // A was rolled back: its write byte is free.
  EXPECT_TRUE(engine::TakeTableWriteLock(a->DataFile()));
  EXPECT_TRUE(engine::ReleaseTableWriteLock(a->DataFile()));
  dir->Commit();  // changes nothing
  EXPECT_FALSE(dir->InTransaction());

  // Once the other process is gone, the transaction starts.
  other.Release();
  dir->StartTransaction();
  EXPECT_TRUE(dir->InTransaction());
  dir->Rollback();
  dir->CloseTable(a);
  dir->CloseTable(b);
}

TEST_F(SessionTest, ReadOnlyAttributeMakesTheTableReadOnlyAndLockFree) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
  MakeTable(dir, "Frozen");
  ASSERT_TRUE(platform::SetFileAttributes("D:\\Bk\\Frozen.IDX", platform::kAttrReadOnly));
  TDataTable* t = dir->OpenTable("Frozen", TTableOptions{});
  EXPECT_TRUE(t->ReadOnlyAttrFound());
  EXPECT_TRUE(t->ReadOnly());
  dir->StartTransaction();  // a read-only table takes no transaction lock
  EXPECT_FALSE(t->HoldsTransactionLock());
  dir->Rollback();
  dir->CloseTable(t);
}

TEST_F(SessionTest, ProcessExitWithTheEngineRunningEndsCleanly) {
  // The default session outlives main(); its tables close their files while
  // the process's static objects are destroyed. The table set is made in the
  // child after the engine started.
  const pid_t pid = ::fork();
  if (pid == 0) {
    engine::StartEngine();
    TDataDirectory* dir = engine::DefaultSession().OpenDirectory("", "D:\\Bk");
    dir->CreateTable("A", TTableOptions{});
    dir->OpenTable("A", TTableOptions{});
    dir->StartTransaction();
    std::exit(dir->InTransaction() ? 0 : 3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SessionTest, FreeingADirectoryRollsBackItsTransaction) {
  {
    TDataSession session;
    TDataDirectory* dir = session.OpenDirectory("", "D:\\Bk");
    MakeTable(dir, "A");
    dir->OpenTable("A", TTableOptions{});
    dir->StartTransaction();
    ASSERT_TRUE(dir->InTransaction());
    EXPECT_EQ(session.CloseDirectory(dir), 0);
  }
  // Nothing of it stays registered or locked.
  EXPECT_FALSE(engine::TFileList::Instance().HasFile("D:\\Bk\\A.DAT", true));
  CountingSleep sleep;
  const int taken = platform_test::InChild([] {
    engine::TFileHandler h(nullptr);
    h.SetFileName("D:\\Bk\\A.DAT");
    h.Open();
    return engine::TakeTableWriteLock(h) ? 1 : 0;
  });
  EXPECT_EQ(taken, 1);
}

}  // namespace
