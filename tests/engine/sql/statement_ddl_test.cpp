// The data definition grammars: CREATE TABLE with every data type, column
// attribute, primary key clause and table option; CREATE INDEX; ALTER TABLE
// with its actions and options; DROP TABLE and DROP INDEX; every message
// word for word.
#include <gtest/gtest.h>

#include "engine/sql/statement_test_util.h"

namespace {

using namespace engine;
using statement_test::ErrorCase;
using statement_test::ExpectErrors;
using statement_test::Parse;

// One column definition in one line:
//   #no name<-previous type/subtype/size/scale [desc=] [notnull] [default=]
//   [min=] [max=] [case=] [at=] [add|redefine|drop]
std::string DescribeField(const TCreateField& f) {
  std::string out = "#" + std::to_string(f.fieldNo) + " " + f.name;
  if (!f.previousName.empty()) out += "<-" + f.previousName;
  if (f.dataTypeGiven) {
    out += " " + std::to_string(f.dataType) + "/" + std::to_string(f.subType) + "/" +
           std::to_string(f.size) + "/" + std::to_string(f.scale);
  }
  if (f.descriptionGiven) out += " desc=" + f.description;
  if (f.requiredGiven) out += " notnull";
  if (f.defaultGiven) out += " default=" + f.defaultValue;
  if (f.minimumGiven) out += " min=" + f.minimum;
  if (f.maximumGiven) out += " max=" + f.maximum;
  if (f.charCaseGiven) out += " case=" + std::to_string(f.charCase);
  if (f.atGiven) out += " at=" + std::to_string(f.atPosition);
  if (f.add) out += " add";
  if (f.redefine) out += " redefine";
  if (f.drop) out += " drop";
  return out;
}

// One index definition: name(columns) and its flags.
std::string DescribeIndex(const TCreateIndex& i) {
  std::string out = i.primaryKey ? "PK" : i.name;
  out += "(";
  for (std::size_t c = 0; c < i.columns.size(); ++c) out += (c ? "," : "") + i.columns[c];
  out += ")";
  if (!i.constraintName.empty()) out += " constraint=" + i.constraintName;
  if (i.unique) out += " unique";
  if (i.descending == kOrderDescending) out += " desc";
  if (i.caseInsensitive) out += " nocase";
  if (i.compression != kIndexCompressNone) out += " compress=" + std::to_string(i.compression);
  if (i.add) out += " add";
  if (i.redefine) out += " redefine";
  if (i.drop) out += " drop";
  return out;
}

std::string DescribeDefinitions(const TDataQuery& q) {
  std::string out = std::to_string(q.statementKind) + " " + (q.inMemoryResult ? "MEMORY " : "") +
                    q.resultTableName;
  if (!q.indexName.empty()) out += " index=" + q.indexName;
  for (const TCreateField& f : q.createFields) out += "; " + DescribeField(f);
  for (const TCreateIndex& i : q.createIndexes) out += "; " + DescribeIndex(i);
  return out;
}

TEST(StatementDdl, CatalogCreateTableAsTheCatalogBuildsIt) {
  const std::string path = "C:\\Backup\\Back";
  const std::string text =
      "CREATE TABLE \"" + path + ".dat\" " + " (                    " + "  FileName CHAR(250), " +
      "  FileTime integer,  " + "  isZip Char(1),    " + "  Path Char(250),    " +
      "  File BLOB(0,2),    " + "  PRIMARY KEY (FileName,FileTime,Path) " + " ) ";
  auto statement = Parse(text);
  const TDataQuery& q = statement->MainQuery();
  EXPECT_EQ(DescribeDefinitions(q),
            "5 C:\\Backup\\Back.dat; #1 FileName 1/0/250/0; #2 FileTime 6/0/0/0; "
            "#3 isZip 1/0/1/0; #4 Path 1/0/250/0; #5 File 3/23/0/0; "
            "PK(FileName,FileTime,Path)");
  EXPECT_EQ(q.blobBlockSize, 512);
  EXPECT_EQ(q.userMajorVersion, 1);
  EXPECT_EQ(q.userMinorVersion, 0);
  EXPECT_FALSE(q.languageGiven);
  EXPECT_FALSE(q.encrypted);
}

TEST(StatementDdl, Shapes) {
  struct Case {
    const char* text;
    const char* shape;
  } cases[] = {
      {"CREATE TABLE t (a SMALLINT, b WORD, c INTEGER, d INT, e AUTOINC, f DECIMAL(10,2), "
       "g NUMERIC(5), h FLOAT, i MONEY, j CHARACTER(3), k VARCHAR(250), l DATE, m TIME, "
       "n TIMESTAMP, o BOOLEAN, p BYTES, q BYTES(7), r BLOB(0,1), s BLOB(0,3), u BLOB(0,5), "
       "v BLOB(0,7), w DECIMAL, x float(8,3))",
       "5 t; #1 a 5/0/0/0; #2 b 12/0/0/0; #3 c 6/0/0/0; #4 d 6/0/0/0; #5 e 6/29/0/0; "
       "#6 f 8/0/0/2; #7 g 7/0/0/0; #8 h 7/0/0/0; #9 i 7/21/0/0; #10 j 1/0/3/0; "
       "#11 k 1/0/250/0; #12 l 2/0/0/0; #13 m 10/0/0/0; #14 n 11/0/0/0; #15 o 4/0/0/0; "
       "#16 p 9/0/10/0; #17 q 9/0/7/0; #18 r 3/22/0/0; #19 s 3/24/0/0; #20 u 3/26/0/0; "
       "#21 v 3/28/0/0; #22 w 8/0/0/0; #23 x 7/0/0/0"},
      {"CREATE TABLE MEMORY 'm.dat' (a CHAR(10) DESCRIPTION 'first' NOT NULL DEFAULT 'x' "
       "MIN 'a' MAXIMUM 'z' CHARCASE UPPER, b INTEGER DEFAULT 0 MINIMUM -5 MAX +7, "
       "c CHAR(1) CHARCASE LOWER, d CHAR(1) CHARCASE NOCHANGE, "
       "CONSTRAINT pk UNIQUE DESC NOCASE PRIMARY KEY (a, 'b') COMPRESS FULL)",
       "5 MEMORY m.dat; #1 a 1/0/10/0 desc=first notnull default=x min=a max=z case=2; "
       "#2 b 6/0/0/0 default=0 min=-5 max=+7; #3 c 1/0/1/0 case=1; #4 d 1/0/1/0 case=0; "
       "PK(a,b) constraint=pk unique desc nocase compress=3"},
      // Attributes are read only when the type is not directly followed by ','.
      {"CREATE TABLE t (a INTEGER, b CHAR(2) NOT NULL)", "5 t; #1 a 6/0/0/0; #2 b 1/0/2/0 notnull"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a)) ; anything ' at all",
       "5 t; #1 a 6/0/0/0; PK(a)"},
      {"CREATE TABLE t ([a b] INTEGER ASCENDING PRIMARY KEY ([a b]) COMPRESS NONE)",
       "5 t; #1 a b 6/0/0/0; PK(a b)"},
      {"CREATE INDEX i ON t (a, b)", "8 t; i(a,b) add"},
      {"CREATE UNIQUE DESC NOCASE INDEX 'i2' ON MEMORY 'C:\\x\\t.dat' ([a], 'b') COMPRESS DUPBYTE",
       "8 MEMORY C:\\x\\t.dat; i2(a,b) unique desc nocase compress=1 add"},
      {"CREATE ASCENDING INDEX i ON t (a) COMPRESS TRAILBYTE", "8 t; i(a) compress=2 add"},
      {"CREATE DESCENDING INDEX i ON t (a)", "8 t; i(a) desc add"},
      {"create nocase index i on t (a)", "8 t; i(a) nocase add"},
      {"ALTER TABLE t ADD c CHAR(5) AT 2 NOT NULL, ADD COLUMN d INTEGER, "
       "REDEFINE a b CHAR(20) AT 1 DESCRIPTION 'x', REDEFINE COLUMN e FLOAT, REDEFINE f g, "
       "REDEFINE h DEFAULT 1, REDEFINE k INTEGER l, DROP i, DROP COLUMN j",
       "6 t; #0 c 1/0/5/0 notnull at=2 add; #0 d 6/0/0/0 add; "
       "#0 b<-a 1/0/20/0 desc=x at=1 redefine; #0 e 7/0/0/0 redefine; #0 g<-f redefine; "
       "#0 h default=1 redefine; #0 l<-k redefine; #0 i drop; #0 j drop"},
      {"ALTER TABLE t DROP CONSTRAINT pk PRIMARY KEY, ADD PRIMARY KEY (a), "
       "REDEFINE UNIQUE PRIMARY KEY (b), DROP PRIMARY KEY",
       "6 t; PK() constraint=pk drop; PK(a) add; PK(b) unique redefine; PK() drop"},
      // A table option after a REDEFINE is not read as a new column name.
      {"ALTER TABLE t REDEFINE a INTEGER NOBACKUP", "6 t; #0 a 6/0/0/0 redefine"},
      {"ALTER TABLE t REDEFINE a DESCRIPTION 'd' USER MAJOR VERSION 2",
       "6 t; #0 a desc=d redefine"},
      {"ALTER TABLE t", "6 t"},
      {"ALTER TABLE MEMORY m DROP a, DESCRIPTION 'x'", "6 MEMORY m; #0 a drop"},
      {"DROP TABLE t", "7 t"},
      {"DROP TABLE MEMORY 'C:\\x\\t.dat'", "7 MEMORY C:\\x\\t.dat"},
      {"drop table 'C:\\x\\t.dat';", "7 C:\\x\\t.dat"},
      {"DROP INDEX t.i", "9 t index=i"},
      // The table part keeps its path.
      {"DROP INDEX 'C:\\x\\t.dat'.[my index]", "9 C:\\x\\t.dat index=my index"},
      {"DROP INDEX MEMORY m.PRIMARY", "9 MEMORY m index=PRIMARY"},
  };
  for (const Case& c : cases) {
    auto statement = Parse(c.text);
    EXPECT_EQ(DescribeDefinitions(statement->MainQuery()), c.shape) << c.text;
  }
}

