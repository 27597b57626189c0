// The directories a run remembers: one entry for every spelling of a
// directory, made with every missing level when needed, never remembered
// when it cannot be made, and tested again once forgotten.
#include "platform/known_directories.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;

class KnownDirectoriesTest : public DrivesTest {};

TEST_F(KnownDirectoriesTest, EverySpellingOfADirectoryIsOneEntry) {
  KnownDirectories known;
  known.Remember("D:\\Data\\Sub");
  for (const char* same : {"D:\\Data\\Sub", "d:\\data\\SUB\\", "D:/Data/Sub", "D:\\Data\\.\\Sub",
                           "D:\\Data\\Other\\..\\Sub", "D:\\DATA\\Sub\\"}) {
    EXPECT_TRUE(known.Contains(same)) << same;
  }
  for (const char* other : {"D:\\Data", "D:\\Data\\Sub\\Deeper", "E:\\Data\\Sub", "D:\\Data\\Sub2"})
    EXPECT_FALSE(known.Contains(other)) << other;
  EXPECT_TRUE(known.Forget("D:\\DATA\\sub"));
  EXPECT_FALSE(known.Contains("D:\\Data\\Sub"));
  EXPECT_FALSE(known.Forget("D:\\Data\\Sub"));
}

// Ensure makes the directory once; after that it trusts its memory (no
// disk access) until the directory is forgotten, and a directory that
// cannot be made (a file in its place) is not remembered.
TEST_F(KnownDirectoriesTest, EnsureMakesTrustsAndTestsAgainWhenForgotten) {
  KnownDirectories known;
  ASSERT_TRUE(known.Ensure("D:\\A\\B\\C"));
  EXPECT_TRUE(std::filesystem::is_directory(d_.path() + "/A/B/C"));
  std::filesystem::remove_all(d_.path() + "/A/B");
  const auto probes = [] { return internal::Counters().probes.load(); };
  const std::uint64_t before = probes();
  EXPECT_TRUE(known.Ensure("d:\\a\\b\\c"));  // remembered: not looked at
  EXPECT_EQ(probes(), before);
  EXPECT_FALSE(std::filesystem::exists(d_.path() + "/A/B"));
  EXPECT_TRUE(known.Forget("D:\\A\\B\\C"));
  std::ofstream(d_.path() + "/A/B") << "a file in the way";
  EXPECT_FALSE(known.Ensure("D:\\A\\B\\C"));
  EXPECT_FALSE(known.Contains("D:\\A\\B\\C"));
  std::filesystem::remove(d_.path() + "/A/B");
  EXPECT_TRUE(known.Ensure("D:\\A\\B\\C"));
  EXPECT_TRUE(std::filesystem::is_directory(d_.path() + "/A/B/C"));
}

}  // namespace
}  // namespace platform
