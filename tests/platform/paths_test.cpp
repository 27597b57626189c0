// The drive map, both path conversions, case-insensitive lookup, the
// private-use characters and the current directory, on real directories.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/file_ops.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::TempDir;
using platform_test::WriteHostFile;

class PathsTest : public DrivesTest {
 protected:
  std::string D(const std::string& rest) const { return d_.path() + rest; }
  std::string E(const std::string& rest) const { return e_.path() + rest; }
};

TEST_F(PathsTest, WindowsToHostThroughTheDriveMap) {
  ::mkdir(D("/Data").c_str(), 0777);
  struct Case {
    const char* windows;
    std::string host;
  } const cases[] = {
      {"D:\\Data\\Back.Dat", D("/Data/Back.Dat")},
      {"d:/Data/Back.Dat", D("/Data/Back.Dat")},
      {"D:\\", d_.path()},
      {"D:", d_.path()},
      {"D:\\Data\\.\\sub\\..\\Back.Dat", D("/Data/Back.Dat")},
      {"D:\\..\\..\\x", D("/x")},  // ".." stops at the drive root
      {"D:\\\\Data\\\\\\x", D("/Data/x")},
      {"E:\\a\\b\\", E("/a/b")},
      {"Z:\\etc\\hostname", "/etc/hostname"},
      {"z:\\", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    const auto host = ToHostPath(c.windows);
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(*host, c.host);
  }
}

TEST_F(PathsTest, UnmappedDriveOrShareIsPathNotFound) {
  for (const char* path : {"Q:\\x.dat", "q:", "\\\\nosuch\\share\\x", "\\\\srv\\unknown"}) {
    SCOPED_TRACE(path);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(ToHostPath(path).has_value());
    EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  }
  RemoveDrive('D');
  EXPECT_FALSE(ToHostPath("D:\\Data").has_value());
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(DriveRoot('D').has_value());
}

// Regression: a name with an embedded NUL was cut short on its way down, so
// "..\0x" reached the file system as "..".
TEST_F(PathsTest, EmbeddedNulIsAnInvalidName) {
  using namespace std::string_literals;
  for (const std::string& path : {"D:\\Data\\..\0x"s, "D:\\a\0b.txt"s, "\0"s}) {
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(ToHostPath(path).has_value());
    EXPECT_EQ(GetLastError(), kErrorInvalidName);
  }
}

TEST_F(PathsTest, HostToWindowsThroughTheLongestRoot) {
  ::mkdir(D("/inner").c_str(), 0777);
  SetDrive('F', D("/inner"));
  struct Case {
    std::string host;
    const char* windows;
  } const cases[] = {
      {D("/Data/Back.Dat"), "D:\\Data\\Back.Dat"},
      {d_.path(), "D:\\"},
      {D("/inner/x.txt"), "F:\\x.txt"},  // F: is longer than D:
      {D("/inner/"), "F:\\"},
      {D("/Data/"), "D:\\Data\\"},  // a trailing separator is kept
      {D("/a/./b/../c"), "D:\\a\\c"},
      {"/etc/hostname", "Z:\\etc\\hostname"},
      {"/", "Z:\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(ToWindowsPath(c.host), c.windows);
  }
  // A root that is a prefix of a name is not its parent: /x/d-extra is not below /x/d.
  EXPECT_EQ(ToWindowsPath(d_.path() + "-extra/f").substr(0, 3), "Z:\\");
}

TEST_F(PathsTest, RoundTripsBothWays) {
  for (const char* windows : {"D:\\Data\\Back.Dat", "E:\\x\\y\\z.txt", "D:\\"}) {
    SCOPED_TRACE(windows);
    EXPECT_EQ(ToWindowsPath(*ToHostPath(windows)), windows);
  }
}

TEST_F(PathsTest, UncSharesResolveThroughTheMap) {
  SetShare("\\\\srv\\pub", e_.path());
  const auto host = ToHostPath("\\\\SRV\\Pub\\dir\\x.dat");
  ASSERT_TRUE(host.has_value());
  EXPECT_EQ(*host, E("/dir/x.dat"));
  EXPECT_EQ(*ToHostPath("//srv/pub"), e_.path());
  // E: and the share cover the same directory; drive letters win the tie.
  EXPECT_EQ(ToWindowsPath(E("/dir/x.dat")), "E:\\dir\\x.dat");
  RemoveDrive('E');
  EXPECT_EQ(ToWindowsPath(E("/dir/x.dat")), "\\\\srv\\pub\\dir\\x.dat");
  EXPECT_EQ(ToWindowsPath(e_.path()), "\\\\srv\\pub\\");
}

TEST_F(PathsTest, DriveMapFromTheEnvironment) {
  const std::string mapText = "C=" + d_.path() + ",\\\\files\\pub=" + e_.path() + ",bad,=x";
  ::setenv("BACKUP_DRIVES", mapText.c_str(), 1);
  ResetDriveMap();
  ::unsetenv("BACKUP_DRIVES");
  EXPECT_EQ(MappedDrives(), (std::vector<char>{'C', 'Z'}));
  EXPECT_EQ(*DriveRoot('c'), d_.path());
  EXPECT_EQ(*DriveRoot('Z'), "/");
  EXPECT_EQ(*ToHostPath("C:\\a"), D("/a"));
  EXPECT_EQ(*ToHostPath("\\\\files\\pub\\b"), E("/b"));
  ResetDriveMap();
  EXPECT_EQ(MappedDrives(), (std::vector<char>{'Z'}));
}

TEST_F(PathsTest, ComponentsMatchIgnoringCase) {
  ::mkdir(D("/Data").c_str(), 0777);
  WriteHostFile(D("/Data/Back.dat"), "x");
  struct Case {
    const char* windows;
    std::string host;
  } const cases[] = {
      {"D:\\Data\\Back.Dat", D("/Data/Back.dat")},
      {"D:\\DATA\\BACK.DAT", D("/Data/Back.dat")},
      {"D:\\data\\back.dat", D("/Data/Back.dat")},
      // A new name keeps the case written; its existing parent is found.
      {"D:\\data\\New.Dat", D("/Data/New.Dat")},
      {"D:\\NoDir\\New.Dat", D("/NoDir/New.Dat")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    EXPECT_EQ(*ToHostPath(c.windows), c.host);
  }
}

TEST_F(PathsTest, NonAsciiLettersMatchIgnoringCase) {
  // "Übersicht/Ärger.dat" on disk, looked up in other cases as Windows allows.
  const std::string upperU = "\xC3\x9C", lowerU = "\xC3\xBC";  // Ü ü
  const std::string upperA = "\xC3\x84", lowerA = "\xC3\xA4";  // Ä ä
  const std::string ringA = "\xC3\xA5";                        // å
  ::mkdir(D("/" + upperU + "bersicht").c_str(), 0777);
  const std::string file = D("/" + upperU + "bersicht/" + upperA + "rger.dat");
  WriteHostFile(file, "x");
  struct Case {
    std::string windows;
    std::string host;
  } const cases[] = {
      {"D:\\" + lowerU + "bersicht\\" + lowerA + "rger.dat", file},
      {"D:\\" + upperU + "BERSICHT\\" + upperA + "RGER.DAT", file},
      // A different letter is a different name, kept as written.
      {"D:\\" + lowerU + "bersicht\\" + ringA + "rger.dat",
       D("/" + upperU + "bersicht/" + ringA + "rger.dat")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    EXPECT_EQ(*ToHostPath(c.windows), c.host);
  }
}

TEST_F(PathsTest, ExactNameWinsOverOtherCase) {
  WriteHostFile(D("/a.txt"), "lower");
  WriteHostFile(D("/A.TXT"), "upper");
  EXPECT_EQ(*ToHostPath("D:\\A.TXT"), D("/A.TXT"));
  EXPECT_EQ(*ToHostPath("D:\\a.txt"), D("/a.txt"));
}

TEST_F(PathsTest, NewFileKeepsTheCaseWritten) {
  ASSERT_TRUE(CreateDirectory("D:\\MixedCase"));
  struct stat st {};
  EXPECT_EQ(::stat(D("/MixedCase").c_str(), &st), 0);
  EXPECT_TRUE(DirectoryExists("D:\\mixedcase"));
  EXPECT_FALSE(CreateDirectory("D:\\MIXEDCASE"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
}

TEST_F(PathsTest, PrivateUseCharactersRoundTrip) {
  struct Case {
    std::string host;
    std::string windows;
  } const cases[] = {
      {"plain.txt", "plain.txt"},
      {"a:b",
       "a\xEF\x80\xBA"
       "b"},
      {"q?.txt", "q\xEF\x80\xBF.txt"},
      {"x*y", "x\xEF\x80\xAAy"},
      {"back\\slash", "back\xEF\x81\x9Cslash"},
      {"\"<>|", "\xEF\x80\xA2\xEF\x80\xBC\xEF\x80\xBE\xEF\x81\xBC"},
      {"tab\there", "tab\xEF\x80\x89here"},
      {"\x01", "\xEF\x80\x81"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},  // ordinary UTF-8 passes through
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(HostNameToWindows(c.host), c.windows);
    EXPECT_EQ(WindowsNameToHost(c.windows), c.host);
  }
  // Private-use code points that the mapping never produces stay as they are.
  EXPECT_EQ(WindowsNameToHost("\xEF\x81\x81"), "\xEF\x81\x81");  // U+F041 ('A' is allowed)
  EXPECT_EQ(WindowsNameToHost("\xEF\x80"), "\xEF\x80");          // truncated sequence
}

TEST_F(PathsTest, HostNamesWithForbiddenCharactersResolve) {
  WriteHostFile(D("/what?.txt"), "q");
  const std::string windows = ToWindowsPath(D("/what?.txt"));
  EXPECT_EQ(windows, "D:\\what\xEF\x80\xBF.txt");
  EXPECT_EQ(*ToHostPath(windows), D("/what?.txt"));
  EXPECT_TRUE(FileExists(windows));
  // The Windows form of the name splits as one component.
  EXPECT_EQ(FullPathName(windows), windows);
}

TEST_F(PathsTest, FullPathNameAgainstTheCurrentDirectory) {
  ::mkdir(D("/work").c_str(), 0777);
  ASSERT_TRUE(SetCurrentDirectory("D:\\work"));
  EXPECT_EQ(GetCurrentDirectory(), "D:\\work");
  struct Case {
    const char* input;
    const char* full;
  } const cases[] = {
      {"x.dat", "D:\\work\\x.dat"},
      {"sub\\..\\y.dat", "D:\\work\\y.dat"},
      {"..\\z.dat", "D:\\z.dat"},
      {"\\root.dat", "D:\\root.dat"},
      {"D:rel.dat", "D:\\work\\rel.dat"},
      {"E:rel.dat", "E:\\rel.dat"},
      {"e:\\A\\B\\", "E:\\A\\B\\"},
      {"E:\\A\\.", "E:\\A"},
      {"\\\\srv\\pub\\a\\..\\b", "\\\\srv\\pub\\b"},
      {"", "D:\\work"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(FullPathName(c.input), c.full);
  }
  EXPECT_EQ(*ToHostPath("x.dat"), D("/work/x.dat"));
}

TEST_F(PathsTest, SetCurrentDirectoryFailures) {
  WriteHostFile(D("/file"), "x");
  EXPECT_FALSE(SetCurrentDirectory("D:\\missing"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(SetCurrentDirectory("D:\\missing\\deeper"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(SetCurrentDirectory("D:\\file"));
  EXPECT_EQ(GetLastError(), kErrorDirectory);
  EXPECT_FALSE(SetCurrentDirectory("Q:\\"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  ASSERT_TRUE(SetCurrentDirectory("D:\\"));
  EXPECT_EQ(GetCurrentDirectory(), "D:\\");
}

TEST_F(PathsTest, FromUserPathConvertsHostPathsOnce) {
  struct Case {
    std::string input;
    std::string expected;
  } const cases[] = {
      {D("/Data/Back.Dat"), "D:\\Data\\Back.Dat"}, {"D:\\Data\\Back.Dat", "D:\\Data\\Back.Dat"},
      {"D:/Data/Back.Dat", "D:\\Data\\Back.Dat"},  {"\\\\srv\\pub\\x", "\\\\srv\\pub\\x"},
      {"Data\\Back.Dat", "Data\\Back.Dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(FromUserPath(c.input), c.expected);
  }
}

}  // namespace
}  // namespace platform
