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

#include "common/temp_dir.h"
#include "platform/paths.h"

namespace platform_test {

inline void PinUtc() {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
}

using TempDir = test_common::TempDir;

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
