// Filter results that hang on values rather than on the tree's shape, each
// checked on a table with indexes and on the same rows without any: case
// folding of letters beyond ASCII, integer arithmetic past the range of its
// type, a partial-match constant left empty, and constants of another type
// in IN and BETWEEN lists (which an index answers when they convert exactly).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/sql/filter.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using engine::TFilterList;
using engine::TFilterOptions;

constexpr int kCaseInsensitive = engine::kFilterOptionCaseInsensitive;

// One filter and what it must show: the Ids, and the optimisation level on
// the indexed table (the plain one always evaluates, level 0).
struct Case {
  const char* text;
  int bits;
  std::set<int> ids;
  int indexedLevel;
};

using FillRow = std::function<void(TDataCursor&, TDataCursor::TRecordBuffer&, int row)>;

class FilterValuesTest : public table_test::TableTest {
 protected:
  // Field 1 of every table here is Id INTEGER; `indexes` apply to the indexed
  // table only (the plain one has no primary key).
  void Check(const std::string& name, engine::TTableDefinition definition, int rows,
             const FillRow& fill, const std::vector<Case>& cases) {
    for (bool indexed : {true, false}) {
      SCOPED_TRACE(indexed ? "indexed" : "plain");
      engine::TTableDefinition d = definition;
      if (!indexed) {
        d.indexes.clear();
        d.noPrimaryKey = true;
      }
      const std::string table = name + (indexed ? "I" : "P");
      CreateTable(table, d);
      auto c = OpenCursor(table);
      for (int row = 1; row <= rows; ++row) {
        auto r = c->NewRecord();
        c->PutInteger(r, 1, row);
        fill(*c, r, row);
        c->Insert(r);
      }
      c->SelectIndex(engine::kNaturalOrder);
      TFilterList& list = c->Filters();  // the cursor walks what it shows
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

  static std::set<int> VisibleIds(TDataCursor& c, const TFilterList& list) {
    std::set<int> out;
    c.First();
    TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == engine::kNavOk) out.insert(static_cast<int>(c.GetInteger(r, 1)));
    EXPECT_EQ(list.VisibleCount(), out.size());
    return out;
  }

  static engine::TIndexDefinition Index(const char* name, std::int16_t field, bool nocase = false) {
    engine::TIndexDefinition i;
    i.name = name;
    i.unique = name[0] == '\0';
    i.caseInsensitive = nocase;
    i.fieldNumbers = {field};
    return i;
  }
};

// ---- Case folding -----------------------------------------------------------------------

// One mapping of case everywhere, the collation's (language 0 maps as
// English, United States): the comparison that ignores case, UPPER, LOWER and
// the keys of a case-insensitive index.
TEST_F(FilterValuesTest, CaseFoldingBeyondAsciiIsTheSameWithAndWithoutAnIndex) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 10);
  d.indexes = {Index("", 1), Index("ByName", 2, true)};
  // "\xC3\x89" is E with acute (upper case), "\xC3\xA9" the same in lower case.
  const char* const names[] = {"\xC3\x89mile", "\xC3\xA9mile", "EMILE", "emile", nullptr};
  const std::vector<Case> cases = {
      {"Name = '\xC3\xA9mile'", kCaseInsensitive, {1, 2}, 2},
      {"Name = '\xC3\x89MILE'", kCaseInsensitive, {1, 2}, 2},
      {"Name = 'emile'", kCaseInsensitive, {3, 4}, 2},
      {"Name <> '\xC3\xA9MILE'", kCaseInsensitive, {3, 4, 5}, 2},
      {"Name = '\xC3\xA9m*'", kCaseInsensitive, {1, 2}, 2},
      {"Name = '\xC3\xA9mile'", 0, {2}, 0},
      {"UPPER(Name) = '\xC3\x89MILE'", 0, {1, 2}, 2},
      {"UPPER(Name) = '\xC3\xA9MILE'", 0, {}, 0},  // UPPER never gives a lower-case letter
      {"UPPER(Name) IN ('\xC3\x89MILE', 'X')", 0, {1, 2}, 2},
      {"LOWER(Name) = '\xC3\xA9mile'", 0, {1, 2}, 0},
      {"LOWER(Name) = 'emile'", 0, {3, 4}, 0},
      {"Name LIKE '\xC3\x89%'", kCaseInsensitive, {1}, 0},
  };
  Check(
      "Fold", d, 5,
      [&](TDataCursor& c, TDataCursor::TRecordBuffer& r, int row) {
        if (names[row - 1] != nullptr) c.PutString(r, 2, names[row - 1]);
      },
      cases);
}

// A partial-match constant that is only the star leaves the empty string,
// compared over its whole length: no stored name is empty (an empty name is
// stored as NULL), so = matches nothing and <> everything, NULL rows too.
TEST_F(FilterValuesTest, StarAloneIsTheEmptyStringNotNull) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 10);
  d.indexes = {Index("", 1), Index("ByName", 2), Index("ByNameNoCase", 2, true)};
  const std::vector<Case> cases = {
      {"Name = '*'", 0, {}, 2},
      {"Name <> '*'", 0, {1, 2, 3}, 2},
      {"Name = '*'", kCaseInsensitive, {}, 2},
      {"Name = '*'", engine::kFilterOptionNoPartialCompare, {2}, 2},  // the literal *
      {"Name = NULL", 0, {3}, 2},
  };
  Check(
      "Star", d, 3,
      [&](TDataCursor& c, TDataCursor::TRecordBuffer& r, int row) {
        if (row < 3) c.PutString(r, 2, row == 1 ? "a" : "*");
      },
      cases);
}

