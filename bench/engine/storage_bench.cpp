// Storage engine benchmarks, each run on our engine and on SQLite in the same
// process, in fresh temporary directories that are deleted at the end:
//
//  blobs   storing 300 MB of files (300 files of 1 MB) as BLOB rows of a
//          catalog-shaped table (FileName CHAR(250), FileTime INTEGER, isZip
//          CHAR(1), Path CHAR(250), File BLOB, primary key FileName, FileTime,
//          Path), committing after every 10 files. SQLite runs with
//          synchronous=FULL (its default rollback journal). Target: at least
//          SQLite's throughput.
//  rows    100,000 small rows (Name CHAR(24) primary key, Value INTEGER)
//          inserted in one transaction, then 100,000 primary-key lookups in
//          random order. Target: at least 0.8 of SQLite's rate for each
//          (goal: its rate).
//  plain   changes outside any transaction, each insert written back on its
//          own: 5,000 small rows through a shared cursor, 20,000 through an
//          exclusive one (written back at its close), and 40 files of 1 MB
//          through a shared cursor. SQLite commits every insert on its own
//          with synchronous=OFF, since neither side flushes these writes
//          (both survive a killed process, neither a power cut). These
//          figures watch what making every change atomic costs.
//
// Usage: engine_storage_bench [repeats [blobs|rows|plain]]   (default 3 runs
// of all; medians are printed)
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_scratch.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/paths.h"

namespace {

constexpr int kBlobFiles = 300;
constexpr std::size_t kBlobFileBytes = 1 << 20;  // 1 MB per file
constexpr int kFilesPerCommit = 10;
constexpr int kSmallRows = 100000;
constexpr double kMegabyte = 1024.0 * 1024.0;

using orvbench::Clock;
using orvbench::kBenchDrive;
using orvbench::Median;
using orvbench::Scratch;
using orvbench::Seconds;

std::vector<std::uint8_t> FileContent(int i) {
  std::vector<std::uint8_t> bytes(kBlobFileBytes);
  std::mt19937 random(static_cast<unsigned>(i));
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::string SmallName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "row%08d", static_cast<int>((i * 2654435761u) % 100000000u));
  return name;
}

engine::TFieldDefinition Field(int number, const char* name, std::uint8_t type, std::uint8_t size) {
  engine::TFieldDefinition f;
  f.SetNumber(static_cast<std::int16_t>(number));
  f.SetName(name);
  f.SetType(type);
  f.SetSize(size);
  if (type == engine::kFieldBlob) f.SetSubtype(engine::kSubtypeBinary);
  return f;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// ---- blobs ----------------------------------------------------------------------------

double OursBlobs(const std::vector<std::vector<std::uint8_t>>& files) {
  Scratch scratch("orv_storage_bench");
  engine::TDataSession session;
  engine::TDataDirectory* dir = session.OpenDirectory("", std::string(1, kBenchDrive) + ":\\");
  engine::TTableDefinition d;
  d.fields = {Field(1, "FileName", engine::kFieldString, 250),
              Field(2, "FileTime", engine::kFieldInt32, 0),
              Field(3, "isZip", engine::kFieldString, 1),
              Field(4, "Path", engine::kFieldString, 250), Field(5, "File", engine::kFieldBlob, 0)};
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1, 2, 4};
  d.indexes = {primary};
  {
    engine::TDataCursor creator(dir, "Back");
    engine::TCursorOptions o;
    o.exclusive = true;
    creator.SetOptions(o);
    creator.CreateTable(d);
  }
  engine::TDataCursor c(dir, "Back");
  c.Open();
  const auto start = Clock::now();
  for (int i = 0; i < kBlobFiles; ++i) {
    if (i % kFilesPerCommit == 0) dir->StartTransaction();
    const auto& content = files[static_cast<std::size_t>(i) % files.size()];
    auto r = c.NewRecord();
    c.PutString(r, 1, "file" + std::to_string(i) + ".bin");
    c.PutInteger(r, 2, 0x5A210000 + i);
    c.PutString(r, 3, "N");
    c.PutString(r, 4, "C:\\Data\\Source\\");
    c.PutBlob(r, 5, content.data(), content.size());
    c.Insert(r, false);
    if (i % kFilesPerCommit == kFilesPerCommit - 1 || i == kBlobFiles - 1) dir->Commit();
  }
  const double seconds = Seconds(start);
  c.Close();
  return kBlobFiles * (kBlobFileBytes / kMegabyte) / seconds;
}

