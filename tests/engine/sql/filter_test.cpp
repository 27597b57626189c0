// Filters on real tables: the visible records of a filter are the same
// whether indexes answer it or every record is evaluated, on random tables
// and random filters; prefix and case-insensitive matching; counts while
// records are appended and deleted under an active filter; the limits and
// errors of the filter list.
#include "engine/sql/filter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/storage/data_file.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine::TFilterList;
using engine::TFilterOptions;

// Id INTEGER, Name CHAR(8), Num INTEGER, Code CHAR(4).
enum Field : std::uint32_t { kId = 1, kName, kNum, kCode };

engine::TTableDefinition Definition(bool indexed) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 8);
  engine::AppendField(d.fields, "Num", engine::kFieldInt32);
  engine::AppendField(d.fields, "Code", engine::kFieldString, 4);
  if (!indexed) {
    d.noPrimaryKey = true;
    return d;
  }
  auto index = [&](const char* name, std::int16_t field, bool nocase) {
    engine::TIndexDefinition i;
    i.name = name;
    i.caseInsensitive = nocase;
    i.fieldNumbers = {field};
    d.indexes.push_back(i);
  };
  index("", kId, false);
  index("ByName", kName, false);
  index("ByNum", kNum, false);
  index("ByCode", kCode, true);
  return d;
}

struct Row {
  int id;
  const char* name;  // nullptr: NULL
  bool numNull;
  int num;
  const char* code;
};

class FilterTest : public table_test::TableTest {
 protected:
  std::unique_ptr<TDataCursor> Create(const std::string& name, bool indexed) {
    CreateTable(name, Definition(indexed));
    auto c = OpenCursor(name);
    c->SelectIndex(engine::kNaturalOrder);
    return c;
  }

  static TDataCursor::TRecordBuffer MakeRecord(TDataCursor& c, const Row& row) {
    auto r = c.NewRecord();
    c.PutInteger(r, kId, row.id);
    if (row.name != nullptr)
      c.PutString(r, kName, row.name);
    else
      c.PutNull(r, kName);
    if (row.numNull)
      c.PutNull(r, kNum);
    else
      c.PutInteger(r, kNum, row.num);
    if (row.code != nullptr)
      c.PutString(r, kCode, row.code);
    else
      c.PutNull(r, kCode);
    return r;
  }

  // Record number -> Id of every present record, by a natural-order walk.
  static std::map<std::int32_t, int> Walk(
      TDataCursor& c, std::map<std::int32_t, TDataCursor::TRecordBuffer>* rows = nullptr) {
    std::map<std::int32_t, int> ids;
    c.First();
    TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == engine::kNavOk) {
      ids[c.CurrentRecordNumber()] = static_cast<int>(c.GetInteger(r, kId));
      if (rows != nullptr) (*rows)[c.CurrentRecordNumber()] = r;
    }
    return ids;
  }

  static std::set<int> VisibleIds(TDataCursor& c, const TFilterList& list) {
    std::set<int> out;
    for (const auto& [n, id] : Walk(c))
      if (list.Visible().Test(n)) out.insert(id);
    EXPECT_EQ(list.VisibleCount(), out.size());
    return out;
  }

  // The Ids of the records on which the filter's tree evaluates true.
  static std::set<int> EvaluatedIds(TDataCursor& c, TFilterList& list,
                                    const engine::TFilter& filter) {
    std::map<std::int32_t, TDataCursor::TRecordBuffer> rows;
    std::set<int> out;
    for (const auto& [n, id] : Walk(c, &rows))
      if (list.Passes(filter, rows[n], n)) out.insert(id);
    return out;
  }
};

// ---- Random tables and random filters ------------------------------------------------

const char* const kNames[] = {nullptr, "a", "ab", "abc", "abd", "Ab", "AB", "b", "B", "ba", "ab*"};
const char* const kCodes[] = {nullptr, "x", "X", "xy", "XY", "y"};

std::string RandomAtom(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto num = [&] { return std::to_string(pick(7) - 3); };
  auto name = [&] {
    const char* n = kNames[1 + pick(10)];
    return std::string("'") + n + "'";
  };
  const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
  switch (pick(12)) {
    case 0:
      return std::string("Num ") + ops[pick(6)] + " " + num();
    case 1:
      return std::string("Name ") + ops[pick(6)] + " " + name();
    case 2:
      return std::string("Code ") + ops[pick(2)] + " '" + kCodes[1 + pick(5)] + "'";
    case 3:
      return "Name = 'a*'";
    case 4:
      return "Num IN (" + num() + ", " + num() + ")";
    case 5:
      return "Num NOT IN (" + num() + ", " + num() + ")";
    case 6:
      return "Num BETWEEN " + num() + " AND " + num();
    case 7:
      return "Name NOT BETWEEN " + name() + " AND " + name();
    case 8:
      return "Num = NULL";
    case 9:
      return "Name <> NULL";
    case 10:
      return "Num + 1 > " + num();  // no index answers this
    default:
      return num() + " < Num";  // turned around
  }
}

