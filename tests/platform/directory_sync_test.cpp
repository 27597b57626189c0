// Removals whose directory sync is left for later: the removal is done at
// once, and whichever sync of the directory comes next settles it, and only
// for that directory.
#include "platform/directory_sync.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::WriteHostFile;

class DirectorySyncTest : public DrivesTest {
 protected:
  void TearDown() override {
    SyncOwedDirectories();  // leaves no debt to the next test
    DrivesTest::TearDown();
  }
  static std::uint64_t Syncs() { return internal::Counters().directorySyncs.load(); }
};

TEST_F(DirectorySyncTest, TheNextSyncOfTheDirectorySettlesARemovalLeftForLater) {
  struct Case {
    const char* name;
    std::function<void()> sync;  // one sync of D:'s directory
  };
  const Case cases[] = {
      {"the first flush of a file created there",
       [] {
         File f;
         ASSERT_TRUE(
             f.Open("D:\\next.jnl", Access::ReadWrite, Share::None, Disposition::CreateNew, 0));
         std::uint32_t done = 0;
         ASSERT_TRUE(f.Write("x", 1, done));
         ASSERT_TRUE(f.Flush());
         f.Close();
         ASSERT_TRUE(DeleteScratchFile("D:\\next.jnl"));
       }},
      {"a durable removal there",
       [&] {
         WriteHostFile(d_.path() + "/other.txt", "x");
         ASSERT_TRUE(DeleteFile("D:\\other.txt"));
       }},
      {"an explicit sync of what it owes", [] { SyncDirectoryIfOwed("D:\\T.DAT"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteHostFile(d_.path() + "/T.JNL", "journal");
    WriteHostFile(e_.path() + "/T.JNL", "journal");
    const auto before = Syncs();
    ASSERT_TRUE(DeleteFileSyncLater("D:\\t.jnl"));
    ASSERT_TRUE(DeleteFileSyncLater("E:\\T.JNL"));
    EXPECT_EQ(::access((d_.path() + "/T.JNL").c_str(), F_OK), -1) << "removed at once";
    EXPECT_EQ(Syncs(), before) << "without a sync";
    EXPECT_TRUE(DirectoryOwesSync("D:\\T.DAT"));
    EXPECT_TRUE(DirectoryOwesSync("E:\\T.DAT"));

    c.sync();
    EXPECT_EQ(Syncs(), before + 1);
    EXPECT_FALSE(DirectoryOwesSync("D:\\T.DAT"));
    EXPECT_TRUE(DirectoryOwesSync("E:\\T.DAT")) << "another directory still owes its sync";
    SyncDirectoryIfOwed("D:\\T.DAT");
    EXPECT_EQ(Syncs(), before + 1) << "nothing owed: no sync";

    SyncOwedDirectories();
    EXPECT_EQ(Syncs(), before + 2);
    EXPECT_FALSE(DirectoryOwesSync("E:\\T.DAT"));
  }
}

// Both ways of making a directory give the same results and errors; only
// the durable one syncs the parent.
TEST_F(DirectorySyncTest, AnUnsyncedDirectoryIsMadeAlikeWithoutASync) {
  struct Case {
    const char* name;
    bool (*create)(std::string_view);
    std::uint64_t syncs;  // per directory made
  };
  const Case cases[] = {{"durable", &CreateDirectory, 1},
                        {"unsynced", &CreateDirectoryUnsynced, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = std::string("D:\\") + c.name;
    const auto before = Syncs();
    ASSERT_TRUE(c.create(dir));
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_EQ(Syncs(), before + c.syncs);
    EXPECT_FALSE(c.create(dir + "\\..\\" + c.name));
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_FALSE(c.create(dir + "\\absent\\sub"));
    EXPECT_EQ(GetLastError(), kErrorPathNotFound);
    EXPECT_FALSE(DirectoryOwesSync(dir + "\\x")) << "nothing left owing";
    EXPECT_EQ(Syncs(), before + c.syncs);
  }
}

TEST_F(DirectorySyncTest, ARemovalThatFailsOwesNothing) {
  EXPECT_FALSE(DeleteFileSyncLater("D:\\absent.jnl"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(DirectoryOwesSync("D:\\absent.jnl"));
}

}  // namespace
}  // namespace platform
