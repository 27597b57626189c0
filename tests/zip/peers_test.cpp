// Interoperation with independent zip tools used as black boxes: archives we
// write pass the tests of Info-ZIP unzip, Python's zipfile and 7-Zip; archives
// they write extract here byte for byte with their times. A test whose tool is
// missing is skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <map>

#include "platform/dos_time.h"
#include "platform/file_ops.h"
#include "zip/unzip_reader.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace zip {
namespace {

using zip_test::HaveTool;
using zip_test::Quote;
using zip_test::ReadHostFile;
using zip_test::RunCommand;
using zip_test::WriteHostFile;

// The files of the interoperation archives: text, binary, random, empty,
// large, and names beyond ASCII.
std::map<std::string, std::string> SampleFiles() {
  std::string binary;
  for (int i = 0; i < 40000; ++i) binary += static_cast<char>((i * 7) % 251);
  return {
      {"text.txt", zip_test::TextBytes(30000)},
      {"binary.bin", binary},
      {"random.bin", zip_test::RandomBytes(50000, 3)},
      {"empty.txt", ""},
      {"large.txt", zip_test::TextBytes(3 * 1024 * 1024)},
      {"Ünïcødé ñame.txt", "name with Latin letters"},
      {"日本語の名前.txt", "name with CJK letters"},
  };
}

class PeersTest : public zip_test::ZipDrivesTest {
 protected:
  void WriteSources(const std::map<std::string, std::string>& files) {
    for (const auto& [name, content] : files) WriteHostFile(HostC("src/" + name), content);
  }
};

class OurArchivesTest : public PeersTest, public ::testing::WithParamInterface<int> {};

TEST_P(OurArchivesTest, PassPeerTests) {
  const auto files = SampleFiles();
  WriteSources(files);
  TOrvZip zipper;
  zipper.SetPackLevel(GetParam());
  zipper.SetZipName("D:\\ours.zip");
  zipper.FilesList = {"C:\\src\\*"};
  ASSERT_EQ(zipper.Zip(), static_cast<int>(files.size()));
  const std::string archive = HostD("ours.zip");
  std::string out;
  if (HaveTool("unzip")) {
    EXPECT_EQ(RunCommand("unzip -t " + Quote(archive), &out), 0) << out;
  }
  if (HaveTool("python3")) {
    // testzip() answers None when every CRC is right; the names come back as stored.
    const std::string script =
        "import sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print('\\n'.join(sorted(z.namelist())))\n";
    EXPECT_EQ(RunCommand("python3 -c " + Quote(script) + " " + Quote(archive), &out), 0) << out;
    for (const auto& [name, content] : files) {
      EXPECT_NE(out.find(name), std::string::npos) << name << " missing from " << out;
    }
  }
  if (HaveTool("7z")) {
    EXPECT_EQ(RunCommand("7z t " + Quote(archive), &out), 0) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, OurArchivesTest, ::testing::Values(0, 1, 6, 9));

// Extracts a peer-made archive with DoAll and RecreateDirs into D:\out and
// checks every file's bytes and time against the sources.
void ExpectExtractsExactly(const std::string& archiveWin, const std::string& outHost,
                           const std::map<std::string, std::string>& files,
                           const std::string& srcHost, int expectedCount) {
  TOrvUnZip reader;
  reader.SetZipName(archiveWin);
  reader.SetDestDir("D:\\out");
  reader.RecreateDirs = true;
  reader.DoAll = true;
  reader.OverwriteMode = TUZOverwriteMode::Always;
  std::vector<std::string> bad;
  reader.OnBadCRC = [&](std::uint32_t, std::uint32_t, int i) { bad.push_back(reader.FileName(i)); };
  EXPECT_EQ(reader.UnZip(), expectedCount);
  EXPECT_TRUE(bad.empty());
  for (const auto& [name, content] : files) {
    EXPECT_EQ(ReadHostFile(outHost + "/" + name), content) << name;
    struct stat source {};
    struct stat extracted {};
    ASSERT_EQ(::stat((srcHost + "/" + name).c_str(), &source), 0);
    ASSERT_EQ(::stat((outHost + "/" + name).c_str(), &extracted), 0) << name;
    // DOS times have a two-second resolution.
    EXPECT_LE(std::llabs(static_cast<long long>(source.st_mtime - extracted.st_mtime)), 2) << name;
  }
}

class InfoZipTest : public PeersTest, public ::testing::WithParamInterface<int> {};

TEST_P(InfoZipTest, ExtractsByteExactWithTimes) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  auto files = SampleFiles();
  files["sub/dir/nested.txt"] = "nested file";
  WriteSources(files);
  // Odd and even seconds: both must come back within the two-second grain.
  RunCommand("touch -d '2021-06-15 10:20:31' " + Quote(HostC("src/text.txt")));
  const int level = GetParam();
  for (const bool dirEntries : {true, false}) {
    const std::string archive = HostD(dirEntries ? "with-dirs.zip" : "no-dirs.zip");
    std::string out;
    ASSERT_EQ(RunCommand("cd " + Quote(HostC("src")) + " && zip -q -r -" + std::to_string(level) +
                             (dirEntries ? "" : " -D") + " " + Quote(archive) + " .",
                         &out),
              0)
        << out;
    // Entries: files plus, with directory entries, sub/ and sub/dir/.
    const int count = static_cast<int>(files.size()) + (dirEntries ? 2 : 0);
    ExpectExtractsExactly(dirEntries ? "D:\\with-dirs.zip" : "D:\\no-dirs.zip", HostD("out"), files,
                          HostC("src"), count);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, InfoZipTest, ::testing::Range(0, 10));

TEST_F(PeersTest, PythonStoredDeflatedAndDescriptors) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  const auto files = SampleFiles();
  WriteSources(files);
  // Written to a pipe-like stream, zipfile cannot seek back and puts each
  // entry's sizes in a data descriptor (flag bit 3).
  const std::string script =
      "import os,sys,zipfile\n"
      "src,dst,mode,stream=sys.argv[1],sys.argv[2],sys.argv[3],sys.argv[4]=='1'\n"
      "method=zipfile.ZIP_STORED if mode=='stored' else zipfile.ZIP_DEFLATED\n"
      "class Unseekable:\n"
      "  def __init__(s,f): s.f=f\n"
      "  def write(s,b): return s.f.write(b)\n"
      "  def flush(s): s.f.flush()\n"
      "  def tell(s): raise OSError('unseekable')\n"
      "  def seekable(s): return False\n"
      "f=open(dst,'wb')\n"
      "z=zipfile.ZipFile(Unseekable(f) if stream else f,'w',method)\n"
      "for n in sorted(os.listdir(src)):\n"
      "  z.write(os.path.join(src,n),n)\n"
      "z.close(); f.close()\n"
      "z=zipfile.ZipFile(dst)\n"
      "flags={i.flag_bits & 8 for i in z.infolist()}\n"
      "sys.exit(0 if flags=={8 if stream else 0} else 5)\n";
  for (const char* mode : {"stored", "deflated"}) {
    for (const char* stream : {"0", "1"}) {
      const std::string name = std::string(mode) + stream + ".zip";
      std::string out;
      ASSERT_EQ(RunCommand("python3 -c " + Quote(script) + " " + Quote(HostC("src")) + " " +
                               Quote(HostD(name)) + " " + mode + " " + stream,
                           &out),
                0)
          << out;
      ExpectExtractsExactly("D:\\" + name, HostD("out"), files, HostC("src"),
                            static_cast<int>(files.size()));
    }
  }
}

TEST_F(PeersTest, SevenZipArchives) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  auto files = SampleFiles();
  files["sub/nested.bin"] = zip_test::RandomBytes(1000, 9);
  WriteSources(files);
  for (const char* level : {"0", "5", "9"}) {
    const std::string name = std::string("seven") + level + ".zip";
    std::string out;
    ASSERT_EQ(RunCommand("cd " + Quote(HostC("src")) + " && 7z a -tzip -mx=" + level + " " +
                             Quote(HostD(name)) + " . >/dev/null",
                         &out),
              0)
        << out;
    // 7-Zip adds an entry for the directory sub/.
    ExpectExtractsExactly("D:\\" + name, HostD("out"), files, HostC("src"),
                          static_cast<int>(files.size()) + 1);
  }
}

}  // namespace
}  // namespace zip
