// Indexes added to and removed from tables that already hold records: the
// new tree must hold exactly the records in use, in index order; a repeated
// key in a unique index must leave the table as it was; a removed index's
// pages must go to a free list and be reused. Every set must check clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "engine/storage/index_format.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine_test::EngineCodeOf;
using namespace table_test;

constexpr int kRows = 600;

struct TRow {
  int id;
  int num;
  std::string name;
};

class CursorIndexesTest : public TableTest {
 protected:
  // kRows rows: Num repeats every 50 ids, Name alternates letter case; every
  // seventh row is deleted again, so the data file has holes.
  void MakeTable() {
    CreateTable("T", NumberedDefinition(false));
    auto c = OpenCursor("T", true);
    for (int id = 1; id <= kRows; ++id) {
      auto r = c->NewRecord();
      c->PutInteger(r, kId, id);
      c->PutInteger(r, kNum, (id * 37) % 50);
      c->PutString(r, kName, NameOf(id));
      c->Insert(r);
    }
    for (int id = 7; id <= kRows; id += 7) {
      auto r = c->NewRecord();
      c->PutInteger(r, kId, id);
      ASSERT_TRUE(c->FindKey(c->BuildKey(r), c->KeyLength()));
      TDataCursor::TRecordBuffer current;
      ASSERT_EQ(c->ReadCurrent(&current), 0);
      c->Delete(current);
    }
    for (int id = 1; id <= kRows; ++id)
      if (id % 7 != 0) rows_.push_back({id, (id * 37) % 50, NameOf(id)});
  }
  static std::string NameOf(int id) {
    std::string name = "n" + std::to_string(id % 300);
    if (id > 300) name[0] = 'N';
    return name;
  }
  // The Ids read walking `index` of an open cursor.
  static std::vector<int> Walk(TDataCursor& c, const std::string& index) {
    c.SelectIndex(index);
    c.First();
    std::vector<int> ids;
    TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == 0) ids.push_back(static_cast<int>(c.GetInteger(r, kId)));
    return ids;
  }
  // The Ids in the order of `less`, ties by Id (the auto-increment suffix of
  // a non-unique index follows creation order, which is Id order here).
  template <typename Less>
  std::vector<int> Expected(Less less) const {
    std::vector<TRow> sorted = rows_;
    std::stable_sort(sorted.begin(), sorted.end(), less);
    std::vector<int> ids;
    for (const TRow& r : sorted) ids.push_back(r.id);
    return ids;
  }
  void ExpectClean() {
    const engine::TTableCheckReport report = engine::CheckTableSet("D:\\Db\\T.DAT");
    EXPECT_TRUE(report.Ok()) << report.Describe();
    EXPECT_EQ(report.liveRecords, static_cast<std::int64_t>(rows_.size()));
  }
  std::uintmax_t IndexFileSize() { return std::filesystem::file_size(Host("Db/T.IDX")); }

  std::vector<TRow> rows_;
};

