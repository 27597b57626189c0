// Backup and restore of one generated corpus by orvbackup and by its peers,
// side by side in one run, each contender a child process timed with its
// peak resident memory (wait4):
//
//  backup    orvbackup (plain and --compress), tar -cf, zip -r -6, and a
//            SQLite program storing every file as a BLOB row of the
//            catalog's schema, committing every 10 files, synchronous FULL;
//  restore   orvbackup restore (plain and compressed), tar -xf, unzip, and
//            the SQLite program writing every row back, each round into
//            directories of its own that stay until every round is done;
//  flushes   both orvbackup backups again with fsync and fdatasync made
//            no-ops by a preloaded library: the difference is what the
//            commits' flushes cost;
//  unchanged an incremental orvbackup run over an unchanged tree of N small
//            files, for each N given (it must grow linearly).
//
//  baseline  with BACKUP_BENCH_BASELINE naming another orvbackup binary (an
//            earlier build), its plain and --compress backups and restores
//            too, in the same repeats (its restores take their turns among
//            the others'), for before/after figures of one run.
//
// The corpus: text, source-like lines, binaries with repeated structure and
// random bytes in `large` files, plus `small` files of about 1 KB (default
// 300 MB in 2,000 files plus 10,000 small ones). Targets: plain backup at
// most SQLite's time, compressed backup at most zip's, restore at most
// SQLite's, compressed restore at most unzip's; peak memory at most twice
// the largest file plus 64 MB. Medians of `repeats` runs are printed.
//
// Usage: backup_bench [corpusMB [repeats [N,N,...]]]   (300 3 1000,10000,100000)
//        backup_bench restore [corpusMB [repeats]]        (300 3)
// The second form backs the corpus up once with every contender and then
// times only the restores, `repeats` rounds of them, each contender in each
// round restoring into a directory of its own that stays until the end (the
// file system allocates new files more slowly right after many deletions, so
// deleting one round's output would slow whoever runs next). When the
// environment variable ORVBACKUP_BASELINE names another orvbackup program,
// its restores of the same backup files are timed in the same rounds, for a
// before/after comparison from one run.
// Every directory is created fresh under $TMPDIR and deleted at the end.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kLargeFiles = 2000;
constexpr int kSmallFiles = 10000;
constexpr std::size_t kSmallBytes = 1024;
constexpr int kSqliteCommitEvery = 10;
constexpr double kMB = 1048576.0;

struct Measure {
  double seconds = 0;
  double peakMB = 0;
};

// Runs `body` in a child; wall time and the child's peak resident memory.
Measure InChild(const std::function<int()>& body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::fprintf(stderr, "contender failed (status %d)\n", status);
  return m;
}

Measure Shell(const std::string& command) {
  return InChild([&] { return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? 0 : 1; });
}

std::string Quote(const fs::path& p) {
  return "'" + p.string() + "'";
}

// ---- Corpus ----
void MakeSmallTree(const fs::path& root, int files) {
  const std::string bytes(kSmallBytes, 's');
  for (int i = 0; i < files; ++i) {
    const fs::path dir = root / ("d" + std::to_string(i / 500));
    if (i % 500 == 0) fs::create_directories(dir);
    std::ofstream(dir / ("s" + std::to_string(i) + ".txt"), std::ios::binary) << bytes;
  }
}

