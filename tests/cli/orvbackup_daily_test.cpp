// orvbackup's everyday commands on real backup files made by its own runs:
// list (compressed, raw and content-less rows, patterns, JSON read back by
// Python), verify (a flipped byte in a compressed BLOB, a truncated BLOB
// file, a damaged index), selective and dry-run restores, excludes, the SQL
// shell, the repair, and the exit status of each, also for a backup file that
// another program holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/components/zorvad_dbdataset.h"
#include "zip/zip_test_util.h"

namespace {

using zip_test::Quote;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

namespace fs = std::filesystem;

const std::string kBin = zip_test::RandomBytes(30000, 7);
const std::string kText = zip_test::TextBytes(5000);

class OrvbackupDailyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteHostFile(Host("src/a.txt"), kText);
    WriteHostFile(Host("src/sub/b.bin"), kBin);
    WriteHostFile(Host("src/sub/deep/c.txt"), "c");
    WriteHostFile(Host("src/cache/x.dat"), "cached");
    WriteHostFile(Host("src/keep.tmp"), "tmp");
    fs::create_directories(Host("z"));
    fs::create_directories(Host("r"));
  }
  int Shell(const std::string& script) {
    return zip_test::RunCommand("cd " + Quote(dir_.path()) + " || exit 9; export TZ=UTC B=" +
                                    Quote(ORVBACKUP_PATH) + "; " + script,
                                &output_);
  }
  int Orvbackup(const std::string& args) { return Shell("\"$B\" " + args + " </dev/null"); }
  std::string Host(const std::string& rel) const { return dir_.path() + "/" + rel; }
  bool Says(const std::string& text) const { return output_.find(text) != std::string::npos; }
  // The Windows form of a path below the temporary directory, as rows record it.
  std::string Recorded(const std::string& rel) const {
    std::string path = "Z:" + dir_.path() + "/" + rel;
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
  void Compressed() { ASSERT_EQ(Orvbackup("backup src --to-dir z --compress"), 0) << output_; }
  void Raw() { ASSERT_EQ(Orvbackup("backup src --to-dir r"), 0) << output_; }
  // Flips one byte of `file` at `offset` (from the end when negative).
  void Flip(const std::string& file, long offset) {
    std::string bytes = ReadHostFile(Host(file));
    const std::size_t at = offset >= 0 ? static_cast<std::size_t>(offset)
                                       : bytes.size() - static_cast<std::size_t>(-offset);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    WriteHostFile(Host(file), bytes);
  }

  zip_test::TempDir dir_;
  std::string output_;
};

TEST_F(OrvbackupDailyTest, ListShowsCompressedRawAndContentlessRows) {
  Compressed();
  Raw();
  ASSERT_EQ(Orvbackup("list z/Back.dat"), 0) << output_;
  EXPECT_TRUE(Says("  zip         30000  " + Recorded("src/sub/b.bin") + "\n")) << output_;
  EXPECT_TRUE(Says("  zip          5000  " + Recorded("src/a.txt") + "\n")) << output_;
  ASSERT_EQ(Orvbackup("list r/Back.dat --long 'sub/*'"), 0) << output_;
  EXPECT_TRUE(Says("  raw         30000         30000  ")) << output_;
  EXPECT_TRUE(Says(Recorded("src/sub/deep/c.txt"))) << output_;
  EXPECT_FALSE(Says("a.txt")) << output_;

  // A dated file records the unchanged files by rows without content.
  ASSERT_EQ(Orvbackup("backup src --into r/Back.dat --changed-to-new-file"), 0) << output_;
  const auto dated = [&] {
    for (const auto& e : fs::directory_iterator(Host("r")))
      if (e.path().filename().string().size() > 8 && e.path().extension() == ".dat")
        return e.path().filename().string();
    return std::string();
  }();
  ASSERT_FALSE(dated.empty());
  ASSERT_EQ(Orvbackup("list --long r/" + dated + " a.txt"), 0) << output_;
  EXPECT_TRUE(Says("  raw     unchanged             -         -  " + Recorded("src/a.txt")))
      << output_;

  // Time, kind, size and CRC as JSON, read back by an independent parser.
  if (!zip_test::HaveTool("python3")) GTEST_SKIP() << "python3 is missing";
  ASSERT_EQ(Shell("\"$B\" list --json --long z/Back.dat | python3 -c '"
                  "import json,sys,zlib\n"
                  "rows = json.load(sys.stdin)\n"
                  "for r in sorted(rows, key=lambda r: r[\"name\"]):\n"
                  "  print(r[\"name\"], r[\"size\"], r[\"kind\"], r[\"unchanged\"], "
                  "r[\"crc\"], r[\"time\"][:2], r[\"path\"][:3])'"),
            0)
      << output_;
  EXPECT_TRUE(Says("b.bin 30000 zip False ")) << output_;
  EXPECT_TRUE(Says("a.txt 5000 zip False ")) << output_;
  EXPECT_TRUE(Says("x.dat 6 zip False ")) << output_;
  EXPECT_TRUE(Says(" 20 Z:\\")) << output_;
  ASSERT_EQ(
      Shell("\"$B\" list --json r/" + dated +
            " | python3 -c 'import json,sys; "
            "print(sorted({(r[\"unchanged\"], r[\"size\"]) for r in json.load(sys.stdin)}))'"),
      0);
  EXPECT_TRUE(Says("[(True, None)]")) << output_;
}

