// Writer and reader together: new archives at each level give back the
// exact bytes, names, times and attributes; stored names follow the path
// settings; the header fields of a default entry are as documented.
#include <gtest/gtest.h>

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

class RoundTripTest : public zip_test::ZipDrivesTest {};

TEST_F(RoundTripTest, DefaultEntryOfOneFile) {
  WriteHostFile(HostC("dir/sub/file.txt"), zip_test::TextBytes(5000));
  platform::SetFileDosTime("C:\\dir\\sub\\file.txt", 0x58221883);  // 2024-01-02 03:04:06
  TOrvZip zipper;
  zipper.SetZipName("D:\\a.zip");
  zipper.FilesList = {"C:\\dir\\sub\\file.txt"};
  EXPECT_EQ(zipper.Zip(), 1);
  EXPECT_TRUE(zipper.FilesList.empty());
  ASSERT_EQ(zipper.Count(), 1);
  const TZipHeaderInfo& h = zipper.Entry(0);
  EXPECT_EQ(h.FullName(), "file.txt");
  EXPECT_EQ(h.VersionMadeBy, 20);
  EXPECT_EQ(h.Flag, 0);
  EXPECT_EQ(h.CompressionMethod, kMethodDeflated);
  EXPECT_EQ(h.LastModFileDate, 0x58221883u);
  EXPECT_EQ(h.UncompressedSize, 5000);

  TOrvUnZip reader;
  reader.SetZipName("D:\\a.zip");
  reader.SetDestDir("D:\\out");
  reader.FilesList = {"*.*"};
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_EQ(ReadHostFile(HostD("out/file.txt")), zip_test::TextBytes(5000));
  std::uint32_t time = 0;
  ASSERT_TRUE(platform::GetFileDosTime("D:\\out\\file.txt", time));
  EXPECT_EQ(time, 0x58221883u);
}

}  // namespace
}  // namespace zip

namespace zip {
namespace {

// Every content kind at every level comes back byte for byte, with its name.
class LevelRoundTripTest : public zip_test::ZipDrivesTest,
                           public ::testing::WithParamInterface<int> {};

TEST_P(LevelRoundTripTest, ContentsNamesAndFlags) {
  const int level = GetParam();
  const struct {
    const char* name;
    std::string content;
  } files[] = {
      {"text.txt", zip_test::TextBytes(70000)},
      {"random.bin", zip_test::RandomBytes(200000, 1)},
      {"empty.dat", ""},
      {"zeros.bin", std::string(100000, '\0')},
      {"Grüße – 备份.txt", "non-ASCII name"},
  };
  TOrvZip zipper;
  zipper.SetPackLevel(level);
  zipper.SetZipName("D:\\levels.zip");
  for (const auto& f : files) {
    WriteHostFile(HostC(std::string("src/") + f.name), f.content);
    zipper.FilesList.push_back(std::string("C:\\src\\") + f.name);
  }
  ASSERT_EQ(zipper.Zip(), 5);
  for (int i = 0; i < zipper.Count(); ++i) {
    const TZipHeaderInfo& h = zipper.Entry(i);
    const bool ascii = h.FileName().find("Gr") != 0;
    const std::uint16_t levelBits = level == 1 ? 4 : (level >= 8 ? 2 : 0);
    // An empty file and level 0 store; otherwise the level's flag bits.
    const std::uint16_t expected =
        static_cast<std::uint16_t>((level == 0 ? 0 : levelBits) | (ascii ? 0 : kFlagUtf8Name));
    EXPECT_EQ(h.Flag, expected) << h.FileName();
  }

  TOrvUnZip reader;
  reader.SetZipName("D:\\levels.zip");
  reader.SetDestDir("D:\\out");
  reader.DoAll = true;
  EXPECT_EQ(reader.UnZip(), 5);
  for (const auto& f : files) {
    EXPECT_EQ(ReadHostFile(HostD(std::string("out/") + f.name)), f.content) << f.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, LevelRoundTripTest, ::testing::Values(0, 1, 6, 9));

}  // namespace
}  // namespace zip
