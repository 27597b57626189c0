// Shared helpers of the archive tests: temporary directories mapped to drives
// C: and D:, host file helpers, byte-level archive builders, peer tools.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/paths.h"
#include "platform/ui_services.h"

namespace zip_test {

using TempDir = test_common::TempDir;

inline void WriteHostFile(const std::string& hostPath, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool HostExists(const std::string& hostPath) {
  std::error_code ec;
  return std::filesystem::exists(hostPath, ec);
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

inline std::string TextBytes(std::size_t n) {
  static const char* kWords[] = {"backup ", "archive ", "deflate ", "table ", "restore\r\n",
                                 "the ",    "of ",      "file ",    "zip ",   "entry "};
  std::string s;
  std::mt19937 gen(7);
  while (s.size() < n) s += kWords[gen() % 10];
  s.resize(n);
  return s;
}

// C: and D: map to two temporary directories; the drive map is restored
// afterwards and the time zone pinned to UTC.
class ZipDrivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::ResetDriveMap();
    platform::SetDrive('C', c_.path());
    platform::SetDrive('D', d_.path());
  }
  void TearDown() override { platform::ResetDriveMap(); }

  // Host path of a Windows-relative name below C: or D:.
  std::string HostC(const std::string& rel) const { return c_.path() + "/" + rel; }
  std::string HostD(const std::string& rel) const { return d_.path() + "/" + rel; }

  TempDir c_;
  TempDir d_;
};

// Runs a shell command; returns its exit status and (optionally) its output.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null") == 0;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

// A user-interface service that records message boxes and answers a fixed result.
class RecordingUi : public platform::UiServices {
 public:
  explicit RecordingUi(platform::MsgResult answer = platform::MsgResult::None)
      : answer_(answer), previous_(platform::InstallUiServices(this)) {}
  ~RecordingUi() override { platform::InstallUiServices(previous_); }
  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons, platform::MsgIcon,
                                 platform::MsgResult) override {
    boxes.push_back(std::string(caption) + ": " + std::string(text));
    return answer_ == platform::MsgResult::None ? platform::FirstButton(buttons) : answer_;
  }
  void ProcessMessages() override { ++processed; }
  bool CancelRequested() override {
    if (cancelAfter >= 0 && processed >= cancelAfter) return true;
    return false;
  }
  std::vector<std::string> boxes;
  int processed = 0;
  int cancelAfter = -1;

 private:
  platform::MsgResult answer_;
  platform::UiServices* previous_;
};

}  // namespace zip_test