TEST_F(OrvbackupDailyTest, VerifyFindsDamage) {
  Compressed();
  Raw();
  ASSERT_EQ(Orvbackup("verify z/Back.dat"), 0) << output_;
  EXPECT_TRUE(Says("5 rows, 35010 bytes, 0 problems")) << output_;
  ASSERT_EQ(Orvbackup("verify r/Back.dat --json"), 0) << output_;
  EXPECT_TRUE(Says("\"rows\": 5, \"bytes\": 35010, \"problems\": []")) << output_;

  struct Case {
    const char* name;
    std::function<void()> damage;
    const char* says;
  };
  const Case cases[] = {
      {"a flipped byte inside the compressed data of b.bin",
       [&] {
         // Random bytes stay stored inside the deflate stream: the byte in the
         // middle of the entry's data is file content.
         const std::string blb = ReadHostFile(Host("z/Back.BLB"));
         const std::string local("PK\3\4");
         std::size_t entry = std::string::npos;
         for (std::size_t at = blb.find(local); at != std::string::npos;
              at = blb.find(local, at + 1))
           if (blb.compare(at + 30, 5, "b.bin") == 0) entry = at;
         ASSERT_NE(entry, std::string::npos);
         Flip("z/Back.BLB", static_cast<long>(entry + 30 + 5 + 15000));
       },
       "b.bin: the entry's"},
      {"a BLOB file cut in half",
       [&] { fs::resize_file(Host("z/Back.BLB"), fs::file_size(Host("z/Back.BLB")) / 2); },
       "problem: "},
      {"a damaged primary index page",
       [&] {
         for (long at = 4096; at < 4096 + 16; ++at) Flip("z/Back.IDX", at);
       },
       "Back.IDX"},
  };
  fs::copy(Host("z"), Host("pristine"));
  for (const Case& c : cases) {
    fs::remove_all(Host("z"));
    fs::copy(Host("pristine"), Host("z"));
    c.damage();
    EXPECT_EQ(Orvbackup("verify z/Back.dat"), 1) << c.name << "\n" << output_;
    EXPECT_TRUE(Says(c.says)) << c.name << "\n" << output_;
    EXPECT_FALSE(Says(" 0 problems")) << c.name << "\n" << output_;
  }
}

