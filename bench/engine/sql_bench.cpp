// SQL statement benchmarks, each run on our engine and on SQLite in the same
// process, in fresh temporary directories that are deleted at the end:
//
//  insert  100,000 executions of one prepared INSERT with five parameters
//          (the catalog's shape with an integer Size in place of the BLOB:
//          FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), Path
//          CHAR(250), Size INTEGER; primary key FileName, FileTime, Path) in
//          one transaction.
//  lookup  100,000 executions of one prepared SELECT by the whole primary key,
//          in random order, each result read.
//  count   SELECT COUNT(*) with a filter on an unindexed column over those
//          100,000 rows, repeated 20 times.
//  join    SELECT a.Id, b.Name FROM a, b WHERE a.K = b.K over a of 100,000
//          rows and b of 1,000 (a.K indexed in both), every row read as it
//          is produced (a row stream, as SQLite steps its statement); ours
//          twice: with the smaller table b driving (the default choice) and
//          with NOJOINOPTIMIZE, a driving and b read by its primary key; and
//          once more copied into a result table and read from its cursor,
//          as the dataset components read a result.
// Floor: half of SQLite's rate on each; goal: SQLite's rate.
//
// Usage: engine_sql_bench [repeats [rows|join|insert]]   (default 3 runs of
// both parts: rows is insert, lookup and count, insert the insert alone (for
// profiling); medians are printed)
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_scratch.h"
#include "engine/sql/sql_prepared.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/paths.h"

