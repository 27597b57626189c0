// The source tree scan on real trees: temporary directories mapped to the
// drive letter D:, built with std::filesystem and walked through the host
// layer's directory search.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/source_scan.h"
#include "app/core/test_view.h"
#include "platform/paths.h"

namespace app {
namespace {

namespace fs = std::filesystem;

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("orv_scan_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    platform::SetDrive('D', root_.string());
  }
  void TearDown() override {
    platform::RemoveDrive('D');
    fs::remove_all(root_);
  }

  // Creates a file (and its directories) below the root; `relative` uses '/'.
  void MakeFile(const std::string& relative, const std::string& content = "x") {
    const fs::path file = root_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
  }
  void MakeDir(const std::string& relative) { fs::create_directories(root_ / relative); }

  static std::vector<std::string> FullPaths(const TFileList& list) {
    std::vector<std::string> paths;
    for (const auto& record : list) paths.push_back(record->Path + record->Name);
    return paths;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  fs::path root_;
};

TEST_F(ScanTest, FilesOnlyInSubdirectoriesAreListedButNeverTheDirectories) {
  MakeFile("Data/Sub/a.txt");
  MakeFile("Data/Sub/Deeper/b.txt");
  MakeFile("Data/Other/c.txt");
  MakeDir("Data/Empty");

  TFileList list;
  ScanTree(list, "D:\\Data");
  EXPECT_EQ(Sorted(FullPaths(list)),
            (std::vector<std::string>{"D:\\Data\\Other\\c.txt", "D:\\Data\\Sub\\Deeper\\b.txt",
                                      "D:\\Data\\Sub\\a.txt"}));
}

TEST_F(ScanTest, SplitsPathAndNameAndKeepsTheDosTime) {
  MakeFile("Data/Sub/a.txt");
  // 2002-12-31 23:59:58 UTC; tests run with TZ=UTC, so local time is the same.
  fs::last_write_time(
      root_ / "Data/Sub/a.txt",
      fs::file_time_type::clock::from_sys(std::chrono::sys_days{std::chrono::year{2002} / 12 / 31} +
                                          std::chrono::hours{23} + std::chrono::minutes{59} +
                                          std::chrono::seconds{58}));
  TFileList list;
  ScanTree(list, "D:\\Data");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->Path, "D:\\Data\\Sub\\");
  EXPECT_EQ(list[0]->Name, "a.txt");
  // date (22 << 9 | 12 << 5 | 31), time (23 << 11 | 59 << 5 | 29)
  const std::uint32_t expected =
      (((2002u - 1980u) << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
  EXPECT_EQ(static_cast<std::uint32_t>(list[0]->Time), expected);
}

TEST_F(ScanTest, HiddenFilesAndHiddenDirectoriesAreIncluded) {
  MakeFile(".hidden_file");
  MakeFile(".hidden_dir/inside.txt");
  MakeFile("plain.txt");
  TFileList list;
  ScanTree(list, "D:\\");
  // A drive root used as given doubles the backslash, as the file system accepts.
  EXPECT_EQ(Sorted(FullPaths(list)),
            (std::vector<std::string>{"D:\\\\.hidden_dir\\inside.txt", "D:\\\\.hidden_file",
                                      "D:\\\\plain.txt"}));
}

TEST_F(ScanTest, WalkIsDepthFirstInListingOrder) {
  // Each directory's files must follow its entry among its parent's entries,
  // whatever order the directory listing uses.
  MakeFile("T/a/1.txt");
  MakeFile("T/a/x/2.txt");
  MakeFile("T/b/3.txt");
  MakeFile("T/top.txt");
  MakeFile("T/a/4.txt");
  TFileList list;
  ScanTree(list, "D:\\T");
  const std::vector<std::string> paths = FullPaths(list);
  ASSERT_EQ(paths.size(), 5u);
  // Files of one directory subtree form one contiguous run (pre-order).
  for (const std::string prefix : {"D:\\T\\a\\", "D:\\T\\a\\x\\", "D:\\T\\b\\"}) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (paths[i].rfind(prefix, 0) == 0) at.push_back(i);
    }
    ASSERT_FALSE(at.empty()) << prefix;
    EXPECT_EQ(at.back() - at.front() + 1, at.size()) << prefix << " is not contiguous";
  }
}

TEST_F(ScanTest, MissingRootYieldsNothing) {
  TFileList list;
  ScanTree(list, "D:\\does\\not\\exist");
  EXPECT_TRUE(list.empty());
  ScanTree(list, "Q:\\unmapped");
  EXPECT_TRUE(list.empty());
}

TEST_F(ScanTest, DirectoryLinkBackToAnAncestorIsNotWalkedAgain) {
  MakeFile("Loop/a.txt");
  MakeFile("Loop/Sub/b.txt");
  fs::create_directory_symlink(root_ / "Loop", root_ / "Loop/Sub/up");
  TFileList list;
  ScanTree(list, "D:\\Loop");
  EXPECT_EQ(Sorted(FullPaths(list)),
            (std::vector<std::string>{"D:\\Loop\\Sub\\b.txt", "D:\\Loop\\a.txt"}));
}

TEST_F(ScanTest, ScanSourceTwiceGivesTheSameListAndAnEmptyTreeGivesFalse) {
  MakeFile("Src/one.txt");
  MakeFile("Src/d/two.txt");
  MakeDir("EmptyTree/sub");
  TestView view;
  BackupApplication core(view);

  core.SetSourceDir("D:\\Src");
  ASSERT_TRUE(core.ScanSource());
  const std::vector<std::string> first = FullPaths(*core.State().FFileList);
  ASSERT_TRUE(core.ScanSource());
  EXPECT_EQ(FullPaths(*core.State().FFileList), first);
  EXPECT_EQ(first.size(), 2u);

  core.SetSourceDir("D:\\EmptyTree");
  EXPECT_FALSE(core.ScanSource());
  EXPECT_TRUE(core.State().FFileList->empty());
  core.SetSourceDir("D:\\Missing");
  EXPECT_FALSE(core.ScanSource());
}

TEST_F(ScanTest, GetFileSizeReportsTheLengthOrZero) {
  MakeFile("s/five.bin", "12345");
  MakeFile("s/.hidden.bin", "123");
  MakeFile("s/empty.bin", "");
  // Sparse files past 2 GiB and 4 GiB: only the low 32 bits count, read as signed.
  MakeFile("s/big.bin", "");
  fs::resize_file(root_ / "s/big.bin", (std::uintmax_t{1} << 32) + 5);
  MakeFile("s/half.bin", "");
  fs::resize_file(root_ / "s/half.bin", (std::uintmax_t{1} << 31) + 1);
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"D:\\s\\five.bin", 5}, {"D:\\s\\.hidden.bin", 3},          {"D:\\s\\empty.bin", 0},
      {"D:\\s\\big.bin", 5},  {"D:\\s\\half.bin", INT32_MIN + 1}, {"D:\\s\\missing.bin", 0},
      {"D:\\nowhere\\x", 0}};
  for (const auto& [path, size] : cases) EXPECT_EQ(GetFileSize(path), size) << path;
}

}  // namespace
}  // namespace app
