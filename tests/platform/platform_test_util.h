// Shared fixtures of the host-layer tests: a temporary directory mapped to
// drives D: and E:, the time zone pinned to UTC, and forked children that
// report through a pipe (locks and share modes between processes).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/paths.h"

namespace platform_test {

inline void PinUtc() {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
}

// A fresh directory below the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "orv-platform-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only entries would stop the removal of their directory.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteHostFile(const std::string& hostPath, const std::string& content) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// D: and E: point at two temporary directories; the map is restored afterwards.
class DrivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PinUtc();
    platform::ResetDriveMap();
    platform::SetDrive('D', d_.path());
    platform::SetDrive('E', e_.path());
  }
  void TearDown() override { platform::ResetDriveMap(); }

  TempDir d_;
  TempDir e_;
};

// A forked child that runs `body`, reports its result through a pipe and then
// waits until the parent releases it. Release() lets it _exit without closing
// anything, as a crashing process would.
class Child {
 public:
  explicit Child(const std::function<int()>& body) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      const int result = body();
      if (::write(up[1], &result, sizeof result) != sizeof result) ::_exit(2);
      char go = 0;
      while (::read(down[0], &go, 1) < 0) {
      }
      ::_exit(0);  // no destructors, no closing: locks must vanish with the process
    }
    ::close(up[1]);
    ::close(down[0]);
    reportFd_ = up[0];
    releaseFd_ = down[1];
  }
  ~Child() { Release(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The child's result (-1 when it died before reporting).
  int Report() {
    int result = -1;
    if (::read(reportFd_, &result, sizeof result) != sizeof result) return -1;
    return result;
  }
  // Lets the child exit and reaps it.
  void Release() {
    if (pid_ <= 0) return;
    const char go = 1;
    if (::write(releaseFd_, &go, 1) != 1) {
    }
    ::close(releaseFd_);
    ::close(reportFd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int reportFd_ = -1;
  int releaseFd_ = -1;
};

// Runs `body` in a child process and returns its result.
inline int InChild(const std::function<int()>& body) {
  Child child(body);
  return child.Report();
}

}  // namespace platform_test
