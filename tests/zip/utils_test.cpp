// The component's utilities: the buffered stream (positions, rewriting in
// place, short writes, put back), the directory search (order, recursion,
// names without extension, wildcard directories) and replacing a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/file_ops.h"
#include "zip/buffered_stream.h"
#include "zip/dir_search.h"
#include "zip/file_utils.h"
#include "zip/zip_errors.h"
#include "zip_test_util.h"

namespace zip {
namespace {

using zip_test::HostExists;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

// A stream that accepts at most `room` bytes in total.
class LimitedStream : public TMemoryStream {
 public:
  explicit LimitedStream(std::int64_t room) : room_(room) {}
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, room_));
    room_ -= n;
    return TMemoryStream::Write(buffer, n);
  }

 private:
  std::int64_t room_;
};

TEST(BufferedStreamTest, RewriteInPlaceKeepsTheRest) {
  TMemoryStream under;
  {
    TS_BufferStream s(&under, 64);
    const std::string data = zip_test::TextBytes(1000);
    ASSERT_EQ(s.Write(data.data(), 1000), 1000);
    EXPECT_EQ(s.Position(), 1000);
    EXPECT_EQ(s.Seek(0, kSeekFromBeginning), 0);
    ASSERT_EQ(s.Write(std::string(30, '#').data(), 30), 30);
    EXPECT_EQ(s.Seek(0, kSeekFromEnd), 1000);
    EXPECT_EQ(s.Size(), 1000);
  }
  const std::string expected = std::string(30, '#') + zip_test::TextBytes(1000).substr(30);
  EXPECT_EQ(std::string(under.Bytes().begin(), under.Bytes().end()), expected);
}

TEST(BufferedStreamTest, PositionsWhileReadingAndSeekOrigins) {
  TMemoryStream under(std::vector<std::uint8_t>(500, 7));
  TS_BufferStream s(&under, 64);
  std::vector<std::uint8_t> buf(100);
  EXPECT_EQ(s.Read(buf.data(), 10), 10);
  EXPECT_EQ(s.Position(), 10);
  EXPECT_EQ(s.Seek(5, kSeekFromCurrent), 15);
  EXPECT_EQ(s.Seek(-20, kSeekFromEnd), 480);  // the offset counts back by its size
  EXPECT_EQ(s.Seek(20, kSeekFromEnd), 480);
  EXPECT_EQ(s.Read(buf.data(), 100), 20);  // stops at the end
  try {
    s.Seek(0, 7);
    ADD_FAILURE() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Invalid seek origin (7)");
  }
}

TEST(BufferedStreamTest, PutBack) {
  TMemoryStream under(std::vector<std::uint8_t>{1, 2, 3});
  TS_BufferStream s(&under, 16);
  std::uint8_t b = 0;
  EXPECT_THROW(s.PutBack(9), EStreamError);  // nothing read yet
  ASSERT_EQ(s.Read(&b, 1), 1);
  s.PutBack(9);
  ASSERT_EQ(s.Read(&b, 1), 1);
  EXPECT_EQ(b, 9);
  try {
    s.PutBack(8);
    s.PutBack(8);
    ADD_FAILURE() << "no overflow";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Putback overflow");
  }
}

TEST(BufferedStreamTest, ShortWritesAreReported) {
  LimitedStream under(100);
  TS_BufferStream s(&under, 64);
  const std::string data(200, 'x');
  const std::int32_t accepted = s.Write(data.data(), 200);
  EXPECT_LT(accepted, 200);
  EXPECT_FALSE(s.FlushBuffer());
  EXPECT_THROW(s.Seek(0, kSeekFromBeginning), EStreamError);  // "Seek error"
}

class DirSearchTest : public zip_test::ZipDrivesTest {
 protected:
  std::vector<std::string> All(TDirSearch& search) {
    std::vector<std::string> out;
    for (std::string p = search.Next(); !p.empty(); p = search.Next()) out.push_back(p);
    return out;
  }
};

