// The writer: stored names, the coupled path settings, updating an existing
// archive (keep, replace, freshen, comment), duplicate names, wildcard lines,
// exclusions, failures that must leave the old archive untouched.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "platform/file_ops.h"
#include "zip/unzip_reader.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace zip {
namespace {

using zip_test::HostExists;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

constexpr std::uint32_t kJan2020 = 0x50210000;  // 2020-01-01 00:00:00
constexpr std::uint32_t kJun2022 = 0x54CF6000;  // 2022-06-15 12:00:00

class WriterTest : public zip_test::ZipDrivesTest {
 protected:
  std::vector<std::string> Names(TOrvUnZip& z) {
    std::vector<std::string> names;
    for (int i = 0; i < z.Count(); ++i) names.push_back(z.FileName(i));
    return names;
  }
};

TEST_F(WriterTest, StoredNames) {
  const struct {
    bool storePaths, relative, volumes;
    const char* root;
    const char* path;
    const char* directory;
    const char* name;
  } cases[] = {
      {false, false, false, "", "C:\\dir\\sub\\file.txt", "", "file.txt"},
      {true, false, false, "", "C:\\dir\\sub\\file.txt", "dir\\sub\\", "file.txt"},
      {true, false, true, "", "C:\\dir\\sub\\file.txt", "C:\\dir\\sub\\", "file.txt"},
      {true, true, false, "C:\\dir", "C:\\dir\\sub\\file.txt", "sub\\", "file.txt"},
      {true, true, false, "c:\\DIR\\sub\\", "C:\\dir\\sub\\file.txt", "", "file.txt"},
      {true, true, false, "C:\\other", "C:\\dir\\sub\\file.txt", "dir\\sub\\", "file.txt"},
      {true, false, false, "", "\\\\srv\\share\\dir\\f.txt", "dir\\", "f.txt"},
      {true, false, false, "", "C:\\dir\\sub\\", "dir\\sub\\", ""},
  };
  for (const auto& c : cases) {
    TOrvZip z;
    z.SetStorePaths(c.storePaths);
    z.SetRelativePaths(c.relative);
    z.SetStoreVolumes(c.volumes);
    z.SetRootDir(c.root);
    const auto [directory, name] = z.StoredNameParts(c.path);
    EXPECT_EQ(directory, c.directory) << c.path << " root " << c.root;
    EXPECT_EQ(name, c.name) << c.path;
  }
}

TEST_F(WriterTest, CoupledPathSettings) {
  TOrvZip z;
  z.SetRelativePaths(true);
  EXPECT_TRUE(z.StorePaths());
  EXPECT_TRUE(z.Recurse);
  z.SetStoreVolumes(true);
  z.SetStorePaths(false);
  EXPECT_FALSE(z.StoreVolumes());
  EXPECT_FALSE(z.RelativePaths());
  z.SetStoreVolumes(true);
  EXPECT_TRUE(z.StorePaths());
  EXPECT_THROW(z.SetPackLevel(10), std::invalid_argument);
  EXPECT_THROW(z.SetPackLevel(-1), std::invalid_argument);
}

TEST_F(WriterTest, FileDeletedAfterListingGivesAnEmptyArchive) {
  WriteHostFile(HostC("gone.txt"), "x");
  TOrvZip z;
  z.SetPackLevel(0);
  z.SetZipName("D:\\a.zip");
  z.FilesList = {"C:\\gone.txt"};
  std::filesystem::remove(HostC("gone.txt"));
  std::vector<std::string> missing;
  z.OnNoSuchFile = [&](const std::string& name) { missing.push_back(name); };
  EXPECT_EQ(z.Zip(), 0);
  EXPECT_EQ(missing, std::vector<std::string>{"C:\\gone.txt"});
  EXPECT_EQ(ReadHostFile(HostD("a.zip")).size(), 22u);  // just the end record
  TOrvUnZip r;
  r.SetZipName("D:\\a.zip");
  r.ReadZip();
  EXPECT_EQ(r.Count(), 0);
}

TEST_F(WriterTest, UpdateKeepsUnchangedReplacesNewerKeepsOthersAndComment) {
  WriteHostFile(HostC("a.txt"), "version 1");
  WriteHostFile(HostC("b.txt"), "other");
  platform::SetFileDosTime("C:\\a.txt", kJan2020);
  TOrvZip z;
  z.SetPackLevel(0);
  z.SetZipName("D:\\a.zip");
  z.FilesList = {"C:\\a.txt", "C:\\b.txt"};
  ASSERT_EQ(z.Zip(), 2);
  z.SetZipComment("archive comment");
  z.FilesList.clear();
  ASSERT_EQ(z.Zip(), 0);  // rewrites with the comment

  std::vector<std::pair<int, int>> updates;
  TOrvZip again;
  again.SetPackLevel(0);
  again.SetZipName("D:\\a.zip");
  again.OnUpdate = [&](int action, int index) { updates.emplace_back(action, index); };
  again.FilesList = {"C:\\a.txt"};
  EXPECT_EQ(again.Zip(), 0);
  EXPECT_EQ(updates, (std::vector<std::pair<int, int>>{{kUpdateKeeping, 0}}));

  WriteHostFile(HostC("a.txt"), "version 2, longer");
  platform::SetFileDosTime("C:\\a.txt", kJun2022);
  updates.clear();
  again.FilesList = {"C:\\a.txt"};
  EXPECT_EQ(again.Zip(), 1);
  EXPECT_EQ(updates, (std::vector<std::pair<int, int>>{{kUpdateReplacing, 0}}));

  TOrvUnZip r;
  r.SetZipName("D:\\a.zip");
  r.SetDestDir("D:\\out");
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 2);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(r.ZipComment(), "archive comment");
  EXPECT_EQ(ReadHostFile(HostD("out/a.txt")), "version 2, longer");
  EXPECT_EQ(ReadHostFile(HostD("out/b.txt")), "other");
  // No temporary archive is left behind.
  for (const auto& e : std::filesystem::directory_iterator(d_.path())) {
    EXPECT_EQ(e.path().filename().string().rfind("ZTF", 0), std::string::npos) << e.path();
  }
}