TEST(StatementDdl, TableOptions) {
  auto create = Parse(
      "CREATE TABLE t (a INTEGER, DESCRIPTION 'table' BLOB BLOCK SIZE 1024 "
      "LANGUAGE 'German (Standard)' SORT 'German Phone Book Order' ENCRYPTED WITH secret "
      "USER MAJOR VERSION 3 USER MINOR VERSION 4)");
  const TDataQuery& q = create->MainQuery();
  EXPECT_EQ(q.createFields.size(), 1u);
  EXPECT_TRUE(q.descriptionGiven);
  EXPECT_EQ(q.description, "table");
  EXPECT_EQ(q.blobBlockSize, 1024);
  EXPECT_EQ(q.languageId, 0x0407);
  EXPECT_EQ(q.sortId, 1);
  EXPECT_TRUE(q.encrypted);
  EXPECT_EQ(q.password, "secret");
  EXPECT_EQ(q.userMajorVersion, 3);
  EXPECT_EQ(q.userMinorVersion, 4);

  auto alter = Parse("ALTER TABLE t ADD b INTEGER, USER MINOR VERSION 9 LAST AUTOINC 100 NOBACKUP");
  const TDataQuery& a = alter->MainQuery();
  EXPECT_FALSE(a.userMajorVersionGiven);
  EXPECT_TRUE(a.userMinorVersionGiven);
  EXPECT_EQ(a.userMinorVersion, 9);
  EXPECT_FALSE(a.descriptionGiven);
  EXPECT_FALSE(a.blobBlockSizeGiven);
  EXPECT_FALSE(a.languageGiven);
  EXPECT_FALSE(a.passwordGiven);
  EXPECT_TRUE(a.lastAutoIncGiven);
  EXPECT_EQ(a.lastAutoInc, 100);
  EXPECT_TRUE(a.noBackup);

  // Integer arguments: 16 bits for sizes, versions and positions; a term
  // that is no integer constant gives 0.
  auto wide = Parse(
      "ALTER TABLE t REDEFINE a AT 65538 BLOB BLOCK SIZE 70000 "
      "USER MAJOR VERSION x LAST AUTOINC -1");
  EXPECT_EQ(wide->MainQuery().createFields[0].atPosition, 2);
  EXPECT_EQ(wide->MainQuery().blobBlockSize, 70000 & 0xFFFF);
  EXPECT_EQ(wide->MainQuery().userMajorVersion, 0);
  EXPECT_EQ(wide->MainQuery().lastAutoInc, -1);
  EXPECT_TRUE(wide->MainQuery().lastAutoIncGiven);
}

