// The backup run's INSERT through the query component, beside SQLite, in the
// same process and in fresh temporary directories deleted at the end:
//
//  insert  10,000 rows into a backup file made by the catalog's own CREATE
//          TABLE, each by the catalog's INSERT text with its five named
//          parameters (pFileName, pFileTime, pisZip, pPath and pFile, a 1 KB
//          BLOB) bound on one prepared TZORVADQuery, the database committing
//          every 10 rows (the backup run's cadence). SQLite: the same schema
//          (primary key FileName, FileTime, Path), one prepared INSERT with
//          five bound values, synchronous=FULL (its default rollback
//          journal), BEGIN ... COMMIT around every 10 rows.
// Floor: half of SQLite's rate; goal: SQLite's rate.
//
// Usage: engine_query_insert_bench [repeats [rows]]   (default 5 runs of
// 10,000 rows; the runs of the two engines alternate, and the medians of the
// rates and of the ratios of each pair of runs are printed: commits are
// bounded by the disk's flushes, which other work on the machine slows)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/catalog_texts.h"
#include "bench_scratch.h"
#include "engine/components/field_types.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_query.h"
#include "engine/components/zorvad_session.h"
#include "engine/engine.h"
#include "platform/paths.h"

namespace {

constexpr int kDefaultRows = 10000;
int kRows = kDefaultRows;           // NOLINT: set once from the command line
constexpr int kRowsPerCommit = 10;  // the backup run's commit cadence
constexpr std::size_t kBlobBytes = 1024;
constexpr int kDefaultRepeats = 5;
constexpr const char* kSourcePath = "C:\\Data\\Source\\";

using orvbench::Clock;
using orvbench::kBenchDrive;
using orvbench::Median;
using orvbench::Scratch;
using orvbench::Seconds;

std::string FileName(int i) {
  return "file" + std::to_string(i) + ".bin";
}
std::int32_t FileTime(int i) {
  return 0x5A210000 + i;
}

std::vector<std::uint8_t> Content() {
  std::vector<std::uint8_t> content(kBlobBytes);
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<std::uint8_t>((i * 131) % 251);
  return content;
}

// Rows per second through TZORVADQuery.
double Ours(const std::vector<std::uint8_t>& content) {
  Scratch scratch("orv_query_insert_bench");
  const std::string folder = std::string(1, kBenchDrive) + ":\\";
  {
    // As the catalog creates a backup file: a query of its own on the
    // folder's temporary database.
    engine::TZORVADQuery create;
    create.SetDatabaseName(folder);
    create.SetSQLText(app::CreateBackupTableText(folder + "Back"));
    create.ExecSQL();
  }
  double seconds = 0;
  {
    engine::TZORVADDatabase database;
    database.SetDirectory(folder);
    database.SetDatabaseName("Back.dat");
    database.Open();
    engine::TZORVADQuery insert;
    insert.SetDatabaseName("Back.dat");
    insert.SetSQLText(app::InsertStatementText(folder + "Back.dat"));
    insert.Prepare();
    insert.ParamByName("pFile").SetDataType(engine::ftBlob);
    const auto start = Clock::now();
    for (int i = 0; i < kRows; ++i) {
      if (i % kRowsPerCommit == 0) database.StartTransaction();
      insert.ParamByName("pFileName").SetAsString(FileName(i));
      insert.ParamByName("pFileTime").SetAsInteger(FileTime(i));
      insert.ParamByName("pisZip").SetAsString("N");
      insert.ParamByName("pPath").SetAsString(kSourcePath);
      insert.ParamByName("pFile").SetAsBlob(content);
      insert.ExecSQL();
      if (i % kRowsPerCommit == kRowsPerCommit - 1 || i == kRows - 1) database.Commit();
    }
    seconds = Seconds(start);
    insert.UnPrepare();
    database.Close();
  }
  engine::FreeSessions();
  return kRows / seconds;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Rows per second through one prepared SQLite INSERT.
double Sqlite(const std::vector<std::uint8_t>& content) {
  Scratch scratch("orv_query_insert_bench");
  sqlite3* db = nullptr;
  Check(sqlite3_open(scratch.Host("back.db").c_str(), &db), db, "open");
  Check(sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr), db, "pragma");
  Check(sqlite3_exec(db,
                     "CREATE TABLE Back (FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), "
                     "Path CHAR(250), File BLOB, PRIMARY KEY (FileName, FileTime, Path))",
                     nullptr, nullptr, nullptr),
        db, "create");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db,
                           "INSERT INTO Back (FileName, FileTime, isZip, Path, File) "
                           "VALUES (:pFileName, :pFileTime, :pisZip, :pPath, :pFile)",
                           -1, &insert, nullptr),
        db, "prepare");
  const auto start = Clock::now();
  for (int i = 0; i < kRows; ++i) {
    if (i % kRowsPerCommit == 0)
      Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    const std::string name = FileName(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, FileTime(i));
    sqlite3_bind_text(insert, 3, "N", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, kSourcePath, -1, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 5, content.data(), static_cast<int>(content.size()), SQLITE_STATIC);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
    if (i % kRowsPerCommit == kRowsPerCommit - 1 || i == kRows - 1)
      Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  }
  const double seconds = Seconds(start);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return kRows / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRepeats;
  if (argc > 2) kRows = std::max(kRowsPerCommit, std::atoi(argv[2]));
  const std::vector<std::uint8_t> content = Content();
  std::vector<double> ours, sqlite, ratios;
  for (int r = 0; r < repeats; ++r) {
    ours.push_back(Ours(content));
    sqlite.push_back(Sqlite(content));
    ratios.push_back(ours.back() / sqlite.back());
    std::printf("run %d: ours %.0f rows/s, sqlite %.0f rows/s\n", r + 1, ours.back(),
                sqlite.back());
    std::fflush(stdout);
  }
  const double a = Median(ours), b = Median(sqlite);
  std::printf(
      "insert (TZORVADQuery, 1 KB BLOB, %d rows, commit every %d): ours %.0f rows/s, "
      "sqlite %.0f rows/s, ratio of medians %.2f, median ratio of pairs %.2f (floor 0.50, goal "
      "1.00)\n",
      kRows, kRowsPerCommit, a, b, a / b, Median(ratios));
  return 0;
}
