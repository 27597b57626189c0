// Cursors over indexes declared descending as a whole: walking both ways,
// positions, key search and ranges, for every leaf compression, unique and
// not, bytewise and under a locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using table_test::IntKey;
using table_test::kId;
using table_test::kNum;

constexpr int kRows = 700;   // enough for several leaves of a 9-byte key
constexpr int kNumStep = 3;  // Num = (Id * 3) mod kRows: every value once
constexpr int kEnglishUsa = 0x0409;

struct Variant {
  std::uint8_t compression;
  bool unique;
  std::uint16_t language;
};

std::string Describe(const Variant& v) {
  return "compression " + std::to_string(v.compression) + (v.unique ? " unique" : " duplicates") +
         " language " + std::to_string(v.language);
}

class DescendingIndexTest : public table_test::TableTest {
 protected:
  // Id (primary key), Num with the descending index "Down", Name.
  std::unique_ptr<TDataCursor> Filled(const std::string& name, const Variant& v) {
    engine::TTableDefinition d = table_test::NumberedDefinition(false);
    d.languageId = v.language;
    engine::TIndexDefinition down;
    down.name = "Down";
    down.descending = true;
    down.unique = v.unique;
    down.compression = v.compression;
    down.fieldNumbers = {kNum};
    d.indexes.push_back(down);
    CreateTable(name, d);
    auto c = OpenCursor(name, true);
    for (int id = 0; id < kRows; ++id) table_test::AddNumbered(*c, id, id * kNumStep % kRows);
    c->SelectIndex("Down");
    return c;
  }

  // Num of every record from the current place to the end (forward) or the
  // beginning (backward).
  static std::vector<int> Walk(TDataCursor& c, bool forward) {
    std::vector<int> nums;
    TDataCursor::TRecordBuffer r;
    while ((forward ? c.Next(&r) : c.Prior(&r)) == engine::kNavOk)
      nums.push_back(static_cast<int>(c.GetInteger(r, kNum)));
    return nums;
  }

  static int CurrentNum(TDataCursor& c) {
    TDataCursor::TRecordBuffer r;
    EXPECT_EQ(c.ReadCurrent(&r), engine::kNavOk);
    return static_cast<int>(c.GetInteger(r, kNum));
  }
};

// kRows - 1 down to `low`, or `high` down to `low`.
std::vector<int> Downward(int high, int low) {
  std::vector<int> v;
  for (int n = high; n >= low; --n) v.push_back(n);
  return v;
}

TEST_F(DescendingIndexTest, WalkPositionSearchAndRangeInDescendingOrder) {
  int table = 0;
  for (std::uint8_t compression : {engine::kCompressNone, engine::kCompressDuplicate,
                                   engine::kCompressTrailing, engine::kCompressFull}) {
    for (bool unique : {true, false}) {
      for (std::uint16_t language : {std::uint16_t{0}, std::uint16_t{kEnglishUsa}}) {
        const Variant v{compression, unique, language};
        SCOPED_TRACE(Describe(v));
        auto c = Filled("D" + std::to_string(table++), v);
        const std::vector<int> all = Downward(kRows - 1, 0);

        EXPECT_EQ(c->RecordCount(), kRows);
        c->First();
        EXPECT_EQ(Walk(*c, true), all);
        c->Last();
        std::vector<int> back = Walk(*c, false);
        std::reverse(back.begin(), back.end());
        EXPECT_EQ(back, all);

        // Positions count in index order.
        ASSERT_EQ(c->SetRecordPosition(1), engine::kNavOk);
        EXPECT_EQ(CurrentNum(*c), kRows - 1);
        ASSERT_EQ(c->SetRecordPosition(10), engine::kNavOk);
        EXPECT_EQ(CurrentNum(*c), kRows - 10);
        EXPECT_EQ(c->RecordPosition(), 10);
        EXPECT_EQ(c->MoveBy(5), engine::kNavOk);
        EXPECT_EQ(CurrentNum(*c), kRows - 15);

        // Key search: the key itself, or the next key in descending order.
        EXPECT_TRUE(c->FindKey(IntKey(123), 5));
        EXPECT_EQ(CurrentNum(*c), 123);
        EXPECT_EQ(c->RecordPosition(), kRows - 123);
        EXPECT_FALSE(c->FindKey(IntKey(kRows + 50), 5));
        EXPECT_EQ(CurrentNum(*c), kRows - 1);
        EXPECT_FALSE(c->FindKey(IntKey(-5), 5));
        EXPECT_TRUE(c->Eof());

        // A range runs from its start key down to its end key.
        c->SetRange(IntKey(300), IntKey(290));
        EXPECT_EQ(c->RecordCount(), 11);
        c->First();
        EXPECT_EQ(Walk(*c, true), Downward(300, 290));
        c->Last();
        EXPECT_EQ(c->Prior(), engine::kNavOk);
        EXPECT_EQ(CurrentNum(*c), 290);
        // Short keys are completed in index order: every non-NULL key.
        c->SetRange({1}, {1});
        EXPECT_EQ(c->RecordCount(), kRows);
        // Start below end in value order is an empty range here.
        c->SetRange(IntKey(290), IntKey(300));
        EXPECT_EQ(c->RecordCount(), 0);
        c->CancelRange();
        EXPECT_EQ(c->RecordCount(), kRows);

        // Changes keep the order; the current record stays current.
        ASSERT_TRUE(c->FindKey(IntKey(5), 5));
        TDataCursor::TRecordBuffer r;
        ASSERT_EQ(c->ReadCurrent(&r), engine::kNavOk);
        c->Delete(r);
        c->First();
        std::vector<int> without = all;
        without.erase(std::find(without.begin(), without.end(), 5));
        EXPECT_EQ(Walk(*c, true), without);
      }
    }
  }
}

}  // namespace