TEST_F(DirSearchTest, FlatAndRecursive) {
  WriteHostFile(HostC("data/a.txt"), "a");
  WriteHostFile(HostC("data/readme"), "r");
  WriteHostFile(HostC("data/sub/x.txt"), "xx");
  WriteHostFile(HostC("data/sub/deeper/y.txt"), "y");
  WriteHostFile(HostC("data/z.txt"), "z");
  {
    TDirSearch search("C:\\data", false, "*");
    auto got = All(search);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got,
              (std::vector<std::string>{"C:\\data\\a.txt", "C:\\data\\readme", "C:\\data\\z.txt"}));
  }
  {
    // "*.*" matches a name without an extension too ("readme" as "readme.").
    TDirSearch search("C:\\data\\", false, "*.*");
    EXPECT_EQ(All(search).size(), 3u);
  }
  {
    TDirSearch search("C:\\data", true, "*.txt");
    const auto got = All(search);
    ASSERT_EQ(got.size(), 6u);
    // Each directory comes first, its whole contents right behind it.
    const auto sub = std::find(got.begin(), got.end(), "C:\\data\\sub\\");
    ASSERT_NE(sub, got.end());
    const auto subEnd = std::find_if(sub + 1, got.end(), [](const std::string& p) {
      return p.rfind("C:\\data\\sub\\", 0) != 0;
    });
    EXPECT_EQ(subEnd - sub, 4);  // sub\, sub\x.txt, sub\deeper\, sub\deeper\y.txt
    const auto deeper = std::find(sub, subEnd, "C:\\data\\sub\\deeper\\");
    ASSERT_NE(deeper, subEnd);
    EXPECT_EQ(*(deeper + 1), "C:\\data\\sub\\deeper\\y.txt");
  }
  {
    TDirSearch search("C:\\data", false, "*.txt");
    std::uint64_t size = 0;
    for (std::string p = search.Next(); !p.empty(); p = search.Next()) {
      if (p == "C:\\data\\a.txt") size = search.LastSize();
    }
    EXPECT_EQ(size, 1u);
  }
  {
    TDirSearch missing("C:\\nothing", true, "*");
    EXPECT_EQ(missing.Next(), "");
  }
}

TEST_F(DirSearchTest, WildcardDirectoryLevels) {
  WriteHostFile(HostC("logs/app1/today/a.log"), "1");
  WriteHostFile(HostC("logs/app2/today/b.log"), "2");
  WriteHostFile(HostC("logs/other/today/c.log"), "3");
  WriteHostFile(HostC("logs/app3/yesterday/d.log"), "4");
  TDirSearch search("C:\\logs\\app?\\today", false, "*.log");
  auto got = All(search);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"C:\\logs\\app1\\today\\a.log",
                                           "C:\\logs\\app2\\today\\b.log"}));
}

class FileUtilsTest : public zip_test::ZipDrivesTest {};

TEST_F(FileUtilsTest, ReplaceFileOnOneDriveAndAcross) {
  WriteHostFile(HostC("new.bin"), "new content");
  WriteHostFile(HostC("old.bin"), "old content");
  ASSERT_TRUE(ReplaceFileWith("C:\\new.bin", "C:\\old.bin"));
  EXPECT_EQ(ReadHostFile(HostC("old.bin")), "new content");
  EXPECT_FALSE(HostExists(HostC("new.bin")));
  EXPECT_FALSE(HostExists(HostC("old.bin$$$")));

  WriteHostFile(HostC("other.bin"), "across drives");
  WriteHostFile(HostD("target.bin"), "old");
  ASSERT_TRUE(ReplaceFileWith("C:\\other.bin", "D:\\target.bin"));
  EXPECT_EQ(ReadHostFile(HostD("target.bin")), "across drives");

  zip_test::RecordingUi ui;
  EXPECT_FALSE(ReplaceFileWith("C:\\missing.bin", "D:\\target.bin"));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], "Error: Could not copy from C:\\missing.bin -> D:\\target.bin");
  EXPECT_EQ(ReadHostFile(HostD("target.bin")), "across drives");
}

TEST_F(FileUtilsTest, DirectoriesAndTemporaryNames) {
  EXPECT_TRUE(ForceDirectories("C:\\a\\b\\c\\"));
  EXPECT_TRUE(DirExists("C:\\a\\b\\c"));
  const auto temp = ZipTempFileName("C:\\a");
  ASSERT_TRUE(temp.has_value());
  EXPECT_EQ(ExtractFileName(*temp).rfind("ZTF", 0), 0u);
  EXPECT_TRUE(FileExists(*temp));
  const struct {
    const char* path;
    const char* drive;
    const char* dir;
    const char* name;
    const char* ext;
  } cases[] = {
      {"C:\\x\\y.txt", "C:", "C:\\x\\", "y.txt", ".txt"},
      {"\\\\srv\\share\\f", "\\\\srv\\share", "\\\\srv\\share\\", "f", ""},
      {"name.tar.gz", "", "", "name.tar.gz", ".gz"},
      {"C:\\dir.d\\file", "C:", "C:\\dir.d\\", "file", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFileDrive(c.path), c.drive) << c.path;
    EXPECT_EQ(ExtractFilePath(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
}

}  // namespace
}  // namespace zip
