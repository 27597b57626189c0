// Fault injection in the writes and flushes of File: the n-th operation of a
// kind fails (once, or from there on) or kills the process before it, and
// ORV_FAULT_AT reads as documented.
#include "platform/fault_injection.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::DrivesTest;
using platform_test::ReadHostFile;

class FaultInjectionTest : public DrivesTest {
 protected:
  void TearDown() override {
    ClearFaultPlan();
    DrivesTest::TearDown();
  }
  bool Open(File& f) {
    return f.Open("D:\\f.bin", Access::ReadWrite, Share::ReadWrite, Disposition::OpenAlways);
  }
};

// Runs the operations "w" (write one byte), "e" (set end of file) and "f"
// (flush) under a plan and answers which of them failed ("." passed, "x").
std::string RunOps(File& f, const std::string& ops) {
  std::string result;
  for (const char op : ops) {
    std::uint32_t done = 0;
    bool ok = true;
    if (op == 'w') ok = f.Write("a", 1, done);
    if (op == 'e') ok = f.SetEndOfFile();
    if (op == 'f') ok = f.Flush();
    if (!ok) {
      EXPECT_EQ(GetLastError(), kErrorDiskFull);
    }
    result += ok ? '.' : 'x';
  }
  return result;
}

TEST_F(FaultInjectionTest, TheNthOperationOfAKindFails) {
  struct Case {
    const char* name;
    FaultPlan plan;
    std::string expected;  // over "wwfwefwf"
  };
  const Case cases[] = {
      {"no plan", {}, "........"},
      {"third of all", {3, FaultAction::Fail, FaultKind::All, false}, "..x....."},
      {"second write (an end-of-file change counts)",
       {2, FaultAction::Fail, FaultKind::Write, false},
       ".x......"},
      {"fourth write", {4, FaultAction::Fail, FaultKind::Write, false}, "....x..."},
      {"second flush", {2, FaultAction::Fail, FaultKind::Flush, false}, ".....x.."},
      {"from the fifth on", {5, FaultAction::Fail, FaultKind::All, true}, "....xxxx"},
      {"beyond the last", {9, FaultAction::Fail, FaultKind::All, false}, "........"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File f;
    ASSERT_TRUE(Open(f));
    SetFaultPlan(c.plan);
    EXPECT_EQ(RunOps(f, "wwfwefwf"), c.expected);
    EXPECT_EQ(FaultOperationCount(FaultKind::Write), 5u);
    EXPECT_EQ(FaultOperationCount(FaultKind::Flush), 3u);
    EXPECT_EQ(FaultOperationCount(), 8u);
    ClearFaultPlan();
  }
}

TEST_F(FaultInjectionTest, KillStopsTheProcessBeforeTheOperation) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    File f;
    if (!Open(f)) ::_exit(1);
    SetFaultPlan({3, FaultAction::Kill, FaultKind::Write, false});
    std::uint32_t done = 0;
    for (const char* part : {"ab", "cd", "ef"}) f.Write(part, 2, done);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(ReadHostFile(d_.path() + "/f.bin"), "abcd");
}

TEST(FaultPlanTextTest, ReadsTheEnvironmentForm) {
  struct Case {
    const char* text;
    bool reads;
    std::uint64_t at;
    FaultAction action;
    FaultKind kind;
  };
  const Case cases[] = {
      {"17:kill", true, 17, FaultAction::Kill, FaultKind::All},
      {"3:fail:write", true, 3, FaultAction::Fail, FaultKind::Write},
      {"1:fail:flush", true, 1, FaultAction::Fail, FaultKind::Flush},
      {"2:kill:all", true, 2, FaultAction::Kill, FaultKind::All},
      {"0:kill", false, 0, FaultAction::None, FaultKind::All},
      {"-1:kill", false, 0, FaultAction::None, FaultKind::All},
      {"x:kill", false, 0, FaultAction::None, FaultKind::All},
      {"5:explode", false, 0, FaultAction::None, FaultKind::All},
      {"5:fail:seek", false, 0, FaultAction::None, FaultKind::All},
      {"5", false, 0, FaultAction::None, FaultKind::All},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FaultPlan plan;
    EXPECT_EQ(ParseFaultPlan(c.text, plan), c.reads);
    EXPECT_EQ(plan.at, c.at);
    EXPECT_EQ(plan.action, c.action);
    EXPECT_EQ(plan.kind, c.kind);
  }
}

}  // namespace
}  // namespace platform