std::string RandomFilter(std::mt19937& rng, int depth) {
  if (depth == 0 || rng() % 3 == 0) return RandomAtom(rng);
  switch (rng() % 3) {
    case 0:
      return "NOT (" + RandomFilter(rng, depth - 1) + ")";
    case 1:
      return "(" + RandomFilter(rng, depth - 1) + ") AND (" + RandomFilter(rng, depth - 1) + ")";
    default:
      return "(" + RandomFilter(rng, depth - 1) + ") OR (" + RandomFilter(rng, depth - 1) + ")";
  }
}

TEST_F(FilterTest, IndexedAndEvaluatedFiltersShowTheSameRecords) {
  std::mt19937 rng(20261210);
  for (int table = 0; table < 3; ++table) {
    auto indexed = Create("I" + std::to_string(table), true);
    auto plain = Create("P" + std::to_string(table), false);
    const int rows = 40 + table * 60;
    std::vector<int> ids;
    for (int i = 1; i <= rows; ++i) {
      Row row{i, kNames[rng() % 11], rng() % 6 == 0, static_cast<int>(rng() % 7) - 3,
              kCodes[rng() % 6]};
      for (TDataCursor* c : {indexed.get(), plain.get()}) {
        auto r = MakeRecord(*c, row);
        c->Insert(r);
      }
    }
    // Delete every fifth row from both tables.
    for (TDataCursor* c : {indexed.get(), plain.get()}) {
      std::map<std::int32_t, TDataCursor::TRecordBuffer> records;
      Walk(*c, &records);
      for (const auto& [n, r] : records) {
        if (c->GetInteger(r, kId) % 5 != 0) continue;
        c->First();
        TDataCursor::TRecordBuffer cur;
        while (c->Next(&cur) == engine::kNavOk && c->CurrentRecordNumber() != n) {
        }
        c->Delete(cur);
      }
    }
    TFilterList onIndexed(*indexed);
    TFilterList onPlain(*plain);
    int indexedFilters = 0;
    for (int k = 0; k < 60; ++k) {
      const std::string text = RandomFilter(rng, 2);
      TFilterOptions options = TFilterOptions::FromBits(static_cast<int>(rng() % 4));
      SCOPED_TRACE(text + " options " + std::to_string(options.caseInsensitive) +
                   std::to_string(options.noPartialCompare));
      auto* a = onIndexed.AddText(text, options);
      auto* b = onPlain.AddText(text, options);
      EXPECT_EQ(b->OptimisationLevel(), 0);
      if (a->OptimisationLevel() > 0) ++indexedFilters;
      onIndexed.Activate(a);
      onPlain.Activate(b);
      const std::set<int> expected = EvaluatedIds(*indexed, onIndexed, *a);
      EXPECT_EQ(VisibleIds(*indexed, onIndexed), expected);
      EXPECT_EQ(VisibleIds(*plain, onPlain), expected);
      onIndexed.Remove(a);
      onPlain.Remove(b);
    }
    EXPECT_GT(indexedFilters, 20);  // the index paths were exercised
  }
}

// ---- Matching ------------------------------------------------------------------------------

