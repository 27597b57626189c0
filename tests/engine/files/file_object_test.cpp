// File objects and file handlers: in-memory reads, writes, truncation and
// locks; physical temporary and read-only files; the handler's errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "engine/engine_test_util.h"
#include "engine/errors.h"
#include "engine/files/abstract_file.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"
#include "engine/files/table_names.h"
#include "platform/file_ops.h"

namespace {

using engine::TFileHandler;
using engine::TMemoryFile;
using engine_test::EngineCodeOf;

TEST(MemoryFile, ReadsWritesAndTruncation) {
  TMemoryFile file("M.DAT");
  const std::int32_t id = file.CreateNew();
  const std::int32_t other = file.OpenFile();
  ASSERT_EQ(file.WriteData(id, "0123456789", 10), 10);
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(file.Capacity(), engine::kMemoryFileStep);

  char buffer[16] = {};
  // Read beyond the size, at the size, and from a negative position: nothing.
  for (std::int64_t position : {std::int64_t{50}, std::int64_t{10}, std::int64_t{-3}}) {
    file.SeekData(other, position, 0);
    EXPECT_EQ(file.ReadData(other, buffer, 4), 0) << position;
  }
  // A read near the end is short and advances the opener's own position.
  EXPECT_EQ(file.SeekData(other, -3, 2), 7);
  EXPECT_EQ(file.ReadData(other, buffer, 16), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(file.SeekData(other, 0, 1), 10);
  EXPECT_EQ(file.SeekData(id, 0, 1), 10);

  // A write of 0 bytes at position p makes the size p.
  file.SeekData(id, 4, 0);
  EXPECT_EQ(file.WriteData(id, nullptr, 0), 0);
  EXPECT_EQ(file.Size(), 4);
  EXPECT_EQ(file.SeekData(id, 0, 2), 4);

  // Writing past the end after a truncation shows zeros in the gap, never the
  // bytes cut off before.
  file.SeekData(id, 8, 0);
  ASSERT_EQ(file.WriteData(id, "xy", 2), 2);
  file.SeekData(other, 0, 0);
  char all[10];
  ASSERT_EQ(file.ReadData(other, all, 10), 10);
  EXPECT_EQ(std::string(all, 10), std::string("0123\0\0\0\0xy", 10));

  // Growing past one step keeps the content.
  std::string big(5000, 'b');
  file.SeekData(id, 0, 2);
  ASSERT_EQ(file.WriteData(id, big.data(), 5000), 5000);
  EXPECT_EQ(file.Size(), 5010);
  EXPECT_EQ(file.Capacity(), 2 * engine::kMemoryFileStep);
  EXPECT_EQ(file.ReadData(12345, buffer, 1), -engine::kErrInvalidFileHandle);
}

TEST(MemoryFile, TruncationPastTheEndLengthensWithZeros) {
  // Cut to 4 bytes (the block still holds "456789"), then set the end far
  // beyond the block's capacity: the file reads as "0123" and zeros, like a
  // lengthened file on disk, never stale or foreign bytes.
  TMemoryFile file("M.DAT");
  const std::int32_t id = file.CreateNew();
  ASSERT_EQ(file.WriteData(id, "0123456789", 10), 10);
  file.SeekData(id, 4, 0);
  ASSERT_EQ(file.WriteData(id, nullptr, 0), 0);
  constexpr std::int64_t kLongEnd = 3 * engine::kMemoryFileStep + 5;
  file.SeekData(id, kLongEnd, 0);
  ASSERT_EQ(file.WriteData(id, nullptr, 0), 0);
  EXPECT_EQ(file.Size(), kLongEnd);
  EXPECT_GE(file.Capacity(), static_cast<std::size_t>(kLongEnd));
  std::string all(kLongEnd, 'x');
  file.SeekData(id, 0, 0);
  ASSERT_EQ(file.ReadData(id, all.data(), static_cast<std::int32_t>(kLongEnd)), kLongEnd);
  EXPECT_EQ(all, "0123" + std::string(kLongEnd - 4, '\0'));
}

TEST(MemoryFile, PositionsBeyondTheLargestBlockFailCleanly) {
  TMemoryFile file("M.DAT");
  const std::int32_t id = file.CreateNew();
  ASSERT_EQ(file.WriteData(id, "abc", 3), 3);
  const std::int64_t kHuge = std::numeric_limits<std::int64_t>::max();
  const std::int64_t kLargest = static_cast<std::int64_t>(engine::kMaxHeapBlock);
  struct Case {
    std::int64_t position;
    std::int32_t count;
    std::int32_t result;
  } const cases[] = {
      {kHuge, 2, 0},                         // the end would overflow
      {kHuge, 0, -engine::kErrWriteFailed},  // an end the block can never hold
      {kLargest, 1, 0},                      // one byte past the largest block
      {kLargest + 1, 0, -engine::kErrWriteFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    ASSERT_EQ(file.SeekData(id, c.position, 0), c.position);
    EXPECT_EQ(file.WriteData(id, "xy", c.count), c.result);
    EXPECT_EQ(file.Size(), 3);  // nothing changed
  }
  // A seek whose result overflows fails and keeps the position.
  file.SeekData(id, kHuge, 0);
  EXPECT_EQ(file.SeekData(id, 1, 1), -1);
  EXPECT_EQ(file.SeekData(id, 0, 1), kHuge);
  const std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
  file.SeekData(id, kLowest, 0);
  EXPECT_EQ(file.SeekData(id, -1, 1), -1);
  EXPECT_EQ(file.SeekData(id, 0, 1), kLowest);
}

TEST(MemoryFile, LocksOverlapLikeTheSystemsAndUnlockExactly) {
  TMemoryFile file("L.DAT");
  file.CreateNew();
  struct Step {
    bool lock;
    std::uint32_t offset;
    std::uint32_t length;
    bool result;
  };
  const Step steps[] = {
      {true, 100, 10, true},   // 100..109
      {true, 105, 1, false},   // new first byte inside a listed range
      {true, 95, 6, false},    // listed first byte inside the new range
      {true, 110, 5, true},    // adjacent is fine
      {true, 90, 10, true},    // 90..99, adjacent below
      {false, 100, 5, false},  // same first byte, other length
      {false, 101, 10, false},      {false, 100, 10, true},
      {false, 100, 10, false},  // not held any more
      {true, 102, 3, true},         {true, 0x7FFF0000, 0xFFFF, true},
      {true, 0x7FFFFFFE, 1, false},  // a reader slot inside the write range
      {true, 0x7FFFFFFF, 1, true},   // the data write byte just above it
  };
  for (const Step& s : steps) {
    const bool result =
        s.lock ? file.LockRange(s.offset, s.length) : file.UnlockRange(s.offset, s.length);
    EXPECT_EQ(result, s.result) << (s.lock ? "lock " : "unlock ") << s.offset << "+" << s.length;
  }
}

class HandlerTest : public engine_test::DriveDTest {};

TEST_F(HandlerTest, ReadWriteSeekSizeAndShortReads) {
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    TFileHandler h(nullptr);
    h.SetFileName("  D:\\Data.DAT  ");
    EXPECT_EQ(h.FileName(), "D:\\Data.DAT");
    h.SetInMemory(inMemory);
    h.CreateNew();
    ASSERT_TRUE(h.IsOpen());
    {
      engine::TFileAccess access(h);
      h.Seek(0, engine::kSeekFromStart);
      h.Write("header--body", 12);
    }
    EXPECT_EQ(h.GetSize(), 12);
    EXPECT_EQ(h.Seek(0, engine::kSeekFromCurrent), 12);  // GetSize kept the position
    char buffer[8];
    h.Seek(8, engine::kSeekFromStart);
    EXPECT_EQ(h.Read(buffer, 8, /*allowShort=*/true), 4);
    h.Seek(8, engine::kSeekFromStart);
    try {
      h.Read(buffer, 8);
      FAIL();
    } catch (const engine::EZORVADEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), engine::kErrReadFailed);
      EXPECT_EQ(e.Message(), "ZORVAD Engine Error # 9217 Error reading from table 'D:\\Data.DAT'");
    }
    EXPECT_TRUE(h.IsOpen());  // a short read leaves the file open
    h.Seek(6, engine::kSeekFromStart);
    h.Write(nullptr, 0);  // cut
    EXPECT_EQ(h.GetSize(), 6);
    h.Flush();
    h.Close();
    h.Close();  // closing twice does nothing
    EXPECT_EQ(EngineCodeOf([&] { h.Read(buffer, 1); }), engine::kErrReadFailed);
    EXPECT_EQ(EngineCodeOf([&] { h.Write(buffer, 1); }), engine::kErrWriteFailed);
    EXPECT_EQ(EngineCodeOf([&] { h.Flush(); }), engine::kErrWriteFailed);
    EXPECT_FALSE(h.Lock(0, 1, true));
    EXPECT_EQ(h.Seek(0, engine::kSeekFromStart), -1);
    h.Delete();
    EXPECT_FALSE(h.Exists());
  }
}

