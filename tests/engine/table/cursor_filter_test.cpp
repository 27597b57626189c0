// A cursor with filters: navigation, counts and positions over the visible
// records in natural and index order, filters together with a key range
// (also ranges holding most of the table, which are scanned inverted),
// the cursor's own inserts, changes and deletes while a filter is active,
// changes made through another session, and leaving bitmap mode again.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/sql/filter.h"
#include "engine/storage/data_file.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine::TFilterOptions;

// The numbered table with its index ByNum.
using table_test::IntKey;
using table_test::kId;
using table_test::kName;
using table_test::kNum;
constexpr int kRows = 200;
constexpr int kNumModulus = 10;

engine::TTableDefinition Definition() {
  return table_test::NumberedDefinition(true);
}

class CursorFilterTest : public table_test::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateTable("T", Definition());
    c_ = OpenCursor("T");
    // Ids 1..kRows in a scrambled order, so record numbers and key order differ;
    // every seventh record is deleted again.
    for (int i = 0; i < kRows; ++i) Add((i * 37) % kRows + 1);
    std::vector<int> gone;
    for (int id = 7; id <= kRows; id += 7) gone.push_back(id);
    for (int id : gone) {
      ASSERT_TRUE(c_->FindKey(IntKey(id), 5));
      TDataCursor::TRecordBuffer r;
      ASSERT_EQ(c_->ReadCurrent(&r), engine::kNavOk);
      c_->Delete(r);
    }
    for (int id = 1; id <= kRows; ++id)
      if (id % 7 != 0) live_.insert(id);
  }

  void TearDown() override {
    c_.reset();  // before the session goes
    TableTest::TearDown();
  }

  void Add(int id) { Add(*c_, id, id % kNumModulus); }
  static void Add(TDataCursor& c, int id, int num) { table_test::AddNumbered(c, id, num); }

  // Ids met walking forward from the beginning, and backward from the end.
  std::vector<int> WalkForward() {
    std::vector<int> ids;
    c_->First();
    TDataCursor::TRecordBuffer r;
    while (c_->Next(&r) == engine::kNavOk) ids.push_back(static_cast<int>(c_->GetInteger(r, kId)));
    return ids;
  }
  std::vector<int> WalkBackward() {
    std::vector<int> ids;
    c_->Last();
    TDataCursor::TRecordBuffer r;
    while (c_->Prior(&r) == engine::kNavOk) ids.push_back(static_cast<int>(c_->GetInteger(r, kId)));
    std::reverse(ids.begin(), ids.end());
    return ids;
  }
  std::set<int> Expected(const std::function<bool(int id)>& passes) const {
    std::set<int> out;
    for (int id : live_)
      if (passes(id)) out.insert(id);
    return out;
  }
  // Walks both ways, checks count, positions and moves; answers the Ids seen.
  std::set<int> CheckView() {
    const std::vector<int> forward = WalkForward();
    EXPECT_EQ(forward, WalkBackward());
    EXPECT_EQ(c_->RecordCount(), static_cast<std::int64_t>(forward.size()));
    for (std::size_t k = 0; k < forward.size(); k += 5) {
      const auto position = static_cast<std::int64_t>(k + 1);
      EXPECT_EQ(c_->SetRecordPosition(position), engine::kNavOk);
      TDataCursor::TRecordBuffer r;
      EXPECT_EQ(c_->ReadCurrent(&r), engine::kNavOk);
      EXPECT_EQ(c_->GetInteger(r, kId), forward[k]);
      EXPECT_EQ(c_->RecordPosition(), position);
    }
    if (forward.size() >= 3) {
      c_->First();
      EXPECT_EQ(c_->MoveBy(3), engine::kNavOk);
      TDataCursor::TRecordBuffer r;
      c_->ReadCurrent(&r);
      EXPECT_EQ(c_->GetInteger(r, kId), forward[2]);
    }
    return {forward.begin(), forward.end()};
  }

  std::unique_ptr<TDataCursor> c_;
  std::set<int> live_;
};

// ---- Navigation and counts over the visible records ------------------------------------------

TEST_F(CursorFilterTest, EveryOrderShowsExactlyTheRecordsThatPass) {
  struct Case {
    const char* text;
    std::function<bool(int)> passes;
  };
  const Case cases[] = {
      {"Num = 3", [](int id) { return id % kNumModulus == 3; }},                   // index answers
      {"Num >= 2", [](int id) { return id % kNumModulus >= 2; }},                  // most: inverted
      {"Num <> 4", [](int id) { return id % kNumModulus != 4; }},                  // complement
      {"Name = 'n1*'", [](int id) { return std::to_string(id).front() == '1'; }},  // evaluated
      {"Id > 150 and Num in (1, 2)",
       [](int id) { return id > 150 && (id % kNumModulus == 1 || id % kNumModulus == 2); }},
      {"Id < 0", [](int) { return false; }},
  };
  for (int order : {engine::kNaturalOrder, 0, 1}) {
    c_->SelectIndex(order);
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.text) + " in order " + std::to_string(order));
      engine::TFilterHandle f = c_->Filters().AddText(k.text, {});
      c_->Filters().Activate(f);
      EXPECT_TRUE(c_->BitmapMode());
      EXPECT_EQ(CheckView(), Expected(k.passes));
      c_->Filters().Remove(f);
    }
  }
}

