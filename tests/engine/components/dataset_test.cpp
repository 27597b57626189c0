// The dataset model over a table: navigation, editing, filters, bookmarks,
// record counts, field kinds and BLOB fields.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/components/component_messages.h"
#include "engine/components/components_test_util.h"
#include "engine/components/zorvad_dbdataset.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;
using components_test::MessageOf;

// The numbered table (Id, Num with the index ByNum, Name) in D:\Bk, rows
// Id 1..5 with Num = 10 * (6 - Id) and Name "n<Id>".
class DataSetTest : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    CreateTable("Num", table_test::NumberedDefinition(true));
    t.SetDatabaseName("D:\\Bk");
    t.SetTableName("Num");
    t.Open();
    for (int id = 1; id <= 5; ++id) Add(id, 10 * (6 - id));
  }
  void Add(int id, int num) {
    t.Append();
    t.FieldByName("Id").SetAsInteger(id);
    t.FieldByName("Num").SetAsInteger(num);
    t.FieldByName("Name").SetAsString("n" + std::to_string(id));
    t.Post();
  }
  int Id() { return t.FieldByName("ID").AsInteger(); }
  // The Ids from the first record to the end.
  std::vector<int> Ids() {
    std::vector<int> ids;
    for (t.First(); !t.Eof(); t.Next()) ids.push_back(Id());
    return ids;
  }

  TZORVADTable t;
};

TEST_F(DataSetTest, NavigationSetsBofAndEof) {
  EXPECT_EQ(t.RecordCount(), 5);
  struct Step {
    const char* what;
    std::function<void()> move;
    int id;
    bool bof, eof;
  };
  const Step steps[] = {
      {"first", [&] { t.First(); }, 1, true, false},
      {"next", [&] { t.Next(); }, 2, false, false},
      {"prior", [&] { t.Prior(); }, 1, false, false},
      {"prior at the first", [&] { t.Prior(); }, 1, true, false},
      {"last", [&] { t.Last(); }, 5, false, true},
      {"prior from last", [&] { t.Prior(); }, 4, false, false},
      {"next", [&] { t.Next(); }, 5, false, false},
      {"next at the last", [&] { t.Next(); }, 5, false, true},
      {"move by -3", [&] { EXPECT_EQ(t.MoveBy(-3), -3); }, 2, false, false},
      {"move by 10", [&] { EXPECT_EQ(t.MoveBy(10), 3); }, 5, false, true},
  };
  for (const Step& s : steps) {
    s.move();
    EXPECT_EQ(Id(), s.id) << s.what;
    EXPECT_EQ(t.Bof(), s.bof) << s.what;
    EXPECT_EQ(t.Eof(), s.eof) << s.what;
  }
  EXPECT_EQ(t.Fields(2).AsString(), "n5");
  EXPECT_EQ(t.FieldCount(), 3);
  EXPECT_EQ(MessageOf([&] { t.FieldByName("nope"); }), "Field 'nope' not found");
}

TEST_F(DataSetTest, EditInsertPostCancelDelete) {
  const std::string notEditing = "Dataset not in edit or insert mode";
  EXPECT_EQ(MessageOf([&] { t.FieldByName("Name").SetAsString("x"); }), notEditing);
  EXPECT_EQ(MessageOf([&] { t.Post(); }), notEditing);

  t.First();
  t.Edit();
  EXPECT_EQ(t.State(), TDataSetState::dsEdit);
  t.FieldByName("Name").SetAsString("changed");
  t.Cancel();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "n1") << "cancel drops the change";
  t.Edit();
  t.FieldByName("Name").SetAsString("kept");
  t.Post();
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "kept");

  t.Next();
  t.Insert();
  t.FieldByName("Id").SetAsInteger(9);
  t.Cancel();
  EXPECT_EQ(Id(), 2) << "the record before the insert is current again";
  EXPECT_EQ(t.RecordCount(), 5);

  t.Delete();  // Id 2
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(Id(), 3) << "the next record becomes current";
  t.Last();
  t.Delete();  // Id 5, the last: the new last becomes current
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 3, 4}));
  t.First();
  t.Delete();  // Id 1, the first
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(!t.Bof() && !t.Eof());

  // A duplicate key is refused by the engine and the insert can be cancelled.
  t.Append();
  t.FieldByName("Id").SetAsInteger(4);
  EXPECT_EQ(engine_test::EngineCodeOf([&] { t.Post(); }), kErrDuplicateKey);
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);
  t.Cancel();

  // Null and cleared values.
  t.First();
  t.Edit();
  t.FieldByName("Name").Clear();
  t.Post();
  EXPECT_TRUE(t.FieldByName("Name").IsNull());

  TZORVADTable readOnly;
  readOnly.SetDatabaseName("D:\\Bk");
  readOnly.SetTableName("Num");
  readOnly.ReadOnly = true;
  readOnly.Open();
  readOnly.Edit();
  EXPECT_EQ(MessageOf([&] { readOnly.FieldByName("Name").SetAsString("x"); }),
            "Field 'Name' cannot be modified");
}