TEST_F(WriterTest, ReplaceAndFreshen) {
  WriteHostFile(HostC("a.txt"), "a1");
  WriteHostFile(HostC("b.txt"), "b1");
  platform::SetFileDosTime("C:\\a.txt", kJan2020);
  TOrvZip z;
  z.SetPackLevel(0);
  z.SetZipName("D:\\a.zip");
  z.FilesList = {"C:\\a.txt"};
  ASSERT_EQ(z.Zip(), 1);
  // zaReplace replaces even an entry that is not older.
  z.ZipAction = TZipAction::zaReplace;
  z.FilesList = {"C:\\a.txt"};
  EXPECT_EQ(z.Zip(), 1);
  // zaFreshen only refreshes files already in the archive.
  WriteHostFile(HostC("a.txt"), "a2");
  platform::SetFileDosTime("C:\\a.txt", kJun2022);
  z.ZipAction = TZipAction::zaFreshen;
  z.FilesList = {"C:\\a.txt", "C:\\b.txt"};
  EXPECT_EQ(z.Zip(), 1);
  EXPECT_EQ(Names(z), std::vector<std::string>{"a.txt"});
}

TEST_F(WriterTest, SameNameFromTwoDirectoriesIsSkipped) {
  WriteHostFile(HostC("one/same.txt"), "1");
  WriteHostFile(HostC("two/same.txt"), "2");
  TOrvZip z;
  z.SetPackLevel(0);
  z.SetZipName("D:\\a.zip");
  std::vector<std::pair<int, std::string>> skips;
  z.OnSkippingFile = [&](TSkipReason reason, const std::string& name, int index, bool&) {
    EXPECT_EQ(index, -1);
    skips.emplace_back(static_cast<int>(reason), name);
  };
  z.FilesList = {"C:\\one\\same.txt", "C:\\two\\same.txt"};
  EXPECT_EQ(z.Zip(), 1);
  EXPECT_EQ(skips, (std::vector<std::pair<int, std::string>>{{1, "C:\\two\\same.txt"}}));
}

