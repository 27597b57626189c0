// tablecheck as a user runs it: checking, repairing and the exit statuses,
// on a damaged catalog set given by its host path.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/table/damaged_sets.h"
#include "zip/zip_test_util.h"

namespace {

using zip_test::Quote;

class TablecheckTest : public table_test::DamagedSetTest {
 protected:
  int Tablecheck(const std::string& args) {
    return zip_test::RunCommand(Quote(TABLECHECK_PATH) + " " + args, &output_);
  }
  std::string Table() const { return Quote(Host("Db/Back")); }
  std::string output_;
};

TEST_F(TablecheckTest, RepairMendsADamagedSetAndReportsIt) {
  MakeSoundSet();
  EXPECT_EQ(Tablecheck(Table()), 0) << output_;
  EXPECT_NE(output_.find("no problems found"), std::string::npos) << output_;
  EXPECT_EQ(Tablecheck("--repair " + Table()), 0) << output_;
  EXPECT_NE(output_.find("nothing repaired"), std::string::npos) << output_;

  PatchFile(Host("Db/Back.DAT"), 9, table_test::I32(0x7FFFFFFF));  // first free record
  PatchFile(Host("Db/Back.DAT"), table_test::RecordAt(3), {9});    // a status byte
  EXPECT_EQ(Tablecheck(Table()), 1) << output_;
  EXPECT_NE(output_.find("first free record 2147483647"), std::string::npos) << output_;

  EXPECT_EQ(Tablecheck("--repair " + Table()), 1) << output_;
  EXPECT_NE(output_.find("dropped record 3: status byte 9"), std::string::npos) << output_;
  EXPECT_NE(output_.find("repaired, 2 records kept, 1 dropped"), std::string::npos) << output_;
  EXPECT_NE(output_.find("damaged file kept as"), std::string::npos) << output_;
  EXPECT_NE(output_.find("Back.DAT.damaged"), std::string::npos) << output_;
  EXPECT_TRUE(std::filesystem::exists(Host("Db/Back.DAT.damaged")));
  EXPECT_EQ(Tablecheck(Table()), 0) << output_;
}

TEST_F(TablecheckTest, UsageAndRefusals) {
  MakeSoundSet();
  PatchFile(Host("Db/Back.DAT"), 21, {0x13, 0x02});  // record size: the layout is lost
  const struct {
    std::string args;
    int status;
    const char* text;
  } cases[] = {
      {"", 2, "usage: tablecheck"},
      {"--frobnicate " + Table(), 2, "unknown option --frobnicate"},
      {"--help", 0, "--repair"},
      {"--repair " + Table(), 3, "not repaired: the field definitions are damaged"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Tablecheck(c.args), c.status) << c.args << "\n" << output_;
    EXPECT_NE(output_.find(c.text), std::string::npos) << c.args << "\n" << output_;
  }
}

}  // namespace