TEST_F(DataSetTest, FiltersAndRecordFilterHideRecords) {
  t.SetFilter("Num > 20");
  EXPECT_EQ(t.RecordCount(), 5) << "not filtered yet";
  t.SetFiltered(true);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(t.RecordCount(), 3);

  // A text that does not compile leaves the filter as it was.
  EXPECT_EQ(engine_test::EngineCodeOf([&] { t.SetFilter("Num >"); }), kErrFilter);
  EXPECT_EQ(t.Filter(), "Num > 20");
  EXPECT_EQ(t.RecordCount(), 3);

  t.SetFilter("Name = 'N2'");
  EXPECT_EQ(t.RecordCount(), 0);
  t.SetFilterOptions({.foCaseInsensitive = true});
  EXPECT_TRUE(t.Bof() && !t.Eof()) << "moved to the first record";
  EXPECT_EQ(Ids(), (std::vector<int>{2}));

  t.SetFilter("");
  EXPECT_EQ(t.RecordCount(), 5) << "an empty filter shows every row";

  // The record event: odd Ids only, together with the expression.
  t.SetOnFilterRecord([](TDataSet& d, bool& accept) {
    EXPECT_EQ(d.State(), TDataSetState::dsFilter);
    accept = d.FieldByName("Id").AsInteger() % 2 == 1;
  });
  EXPECT_EQ(Ids(), (std::vector<int>{1, 3, 5}));
  t.SetFilter("Num < 40");
  EXPECT_EQ(Ids(), (std::vector<int>{3, 5}));
  t.SetFiltered(false);
  EXPECT_EQ(t.RecordCount(), 5);
  t.SetFiltered(true);
  EXPECT_EQ(t.RecordCount(), 2);

  // Filters are set up again at the next open.
  t.Close();
  t.Open();
  EXPECT_EQ(Ids(), (std::vector<int>{3, 5}));
  t.SetOnFilterRecord(nullptr);
  EXPECT_EQ(Ids(), (std::vector<int>{3, 4, 5}));
}

TEST_F(DataSetTest, CopyOnAppendStartsFromTheCurrentRecord) {
  int newRecords = 0;
  t.OnNewRecord = [&](TDataSet&) { ++newRecords; };
  t.CopyOnAppend = true;
  t.First();
  t.Next();
  t.Append();
  EXPECT_EQ(t.FieldByName("Num").AsInteger(), 40);
  EXPECT_EQ(t.FieldByName("Name").AsString(), "n2");
  t.FieldByName("Id").SetAsInteger(7);
  t.Post();
  EXPECT_EQ(Id(), 7);
  t.CopyOnAppend = false;
  t.Append();
  EXPECT_TRUE(t.FieldByName("Num").IsNull());
  t.Cancel();
  EXPECT_EQ(newRecords, 2);
}