std::size_t MakeCorpus(const fs::path& root, std::size_t totalMB) {
  std::mt19937_64 rng(42);
  const std::size_t average = totalMB * 1048576 / kLargeFiles;
  std::size_t largest = 0;
  std::string words[] = {"backup ", "restore ", "table ", "index ", "blob ", "commit ", "\n"};
  for (int i = 0; i < kLargeFiles; ++i) {
    // Sizes spread from a tenth to twice the average.
    const std::size_t size = average / 10 + rng() % (average * 19 / 10 + 1);
    largest = std::max(largest, size);
    std::string bytes;
    bytes.reserve(size);
    switch (i % 4) {
      case 0:  // text
        while (bytes.size() < size) bytes += words[rng() % 7];
        break;
      case 1:  // source-like lines
        while (bytes.size() < size)
          bytes += "  int value" + std::to_string(rng() % 1000) + " = Compute(" +
                   std::to_string(rng() % 100) + ");\n";
        break;
      case 2:  // binary with structure
        while (bytes.size() < size) {
          const std::uint64_t r = rng();
          bytes.append(reinterpret_cast<const char*>(&r), 2);
          bytes.append(14, static_cast<char>(r >> 40));
        }
        break;
      default:  // random
        while (bytes.size() < size) {
          const std::uint64_t r = rng();
          bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
        }
    }
    bytes.resize(size);
    const fs::path dir = root / ("dir" + std::to_string(i % 40));
    fs::create_directories(dir);
    std::ofstream(dir / ("file" + std::to_string(i) + ".bin"), std::ios::binary) << bytes;
  }
  MakeSmallTree(root / "small", kSmallFiles);
  return largest;
}

// ---- The SQLite program: the catalog's schema, a commit every 10 files ----
int Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  return rc;
}

int SqliteBackup(const fs::path& source, const fs::path& file) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.c_str(), &db), db);
  Check(sqlite3_exec(db,
                     "PRAGMA synchronous=FULL;"
                     "CREATE TABLE Back (FileName CHAR(250), FileTime INTEGER, isZip CHAR(1),"
                     " Path CHAR(250), File BLOB, PRIMARY KEY (FileName, FileTime, Path))",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO Back VALUES (?, ?, 'N', ?, ?)", -1, &insert, nullptr),
        db);
  int n = 0;
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string name = entry.path().filename().string();
    const std::string path = entry.path().parent_path().string() + "/";
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, fs::last_write_time(entry).time_since_epoch().count());
    sqlite3_bind_text(insert, 3, path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
    if (n++ % kSqliteCommitEvery == 0) {
      Check(sqlite3_exec(db, "COMMIT; BEGIN", nullptr, nullptr, nullptr), db);
    }
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return 0;
}

int SqliteRestore(const fs::path& file, const fs::path& target) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.c_str(), &db), db);
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT FileName, Path, File FROM Back", -1, &select, nullptr), db);
  while (Check(sqlite3_step(select), db) == SQLITE_ROW) {
    const fs::path dir =
        target /
        fs::path(reinterpret_cast<const char*>(sqlite3_column_text(select, 1))).relative_path();
    fs::create_directories(dir);
    std::ofstream out(dir / reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                      std::ios::binary);
    out.write(static_cast<const char*>(sqlite3_column_blob(select, 2)),
              sqlite3_column_bytes(select, 2));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return 0;
}

struct Row {
  std::string name;
  std::vector<Measure> runs;
  Measure Median() const {
    std::vector<Measure> v = runs;
    std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.seconds < b.seconds; });
    return v[v.size() / 2];
  }
};

std::vector<int> Sizes(const std::string& text) {
  std::vector<int> sizes;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) sizes.push_back(std::stoi(item));
  return sizes;
}

}  // namespace

