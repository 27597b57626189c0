// The reader: selection by pattern, output paths, overwrite modes, read-only
// files, CRC failures, unsafe names, passwords, archives that are not zips,
// cancellation, and restoring times and attributes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/file_ops.h"
#include "zip/unzip_reader.h"
#include "zip/zip_errors.h"
#include "zip/zip_records.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace zip {
namespace {

using zip_test::HostExists;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

constexpr std::uint32_t kJan2020 = 0x50210000;  // 2020-01-01 00:00:00
constexpr std::uint32_t kJun2022 = 0x54CF6000;  // 2022-06-15 12:00:00

class ReaderTest : public zip_test::ZipDrivesTest {
 protected:
  // Writes D:\a.zip (stored, paths kept) from files given as relative path -> content.
  void MakeArchive(const std::map<std::string, std::string>& files, bool storePaths = true,
                   const std::string& password = "") {
    TOrvZip zipper;
    zipper.SetPackLevel(0);
    zipper.SetStorePaths(storePaths);
    zipper.Password = password;
    zipper.SetZipName("D:\\a.zip");
    for (const auto& [name, content] : files) {
      WriteHostFile(HostC("src/" + name), content);
      std::string win = "C:\\src\\" + name;
      std::replace(win.begin(), win.end(), '/', '\\');
      platform::SetFileDosTime(win, kJan2020);
      zipper.FilesList.push_back(win);
    }
    zipper.SetRootDir("C:\\src");
    if (storePaths) zipper.SetRelativePaths(true);
    ASSERT_EQ(zipper.Zip(), static_cast<int>(files.size()));
  }

  // A reader of D:\a.zip into D:\out that records skips and CRC failures.
  void Prepare(TOrvUnZip& reader) {
    reader.SetZipName("D:\\a.zip");
    reader.SetDestDir("D:\\out");
    reader.OnSkippingFile = [this](TSkipReason reason, const std::string& name, int, bool&) {
      skips.emplace_back(static_cast<int>(reason), name);
    };
    reader.OnBadCRC = [this](std::uint32_t, std::uint32_t, int index) { badCrc.push_back(index); };
  }