namespace {

constexpr int kRows = 100000;
constexpr int kSmallRows = 1000;
constexpr int kCountRepeats = 20;
// Set by the "insert" part: the rows part stops after its insert.
bool gInsertOnly = false;

using orvbench::Clock;
using orvbench::kBenchDrive;
using orvbench::Median;
using orvbench::Scratch;
using orvbench::Seconds;

std::string Name(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "file%08u.dat", (i * 2654435761u) % 100000000u);
  return name;
}
constexpr const char* kPath = "C:\\Users\\me\\Documents\\";
std::int32_t Time(int i) {
  return 0x50000000 + i % 977;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

engine::ExpTree StringValue(const std::string& s, int size) {
  engine::ExpTree t = engine::NewToken();
  t->SetType(engine::kFieldString, 0, size + 1, 0);
  t->SetString(s);
  return t;
}
engine::ExpTree IntValue(std::int32_t v) {
  engine::ExpTree t = engine::NewToken();
  t->SetType(engine::kFieldInt32, 0, 4, 0);
  t->SetInt32(v);
  return t;
}

// This thread's processor time in seconds: beside the wall time it shows how
// much of a phase is spent waiting (for the disk, mostly).
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Times {
  // The insert's commit alone, and the insert's processor time.
  double insertCommit = 0, insertCpu = 0;
  double insert = 0, lookup = 0, count = 0, join = 0, joinFromFirst = 0, joinTable = 0;
};

void OursRows(engine::TDataDirectory* dir, const std::vector<int>& order, Times& t);
void OursJoin(engine::TDataDirectory* dir, Times& t);
void PeerRows(sqlite3* db, const std::vector<int>& order, Times& t);
void PeerJoin(sqlite3* db, Times& t);

// ---- ours ---------------------------------------------------------------------------

void OursExec(engine::TDataDirectory* dir, const std::string& sql) {
  engine::TPreparedStatement s(dir, sql);
  s.Executor().Execute();
}

Times Ours(const std::vector<int>& order, bool rowsPart, bool joinPart) {
  Scratch scratch("orv_sql_bench");
  Times t;
  engine::TDataSession session;
  session.SetPrivateDir(std::string(1, kBenchDrive) + ":\\");
  engine::TDataDirectory* dir = session.OpenDirectory("", std::string(1, kBenchDrive) + ":\\");
  if (rowsPart) OursRows(dir, order, t);
  if (joinPart) OursJoin(dir, t);
  return t;
}

void OursRows(engine::TDataDirectory* dir, const std::vector<int>& order, Times& t) {
  OursExec(dir,
           "CREATE TABLE Back (FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), Path "
           "CHAR(250), Size INTEGER, PRIMARY KEY (FileName, FileTime, Path))");
  {
    engine::TPreparedStatement insert(
        dir, "INSERT INTO Back (FileName, FileTime, isZip, Path, Size) VALUES (?, ?, ?, ?, ?)");
    engine::TQueryExecutor& e = insert.Executor();
    const engine::ExpTree zip = StringValue("N", 1), path = StringValue(kPath, 250);
    const auto start = Clock::now();
    const double cpu = ThreadSeconds();
    dir->StartTransaction();
    for (int i = 0; i < kRows; ++i) {
      e.SetParameter(0, *StringValue(Name(i), 250));
      e.SetParameter(1, *IntValue(Time(i)));
      e.SetParameter(2, *zip);
      e.SetParameter(3, *path);
      e.SetParameter(4, *IntValue(i));
      e.Execute();
    }
    const auto commit = Clock::now();
    dir->Commit();
    t.insertCommit = Seconds(commit);
    t.insert = Seconds(start);
    t.insertCpu = ThreadSeconds() - cpu;
  }
  if (gInsertOnly) return;
  {
    engine::TPreparedStatement select(
        dir, "SELECT Size FROM Back WHERE FileName = ? AND FileTime = ? AND Path = ?");
    engine::TQueryExecutor& e = select.Executor();
    const engine::ExpTree path = StringValue(kPath, 250);
    std::int64_t sum = 0;
    const auto start = Clock::now();
    for (const int i : order) {
      e.SetParameter(0, *StringValue(Name(i), 250));
      e.SetParameter(1, *IntValue(Time(i)));
      e.SetParameter(2, *path);
      engine::TDataCursor* c = e.Execute();
      engine::TDataCursor::TRecordBuffer r(c->RecordSize());
      c->First();
      if (c->Next(&r) == engine::kNavOk) sum += c->GetInteger(r, 1);
    }
    t.lookup = Seconds(start);
    if (sum != static_cast<std::int64_t>(kRows) * (kRows - 1) / 2)
      std::fprintf(stderr, "bad sum\n");
  }
  {
    engine::TPreparedStatement count(dir, "SELECT COUNT(*) FROM Back WHERE Size >= 50000");
    const auto start = Clock::now();
    for (int i = 0; i < kCountRepeats; ++i) count.Executor().Execute();
    t.count = Seconds(start);
  }
}

void OursJoin(engine::TDataDirectory* dir, Times& t) {
  {
    // a with a secondary index on K, made through the cursor.
    engine::TTableDefinition d;
    engine::AppendField(d.fields, "Id", engine::kFieldInt32);
    engine::AppendField(d.fields, "K", engine::kFieldInt32);
    engine::TIndexDefinition primary, byK;
    primary.fieldNumbers = {1};
    byK.name = "ByK";
    byK.fieldNumbers = {2};
    d.indexes = {primary, byK};
    engine::TDataCursor creator(dir, "a");
    engine::TCursorOptions o;
    o.exclusive = true;
    creator.SetOptions(o);
    creator.CreateTable(d);
  }
  OursExec(dir, "CREATE TABLE b (K INTEGER, Name CHAR(20), PRIMARY KEY (K))");
  {
    dir->StartTransaction();
    engine::TPreparedStatement ia(dir, "INSERT INTO a VALUES (?, ?)");
    for (int i = 0; i < kRows; ++i) {
      ia.Executor().SetParameter(0, *IntValue(i));
      ia.Executor().SetParameter(1, *IntValue(i % kSmallRows));
      ia.Executor().Execute();
    }
    engine::TPreparedStatement ib(dir, "INSERT INTO b VALUES (?, ?)");
    for (int k = 0; k < kSmallRows; ++k) {
      ib.Executor().SetParameter(0, *IntValue(k));
      ib.Executor().SetParameter(1, *StringValue("name" + std::to_string(k), 20));
      ib.Executor().Execute();
    }
    dir->Commit();
  }
  const auto stream = [&](const char* sql, double& into) {
    engine::TPreparedStatement join(dir, sql);
    const auto start = Clock::now();
    std::unique_ptr<engine::TRowStream> rows = join.Executor().OpenRows();
    int count = 0;
    std::size_t bytes = 0;
    while (rows->Next()) {
      bytes += rows->Bytes(1).size();
      ++count;
    }
    into = Seconds(start);
    if (count != kRows || bytes == 0) std::fprintf(stderr, "join: %d rows\n", count);
  };
  // b (the smaller table) drives; then a drives, b read by its primary key.
  stream("SELECT a.Id, b.Name FROM a, b WHERE a.K = b.K", t.join);
  stream("SELECT a.Id, b.Name FROM a, b WHERE a.K = b.K NOJOINOPTIMIZE", t.joinFromFirst);
  {
    engine::TPreparedStatement join(dir, "SELECT a.Id, b.Name FROM a, b WHERE a.K = b.K");
    const auto start = Clock::now();
    engine::TDataCursor* c = join.Executor().Execute();
    engine::TDataCursor::TRecordBuffer r(c->RecordSize());
    int rows = 0;
    c->First();
    while (c->Next(&r) == engine::kNavOk) ++rows;
    t.joinTable = Seconds(start);
    if (rows != kRows) std::fprintf(stderr, "join: %d rows\n", rows);
  }
}

// ---- SQLite -------------------------------------------------------------------------

Times Peer(const std::vector<int>& order, bool rowsPart, bool joinPart) {
  Scratch scratch("orv_sql_bench");
  Times t;
  sqlite3* db = nullptr;
  Check(sqlite3_open(scratch.Host("peer.db").c_str(), &db), db, "open");
  if (rowsPart) PeerRows(db, order, t);
  if (joinPart) PeerJoin(db, t);
  sqlite3_close(db);
  return t;
}

void PeerRows(sqlite3* db, const std::vector<int>& order, Times& t) {
  const auto exec = [&](const char* sql) {
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
  };
  exec(
      "CREATE TABLE Back (FileName TEXT, FileTime INTEGER, isZip TEXT, Path TEXT, Size "
      "INTEGER, PRIMARY KEY (FileName, FileTime, Path))");
  sqlite3_stmt* s = nullptr;
  {
    Check(sqlite3_prepare_v2(db, "INSERT INTO Back VALUES (?, ?, ?, ?, ?)", -1, &s, nullptr), db,
          "prepare");
    const auto start = Clock::now();
    const double cpu = ThreadSeconds();
    exec("BEGIN");
    for (int i = 0; i < kRows; ++i) {
      const std::string name = Name(i);
      sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 2, Time(i));
      sqlite3_bind_text(s, 3, "N", -1, SQLITE_STATIC);
      sqlite3_bind_text(s, 4, kPath, -1, SQLITE_STATIC);
      sqlite3_bind_int(s, 5, i);
      Check(sqlite3_step(s), db, "insert");
      sqlite3_reset(s);
    }
    const auto commit = Clock::now();
    exec("COMMIT");
    t.insertCommit = Seconds(commit);
    t.insert = Seconds(start);
    t.insertCpu = ThreadSeconds() - cpu;
    sqlite3_finalize(s);
  }
  if (gInsertOnly) return;
  {
    Check(sqlite3_prepare_v2(
              db, "SELECT Size FROM Back WHERE FileName = ? AND FileTime = ? AND Path = ?", -1, &s,
              nullptr),
          db, "prepare");
    std::int64_t sum = 0;
    const auto start = Clock::now();
    for (const int i : order) {
      const std::string name = Name(i);
      sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 2, Time(i));
      sqlite3_bind_text(s, 3, kPath, -1, SQLITE_STATIC);
      if (sqlite3_step(s) == SQLITE_ROW) sum += sqlite3_column_int(s, 0);
      sqlite3_reset(s);
    }
    t.lookup = Seconds(start);
    sqlite3_finalize(s);
    if (sum != static_cast<std::int64_t>(kRows) * (kRows - 1) / 2)
      std::fprintf(stderr, "bad sum\n");
  }
  {
    Check(sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM Back WHERE Size >= 50000", -1, &s, nullptr),
          db, "prepare");
    const auto start = Clock::now();
    for (int i = 0; i < kCountRepeats; ++i) {
      Check(sqlite3_step(s), db, "count");
      sqlite3_reset(s);
    }
    t.count = Seconds(start);
    sqlite3_finalize(s);
  }
}