TEST_F(WriterTest, WildcardLinesExclusionsAndTheArchiveItself) {
  WriteHostFile(HostC("data/readme"), "no extension");
  WriteHostFile(HostC("data/a.txt"), "a");
  WriteHostFile(HostC("data/skip.tmp"), "excluded");
  WriteHostFile(HostC("data/sub/deep.txt"), "deep");
  WriteHostFile(HostC("data/pic.jpg"), std::string(5000, 'j'));
  {
    TOrvZip z;
    z.SetZipName("C:\\data\\self.zip");
    z.ExcludeList = {"*.tmp"};
    z.NoCompressList = {"*.jpg"};
    z.FilesList = {"C:\\data\\*.*"};
    EXPECT_EQ(z.Zip(), 3);
    std::vector<std::string> names = Names(z);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "pic.jpg", "readme"}));
    for (int i = 0; i < z.Count(); ++i) {
      if (z.FileName(i) == "pic.jpg") {
        EXPECT_EQ(z.Entry(i).CompressionMethod, kMethodStored);
      }
    }
  }
  {
    // ">" recurses whatever Recurse says; directory entries only when asked for.
    TOrvZip z;
    z.SetPackLevel(0);
    z.SetZipName("D:\\r.zip");
    z.SetStorePaths(true);
    z.AddDirEntriesOnRecurse = true;
    z.ExcludeList = {"c:\\data\\*.tmp"};
    z.FilesList = {">C:\\data\\*"};
    std::vector<std::string> recursed;
    z.OnRecursingFile = [&](const std::string& name) { recursed.push_back(name); };
    EXPECT_EQ(z.Zip(), 6);  // self.zip is a file of data now, plus the directory entry
    std::vector<std::string> names = Names(z);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"data\\a.txt", "data\\pic.jpg", "data\\readme",
                                        "data\\self.zip", "data\\sub\\", "data\\sub\\deep.txt"}));
    // The directory comes right before its contents.
    const auto sub = std::find(recursed.begin(), recursed.end(), "C:\\data\\sub\\");
    ASSERT_NE(sub, recursed.end());
    EXPECT_EQ(*(sub + 1), "C:\\data\\sub\\deep.txt");
  }
}

TEST_F(WriterTest, ExistingFileThatIsNotAZipStaysUntouched) {
  WriteHostFile(HostD("a.zip"), std::string(100, 'n'));
  WriteHostFile(HostC("f.txt"), "f");
  TOrvZip z;
  z.SetZipName("D:\\a.zip");
  z.FilesList = {"C:\\f.txt"};
  EXPECT_THROW(z.Zip(), EIncompleteZip);
  EXPECT_EQ(ReadHostFile(HostD("a.zip")), std::string(100, 'n'));
  EXPECT_TRUE(z.FilesList.empty());
}

TEST_F(WriterTest, OverwriteArchiveWritesOverTheFileAsIfItWereNew) {
  WriteHostFile(HostC("f.txt"), "the new entry");
  platform::SetFileDosTime("C:\\f.txt", kJan2020);
  TOrvZip fresh;
  fresh.SetZipName("D:\\fresh.zip");
  fresh.FilesList = {"C:\\f.txt"};
  ASSERT_EQ(fresh.Zip(), 1);
  const std::string expected = ReadHostFile(HostD("fresh.zip"));

  // Both are longer than the new archive, which must neither keep their
  // entries nor end in their bytes.
  WriteHostFile(HostC("big.txt"), std::string(5000, 'b'));
  for (const bool archive : {true, false}) {
    SCOPED_TRACE(archive);
    if (archive) {
      TOrvZip old;
      old.SetPackLevel(0);
      old.SetZipName("D:\\o.zip");
      old.FilesList = {"C:\\big.txt", "C:\\f.txt"};
      ASSERT_EQ(old.Zip(), 2);
    } else {
      WriteHostFile(HostD("o.zip"), std::string(9000, 'j'));
    }
    TOrvZip z;
    z.OverwriteArchive = true;
    z.SetZipName("D:\\o.zip");
    z.FilesList = {"C:\\f.txt"};
    EXPECT_EQ(z.Zip(), 1);
    EXPECT_EQ(ReadHostFile(HostD("o.zip")), expected);
  }
}