// Times only the restores (see the usage above).
int RestoreOnly(int argc, char** argv) {
  const std::size_t corpusMB = argc > 2 ? std::stoul(argv[2]) : 300;
  const int repeats = argc > 3 ? std::stoi(argv[3]) : 3;
  const fs::path work = fs::temp_directory_path() / ("backup_bench_" + std::to_string(::getpid()));
  const fs::path corpus = work / "corpus";
  const fs::path sets = work / "sets";
  fs::create_directories(work);
  MakeCorpus(corpus, corpusMB);
  for (const char* d : {"plain", "zipped"}) fs::create_directories(sets / d);
  const std::string orv = std::string("TZ=UTC '") + ORVBACKUP_PATH + "'";
  Shell(orv + " backup " + Quote(corpus) + " --to-dir " + Quote(sets / "plain"));
  Shell(orv + " backup " + Quote(corpus) + " --to-dir " + Quote(sets / "zipped") + " --compress");
  Shell("tar -cf " + Quote(sets / "c.tar") + " -C " + Quote(corpus) + " .");
  Shell("cd " + Quote(corpus) + " && zip -q -r -6 " + Quote(sets / "c.zip") + " .");
  InChild([&] { return SqliteBackup(corpus, sets / "c.sqlite"); });

  struct Contender {
    std::string name;
    std::function<Measure(const fs::path& target)> run;
  };
  std::vector<Contender> contenders;
  auto addOrv = [&](const std::string& label, const std::string& program) {
    contenders.push_back({label + " restore", [=](const fs::path& target) {
                            return Shell(program + " restore " + Quote(sets / "plain/Back.dat") +
                                         " --to " + Quote(target));
                          }});
    contenders.push_back({label + " restore (compressed)", [=](const fs::path& target) {
                            return Shell(program + " restore " + Quote(sets / "zipped/Back.dat") +
                                         " --to " + Quote(target));
                          }});
  };
  addOrv("orvbackup", orv);
  if (const char* baseline = std::getenv("ORVBACKUP_BASELINE"); baseline != nullptr && *baseline)
    addOrv("baseline", std::string("TZ=UTC '") + baseline + "'");
  contenders.push_back({"tar -xf", [&](const fs::path& target) {
                          fs::create_directories(target);
                          return Shell("tar -xf " + Quote(sets / "c.tar") + " -C " + Quote(target));
                        }});
  contenders.push_back({"unzip", [&](const fs::path& target) {
                          return Shell("unzip -q " + Quote(sets / "c.zip") + " -d " +
                                       Quote(target));
                        }});
  contenders.push_back({"sqlite restore", [&](const fs::path& target) {
                          return InChild([&] { return SqliteRestore(sets / "c.sqlite", target); });
                        }});
  std::vector<Row> rows;
  for (const Contender& c : contenders) rows.push_back({c.name, {}});
  for (int r = 0; r < repeats; ++r) {
    // The contenders take turns at going first (round r starts with the
    // r-th): whoever goes first meets what ran before the round.
    for (std::size_t k = 0; k < contenders.size(); ++k) {
      const std::size_t i = (static_cast<std::size_t>(r) + k) % contenders.size();
      const fs::path target =
          work / "restored" / ("r" + std::to_string(r) + "-" + std::to_string(i));
      rows[i].runs.push_back(contenders[i].run(target));
    }
  }
  std::printf("corpus %zu MB in %d files + %d small; %d rounds of restores, medians\n", corpusMB,
              kLargeFiles, kSmallFiles, repeats);
  std::printf("%-34s %10s %10s\n", "contender", "seconds", "peak MB");
  auto median = [&](const std::string& name) {
    for (const Row& row : rows)
      if (row.name == name) return row.Median().seconds;
    return 0.0;
  };
  for (const Row& row : rows) {
    const Measure m = row.Median();
    // Against the targets: a plain restore against SQLite's, a compressed
    // one against unzip's.
    const bool compressed = row.name.find("(compressed)") != std::string::npos;
    const bool ours = row.name.rfind("orvbackup", 0) == 0 || row.name.rfind("baseline", 0) == 0;
    const double peer = median(compressed ? "unzip" : "sqlite restore");
    if (ours && peer > 0) {
      std::printf("%-34s %10.2f %10.1f %8.2fx %s\n", row.name.c_str(), m.seconds, m.peakMB,
                  m.seconds / peer, compressed ? "unzip" : "SQLite");
    } else {
      std::printf("%-34s %10.2f %10.1f\n", row.name.c_str(), m.seconds, m.peakMB);
    }
  }
  // The figures before the (long) removal of every restored tree.
  std::fflush(stdout);
  fs::remove_all(work);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "restore") return RestoreOnly(argc, argv);
  const std::size_t corpusMB = argc > 1 ? std::stoul(argv[1]) : 300;
  const int repeats = argc > 2 ? std::stoi(argv[2]) : 3;
  const std::vector<int> unchanged = Sizes(argc > 3 ? argv[3] : "1000,10000,100000");
  const fs::path work = fs::temp_directory_path() / ("backup_bench_" + std::to_string(::getpid()));
  const fs::path corpus = work / "corpus";
  fs::create_directories(work);
  const std::size_t largest = MakeCorpus(corpus, corpusMB);
  const std::string orv = std::string("TZ=UTC '") + ORVBACKUP_PATH + "'";
  const std::string orvNoFlush = std::string("LD_PRELOAD='") + NO_FLUSH_PATH + "' " + orv;
  const char* baselinePath = std::getenv("BACKUP_BENCH_BASELINE");
  const std::string baseline =
      baselinePath != nullptr ? std::string("TZ=UTC '") + baselinePath + "'" : std::string();

  std::vector<Row> rows = {{"orvbackup backup", {}},
                           {"orvbackup backup --compress", {}},
                           {"tar -cf", {}},
                           {"zip -r -6", {}},
                           {"sqlite backup", {}},
                           {"orvbackup restore", {}},
                           {"orvbackup restore (compressed)", {}},
                           {"tar -xf", {}},
                           {"unzip", {}},
                           {"sqlite restore", {}},
                           {"orvbackup backup, no flushes", {}},
                           {"orvbackup backup --compress, no flushes", {}},
                           {"baseline backup", {}},
                           {"baseline backup --compress", {}},
                           {"baseline restore", {}},
                           {"baseline restore (compressed)", {}}};
  if (baseline.empty()) rows.resize(rows.size() - 4);
  for (int r = 0; r < repeats; ++r) {
    // The backups of the last round go (a few large files: deleting them
    // leaves no run of freed entries behind).
    const fs::path out = work / "out";
    fs::remove_all(out);
    for (const char* d : {"plain", "zipped", "plain-nf", "zipped-nf", "plain-b", "zipped-b"})
      fs::create_directories(out / d);
    rows[0].runs.push_back(
        Shell(orv + " backup " + Quote(corpus) + " --to-dir " + Quote(out / "plain")));
    rows[1].runs.push_back(Shell(orv + " backup " + Quote(corpus) + " --to-dir " +
                                 Quote(out / "zipped") + " --compress"));
    // The earlier build right after this one, so that both see the same load.
    if (!baseline.empty()) {
      rows[12].runs.push_back(
          Shell(baseline + " backup " + Quote(corpus) + " --to-dir " + Quote(out / "plain-b")));
      rows[13].runs.push_back(Shell(baseline + " backup " + Quote(corpus) + " --to-dir " +
                                    Quote(out / "zipped-b") + " --compress"));
    }
    rows[2].runs.push_back(
        Shell("tar -cf " + Quote(out / "c.tar") + " -C " + Quote(corpus) + " ."));
    rows[3].runs.push_back(
        Shell("cd " + Quote(corpus) + " && zip -q -r -6 " + Quote(out / "c.zip") + " ."));
    rows[4].runs.push_back(InChild([&] { return SqliteBackup(corpus, out / "c.sqlite"); }));
    // Each round restores into directories of its own, kept until every
    // round is done: deleting a round's 12,000 restored files would slow the
    // file creation of whoever restores next.
    const fs::path restored = work / "restored" / ("r" + std::to_string(r));
    fs::create_directories(restored / "tar");
    constexpr std::size_t kFirstRestoreRow = 5, kFirstBaselineRestoreRow = 14;
    // Each restore with the row it is timed in.
    std::vector<std::pair<std::size_t, std::function<Measure()>>> restores = {
        {kFirstRestoreRow,
         [&] {
           return Shell(orv + " restore " + Quote(out / "plain/Back.dat") + " --to " +
                        Quote(restored / "plain"));
         }},
        {kFirstRestoreRow + 1,
         [&] {
           return Shell(orv + " restore " + Quote(out / "zipped/Back.dat") + " --to " +
                        Quote(restored / "zipped"));
         }},
        {kFirstRestoreRow + 2,
         [&] {
           return Shell("tar -xf " + Quote(out / "c.tar") + " -C " + Quote(restored / "tar"));
         }},
        {kFirstRestoreRow + 3,
         [&] {
           return Shell("unzip -q " + Quote(out / "c.zip") + " -d " + Quote(restored / "unzip"));
         }},
        {kFirstRestoreRow + 4,
         [&] {
           return InChild([&] { return SqliteRestore(out / "c.sqlite", restored / "sqlite"); });
         }},
    };
    // The earlier build restores the same backup files.
    if (!baseline.empty()) {
      restores.push_back({kFirstBaselineRestoreRow, [&] {
                            return Shell(baseline + " restore " + Quote(out / "plain/Back.dat") +
                                         " --to " + Quote(restored / "plain-b"));
                          }});
      restores.push_back({kFirstBaselineRestoreRow + 1, [&] {
                            return Shell(baseline + " restore " + Quote(out / "zipped/Back.dat") +
                                         " --to " + Quote(restored / "zipped-b"));
                          }});
    }
    // The restores take turns at going first (round r starts with the r-th):
    // whoever restores right after the backups, or after another restore,
    // meets the write-back the others left.
    for (std::size_t k = 0; k < restores.size(); ++k) {
      const auto& [row, run] = restores[(static_cast<std::size_t>(r) + k) % restores.size()];
      rows[row].runs.push_back(run());
    }
    rows[10].runs.push_back(
        Shell(orvNoFlush + " backup " + Quote(corpus) + " --to-dir " + Quote(out / "plain-nf")));
    rows[11].runs.push_back(Shell(orvNoFlush + " backup " + Quote(corpus) + " --to-dir " +
                                  Quote(out / "zipped-nf") + " --compress"));
  }
  std::printf("corpus %zu MB in %d files + %d small; largest file %.1f MB; %d repeats, medians\n",
              corpusMB, kLargeFiles, kSmallFiles, static_cast<double>(largest) / kMB, repeats);
  std::printf("%-34s %10s %10s\n", "contender", "seconds", "peak MB");
  auto median = [&](const std::string& name) {
    for (const Row& row : rows)
      if (row.name == name) return row.Median().seconds;
    return 0.0;
  };
  for (const Row& row : rows) {
    const Measure m = row.Median();
    // Restores against their targets: plain against SQLite's, compressed
    // against unzip's.
    const bool ours =
        row.name.rfind("orvbackup restore", 0) == 0 || row.name.rfind("baseline restore", 0) == 0;
    const bool compressed = row.name.find("(compressed)") != std::string::npos;
    const double peer = median(compressed ? "unzip" : "sqlite restore");
    if (ours && peer > 0) {
      std::printf("%-34s %10.2f %10.1f %8.2fx %s\n", row.name.c_str(), m.seconds, m.peakMB,
                  m.seconds / peer, compressed ? "unzip" : "SQLite");
    } else {
      std::printf("%-34s %10.2f %10.1f\n", row.name.c_str(), m.seconds, m.peakMB);
    }
  }
  std::printf("memory target: %.1f MB\n", 2.0 * static_cast<double>(largest) / kMB + 64.0);
  std::fflush(stdout);
  fs::remove_all(work / "restored");
  fs::remove_all(work / "out");

  std::printf("\n%-34s %10s %10s %14s\n", "incremental, unchanged tree", "seconds", "peak MB",
              "us per file");
  for (const int n : unchanged) {
    const fs::path tree = work / ("tree" + std::to_string(n)),
                   out = work / ("set" + std::to_string(n));
    MakeSmallTree(tree, n);
    fs::create_directories(out);
    Shell(orv + " backup " + Quote(tree) + " --to-dir " + Quote(out));
    Row row{std::to_string(n) + " files", {}};
    for (int r = 0; r < repeats; ++r)
      row.runs.push_back(
          Shell(orv + " backup " + Quote(tree) + " --into " + Quote(out / "Back.dat")));
    const Measure m = row.Median();
    std::printf("%-34s %10.2f %10.1f %14.1f\n", row.name.c_str(), m.seconds, m.peakMB,
                m.seconds * 1e6 / n);
    fs::remove_all(tree);
    fs::remove_all(out);
  }
  fs::remove_all(work);
  return 0;
}