TEST_F(HandlerTest, OpenErrorsCarryTheFileName) {
  TFileHandler h(nullptr);
  h.SetFileName("D:\\Nowhere.DAT");
  try {
    h.Open();
    FAIL();
  } catch (const engine::EZORVADEngineError& e) {
    EXPECT_EQ(e.Message(),
              "ZORVAD Engine Error # 11010 Invalid path or file name for table 'D:\\Nowhere.DAT'");
  }
  EXPECT_FALSE(h.IsOpen());
  TFileHandler blank(nullptr);
  blank.SetFileName("D:\\.DAT");
  EXPECT_EQ(EngineCodeOf([&] { blank.CreateNew(); }), engine::kErrInvalidPath);
}

TEST_F(HandlerTest, LongNamesAreKeptWhole) {
  // Two names that agree in their first 255 bytes and differ after them are
  // two files, on disk and in memory; a cut name would be one file for both.
  const std::string dir = "D:\\" + std::string(120, 'd') + "\\";
  ASSERT_TRUE(platform::CreateDirectory(dir));
  const std::string stem = dir + std::string(200, 's');
  ASSERT_GT(stem.size(), 255u);
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    TFileHandler first(nullptr);
    TFileHandler second(nullptr);
    first.SetFileName(stem + "_1.DAT");
    second.SetFileName(stem + "_2.DAT");
    EXPECT_EQ(first.FileName(), stem + "_1.DAT");
    for (TFileHandler* h : {&first, &second}) {
      h->SetInMemory(inMemory);
      h->CreateNew();
      engine::TFileAccess access(*h);
      h->Seek(0, engine::kSeekFromStart);
      h->Write(h == &first ? "one" : "two", 3);
    }
    EXPECT_EQ(engine::TFileList::Instance().HasFile(stem + "_1.DAT", inMemory), true);
    for (TFileHandler* h : {&first, &second}) {
      char buffer[3];
      engine::TFileAccess access(*h);
      h->Seek(0, engine::kSeekFromStart);
      h->Read(buffer, 3, false);
      EXPECT_EQ(std::string(buffer, 3), h == &first ? "one" : "two");
      h->Close();
      h->Delete();
    }
  }
}