TEST_F(OrvbackupDailyTest, SelectiveRestore) {
  Compressed();
  Raw();
  struct Case {
    std::string set;
    std::string only;
    std::vector<std::string> written;
  };
  const std::vector<std::string> none;
  const Case cases[] = {
      {"z", "--only a.txt", {"src/a.txt"}},
      {"r", "--only a.txt", {"src/a.txt"}},
      {"z", "--only 'src/sub'", {"src/sub/b.bin", "src/sub/deep/c.txt"}},
      {"r", "--only '" + Recorded("src/sub") + "\\*'", {"src/sub/b.bin", "src/sub/deep/c.txt"}},
      // A name pattern also picks the directories it names: C* is c.txt and cache.
      {"r",
       "--only '*.tmp' --only 'C*'",
       {"src/keep.tmp", "src/sub/deep/c.txt", "src/cache/x.dat"}},
      {"z", "--only '*.nothing'", none},
  };
  for (const Case& c : cases) {
    fs::remove_all(Host("out"));
    ASSERT_EQ(Orvbackup("restore " + c.set + "/Back.dat --to out " + c.only), 0) << c.only << "\n"
                                                                                 << output_;
    EXPECT_TRUE(Says("共: " + std::to_string(c.written.size()) + "筆")) << c.only << output_;
    std::vector<std::string> found;
    if (fs::exists(Host("out")))
      for (const auto& e : fs::recursive_directory_iterator(Host("out")))
        if (e.is_regular_file()) found.push_back(e.path().string());
    EXPECT_EQ(found.size(), c.written.size()) << c.only;
    for (const std::string& w : c.written)
      EXPECT_EQ(ReadHostFile(Host("out") + dir_.path() + "/" + w), ReadHostFile(Host(w)))
          << c.only << " " << w;
  }

  // A dry run names the targets and writes nothing.
  fs::remove_all(Host("out"));
  ASSERT_EQ(Orvbackup("restore z/Back.dat --to out --dry-run --only b.bin"), 0) << output_;
  EXPECT_TRUE(Says("would write Z:" + std::string()));
  EXPECT_TRUE(Says("\\src\\sub\\b.bin\n")) << output_;
  EXPECT_FALSE(fs::exists(Host("out/" + dir_.path() + "/src/sub/b.bin")));
}

TEST_F(OrvbackupDailyTest, KeepGoingReportsEveryFailingRow) {
  Raw();
  // Two targets blocked by directories of the same name.
  fs::create_directories(Host("out") + dir_.path() + "/src/a.txt");
  fs::create_directories(Host("out") + dir_.path() + "/src/keep.tmp");
  EXPECT_EQ(Orvbackup("restore r/Back.dat --to out"), 1) << output_;
  ASSERT_EQ(Orvbackup("restore r/Back.dat --to out --keep-going"), 1) << output_;
  EXPECT_TRUE(Says("failed: " + Recorded("src/a.txt"))) << output_;
  EXPECT_TRUE(Says("failed: " + Recorded("src/keep.tmp"))) << output_;
  EXPECT_TRUE(Says("2 rows failed")) << output_;
  EXPECT_EQ(ReadHostFile(Host("out") + dir_.path() + "/src/sub/b.bin"), kBin);
}

TEST_F(OrvbackupDailyTest, ExcludesLeaveOutDirectoriesAndFilePatterns) {
  ASSERT_EQ(Orvbackup("backup src --to-dir r --exclude cache --exclude '*.TMP' --dry-run"), 0)
      << output_;
  EXPECT_TRUE(Says("new        " + Recorded("src/a.txt") + "\n")) << output_;
  EXPECT_TRUE(Says("3 rows would be written")) << output_;
  EXPECT_FALSE(fs::exists(Host("r/Back.dat")));

  ASSERT_EQ(Orvbackup("backup src --to-dir r --exclude cache --exclude '*.TMP'"), 0) << output_;
  ASSERT_EQ(Orvbackup("list r/Back.dat"), 0) << output_;
  EXPECT_TRUE(Says("a.txt") && Says("b.bin") && Says("c.txt")) << output_;
  EXPECT_FALSE(Says("x.dat")) << output_;
  EXPECT_FALSE(Says("keep.tmp")) << output_;

  // An incremental dry run names new files only; a path pattern excludes one directory.
  WriteHostFile(Host("src/new.txt"), "new");
  ASSERT_EQ(Orvbackup("backup src --into r/Back.dat --exclude 'src/sub' --dry-run"), 0) << output_;
  EXPECT_TRUE(Says("new        " + Recorded("src/new.txt"))) << output_;
  EXPECT_TRUE(Says("new        " + Recorded("src/cache/x.dat"))) << output_;
  EXPECT_TRUE(Says("3 rows would be written")) << output_;
}