  std::vector<std::pair<int, std::string>> skips;
  std::vector<int> badCrc;
};

TEST_F(ReaderTest, StarDotStarNeedsADot) {
  MakeArchive({{"README", "read me"}, {"file.txt", "text"}});
  TOrvUnZip reader;
  Prepare(reader);
  reader.FilesList = {"*.*"};
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_TRUE(HostExists(HostD("out/file.txt")));
  EXPECT_FALSE(HostExists(HostD("out/README")));
  // UnZip cleared the patterns: a second run selects nothing.
  EXPECT_TRUE(reader.FilesList.empty());
  EXPECT_EQ(reader.UnZip(), 0);
  reader.DoAll = true;
  reader.OverwriteMode = TUZOverwriteMode::Always;
  EXPECT_EQ(reader.UnZip(), 2);
}

TEST_F(ReaderTest, OutputPaths) {
  MakeArchive({{"dir/sub/file.txt", "deep"}, {"top.txt", "top"}});
  const struct {
    bool recreate;
    const char* rootDir;
    const char* dest;
    const char* expectHost;
  } cases[] = {
      {false, "", "D:\\flat", "flat/file.txt"},
      {true, "", "D:\\new\\two", "new/two/dir/sub/file.txt"},
      {true, "dir\\", "D:\\rooted\\", "rooted/sub/file.txt"},
  };
  for (const auto& c : cases) {
    TOrvUnZip reader;
    reader.SetZipName("D:\\a.zip");
    reader.SetDestDir(c.dest);
    reader.SetRootDir(c.rootDir);
    reader.RecreateDirs = c.recreate;
    reader.FilesList = {"*file.txt"};
    EXPECT_EQ(reader.UnZip(), 1) << c.dest;
    EXPECT_EQ(ReadHostFile(HostD(c.expectHost)), "deep") << c.dest;
  }
}

TEST_F(ReaderTest, OverwriteModes) {
  MakeArchive({{"file.txt", "from archive"}});  // entry dated 2020-01-01
  const struct {
    TUZOverwriteMode mode;
    std::uint32_t existingTime;
    bool replaced;
  } cases[] = {
      {TUZOverwriteMode::Always, kJun2022, true},    {TUZOverwriteMode::Never, 0x48210000, false},
      {TUZOverwriteMode::ifNewer, 0x48210000, true}, {TUZOverwriteMode::ifNewer, kJun2022, false},
      {TUZOverwriteMode::ifOlder, kJun2022, true},   {TUZOverwriteMode::ifOlder, 0x48210000, false},
  };
  for (const auto& c : cases) {
    WriteHostFile(HostD("out/file.txt"), "existing");
    platform::SetFileDosTime("D:\\out\\file.txt", c.existingTime);
    skips.clear();
    TOrvUnZip reader;
    Prepare(reader);
    reader.OverwriteMode = c.mode;
    reader.FilesList = {"*"};
    EXPECT_EQ(reader.UnZip(), c.replaced ? 1 : 0) << static_cast<int>(c.mode);
    EXPECT_EQ(ReadHostFile(HostD("out/file.txt")), c.replaced ? "from archive" : "existing");
    if (!c.replaced) {
      ASSERT_EQ(skips.size(), 1u);
      EXPECT_EQ(skips[0].first, 1);
    }
  }
}

TEST_F(ReaderTest, PromptAsksHandlerOrMessageBox) {
  MakeArchive({{"file.txt", "from archive"}});
  for (const bool answer : {false, true}) {
    WriteHostFile(HostD("out/file.txt"), "existing");
    TOrvUnZip reader;
    Prepare(reader);
    int asked = 0;
    reader.OnPromptForOverwrite = [&](bool& overwrite, int, std::string&) {
      ++asked;
      overwrite = answer;
    };
    reader.FilesList = {"*"};
    EXPECT_EQ(reader.UnZip(), answer ? 1 : 0);
    EXPECT_EQ(asked, 1);
  }
  for (const auto answer : {platform::MsgResult::No, platform::MsgResult::Yes}) {
    WriteHostFile(HostD("out/file.txt"), "existing");
    zip_test::RecordingUi ui(answer);
    TOrvUnZip reader;
    Prepare(reader);
    reader.FilesList = {"*"};
    EXPECT_EQ(reader.UnZip(), answer == platform::MsgResult::Yes ? 1 : 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0], "File Exists Alert: Replace existing file file.txt?");
  }
}

TEST_F(ReaderTest, TimeAndReadOnlyComeBackAndBlockReplacement) {
  WriteHostFile(HostC("src/ro.txt"), "read only");
  platform::SetFileDosTime("C:\\src\\ro.txt", kJun2022);
  platform::SetFileAttributes("C:\\src\\ro.txt", platform::kAttrReadOnly);
  TOrvZip zipper;
  zipper.SetPackLevel(0);
  zipper.SetZipName("D:\\a.zip");
  zipper.FilesList = {"C:\\src\\ro.txt"};
  ASSERT_EQ(zipper.Zip(), 1);
  EXPECT_EQ(zipper.Entry(0).ExternalFileAttributes & 0x01, 0x01u);

  TOrvUnZip reader;
  Prepare(reader);
  reader.OverwriteMode = TUZOverwriteMode::Always;
  reader.FilesList = {"*"};
  ASSERT_EQ(reader.UnZip(), 1);
  std::uint32_t time = 0;
  ASSERT_TRUE(platform::GetFileDosTime("D:\\out\\ro.txt", time));
  EXPECT_EQ(time, kJun2022);
  EXPECT_NE(platform::GetFileAttributes("D:\\out\\ro.txt") & platform::kAttrReadOnly, 0u);

  // Again over the read-only file: skipped with reason 3 by default ...
  reader.FilesList = {"*"};
  EXPECT_EQ(reader.UnZip(), 0);
  ASSERT_EQ(skips.size(), 1u);
  EXPECT_EQ(skips[0].first, 3);
  // ... replaced with ReplaceReadOnly.
  reader.ReplaceReadOnly = true;
  reader.FilesList = {"*"};
  EXPECT_EQ(reader.UnZip(), 1);
}