double SqliteBlobs(const std::vector<std::vector<std::uint8_t>>& files) {
  Scratch scratch("orv_storage_bench");
  sqlite3* db = nullptr;
  Check(sqlite3_open(scratch.Host("back.db").c_str(), &db), db, "open");
  Check(sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr), db, "pragma");
  Check(sqlite3_exec(db,
                     "CREATE TABLE Back (FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), "
                     "Path CHAR(250), File BLOB, PRIMARY KEY (FileName, FileTime, Path))",
                     nullptr, nullptr, nullptr),
        db, "create");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO Back VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr), db,
        "prepare");
  const auto start = Clock::now();
  for (int i = 0; i < kBlobFiles; ++i) {
    if (i % kFilesPerCommit == 0)
      Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    const auto& content = files[static_cast<std::size_t>(i) % files.size()];
    const std::string name = "file" + std::to_string(i) + ".bin";
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, 0x5A210000 + i);
    sqlite3_bind_text(insert, 3, "N", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, "C:\\Data\\Source\\", -1, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 5, content.data(), static_cast<int>(content.size()), SQLITE_STATIC);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
    if (i % kFilesPerCommit == kFilesPerCommit - 1 || i == kBlobFiles - 1)
      Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  }
  const double seconds = Seconds(start);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return kBlobFiles * (kBlobFileBytes / kMegabyte) / seconds;
}

// ---- rows -----------------------------------------------------------------------------

struct RowRates {
  double inserts = 0;  // rows per second
  double lookups = 0;  // lookups per second
};

RowRates OursRows(const std::vector<int>& order) {
  Scratch scratch("orv_storage_bench");
  engine::TDataSession session;
  engine::TDataDirectory* dir = session.OpenDirectory("", std::string(1, kBenchDrive) + ":\\");
  engine::TTableDefinition d;
  d.fields = {Field(1, "Name", engine::kFieldString, 24),
              Field(2, "Value", engine::kFieldInt32, 0)};
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1};
  d.indexes = {primary};
  {
    engine::TDataCursor creator(dir, "Rows");
    engine::TCursorOptions o;
    o.exclusive = true;
    creator.SetOptions(o);
    creator.CreateTable(d);
  }
  engine::TDataCursor c(dir, "Rows");
  c.Open();
  RowRates rates;
  auto start = Clock::now();
  dir->StartTransaction();
  for (int i = 0; i < kSmallRows; ++i) {
    auto r = c.NewRecord();
    c.PutString(r, 1, SmallName(i));
    c.PutInteger(r, 2, i);
    c.Insert(r, false);
  }
  dir->Commit();
  rates.inserts = kSmallRows / Seconds(start);
  start = Clock::now();
  long long sum = 0;
  auto probe = c.NewRecord();
  engine::TDataCursor::TRecordBuffer row;
  for (int i : order) {
    c.PutString(probe, 1, SmallName(i));
    if (!c.FindKey(c.BuildKey(probe), c.KeyLength())) {
      std::fprintf(stderr, "lookup of %d failed\n", i);
      std::exit(1);
    }
    c.ReadCurrent(&row);
    sum += c.GetInteger(row, 2);
  }
  rates.lookups = kSmallRows / Seconds(start);
  if (sum != static_cast<long long>(kSmallRows) * (kSmallRows - 1) / 2) std::exit(1);
  c.Close();
  return rates;
}

