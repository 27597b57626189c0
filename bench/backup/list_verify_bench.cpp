// Listing and verifying large backup files: orvbackup list and verify over
// two backup files of `rows` rows each (default 100,000), one of rows stored
// as they are and one of compressed rows, each command a child process.
//
// The backup files are written directly through the engine's table
// component, in transactions of kRowsPerCommit rows, rather than by backup
// runs over 100,000 real files: the rows are the same (the catalog's schema,
// a file of fileKB kilobytes per row, or its one-entry archive made by the
// zip writer), and building them takes seconds instead of minutes. 64 distinct contents are
// used round-robin.
//
// Printed, medians of `repeats` runs: list rows per second (target: at least
// 100,000), verify rows per second and MB per second of file content. Each
// command's wall time and its CPU time (user + system, from wait4) are both
// given, and the rates are computed from the CPU time: on a machine shared
// with other jobs the wall time mostly measures them.
//
// Then verify beside its yardsticks, in one run:
//  * raw rows: verify against a plain read of the same BLOB file (dd in 1 MB
//    pieces), both from the page cache (warm), and both after the files
//    were dropped from it with posix_fadvise(DONTNEED) (cold; wall time, as
//    the waiting for the disk is no CPU time); MB/s of the BLOB file and the
//    ratio verify / read;
//  * compressed rows: verify against decoding the same archives' entries in
//    memory, with CRC, by the zip component and by zlib (CPU time); MB/s of
//    file content and the ratio verify / decode.
// Usage: list_verify_bench [rows [repeats [fileKB [keep]]]]   (100000 3 1)
// Everything is written into a fresh directory under $TMPDIR, deleted at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/core/catalog.h"
#include "app/core/stored_archive.h"
#include "engine/components/stream.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_dbdataset.h"
#include "platform/paths.h"
#include "zip/inflate.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultRows = 100000;
constexpr int kDefaultRepeats = 3;
constexpr int kContents = 64;
constexpr std::size_t kDefaultFileKB = 1;
std::size_t fileBytes = kDefaultFileKB * 1024;  // the size of every file
constexpr int kRowsPerCommit = 5000;
constexpr int kRowsPerDirectory = 1000;
constexpr std::int32_t kFileTime = 0x5B8A6000;  // 2025-12-10 12:00:00
constexpr double kMB = 1048576.0;

