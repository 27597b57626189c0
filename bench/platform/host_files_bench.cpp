// Creating many files in one directory through the host layer, side by side
// with plain open(O_CREAT | O_EXCL) calls: the case-insensitive lookup of every
// new name must not list the directory again and again.
//
// For each size N (12,500 to 100,000; the first argument scales them, the
// second names the directory to work in, default the temporary one), each
// run makes two fresh directories and creates N files in each, alternating
// blocks of kBlock files between the two ways, so that both meet the same file
// system state (creating files is slower for a while after many were deleted,
// and the machine is shared). Both directories are deleted after the run.
// Figures: median of kRuns runs, microseconds per file in thread CPU time
// (system time included), and the ratio ours / plain.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"

namespace {

constexpr int kRuns = 3;
constexpr int kBlock = 500;  // files per turn of each way
constexpr int kSizes[] = {12500, 25000, 50000, 100000};
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

std::string Name(int i) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Backup%06d.Dat", i);
  return buffer;
}

struct Times {
  double ours = 0;
  double plain = 0;
};

Times OneRun(const std::string& root, int n) {
  const std::string oursDir = root + "/ours";
  const std::string plainDir = root + "/plain";
  std::filesystem::create_directories(oursDir);
  std::filesystem::create_directories(plainDir);
  const std::string windowsDir = platform::ToWindowsPath(oursDir) + "\\";
  Times t;
  for (int from = 0; from < n; from += kBlock) {
    const int to = std::min(n, from + kBlock);
    double start = ThreadSeconds();
    for (int i = from; i < to; ++i) {
      platform::File f;
      if (!f.Open(windowsDir + Name(i), platform::Access::ReadWrite, platform::Share::ReadWrite,
                  platform::Disposition::CreateNew)) {
        std::fprintf(stderr, "host layer create failed at %d\n", i);
        std::exit(1);
      }
    }
    t.ours += ThreadSeconds() - start;
    start = ThreadSeconds();
    for (int i = from; i < to; ++i) {
      const std::string path = plainDir + "/" + Name(i);
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        std::perror("open");
        std::exit(1);
      }
      ::close(fd);
    }
    t.plain += ThreadSeconds() - start;
  }
  std::filesystem::remove_all(oursDir);
  std::filesystem::remove_all(plainDir);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const std::filesystem::path where =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  std::string templ = (where / "orv-bench-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) return 1;
  std::printf("Creating N files in one directory, median of %d runs (us per file, thread CPU)\n",
              kRuns);
  std::printf("%8s %10s %10s %8s\n", "N", "host", "open(2)", "ratio");
  for (const int size : kSizes) {
    const int n = std::max(1, static_cast<int>(size * scale));
    std::vector<double> ours, plain, ratio;
    for (int run = 0; run < kRuns; ++run) {
      const Times t = OneRun(templ, n);
      ours.push_back(t.ours / n * kMicrosPerSecond);
      plain.push_back(t.plain / n * kMicrosPerSecond);
      ratio.push_back(t.ours / t.plain);
    }
    std::printf("%8d %10.2f %10.2f %7.2fx\n", n, Median(ours), Median(plain), Median(ratio));
  }
  std::filesystem::remove_all(templ);
  return 0;
}
