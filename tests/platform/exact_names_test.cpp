// Exact names: a file found without regard to case is given back as spelled
// on disk, and an exact look-up does not fold case.
#include "platform/exact_names.h"

#include <gtest/gtest.h>

#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::WriteHostFile;

TEST_F(DrivesTest, ExistingHostPathIsSpelledAsOnDisk) {
  WriteHostFile(d_.path() + "/Back.Dat", "x");
  for (const char* asked : {"D:\\Back.Dat", "D:\\back.dat", "D:\\BACK.DAT"}) {
    SCOPED_TRACE(asked);
    const auto host = ExistingHostPath(asked);
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(*host, d_.path() + "/Back.Dat");
  }
  EXPECT_FALSE(ExistingHostPath("D:\\Other.Dat").has_value());
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_TRUE(HostPathExists(d_.path() + "/Back.Dat"));
  EXPECT_FALSE(HostPathExists(d_.path() + "/back.dat"));
}

}  // namespace
}  // namespace platform