TEST_F(OrvbackupDailyTest, ExitStatusOfEachCommand) {
  Raw();
  struct Case {
    std::string args;
    int status;
  };
  const Case cases[] = {
      {"--version", 0},
      {"list --help", 0},
      {"list", 2},
      {"verify r/Back.dat extra", 2},
      {"list r/Back.dat --only x", 2},
      {"restore r/Back.dat --long", 2},
      {"backup src --to-dir r --keep-going", 2},
      {"list missing.dat", 3},
      {"verify missing.dat", 3},
      {"restore missing.dat", 3},
      {"backup src --into missing.dat", 3},
      {"backup src --into missing.dat --dry-run", 3},
      {"sql missing.dat 'select * from Back'", 3},
      {"repair missing.dat", 3},
      {"list notatable.dat", 3},
      {"sql r/Back.dat 'select FileName from Back where FileName = \"a.txt\";'", 0},
      {"sql r/Back.dat 'select * from NoSuchTable;'", 1},
      {"repair r/Back.dat", 0},
  };
  WriteHostFile(Host("notatable.dat"), "not a table");
  for (const Case& c : cases) EXPECT_EQ(Orvbackup(c.args), c.status) << c.args << "\n" << output_;
  ASSERT_EQ(Orvbackup("--version"), 0);
  EXPECT_TRUE(Says("orvbackup ")) << output_;
  ASSERT_EQ(Orvbackup("sql r/Back.dat 'select FileName from Back where FileName = \"a.txt\";'"), 0);
  EXPECT_EQ(output_, "FileName\na.txt\n");
  ASSERT_EQ(Shell("printf 'select count(*) from Back;\\n' | \"$B\" sql r/Back.dat"), 0);
  EXPECT_TRUE(Says("5\n")) << output_;

  // A damaged index page cannot be opened; the repair rebuilds the index.
  for (long at = 4096; at < 4096 + 16; ++at) Flip("r/Back.IDX", at);
  EXPECT_EQ(Orvbackup("list r/Back.dat"), 3) << output_;
  EXPECT_EQ(Orvbackup("restore r/Back.dat --to out"), 3) << output_;
  EXPECT_EQ(Orvbackup("repair r/Back.dat"), 1) << output_;
  EXPECT_TRUE(Says("repaired")) << output_;
  EXPECT_EQ(Orvbackup("verify r/Back.dat"), 0) << output_;
}

TEST_F(OrvbackupDailyTest, ABackupFileHeldByAnotherProgramCannotBeOpened) {
  Raw();
  // This test's process is the other program: it holds the table open
  // exclusively, as a program that rebuilds or empties it does.
  engine::TZORVADTable held;
  held.SetDatabaseName(Recorded("r") + "\\");
  held.SetTableName("Back.dat");
  held.Exclusive = true;
  held.Open();
  for (const char* command :
       {"list r/Back.dat", "verify r/Back.dat", "restore r/Back.dat --to out"}) {
    // Standard error alone: the engine's reason after the program's own words.
    EXPECT_EQ(Shell("{ \"$B\" " + std::string(command) + " </dev/null 2>&1 >/dev/null; }"), 3)
        << command << "\n"
        << output_;
    EXPECT_TRUE(Says("orvbackup: the backup file cannot be opened: ")) << command << "\n"
                                                                       << output_;
    EXPECT_TRUE(Says("Engine Error # 11013 Access denied to table")) << command << "\n" << output_;
  }
  EXPECT_FALSE(fs::exists(Host("out")));
  held.Close();
  EXPECT_EQ(Orvbackup("verify r/Back.dat"), 0) << output_;
}

}  // namespace
