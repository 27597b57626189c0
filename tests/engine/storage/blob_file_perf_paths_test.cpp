// The BLOB store's fast paths: long runs of blocks written in pieces, block
// buffers recycled without zero-filling (no stale bytes may reach the file or
// a reader), write-backs that fail half-way (nothing may be marked written
// that was not), and a rollback after a BLOB larger than the block cache.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

#include "engine/errors.h"
#include "engine/storage/data_file_fixture.h"
#include "engine/table/table_test_util.h"

namespace engine_test {
namespace {

using namespace engine;

constexpr std::uint32_t kFileField = 5;   // the catalog's File BLOB
constexpr std::uint16_t kFileSlot = 521;  // its slot: flag, first block, id
constexpr std::size_t kR = 530;
constexpr std::uint32_t kS = 512;          // block size
constexpr std::uint32_t kBlockData = 494;  // data bytes per block
constexpr std::uint32_t kPiece = 512;      // blocks per write of a long run (256 KB)

std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> v(length);
  for (std::size_t i = 0; i < length; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 13 + 1);
  return v;
}

// While alive, no file of this process may grow past `bytes`: a write that
// would is cut short (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

class BlobPathsTest : public TableFilesTest {
 protected:
  void SetUp() override {
    TableFilesTest::SetUp();
    Create(CatalogFields());
  }
  void Store(std::vector<std::uint8_t>& r, const std::vector<std::uint8_t>& content) {
    ASSERT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR), 0);
    ASSERT_EQ(buffers.Truncate(data->Definitions(), kFileField, r.data(), kR, 0), 0);
    ASSERT_EQ(buffers.Write(data->Definitions(), kFileField, r.data(), kR, 0,
                            static_cast<std::uint32_t>(content.size()), content.data()),
              0);
    buffers.Store(nullptr, *data, *blob, data->Definitions(), r.data(), kR);
  }
  std::vector<std::uint8_t> Load(std::vector<std::uint8_t>& r) {
    EXPECT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR), 0);
    std::uint32_t size = 0;
    EXPECT_EQ(buffers.Size(data->Definitions(), kFileField, r.data(), kR, size), 0);
    std::vector<std::uint8_t> content(size);
    std::uint32_t done = 0;
    EXPECT_EQ(
        buffers.Read(data->Definitions(), kFileField, r.data(), kR, 0, size, content.data(), done),
        0);
    EXPECT_EQ(buffers.Close(data->Definitions(), kFileField, r.data(), kR), 0);
    return content;
  }
  static std::int32_t First(const std::vector<std::uint8_t>& r) {
    return bytes::GetI32(&r[kFileSlot + 1]);
  }
  // Walks a chain on disk; fails when a block's bytes after its used ones are
  // not zero. Answers the blocks' positions.
  std::vector<std::int32_t> CheckChainOnDisk(std::int32_t first) {
    const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
    std::vector<std::int32_t> chain;
    for (std::int32_t p = first; p != 0 && chain.size() < f.size() / kS;) {
      if (p < 0 || static_cast<std::size_t>(p) + kS > f.size()) {
        ADD_FAILURE() << "block " << p << " lies outside the file";
        break;
      }
      chain.push_back(p);
      const std::uint8_t* b = &f[static_cast<std::size_t>(p)];
      const std::uint16_t used = bytes::GetU16(b + block_header::kUsed);
      EXPECT_LE(used, kBlockData);
      EXPECT_TRUE(std::all_of(b + kBlockHeaderSize + std::min<std::uint32_t>(used, kBlockData),
                              b + kS, [](std::uint8_t x) { return x == 0; }))
          << "stale bytes after the used ones in block " << p;
      p = bytes::GetI32(b + block_header::kNext);
    }
    return chain;
  }

  TBlobBufferSet buffers{"Back"};
};

TEST_F(BlobPathsTest, ALongRunGoesOutInPiecesAndReadsBackWhole) {
  const std::vector<std::uint8_t> content = Pattern(1 << 20, 3);  // 2123 blocks
  const std::size_t blocks = (content.size() + kBlockData - 1) / kBlockData;
  std::vector<std::uint8_t> row(kR, 0);
  host.transactionLock = true;  // the cache grows and keeps every block
  Store(row, content);
  host.transactionLock = false;
  const std::uint64_t writes = blob->WriteCount();
  Flush();
  EXPECT_EQ(blob->WriteCount() - writes, (blocks + kPiece - 1) / kPiece);
  EXPECT_EQ(ReadBytes(Host("Back.BLB")).size(), kBlobHeaderSize + blocks * kS);
  Reopen();
  EXPECT_EQ(Load(row), content);
  const std::vector<std::int32_t> chain = CheckChainOnDisk(First(row));
  ASSERT_EQ(chain.size(), blocks);
  for (std::size_t i = 0; i < chain.size(); ++i)  // appended blocks lie side by side
    EXPECT_EQ(chain[i], static_cast<std::int32_t>(kBlobHeaderSize + i * kS));
}