TEST_F(WriterTest, FailuresDeleteWhatWasBeingWritten) {
  WriteHostFile(HostC("big.bin"), zip_test::RandomBytes(400000, 2));
  WriteHostFile(HostC("small.txt"), "small");
  {
    // A new archive: StopNow, then a cancel during the data.
    TOrvZip z;
    z.SetPackLevel(0);
    z.SetZipName("D:\\new.zip");
    z.OnStartZipInfo = [](int files, std::int64_t bytes, TEndCentral&, bool& stop) {
      EXPECT_EQ(files, 1);
      EXPECT_EQ(bytes, 400000);
      stop = true;
    };
    z.FilesList = {"C:\\big.bin"};
    try {
      z.Zip();
      ADD_FAILURE() << "no exception";
    } catch (const EUserCanceled& e) {
      EXPECT_STREQ(e.what(), "User canceled Zip operation");
    }
    EXPECT_FALSE(HostExists(HostD("new.zip")));
    zip_test::RecordingUi ui;
    ui.cancelAfter = 2;
    z.OnStartZipInfo = nullptr;
    z.FilesList = {"C:\\big.bin"};
    EXPECT_THROW(z.Zip(), EUserCanceled);
    EXPECT_FALSE(HostExists(HostD("new.zip")));
  }
  {
    // An update: the old archive stays as it was and no temporary file remains.
    TOrvZip z;
    z.SetPackLevel(0);
    z.TempPath = "D:\\";
    z.SetZipName("D:\\old.zip");
    z.FilesList = {"C:\\small.txt"};
    ASSERT_EQ(z.Zip(), 1);
    const std::string before = ReadHostFile(HostD("old.zip"));
    zip_test::RecordingUi ui;
    ui.cancelAfter = 2;
    z.FilesList = {"C:\\big.bin"};
    EXPECT_THROW(z.Zip(), EUserCanceled);
    EXPECT_EQ(ReadHostFile(HostD("old.zip")), before);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(d_.path())) {
      (void)e;
      ++files;
    }
    EXPECT_EQ(files, 1);
  }
}

TEST_F(WriterTest, DisposeDeletesAddedSources) {
  WriteHostFile(HostC("keep.txt"), "k");
  WriteHostFile(HostC("drop.txt"), "d");
  TOrvZip z;
  z.SetPackLevel(0);
  z.SetZipName("D:\\a.zip");
  z.Dispose = true;
  z.OnDisposeFile = [](const std::string& name, bool& skip) { skip = name == "C:\\keep.txt"; };
  z.FilesList = {"C:\\keep.txt", "C:\\drop.txt"};
  EXPECT_EQ(z.Zip(), 2);
  EXPECT_TRUE(HostExists(HostC("keep.txt")));
  EXPECT_FALSE(HostExists(HostC("drop.txt")));
}

TEST_F(WriterTest, ZeroByteFileIsStoredEmpty) {
  WriteHostFile(HostC("empty.txt"), "");
  for (const int level : {0, 6}) {
    TOrvZip z;
    z.SetPackLevel(level);
    z.SetZipName("D:\\e" + std::to_string(level) + ".zip");
    z.FilesList = {"C:\\empty.txt"};
    ASSERT_EQ(z.Zip(), 1);
    const TZipHeaderInfo& h = z.Entry(0);
    EXPECT_EQ(h.CompressionMethod, kMethodStored);
    EXPECT_EQ(h.CompressedSize, 0);
    EXPECT_EQ(h.CRC32, 0u);
  }
}

}  // namespace
}  // namespace zip

