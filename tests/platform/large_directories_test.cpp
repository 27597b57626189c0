// Costs of names in large and deep directories: creating many files in one
// directory reads each entry about once (not once per new name), the cached
// names of a large directory follow every change by any process, and deep
// paths are created and resolved in linear time, with paths longer than the
// host takes refused as such.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::InChild;

// Enough names that one listing per new name would read millions of entries.
constexpr int kManyFiles = 3000;
// Each file may cost a few entries read (the first listings, the cache fill).
constexpr std::uint64_t kEntriesReadPerFile = 4;

std::uint64_t EntriesRead() {
  return internal::Counters().entriesRead.load();
}
std::uint64_t Probes() {
  return internal::Counters().probes.load();
}

bool CreateNew(const std::string& path) {
  File f;
  return f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::CreateNew);
}

std::string Name(int i) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "File%05d.Txt", i);
  return buffer;
}

class LargeDirectoryTest : public DrivesTest {
 protected:
  void SetUp() override {
    DrivesTest::SetUp();
    ASSERT_TRUE(CreateDirectory("D:\\big"));
  }
  std::string Host(const std::string& name) const { return d_.path() + "/big/" + name; }
};

TEST_F(LargeDirectoryTest, CreatingManyFilesReadsEachEntryAboutOnce) {
  const std::uint64_t before = EntriesRead();
  for (int i = 0; i < kManyFiles; ++i) {
    ASSERT_TRUE(CreateNew("D:\\big\\" + Name(i))) << i;
  }
  EXPECT_LE(EntriesRead() - before, kEntriesReadPerFile * kManyFiles);
  // Still Windows semantics: another case names the same file.
  EXPECT_FALSE(CreateNew("D:\\big\\FILE00042.TXT"));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  EXPECT_EQ(*ToHostPath("D:\\BIG\\file02999.txt"), Host("File02999.Txt"));
}

// The cache of a large directory follows changes made outside the host layer
// and by other processes, as well as our own renames and deletes.
TEST_F(LargeDirectoryTest, CachedNamesFollowEveryChange) {
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(CreateNew("D:\\big\\" + Name(i)));
  ASSERT_EQ(*ToHostPath("d:\\big\\file00001.txt"), Host("File00001.Txt"));  // cached now

  // Outside the host layer, in this process and in a child.
  ASSERT_EQ(::close(::open(Host("Zeta.TXT").c_str(), O_CREAT | O_WRONLY, 0644)), 0);
  ASSERT_EQ(::rename(Host("File00002.Txt").c_str(), Host("Moved.txt").c_str()), 0);
  ASSERT_EQ(::unlink(Host("File00003.Txt").c_str()), 0);
  EXPECT_EQ(InChild([&] {
              // The child looks up names too, then changes the directory.
              if (ToHostPath("D:\\big\\FILE00004.TXT") != Host("File00004.Txt")) return 1;
              return ::close(::open(Host("FromChild.dat").c_str(), O_CREAT | O_WRONLY, 0644));
            }),
            0);
  // Through the host layer.
  ASSERT_TRUE(MoveFile("D:\\big\\File00005.Txt", "D:\\big\\FILE00005.TXT"));  // case only
  ASSERT_TRUE(DeleteFile("D:\\big\\file00006.txt"));

  const struct {
    const char* windows;
    std::string host;
  } cases[] = {
      {"D:\\big\\zeta.txt", Host("Zeta.TXT")},
      {"D:\\big\\MOVED.TXT", Host("Moved.txt")},
      {"D:\\big\\file00002.txt", Host("file00002.txt")},  // gone: as written
      {"D:\\big\\file00003.txt", Host("file00003.txt")},
      {"D:\\big\\fromchild.DAT", Host("FromChild.dat")},
      {"D:\\big\\file00005.txt", Host("FILE00005.TXT")},
      {"D:\\big\\file00006.txt", Host("file00006.txt")},
      {"D:\\big\\file00007.txt", Host("File00007.Txt")},
  };
  for (const auto& c : cases) EXPECT_EQ(*ToHostPath(c.windows), c.host) << c.windows;
}

