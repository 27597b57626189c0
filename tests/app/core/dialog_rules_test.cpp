// Toolkit-free rules of the dialogs and the run frame: the size edit's key
// filter, the size presets and typed numbers, the size texts, the elapsed-time
// text and the greeting library.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/elapsed_time.h"
#include "app/core/greeting.h"
#include "app/core/size_limit.h"

namespace app {
namespace {

TEST(KeyInSetTest, DigitsAndTheThreeControlKeysPassEverythingElseIsSwallowed) {
  struct Case {
    char key;
    bool passes;
  };
  const std::vector<Case> cases = {{'0', true},
                                   {'5', true},
                                   {'9', true},
                                   {'\b', true},
                                   {'\r', true},
                                   {'\x1b', true},
                                   {'a', false},
                                   {'Z', false},
                                   {'-', false},
                                   {'+', false},
                                   {'.', false},
                                   {' ', false},
                                   {'\x16', false} /* Ctrl+V */,
                                   {'\x7f', false},
                                   {'\0', false}};
  for (const Case& c : cases) {
    char key = c.key;
    EXPECT_EQ(KeyInSet(kSizeKeySet, key), c.passes) << int(c.key);
    EXPECT_EQ(key, c.passes ? c.key : '\0') << int(c.key);
  }
}

TEST(SizeLimitTest, PresetsTypedNumbersAndTexts) {
  EXPECT_EQ(PresetSize("不限定"), std::optional<std::int32_t>(0));
  EXPECT_EQ(PresetSize("640MB"), std::optional<std::int32_t>(640));
  EXPECT_EQ(PresetSize("700MB"), std::optional<std::int32_t>(700));
  for (const char* other : {"自行設定", "640", "640mb", "", "700MB "}) {
    EXPECT_EQ(PresetSize(other), std::nullopt) << other;
  }

  const std::vector<std::pair<std::string, std::int32_t>> typed = {{"1200", 1200},
                                                                   {"0", 0},
                                                                   {"007", 7},
                                                                   {"", 10},
                                                                   {"12a", 10},
                                                                   {" 5", 10},
                                                                   {"2147483647", 2147483647},
                                                                   {"2147483648", 10},
                                                                   {"-3", -3},
                                                                   {"+4", 4}};
  for (const auto& [text, size] : typed) EXPECT_EQ(SizeFromText(text), size) << text;

  EXPECT_EQ(SizeLimitText(640), "640 MB");
  EXPECT_EQ(SizeLimitText(700), "700 MB");
  EXPECT_EQ(SizeLimitText(0), "不限定");
}

TEST(ElapsedTimeTest, ZeroPaddedHoursMinutesSecondsMilliseconds) {
  using namespace std::chrono;
  const std::vector<std::pair<milliseconds, std::string>> cases = {
      {milliseconds(0), "00:00:00:000"},
      {minutes(2) + seconds(5) + milliseconds(317), "00:02:05:317"},
      {hours(1) + milliseconds(9), "01:00:00:009"},
      {hours(25), "25:00:00:000"},
      {milliseconds(-5), "00:00:00:000"}};
  for (const auto& [elapsed, text] : cases) EXPECT_EQ(FormatElapsed(elapsed), text);
}

class GreetingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = std::filesystem::temp_directory_path() /
              ("orv_greeting_" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(record_);
    ::setenv("TAVRENNA_RECORD", record_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TAVRENNA_RECORD");
    std::filesystem::remove(record_);
  }
  std::string Recorded() const {
    std::ifstream in(record_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path record_;
};

TEST_F(GreetingTest, CallsTheEntryOnceWithSixty) {
  ShowGreeting(ORV_APP_TEST_BIN "/Tavrenna.dll");
  EXPECT_EQ(Recorded(), "60\n");
}

TEST_F(GreetingTest, MissingLibraryOrEntryDoesNothing) {
  ShowGreeting(ORV_APP_TEST_BIN "/Missing.dll");
  ShowGreeting("Missing.dll");
  ShowGreeting(ORV_APP_TEST_BIN "/NoEntry.dll");
  EXPECT_EQ(Recorded(), "");
}

}  // namespace
}  // namespace app