TEST_F(ReaderTest, AlteredDataFailsItsCrcAndLeavesNoFile) {
  MakeArchive({{"file.txt", "original content"}});
  std::string bytes = ReadHostFile(HostD("a.zip"));
  const std::size_t at = bytes.find("original");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'O';
  WriteHostFile(HostD("a.zip"), bytes);
  TOrvUnZip reader;
  Prepare(reader);
  reader.FilesList = {"*"};
  EXPECT_EQ(reader.UnZip(), 0);
  EXPECT_EQ(badCrc.size(), 1u);
  EXPECT_FALSE(HostExists(HostD("out/file.txt")));
}

TEST_F(ReaderTest, TruncatedStoredEntryRaisesAndLeavesNoFile) {
  MakeArchive({{"file.txt", std::string(100000, 'x')}});
  // Keep the directory but cut the entry's data: move the central directory
  // and end record to follow only part of the data.
  const std::string bytes = ReadHostFile(HostD("a.zip"));
  const std::size_t central = bytes.find("PK\x01\x02");
  std::string cut = bytes.substr(0, 5000) + bytes.substr(central);
  // Directory offset in the end record (last 22 bytes, offset 16).
  const std::uint32_t newOffset = 5000;
  for (int i = 0; i < 4; ++i) cut[cut.size() - 6 + i] = static_cast<char>(newOffset >> (8 * i));
  WriteHostFile(HostD("a.zip"), cut);
  TOrvUnZip reader;
  Prepare(reader);
  reader.FilesList = {"*"};
  EXPECT_THROW(reader.UnZip(), EFatalUnzipError);
  EXPECT_FALSE(HostExists(HostD("out/file.txt")));
}

TEST_F(ReaderTest, UnsafeNamesAreNeverWrittenOutside) {
  // Entries named as an attacker would: a ".." component, an absolute path,
  // a drive-relative path.
  MakeArchive({{"evil1.txt", "1"}, {"evil2.txt", "2"}, {"evil3.txt", "3"}, {"fine.txt", "ok"}},
              false);
  std::string bytes = ReadHostFile(HostD("a.zip"));
  // Rename in both headers; the names keep their lengths (9 bytes).
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"evil1.txt", "../e1.txt"}, {"evil2.txt", "/\\e2.txt_"}, {"evil3.txt", "C:e33.txt"}}) {
    for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from)) {
      bytes.replace(at, from.size(), to);
    }
  }
  WriteHostFile(HostD("a.zip"), bytes);
  for (const bool recreate : {false, true}) {
    skips.clear();
    TOrvUnZip reader;
    Prepare(reader);
    reader.SetDestDir("D:\\out\\inner");
    reader.RecreateDirs = recreate;
    reader.DoAll = true;
    std::vector<std::string> messages;
    reader.OnZipMessage = [&](const std::string& m) { messages.push_back(m); };
    reader.UnZip();
    EXPECT_FALSE(HostExists(HostD("out/e1.txt")));
    EXPECT_FALSE(HostExists(HostD("e1.txt")));
    if (recreate) {
      ASSERT_FALSE(skips.empty());
      EXPECT_EQ(skips[0].first, 3);
      EXPECT_EQ(skips[0].second, "..\\e1.txt");
      ASSERT_FALSE(messages.empty());
      EXPECT_NE(messages[0].find("Unsafe path"), std::string::npos);
    }
    // A drive-relative name is refused whether or not directories are recreated.
    EXPECT_NE(std::find(skips.begin(), skips.end(), std::make_pair(3, std::string("C:e33.txt"))),
              skips.end());
    EXPECT_EQ(ReadHostFile(HostD("out/inner/fine.txt")), "ok");
  }
}