RowRates SqliteRows(const std::vector<int>& order) {
  Scratch scratch("orv_storage_bench");
  sqlite3* db = nullptr;
  Check(sqlite3_open(scratch.Host("rows.db").c_str(), &db), db, "open");
  Check(sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr), db, "pragma");
  Check(sqlite3_exec(db, "CREATE TABLE Rows (Name CHAR(24) PRIMARY KEY, Value INTEGER)", nullptr,
                     nullptr, nullptr),
        db, "create");
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO Rows VALUES (?, ?)", -1, &insert, nullptr), db, "p");
  Check(sqlite3_prepare_v2(db, "SELECT Value FROM Rows WHERE Name = ?", -1, &select, nullptr), db,
        "p");
  RowRates rates;
  auto start = Clock::now();
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  for (int i = 0; i < kSmallRows; ++i) {
    const std::string name = SmallName(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, i);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  rates.inserts = kSmallRows / Seconds(start);
  start = Clock::now();
  long long sum = 0;
  for (int i : order) {
    const std::string name = SmallName(i);
    sqlite3_bind_text(select, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(select) != SQLITE_ROW) std::exit(1);
    sum += sqlite3_column_int(select, 0);
    sqlite3_reset(select);
  }
  rates.lookups = kSmallRows / Seconds(start);
  if (sum != static_cast<long long>(kSmallRows) * (kSmallRows - 1) / 2) std::exit(1);
  sqlite3_finalize(insert);
  sqlite3_finalize(select);
  sqlite3_close(db);
  return rates;
}

// ---- plain ----------------------------------------------------------------------------

constexpr int kPlainSharedRows = 5000;
constexpr int kPlainExclusiveRows = 20000;
constexpr int kPlainBlobFiles = 40;

struct PlainRates {
  double sharedRows = 0;     // rows per second
  double exclusiveRows = 0;  // rows per second, the close included
  double sharedBlobs = 0;    // MB per second
};

void CreateOurs(engine::TDataDirectory* dir, const char* name, bool blobs) {
  engine::TTableDefinition d;
  if (blobs) {
    d.fields = {Field(1, "Name", engine::kFieldString, 24),
                Field(2, "File", engine::kFieldBlob, 0)};
  } else {
    d.fields = {Field(1, "Name", engine::kFieldString, 24),
                Field(2, "Value", engine::kFieldInt32, 0)};
  }
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1};
  d.indexes = {primary};
  engine::TDataCursor creator(dir, name);
  engine::TCursorOptions o;
  o.exclusive = true;
  creator.SetOptions(o);
  creator.CreateTable(d);
}

PlainRates OursPlain(const std::vector<std::vector<std::uint8_t>>& files) {
  Scratch scratch("orv_storage_bench");
  engine::TDataSession session;
  engine::TDataDirectory* dir = session.OpenDirectory("", std::string(1, kBenchDrive) + ":\\");
  PlainRates rates;
  CreateOurs(dir, "Shared", false);
  {
    engine::TDataCursor c(dir, "Shared");
    c.Open();
    const auto start = Clock::now();
    for (int i = 0; i < kPlainSharedRows; ++i) {
      auto r = c.NewRecord();
      c.PutString(r, 1, SmallName(i));
      c.PutInteger(r, 2, i);
      c.Insert(r, false);
    }
    rates.sharedRows = kPlainSharedRows / Seconds(start);
  }
  CreateOurs(dir, "Alone", false);
  {
    const auto start = Clock::now();
    engine::TDataCursor c(dir, "Alone");
    engine::TCursorOptions o;
    o.exclusive = true;
    c.SetOptions(o);
    c.Open();
    for (int i = 0; i < kPlainExclusiveRows; ++i) {
      auto r = c.NewRecord();
      c.PutString(r, 1, SmallName(i));
      c.PutInteger(r, 2, i);
      c.Insert(r, false);
    }
    c.Close();
    rates.exclusiveRows = kPlainExclusiveRows / Seconds(start);
  }
  CreateOurs(dir, "Files", true);
  {
    engine::TDataCursor c(dir, "Files");
    c.Open();
    const auto start = Clock::now();
    for (int i = 0; i < kPlainBlobFiles; ++i) {
      const auto& content = files[static_cast<std::size_t>(i) % files.size()];
      auto r = c.NewRecord();
      c.PutString(r, 1, SmallName(i));
      c.PutBlob(r, 2, content.data(), content.size());
      c.Insert(r, false);
    }
    rates.sharedBlobs = kPlainBlobFiles * (kBlobFileBytes / kMegabyte) / Seconds(start);
  }
  return rates;
}

