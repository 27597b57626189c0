// File handles: open dispositions, access, share modes and byte-range locks
// within one process and between processes (forked children), locks that
// vanish with their handle or process, delete-on-close, I/O and times.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include <cstring>
#include <string>

#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/win_error.h"
#include "platform_test_util.h"

namespace platform {
namespace {

using platform_test::Child;
using platform_test::DrivesTest;
using platform_test::InChild;
using platform_test::ReadHostFile;
using platform_test::WriteHostFile;

constexpr const char* kTable = "D:\\Data\\Back.Dat";

// The write lock of a table and the write range of its index file: the two
// highest ranges that callers lock.
constexpr std::uint32_t kWriteLockByte = 0x7FFFFFFF;
constexpr std::uint32_t kIndexWriteRange = 0x7FFF0000;
constexpr std::uint32_t kIndexWriteLength = 0xFFFF;

// Runs every test twice: with O_RDWR descriptors where possible, and with
// read-only handles forced onto O_RDONLY descriptors (the form a file without
// write permission gets), whose exclusive locks are built from read locks.
class FileTest : public DrivesTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    DrivesTest::SetUp();
    internal::SetForceReadOnlyDescriptors(GetParam());
    ::mkdir((d_.path() + "/Data").c_str(), 0777);
    WriteHostFile(d_.path() + "/Data/Back.dat", "0123456789");
  }
  void TearDown() override {
    internal::SetForceReadOnlyDescriptors(false);
    DrivesTest::TearDown();
  }

  static bool OpenShared(File& f, Access access = Access::ReadWrite) {
    return f.Open(kTable, access, Share::ReadWrite, Disposition::OpenExisting);
  }
  static bool OpenExclusive(File& f, Access access = Access::ReadWrite) {
    return f.Open(kTable, access, Share::None, Disposition::OpenExisting);
  }
  // The result of a step in a child: 0 for success, else the Windows error.
  static int Code(bool ok) { return ok ? 0 : static_cast<int>(GetLastError()); }
};