TEST_F(CursorFilterTest, NoRecordPassingLeavesTheCursorBeforeFirstAndAfterLast) {
  c_->Filters().Activate(c_->Filters().AddText("Num = 99", {}));
  c_->First();
  EXPECT_EQ(c_->RecordCount(), 0);
  EXPECT_TRUE(c_->Bof());
  EXPECT_TRUE(c_->Eof());
  EXPECT_EQ(c_->Next(), engine::kErrEndOfFile);
  EXPECT_EQ(c_->ReadCurrent(nullptr), engine::kErrNoCurrentRecord);
}

TEST_F(CursorFilterTest, DeactivatingTheLastFilterReturnsToKeyOrderKeepingTheRecord) {
  c_->SelectIndex("ByNum");
  engine::TFilterHandle f = c_->Filters().AddText("Id > 100", {});
  c_->Filters().Activate(f);
  ASSERT_EQ(c_->SetRecordPosition(4), engine::kNavOk);
  TDataCursor::TRecordBuffer before;
  c_->ReadCurrent(&before);
  c_->Filters().Deactivate(f);
  EXPECT_FALSE(c_->BitmapMode());
  EXPECT_EQ(c_->RecordCount(), static_cast<std::int64_t>(live_.size()));
  TDataCursor::TRecordBuffer now;
  ASSERT_EQ(c_->ReadCurrent(&now), engine::kNavOk);
  EXPECT_EQ(c_->GetInteger(now, kId), c_->GetInteger(before, kId));
  // Key order again: Num ascending from here on.
  std::int64_t lastNum = c_->GetInteger(now, kNum);
  TDataCursor::TRecordBuffer r;
  int steps = 0;
  while (c_->Next(&r) == engine::kNavOk) {
    EXPECT_GE(c_->GetInteger(r, kNum), lastNum);
    lastNum = c_->GetInteger(r, kNum);
    ++steps;
  }
  EXPECT_GT(steps, 0);
}

// ---- Filters and key ranges -------------------------------------------------------------------

TEST_F(CursorFilterTest, RangeAndFilterIntersect) {
  struct Case {
    int low, high;  // Num range
    const char* text;
    std::function<bool(int)> passes;
  };
  const Case cases[] = {
      {3, 4, "Id <= 100", [](int id) { return id % 10 >= 3 && id % 10 <= 4 && id <= 100; }},
      // Most of the table in range: the range bitmap is scanned inverted.
      {1, 9, "Id > 20", [](int id) { return id % 10 >= 1 && id > 20; }},
      {0, 9, "Name = 'n19*'", [](int id) { return std::to_string(id).rfind("19", 0) == 0; }},
      {5, 2, "Id > 0", [](int) { return false; }},  // start above end: empty range
  };
  c_->SelectIndex("ByNum");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    c_->SetRange(IntKey(k.low), IntKey(k.high));
    engine::TFilterHandle f = c_->Filters().AddText(k.text, {});
    c_->Filters().Activate(f);
    EXPECT_EQ(CheckView(), Expected(k.passes));
    // The range alone again, walked in key order.
    c_->Filters().Remove(f);
    const auto inRange = Expected([&](int id) { return id % 10 >= k.low && id % 10 <= k.high; });
    EXPECT_EQ(c_->RecordCount(), static_cast<std::int64_t>(inRange.size()));
    c_->CancelRange();
  }
  EXPECT_EQ(c_->RecordCount(), static_cast<std::int64_t>(live_.size()));
}

// ---- Changes while a filter is active ----------------------------------------------------------