TEST_F(HandlerTest, ExclusiveAndSharedHandlers) {
  TFileHandler creator(nullptr);
  creator.SetFileName("D:\\T.DAT");
  creator.CreateNew();
  TFileHandler reader(nullptr);
  reader.SetFileName("D:\\T.DAT");
  EXPECT_EQ(EngineCodeOf([&] { reader.Open(); }), engine::kErrAccessDenied);
  creator.Close();
  reader.Open();
  TFileHandler second(nullptr);
  second.SetFileName("d:\\t.dat");
  second.Open();
  EXPECT_NE(reader.OpenerId(), second.OpenerId());
  EXPECT_EQ(reader.File(), second.File());
  TFileHandler exclusive(nullptr);
  exclusive.SetFileName("D:\\T.DAT");
  exclusive.SetExclusive(true);
  EXPECT_EQ(EngineCodeOf([&] { exclusive.Open(); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { creator.Delete(); }), engine::kErrAccessDenied);
  EXPECT_EQ(EngineCodeOf([&] { creator.Rename("D:\\U.DAT"); }), engine::kErrAccessDenied);
  EXPECT_EQ(creator.FileName(), "D:\\T.DAT");
  reader.Close();
  second.Close();
  creator.Rename("D:\\U.DAT");
  EXPECT_EQ(creator.FileName(), "D:\\U.DAT");
  EXPECT_TRUE(std::filesystem::exists(Host("U.DAT")));
}

TEST_F(HandlerTest, TemporaryPhysicalFileDisappearsWithItsLastOpener) {
  {
    TFileHandler maker(nullptr);
    maker.SetFileName("D:\\Tmp.DAT");
    maker.CreateNew();
    maker.Write("x", 1);
  }
  ASSERT_TRUE(std::filesystem::exists(Host("Tmp.DAT")));
  TFileHandler a(nullptr);
  TFileHandler b(nullptr);
  for (TFileHandler* h : {&a, &b}) {
    h->SetFileName("D:\\Tmp.DAT");
    h->SetTemporary(true);
    h->Open();
  }
  a.Close();
  EXPECT_TRUE(std::filesystem::exists(Host("Tmp.DAT")));
  b.Close();
  EXPECT_FALSE(std::filesystem::exists(Host("Tmp.DAT")));
}

TEST_F(HandlerTest, ReadOnlyAttributeForcesReadOnly) {
  {
    TFileHandler maker(nullptr);
    maker.SetFileName("D:\\Ro.DAT");
    maker.CreateNew();
    maker.Write("frozen", 6);
  }
  ASSERT_TRUE(platform::SetFileAttributes("D:\\Ro.DAT", platform::kAttrReadOnly));
  TFileHandler h(nullptr);
  h.SetFileName("D:\\Ro.DAT");
  h.Open();
  EXPECT_TRUE(h.ReadOnlyAttrFound());
  EXPECT_TRUE(h.ReadOnly());
  EXPECT_TRUE(h.File()->ReadOnly());
  // The handle is open for reading only: a write is refused, nothing changes.
  h.Seek(0, engine::kSeekFromStart);
  EXPECT_EQ(EngineCodeOf([&] { h.Write("melted", 6); }), engine::kErrWriteFailed);
  char buffer[6];
  h.Seek(0, engine::kSeekFromStart);
  h.Read(buffer, 6);
  EXPECT_EQ(std::string(buffer, 6), "frozen");
  h.Close();
  platform::SetFileAttributes("D:\\Ro.DAT", 0);
  h.Open();
  EXPECT_FALSE(h.ReadOnlyAttrFound());
}

TEST_F(HandlerTest, CopyToAndCopyFrom) {
  TFileHandler index(nullptr);
  index.SetFileName("D:\\N.IDX");
  index.CreateNew();
  index.Write("pages", 5);
  index.CopyTo("D:\\N.IBK");
  index.Seek(0, engine::kSeekFromStart);
  index.Write("PAGES-AND-MORE", 14);
  index.CopyFrom("D:\\N.IBK");
  EXPECT_EQ(index.GetSize(), 5);
  char buffer[5];
  index.Seek(0, engine::kSeekFromStart);
  index.Read(buffer, 5);
  EXPECT_EQ(std::string(buffer, 5), "pages");
  EXPECT_EQ(EngineCodeOf([&] { index.CopyFrom("D:\\Gone.IBK"); }), engine::kErrInvalidPath);
}

}  // namespace
