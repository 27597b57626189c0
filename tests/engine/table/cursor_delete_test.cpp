// Where a delete through the cursor leaves it, in index order and in natural
// order: on the record after the deleted one (or after the last record when
// it was the last), so that reading the current record never gives the row
// before it. Without repositioning the cursor stays where the record was:
// there is no current record, and the next and prior fetches deliver its
// neighbours.
#include <gtest/gtest.h>

#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using namespace table_test;

class CursorDeleteTest : public TableTest {
 protected:
  // Ids 1..5 in both orders (record numbers follow the Ids).
  std::unique_ptr<TDataCursor> Filled(const std::string& name, bool natural) {
    CreateTable(name, NumberedDefinition(false));
    auto c = OpenCursor(name);
    for (int id = 1; id <= 5; ++id) AddNumbered(*c, id, id);
    if (natural) c->SelectIndex(engine::kNaturalOrder);
    return c;
  }
  // Moves onto the row with this Id and deletes it.
  static void DeleteId(TDataCursor& c, int id, bool reposition = true) {
    c.First();
    TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == engine::kNavOk && c.GetInteger(r, kId) != id) {
    }
    ASSERT_EQ(c.GetInteger(r, kId), id);
    c.Delete(r, reposition);
  }
  static int IdOf(TDataCursor& c, int code) {
    TDataCursor::TRecordBuffer r;
    EXPECT_EQ(c.ReadCurrent(&r), code);
    return code == engine::kNavOk ? static_cast<int>(c.GetInteger(r, kId)) : 0;
  }
  static int Fetch(TDataCursor& c, bool forward) {
    TDataCursor::TRecordBuffer r;
    const int code = forward ? c.Next(&r) : c.Prior(&r);
    return code == engine::kNavOk ? static_cast<int>(c.GetInteger(r, kId)) : -code;
  }
};

TEST_F(CursorDeleteTest, DeleteLeavesTheCursorAfterTheDeletedRecord) {
  for (bool natural : {false, true}) {
    SCOPED_TRACE(natural ? "natural order" : "index order");
    auto c = Filled(natural ? "Nat" : "Idx", natural);
    DeleteId(*c, 3);
    EXPECT_EQ(IdOf(*c, engine::kNavOk), 4);
    EXPECT_EQ(c->RecordPosition(), 3);
    EXPECT_EQ(Fetch(*c, true), 5);
    // The last record: the cursor stands after the end.
    DeleteId(*c, 5);
    EXPECT_TRUE(c->Eof());
    EXPECT_EQ(IdOf(*c, engine::kErrEndOfFile), 0);
    EXPECT_EQ(Fetch(*c, false), 4);

    // Without repositioning: no current record; the neighbours come next.
    DeleteId(*c, 2, false);
    EXPECT_EQ(IdOf(*c, engine::kErrNoCurrentRecord), 0);
    EXPECT_EQ(Fetch(*c, true), 4);
    DeleteId(*c, 4, false);
    EXPECT_EQ(Fetch(*c, false), 1);
    EXPECT_EQ(c->RecordCount(), 1);
  }
}

}  // namespace
