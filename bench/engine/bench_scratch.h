// What the engine benchmarks share: wall-clock timing, medians, and a fresh
// scratch directory mapped as a drive letter, so that the engine sees the
// Windows paths it is built for. The directory is removed at the end, so
// every case starts in a directory no earlier run has filled and emptied.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"

namespace orvbench {

constexpr char kBenchDrive = 'T';

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A fresh temporary directory `<prefix>_<pid>_<n>` mapped as drive T:.
class Scratch {
 public:
  explicit Scratch(const std::string& prefix) {
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
    platform::SetDrive(kBenchDrive, path_.string());
  }
  ~Scratch() {
    platform::RemoveDrive(kBenchDrive);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string Host(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

}  // namespace orvbench