TEST(StatementDdl, Messages) {
  const ErrorCase cases[] = {
      {"CREATE t", "TABLE or INDEX keyword expected, instead found 't'"},
      {"CREATE", "TABLE or INDEX keyword expected, instead found ''"},
      {"ALTER t", "TABLE keyword expected, instead found 't'"},
      {"DROP t", "TABLE or INDEX keyword expected, instead found 't'"},
      {"CREATE TABLE t (a CHAR(251))",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in t"},
      {"CREATE TABLE t (a CHAR(0))",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in t"},
      {"CREATE TABLE 'C:\\x\\t.dat' (a VARCHAR(x))",
       "Length argument must be an integer in C:\\x\\t.dat"},
      {"CREATE TABLE t (a BYTES(300))",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in t"},
      {"CREATE TABLE t (a BLOB(0,4))",
       "BLOB type argument must be an integer equal to 1,2,3,5, or 7 in t"},
      {"CREATE TABLE t (a BLOB(1,2))",
       "First BLOB type argument must be an integer with the value of 0 in t"},
      {"CREATE TABLE t (a DECIMAL(10,5))",
       "Scale argument must be an integer less than or equal to 4 for the BCD data type t"},
      {"CREATE TABLE t (a)", "SQL data type keyword expected, instead found ')' in table column"},
      {"CREATE TABLE t (a STRING)",
       "SQL data type keyword expected, instead found 'STRING' in table column"},
      {"CREATE TABLE t (a CHAR 10)",
       "Left parentheses expected after CHARACTER or CHAR data type, instead found '10' in table "
       "column"},
      {"CREATE TABLE t (a CHAR(?))", "Parameters are not allowed in table column"},
      {"CREATE TABLE (a INTEGER)",
       "Table name expected after CREATE TABLE keywords, instead found '('"},
      {"CREATE TABLE MEMORY (a INTEGER)", "Table name expected, instead found '('"},
      {"CREATE TABLE t a INTEGER",
       "Left parentheses expected before list of table columns, instead found 'a'"},
      {"CREATE TABLE t (, a INTEGER)", "Unknown or unexpected symbol ',' found in table column"},
      {"CREATE TABLE t (", "Table column name is empty"},
      {"CREATE TABLE t ('' INTEGER)", "Table column name is empty"},
      {"CREATE TABLE t (a INTEGER NOT 5)",
       "NULL keyword expected after NOT keyword, instead found '5'"},
      {"CREATE TABLE t (a CHAR(2) CHARCASE MIXED)",
       "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'MIXED'"},
      // Attributes only in their order.
      {"CREATE TABLE t (a INTEGER DEFAULT 1 NOT NULL)",
       "Right parentheses expected after CREATE TABLE statement, instead found 'NOT'"},
      {"CREATE TABLE t (a INTEGER PRIMARY (a))",
       "KEY keyword expected after PRIMARY keyword, instead found '('"},
      {"CREATE TABLE t (a INTEGER, UNIQUE KEY (a))",
       "PRIMARY keyword expected, instead found 'KEY'"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY a)",
       "Left parentheses expected after KEY keyword, instead found 'a'"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a)",
       "Right parentheses expected after CREATE TABLE statement, instead found ''"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a b))",
       "Right parentheses expected after primary key clause, instead found 'b'"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY ())",
       "Unknown or unexpected symbol ')' found in index column"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (", "Index column name is empty"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a) COMPRESS ALL)",
       "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found "
       "'ALL'"},
      {"CREATE TABLE t (a INTEGER BLOB SIZE 5)",
       "BLOCK keyword expected after BLOB keyword, instead found 'SIZE'"},
      {"CREATE TABLE t (a INTEGER BLOB BLOCK 5)",
       "SIZE keyword expected after BLOCK keyword, instead found '5'"},
      {"CREATE TABLE t (a INTEGER BLOB BLOCK SIZE", "BLOB block size is empty"},
      {"CREATE TABLE t (a INTEGER BLOB BLOCK SIZE ?)",
       "Parameters are not allowed in BLOB block size"},
      {"CREATE TABLE t (a INTEGER USER VERSION 1)",
       "MAJOR keyword expected after USER keyword, instead found 'VERSION'"},
      {"CREATE TABLE t (a INTEGER USER MAJOR 1)",
       "VERSION keyword expected after MAJOR keyword, instead found '1'"},
      {"CREATE TABLE t (a INTEGER USER MAJOR VERSION 1 USER MAJOR VERSION 2)",
       "MINOR keyword expected after USER keyword, instead found 'MAJOR'"},
      {"CREATE TABLE t (a INTEGER USER MINOR 2)",
       "VERSION keyword expected after MINOR keyword, instead found '2'"},
      {"CREATE TABLE t (a INTEGER USER MAJOR VERSION", "User version number is empty"},
      {"CREATE TABLE t (a INTEGER LANGUAGE 'xx')",
       "Invalid language constant 'xx' specified after LANGUAGE keyword"},
      {"CREATE TABLE t (a INTEGER ENCRYPTED pw)",
       "WITH keyword expected after ENCRYPTED keyword, instead found 'pw'"},
      // Table options only in their order.
      {"CREATE TABLE t (a INTEGER LANGUAGE 'ANSI Standard' DESCRIPTION 'x')",
       "Right parentheses expected after CREATE TABLE statement, instead found 'DESCRIPTION'"},
      {"CREATE TABLE t (a INTEGER) x", "End of CREATE TABLE statement expected, instead found 'x'"},
      {"CREATE UNIQUE i ON t (a)", "INDEX keyword expected, instead found 'i'"},
      {"CREATE INDEX (a)", "Index name expected after INDEX keyword, instead found '('"},
      {"CREATE INDEX i t (a)", "ON keyword expected after index name, instead found 't'"},
      {"CREATE INDEX i ON (a)", "Table name expected after ON keyword, instead found '('"},
      {"CREATE INDEX i ON MEMORY (a)", "Table name expected, instead found '('"},
      {"CREATE INDEX i ON t a", "Left parentheses expected after KEY keyword, instead found 'a'"},
      {"CREATE INDEX i ON t (a",
       "Right parentheses expected after primary key clause, instead found ''"},
      {"CREATE INDEX i ON t (a) x", "End of CREATE INDEX statement expected, instead found 'x'"},
      {"ALTER TABLE (a)", "Table name expected after ALTER TABLE keywords, instead found '('"},
      {"ALTER TABLE MEMORY 5", "Table name expected, instead found '5'"},
      {"ALTER TABLE t ADD a", "SQL data type keyword expected, instead found '' in table column"},
      {"ALTER TABLE t ADD a INTEGER AT", "column position is empty"},
      {"ALTER TABLE t REDEFINE a CHAR(300)",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in t"},
      {"ALTER TABLE t DROP CONSTRAINT pk KEY", "PRIMARY keyword expected, instead found 'KEY'"},
      {"ALTER TABLE t DROP PRIMARY (a)",
       "KEY keyword expected after PRIMARY keyword, instead found '('"},
      {"ALTER TABLE t LAST 5", "AUTOINC keyword expected after LAST keyword, instead found '5'"},
      {"ALTER TABLE t LAST AUTOINC", "Next auto-increment number is empty"},
      {"ALTER TABLE t NOBACKUP x", "End of ALTER TABLE statement expected, instead found 'x'"},
      {"ALTER TABLE t ADD a INTEGER, garbage",
       "End of ALTER TABLE statement expected, instead found 'garbage'"},
      {"DROP TABLE (t)", "Table name expected after TABLE keyword, instead found '('"},
      {"DROP TABLE MEMORY", "Table name expected, instead found ''"},
      {"DROP TABLE t u", "End of DROP TABLE statement expected, instead found 'u'"},
      {"DROP INDEX (t)", "Table name expected after INDEX keyword, instead found '('"},
      {"DROP INDEX MEMORY 5", "Table name expected, instead found '5'"},
      {"DROP INDEX MEMORY", "Table name expected, instead found ''"},
      {"DROP INDEX t.i j", "End of DROP INDEX statement expected, instead found 'j'"},
      {"DROP INDEX t.",
       "Symbol or string expression expected after table correlation name separator '.', "
       "instead found '' in index name expression"},
  };
  ExpectErrors(cases);
}

}  // namespace