namespace zip {
namespace {

class WriterMiscTest : public zip_test::ZipDrivesTest {};

TEST_F(WriterMiscTest, ProgressEndsAtOneHundredPercent) {
  WriteHostFile(HostC("a.bin"), zip_test::RandomBytes(100000, 6));
  WriteHostFile(HostC("b.txt"), zip_test::TextBytes(50000));
  TOrvZip z;
  z.SetZipName("D:\\a.zip");
  std::vector<int> file;
  std::vector<int> total;
  z.OnFilePercentDone = [&](int p) { file.push_back(p); };
  z.OnTotalPercentDone = [&](int p) { total.push_back(p); };
  z.FilesList = {"C:\\a.bin", "C:\\b.txt"};
  ASSERT_EQ(z.Zip(), 2);
  ASSERT_FALSE(total.empty());
  EXPECT_EQ(file.back(), 100);
  EXPECT_EQ(total.back(), 100);
  EXPECT_TRUE(std::is_sorted(total.begin(), total.end()));

  TOrvUnZip r;
  r.SetZipName("D:\\a.zip");
  r.SetDestDir("D:\\out");
  r.DoAll = true;
  total.clear();
  r.OnTotalPercentDone = [&](int p) { total.push_back(p); };
  ASSERT_EQ(r.UnZip(), 2);
  ASSERT_FALSE(total.empty());
  EXPECT_EQ(total.back(), 100);
}

TEST_F(WriterMiscTest, PendingCommentIsSavedWhenTheNameChanges) {
  WriteHostFile(HostC("a.txt"), "a");
  TOrvZip z;
  z.SetZipName("D:\\a.zip");
  z.FilesList = {"C:\\a.txt"};
  ASSERT_EQ(z.Zip(), 1);
  z.SetZipComment("saved on the way out");
  z.FilesList = {"C:\\a.txt"};  // meant for the next archive
  z.SetZipName("D:\\b.zip");
  EXPECT_EQ(z.FilesList, std::vector<std::string>{"C:\\a.txt"});
  TOrvUnZip r;
  r.SetZipName("D:\\a.zip");
  r.ReadZip();
  EXPECT_EQ(r.ZipComment(), "saved on the way out");
  EXPECT_EQ(r.Count(), 1);
}

TEST_F(WriterMiscTest, UnsupportedWritesAreRefusedClearly) {
  WriteHostFile(HostC("a.txt"), "a");
  TOrvZip z;
  z.SetZipName("D:\\a.zip");
  z.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
  z.FilesList = {"C:\\a.txt"};
  EXPECT_THROW(z.Zip(), EZipNotSupported);
  EXPECT_FALSE(HostExists(HostD("a.zip")));
  z.MultiZipInfo.MultiMode = TMultiMode::mmNone;
  z.UseMemoryArchive({});
  z.FilesList = {"C:\\a.txt"};
  EXPECT_THROW(z.Zip(), EZipNotSupported);
}

TEST_F(WriterMiscTest, MemoryArchivesAreRead) {
  WriteHostFile(HostC("m.txt"), "from memory");
  TOrvZip z;
  z.SetZipName("D:\\m.zip");
  z.FilesList = {"C:\\m.txt"};
  ASSERT_EQ(z.Zip(), 1);
  const std::string bytes = ReadHostFile(HostD("m.zip"));
  TOrvUnZip r;
  r.UseMemoryArchive(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  r.SetDestDir("D:\\out");
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(ReadHostFile(HostD("out/m.txt")), "from memory");
}

TEST_F(WriterMiscTest, ArchivesWrittenIntoMemoryEqualTheFilesZipWrites) {
  // A small text, a file deflate cannot shrink (stored), an empty file and one
  // spanning several of the writer's buffers.
  std::string random(20000, '\0');
  std::uint32_t x = 7;
  for (char& c : random) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  std::string lines;
  for (int i = 0; i < 4000; ++i) lines += "line " + std::to_string(i * 37 % 1000) + "\n";
  const std::pair<const char*, std::string> files[] = {
      {"small.txt", "from memory"}, {"random.bin", random}, {"empty", ""}, {"lines.txt", lines}};
  TOrvZip memoryWriter;  // one writer for every file, as a worker keeps it
  memoryWriter.DoProcessMessages = false;
  std::vector<std::uint8_t> archive = {1, 2, 3};  // replaced, not appended to
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteHostFile(HostC(name), bytes);
    platform::SetFileDosTime(std::string("C:\\") + name, kJun2022);
    TOrvZip z;  // a new archive for each file
    z.SetZipName(std::string("D:\\") + name + ".zip");
    z.FilesList = {std::string("C:\\") + name};
    ASSERT_EQ(z.Zip(), 1);
    memoryWriter.FilesList = {std::string("C:\\") + name};
    ASSERT_EQ(memoryWriter.ZipToMemory(archive), 1);
    const std::string expected = ReadHostFile(HostD(std::string(name) + ".zip"));
    EXPECT_TRUE(std::string(archive.begin(), archive.end()) == expected);
    EXPECT_TRUE(memoryWriter.FilesList.empty());
  }
  // A file that cannot be opened is skipped: nothing added.
  memoryWriter.FilesList = {"C:\\missing.txt"};
  EXPECT_EQ(memoryWriter.ZipToMemory(archive), 0);
  EXPECT_FALSE(HostExists(HostD("(memory)")));
}

TEST_F(WriterMiscTest, AStopSignalEndsAWriteWithoutProcessingMessages) {
  WriteHostFile(HostC("big.txt"), std::string(200000, 'z'));
  std::atomic<bool> stop{true};
  TOrvZip z;
  z.DoProcessMessages = false;
  z.StopSignal = &stop;
  z.FilesList = {"C:\\big.txt"};
  std::vector<std::uint8_t> archive;
  EXPECT_THROW(z.ZipToMemory(archive), EUserCanceled);
  z.SetZipName("D:\\stopped.zip");
  z.FilesList = {"C:\\big.txt"};
  EXPECT_THROW(z.Zip(), EUserCanceled);
  EXPECT_FALSE(HostExists(HostD("stopped.zip")));
  stop = false;
  z.FilesList = {"C:\\big.txt"};
  EXPECT_EQ(z.ZipToMemory(archive), 1);
}

}  // namespace
}  // namespace zip