void PeerJoin(sqlite3* db, Times& t) {
  const auto exec = [&](const char* sql) {
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
  };
  sqlite3_stmt* s = nullptr;
  exec("CREATE TABLE a (Id INTEGER PRIMARY KEY, K INTEGER)");
  exec("CREATE TABLE b (K INTEGER PRIMARY KEY, Name TEXT)");
  exec("CREATE INDEX ByK ON a (K)");
  exec("BEGIN");
  Check(sqlite3_prepare_v2(db, "INSERT INTO a VALUES (?, ?)", -1, &s, nullptr), db, "prepare");
  for (int i = 0; i < kRows; ++i) {
    sqlite3_bind_int(s, 1, i);
    sqlite3_bind_int(s, 2, i % kSmallRows);
    Check(sqlite3_step(s), db, "insert a");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  Check(sqlite3_prepare_v2(db, "INSERT INTO b VALUES (?, ?)", -1, &s, nullptr), db, "prepare");
  for (int k = 0; k < kSmallRows; ++k) {
    const std::string name = "name" + std::to_string(k);
    sqlite3_bind_int(s, 1, k);
    sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(s), db, "insert b");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  exec("COMMIT");
  {
    Check(sqlite3_prepare_v2(db, "SELECT a.Id, b.Name FROM a, b WHERE a.K = b.K", -1, &s, nullptr),
          db, "prepare");
    const auto start = Clock::now();
    int rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      (void)sqlite3_column_text(s, 1);
      ++rows;
    }
    t.join = t.joinFromFirst = t.joinTable = Seconds(start);
    sqlite3_finalize(s);
    if (rows != kRows) std::fprintf(stderr, "join: %d rows\n", rows);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string part = argc > 2 ? argv[2] : "";
  gInsertOnly = part == "insert";
  const bool rowsPart = part.empty() || part == "rows" || gInsertOnly;
  const bool joinPart = part.empty() || part == "join";
  std::vector<int> order(kRows);
  for (int i = 0; i < kRows; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::vector<Times> ours, peer;
  for (int r = 0; r < repeats; ++r) {
    ours.push_back(Ours(order, rowsPart, joinPart));
    peer.push_back(Peer(order, rowsPart, joinPart));
  }
  const auto median = [](const std::vector<Times>& v, double Times::*m) {
    std::vector<double> x;
    for (const Times& t : v) x.push_back(t.*m);
    return Median(x);
  };
  struct Row {
    const char* name;
    double Times::*member;
    double units;
  } rows[] = {{"insert (rows/s)", &Times::insert, kRows},
              {"lookup (queries/s)", &Times::lookup, kRows},
              {"count (queries/s)", &Times::count, kCountRepeats},
              {"join (rows/s)", &Times::join, kRows},
              {"join, a drives", &Times::joinFromFirst, kRows},
              {"join, result table", &Times::joinTable, kRows}};
  std::printf("SQL statements, median of %d runs\n", repeats);
  std::printf("%-20s %12s %12s %8s\n", "benchmark", "ours", "sqlite", "ratio");
  for (const Row& row : rows) {
    if (median(ours, row.member) == 0) continue;
    const double o = row.units / median(ours, row.member);
    const double p = row.units / median(peer, row.member);
    std::printf("%-20s %12.0f %12.0f %7.2fx\n", row.name, o, p, o / p);
  }
  if (rowsPart) {
    // Where the insert's time goes: its commit (wall) and its processor time.
    const double oc = median(ours, &Times::insertCommit), pc = median(peer, &Times::insertCommit);
    const double ou = median(ours, &Times::insertCpu), pu = median(peer, &Times::insertCpu);
    std::printf("%-20s %12.3f %12.3f\n", " insert, commit (s)", oc, pc);
    std::printf("%-20s %12.3f %12.3f\n", " insert, CPU (s)", ou, pu);
  }
  return 0;
}
