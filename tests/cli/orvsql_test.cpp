// orvsql as a user runs it: scripts from a file and from standard input,
// the printed forms of every type, messages and exit status.
#include <gtest/gtest.h>

#include <string>

#include "zip/zip_test_util.h"

namespace {

using zip_test::Quote;
using zip_test::ReadHostFile;
using zip_test::WriteHostFile;

class OrvsqlTest : public ::testing::Test {
 protected:
  // Runs orvsql in the temporary directory with `script` on standard input;
  // fills out_ and err_ and returns the exit status.
  int Orvsql(const std::string& args, const std::string& script) {
    WriteHostFile(Host("script.sql"), script);
    const std::string command = "cd " + Quote(dir_.path()) + " && ( " + Quote(ORVSQL_PATH) + " " +
                                args + " < script.sql > out.txt 2> err.txt )";
    const int status = zip_test::RunCommand(command);
    out_ = ReadHostFile(Host("out.txt"));
    err_ = ReadHostFile(Host("err.txt"));
    return status;
  }
  std::string Host(const std::string& rel) const { return dir_.path() + "/" + rel; }

  zip_test::TempDir dir_;
  std::string out_, err_;
};

constexpr const char* kCreate =
    "CREATE TABLE t (a INTEGER, b CHAR(10), c FLOAT, d DATE, e BOOLEAN, f DECIMAL(10,2),\n"
    "  g TIMESTAMP, h TIME, i BYTES(2), j BLOB(0,2), PRIMARY KEY (a));\n";

TEST_F(OrvsqlTest, PrintsEveryType) {
  ASSERT_EQ(Orvsql("", std::string(kCreate) +
                           "INSERT INTO t (a, b, c, d, e, f, g, h) VALUES (1, 'x\ty\\z', 0.1,\n"
                           "  '2024-02-28', TRUE, -2.5, '2024-02-28 12:00:01', '13:14:15');\n"
                           "INSERT INTO t (a, e, c) VALUES (2, FALSE, 1e300);\n"
                           "SELECT * FROM t ORDER BY a;\n"),
            0)
      << err_;
  EXPECT_EQ(out_,
            "OK\n1 rows affected\n1 rows affected\n"
            "a\tb\tc\td\te\tf\tg\th\ti\tj\n"
            "1\tx\\ty\\\\z\t0.1\t2024-02-28\tTRUE\t-2.50\t2024-02-28 12:00:01.000\t13:14:15.000\t"
            "\\N\t\\N\n"
            "2\t\\N\t1e+300\t\\N\tFALSE\t\\N\t\\N\t\\N\t\\N\t\\N\n");
  EXPECT_EQ(err_, "");
}

TEST_F(OrvsqlTest, StatementsSpanLinesAndEndOnlyOutsideQuotesAndComments) {
  ASSERT_EQ(Orvsql("", std::string(kCreate) +
                           "INSERT INTO t (a, b)\n  VALUES (1, 'a;\nb');\n"
                           "/* a comment; */ INSERT INTO t (a, b) VALUES (2, 'it''s;');\n"
                           "SELECT a, b\nFROM t /* ; */\nWHERE a > 0;\n"),
            0)
      << err_;
  EXPECT_EQ(out_, "OK\n1 rows affected\n1 rows affected\na\tb\n1\ta;\\nb\n2\tit's;\n");
}

TEST_F(OrvsqlTest, ErrorsGoOnUnlessBail) {
  const std::string script = std::string(kCreate) +
                             "SELECT a b c FROM t;\n"
                             "INSERT INTO t (a) VALUES (1);\n";
  EXPECT_EQ(Orvsql("", script), 1);
  EXPECT_EQ(out_, "OK\n1 rows affected\n");
  EXPECT_EQ(err_, "error 11949: SQL error - FROM keyword expected, instead found 'c'\n");
  EXPECT_EQ(Orvsql("--bail", "DROP TABLE t;\n" + script), 1);
  EXPECT_EQ(out_, "OK\nOK\n");
}

TEST_F(OrvsqlTest, DirectoryAndPaths) {
  ASSERT_EQ(zip_test::RunCommand("mkdir -p " + Quote(Host("db"))), 0);
  ASSERT_EQ(Orvsql("--dir db", std::string(kCreate) + "INSERT INTO t (a) VALUES (7);\n"), 0)
      << err_;
  EXPECT_EQ(Orvsql("", "SELECT a FROM 'db/t';\nSELECT a FROM '" + Host("db/t") + "';\n"), 0)
      << err_;
  EXPECT_EQ(out_, "a\n7\na\n7\n");
}

TEST_F(OrvsqlTest, UsageAndHelp) {
  EXPECT_EQ(Orvsql("--help", ""), 0);
  EXPECT_NE(out_.find("usage: orvsql [--dir DIR] [--bail] [FILE]"), std::string::npos);
  EXPECT_EQ(Orvsql("--frobnicate", ""), 2);
  EXPECT_NE(err_.find("usage:"), std::string::npos);
  EXPECT_EQ(Orvsql("missing.sql", ""), 2);
  WriteHostFile(Host("f.sql"), std::string(kCreate) + "SELECT COUNT(*) FROM t");
  EXPECT_EQ(Orvsql("f.sql", ""), 0) << err_;
  EXPECT_EQ(out_, "OK\nCount Of *\n0\n");
}

TEST_F(OrvsqlTest, NamedParametersFromTextAndFiles) {
  std::string blob;
  for (int i = 0; i < 300; ++i) blob += static_cast<char>(i % 256);
  WriteHostFile(Host("blob.bin"), blob);
  std::string hex = "\\x";
  for (unsigned char ch : blob) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[ch >> 4];
    hex += kDigits[ch & 15];
  }
  // Texts convert to the columns' types they are stored in (elsewhere they
  // are strings); names match ignoring case; ':' inside quotes is no name.
  ASSERT_EQ(
      Orvsql("--param a=5 --param 'B=it'\\''s' --param when=2024-02-28 --param-file J=blob.bin",
             std::string(kCreate) +
                 "INSERT INTO t (a, b, d, j) VALUES (:A, :b, :when, :j);\n"
                 "INSERT INTO t (a, b) VALUES (6, 'x:y');\n"
                 "SELECT a, b, d, j FROM t WHERE b = :b OR b = 'x:y' ORDER BY a;\n"),
      0)
      << err_;
  EXPECT_EQ(out_, "OK\n1 rows affected\n1 rows affected\na\tb\td\tj\n5\tit's\t2024-02-28\t" + hex +
                      "\n6\tx:y\t\\N\t\\N\n");
  EXPECT_EQ(err_, "");

  // A parameter without a value fails its statement; the shell goes on.
  EXPECT_EQ(Orvsql("", "INSERT INTO t (a) VALUES (:missing);\nSELECT COUNT(*) FROM t;\n"), 1);
  EXPECT_EQ(err_, "error 0: No value for parameter 'missing'\n");
  EXPECT_EQ(out_, "Count Of *\n2\n");

  // Bad options are usage errors.
  for (const char* args : {"--param", "--param novalue", "--param =1", "--param-file x"}) {
    EXPECT_EQ(Orvsql(args, ""), 2) << args;
    EXPECT_NE(err_.find("usage:"), std::string::npos) << args;
  }
  // A file that cannot be read fails the statement that needs it.
  EXPECT_EQ(Orvsql("--param-file j=nosuch.bin", "UPDATE t SET j = :j;\n"), 1);
  EXPECT_NE(err_.find("error 0: "), std::string::npos) << err_;
}

}  // namespace
