// Clock, thread ids, dynamic libraries and the default user-interface services.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/ui_services.h"
#include "platform/win_error.h"

namespace platform {
namespace {

TEST(SystemTest, TickCountAdvancesWithSleep) {
  const std::uint32_t before = GetTickCount();
  Sleep(20);
  const std::uint32_t elapsed = GetTickCount() - before;  // unsigned: survives a wrap
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(SystemTest, ThreadIdsAreNonZeroAndDistinct) {
  const std::uint32_t mine = GetCurrentThreadId();
  std::uint32_t other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(mine, other);
  EXPECT_EQ(mine, GetCurrentThreadId());
  EXPECT_NE(GetCurrentProcessId(), 0u);
}

TEST(SystemTest, CriticalSectionIsRecursive) {
  CriticalSection cs;
  CriticalSectionLock outer(cs);
  EXPECT_TRUE(cs.try_lock());  // the owner may enter again
  cs.unlock();
}

TEST(DynamicLibraryTest, LoadFailuresGiveWindowsCodes) {
  DynamicLibrary lib;
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(lib.Load("Tavrenna.dll"));
  EXPECT_EQ(GetLastError(), kErrorModNotFound);
  EXPECT_FALSE(lib.IsLoaded());

  SetLastError(kErrorSuccess);
  EXPECT_EQ(lib.GetProcAddress("ShowTavrenna"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);

  EXPECT_FALSE(lib.Load(""));
  EXPECT_EQ(GetLastError(), kErrorModNotFound);
}

TEST(DynamicLibraryTest, LoadsAndLooksUpEntries) {
  DynamicLibrary lib;
  ASSERT_TRUE(lib.Load("libm.so.6"));
  EXPECT_TRUE(lib.IsLoaded());
  using CosFn = double (*)(double);
  auto* cosine = reinterpret_cast<CosFn>(lib.GetProcAddress("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);

  SetLastError(kErrorSuccess);
  EXPECT_EQ(lib.GetProcAddress("NoSuchEntryPoint"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorProcNotFound);
  lib.Free();
  EXPECT_FALSE(lib.IsLoaded());
}

TEST(UiServicesTest, DefaultAnswersDefaultOrFirstButton) {
  struct Case {
    MsgButtons buttons;
    MsgResult defaultResult;
    MsgResult expected;
  } const cases[] = {
      {MsgButtons::Ok, MsgResult::None, MsgResult::Ok},
      {MsgButtons::OkCancel, MsgResult::None, MsgResult::Ok},
      {MsgButtons::YesNo, MsgResult::None, MsgResult::Yes},
      {MsgButtons::YesNoCancel, MsgResult::None, MsgResult::Yes},
      {MsgButtons::YesNoAll, MsgResult::None, MsgResult::Yes},
      {MsgButtons::AbortRetryIgnore, MsgResult::None, MsgResult::Abort},
      {MsgButtons::RetryCancel, MsgResult::None, MsgResult::Retry},
      {MsgButtons::YesNo, MsgResult::No, MsgResult::No},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ui().MessageBox("text", "caption", c.buttons, MsgIcon::Question, c.defaultResult),
              c.expected);
  }
  EXPECT_FALSE(Ui().CancelRequested());
  Ui().ProcessMessages();
}

TEST(UiServicesTest, InstalledServicesAnswerUntilRemoved) {
  struct Scripted : UiServices {
    int boxes = 0;
    MsgResult MessageBox(std::string_view, std::string_view, MsgButtons, MsgIcon,
                         MsgResult) override {
      ++boxes;
      return MsgResult::Cancel;
    }
    void ProcessMessages() override {}
    bool CancelRequested() override { return true; }
  } scripted;
  UiServices* previous = InstallUiServices(&scripted);
  EXPECT_EQ(Ui().MessageBox("t", "c", MsgButtons::OkCancel, MsgIcon::None, MsgResult::None),
            MsgResult::Cancel);
  EXPECT_TRUE(Ui().CancelRequested());
  EXPECT_EQ(scripted.boxes, 1);
  EXPECT_EQ(InstallUiServices(previous), &scripted);
  EXPECT_FALSE(Ui().CancelRequested());
}

}  // namespace
}  // namespace platform
