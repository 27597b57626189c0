// Filtered count on a 1,000,000-row table: our filters (bitmap from an index
// range, and record-by-record evaluation without an index) side by side with
// SQLite's SELECT COUNT(*) ... WHERE on the same data, as a black-box peer.
//
// Data: Id INTEGER (1..N), Num INTEGER (Id mod 1000), Name CHAR(16). The
// indexed table has the primary key Id and a secondary index on Num; the
// plain table has no index. The condition Num = 7 matches N / 1000 rows.
// Each figure is the median of kRuns runs in thread CPU time on an open
// cursor (SQLite: an open connection); one run installs the filter in the
// cursor's filter list, which builds the visible records, and reads the
// cursor's record count (SQLite: prepares, steps and finalizes the
// statement); removing the filter is not timed. The cursor keeps its present
// records from its open on.
// Everything is written into a fresh temporary directory, removed at the end.
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/filter.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/paths.h"

namespace {

constexpr int kDefaultRows = 1000000;
constexpr int kNumModulus = 1000;
constexpr int kMatchValue = 7;
constexpr int kRuns = 21;
constexpr int kNameChars = 16;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Median seconds of kRuns runs; `result` receives the last count; `after`
// (untimed) tidies up after each run.
double Median(
    const std::function<long()>& run, long& result, const std::function<void()>& after = [] {}) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const double start = ThreadSeconds();
    result = run();
    times.push_back(ThreadSeconds() - start);
    after();
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

engine::TTableDefinition Definition(bool indexed) {
  engine::TTableDefinition d;
  auto field = [&](const char* name, std::uint8_t type, std::uint8_t size) {
    engine::TFieldDefinition f;
    f.SetNumber(static_cast<std::int16_t>(d.fields.size() + 1));
    f.SetName(name);
    f.SetType(type);
    f.SetSize(size);
    d.fields.push_back(f);
  };
  field("Id", engine::kFieldInt32, 0);
  field("Num", engine::kFieldInt32, 0);
  field("Name", engine::kFieldString, kNameChars);
  if (!indexed) {
    d.noPrimaryKey = true;
    return d;
  }
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1};
  engine::TIndexDefinition byNum;
  byNum.name = "ByNum";
  byNum.fieldNumbers = {2};
  d.indexes = {primary, byNum};
  return d;
}

void Fill(engine::TDataDirectory* dir, const std::string& name, bool indexed, int rows) {
  {
    engine::TDataCursor c(dir, name);
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    c.CreateTable(Definition(indexed));
  }
  engine::TDataCursor c(dir, name);
  engine::TCursorOptions o;
  o.exclusive = true;
  c.SetOptions(o);
  c.Open();
  for (int i = 1; i <= rows; ++i) {
    auto r = c.NewRecord();
    c.PutInteger(r, 1, i);
    c.PutInteger(r, 2, i % kNumModulus);
    c.PutString(r, 3, "file" + std::to_string(i));
    c.Insert(r, false);
  }
  c.Close();
}

double MeasureOurs(engine::TDataDirectory* dir, const std::string& name, long& count) {
  engine::TDataCursor c(dir, name);
  c.Open();
  c.SelectIndex(engine::kNaturalOrder);  // the cursor keeps its present records from here on
  engine::TFilterList& filters = c.Filters();
  engine::TFilterHandle f = nullptr;
  return Median(
      [&] {
        f = filters.AddText("Num = " + std::to_string(kMatchValue), {});
        filters.Activate(f);
        return static_cast<long>(c.RecordCount());
      },
      count, [&] { filters.Remove(f); });
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

long SqliteCount(sqlite3* db, const std::string& table) {
  sqlite3_stmt* st = nullptr;
  const std::string sql =
      "SELECT COUNT(*) FROM " + table + " WHERE Num = " + std::to_string(kMatchValue);
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  sqlite3_step(st);
  const long n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : kDefaultRows;
  char pattern[] = "/tmp/filter_bench_XXXXXX";
  const std::filesystem::path root = mkdtemp(pattern);
  std::filesystem::create_directory(root / "Db");
  platform::SetDrive('D', root.string());
  double ours[2], peer[2];
  long ourCount[2], peerCount[2];
  {
    auto session = std::make_unique<engine::TDataSession>();
    engine::TDataDirectory* dir = session->OpenDirectory("", "D:\\Db");
    const double fillStart = ThreadSeconds();
    Fill(dir, "Indexed", true, rows);
    Fill(dir, "Plain", false, rows);
    std::printf("filled 2 x %d rows in %.1f s\n", rows, ThreadSeconds() - fillStart);
    ours[0] = MeasureOurs(dir, "Indexed", ourCount[0]);
    ours[1] = MeasureOurs(dir, "Plain", ourCount[1]);
  }
  {
    sqlite3* db = nullptr;
    sqlite3_open((root / "peer.db").c_str(), &db);
    Exec(db, "CREATE TABLE Indexed (Id INTEGER PRIMARY KEY, Num INTEGER, Name CHAR(16))");
    Exec(db, "CREATE INDEX ByNum ON Indexed (Num)");
    Exec(db, "CREATE TABLE Plain (Id INTEGER, Num INTEGER, Name CHAR(16))");
    Exec(db, "BEGIN");
    for (const char* table : {"Indexed", "Plain"}) {
      sqlite3_stmt* st = nullptr;
      const std::string sql = std::string("INSERT INTO ") + table + " VALUES (?, ?, ?)";
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
      for (int i = 1; i <= rows; ++i) {
        const std::string name = "file" + std::to_string(i);
        sqlite3_bind_int(st, 1, i);
        sqlite3_bind_int(st, 2, i % kNumModulus);
        sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
      }
      sqlite3_finalize(st);
    }
    Exec(db, "COMMIT");
    peer[0] = Median([&] { return SqliteCount(db, "Indexed"); }, peerCount[0]);
    peer[1] = Median([&] { return SqliteCount(db, "Plain"); }, peerCount[1]);
    sqlite3_close(db);
  }
  std::filesystem::remove_all(root);

  std::printf("Filtered count, Num = %d over %d rows, median of %d runs (thread CPU ms)\n",
              kMatchValue, rows, kRuns);
  std::printf("%-12s %8s %10s %10s %8s\n", "case", "count", "ours", "sqlite", "speed");
  const char* names[] = {"with index", "no index"};
  for (int k = 0; k < 2; ++k)
    std::printf("%-12s %8ld %10.3f %10.3f %7.2fx\n", names[k], ourCount[k], ours[k] * 1e3,
                peer[k] * 1e3, peer[k] / ours[k]);
  return ourCount[0] == peerCount[0] && ourCount[1] == peerCount[1] ? 0 : 1;
}
