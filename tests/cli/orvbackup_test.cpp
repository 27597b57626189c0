// orvbackup as scripts run it: its usage errors, a compressed backup and its
// restore with host and Windows-form paths, the failure status, and two
// processes backing up into one backup file at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "zip/zip_test_util.h"

namespace {

using zip_test::Quote;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

class OrvbackupTest : public ::testing::Test {
 protected:
  // Runs a shell command line in the temporary directory with orvbackup as $B.
  int Shell(const std::string& script) {
    return zip_test::RunCommand("cd " + Quote(dir_.path()) + " || exit 9; export TZ=UTC B=" +
                                    Quote(ORVBACKUP_PATH) + "; " + script,
                                &output_);
  }
  int Orvbackup(const std::string& args) { return Shell("\"$B\" " + args + " </dev/null"); }
  std::string Host(const std::string& rel) const { return dir_.path() + "/" + rel; }
  bool Says(const std::string& text) const { return output_.find(text) != std::string::npos; }

  zip_test::TempDir dir_;
  std::string output_;
};

TEST_F(OrvbackupTest, UsageErrorsAndHelp) {
  for (const char* args :
       {"", "backup src", "backup src --to-dir a --into b.dat",
        "backup src --into b.dat --size-limit 3", "restore", "restore a.dat --overwrite maybe",
        "backup src --to-dir a --bogus", "copy a b"}) {
    EXPECT_EQ(Orvbackup(args), 2) << args << "\n" << output_;
    EXPECT_TRUE(Says("usage:")) << args;
  }
  ASSERT_EQ(Orvbackup("--help"), 0);
  EXPECT_TRUE(Says("orvbackup restore FILE.dat [--to DIR] [--overwrite ask|always|never]"));
}

TEST_F(OrvbackupTest, CompressedBackupIncrementalRunAndRestore) {
  WriteHostFile(Host("src/a.txt"), zip_test::TextBytes(20000));
  WriteHostFile(Host("src/sub dir/b.bin"), zip_test::RandomBytes(3000, 4));
  std::filesystem::create_directories(Host("out"));
  ASSERT_EQ(Orvbackup("backup src --to-dir out --name Set --compress"), 0) << output_;
  EXPECT_TRUE(Says("正在處理: ")) << output_;
  EXPECT_TRUE(Says("完成了,萬歲!!\n")) << output_;
  EXPECT_TRUE(Says("共費時 : ")) << output_;
  ASSERT_TRUE(std::filesystem::exists(Host("out/Set.dat")));

  ASSERT_EQ(Orvbackup("backup src --into out/Set.dat"), 0) << output_;
  EXPECT_TRUE(Says("完成了,萬歲!! 共更新 0 個檔")) << output_;

  const std::string to = platform::ToWindowsPath(Host("back"));  // a Windows-form path
  ASSERT_EQ(Orvbackup("restore out/Set.dat --to " + Quote(to)), 0) << output_;
  EXPECT_TRUE(Says("完成了你成功了~~恭喜 共: 2筆")) << output_;
  const std::string below = Host("back") + dir_.path();  // the recorded path below --to
  EXPECT_EQ(ReadHostFile(below + "/src/a.txt"), zip_test::TextBytes(20000));
  EXPECT_EQ(ReadHostFile(below + "/src/sub dir/b.bin"), zip_test::RandomBytes(3000, 4));

  // Not a terminal: existing files are kept, and not counted.
  ASSERT_EQ(Orvbackup("restore out/Set.dat --to " + Quote(to)), 0) << output_;
  EXPECT_TRUE(Says("完成了你成功了~~恭喜 共: 0筆")) << output_;
  ASSERT_EQ(Orvbackup("restore out/Set.dat --overwrite always --to " + Quote(to)), 0);
  EXPECT_TRUE(Says("完成了你成功了~~恭喜 共: 2筆")) << output_;
}

// Into a pipe the status lines are written in batches: every line still
// comes, in the order of the run, and before what goes to standard error.
TEST_F(OrvbackupTest, StatusLinesInAPipeKeepTheirOrder) {
  WriteHostFile(Host("src/a.txt"), "a");
  WriteHostFile(Host("src/d/b.txt"), "bb");
  std::filesystem::create_directories(Host("out"));
  ASSERT_EQ(Orvbackup("backup src --to-dir out"), 0) << output_;
  // Lines of the output, up to their first `width` bytes.
  auto lines = [&](std::size_t width) {
    std::vector<std::string> result;
    std::size_t at = 0;
    for (std::size_t end; (end = output_.find('\n', at)) != std::string::npos; at = end + 1)
      result.push_back(output_.substr(at, std::min(width, end - at)));
    return result;
  };
  const std::string src = platform::ToWindowsPath(Host("src")) + "\\";
  ASSERT_EQ(Orvbackup("restore out/Back.dat --to restored"), 0) << output_;
  const std::vector<std::string> expected = {"1 / 2 回存處理: " + src + "a.txt",
                                             "1 / 2 回寫中.. ",
                                             "2 / 2 回存處理: " + src + "d\\b.txt",
                                             "2 / 2 回寫中.. ",
                                             "完成了你成功了~~恭喜 共: 2筆",
                                             "共費時 : ",
                                             "2/2 rows, "};
  std::vector<std::string> got = lines(std::string::npos);
  ASSERT_EQ(got.size(), expected.size()) << output_;
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(got[i].substr(0, expected[i].size()), expected[i]) << i << "\n" << output_;

  // A row that fails: its status line comes before the error, the counts on
  // standard error after both.
  WriteHostFile(Host("blocked/" + dir_.path() + "/src/d"), "a file where a directory goes");
  EXPECT_EQ(Orvbackup("restore out/Back.dat --keep-going --to blocked"), 1) << output_;
  got = lines(std::string::npos);
  const auto find = [&](const std::string& start) {
    for (std::size_t i = 0; i < got.size(); ++i)
      if (got[i].rfind(start, 0) == 0) return static_cast<int>(i);
    return -1;
  };
  const int failedRow = find("2 / 2 回存處理: "), failure = find("orvbackup: failed: "),
            count = find("orvbackup: 1 rows failed");
  EXPECT_GE(failedRow, 0) << output_;
  EXPECT_GT(failure, failedRow) << output_;
  EXPECT_GT(count, failure) << output_;
}

TEST_F(OrvbackupTest, FailuresExitWithOne) {
  EXPECT_EQ(Orvbackup("restore missing.dat"), 3) << output_;
  WriteHostFile(Host("src/a.txt"), "a");
  std::filesystem::create_directories(Host("out"));
  ASSERT_EQ(Orvbackup("backup src --to-dir out"), 0) << output_;
  // The same files into the same new file again: duplicate keys.
  EXPECT_EQ(Orvbackup("backup src --to-dir out"), 1) << output_;
  EXPECT_TRUE(Says("過程中發生錯誤沒有成功!!!")) << output_;
}

TEST_F(OrvbackupTest, TwoProcessesBackingUpIntoOneFileStoreEveryFileOnce) {
  constexpr int kFiles = 40;
  WriteHostFile(Host("seed/seed.txt"), "seed");
  for (int i = 0; i < kFiles; ++i)
    WriteHostFile(Host("src/d" + std::to_string(i % 4) + "/f" + std::to_string(i)),
                  zip_test::TextBytes(2000 + i));
  std::filesystem::create_directories(Host("out"));
  ASSERT_EQ(Orvbackup("backup seed --to-dir out"), 0) << output_;
  ASSERT_EQ(Shell("(\"$B\" backup src --into out/Back.dat >one.txt 2>&1; echo $? >one.rc) & "
                  "(\"$B\" backup src --into out/Back.dat --compress >two.txt 2>&1; "
                  "echo $? >two.rc) & wait"),
            0);
  EXPECT_EQ(ReadHostFile(Host("one.rc")), "0\n") << ReadHostFile(Host("one.txt"));
  EXPECT_EQ(ReadHostFile(Host("two.rc")), "0\n") << ReadHostFile(Host("two.txt"));
  // Together they updated every file exactly once.
  const std::string one = ReadHostFile(Host("one.txt")), two = ReadHostFile(Host("two.txt"));
  auto updated = [](const std::string& out) {
    const std::string key = "共更新 ";
    const std::size_t at = out.find(key);
    return at == std::string::npos ? -1 : std::stoi(out.substr(at + key.size()));
  };
  EXPECT_EQ(updated(one) + updated(two), kFiles) << one << two;
  ASSERT_EQ(Orvbackup("restore out/Back.dat --to restored"), 0) << output_;
  EXPECT_TRUE(Says("完成了你成功了~~恭喜 共: " + std::to_string(kFiles + 1) + "筆")) << output_;
}

}  // namespace
