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

// A small directory looked into again is cached too: creating files one
// after another in it lists it a few times, not once per file, and its
// cached names still follow a change made by another process.
TEST_F(LargeDirectoryTest, ASmallDirectoryLookedIntoAgainIsCached) {
  ASSERT_TRUE(CreateDirectory("D:\\small"));
  const auto listings = [] { return internal::Counters().listings.load(); };
  const std::uint64_t before = listings();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(CreateNew("D:\\small\\" + Name(i))) << i;
  EXPECT_LE(listings() - before, 3u);
  EXPECT_EQ(
      InChild([&] {
        return ::close(::open((d_.path() + "/small/Late.TXT").c_str(), O_CREAT | O_WRONLY, 0644));
      }),
      0);
  EXPECT_EQ(*ToHostPath("D:\\small\\late.txt"), d_.path() + "/small/Late.TXT");
  EXPECT_FALSE(CreateNew("D:\\small\\LATE.txt"));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
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

// Creating in a cached directory takes the cache's word that a name is new
// and creates it at once; every disposition still finds a file that exists
// in another case, or that appeared outside the host layer just before.
TEST_F(LargeDirectoryTest, DispositionsInACachedDirectory) {
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(CreateNew("D:\\big\\" + Name(i)));
  for (int i = 1; i <= 4; ++i) {
    platform_test::WriteHostFile(Host("Keep" + std::to_string(i) + ".Dat"), "old");
  }
  // Made outside the host layer: only the notification tells the cache.
  ASSERT_EQ(::close(::open(Host("Outside.DAT").c_str(), O_CREAT | O_WRONLY, 0644)), 0);
  platform_test::WriteHostFile(Host("Outside.DAT"), "old");
  // Two names that differ only in case: the one written exactly is taken.
  platform_test::WriteHostFile(Host("Twin.dat"), "lower");
  platform_test::WriteHostFile(Host("TWIN.DAT"), "upper");

  const struct {
    const char* path;
    Disposition disposition;
    WinError error;  // kErrorSuccess when the open succeeds
    const char* host;
    const char* content;  // read through the handle, and of `host` afterwards
  } cases[] = {
      {"D:\\big\\keep1.dat", Disposition::CreateNew, kErrorFileExists, "Keep1.Dat", "old"},
      {"D:\\big\\KEEP2.DAT", Disposition::OpenAlways, kErrorSuccess, "Keep2.Dat", "old"},
      {"D:\\big\\kEEP3.dAT", Disposition::CreateAlways, kErrorSuccess, "Keep3.Dat", ""},
      {"D:\\big\\keep4.DAT", Disposition::OpenExisting, kErrorSuccess, "Keep4.Dat", "old"},
      {"D:\\big\\outside.dat", Disposition::OpenAlways, kErrorSuccess, "Outside.DAT", "old"},
      {"D:\\big\\TWIN.DAT", Disposition::OpenAlways, kErrorSuccess, "TWIN.DAT", "upper"},
      {"D:\\big\\Fresh1.Dat", Disposition::CreateNew, kErrorSuccess, "Fresh1.Dat", ""},
      {"D:\\big\\Fresh2.Dat", Disposition::OpenAlways, kErrorSuccess, "Fresh2.Dat", ""},
      {"D:\\big\\Fresh3.Dat", Disposition::CreateAlways, kErrorSuccess, "Fresh3.Dat", ""},
      {"D:\\big\\Fresh4.Dat", Disposition::OpenExisting, kErrorFileNotFound, nullptr, nullptr},
  };
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(d_.path() + "/big"),
                         std::filesystem::directory_iterator());
  };
  for (const auto& c : cases) {
    const auto before = entries();
    File f;
    const bool created = c.host != nullptr && !std::filesystem::exists(Host(c.host));
    const bool ok = f.Open(c.path, Access::ReadWrite, Share::ReadWrite, c.disposition);
    EXPECT_EQ(ok ? kErrorSuccess : GetLastError(), c.error) << c.path;
    if (ok) {
      // The handle reads the file it was meant to open.
      char buffer[16] = {};
      std::uint32_t done = 0;
      ASSERT_TRUE(f.Read(buffer, sizeof buffer, done));
      EXPECT_EQ(std::string(buffer, done), c.content) << c.path;
    }
    f.Close();
    EXPECT_EQ(entries(), before + (ok && created ? 1 : 0)) << c.path;
    if (c.host != nullptr) {
      EXPECT_EQ(platform_test::ReadHostFile(Host(c.host)), c.content) << c.path;
    }
  }
}

// A file created at once keeps its sharing mode against other handles and
// processes, and a refused CreateAlways leaves an existing file intact.
TEST_F(LargeDirectoryTest, ShareModesInACachedDirectory) {
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(CreateNew("D:\\big\\" + Name(i)));
  File owner;
  ASSERT_TRUE(
      owner.Open("D:\\big\\Locked.Dat", Access::ReadWrite, Share::None, Disposition::CreateNew));
  std::uint32_t done = 0;
  ASSERT_TRUE(owner.Write("kept", 4, done));
  for (const Disposition d :
       {Disposition::OpenExisting, Disposition::OpenAlways, Disposition::CreateAlways}) {
    File other;
    EXPECT_FALSE(other.Open("D:\\big\\LOCKED.DAT", Access::Read, Share::ReadWrite, d));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_EQ(InChild([&] {
                File inChild;
                if (inChild.Open("D:\\big\\locked.dat", Access::Read, Share::ReadWrite, d))
                  return 0;
                return static_cast<int>(GetLastError());
              }),
              static_cast<int>(kErrorSharingViolation));
  }
  EXPECT_EQ(platform_test::ReadHostFile(Host("Locked.Dat")), "kept");

  // Shared handles of a new file live side by side; an exclusive one is refused.
  File first;
  ASSERT_TRUE(first.Open("D:\\big\\Shared.Dat", Access::ReadWrite, Share::ReadWrite,
                         Disposition::CreateNew));
  File second;
  EXPECT_TRUE(
      second.Open("D:\\big\\SHARED.DAT", Access::Read, Share::ReadWrite, Disposition::OpenAlways));
  File exclusive;
  EXPECT_FALSE(
      exclusive.Open("D:\\big\\shared.dat", Access::Read, Share::None, Disposition::OpenAlways));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
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