// ---- Integer arithmetic ------------------------------------------------------------------

// Sums, differences, products, signs and ABS of integers keep their exact
// value when it leaves the range of their type, instead of wrapping.
TEST_F(FilterValuesTest, IntegerArithmeticKeepsTheExactValue) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Cnt", engine::kFieldInt32);
  engine::AppendField(d.fields, "W", engine::kFieldUInt16);
  engine::AppendField(d.fields, "S", engine::kFieldInt16);
  d.indexes = {Index("", 1), Index("ByCnt", 2), Index("ByW", 3)};
  struct Values {
    bool cntNull;
    std::int64_t cnt, w, s;
  };
  const Values rows[] = {{false, 2147483647, 0, -32768},
                         {false, -2147483647 - 1, 1, 32767},
                         {false, 5, 65535, 1},
                         {true, 0, 3, 0},
                         {false, -3, 60003, -1}};
  const std::vector<Case> cases = {
      {"Cnt + 1 < 0", 0, {2, 5}, 0},
      {"Cnt + 1 = 2147483648", 0, {1}, 0},
      {"Cnt - 1 < -2147483648", 0, {2}, 0},
      {"ABS(Cnt) < 0", 0, {}, 0},
      {"ABS(Cnt) = 2147483648", 0, {2}, 0},
      {"-Cnt > 0", 0, {2, 5}, 0},
      {"Cnt * 2 < 0", 0, {2, 5}, 0},
      {"Cnt * 2 = 4294967294", 0, {1}, 0},
      {"Cnt * Cnt * Cnt > 0", 0, {1, 3}, 0},           // past 64 bits too
      {"(Cnt + 1) - 1 = Cnt", 0, {1, 2, 3, 4, 5}, 0},  // NULL = NULL holds
      {"2147483647 + 1 < 0", 0, {}, 0},
      {"2147483647 + 1 > 0", 0, {1, 2, 3, 4, 5}, 0},
      {"W - 2 > 60000", 0, {3, 5}, 0},
      {"W - 2 < 0", 0, {1, 2}, 0},
      {"-S > 0", 0, {1, 5}, 0},
      {"ABS(S) = 32768", 0, {1}, 0},
      // Under AND an index narrows the records first; the answer is the same.
      {"Cnt > 0 AND Cnt + 1 < 0", 0, {}, 1},
      {"Cnt < 0 AND -Cnt > 2147483647", 0, {2}, 1},
  };
  Check(
      "Wide", d, 5,
      [&](TDataCursor& c, TDataCursor::TRecordBuffer& r, int row) {
        const Values& v = rows[row - 1];
        if (!v.cntNull) c.PutInteger(r, 2, v.cnt);
        c.PutInteger(r, 3, v.w);
        c.PutInteger(r, 4, v.s);
      },
      cases);
}

// ---- Constants of another type ------------------------------------------------------------

// Integer literals against SMALLINT, WORD, BCD and FLOAT columns, and lists
// holding NULL, are answered from the index when every constant converts to
// the column's type without changing its value; otherwise evaluated.
TEST_F(FilterValuesTest, ListsAndBoundsConvertedExactlyUseTheIndex) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "S", engine::kFieldInt16);
  engine::AppendField(d.fields, "W", engine::kFieldUInt16);
  engine::AppendField(d.fields, "B", engine::kFieldBcd).SetScale(2);
  engine::AppendField(d.fields, "F", engine::kFieldFloat);
  d.indexes = {Index("", 1), Index("ByS", 2), Index("ByW", 3), Index("ByB", 4), Index("ByF", 5)};
  // Row n holds n - 1 in every column; row 5 holds NULLs.
  const std::vector<Case> cases = {
      {"S IN (1, 3)", 0, {2, 4}, 2},
      {"S NOT IN (1)", 0, {1, 3, 4, 5}, 2},
      {"S BETWEEN 1 AND 2", 0, {2, 3}, 2},
      {"S NOT BETWEEN 1 AND 2", 0, {1, 4, 5}, 2},
      {"S IN (1, NULL)", 0, {2, 5}, 2},
      {"S NOT IN (2, NULL)", 0, {1, 2, 4}, 2},
      {"W IN (0, 3)", 0, {1, 4}, 2},
      {"W BETWEEN 1 AND 70000", 0, {2, 3, 4}, 0},  // 70000 is no WORD
      {"B IN (1, 2)", 0, {2, 3}, 2},
      {"B BETWEEN 1 AND 2", 0, {2, 3}, 2},
      {"F IN (0, 2)", 0, {1, 3}, 2},
      {"F NOT BETWEEN 1 AND 2", 0, {1, 4, 5}, 2},
      {"S IN (1.5, 2)", 0, {3}, 0},  // 1.5 is no SMALLINT
      {"S IN (70000)", 0, {}, 0},
  };
  Check(
      "Conv", d, 5,
      [&](TDataCursor& c, TDataCursor::TRecordBuffer& r, int row) {
        if (row == 5) return;
        for (std::uint32_t field = 2; field <= 5; ++field) c.PutInteger(r, field, row - 1);
      },
      cases);
}

}  // namespace