TEST_F(DataSetTest, BookmarksReturnToTheirRecord) {
  t.First();
  t.MoveBy(2);
  const TBookmark mark = t.GetBookmark();
  EXPECT_NE(mark, 0);
  t.Last();
  t.GotoBookmark(mark);
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(t.Eof());
  t.Delete();
  EXPECT_EQ(MessageOf([&] { t.GotoBookmark(mark); }), "No current record");
}

TEST_F(ComponentsTest, EmptyTableIsAtBothEnds) {
  CreateTable("Num", table_test::NumberedDefinition(false));
  TZORVADTable t;
  t.SetDatabaseName("D:\\Bk");
  t.SetTableName("Num");
  t.Open();
  EXPECT_TRUE(t.Bof());
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 0);
  t.Next();
  t.Last();
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.GetBookmark(), 0);
}

TEST(FieldKinds, EngineTypesMapToFieldKinds) {
  struct Case {
    std::uint8_t type, subtype, size, scale;
    std::optional<TFieldType> kind;
    int kindSize = 0;
  };
  const Case cases[] = {
      {1, 0, 40, 0, ftString, 40}, {2, 0, 0, 0, ftDate},       {3, 22, 0, 0, ftMemo},
      {3, 24, 0, 0, ftFmtMemo},    {3, 26, 0, 0, ftGraphic},   {3, 28, 0, 0, ftTypedBinary},
      {3, 0, 0, 0, ftBlob},        {3, 23, 0, 0, ftBlob},      {4, 0, 0, 0, ftBoolean},
      {5, 0, 0, 0, ftSmallint},    {6, 29, 0, 0, ftAutoInc},   {6, 0, 0, 0, ftInteger},
      {7, 21, 0, 0, ftCurrency},   {7, 0, 0, 0, ftFloat},      {8, 0, 0, 2, ftBCD, 2},
      {9, 0, 16, 0, ftBytes, 16},  {10, 0, 0, 0, ftTime},      {11, 0, 0, 0, ftDateTime},
      {12, 0, 0, 0, ftWord},       {13, 0, 0, 0, ftInteger},   {15, 0, 30, 0, ftVarBytes, 30},
      {18, 0, 0, 0, ftLargeint},   {19, 0, 0, 0, ftLargeint},  {20, 0, 0, 0, ftADT},
      {21, 0, 0, 0, ftArray},      {22, 0, 0, 0, ftReference}, {23, 0, 0, 0, ftDataSet},
      {14, 0, 0, 0, std::nullopt}, {0, 0, 0, 0, std::nullopt}, {99, 0, 0, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    TFieldDefinition d;
    d.SetType(c.type);
    d.SetSubtype(c.subtype);
    d.SetSize(c.size);
    d.SetScale(c.scale);
    const std::optional<TFieldKind> kind = FieldKindOf(d);
    ASSERT_EQ(kind.has_value(), c.kind.has_value()) << int(c.type);
    if (!kind) continue;
    EXPECT_EQ(kind->type, *c.kind) << int(c.type) << "/" << int(c.subtype);
    EXPECT_EQ(kind->size, c.kindSize) << int(c.type);
    EXPECT_EQ(kind->precision, c.type == 8 ? 20 : 0) << int(c.type);
  }
}

// A dataset without records that makes the fields it is told to.
class NamesOnly : public TZORVADDataSet {
 public:
  using TDataSet::AddField;

 protected:
  TDataCursor* CreateHandle(bool&) override { return nullptr; }
};

TEST(FieldKinds, TakenFieldNamesGetANumberAndNoCursorIsAnError) {
  NamesOnly d;
  EXPECT_EQ(d.AddField("Name", 1, {ftString, 8}).FieldName(), "Name");
  EXPECT_EQ(d.AddField("NAME", 2, {ftString, 8}).FieldName(), "NAME_1");
  EXPECT_EQ(d.AddField("name", 3, {ftString, 8}).FieldName(), "name_2");
  EXPECT_EQ(d.AddField("Name_1", 4, {ftString, 8}).FieldName(), "Name_1_1");
  EXPECT_EQ(MessageOf([&] { d.Open(); }), "Error creating table handle.");
  EXPECT_FALSE(d.Active());
}

}  // namespace
