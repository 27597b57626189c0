// Key probes and in-memory results: a SELECT that reads a table through an
// index gives the rows and the order that the same condition as a filter
// gives, joins that probe their inner table (and read it into memory after
// enough probes) give the rows of the nested loops, and one prepared SELECT
// whose results change size moves between the in-memory and the on-disk
// result table without losing rows.
#include <algorithm>

#include "engine/sql/sql_test_util.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int kRows = 60;
constexpr int kKeys = 20;  // t.K and u.K run over 0..kKeys-1

// t (Name CHAR(8), N INTEGER, K INTEGER; primary key Name, N; an index on
// K), whose deleted records were reused so that no index's order is the
// record order; u (K INTEGER primary key, Label CHAR(6)).
class ProbeTest : public sql_test::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    engine::TTableDefinition d;
    engine::AppendField(d.fields, "Name", engine::kFieldString, 8);
    engine::AppendField(d.fields, "N", engine::kFieldInt32);
    engine::AppendField(d.fields, "K", engine::kFieldInt32);
    engine::TIndexDefinition primary, byK;
    primary.fieldNumbers = {1, 2};
    byK.name = "ByK";
    byK.fieldNumbers = {3};
    d.indexes = {primary, byK};
    CreateTable("t", d);
    Exec("CREATE TABLE u (K INTEGER, Label CHAR(6), PRIMARY KEY (K))");
    const char* const names[] = {"b", "a", "B", "c", "ab"};
    for (int i = kRows; i >= 1; --i) Insert(names[i % 5], i, i % kKeys);
    Exec("DELETE FROM t WHERE N <= 10");
    for (int i = 1; i <= 10; ++i) Insert(names[(i + 1) % 5], 100 + i, (i * 7) % kKeys);
    for (int k = 0; k < kKeys; ++k)
      Exec("INSERT INTO u VALUES (" + std::to_string(k) + ", 'l" + std::to_string(k) + "')");
  }
  void Insert(const std::string& name, int n, int k) {
    Exec("INSERT INTO t VALUES ('" + name + "', " + std::to_string(n) + ", " + std::to_string(k) +
         ")");
  }
  // The rows of `where` over t through the live cursor with the condition
  // as its filter: every row of the table's visible records, in their order.
  Lines Filtered(const std::string& where) {
    engine::TStatementOptions live;
    live.requestLive = true;
    return Query("SELECT * FROM t WHERE " + where, live);
  }
};

TEST_F(ProbeTest, ProbedRowsAndOrderAreTheFiltersOnes) {
  const char* const conditions[] = {
      "K = 3",                  // secondary index, several records
      "Name = 'b'",             // the primary index's first field
      "Name = 'b' AND N = 55",  // both primary fields: one record
      "N = 55 AND Name = 'b'",  // the same, written the other way
      "Name = 'B'",             // case-sensitive: not the 'b' rows
      "Name = 'a' AND K > 5",   // a probe and a condition tested per record
      "K = 3 OR K = 4",         // no probe: stays a filter
      "Name = 'a*'",            // a prefix: stays a filter
      "K = 3.5",                // a constant the key cannot hold
      "K = NULL",               // NULL keys: stays a filter
      "Name = 'zz'",            // no record
      "3 = K",                  // turned around first
  };
  for (const char* where : conditions) {
    EXPECT_EQ(Query(std::string("SELECT * FROM t WHERE ") + where), Filtered(where)) << where;
  }
}

TEST_F(ProbeTest, ParametersProbeAtEveryExecution) {
  engine::TPreparedStatement s(dir_, "SELECT N FROM t WHERE Name = ? AND N = ?");
  for (const auto& [name, n, found] :
       {std::tuple{"b", 55, true}, {"a", 56, true}, {"b", 56, false}, {"c", 107, true}}) {
    engine::ExpTree p0 = engine::NewToken(), p1 = engine::NewToken();
    p0->SetType(engine::kFieldString, 0, 9, 0);
    p0->SetString(name);
    p1->SetType(engine::kFieldInt32, 0, 4, 0);
    p1->SetInt32(n);
    s.Executor().SetParameter(0, *p0);
    s.Executor().SetParameter(1, *p1);
    engine::TDataCursor* c = s.Executor().Execute();
    ASSERT_NE(c, nullptr);
    const Lines want = found ? Lines{"N", std::to_string(n)} : Lines{"N"};
    EXPECT_EQ(sql_test::ResultLines(*c), want) << name << " " << n;
    EXPECT_EQ(s.Executor().RowsAffected(), found ? 1 : 0);
  }
}

