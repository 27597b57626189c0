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

TEST_F(DirectorySyncTest, ARemovalThatFailsOwesNothing) {
  EXPECT_FALSE(DeleteFileSyncLater("D:\\absent.jnl"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(DirectoryOwesSync("D:\\absent.jnl"));
}

}  // namespace
}  // namespace platform