TEST_F(ReaderTest, Passwords) {
  MakeArchive({{"secret.txt", "the secret text"}}, false, "right");
  {
    TOrvUnZip reader;
    Prepare(reader);
    reader.Password = "right";
    reader.FilesList = {"*"};
    EXPECT_EQ(reader.UnZip(), 1);
    EXPECT_EQ(ReadHostFile(HostD("out/secret.txt")), "the secret text");
  }
  {
    // A wrong password: the handler supplies the right one and the entry is retried.
    TOrvUnZip reader;
    Prepare(reader);
    reader.Password = "wrong";
    reader.OverwriteMode = TUZOverwriteMode::Always;
    int asked = 0;
    reader.OnBadPassword = [&](int, std::string& newPassword) {
      newPassword = ++asked == 1 ? "right" : "";
    };
    reader.FilesList = {"*"};
    EXPECT_EQ(reader.UnZip(), 1);
    EXPECT_EQ(asked, 1);
  }
  {
    TOrvUnZip reader;
    Prepare(reader);
    reader.FilesList = {"*"};
    reader.OverwriteMode = TUZOverwriteMode::Always;
    EXPECT_EQ(reader.UnZip(), 0);
    ASSERT_EQ(skips.size(), 1u);
    EXPECT_EQ(skips[0].first, 0);
  }
  std::string out;
  if (zip_test::HaveTool("unzip")) {
    EXPECT_EQ(zip_test::RunCommand("unzip -P right -t " + zip_test::Quote(HostD("a.zip")), &out), 0)
        << out;
  }
}

TEST_F(ReaderTest, ArchivesThatAreNotZips) {
  const struct {
    std::string content;
    TIncompleteZipMode mode;
    bool readZipThrows;
  } cases[] = {
      {"", TIncompleteZipMode::izAssumeMulti, false},  // empty: a valid archive, no entries
      {"PK", TIncompleteZipMode::izAssumeMulti, false},
      {std::string(21, 'x'), TIncompleteZipMode::izAssumeNotAZip, true},
      {std::string(300, 'x'), TIncompleteZipMode::izAssumeBad, true},
  };
  for (const auto& c : cases) {
    WriteHostFile(HostD("a.zip"), c.content);
    TOrvUnZip reader;
    reader.SetZipName("D:\\a.zip");
    reader.IncompleteZipMode = c.mode;
    if (c.readZipThrows) {
      EXPECT_THROW(reader.ReadZip(), EZipError) << c.content.size();
      EXPECT_EQ(reader.ZipName(), "");  // the reader was reset
      continue;
    }
    reader.ReadZip();
    EXPECT_EQ(reader.Count(), 0);
    reader.DoAll = true;
    if (c.content.empty()) {
      EXPECT_EQ(reader.UnZip(), 0);
    } else {
      EXPECT_THROW(reader.UnZip(), EIncompleteZip);
    }
  }
  TOrvUnZip missing;
  missing.SetZipName("D:\\missing.zip");
  EXPECT_THROW(missing.ReadZip(), EFOpenError);
}

TEST_F(ReaderTest, CancelStopsAndRemovesThePartialFile) {
  MakeArchive({{"big.bin", zip_test::RandomBytes(300000, 5)}});
  zip_test::RecordingUi ui;
  ui.cancelAfter = 3;
  TOrvUnZip reader;
  Prepare(reader);
  reader.FilesList = {"*"};
  EXPECT_THROW(reader.UnZip(), EUserCanceled);
  EXPECT_FALSE(HostExists(HostD("out/big.bin")));
  EXPECT_FALSE(reader.Busy());
}

TEST_F(ReaderTest, CommentsAndEntryList) {
  const std::string host =
      std::string(ORV_SHARED_DIR) + "/testdata/zip/structure/comments/entry-comment.zip";
  if (!HostExists(host)) GTEST_SKIP() << "test data not found";
  TOrvUnZip reader;
  reader.SetZipName(platform::ToWindowsPath(host));
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 1);
  EXPECT_EQ(reader.FileComment(0), "This is a comment on test.txt");
  EXPECT_THROW(reader.FileName(1), EListError);
}

}  // namespace
}  // namespace zip
