// orvzip as a user runs it: each command's main path, its exit status and its
// messages on standard error, with host paths and Windows-form paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "zip/zip_test_util.h"

namespace {

using zip_test::Quote;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

class OrvzipTest : public ::testing::Test {
 protected:
  // Runs orvzip in the temporary directory; returns the exit status.
  int Orvzip(const std::string& args, const std::string& input = "") {
    const std::string command = "cd " + Quote(dir_.path()) + " && " +
                                (input.empty() ? "" : "printf " + Quote(input) + " | ") +
                                Quote(ORVZIP_PATH) + " " + args;
    return zip_test::RunCommand(command, &output_);
  }
  std::string Host(const std::string& rel) const { return dir_.path() + "/" + rel; }

  zip_test::TempDir dir_;
  std::string output_;
};

TEST_F(OrvzipTest, AddListTestExtract) {
  WriteHostFile(Host("src/a.txt"), zip_test::TextBytes(20000));
  WriteHostFile(Host("src/sub/b.bin"), zip_test::RandomBytes(3000, 4));
  ASSERT_EQ(Orvzip("add --recurse --relative-to src --level 9 a.zip src"), 0) << output_;
  EXPECT_NE(output_.find("added 2 file(s)"), std::string::npos) << output_;

  ASSERT_EQ(Orvzip("list --verbose a.zip"), 0) << output_;
  EXPECT_NE(output_.find("Deflate"), std::string::npos) << output_;
  EXPECT_NE(output_.find("sub\\b.bin"), std::string::npos) << output_;
  ASSERT_EQ(Orvzip("test a.zip"), 0) << output_;
  EXPECT_NE(output_.find("2 of 2 entries OK"), std::string::npos) << output_;

  // The destination in Windows form.
  const std::string dest = platform::ToWindowsPath(Host("out"));
  ASSERT_EQ(Orvzip("extract --recreate-dirs --dest " + Quote(dest) + " a.zip"), 0) << output_;
  EXPECT_EQ(ReadHostFile(Host("out/a.txt")), zip_test::TextBytes(20000));
  EXPECT_EQ(ReadHostFile(Host("out/sub/b.bin")), zip_test::RandomBytes(3000, 4));

  // Existing files: not replaced by default (exit 1), replaced when asked.
  EXPECT_EQ(Orvzip("extract --recreate-dirs --dest out a.zip 'sub/*'"), 1);
  EXPECT_NE(output_.find("skipped"), std::string::npos) << output_;
  EXPECT_EQ(Orvzip("extract --recreate-dirs --dest out --overwrite prompt a.zip 'sub/*'", "y\n"), 0)
      << output_;
  EXPECT_NE(output_.find("Replace existing file b.bin?"), std::string::npos) << output_;
}

TEST_F(OrvzipTest, ExitStatusAndMessages) {
  WriteHostFile(Host("f.txt"), "f");
  WriteHostFile(Host("junk.zip"), std::string(200, 'j'));
  const struct {
    const char* args;
    int status;
    const char* message;
  } cases[] = {
      {"", 2, "no command given"},
      {"frobnicate x.zip", 2, "unknown command"},
      {"add --level 12 a.zip f.txt", 2, "--level takes 0-9"},
      {"add --bogus a.zip f.txt", 2, "unknown option --bogus"},
      {"add a.zip", 2, "add needs an archive and files"},
      {"add a.zip f.txt missing.txt", 1, "no such file"},
      {"add b.zip 'nothing*.zz'", 1, "no files matched"},
      {"list missing.zip", 3, "Cannot open file"},
      {"list junk.zip", 3, "Not a valid zip file!"},
      {"test junk.zip", 3, "Not a valid zip file!"},
      {"extract junk.zip", 3, "Not a valid zip file!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Orvzip(c.args), c.status) << c.args << "\n" << output_;
    EXPECT_NE(output_.find(c.message), std::string::npos) << c.args << "\n" << output_;
  }
}

TEST_F(OrvzipTest, DamagedEntryAndPasswords) {
  WriteHostFile(Host("secret.txt"), "secret content here");
  ASSERT_EQ(Orvzip("add --level 0 --password pw s.zip secret.txt"), 0) << output_;
  EXPECT_EQ(Orvzip("test s.zip"), 1);
  EXPECT_NE(output_.find("wrong or missing password"), std::string::npos) << output_;
  EXPECT_EQ(Orvzip("test --password pw s.zip"), 0) << output_;

  ASSERT_EQ(Orvzip("add --level 0 d.zip secret.txt"), 0) << output_;
  std::string bytes = ReadHostFile(Host("d.zip"));
  bytes[bytes.find("secret content")] = 'S';
  WriteHostFile(Host("d.zip"), bytes);
  EXPECT_EQ(Orvzip("extract --dest out d.zip"), 1);
  EXPECT_NE(output_.find("bad data"), std::string::npos) << output_;
  EXPECT_FALSE(zip_test::HostExists(Host("out/secret.txt")));
}

}  // namespace