TEST_F(FilterTest, PrefixAndCaseInsensitiveMatches) {
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "plain");
    auto c = Create(indexed ? "MI" : "MP", indexed);
    const Row rows[] = {{1, "abc", false, 1, "x"},  {2, "abd", false, 2, "X"},
                        {3, "ab*", false, 3, "xy"}, {4, "Abc", false, 1, "XY"},
                        {5, "b", true, 0, nullptr}, {6, nullptr, false, 0, "y"}};
    for (const Row& row : rows) {
      auto r = MakeRecord(*c, row);
      c->Insert(r);
    }
    struct Case {
      const char* text;
      int bits;
      std::set<int> ids;
      int indexedLevel;
    };
    const Case cases[] = {
        {"Name = 'ab*'", 0, {1, 2, 3}, 2},
        {"Name = 'ab*'", engine::kFilterOptionNoPartialCompare, {3}, 2},
        {"Name = 'ABC'", engine::kFilterOptionCaseInsensitive, {1, 4}, 0},  // no NOCASE index
        {"Name = 'abc'", 0, {1}, 2},
        {"Name <> 'ab*'", 0, {4, 5, 6}, 2},
        {"Code = 'x'", engine::kFilterOptionCaseInsensitive, {1, 2}, 2},
        {"Code = 'X*'", engine::kFilterOptionCaseInsensitive, {1, 2, 3, 4}, 2},
        {"Code = 'x'", 0, {1}, 0},  // case-sensitive, the index ignores case
        // UPPER(Code) through the case-insensitive index, whose keys are upper case.
        {"UPPER(Code) = 'XY'", 0, {3, 4}, 2},
        {"UPPER(Code) = 'xy'", 0, {}, 0},  // never equal: evaluated
        {"UPPER(Code) <> 'X'", 0, {3, 4, 5, 6}, 2},
        {"UPPER(Code) IN ('X', 'Y')", 0, {1, 2, 6}, 2},
        {"UPPER(Code) > 'X'", 0, {3, 4, 6}, 0},  // ordered: evaluated
        {"UPPER(Code) = 'xy'", engine::kFilterOptionCaseInsensitive, {3, 4}, 2},
        {"Name <> NULL", 0, {1, 2, 3, 4, 5}, 2},
        {"Name = NULL", 0, {6}, 2},
        {"'abd' <= Name", 0, {2, 5}, 2},
        // A NULL number is unequal to every number and never ordered.
        {"Num <> 1", 0, {2, 3, 5, 6}, 2},
        {"Num < 2", 0, {1, 4, 6}, 2},
        {"NOT (Num >= 2) AND Num <> 0", 0, {1, 4, 5}, 2},
        {"Num + 0 = 1 OR Num BETWEEN 2 AND 3", 0, {1, 2, 3, 4}, 0},
        {"Num <> 1 AND Name LIKE 'a%'", 0, {2, 3}, 1},
    };
    TFilterList list(*c);
    for (const Case& k : cases) {
      SCOPED_TRACE(k.text);
      auto* f = list.AddText(k.text, TFilterOptions::FromBits(k.bits));
      EXPECT_EQ(f->OptimisationLevel(), indexed ? k.indexedLevel : 0);
      list.Activate(f);
      EXPECT_EQ(VisibleIds(*c, list), k.ids);
      list.Remove(f);
    }
  }
}

TEST_F(FilterTest, IndexedEqualityReadsNoRecords) {
  auto c = Create("R", true);
  for (int i = 1; i <= 300; ++i) {
    auto r = MakeRecord(*c, {i, "n", false, i % 10, "x"});
    c->Insert(r);
  }
  c.reset();
  auto fresh = OpenCursor("R");
  fresh->SelectIndex(engine::kNaturalOrder);
  TFilterList list(*fresh);
  const std::uint64_t before = fresh->Table()->DataFile().ReadCount();
  auto* f = list.AddText("Num = 3 OR Num IN (4, 5)", {});
  EXPECT_EQ(f->OptimisationLevel(), 2);
  list.Activate(f);
  EXPECT_EQ(list.VisibleCount(), 90u);
  EXPECT_EQ(fresh->Table()->DataFile().ReadCount(), before);
  // With a part no index answers, only the 30 records left by Num = 3 are read.
  auto* g = list.AddText("Num = 3 AND Id + 0 > 150", {});
  EXPECT_EQ(g->OptimisationLevel(), 1);
  list.Deactivate(f);
  list.Activate(g);
  EXPECT_EQ(list.VisibleCount(), 15u);
}

// ---- Upkeep, procedures, ordering and limits ------------------------------------------------