class DeepPathTest : public DrivesTest {};

TEST_F(DeepPathTest, CreatingLevelsCostsOneStepEach) {
  // 1,000 levels of "dd": a 3 KB path, within what the host takes.
  constexpr int kLevels = 1000;
  std::string path = "D:\\deep";
  for (int i = 0; i < kLevels; ++i) path += "\\dd";
  const std::uint64_t probesBefore = Probes();
  const std::uint64_t readBefore = EntriesRead();
  ASSERT_TRUE(CreateDirectoryPath(path));
  EXPECT_LE(Probes() - probesBefore, 2u * kLevels);
  EXPECT_LE(EntriesRead() - readBefore, 4u * kLevels);
  EXPECT_TRUE(DirectoryExists(path));
  EXPECT_TRUE(CreateDirectoryPath(path));  // already there: still true

  // A new name at the bottom resolves in a few probes, not one per level.
  const std::uint64_t resolveBefore = Probes();
  ASSERT_TRUE(ToHostPath(path + "\\new.txt").has_value());
  EXPECT_LE(Probes() - resolveBefore, 16u);

  // Existing levels in another case are used, not duplicated.
  ASSERT_TRUE(CreateDirectoryPath("D:\\DEEP\\DD\\dD\\sub"));
  EXPECT_TRUE(std::filesystem::is_directory(d_.path() + "/deep/dd/dd/sub"));
  EXPECT_FALSE(std::filesystem::exists(d_.path() + "/DEEP"));
}

TEST_F(DeepPathTest, PathsLongerThanTheHostTakesAreRefused) {
  // 32,767 levels of "d": a 64 KB path.
  std::string path = "D:\\long";
  for (int i = 0; i < 32767; ++i) path += "\\d";
  const std::uint64_t probesBefore = Probes();
  EXPECT_FALSE(CreateDirectoryPath(path));
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
  EXPECT_FALSE(ToHostPath(path + "\\x.txt").has_value());
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
  File f;
  EXPECT_FALSE(f.Open(path + "\\x.txt", Access::ReadWrite, Share::None, Disposition::CreateNew));
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
  EXPECT_EQ(Probes(), probesBefore);  // refused before touching the disk
  EXPECT_FALSE(std::filesystem::exists(d_.path() + "/long"));
}

TEST_F(DeepPathTest, LinksLeadingOutOfADirectoryAreFound) {
  namespace fs = std::filesystem;
  fs::create_directories(d_.path() + "/dest/real");
  fs::create_directories(e_.path() + "/outside");
  fs::create_symlink(e_.path() + "/outside", d_.path() + "/dest/out");
  fs::create_symlink(e_.path() + "/outside/victim.txt", d_.path() + "/dest/file.txt");
  fs::create_symlink(d_.path() + "/dest/real", d_.path() + "/dest/in");
  fs::create_symlink(d_.path() + "/nowhere", d_.path() + "/dest/dangling");
  const struct {
    const char* path;
    bool stays;
  } cases[] = {
      {"D:\\dest\\new.txt", true},
      {"D:\\dest\\real\\a\\b.txt", true},
      {"D:\\dest\\in\\x.txt", true},    // a link that stays inside
      {"D:\\dest\\IN\\x.txt", true},    // found ignoring case
      {"D:\\dest\\out\\x.txt", false},  // a directory link leading outside
      {"D:\\dest\\OUT\\sub\\x.txt", false},
      {"D:\\dest\\file.txt", false},  // a file link leading outside
      {"D:\\dest\\dangling", false},  // a link to nothing
  };
  for (const auto& c : cases) EXPECT_EQ(LinksStayWithin(c.path, "D:\\dest"), c.stays) << c.path;
}

}  // namespace
}  // namespace platform