TEST_F(BlobPathsTest, RecycledBlockBuffersLeaveNoStaleBytes) {
  // A BLOB larger than the cache fills the block pool with buffers full of
  // 0xEE-ish bytes; its row then shrinks, freeing most of its chain.
  std::vector<std::uint8_t> big(kR, 0);
  Store(big, std::vector<std::uint8_t>(300 * kBlockData, 0xEE));
  Flush();
  blob->TrimCache();
  Store(big, Pattern(600, 9));  // keeps 2 blocks, frees 298
  Flush();
  blob->TrimCache();

  struct Case {
    const char* what;
    std::size_t length;
  } cases[] = {
      {"one short block, reused from the free chain", 10},
      {"a few blocks, the last one partly used", 1000},
      {"more blocks than were freed: reused, then appended", 400 * kBlockData + 17},
  };
  std::uint8_t seed = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> row(kR, 0);
    const std::vector<std::uint8_t> content = Pattern(c.length, seed++);
    Store(row, content);
    Flush();
    blob->TrimCache();
    CheckChainOnDisk(First(row));
    EXPECT_EQ(Load(row), content);
  }
  CheckChainOnDisk(First(big));

  // A write that leaves a gap after the used bytes: the gap reads as zeros.
  TBlock* b = blob->AllocateBlock(nullptr);
  const std::vector<std::uint8_t> ten(10, 0x5A);
  blob->WriteBlockData(b, 100, 10, ten.data());
  std::vector<std::uint8_t> back(110, 0xFF);
  ASSERT_EQ(blob->ReadBlockData(b, 0, 110, back.data()), 110u);
  EXPECT_TRUE(std::all_of(back.begin(), back.begin() + 100, [](std::uint8_t x) { return x == 0; }));
  EXPECT_EQ(std::vector<std::uint8_t>(back.begin() + 100, back.end()), ten);
  blob->ReleaseBlock(b);
}

TEST_F(BlobPathsTest, AFailedWriteBackMarksNothingWrittenAndTheNextOneWritesIt) {
  std::vector<std::uint8_t> row(kR, 0);
  Store(row, Pattern(1000, 1));
  AppendInt(261, 1);
  Flush();
  const std::size_t limit =
      std::max(ReadBytes(Host("Back.DAT")).size(), ReadBytes(Host("Back.BLB")).size());
  // A new BLOB and a new record, both past the end of their files.
  std::vector<std::uint8_t> second(kR, 0);
  const std::vector<std::uint8_t> content = Pattern(20 * kBlockData, 2);
  Store(second, content);
  const std::int32_t n = AppendInt(261, 2);
  int blobCode = 0, dataCode = 0;
  {
    FileSizeLimit noGrowth(limit);  // every write that extends a file fails
    blobCode = EngineCodeOf([&] { blob->WriteBack(false); });
    dataCode = EngineCodeOf([&] { data->WriteBack(false); });
  }
  EXPECT_EQ(blobCode, kErrWriteFailed);
  EXPECT_EQ(dataCode, kErrWriteFailed);
  for (std::int32_t p = First(second), i = 0; i < 20; ++i, p += kS) {
    TBlock* block = blob->GetBlock(nullptr, p);
    EXPECT_TRUE(block->changed) << p;
    blob->ReleaseBlock(block);
  }
  TRecord* record = data->GetRecord(nullptr, n);
  EXPECT_TRUE(record->changed);
  data->ReleaseRecord(record);

  Flush();
  Reopen();
  EXPECT_EQ(Load(second), content);
  record = data->GetRecord(nullptr, n);
  EXPECT_EQ(bytes::GetI32(record->Data() + 262), 2);
  data->ReleaseRecord(record);
}

class BlobRollbackTest : public table_test::TableTest {};

TEST_F(BlobRollbackTest, RollbackAfterABlobLargerThanTheCacheLeavesTheFilesAsTheyWere) {
  CreateCatalog();
  auto c = OpenCursor();
  AddRow(*c, "small", 1, "C:\\", "kept");
  const std::vector<std::uint8_t> dataBefore = ReadBytes(Host("Db/Back.DAT"));
  const std::vector<std::uint8_t> blobBefore = ReadBytes(Host("Db/Back.BLB"));

  std::string large(3 << 20, '\0');  // 6,368 blocks: the cache must grow
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 + 7);
  dir_->StartTransaction();
  AddRow(*c, "large", 2, "C:\\", large);
  EXPECT_EQ(ReadBytes(Host("Db/Back.BLB")), blobBefore);  // nothing written before commit
  dir_->Rollback();
  EXPECT_EQ(ReadBytes(Host("Db/Back.DAT")), dataBefore);
  EXPECT_EQ(ReadBytes(Host("Db/Back.BLB")), blobBefore);
  EXPECT_EQ(c->RecordCount(), 1);

  // The same store committed reads back whole through a new cursor.
  dir_->StartTransaction();
  AddRow(*c, "large", 2, "C:\\", large);
  dir_->Commit();
  c.reset();
  auto reader = OpenCursor();
  reader->First();
  TDataCursor::TRecordBuffer r;
  std::vector<std::string> seen;
  while (reader->Next(&r) == kNavOk) {
    const std::vector<std::uint8_t> content = reader->GetBlob(r, table_test::kFile);
    seen.emplace_back(content.begin(), content.end());
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(std::find(seen.begin(), seen.end(), large) != seen.end());
  EXPECT_TRUE(std::find(seen.begin(), seen.end(), "kept") != seen.end());
}

}  // namespace
}  // namespace engine_test