TEST_F(FilterTest, AppendsAndDeletesFollowAnActiveFilter) {
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "plain");
    auto c = Create(indexed ? "UI" : "UP", indexed);
    for (int i = 1; i <= 10; ++i) {
      auto r = MakeRecord(*c, {i, "n", false, i, "x"});
      c->Insert(r);
    }
    TFilterList list(*c);
    auto* f = list.AddText("Num > 5", {});
    list.Activate(f);
    EXPECT_EQ(list.VisibleCount(), 5u);

    auto passing = MakeRecord(*c, {11, "n", false, 50, "x"});
    c->Insert(passing);
    list.RecordChanged(c->CurrentRecordNumber(), passing);
    EXPECT_EQ(list.VisibleCount(), 6u);
    auto failing = MakeRecord(*c, {12, "n", false, 1, "x"});
    c->Insert(failing);
    list.RecordChanged(c->CurrentRecordNumber(), failing);
    EXPECT_EQ(list.VisibleCount(), 6u);

    // Delete the visible record with Id 7.
    c->First();
    TDataCursor::TRecordBuffer r;
    while (c->Next(&r) == engine::kNavOk && c->GetInteger(r, kId) != 7) {
    }
    const std::int32_t n = c->CurrentRecordNumber();
    c->Delete(r);
    list.RecordDeleted(n);
    EXPECT_EQ(list.VisibleCount(), 5u);
    EXPECT_EQ(VisibleIds(*c, list), (std::set<int>{6, 8, 9, 10, 11}));

    // A modified record that stops passing leaves; the upkeep agrees with a rebuild.
    c->First();
    while (c->Next(&r) == engine::kNavOk && c->GetInteger(r, kId) != 8) {
    }
    c->PutInteger(r, kNum, 0);
    const std::int32_t m = c->CurrentRecordNumber();
    c->Modify(r);
    list.RecordChanged(m, r);
    const std::set<int> kept = VisibleIds(*c, list);
    EXPECT_EQ(kept, (std::set<int>{6, 9, 10, 11}));
    list.Recompute();
    EXPECT_EQ(VisibleIds(*c, list), kept);
  }
}

TEST_F(FilterTest, ProcedureFiltersSeeOnlyRecordsPassingEarlierFilters) {
  auto c = Create("PR", true);
  for (int i = 1; i <= 20; ++i) {
    auto r = MakeRecord(*c, {i, "n", false, i, "x"});
    c->Insert(r);
  }
  TFilterList list(*c);
  std::set<int> seen;
  int user = 0;
  auto* proc = list.AddProcedure(
      [&](void* data, const std::vector<std::uint8_t>& record, std::int32_t) {
        EXPECT_EQ(data, &user);
        const int num = static_cast<int>(c->GetInteger(record, kNum));
        seen.insert(num);
        return num % 2 == 0;
      },
      &user, {});
  // Added after the procedure, but placed before it: it has no ordering flag.
  auto* expr = list.AddText("Num + 0 <= 10", {});
  list.ActivateAll();
  EXPECT_EQ(VisibleIds(*c, list), (std::set<int>{2, 4, 6, 8, 10}));
  EXPECT_EQ(*seen.rbegin(), 10);  // records failing the expression were not offered
  list.Deactivate(expr);
  EXPECT_EQ(list.VisibleCount(), 10u);
  list.Deactivate(proc);
  EXPECT_EQ(list.VisibleCount(), 20u);
}

TEST_F(FilterTest, LimitsAndErrors) {
  auto c = Create("E", true);
  TFilterList list(*c);
  auto expectCode = [](int code, const std::function<void()>& action) {
    try {
      action();
      ADD_FAILURE() << "no error " << code;
    } catch (const engine::EZORVADEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), code) << e.what();
    }
  };
  // Every refused text is 10051 with the table's name and the reason.
  const struct {
    const char* text;
    const char* reason;
  } refused[] = {
      {"", "filter expression is empty"},
      {"Num + 1", "filter expression must be a boolean expression"},
      {"Num = 1 1", "Unknown or unexpected symbol '1' found in filter expression"},
      {"Num = (1", "Right parentheses expected, instead found '' in filter expression"},
      {"Nope = 1", "Nope"},
  };
  for (const auto& k : refused) {
    try {
      list.AddText(k.text, {});
      ADD_FAILURE() << "accepted: " << k.text;
    } catch (const engine::EZORVADEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), engine::kErrFilter) << k.text;
      const std::string message = e.what();
      EXPECT_NE(message.find("Filter error for table 'E.DAT' - "), std::string::npos) << message;
      EXPECT_NE(message.find(k.reason), std::string::npos) << message;
    }
  }
  EXPECT_EQ(list.Size(), 0u);  // failed texts leave the list as it was
  for (std::size_t i = 0; i < TFilterList::kMaxFilters; ++i) list.AddText("Num = 1", {});
  expectCode(engine::kErrTooManyFilters, [&] { list.AddText("Num = 1", {}); });
  expectCode(engine::kErrTooManyFilters, [&] { list.AddProcedure(nullptr, nullptr, {}); });
  int other = 0;
  expectCode(engine::kErrInvalidFilterHandle,
             [&] { list.Activate(reinterpret_cast<engine::TFilterHandle>(&other)); });
  list.RemoveAll();
  auto* f = list.AddText("Num = 1", {});
  expectCode(engine::kErrInvalidFilterHandle, [&] {  // only active filters take a new tree
    list.ReplaceExpression(f, engine::CopyTree(*f->Tree()));
  });
}

}  // namespace