TEST_F(CursorFilterTest, OwnInsertsChangesAndDeletesFollowTheFilterAndTheRange) {
  for (const bool withRange : {false, true}) {
    SCOPED_TRACE(withRange ? "with a range" : "without a range");
    c_->SelectIndex("ByNum");
    if (withRange) c_->SetRange(IntKey(0), IntKey(4));  // Num 0..4
    engine::TFilterHandle f = c_->Filters().AddText("Id > 1000", {});
    c_->Filters().Activate(f);
    const std::int64_t base = c_->RecordCount();
    EXPECT_EQ(base, 0);

    const int id = withRange ? 2001 : 1001;
    Add(*c_, id, 1);  // passes both
    EXPECT_EQ(c_->RecordCount(), 1);
    TDataCursor::TRecordBuffer r;
    ASSERT_EQ(c_->ReadCurrent(&r), engine::kNavOk);  // the new record is current
    EXPECT_EQ(c_->GetInteger(r, kId), id);

    Add(*c_, id + 1, 2);                 // passes
    Add(*c_, withRange ? 301 : 300, 1);  // fails the filter
    if (withRange) Add(*c_, id + 2, 7);  // passes the filter, outside the range
    EXPECT_EQ(c_->RecordCount(), 2);
    const std::vector<int> seen = WalkForward();  // record-number order
    EXPECT_EQ(std::set<int>(seen.begin(), seen.end()), (std::set<int>{id, id + 1}));

    // Moving a visible record out: by the filter, then (with a range) by its key.
    c_->First();
    ASSERT_EQ(c_->Next(&r), engine::kNavOk);
    c_->ReadCurrent(&r, true, &r);
    c_->PutInteger(r, kId, withRange ? 401 : 400);  // fails the filter
    c_->Modify(r);
    EXPECT_EQ(c_->RecordCount(), 1);
    c_->First();
    ASSERT_EQ(c_->Next(&r), engine::kNavOk);
    if (withRange) {
      c_->ReadCurrent(&r, true, &r);
      c_->PutInteger(r, kNum, 8);
      c_->Modify(r);
      EXPECT_EQ(c_->RecordCount(), 0);
    } else {
      c_->Delete(r);
      EXPECT_EQ(c_->RecordCount(), 0);
      EXPECT_TRUE(c_->Bof() && c_->Eof());
    }
    c_->Filters().Remove(f);
    if (withRange) c_->CancelRange();
  }
}

TEST_F(CursorFilterTest, ChangesThroughAnotherSessionAreSeenByTheNextRead) {
  session_->StrictChangeDetection = true;  // every read refreshes from the files
  engine::TFilterHandle f = c_->Filters().AddText("Num = 3", {});
  c_->Filters().Activate(f);
  const std::int64_t before = c_->RecordCount();
  {
    engine::TDataSession other;
    engine::TDataDirectory* dir = other.OpenDirectory("", "D:\\Db");
    TDataCursor writer(dir, "T");
    writer.Open();
    Add(writer, 5003, 3);  // passes
    Add(writer, 5004, 4);  // does not
    writer.Close();
  }
  EXPECT_EQ(c_->RecordCount(), before + 1);
  std::vector<int> ids = WalkForward();
  EXPECT_NE(std::find(ids.begin(), ids.end(), 5003), ids.end());
  EXPECT_EQ(std::find(ids.begin(), ids.end(), 5004), ids.end());
}

// A filter whose bitmap cannot be built raises its error and stays inactive;
// the records visible before stay visible.
TEST_F(CursorFilterTest, AFilterThatFailsToBuildStaysInactive) {
  engine::TFilterHandle first = c_->Filters().AddText("Num = 2", {});
  c_->Filters().Activate(first);
  const std::set<int> before = CheckView();
  engine::TFilterHandle failing = c_->Filters().AddProcedure(
      [](void*, const std::vector<std::uint8_t>&, std::int32_t n) -> bool {
        if (n > 50) throw engine::EDatabaseError("record procedure failed");
        return true;
      },
      nullptr, {});
  EXPECT_THROW(c_->Filters().Activate(failing), engine::EDatabaseError);
  EXPECT_FALSE(failing->Active());
  EXPECT_EQ(CheckView(), before);
  EXPECT_THROW(c_->Filters().ActivateAll(), engine::EDatabaseError);
  EXPECT_TRUE(first->Active());
  EXPECT_FALSE(failing->Active());
  EXPECT_EQ(CheckView(), before);
}

TEST_F(CursorFilterTest, TwoActiveFiltersCombineAndCloseDropsThem) {
  engine::TFilterHandle a = c_->Filters().AddText("Num = 1", {});
  engine::TFilterHandle b = c_->Filters().AddText("Id < 100", {});
  c_->Filters().ActivateAll();
  EXPECT_EQ(CheckView(), Expected([](int id) { return id % 10 == 1 && id < 100; }));
  c_->Filters().Deactivate(a);
  EXPECT_EQ(CheckView(), Expected([](int id) { return id < 100; }));
  c_->Filters().Deactivate(b);
  c_->Close();
  c_->Open();
  EXPECT_EQ(c_->Filters().Size(), 0u);
  EXPECT_EQ(c_->RecordCount(), static_cast<std::int64_t>(live_.size()));
}

}  // namespace