double Seconds(const std::function<void()>& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Text-like content with some repetition, as small documents have.
std::string Content(int k) {
  std::mt19937 random(static_cast<unsigned>(k));
  static const char* const kWords[] = {"backup ", "file ",    "table ",   "index ",
                                       "row ",    "archive ", "restore ", "verify\n"};
  std::string text;
  while (text.size() < fileBytes) text += kWords[random() % 8];
  text.resize(fileBytes);
  return text;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The one-entry archives of the contents, made by the zip writer as a
// compressed backup run makes them.
std::vector<std::vector<std::uint8_t>> Archives(const fs::path& dir) {
  std::vector<std::vector<std::uint8_t>> archives;
  zip::TOrvZip writer;
  for (int k = 0; k < kContents; ++k) {
    const fs::path file = dir / ("c" + std::to_string(k) + ".txt");
    const fs::path archive = dir / ("c" + std::to_string(k) + ".zip");
    std::ofstream(file, std::ios::binary) << Content(k);
    writer.FilesList.assign(1, platform::ToWindowsPath(file.string()));
    writer.SetZipName(platform::ToWindowsPath(archive.string()));
    if (writer.Zip() != 1) throw std::runtime_error("zip writer failed");
    writer.SetZipName("");
    archives.push_back(ReadBytes(archive));
    fs::remove(file);
    fs::remove(archive);
  }
  return archives;
}

void BuildBackup(const fs::path& dir, const std::string& name, int rows, bool zipped,
                 const std::vector<std::vector<std::uint8_t>>& archives) {
  const std::string folder = platform::ToWindowsPath(dir.string()) + "\\";
  app::TDataModuleRx::CreateBackupTable(folder + name);
  engine::TZORVADDatabase db;
  db.SetDatabaseName("Bench" + name);
  db.SetDirectory(folder);
  engine::TZORVADTable table;
  table.SetDatabaseName("Bench" + name);
  table.SetTableName(name + ".dat");
  table.Open();
  std::vector<std::string> contents;
  for (int k = 0; k < kContents; ++k) contents.push_back(Content(k));
  db.StartTransaction();
  for (int i = 0; i < rows; ++i) {
    table.Append();
    table.FieldByName("FileName").SetAsString("file" + std::to_string(i) + ".txt");
    table.FieldByName("FileTime").SetAsInteger(kFileTime);
    table.FieldByName("isZip").SetAsString(zipped ? "Y" : "N");
    table.FieldByName("Path").SetAsString("D:\\Bench\\d" + std::to_string(i / kRowsPerDirectory) +
                                          "\\");
    auto blob = table.CreateBlobStream(table.FieldByName("File"), engine::TBlobStreamMode::bmWrite);
    const int k = i % kContents;
    if (zipped) {
      blob->Write(archives[k].data(), static_cast<std::int64_t>(archives[k].size()));
    } else {
      blob->Write(contents[k].data(), static_cast<std::int64_t>(contents[k].size()));
    }
    blob.reset();
    table.Post();
    if ((i + 1) % kRowsPerCommit == 0) {
      db.Commit();
      db.StartTransaction();
    }
  }
  db.Commit();
  table.Close();
  db.Close();
}

struct Times {
  double wall = 0;
  double cpu = 0;
};

// Runs a shell command line as a child; its wall time and CPU time.
Times Run(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Times t;
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("failed: " + command);
  return t;
}

// CPU time of this process so far (user + system), seconds.
double ProcessCpu() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Drops the file's pages from the page cache (clean pages only: the files
// were written long before and flushed by the commits).
void DropFromCache(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + file.string());
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Reads the file whole with dd in 1 MB pieces, a child process like verify;
// wall and CPU time.
Times PlainRead(const fs::path& file) {
  return Run("dd if=" + file.string() + " of=/dev/null bs=1M status=none");
}

// Where an archive's entry data lies, as the verification finds it.
struct EntrySpan {
  std::size_t offset;
  std::size_t size;
  std::uint32_t crc;
  std::uint64_t original;
};
EntrySpan EntryOf(const std::vector<std::uint8_t>& archive) {
  engine::TMemoryStream stream(archive);
  const app::StoredEntry e = app::ReadStoredEntry(stream);
  const std::uint8_t* local = archive.data() + e.localOffset;
  const std::size_t nameLength = local[26] | (local[27] << 8);
  const std::size_t extraLength = local[28] | (local[29] << 8);
  return {e.localOffset + 30 + nameLength + extraLength, static_cast<std::size_t>(e.compressedSize),
          e.crc, e.originalSize};
}

// Inflates a raw deflate stream with zlib, checking size and CRC.
void ZlibInflate(const std::uint8_t* data, std::size_t size, const EntrySpan& entry,
                 std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t total = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = out.size() - z.avail_out;
    crc = crc32(crc, out.data(), static_cast<uInt>(produced));
    total += produced;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END || total != entry.original || crc != entry.crc)
    throw std::runtime_error("zlib inflate failed");
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : kDefaultRows;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : kDefaultRepeats;
  if (argc > 3) fileBytes = static_cast<std::size_t>(std::atoi(argv[3])) * 1024;
  const fs::path dir = fs::temp_directory_path() / ("orv_list_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  int status = EXIT_SUCCESS;
  try {
    const auto archives = Archives(dir);
    double build = Seconds([&] {
      BuildBackup(dir, "Raw", rows, false, archives);
      BuildBackup(dir, "Zip", rows, true, archives);
    });
    std::printf("built 2 x %d rows in %.1f s\n", rows, build);
    const double content = static_cast<double>(rows) * static_cast<double>(fileBytes) / kMB;
    const std::string bin = ORVBACKUP_PATH;
    std::printf("%-28s %8s %8s %12s %10s\n", "command", "wall s", "CPU s", "rows/s", "MB/s");
    const auto report = [&](const char* what, const std::string& command) {
      std::vector<double> walls, cpus;
      for (int r = 0; r < repeats; ++r) {
        const Times t = Run(command);
        walls.push_back(t.wall);
        cpus.push_back(t.cpu);
      }
      const double cpu = Median(cpus);
      std::printf("%-28s %8.3f %8.3f %12.0f %10.1f\n", what, Median(walls), cpu, rows / cpu,
                  content / cpu);
    };
    const std::string raw = (dir / "Raw.dat").string(), zipped = (dir / "Zip.dat").string();
    report("list (raw rows)", bin + " list " + raw + " >/dev/null");
    report("list (compressed rows)", bin + " list " + zipped + " >/dev/null");
    report("list --long (raw rows)", bin + " list --long " + raw + " >/dev/null");
    report("verify (raw rows)", bin + " verify " + raw + " >/dev/null 2>&1");
    report("verify (compressed rows)", bin + " verify " + zipped + " >/dev/null 2>&1");

    // Raw rows: verify beside a plain read of the same BLOB file.
    const fs::path rawBlb = dir / "Raw.BLB";
    const double blbMB = static_cast<double>(fs::file_size(rawBlb)) / kMB;
    const std::string verifyRaw = bin + " verify " + raw + " >/dev/null 2>&1";
    const auto dropRawSet = [&] {
      for (const char* file : {"Raw.dat", "Raw.IDX", "Raw.BLB"}) DropFromCache(dir / file);
    };
    std::vector<double> readWarm, verifyWarm, readCold, verifyCold;
    for (int r = 0; r < repeats; ++r) {
      PlainRead(rawBlb);  // into the page cache
      readWarm.push_back(PlainRead(rawBlb).cpu);
      verifyWarm.push_back(Run(verifyRaw).cpu);
      dropRawSet();
      readCold.push_back(PlainRead(rawBlb).wall);
      dropRawSet();
      verifyCold.push_back(Run(verifyRaw).wall);
    }
    std::printf("\nraw rows, %.0f MB BLOB file    %10s %10s %8s\n", blbMB, "s", "MB/s", "ratio");
    const auto line = [&](const char* what, double seconds, double mb, double base) {
      std::printf("%-32s %10.3f %10.1f %8.2f\n", what, seconds, mb / seconds, base / seconds);
    };
    line("read, page cache (CPU)", Median(readWarm), blbMB, Median(readWarm));
    line("verify, page cache (CPU)", Median(verifyWarm), blbMB, Median(readWarm));
    line("read, dropped cache (wall)", Median(readCold), blbMB, Median(readCold));
    line("verify, dropped cache (wall)", Median(verifyCold), blbMB, Median(readCold));

    // Compressed rows: verify beside decoding the same entries in memory.
    std::vector<EntrySpan> entries;
    for (const auto& archive : archives) entries.push_back(EntryOf(archive));
    std::vector<std::uint8_t> out(256 * 1024);
    std::vector<double> ours, zlib, verifyZip;
    for (int r = 0; r < repeats; ++r) {
      verifyZip.push_back(Run(bin + " verify " + zipped + " >/dev/null 2>&1").cpu);
      zip::EntryDecoder decoder;
      double start = ProcessCpu();
      for (int i = 0; i < rows; ++i)
        if (!app::CheckStoredArchive(archives[i % kContents], decoder).empty())
          throw std::runtime_error("archive check failed");
      ours.push_back(ProcessCpu() - start);
      start = ProcessCpu();
      for (int i = 0; i < rows; ++i) {
        const EntrySpan& e = entries[static_cast<std::size_t>(i % kContents)];
        ZlibInflate(archives[i % kContents].data() + e.offset, e.size, e, out);
      }
      zlib.push_back(ProcessCpu() - start);
    }
    std::printf("\ncompressed rows (CPU)            %10s %10s %8s\n", "s", "MB/s", "ratio");
    line("decode + CRC in memory, ours", Median(ours), content, Median(ours));
    line("decode + CRC in memory, zlib", Median(zlib), content, Median(ours));
    line("verify", Median(verifyZip), content, Median(ours));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "list_verify_bench: %s\n", e.what());
    status = EXIT_FAILURE;
  }
  // A fourth argument "keep" leaves the files for profiling.
  if (argc > 4 && std::string(argv[4]) == "keep") {
    std::printf("kept %s\n", dir.string().c_str());
  } else {
    fs::remove_all(dir);
  }
  return status;
}
