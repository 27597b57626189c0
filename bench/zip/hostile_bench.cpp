// Costs that must grow linearly with hostile input:
//
// - deep: extracting one entry named "d/" x N + "x" with directories
//   recreated (N = 250 to 2,000: the deepest name is just within what the host
//   takes), into a fresh destination that is deleted after each run (below the
//   directory the first argument names, default the temporary one);
// - repair: loading the directory of an archive of N entries whose sizes are
//   only in unsigned data descriptors and whose central directory is gone
//   (N = 5,000 to 40,000), from memory.
//
// Figures: median of kRuns runs in thread CPU time (system time included), the
// total and the cost per level or per entry; linear growth keeps the latter flat.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "zip/crc32.h"
#include "zip/dir_load.h"
#include "zip/unzip_reader.h"
#include "zip/zip_records.h"

namespace {

constexpr int kRuns = 5;
constexpr int kLevels[] = {250, 500, 1000, 2000};
constexpr int kEntries[] = {5000, 10000, 20000, 40000};
constexpr std::uint16_t kFlagDescriptor = 8;
constexpr double kMicrosPerSecond = 1e6;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void U16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void U32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  U16(out, static_cast<std::uint16_t>(v));
  U16(out, static_cast<std::uint16_t>(v >> 16));
}

// A local header; with `descriptor`, zero sizes and an unsigned descriptor after the data.
void Local(std::vector<std::uint8_t>& out, const std::string& name, const std::string& data,
           bool descriptor) {
  const std::uint32_t crc = zip::Crc32(data.data(), data.size());
  const auto size = static_cast<std::uint32_t>(data.size());
  U32(out, zip::kLocalSignature);
  U16(out, 20);
  U16(out, descriptor ? kFlagDescriptor : 0);
  U16(out, zip::kMethodStored);
  U32(out, 0);
  U32(out, descriptor ? 0 : crc);
  U32(out, descriptor ? 0 : size);
  U32(out, descriptor ? 0 : size);
  U16(out, static_cast<std::uint16_t>(name.size()));
  U16(out, 0);
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), data.begin(), data.end());
  if (descriptor) {
    U32(out, crc);
    U32(out, size);
    U32(out, size);
  }
}

// One stored entry with its central header and end record.
std::vector<std::uint8_t> OneEntryArchive(const std::string& name, const std::string& data) {
  std::vector<std::uint8_t> out;
  Local(out, name, data, false);
  const auto at = static_cast<std::uint32_t>(out.size());
  const auto size = static_cast<std::uint32_t>(data.size());
  U32(out, zip::kCentralSignature);
  U16(out, 20);
  U16(out, 20);
  U16(out, 0);
  U16(out, zip::kMethodStored);
  U32(out, 0);
  U32(out, zip::Crc32(data.data(), data.size()));
  U32(out, size);
  U32(out, size);
  U16(out, static_cast<std::uint16_t>(name.size()));
  for (int i = 0; i < 4; ++i) U16(out, 0);
  U32(out, 0x20);
  U32(out, 0);
  out.insert(out.end(), name.begin(), name.end());
  const auto directorySize = static_cast<std::uint32_t>(out.size()) - at;
  U32(out, zip::kEndSignature);
  U32(out, 0);
  U16(out, 1);
  U16(out, 1);
  U32(out, directorySize);
  U32(out, at);
  U16(out, 0);
  return out;
}

void Deep(const std::string& root) {
  std::printf("Extracting one entry N levels deep, median of %d runs (thread CPU)\n", kRuns);
  std::printf("%8s %12s %14s\n", "levels", "total ms", "us per level");
  for (const int levels : kLevels) {
    std::string name;
    for (int i = 0; i < levels; ++i) name += "d/";
    const auto archive = OneEntryArchive(name + "x", "deep");
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
      const std::string dest = root + "/out";
      zip::TOrvUnZip reader;
      reader.UseMemoryArchive(archive);
      reader.DoProcessMessages = false;
      reader.DoAll = true;
      reader.RecreateDirs = true;
      reader.SetDestDir(platform::ToWindowsPath(dest));
      const double start = ThreadSeconds();
      const int extracted = reader.UnZip();
      seconds.push_back(ThreadSeconds() - start);
      if (extracted != 1) {
        std::fprintf(stderr, "deep entry of %d levels not extracted\n", levels);
        std::exit(1);
      }
      std::filesystem::remove_all(dest);
    }
    const double s = Median(seconds);
    std::printf("%8d %12.2f %14.2f\n", levels, s * 1e3, s / levels * kMicrosPerSecond);
  }
}

void Repair() {
  std::printf("Repair scan of N descriptor-only entries, median of %d runs (thread CPU)\n", kRuns);
  std::printf("%8s %10s %12s %14s\n", "entries", "KB", "total ms", "us per entry");
  for (const int entries : kEntries) {
    std::vector<std::uint8_t> archive;
    for (int i = 0; i < entries; ++i) {
      Local(archive, "file" + std::to_string(i) + ".txt", "content of entry " + std::to_string(i),
            true);
    }
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
      zip::TMemoryStream stream(archive);
      zip::TDirLoadOptions options;
      options.incompleteMode = zip::TIncompleteZipMode::izAssumeBad;
      options.doProcessMessages = false;
      zip::TZipDirectory dir;
      const double start = ThreadSeconds();
      zip::LoadDirectory(stream, options, dir);
      seconds.push_back(ThreadSeconds() - start);
      if (dir.list->Count() != entries) {
        std::fprintf(stderr, "repair scan found %d of %d entries\n", dir.list->Count(), entries);
        std::exit(1);
      }
    }
    const double s = Median(seconds);
    std::printf("%8d %10zu %12.2f %14.3f\n", entries, archive.size() / 1024, s * 1e3,
                s / entries * kMicrosPerSecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path where =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  std::string templ = (where / "orv-bench-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) return 1;
  Deep(templ);
  Repair();
  std::filesystem::remove_all(templ);
  return 0;
}
