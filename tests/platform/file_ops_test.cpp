// File operations by name: attributes, DOS times, delete, rename, copy,
// directories, temporary names, universal names and drive facts.
#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <regex>
#include <set>

#include "platform/dos_time.h"
#include "platform/file.h"
#include "platform/host_internal.h"
#include "platform/paths.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::ReadHostFile;
using platform_test::WriteHostFile;

class FileOpsTest : public DrivesTest {
 protected:
  std::string D(const std::string& rest) const { return d_.path() + rest; }
  mode_t Mode(const std::string& host) const {
    struct stat st {};
    return ::stat(host.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
};

TEST_F(FileOpsTest, AttributesFollowTheRules) {
  ::mkdir(D("/dir").c_str(), 0777);
  ::mkdir(D("/.hiddendir").c_str(), 0777);
  WriteHostFile(D("/plain.txt"), "x");
  WriteHostFile(D("/.profile"), "x");
  WriteHostFile(D("/locked.txt"), "x");
  ::chmod(D("/locked.txt").c_str(), 0444);
  WriteHostFile(D("/group-only.txt"), "x");
  ::chmod(D("/group-only.txt").c_str(), 0464);  // owner cannot write: read-only
  ::symlink("nowhere", D("/dangling").c_str());
  struct Case {
    const char* path;
    std::uint32_t attributes;
  } const cases[] = {
      {"D:\\plain.txt", kAttrArchive},
      {"D:\\PLAIN.TXT", kAttrArchive},
      {"D:\\.profile", kAttrArchive | kAttrHidden},
      {"D:\\locked.txt", kAttrArchive | kAttrReadOnly},
      {"D:\\group-only.txt", kAttrArchive | kAttrReadOnly},
      {"D:\\dir", kAttrDirectory},
      {"D:\\dir\\", kAttrDirectory},
      {"D:\\.hiddendir", kAttrDirectory | kAttrHidden},
      {"D:\\dangling", kAttrArchive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(GetFileAttributes(c.path), c.attributes);
  }
  struct Missing {
    const char* path;
    WinError error;
  } const missing[] = {
      {"D:\\nothing.txt", kErrorFileNotFound},
      {"D:\\nodir\\nothing.txt", kErrorPathNotFound},
      {"D:\\plain.txt\\below", kErrorPathNotFound},
      {"Q:\\x", kErrorPathNotFound},
  };
  for (const auto& m : missing) {
    SCOPED_TRACE(m.path);
    EXPECT_EQ(GetFileAttributes(m.path), kInvalidFileAttributes);
    EXPECT_EQ(GetLastError(), m.error);
  }
}

TEST_F(FileOpsTest, ReadOnlySetAndClear) {
  WriteHostFile(D("/f.txt"), "x");
  ::chmod(D("/f.txt").c_str(), 0664);
  ASSERT_TRUE(SetFileAttributes("D:\\F.txt", kAttrReadOnly | kAttrArchive | kAttrHidden));
  EXPECT_EQ(Mode(D("/f.txt")), 0444u);  // every write permission removed
  EXPECT_EQ(GetFileAttributes("D:\\f.txt"), kAttrArchive | kAttrReadOnly);  // hidden ignored
  ASSERT_TRUE(SetFileAttributes("D:\\f.txt", kAttrNormal));
  EXPECT_EQ(Mode(D("/f.txt")), 0644u);  // the owner may write again
  EXPECT_EQ(GetFileAttributes("D:\\f.txt"), kAttrArchive);
  EXPECT_FALSE(SetFileAttributes("D:\\none.txt", kAttrReadOnly));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FileOpsTest, DosTimesGetAndSet) {
  WriteHostFile(D("/f.txt"), "x");
  struct Case {
    const char* label;
    std::uint32_t set;
    std::uint32_t read;
  } const cases[] = {
      {"ordinary", 0x586570F2, 0x586570F2},
      {"earliest", 0x00210000, 0x00210000},
      {"latest", 0xFF9FBF7D, 0xFF9FBF7D},
      {"leap day", 0x285D63C0, 0x285D63C0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(SetFileDosTime("D:\\F.TXT", c.set));
    std::uint32_t got = 0;
    ASSERT_TRUE(GetFileDosTime("D:\\f.txt", got));
    EXPECT_EQ(got, c.read);
  }
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(::utime(D("/f.txt").c_str(), nullptr), 0);  // now
  std::uint32_t now = 0;
  ASSERT_TRUE(GetFileDosTime("D:\\f.txt", now));
  EXPECT_GE(now, DosDateTimeFromUnix(before));
  EXPECT_LE(now, DosDateTimeFromUnix(std::time(nullptr)));
  EXPECT_FALSE(SetFileDosTime("D:\\f.txt", 0x00000000));  // month 0
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  std::uint32_t unused = 0;
  EXPECT_FALSE(GetFileDosTime("D:\\none", unused));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FileOpsTest, SizeAndExistence) {
  WriteHostFile(D("/f.txt"), "12345");
  ::mkdir(D("/dir").c_str(), 0777);
  EXPECT_EQ(GetFileSize("D:\\f.txt"), 5u);
  EXPECT_EQ(GetFileSize("D:\\dir"), 0u);
  EXPECT_FALSE(GetFileSize("D:\\none").has_value());
  EXPECT_TRUE(FileExists("D:\\F.TXT"));
  EXPECT_FALSE(FileExists("D:\\dir"));
  EXPECT_TRUE(DirectoryExists("D:\\DIR"));
  EXPECT_FALSE(DirectoryExists("D:\\f.txt"));
  EXPECT_FALSE(FileExists("Q:\\f.txt"));
}

TEST_F(FileOpsTest, DeleteFileRules) {
  WriteHostFile(D("/f.txt"), "x");
  WriteHostFile(D("/ro.txt"), "x");
  WriteHostFile(D("/open.txt"), "x");
  ::chmod(D("/ro.txt").c_str(), 0444);
  ::mkdir(D("/dir").c_str(), 0777);
  File open;
  ASSERT_TRUE(open.Open("D:\\open.txt", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  struct Case {
    const char* path;
    bool ok;
    WinError error;
  } const cases[] = {
      {"D:\\F.TXT", true, kErrorSuccess},
      {"D:\\f.txt", false, kErrorFileNotFound},
      {"D:\\nodir\\f.txt", false, kErrorPathNotFound},
      {"D:\\ro.txt", false, kErrorAccessDenied},
      {"D:\\dir", false, kErrorAccessDenied},
      {"D:\\open.txt", false, kErrorSharingViolation},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(DeleteFile(c.path), c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_TRUE(FileExists("D:\\ro.txt"));
  open.Close();
  EXPECT_TRUE(DeleteFile("D:\\open.txt"));
}

TEST_F(FileOpsTest, ScratchDeleteRemovesTheNameWithoutSyncingTheDirectory) {
  WriteHostFile(D("/scratch.tmp"), "x");
  WriteHostFile(D("/kept.jnl"), "x");
  WriteHostFile(D("/ro.tmp"), "x");
  ::chmod(D("/ro.tmp").c_str(), 0444);
  auto syncs = [] { return internal::Counters().directorySyncs.load(); };

  const auto before = syncs();
  ASSERT_TRUE(DeleteScratchFile("D:\\SCRATCH.TMP"));
  EXPECT_FALSE(FileExists("D:\\scratch.tmp"));
  EXPECT_EQ(::access(D("/scratch.tmp").c_str(), F_OK), -1);
  EXPECT_EQ(syncs(), before);

  // The same rules as DeleteFile.
  EXPECT_FALSE(DeleteScratchFile("D:\\scratch.tmp"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(DeleteScratchFile("D:\\ro.tmp"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(FileExists("D:\\ro.tmp"));
  EXPECT_EQ(syncs(), before);

  // DeleteFile still makes the removal durable.
  ASSERT_TRUE(DeleteFile("D:\\kept.jnl"));
  EXPECT_FALSE(FileExists("D:\\kept.jnl"));
  EXPECT_EQ(syncs(), before + 1);
}

TEST_F(FileOpsTest, ScratchReplaceRenamesWithoutSyncingTheDirectory) {
  WriteHostFile(D("/back0.zip"), "first");
  WriteHostFile(D("/back1.zip"), "stale");
  WriteHostFile(D("/ro.zip"), "x");
  ::chmod(D("/ro.zip").c_str(), 0444);
  auto syncs = [] { return internal::Counters().directorySyncs.load(); };

  const auto before = syncs();
  ASSERT_TRUE(ReplaceScratchFile("D:\\back0.zip", "D:\\back1.zip"));
  EXPECT_FALSE(FileExists("D:\\back0.zip"));
  EXPECT_EQ(ReadHostFile(D("/back1.zip")), "first");
  EXPECT_EQ(syncs(), before);

  // The same rules as ReplaceFile.
  EXPECT_FALSE(ReplaceScratchFile("D:\\back0.zip", "D:\\back2.zip"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(ReplaceScratchFile("D:\\back1.zip", "D:\\ro.zip"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(syncs(), before);

  // ReplaceFile still makes the new name durable.
  ASSERT_TRUE(ReplaceFile("D:\\back1.zip", "D:\\back2.zip"));
  EXPECT_EQ(syncs(), before + 1);
}

TEST_F(FileOpsTest, MoveAndReplace) {
  WriteHostFile(D("/a.txt"), "A");
  WriteHostFile(D("/b.txt"), "B");
  EXPECT_FALSE(MoveFile("D:\\a.txt", "D:\\B.TXT"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(MoveFile("D:\\none.txt", "D:\\c.txt"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  ASSERT_TRUE(MoveFile("D:\\A.txt", "E:\\moved.txt"));  // same host file system
  EXPECT_EQ(ReadHostFile(e_.path() + "/moved.txt"), "A");
  EXPECT_FALSE(FileExists("D:\\a.txt"));

  ASSERT_TRUE(ReplaceFile("E:\\moved.txt", "D:\\b.txt"));
  EXPECT_EQ(ReadHostFile(D("/b.txt")), "A");
  EXPECT_FALSE(FileExists("E:\\moved.txt"));

  // A case-only rename renames, as on Windows.
  ASSERT_TRUE(MoveFile("D:\\b.txt", "D:\\B.TXT"));
  EXPECT_EQ(ReadHostFile(D("/B.TXT")), "A");
  EXPECT_NE(::access(D("/b.txt").c_str(), F_OK), 0);
}

TEST_F(FileOpsTest, ReplaceRefusesProtectedTargets) {
  WriteHostFile(D("/src.txt"), "new");
  WriteHostFile(D("/ro.txt"), "old");
  ::chmod(D("/ro.txt").c_str(), 0444);
  EXPECT_FALSE(ReplaceFile("D:\\src.txt", "D:\\ro.txt"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  WriteHostFile(D("/busy.txt"), "old");
  File holder;
  ASSERT_TRUE(
      holder.Open("D:\\busy.txt", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(ReplaceFile("D:\\src.txt", "D:\\busy.txt"));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_FALSE(MoveFile("D:\\busy.txt", "D:\\elsewhere.txt"));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(ReadHostFile(D("/busy.txt")), "old");
}

TEST_F(FileOpsTest, CopyFileContentTimeAndRefusals) {
  WriteHostFile(D("/src.dat"), std::string(300000, 'x') + "end");
  ASSERT_TRUE(SetFileDosTime("D:\\src.dat", 0x586570F2));
  ASSERT_TRUE(CopyFile("D:\\SRC.DAT", "E:\\copy.dat", true));
  EXPECT_EQ(ReadHostFile(e_.path() + "/copy.dat"), ReadHostFile(D("/src.dat")));
  std::uint32_t t = 0;
  ASSERT_TRUE(GetFileDosTime("E:\\copy.dat", t));
  EXPECT_EQ(t, 0x586570F2u);

  EXPECT_FALSE(CopyFile("D:\\src.dat", "E:\\copy.dat", true));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  WriteHostFile(D("/small.dat"), "small");
  ASSERT_TRUE(CopyFile("D:\\small.dat", "E:\\copy.dat", false));
  EXPECT_EQ(ReadHostFile(e_.path() + "/copy.dat"), "small");

  // Onto itself (another spelling): refused, and the file keeps its bytes.
  EXPECT_FALSE(CopyFile("D:\\small.dat", "D:\\SMALL.DAT", false));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(ReadHostFile(D("/small.dat")), "small");

  EXPECT_FALSE(CopyFile("D:\\none.dat", "E:\\x.dat", false));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(CopyFile("D:\\small.dat", "E:\\nodir\\x.dat", false));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);

  // The read-only attribute travels with the copy and protects the target.
  ASSERT_TRUE(SetFileAttributes("D:\\small.dat", kAttrReadOnly));
  ASSERT_TRUE(CopyFile("D:\\small.dat", "E:\\ro.dat", true));
  EXPECT_EQ(GetFileAttributes("E:\\ro.dat"), kAttrArchive | kAttrReadOnly);
  EXPECT_FALSE(CopyFile("D:\\src.dat", "E:\\ro.dat", false));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST_F(FileOpsTest, Directories) {
  ASSERT_TRUE(CreateDirectory("D:\\New"));
  EXPECT_FALSE(CreateDirectory("D:\\new"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(CreateDirectory("D:\\a\\b"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  WriteHostFile(D("/New/f"), "x");
  EXPECT_FALSE(RemoveDirectory("D:\\NEW"));
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  EXPECT_FALSE(RemoveDirectory("D:\\New\\f"));
  EXPECT_EQ(GetLastError(), kErrorDirectory);
  ASSERT_TRUE(DeleteFile("D:\\New\\f"));
  EXPECT_TRUE(RemoveDirectory("D:\\NEW"));
  EXPECT_FALSE(DirectoryExists("D:\\New"));
  EXPECT_FALSE(RemoveDirectory("D:\\New"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FileOpsTest, TempPathFollowsTmpdir) {
  const char* saved = std::getenv("TMPDIR");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", d_.path().c_str(), 1);
  EXPECT_EQ(GetTempPath(), "D:\\");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(GetTempPath(), "Z:\\tmp\\");
  if (saved != nullptr) ::setenv("TMPDIR", savedValue.c_str(), 1);
}

TEST_F(FileOpsTest, TempFileNamesAreUniqueAndCreated) {
  const std::regex shape(R"(D:\\ZTF[0-9A-F]{4}\.tmp)");
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    const auto name = GetTempFileName("D:\\", "ZTF");
    ASSERT_TRUE(name.has_value());
    EXPECT_TRUE(std::regex_match(*name, shape)) << *name;
    EXPECT_TRUE(FileExists(*name));
    EXPECT_EQ(GetFileSize(*name), 0u);
    names.insert(*name);
  }
  EXPECT_EQ(names.size(), 50u);
  const auto noSlash = GetTempFileName("D:", "ab");  // a backslash is added
  ASSERT_TRUE(noSlash.has_value());
  EXPECT_EQ(noSlash->substr(0, 5), "D:\\ab");
  EXPECT_FALSE(GetTempFileName("D:\\missing", "ZTF").has_value());
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FileOpsTest, UniversalNameGivesOneTextPerDirectory) {
  ::mkdir(D("/Data").c_str(), 0777);
  ::mkdir(D("/Data/Sub").c_str(), 0777);
  ::symlink(D("/Data").c_str(), D("/link").c_str());
  const auto expected = UniversalName("D:\\Data");
  ASSERT_TRUE(expected.has_value());
  EXPECT_EQ(*expected, "D:\\Data\\");
  struct Case {
    const char* label;
    std::string spelling;
  } const cases[] = {
      {"other case", "d:\\DATA"},
      {"trailing backslash", "D:\\Data\\"},
      {"dot segments", "D:\\Data\\Sub\\.."},
      {"symbolic link", "D:\\link"},
      {"forward slashes", "D:/data/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto got = UniversalName(c.spelling);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, *expected);
  }
  // Z: names the same directory through the host root.
  RemoveDrive('E');
  const std::string viaZ = "Z:" + d_.path() + "/Data";
  EXPECT_EQ(UniversalName(viaZ), expected);

  EXPECT_FALSE(UniversalName("D:\\none").has_value());
  EXPECT_FALSE(UniversalName("Q:\\").has_value());
}

TEST_F(FileOpsTest, DrivesLabelsAndShortNames) {
  EXPECT_EQ(GetDriveType("D:\\"), DriveType::Fixed);
  EXPECT_EQ(GetDriveType("z:\\"), DriveType::Fixed);
  EXPECT_EQ(GetDriveType("Q:\\"), DriveType::NoRootDir);
  std::string label = "x";
  EXPECT_FALSE(GetVolumeLabel("D:\\", label));
  EXPECT_TRUE(label.empty());
  EXPECT_EQ(GetShortPathName("D:\\Long File Name.text"), "D:\\Long File Name.text");
}

}  // namespace
}  // namespace platform