PlainRates SqlitePlain(const std::vector<std::vector<std::uint8_t>>& files) {
  Scratch scratch("orv_storage_bench");
  PlainRates rates;
  auto run = [&](const char* file, const char* create, const char* pragma, int count,
                 const std::function<void(sqlite3_stmt*, int)>& bind) {
    sqlite3* db = nullptr;
    Check(sqlite3_open(scratch.Host(file).c_str(), &db), db, "open");
    Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db, "pragma");
    if (pragma != nullptr) Check(sqlite3_exec(db, pragma, nullptr, nullptr, nullptr), db, "pragma");
    Check(sqlite3_exec(db, create, nullptr, nullptr, nullptr), db, "create");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO T VALUES (?, ?)", -1, &insert, nullptr), db, "p");
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      bind(insert, i);
      Check(sqlite3_step(insert), db, "insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return Seconds(start);
  };
  const char* rowsTable = "CREATE TABLE T (Name CHAR(24) PRIMARY KEY, Value INTEGER)";
  auto bindRow = [](sqlite3_stmt* insert, int i) {
    const std::string name = SmallName(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, i);
  };
  rates.sharedRows =
      kPlainSharedRows / run("shared.db", rowsTable, nullptr, kPlainSharedRows, bindRow);
  rates.exclusiveRows =
      kPlainExclusiveRows /
      run("alone.db", rowsTable, "PRAGMA locking_mode=EXCLUSIVE", kPlainExclusiveRows, bindRow);
  const double blobSeconds =
      run("files.db", "CREATE TABLE T (Name CHAR(24) PRIMARY KEY, File BLOB)", nullptr,
          kPlainBlobFiles, [&](sqlite3_stmt* insert, int i) {
            const auto& content = files[static_cast<std::size_t>(i) % files.size()];
            const std::string name = SmallName(i);
            sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 2, content.data(), static_cast<int>(content.size()),
                              SQLITE_STATIC);
          });
  rates.sharedBlobs = kPlainBlobFiles * (kBlobFileBytes / kMegabyte) / blobSeconds;
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string only = argc > 2 ? argv[2] : "";
  std::vector<std::vector<std::uint8_t>> files;
  for (int i = 0; i < kFilesPerCommit; ++i) files.push_back(FileContent(i));
  std::vector<int> order(kSmallRows);
  for (int i = 0; i < kSmallRows; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));

  std::vector<double> oursBlob, sqlBlob, oursIns, sqlIns, oursLook, sqlLook;
  std::vector<double> oursShared, sqlShared, oursAlone, sqlAlone, oursFiles, sqlFiles;
  for (int r = 0; r < repeats; ++r) {
    if (only.empty() || only == "plain") {
      const PlainRates ours = OursPlain(files);
      const PlainRates sql = SqlitePlain(files);
      oursShared.push_back(ours.sharedRows);
      sqlShared.push_back(sql.sharedRows);
      oursAlone.push_back(ours.exclusiveRows);
      sqlAlone.push_back(sql.exclusiveRows);
      oursFiles.push_back(ours.sharedBlobs);
      sqlFiles.push_back(sql.sharedBlobs);
    }
    if (only.empty() || only == "blobs") {
      oursBlob.push_back(OursBlobs(files));
      sqlBlob.push_back(SqliteBlobs(files));
    }
    if (!only.empty() && only != "rows") continue;
    const RowRates ours = OursRows(order);
    const RowRates sql = SqliteRows(order);
    oursIns.push_back(ours.inserts);
    sqlIns.push_back(sql.inserts);
    oursLook.push_back(ours.lookups);
    sqlLook.push_back(sql.lookups);
  }
  std::printf("medians of %d runs\n", repeats);
  std::printf("%-34s %12s %12s %8s\n", "benchmark", "ours", "SQLite", "ratio");
  auto line = [](const char* name, const std::vector<double>& oursRuns,
                 const std::vector<double>& sqlRuns) {
    if (oursRuns.empty()) return;
    const double ours = Median(oursRuns), sql = Median(sqlRuns);
    std::printf("%-34s %12.1f %12.1f %8.2f\n", name, ours, sql, ours / sql);
  };
  line("blobs: MB/s (300 MB, commit/10)", oursBlob, sqlBlob);
  line("rows: inserts/s (100k, one txn)", oursIns, sqlIns);
  line("rows: key lookups/s (100k)", oursLook, sqlLook);
  line("plain: shared inserts/s (5k)", oursShared, sqlShared);
  line("plain: exclusive inserts/s (20k)", oursAlone, sqlAlone);
  line("plain: shared BLOB MB/s (40 MB)", oursFiles, sqlFiles);
  return 0;
}