engine::TIndexDefinition Def(const std::string& name, std::vector<std::int16_t> fields,
                             bool unique = false, bool descending = false, bool noCase = false,
                             std::uint8_t compression = 0) {
  engine::TIndexDefinition d;
  d.name = name;
  d.fieldNumbers = std::move(fields);
  d.unique = unique;
  d.descending = descending;
  d.caseInsensitive = noCase;
  d.compression = compression;
  return d;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

TEST_F(CursorIndexesTest, AddedIndexesWalkTheRecordsInTheirOrder) {
  MakeTable();
  const auto byNum = [](const TRow& a, const TRow& b) { return a.num < b.num; };
  // A descending index reverses the suffix too: equal Nums come newest first.
  const auto byNumDesc = [](const TRow& a, const TRow& b) {
    return std::tie(a.num, a.id) > std::tie(b.num, b.id);
  };
  const auto byNumName = [](const TRow& a, const TRow& b) {
    return std::tie(a.num, a.name) < std::tie(b.num, b.name);
  };
  const auto byName = [](const TRow& a, const TRow& b) { return a.name < b.name; };
  const auto byNameNoCase = [](const TRow& a, const TRow& b) {
    return Upper(a.name) < Upper(b.name);
  };
  struct TCase {
    engine::TIndexDefinition definition;
    std::vector<int> expected;
  };
  const std::vector<TCase> cases = {
      {Def("ByNum", {kNum}), Expected(byNum)},
      {Def("ByNumDesc", {kNum}, false, true), Expected(byNumDesc)},
      {Def("ByNumName", {kNum, kName}, true), Expected(byNumName)},
      {Def("ByName", {kName}, true), Expected(byName)},
      {Def("ByNameNoCase", {kName}, false, false, true), Expected(byNameNoCase)},
      {Def("DupByte", {kNum, kName}, false, false, false, engine::kCompressDuplicate),
       Expected(byNumName)},
      {Def("TrailByte", {kName}, false, false, false, engine::kCompressTrailing), Expected(byName)},
      {Def("Full", {kName, kNum}, true, false, false, engine::kCompressFull), Expected(byName)},
  };
  {
    auto c = OpenCursor("T", true);
    for (const TCase& k : cases) {
      SCOPED_TRACE(k.definition.name);
      c->AddIndex(k.definition);
      EXPECT_EQ(Walk(*c, k.definition.name), k.expected);
    }
    // Later changes keep the new trees in step.
    AddNumbered(*c, 1000, 7);
    rows_.push_back({1000, 7, "n1000"});
    EXPECT_EQ(Walk(*c, "ByNum"), Expected(byNum));
  }
  ExpectClean();
  auto c = OpenCursor("T");
  for (const TCase& k : cases) EXPECT_EQ(Walk(*c, k.definition.name).size(), rows_.size());
}

TEST_F(CursorIndexesTest, RepeatedKeyInUniqueIndexLeavesTheTableAsItWas) {
  MakeTable();
  struct TCase {
    engine::TIndexDefinition definition;
    const char* why;
  };
  const std::vector<TCase> cases = {
      {Def("U", {kNum}, true), "Num repeats"},
      {Def("U", {kName}, true, false, true), "names equal ignoring case"},
      {Def("U", {kName}, true, true, true, engine::kCompressFull),
       "descending, compressed, no case"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.why);
    {
      auto c = OpenCursor("T", true);
      const int before = c->Table()->IndexFile().SecondaryCount();
      EXPECT_EQ(EngineCodeOf([&] { c->AddIndex(k.definition); }), engine::kErrDuplicateKey);
      EXPECT_EQ(c->Table()->IndexFile().SecondaryCount(), before);
      EXPECT_EQ(EngineCodeOf([&] { c->SelectIndex("U"); }), engine::kErrInvalidIndexName);
      EXPECT_EQ(Walk(*c, "").size(), rows_.size());
    }
    ExpectClean();
  }
}

TEST_F(CursorIndexesTest, RefusedOnSharedOrReadOnlyCursors) {
  MakeTable();
  {
    auto shared = OpenCursor("T");
    EXPECT_EQ(EngineCodeOf([&] { shared->AddIndex(Def("ByNum", {kNum})); }),
              engine::kErrExclusiveNeeded);
    EXPECT_EQ(EngineCodeOf([&] { shared->DeleteIndex("PRIMARY"); }), engine::kErrExclusiveNeeded);
  }
  TDataCursor c(dir_, "T");
  engine::TCursorOptions o;
  o.exclusive = true;
  o.readOnly = true;
  c.SetOptions(o);
  c.Open();
  EXPECT_EQ(EngineCodeOf([&] { c.AddIndex(Def("ByNum", {kNum})); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { c.DeleteIndex("Missing"); }), engine::kErrAccessDenied);
}

TEST_F(CursorIndexesTest, RemovedIndexFreesItsPagesForTheNextIndex) {
  MakeTable();
  {
    auto c = OpenCursor("T", true);
    c->AddIndex(Def("First", {kNum, kName}));
    c->AddIndex(Def("Second", {kName}));
    c->AddIndex(Def("Third", {kNum}));
  }
  ExpectClean();
  const std::uintmax_t size = IndexFileSize();
  {
    auto c = OpenCursor("T", true);
    c->SelectIndex("Third");
    c->DeleteIndex("first");  // any case; the later slots move down
    EXPECT_EQ(c->CurrentIndex(), 2);
    EXPECT_EQ(EngineCodeOf([&] { c->SelectIndex("First"); }), engine::kErrInvalidIndexName);
    EXPECT_EQ(EngineCodeOf([&] { c->DeleteIndex("First"); }), engine::kErrInvalidIndexName);
    EXPECT_EQ(Walk(*c, "Second").size(), rows_.size());
    EXPECT_EQ(Walk(*c, "Third").size(), rows_.size());
  }
  ExpectClean();
  {
    // The same tree again fits in the pages given back.
    auto c = OpenCursor("T", true);
    c->AddIndex(Def("Again", {kNum, kName}));
    EXPECT_EQ(Walk(*c, "Again").size(), rows_.size());
  }
  ExpectClean();
  EXPECT_EQ(IndexFileSize(), size);
}

TEST_F(CursorIndexesTest, RemovedPrimaryIndexLeavesNaturalOrder) {
  MakeTable();
  {
    auto c = OpenCursor("T", true);
    c->AddIndex(Def("ByNum", {kNum}));
    c->DeleteIndex("Primary");
    EXPECT_TRUE(c->NaturalOrder());
    EXPECT_EQ(EngineCodeOf([&] { c->DeleteIndex(""); }), engine::kErrInvalidIndexName);
    AddNumbered(*c, 1, 99);  // Id 1 again: no primary key refuses it now
    rows_.push_back({1, 99, "n1"});
    EXPECT_EQ(Walk(*c, "ByNum").size(), rows_.size());
  }
  ExpectClean();
  auto c = OpenCursor("T");
  EXPECT_TRUE(c->NaturalOrder());
  EXPECT_EQ(c->RecordCount(), static_cast<std::int64_t>(rows_.size()));
}

}  // namespace
