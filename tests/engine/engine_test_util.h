// Shared fixtures of the engine-floor tests: drive D: mapped to a fresh
// temporary directory, an injected lock sleep that counts instead of waiting,
// and a helper that expects an engine error with a given code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/files/lock_map.h"
#include "platform/paths.h"
#include "platform/platform_test_util.h"

namespace engine_test {

using platform_test::TempDir;

// D: is a fresh temporary directory for each test.
class DriveDTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_test::PinUtc();
    platform::ResetDriveMap();
    platform::SetDrive('D', d_.path());
  }
  void TearDown() override { platform::ResetDriveMap(); }

  std::string Host(const std::string& name) const { return d_ / name; }

  TempDir d_;
};

// Replaces the lock sleep while alive; records every requested sleep.
class CountingSleep {
 public:
  CountingSleep() {
    previous_ = engine::SetLockSleepFunction([this](std::uint32_t ms) { sleeps.push_back(ms); });
  }
  ~CountingSleep() { engine::SetLockSleepFunction(previous_); }
  CountingSleep(const CountingSleep&) = delete;
  CountingSleep& operator=(const CountingSleep&) = delete;

  std::vector<std::uint32_t> sleeps;

 private:
  engine::LockSleepFunction previous_;
};

// Runs `body` and returns the code of the engine error it raised (0 when none).
inline int EngineCodeOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const engine::EZORVADEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace engine_test