INSTANTIATE_TEST_SUITE_P(Descriptors, FileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ReadOnlyFd" : "WritableFd"; });

TEST_P(FileTest, OpenDispositions) {
  File f;
  EXPECT_FALSE(
      f.Open("D:\\Data\\missing.dat", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(f.Open("D:\\NoDir\\x.dat", Access::Read, Share::ReadWrite, Disposition::OpenAlways));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(f.Open("Q:\\x.dat", Access::Read, Share::ReadWrite, Disposition::OpenAlways));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(f.Open(kTable, Access::ReadWrite, Share::ReadWrite, Disposition::CreateNew));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  EXPECT_FALSE(f.Open("D:\\Data", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  // A FIFO is refused at once instead of waiting for a writer.
  ASSERT_EQ(::mkfifo((d_.path() + "/Data/pipe").c_str(), 0666), 0);
  EXPECT_FALSE(f.Open("D:\\Data\\pipe", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);

  ASSERT_TRUE(f.Open(kTable, Access::Read, Share::ReadWrite, Disposition::OpenAlways));
  std::int64_t size = 0;
  ASSERT_TRUE(f.GetSize(size));
  EXPECT_EQ(size, 10);
  EXPECT_EQ(f.Path(), kTable);
  f.Close();

  ASSERT_TRUE(f.Open("D:\\Data\\New.Dat", Access::ReadWrite, Share::None, Disposition::CreateNew));
  f.Close();
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/New.Dat"), "");  // created with the case written

  ASSERT_TRUE(f.Open(kTable, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  ASSERT_TRUE(f.GetSize(size));
  EXPECT_EQ(size, 0);
}

// kOpenNewName: a name the caller vouches is new is created as written
// without a look-up; when it is not new as written (it exists, or its
// directory is spelt otherwise on disk or missing) the open ends as it would
// without the option.
TEST_P(FileTest, ANameVouchedNewIsCreatedAtOnceOrOpenedAsWithoutTheOption) {
  struct Case {
    const char* path;
    Disposition disposition;
    std::uint32_t error;   // 0: the open succeeds
    const char* hostFile;  // below D:, where the bytes written land
    const char* before;    // its content before, when it exists
  };
  const Case cases[] = {
      {"D:\\Data\\Fresh.txt", Disposition::CreateAlways, 0, "/Data/Fresh.txt", nullptr},
      {"D:\\Data\\Back.dat", Disposition::CreateAlways, 0, "/Data/Back.dat", "0123456789"},
      {"D:\\Data\\Back.dat", Disposition::CreateNew, kErrorFileExists, "/Data/Back.dat",
       "0123456789"},
      {"D:\\DATA\\Other.txt", Disposition::CreateAlways, 0, "/Data/Other.txt", nullptr},
      {"D:\\NoDir\\x.dat", Disposition::CreateAlways, kErrorPathNotFound, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    WriteHostFile(d_.path() + "/Data/Back.dat", "0123456789");
    File f;
    const bool opened = f.Open(c.path, Access::ReadWrite, Share::None, c.disposition, kOpenNewName);
    if (c.error != 0) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(GetLastError(), c.error);
      if (c.before != nullptr) {
        EXPECT_EQ(ReadHostFile(d_.path() + c.hostFile), c.before);
      }
      continue;
    }
    ASSERT_TRUE(opened);
    std::uint32_t done = 0;
    ASSERT_TRUE(f.Write("new", 3, done));
    // The handle's sharing mode holds as without the option.
    File other;
    EXPECT_FALSE(other.Open(c.path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    f.Close();
    EXPECT_EQ(ReadHostFile(d_.path() + c.hostFile), "new");
  }
  // No directory was made beside the one spelt otherwise.
  struct stat st {};
  EXPECT_NE(::lstat((d_.path() + "/DATA").c_str(), &st), 0);

  // A new name costs no probe of the directory or the name.
  const std::uint64_t probes = internal::Counters().probes.load();
  const std::uint64_t listings = internal::Counters().listings.load();
  File f;
  ASSERT_TRUE(f.Open("D:\\Data\\Second.txt", Access::ReadWrite, Share::None,
                     Disposition::CreateAlways, kOpenNewName));
  EXPECT_EQ(internal::Counters().probes.load(), probes);
  EXPECT_EQ(internal::Counters().listings.load(), listings);
}

TEST_P(FileTest, ReadWriteSeekAndEndOfFile) {
  File f;
  ASSERT_TRUE(OpenShared(f));
  char buf[16] = {};
  std::uint32_t done = 0;
  ASSERT_TRUE(f.Seek(3, SeekOrigin::Begin));
  ASSERT_TRUE(f.Read(buf, 4, done));
  EXPECT_EQ(std::string(buf, done), "3456");
  std::int64_t pos = 0;
  ASSERT_TRUE(f.Seek(-2, SeekOrigin::End, &pos));
  EXPECT_EQ(pos, 8);
  ASSERT_TRUE(f.Read(buf, sizeof buf, done));
  EXPECT_EQ(done, 2u);
  ASSERT_TRUE(f.Read(buf, sizeof buf, done));
  EXPECT_EQ(done, 0u);  // at the end: nothing, and no error

  ASSERT_TRUE(f.Seek(12, SeekOrigin::Begin));  // beyond the end: the gap reads as zeros
  ASSERT_TRUE(f.Write("AB", 2, done));
  EXPECT_EQ(done, 2u);
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/Back.dat"), std::string("0123456789\0\0AB", 14));

  ASSERT_TRUE(f.Seek(4, SeekOrigin::Begin));
  ASSERT_TRUE(f.SetEndOfFile());
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/Back.dat"), "0123");

  EXPECT_FALSE(f.Seek(-1, SeekOrigin::Begin));
  EXPECT_EQ(GetLastError(), kErrorNegativeSeek);
}

TEST_P(FileTest, PositionedReadsAndWritesLeaveThePointer) {
  File f;
  ASSERT_TRUE(OpenShared(f));
  char buf[16] = {};
  std::uint32_t done = 0;
  ASSERT_TRUE(f.Seek(2, SeekOrigin::Begin));
  ASSERT_TRUE(f.ReadAt(6, buf, 8, done));
  EXPECT_EQ(std::string(buf, done), "6789");  // short at the end, no error
  ASSERT_TRUE(f.WriteAt(8, "xyz", 3, done));
  EXPECT_EQ(done, 3u);
  std::int64_t pos = 0;
  ASSERT_TRUE(f.Seek(0, SeekOrigin::Current, &pos));
  EXPECT_EQ(pos, 2);  // neither moved the pointer
  ASSERT_TRUE(f.Read(buf, 3, done));
  EXPECT_EQ(std::string(buf, done), "234");
  ASSERT_TRUE(f.Seek(0, SeekOrigin::End, &pos));
  EXPECT_EQ(pos, 11);  // the size includes what WriteAt appended
  // Another handle of the same file sees the positioned write at once.
  File other;
  ASSERT_TRUE(OpenShared(other));
  ASSERT_TRUE(other.ReadAt(0, buf, sizeof buf, done));
  EXPECT_EQ(std::string(buf, done), "01234567xyz");

  EXPECT_FALSE(f.ReadAt(-1, buf, 1, done));
  EXPECT_EQ(GetLastError(), kErrorNegativeSeek);
  EXPECT_FALSE(f.WriteAt(-1, "x", 1, done));
  EXPECT_EQ(GetLastError(), kErrorNegativeSeek);
  EXPECT_FALSE(f.Seek(-12, SeekOrigin::End));
  EXPECT_EQ(GetLastError(), kErrorNegativeSeek);
  ASSERT_TRUE(f.Seek(0, SeekOrigin::Current, &pos));
  EXPECT_EQ(pos, 11);  // a refused seek keeps the pointer
}

TEST_P(FileTest, ReadOnlyAccessRefusesWrites) {
  File f;
  ASSERT_TRUE(OpenShared(f, Access::Read));
  std::uint32_t done = 1;
  EXPECT_FALSE(f.Write("x", 1, done));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(f.SetEndOfFile());
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/Back.dat"), "0123456789");
}

TEST_P(FileTest, ReadOnlyAttributeRefusesWriteAccess) {
  ASSERT_TRUE(SetFileAttributes(kTable, kAttrReadOnly));
  File f;
  EXPECT_FALSE(OpenShared(f, Access::ReadWrite));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(f.Open(kTable, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  ASSERT_TRUE(OpenShared(f, Access::Read));
  EXPECT_TRUE(f.Lock(kWriteLockByte, 1));  // locks work on such handles too
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/Back.dat"), "0123456789");
}

TEST_P(FileTest, ClosedHandleIsInvalid) {
  File f;
  std::uint32_t done = 0;
  char c;
  EXPECT_FALSE(f.Read(&c, 1, done));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  EXPECT_FALSE(f.Lock(0, 1));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  f.Close();  // harmless
}

// Share modes: first handle's mode and access, second handle's, expected result.
struct ShareCase {
  const char* label;
  Share first;
  Access firstAccess;
  Share second;
  Access secondAccess;
  bool secondOpens;
};

constexpr ShareCase kShareCases[] = {
    {"shared + shared", Share::ReadWrite, Access::ReadWrite, Share::ReadWrite, Access::Read, true},
    {"shared + exclusive", Share::ReadWrite, Access::Read, Share::None, Access::ReadWrite, false},
    {"exclusive + shared", Share::None, Access::ReadWrite, Share::ReadWrite, Access::Read, false},
    {"exclusive + exclusive", Share::None, Access::Read, Share::None, Access::Read, false},
    {"read-only exclusive + shared", Share::None, Access::Read, Share::ReadWrite, Access::ReadWrite,
     false},
    {"read-only shared + read-only exclusive", Share::ReadWrite, Access::Read, Share::None,
     Access::Read, false},
};

TEST_P(FileTest, ShareModesWithinOneProcess) {
  for (const ShareCase& c : kShareCases) {
    SCOPED_TRACE(c.label);
    File first, second;
    ASSERT_TRUE(first.Open(kTable, c.firstAccess, c.first, Disposition::OpenExisting));
    EXPECT_EQ(second.Open(kTable, c.secondAccess, c.second, Disposition::OpenExisting),
              c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    }
  }
}

TEST_P(FileTest, ShareModesBetweenProcesses) {
  for (const ShareCase& c : kShareCases) {
    SCOPED_TRACE(c.label);
    File first;
    ASSERT_TRUE(first.Open(kTable, c.firstAccess, c.first, Disposition::OpenExisting));
    const int code = InChild([&] {
      File second;
      return Code(second.Open(kTable, c.secondAccess, c.second, Disposition::OpenExisting));
    });
    EXPECT_EQ(code, c.secondOpens ? 0 : static_cast<int>(kErrorSharingViolation));
  }
}

TEST_P(FileTest, RefusedCreateAlwaysLeavesTheFileIntact) {
  File holder, f;
  ASSERT_TRUE(OpenExclusive(holder));
  EXPECT_FALSE(f.Open(kTable, Access::ReadWrite, Share::ReadWrite, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(ReadHostFile(d_.path() + "/Data/Back.dat"), "0123456789");
}

TEST_P(FileTest, ExclusiveOpenIsFreeAgainAfterClose) {
  File a;
  ASSERT_TRUE(OpenExclusive(a, Access::Read));
  a.Close();
  File b;
  EXPECT_TRUE(OpenExclusive(b));
}

// Lock cases inside one process: ranges held by `other` (another handle),
// ranges held by `self`, the range asked for, and the answer.
struct LockCase {
  const char* label;
  std::uint32_t otherOffset, otherLength;  // length 0: nothing held
  std::uint32_t selfOffset, selfLength;
  std::uint32_t offset, length;
  bool granted;
};

constexpr LockCase kLockCases[] = {
    {"free range", 0, 0, 0, 0, 100, 10, true},
    {"same range by another handle", 100, 10, 0, 0, 100, 10, false},
    {"overlap at the start", 100, 10, 0, 0, 95, 6, false},
    {"overlap at the end", 100, 10, 0, 0, 109, 5, false},
    {"adjacent below", 100, 10, 0, 0, 90, 10, true},
    {"adjacent above", 100, 10, 0, 0, 110, 10, true},
    {"own overlapping range", 0, 0, 100, 10, 105, 10, false},
    {"own same range", 0, 0, 100, 10, 100, 10, false},
    {"own adjacent range", 0, 0, 100, 10, 110, 1, true},
    {"far beyond the end", 0, 0, 0, 0, 0x40000000, 1, true},
    {"write byte taken", kWriteLockByte, 1, 0, 0, kWriteLockByte, 1, false},
    {"reader slot under the index write range", kIndexWriteRange, kIndexWriteLength, 0, 0,
     0x7FFFFFFF - 12, 1, false},
    {"index write range over a reader slot", 0x7FFFFFFF - 65534, 1, 0, 0, kIndexWriteRange,
     kIndexWriteLength, false},
    {"write byte is outside the index write range", kIndexWriteRange, kIndexWriteLength, 0, 0,
     kWriteLockByte, 1, true},
    {"top of the 32-bit range", 0, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, true},
};

TEST_P(FileTest, LocksWithinOneProcess) {
  for (const LockCase& c : kLockCases) {
    SCOPED_TRACE(c.label);
    File other, self;
    // A read-write holder and a read-only asker: with forced read-only
    // descriptors the two kinds of exclusive lock meet.
    ASSERT_TRUE(OpenShared(other, Access::ReadWrite));
    ASSERT_TRUE(OpenShared(self, Access::Read));
    if (c.otherLength != 0) {
      ASSERT_TRUE(other.Lock(c.otherOffset, c.otherLength));
    }
    if (c.selfLength != 0) {
      ASSERT_TRUE(self.Lock(c.selfOffset, c.selfLength));
    }
    EXPECT_EQ(self.Lock(c.offset, c.length), c.granted);
    if (!c.granted) {
      EXPECT_EQ(GetLastError(), kErrorLockViolation);
    }
  }
}

TEST_P(FileTest, LocksBetweenProcesses) {
  for (const LockCase& c : kLockCases) {
    if (c.otherLength == 0) continue;  // only cases where another owner holds a range
    SCOPED_TRACE(c.label);
    File parent;
    ASSERT_TRUE(OpenShared(parent, Access::Read));
    ASSERT_TRUE(parent.Lock(c.otherOffset, c.otherLength));
    const int code = InChild([&] {
      File f;  // read-write here, read-only in the parent: the other pairing
      if (!OpenShared(f, Access::ReadWrite)) return -2;
      return Code(f.Lock(c.offset, c.length));
    });
    EXPECT_EQ(code, c.granted ? 0 : static_cast<int>(kErrorLockViolation));
  }
}

TEST_P(FileTest, LockVanishesWhenItsHandleCloses) {
  File a, b;
  ASSERT_TRUE(OpenShared(a, Access::Read));
  ASSERT_TRUE(OpenShared(b, Access::Read));
  ASSERT_TRUE(a.Lock(kWriteLockByte, 1));
  EXPECT_FALSE(b.Lock(kWriteLockByte, 1));
  // Closing an unrelated third handle of the same file must not drop a's lock
  // (the fault of process-wide POSIX locks).
  {
    File c;
    ASSERT_TRUE(OpenShared(c));
  }
  EXPECT_FALSE(b.Lock(kWriteLockByte, 1));
  a.Close();
  EXPECT_TRUE(b.Lock(kWriteLockByte, 1));
}

TEST_P(FileTest, LockVanishesWhenTheProcessDies) {
  Child child([] {
    auto* f = new File;  // never closed: the process exits holding it
    if (!OpenShared(*f, Access::Read)) return -2;
    return Code(f->Lock(kIndexWriteRange, kIndexWriteLength));
  });
  ASSERT_EQ(child.Report(), 0);
  File f;
  ASSERT_TRUE(OpenShared(f, Access::Read));
  EXPECT_FALSE(f.Lock(0x7FFFFFFF - 7, 1));
  EXPECT_EQ(GetLastError(), kErrorLockViolation);
  child.Release();  // _exit without closing anything
  EXPECT_TRUE(f.Lock(0x7FFFFFFF - 7, 1));
}

TEST_P(FileTest, ExclusiveOpenVanishesWhenTheProcessDies) {
  Child child([] {
    auto* f = new File;
    return Code(OpenExclusive(*f, Access::Read));
  });
  ASSERT_EQ(child.Report(), 0);
  File f;
  EXPECT_FALSE(OpenShared(f));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  child.Release();
  EXPECT_TRUE(OpenShared(f));
}

TEST_P(FileTest, UnlockNeedsTheExactRangeHeld) {
  File a, b;
  ASSERT_TRUE(OpenShared(a, Access::Read));
  ASSERT_TRUE(OpenShared(b, Access::Read));
  ASSERT_TRUE(a.Lock(200, 10));
  struct Case {
    const char* label;
    File* handle;
    std::uint32_t offset, length;
  } const cases[] = {
      {"never locked", &a, 500, 1},
      {"part of the range", &a, 200, 5},
      {"longer range", &a, 200, 11},
      {"same range by another handle", &b, 200, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(c.handle->Unlock(c.offset, c.length));
    EXPECT_EQ(GetLastError(), kErrorNotLocked);
  }
  EXPECT_TRUE(a.Unlock(200, 10));
  EXPECT_FALSE(a.Unlock(200, 10));
  EXPECT_EQ(GetLastError(), kErrorNotLocked);
  EXPECT_TRUE(b.Lock(200, 10));
}

TEST_P(FileTest, UnlockingOneRangeKeepsItsNeighbour) {
  File a, b;
  ASSERT_TRUE(OpenShared(a, Access::Read));
  ASSERT_TRUE(OpenShared(b, Access::Read));
  ASSERT_TRUE(a.Lock(100, 10));
  ASSERT_TRUE(a.Lock(110, 10));  // adjacent: the kernel merges them
  ASSERT_TRUE(a.Unlock(100, 10));
  EXPECT_TRUE(b.Lock(100, 10));
  EXPECT_FALSE(b.Lock(110, 1));
}

// With several ranges held by one handle, a new range is refused when it
// overlaps any of them (the one below it, above it, or several), and granted
// in the gaps between them; unlocking needs each held range exactly.
TEST_P(FileTest, OwnRangesAmongSeveralHeld) {
  File f;
  ASSERT_TRUE(OpenShared(f, Access::Read));
  for (std::uint32_t offset : {100u, 200u, 300u, 0xFFFFFF00u}) {
    ASSERT_TRUE(f.Lock(offset, 10));
  }
  struct Case {
    const char* label;
    std::uint32_t offset, length;
    bool granted;
  } const cases[] = {
      {"below the lowest", 0, 100, true},
      {"tail of the one below", 205, 50, false},
      {"head of the one above", 250, 51, false},
      {"spans two held ranges", 105, 100, false},
      {"inside one held range", 302, 2, false},
      {"gap between two", 210, 90, true},
      {"far above the highest", 0xFFFFFF0A, 0xF5, true},
      {"under the top range", 0xFFFFFE00, 0x101, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(f.Lock(c.offset, c.length), c.granted);
    if (!c.granted) {
      EXPECT_EQ(GetLastError(), kErrorLockViolation);
    }
  }
  EXPECT_FALSE(f.Unlock(300, 9));
  EXPECT_EQ(GetLastError(), kErrorNotLocked);
  EXPECT_TRUE(f.Unlock(300, 10));
  EXPECT_TRUE(f.Lock(300, 10));  // the freed range is available again
  EXPECT_FALSE(f.Lock(209, 1));  // its neighbours are still held
}

TEST_P(FileTest, RacingLockersNeverHoldOneByteTogether) {
  // Parent and child lock and unlock the same byte as fast as they can; a
  // counter in shared memory records how many hold it at once. On a loaded
  // machine the two may happen to take turns for a while, so each goes on
  // past its rounds until one of them has been refused at least once.
  constexpr int kRounds = 300;
  constexpr int kMaxRounds = 100 * kRounds;
  constexpr int kHoldMicroseconds = 50;
  constexpr std::size_t kCounters = 4;
  void* page = ::mmap(nullptr, sizeof(std::atomic<int>) * kCounters, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  auto* counters = static_cast<std::atomic<int>*>(page);
  auto* holders = new (counters) std::atomic<int>(0);
  auto* overlaps = new (counters + 1) std::atomic<int>(0);
  auto* ready = new (counters + 2) std::atomic<int>(0);
  auto* refusals = new (counters + 3) std::atomic<int>(0);
  const auto hammer = [&] {
    File f;
    if (!OpenShared(f, Access::Read)) return -2;
    ready->fetch_add(1);
    while (ready->load() < 2) {  // start together
    }
    int granted = 0;
    for (int i = 0; i < kRounds || (refusals->load() == 0 && i < kMaxRounds); ++i) {
      if (!f.Lock(kWriteLockByte, 1)) {
        refusals->fetch_add(1);
        continue;
      }
      ++granted;
      if (holders->fetch_add(1) != 0) overlaps->fetch_add(1);
      // Hold the byte for a moment and let the other process run meanwhile.
      std::this_thread::sleep_for(std::chrono::microseconds(kHoldMicroseconds));
      holders->fetch_sub(1);
      if (!f.Unlock(kWriteLockByte, 1)) return -3;
      std::this_thread::sleep_for(std::chrono::microseconds(kHoldMicroseconds));
    }
    return granted;
  };
  Child child(hammer);
  const int parentGranted = hammer();
  const int childGranted = child.Report();
  ASSERT_GE(parentGranted, 0);
  ASSERT_GE(childGranted, 0);
  EXPECT_GT(parentGranted + childGranted, 0);
  EXPECT_GT(refusals->load(), 0);  // they did contend
  EXPECT_EQ(overlaps->load(), 0);
  ::munmap(page, sizeof(std::atomic<int>) * kCounters);
}

TEST_P(FileTest, DeleteOnCloseRemovesTheFile) {
  {
    File f;
    ASSERT_TRUE(f.Open("D:\\Data\\Temp.tmp", Access::ReadWrite, Share::None,
                       Disposition::CreateAlways, kOpenDeleteOnClose | kOpenTemporary));
    std::uint32_t done = 0;
    ASSERT_TRUE(f.Write("abc", 3, done));
    EXPECT_TRUE(FileExists("D:\\Data\\Temp.tmp"));
  }
  EXPECT_FALSE(FileExists("D:\\Data\\Temp.tmp"));
  EXPECT_EQ(GetFileAttributes("D:\\Data\\Temp.tmp"), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_P(FileTest, MovedHandleKeepsItsLocks) {
  File a;
  ASSERT_TRUE(OpenShared(a, Access::Read));
  ASSERT_TRUE(a.Lock(7, 1));
  File moved(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  File b;
  ASSERT_TRUE(OpenShared(b, Access::Read));
  EXPECT_FALSE(b.Lock(7, 1));
  EXPECT_TRUE(moved.Unlock(7, 1));
  EXPECT_TRUE(b.Lock(7, 1));
}

TEST_P(FileTest, DosTimeThroughTheHandle) {
  File f;
  ASSERT_TRUE(OpenShared(f));
  constexpr std::uint32_t kTime = 0x586570F2;  // 2024-03-05 14:07:36
  ASSERT_TRUE(f.SetDosTime(kTime));
  std::uint32_t got = 0;
  ASSERT_TRUE(f.GetDosTime(got));
  EXPECT_EQ(got, kTime);
  struct stat st {};
  ASSERT_EQ(::stat((d_.path() + "/Data/Back.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1709647656);
  EXPECT_FALSE(f.SetDosTime(0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

// Read-only through the handle, as SetFileAttributes by name: the open
// handle keeps writing, a new write access is refused, and clearing it
// gives write access back. Other bits change nothing.
TEST_P(FileTest, AttributesThroughTheHandle) {
  File f;
  ASSERT_TRUE(OpenShared(f));
  ASSERT_TRUE(f.SetAttributes(kAttrArchive | kAttrHidden));
  EXPECT_EQ(GetFileAttributes("D:\\Data\\Back.dat") & kAttrReadOnly, 0u);
  ASSERT_TRUE(f.SetAttributes(kAttrReadOnly | kAttrArchive));
  EXPECT_NE(GetFileAttributes("D:\\Data\\Back.dat") & kAttrReadOnly, 0u);
  std::uint32_t done = 0;
  EXPECT_TRUE(f.Write("x", 1, done));
  File other;
  EXPECT_FALSE(other.Open("D:\\Data\\Back.dat", Access::ReadWrite, Share::ReadWrite,
                          Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  ASSERT_TRUE(f.SetAttributes(kAttrNormal));
  EXPECT_TRUE(other.Open("D:\\Data\\Back.dat", Access::ReadWrite, Share::ReadWrite,
                         Disposition::OpenExisting));
  f.Close();
  EXPECT_FALSE(f.SetAttributes(kAttrNormal));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
