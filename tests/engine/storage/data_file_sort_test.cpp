// The physical sort: in memory and with run files, ascending and descending,
// strings, dropped duplicates, grouping and filtering hooks, deleted records,
// and the file's state afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;

// Name CHAR(10) (flag at 9, 11 bytes of value) and Amount INTEGER (flag at 21).
constexpr std::uint16_t kNameSlot = 9;
constexpr std::uint16_t kAmountSlot = 21;

struct Row {
  std::string name;
  std::int32_t amount;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << "{" << r.name << "," << r.amount << "}";
}

enum class Mode { InMemory, RunFiles };

class DataFileSortTest : public TableFilesTest, public ::testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    TableFilesTest::SetUp();
    std::filesystem::create_directory(Host("tmp"));
    host.tempDirectory = "D:\\tmp\\";
  }

  void Load(const std::vector<Row>& rows) {
    Create(LaidOut({Field("Name", kFieldString, 10), Field("Amount", kFieldInt32)}));
    ASSERT_EQ(data->GetDefinition(2).Offset(), kAmountSlot);
    for (const Row& row : rows) {
      Append([&](std::uint8_t* r) {
        if (!row.name.empty()) PutString(r, kNameSlot, row.name);
        PutInt32(r, kAmountSlot, row.amount);
      });
    }
    Flush();
  }

  std::int32_t Sort(TDataFile::SortOptions options) {
    if (GetParam() == Mode::RunFiles) {
      data->WriteBack(false);
      data->DropCache();       // not everything cached: runs and a merge
      options.runRecords = 3;  // many small runs
    }
    return data->Sort(options);
  }

  std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (std::int32_t n = 1; n <= data->RecordCount(); ++n) {
      TRecord* r = data->GetRecord(nullptr, n);
      EXPECT_EQ(r->Data()[kRecordStatusOffset], kRecordInUse);
      EXPECT_EQ(bytes::GetI32(r->Data() + kRecordLinkOffset), n);
      rows.push_back({reinterpret_cast<const char*>(r->Data() + kNameSlot + 1),
                      bytes::GetI32(r->Data() + kAmountSlot + 1)});
      data->ReleaseRecord(r);
    }
    return rows;
  }

  const std::vector<Row> sample_ = {{"pear", 3},  {"Apple", 5}, {"fig", 3},   {"apple", 1},
                                    {"pear", 3},  {"", 9},      {"kiwi", -2}, {"fig", 3},
                                    {"Apple", 5}, {"date", 0}};
};

TEST_P(DataFileSortTest, OrdersByTheGivenFieldsKeepingEqualKeysInCreationOrder) {
  struct Case {
    const char* what;
    std::vector<TDataFile::SortField> fields;
    bool caseInsensitive;
    std::vector<Row> expected;
  } cases[] = {
      {"amount ascending, ties by creation",
       {{2, false}},
       false,
       {{"kiwi", -2},
        {"date", 0},
        {"apple", 1},
        {"pear", 3},
        {"fig", 3},
        {"pear", 3},
        {"fig", 3},
        {"Apple", 5},
        {"Apple", 5},
        {"", 9}}},
      {"amount descending",
       {{2, true}},
       false,
       {{"", 9},
        {"Apple", 5},
        {"Apple", 5},
        {"pear", 3},
        {"fig", 3},
        {"pear", 3},
        {"fig", 3},
        {"apple", 1},
        {"date", 0},
        {"kiwi", -2}}},
      {"name bytewise: NULL first, upper case before lower",
       {{1, false}, {2, false}},
       false,
       {{"", 9},
        {"Apple", 5},
        {"Apple", 5},
        {"apple", 1},
        {"date", 0},
        {"fig", 3},
        {"fig", 3},
        {"kiwi", -2},
        {"pear", 3},
        {"pear", 3}}},
      {"name ignoring case",
       {{1, false}},
       true,
       {{"", 9},
        {"Apple", 5},
        {"apple", 1},
        {"Apple", 5},
        {"date", 0},
        {"fig", 3},
        {"fig", 3},
        {"kiwi", -2},
        {"pear", 3},
        {"pear", 3}}},
  };
  for (const Case& c : cases) {
    Load(sample_);
    TDataFile::SortOptions options;
    options.fields = c.fields;
    options.caseInsensitive = c.caseInsensitive;
    EXPECT_EQ(Sort(options), 10) << c.what;
    EXPECT_EQ(Rows(), c.expected) << c.what;
    CloseAll();
  }
}

TEST_P(DataFileSortTest, DropsDuplicatesAndDeletedRecords) {
  Load(sample_);
  for (std::int32_t n : {7, 10}) {  // kiwi and date
    TRecord* r = data->GetRecord(nullptr, n);
    data->FreeRecord(r);
    data->ReleaseRecord(r);
  }
  Flush();
  TDataFile::SortOptions options;  // every field, in definition order
  options.dropDuplicates = true;
  EXPECT_EQ(Sort(options), 5);
  EXPECT_EQ(Rows(),
            (std::vector<Row>{{"", 9}, {"Apple", 5}, {"apple", 1}, {"fig", 3}, {"pear", 3}}));
  // The file now ends after record 5, the free chain is empty, and it checks out.
  Flush();
  EXPECT_EQ(data->NextRecord(), 6);
  EXPECT_EQ(data->FirstFree(), 0);
  EXPECT_EQ(ReadBytes(Host("Back.DAT")).size(), 127u + 2 * 768 + 5 * 26);
  EXPECT_TRUE(data->Diagnose().empty());
  // No run file is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(Host("tmp")));
}

TEST_P(DataFileSortTest, GroupingCombinesEqualKeysAndFiltersGroups) {
  Load(sample_);
  TDataFile::SortOptions options;
  options.fields = {{1, false}};
  // SUM(Amount) GROUP BY Name HAVING SUM(Amount) > 2.
  options.combine = [](std::uint8_t* kept, const std::uint8_t* next) {
    bytes::PutI32(kept + kAmountSlot + 1,
                  bytes::GetI32(kept + kAmountSlot + 1) + bytes::GetI32(next + kAmountSlot + 1));
    return true;
  };
  options.accept = [](std::uint8_t* record) { return bytes::GetI32(record + kAmountSlot + 1) > 2; };
  EXPECT_EQ(Sort(options), 4);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"", 9}, {"Apple", 10}, {"fig", 6}, {"pear", 6}}));
}

TEST_P(DataFileSortTest, EmptyAndSingleRecordTables) {
  Load({});
  EXPECT_EQ(Sort({}), 0);
  EXPECT_EQ(data->NextRecord(), 1);
  CloseAll();
  Load({{"one", 1}});
  EXPECT_EQ(Sort({}), 1);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"one", 1}}));
}

TEST_P(DataFileSortTest, EncryptedRecordsSortAndStayEnciphered) {
  Create(LaidOut({Field("Name", kFieldString, 10), Field("Amount", kFieldInt32)}), true);
  for (int i = 0; i < 8; ++i)
    Append([&](std::uint8_t* r) { PutInt32(r, kAmountSlot, (i * 5) % 8); });
  Flush();
  TDataFile::SortOptions options;
  options.fields = {{2, false}};
  EXPECT_EQ(Sort(options), 8);
  Flush();
  Reopen();
  const std::vector<Row> rows = Rows();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(rows[i].amount, i);
}

INSTANTIATE_TEST_SUITE_P(Modes, DataFileSortTest, ::testing::Values(Mode::InMemory, Mode::RunFiles),
                         [](const auto& info) {
                           return info.param == Mode::InMemory ? "InMemory" : "RunFiles";
                         });

}  // namespace
}  // namespace engine_test