// Every row of t with its u row, in the order of the loops: t drives with
// NOJOINOPTIMIZE (in its primary order, u probed by key at each row, read
// into memory after 16 probes); u, the smaller, drives otherwise (t probed
// through ByK, its records in record-number order).
TEST_F(ProbeTest, JoinsThroughProbesKeepTheLoopOrder) {
  Lines tOrder = Query("SELECT Name, N, K FROM t");
  Lines byRecord = Filtered("K >= 0");
  ASSERT_EQ(tOrder.size(), static_cast<std::size_t>(kRows + 1));
  Lines tDrives{"Name\tN\tLabel"}, uDrives{"Name\tN\tLabel"};
  const auto field = [](const std::string& line, int i) {
    std::size_t from = 0;
    for (int k = 0; k < i; ++k) from = line.find('\t', from) + 1;
    return line.substr(from, line.find('\t', from) - from);
  };
  // t without conditions comes in its primary key's order (Name bytewise, then N).
  for (std::size_t i = 2; i < tOrder.size(); ++i) {
    const auto key = [&](const std::string& line) {
      return std::pair{field(line, 0), std::stoi(field(line, 1))};
    };
    EXPECT_LT(key(tOrder[i - 1]), key(tOrder[i])) << tOrder[i];
  }
  for (std::size_t i = 1; i < tOrder.size(); ++i)
    tDrives.push_back(field(tOrder[i], 0) + "\t" + field(tOrder[i], 1) + "\tl" +
                      field(tOrder[i], 2));
  for (int k = 0; k < kKeys; ++k)
    for (std::size_t i = 1; i < byRecord.size(); ++i)
      if (field(byRecord[i], 2) == std::to_string(k))
        uDrives.push_back(field(byRecord[i], 0) + "\t" + field(byRecord[i], 1) + "\tl" +
                          std::to_string(k));
  EXPECT_EQ(Query("SELECT t.Name, t.N, u.Label FROM t, u WHERE t.K = u.K NOJOINOPTIMIZE"), tDrives);
  EXPECT_EQ(Query("SELECT t.Name, t.N, u.Label FROM t, u WHERE u.K = t.K"), uDrives);
}

TEST_F(ProbeTest, AChangeBetweenExecutionsIsSeen) {
  engine::TPreparedStatement s(dir_,
                               "SELECT t.N, u.Label FROM t, u WHERE t.K = u.K AND t.N = 55 "
                               "NOJOINOPTIMIZE");
  EXPECT_EQ(sql_test::ResultLines(*s.Executor().Execute()), (Lines{"N\tLabel", "55\tl15"}));
  Exec("UPDATE u SET Label = 'new' WHERE K = 15");
  EXPECT_EQ(sql_test::ResultLines(*s.Executor().Execute()), (Lines{"N\tLabel", "55\tnew"}));
}

// Results of at most 256 rows are kept in memory, larger ones in the result
// table on disk; each execution's cursor holds exactly its own rows.
TEST_F(ProbeTest, ResultsMoveBetweenMemoryAndDisk) {
  for (int i = 0; i < 300; ++i)
    Exec("INSERT INTO u VALUES (" + std::to_string(1000 + i) + ", 'x')");
  engine::TPreparedStatement s(dir_, "SELECT K FROM u WHERE K < ?");
  for (const int below : {3, 1200, 5, 0, 1300, 1}) {
    engine::ExpTree p = engine::NewToken();
    p->SetType(engine::kFieldInt32, 0, 4, 0);
    p->SetInt32(below);
    s.Executor().SetParameter(0, *p);
    engine::TDataCursor* c = s.Executor().Execute();
    ASSERT_NE(c, nullptr);
    const int expected = below <= kKeys ? below : kKeys + (below - 1000);
    EXPECT_EQ(s.Executor().RowsAffected(), expected) << below;
    EXPECT_EQ(c->RecordCount(), expected) << below;
    Lines lines = sql_test::ResultLines(*c);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(expected) + 1);
    if (expected > 0) {
      EXPECT_EQ(lines[1], "0");
    }
  }
}

}  // namespace
