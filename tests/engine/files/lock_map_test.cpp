// The lock-byte map and its retry rules, within one process and against a
// forked process, with the sleep between attempts injected and counted.
#include "engine/files/lock_map.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/engine_test_util.h"
#include "engine/files/file_handler.h"

namespace {

using engine::TFileHandler;
using engine_test::CountingSleep;
using engine_test::EngineCodeOf;
using platform_test::Child;

class LockMapTest : public engine_test::DriveDTest {
 protected:
  void SetUp() override {
    DriveDTest::SetUp();
    TFileHandler maker(nullptr);
    maker.SetFileName("D:\\L.DAT");
    maker.CreateNew();
    maker.Write("data", 4);
  }
  // A shared handler of D:\L.DAT; every handler of one process shares the handle.
  static void OpenShared(TFileHandler& h) {
    h.SetFileName("D:\\L.DAT");
    h.Open();
  }
};

TEST(LockMapLayout, OffsetsOfTheMap) {
  EXPECT_EQ(engine::RecordLockOffset(1), 0x7FFFFFFDu);
  EXPECT_EQ(engine::RecordLockOffset(engine::kMaxLockableRecord), 0x7A0A1EFEu);
  EXPECT_EQ(engine::ReaderSlotOffset(1), 0x7FFFFFFEu);
  EXPECT_EQ(engine::ReaderSlotOffset(engine::kMaxReaderSlot), engine::kFileWriteLockOffset + 1);
  // The write range covers exactly the reader slots 1..65534 and stops below
  // the data file's write byte.
  EXPECT_EQ(engine::kFileWriteLockOffset + engine::kFileWriteLockLength - 1,
            engine::ReaderSlotOffset(1));
  EXPECT_LT(engine::kFileWriteLockOffset + engine::kFileWriteLockLength - 1,
            engine::kTableWriteLockOffset);
}

TEST_F(LockMapTest, ReadLocksTakeDistinctSlotsAndBlockTheWriter) {
  CountingSleep sleep;
  TFileHandler h(nullptr);
  OpenShared(h);
  // Many readers at once: every slot in range and never twice.
  std::set<std::uint32_t> slots;
  for (int i = 0; i < 300; ++i) {
    std::uint32_t slot = 0;
    ASSERT_TRUE(engine::TakeReadLock(h, slot));
    EXPECT_GE(slot, 1u);
    EXPECT_LE(slot, engine::kMaxReaderSlot);
    EXPECT_TRUE(slots.insert(slot).second) << slot;
  }
  // The writer is refused while a slot is held: 8193 attempts, 8192 sleeps of 3 ms.
  // (A reader that drew a taken slot slept and drew again; those sleeps don't count.)
  sleep.sleeps.clear();
  EXPECT_FALSE(engine::TakeFileWriteLock(h));
  EXPECT_EQ(sleep.sleeps.size(), 8192u);
  EXPECT_EQ(sleep.sleeps.front(), engine::kLockRetrySleepMs);
  for (std::uint32_t slot : slots) ASSERT_TRUE(engine::ReleaseReadLock(h, slot));
  EXPECT_FALSE(engine::ReleaseReadLock(h, *slots.begin()));  // not held any more
  EXPECT_FALSE(engine::ReleaseReadLock(h, 0));
  // Now the writer gets the range, and readers are refused in their turn.
  sleep.sleeps.clear();
  ASSERT_TRUE(engine::TakeFileWriteLock(h));
  EXPECT_TRUE(sleep.sleeps.empty());
  std::uint32_t slot = 99;
  EXPECT_FALSE(engine::TakeReadLock(h, slot));
  EXPECT_EQ(sleep.sleeps.size(), 8192u);
  EXPECT_TRUE(engine::ReleaseFileWriteLock(h));
  EXPECT_FALSE(engine::ReleaseFileWriteLock(h));
}

TEST_F(LockMapTest, WriteLockIsGrantedWhenTheHolderLetsGoWithinTheBound) {
  TFileHandler h(nullptr);
  OpenShared(h);
  std::uint32_t slot = 0;
  ASSERT_TRUE(engine::TakeReadLock(h, slot));
  int sleeps = 0;
  engine::LockSleepFunction previous = engine::SetLockSleepFunction([&](std::uint32_t) {
    if (++sleeps == 8192) engine::ReleaseReadLock(h, slot);  // before the last attempt
  });
  EXPECT_TRUE(engine::TakeFileWriteLock(h));
  EXPECT_EQ(sleeps, 8192);
  engine::SetLockSleepFunction(previous);
  engine::ReleaseFileWriteLock(h);
}

TEST_F(LockMapTest, TableWriteByteAgainstAnotherProcess) {
  CountingSleep sleep;
  // The child forks before this process opens the file, so that the two do
  // not share one inherited handle.
  Child holder([] {
    // Left open on purpose: the lock must outlive this function.
    auto* other = new TFileHandler(nullptr);
    other->SetFileName("D:\\L.DAT");
    other->Open();
    return engine::TakeTableWriteLock(*other) ? 1 : 0;
  });
  ASSERT_EQ(holder.Report(), 1);
  TFileHandler h(nullptr);
  OpenShared(h);
  EXPECT_FALSE(engine::TakeTableWriteLock(h));
  EXPECT_EQ(sleep.sleeps.size(), 8192u);
  // Record locks are separate bytes: still free.
  engine::TakeRecordLock(h, 1, 15, 100, "L.DAT");
  EXPECT_TRUE(engine::ReleaseRecordLock(h, 1));
  holder.Release();  // the lock goes with the process
  sleep.sleeps.clear();
  EXPECT_TRUE(engine::TakeTableWriteLock(h));
  EXPECT_TRUE(sleep.sleeps.empty());
  EXPECT_TRUE(engine::ReleaseTableWriteLock(h));
}

TEST_F(LockMapTest, RecordLockRetriesThenRaises) {
  struct Case {
    int retryCount;
    std::uint32_t waitMs;
  };
  const Case cases[] = {{15, 100}, {0, 100}, {3, 7}, {255, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retryCount);
    CountingSleep sleep;
    Child holder([] {
      auto* other = new TFileHandler(nullptr);  // kept open until the child exits
      other->SetFileName("D:\\L.DAT");
      other->Open();
      engine::TakeRecordLock(*other, 42, 0, 0, "L.DAT");
      return 1;
    });
    ASSERT_EQ(holder.Report(), 1);
    TFileHandler h(nullptr);
    OpenShared(h);
    try {
      engine::TakeRecordLock(h, 42, c.retryCount, c.waitMs, "L.DAT");
      FAIL();
    } catch (const engine::EZORVADEngineError& e) {
      EXPECT_EQ(e.Message(),
                "ZORVAD Engine Error # 10258 Record in table 'L.DAT' is in use by another user");
    }
    // retryCount + 1 attempts with retryCount sleeps of waitMs between them.
    EXPECT_EQ(sleep.sleeps.size(), static_cast<std::size_t>(c.retryCount));
    for (std::uint32_t ms : sleep.sleeps) EXPECT_EQ(ms, c.waitMs);
    // Another record is free.
    engine::TakeRecordLock(h, 43, c.retryCount, c.waitMs, "L.DAT");
    EXPECT_TRUE(engine::ReleaseRecordLock(h, 43));
    EXPECT_FALSE(engine::ReleaseRecordLock(h, 42));  // held by the other process, not us
  }
}

TEST_F(LockMapTest, RecordLockSucceedsWhenReleasedDuringTheWaits) {
  TFileHandler h(nullptr);
  OpenShared(h);
  // Within one process the handle is shared, so the second lock of a byte is
  // refused just as another process's would be.
  engine::TakeRecordLock(h, 7, 0, 0, "L.DAT");
  int sleeps = 0;
  engine::LockSleepFunction previous = engine::SetLockSleepFunction([&](std::uint32_t) {
    if (++sleeps == 3) engine::ReleaseRecordLock(h, 7);
  });
  engine::TakeRecordLock(h, 7, 15, 100, "L.DAT");
  EXPECT_EQ(sleeps, 3);
  engine::SetLockSleepFunction(previous);
  EXPECT_TRUE(engine::ReleaseRecordLock(h, 7));
}

TEST_F(LockMapTest, RecordNumbersOutsideTheMapAreRefused) {
  TFileHandler h(nullptr);
  OpenShared(h);
  for (std::uint32_t n : {0u, engine::kMaxLockableRecord + 1}) {
    EXPECT_EQ(EngineCodeOf([&] { engine::TakeRecordLock(h, n, 0, 0, "L.DAT"); }),
              engine::kErrLockFailed);
    EXPECT_FALSE(engine::ReleaseRecordLock(h, n));
  }
}

TEST_F(LockMapTest, LocksOnAClosedHandlerFail) {
  CountingSleep sleep;
  TFileHandler closed(nullptr);
  closed.SetFileName("D:\\L.DAT");
  std::uint32_t slot = 0;
  EXPECT_FALSE(engine::TakeReadLock(closed, slot));
  EXPECT_FALSE(engine::ReleaseTableWriteLock(closed));
}

}  // namespace
